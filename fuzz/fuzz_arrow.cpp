// Fuzz target: the reading of Arrow arrays and streams (the layout checks and
// the views of arrow_columns.hpp), then the build from what they let through.
//
// The input lays out a producer's structs: formats, lengths, offsets, null
// counts, buffer and child counts, missing buffers and lists, offsets and
// views of any value. Each buffer is its own allocation of exactly the size
// that the array's length and offset promise (the data of an offset layout:
// its last offset; a view data buffer: its size in the sizes buffer), and the
// list of buffers has exactly n_buffers entries, so that any read the checks
// should have prevented is an out-of-bounds read under AddressSanitizer.
// Those promises are the ones the C interface gives no way to check, so the
// target keeps them; everything else is the input's.
//
// Input, all values taken by FuzzInput:
//   mode: one byte; bit 0 set reads a stream, else three columns;
//   video_top_n: a 32-bit value;
//   columns: three arrays (terms, video ids, counts);
//   a stream: the column count (byte % 5), each column's name (byte: term,
//     video, count, other) and array template, the batch count (byte % 4),
//     then each batch: its length, offset and null count, its flags (bit 0:
//     no list of children, bit 1: no list of buffers, bit 2: one column
//     missing, bit 3: the stream fails here) and each column's array;
//   an array: a format byte (FORMATS), a length byte, an offset byte, a null
//     count byte, a buffer count byte, a child count byte, a flags byte (bit
//     k: buffer k left out, bit 7: no list of buffers), then its buffers'
//     contents (offsets: one signed byte each; view data buffers: a size
//     byte each), zeros once the input is used up.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "builds/arrow_columns.hpp"
#include "builds/column_build.hpp"
#include "fuzz_input.hpp"

namespace {

using kelnor::fuzz::FuzzInput;
using namespace kelnor::columns;

constexpr const char* FORMATS[] = {"u", "U", "vu", "c",    "C", "s",  "S",    "i",
                                   "I", "l", "L",  "w:16", "g", "+s", nullptr};
constexpr std::int64_t INT64_MAX_VALUE = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t MOST_COLUMNS = 5;

// A length or an offset: mostly small, the last byte values standing for
// values that the checks must refuse (or, an offset of 2^63 - 1 with no rows,
// that leave no row to read).
std::int64_t take_extent(FuzzInput& input, bool is_offset) {
    const std::uint8_t byte = input.take_byte();
    if (byte == 255) return -1;
    if (byte == 254) return std::numeric_limits<std::int64_t>::min();
    if (byte == 253 && is_offset) return INT64_MAX_VALUE;  // any length overflows with it
    return byte % 24;
}

std::int64_t take_null_count(FuzzInput& input, std::int64_t length) {
    const std::uint8_t byte = input.take_byte();
    switch (byte % 6) {
        case 0:
        case 1:
            return 0;
        case 2:
            return -1;
        case 3:
            return length + 1;
        case 4:
            return -2;
        default:
            return length > 0 ? 1 + byte % length : 0;
    }
}

// Every struct and buffer of one input, alive while the target reads them.
class Producer {
  public:
    explicit Producer(FuzzInput& input) : input_(input) {}

    ArrowSchema* schema(const char* format, const char* name = nullptr) {
        auto& schema = *schemas_.emplace_back(std::make_unique<ArrowSchema>());
        schema = {};
        schema.format = format;
        schema.name = name;
        schema.release = release<ArrowSchema>;
        return &schema;
    }

    // An array of `format`, laid out as the input says.
    ArrowArray* array(const char* format) {
        auto& array = *arrays_.emplace_back(std::make_unique<ArrowArray>());
        array = {};
        array.release = release<ArrowArray>;
        array.length = take_extent(input_, false);
        array.offset = take_extent(input_, true);
        array.null_count = take_null_count(input_, array.length);
        const std::int64_t wanted = buffers_wanted(format);
        const std::uint8_t buffers_byte = input_.take_byte();
        array.n_buffers = buffers_byte < 200 ? wanted : wanted + buffers_byte % 5 - 2;
        const std::uint8_t children_byte = input_.take_byte();
        array.n_children = children_byte < 230 ? 0 : 1 + children_byte % 2;
        const std::uint8_t flags = input_.take_byte();
        if (array.n_children > 0) array.children = children(array.n_children);
        if ((flags & 0x80) == 0 && array.n_buffers >= 0) {
            array.buffers = lay_out_buffers(format, array, flags);
        }
        return &array;
    }

    // A list of `count` children, empty arrays of no format.
    ArrowArray** children(std::int64_t count) {
        auto& list = child_lists_.emplace_back(static_cast<std::size_t>(count));
        for (auto& child : list) {
            auto& array = *arrays_.emplace_back(std::make_unique<ArrowArray>());
            array = {};
            array.release = release<ArrowArray>;
            child = &array;
        }
        return list.data();
    }

  private:
    template <class Struct>
    static void release(Struct* value) {
        value->release = nullptr;
    }

    static std::int64_t buffers_wanted(const char* format) {
        const std::string_view code = format != nullptr ? format : "";
        if (code == "u" || code == "U") return 3;
        if (code == "vu") return 4;  // one data buffer
        if (code == "+s") return 1;
        return 2;
    }

    // A buffer of exactly `size` bytes from the input.
    const void* buffer(std::size_t size) {
        auto& bytes = buffers_.emplace_back(std::make_unique<std::uint8_t[]>(size));
        const auto taken = input_.take_bytes(size);
        std::copy(taken.begin(), taken.end(), bytes.get());
        return bytes.get();
    }

    template <class Offset>
    const void* offsets(std::size_t entries, std::int64_t& last) {
        auto& bytes =
            buffers_.emplace_back(std::make_unique<std::uint8_t[]>(entries * sizeof(Offset)));
        auto* values = reinterpret_cast<Offset*>(bytes.get());
        for (std::size_t k = 0; k < entries; ++k) {
            values[k] = static_cast<Offset>(static_cast<std::int8_t>(input_.take_byte()));
        }
        last = entries > 0 ? values[entries - 1] : 0;
        return values;
    }

    static std::size_t int_width(std::string_view code) {
        constexpr std::string_view CODES = "cCsSiIlLg";
        const std::size_t at = code.size() == 1 ? CODES.find(code[0]) : std::string_view::npos;
        return at == std::string_view::npos ? 0
                                            : std::size_t{1} << std::min<std::size_t>(at / 2, 3);
    }

    const void** lay_out_buffers(const char* format, const ArrowArray& array, std::uint8_t flags) {
        const auto count = static_cast<std::size_t>(array.n_buffers);
        auto& list = buffer_lists_.emplace_back(count, nullptr);
        const std::string_view code = format != nullptr ? format : "";
        const auto left_out = [&](std::size_t k) { return (flags >> (k % 7) & 1) != 0; };
        // Entries that the length and offset promise, when they make sense
        // (else the checks must refuse the array before they read a buffer).
        const bool sane = array.length >= 0 && array.offset >= 0 && array.offset < 1000;
        const auto entries = sane ? static_cast<std::size_t>(array.offset + array.length) : 0;
        std::int64_t data_size = 0;
        std::vector<std::int64_t> view_sizes;
        for (std::size_t k = 0; k < count; ++k) {
            const bool is_sizes = code == "vu" && k >= 2 && k + 1 == count;
            const bool is_view_data = code == "vu" && k >= 2 && !is_sizes;
            if (is_view_data) {
                // Present: honest about its size; left out: any size.
                const std::size_t bytes = input_.take_byte() % 40;
                view_sizes.push_back(static_cast<std::int64_t>(bytes));
                if (!left_out(k)) list[k] = buffer(bytes);
                continue;
            }
            if (left_out(k)) continue;
            if (k == 0) {
                list[k] = buffer((entries + 7) / 8);
            } else if (k == 1 && code == "u") {
                list[k] = offsets<std::int32_t>(entries + 1, data_size);
            } else if (k == 1 && code == "U") {
                list[k] = offsets<std::int64_t>(entries + 1, data_size);
            } else if (k == 1 && (code == "vu" || code == "w:16")) {
                list[k] = buffer(16 * entries);
            } else if (k == 1 && int_width(code) > 0) {
                list[k] = buffer(int_width(code) * entries);
            } else if (is_sizes) {
                auto& sizes = size_lists_.emplace_back(view_sizes);
                list[k] = sizes.empty() ? buffer(0) : sizes.data();
            } else if (code == "u" || code == "U") {
                list[k] = buffer(static_cast<std::size_t>(data_size > 0 ? data_size : 0));
            } else {
                list[k] = buffer(input_.take_byte() % 8);
            }
        }
        return list.data();
    }

    FuzzInput& input_;
    std::vector<std::unique_ptr<ArrowSchema>> schemas_;
    std::vector<std::unique_ptr<ArrowArray>> arrays_;
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    std::vector<std::vector<const void*>> buffer_lists_;
    std::vector<std::vector<ArrowArray*>> child_lists_;
    std::vector<std::vector<std::int64_t>> size_lists_;
};

// A stream that hands out a schema and batches laid out beforehand, and
// fails where the input says.
struct Stream {
    ArrowSchema* schema = nullptr;
    std::vector<ArrowArray*> batches;
    std::size_t next = 0;
    std::size_t fails_at = std::numeric_limits<std::size_t>::max();

    static Stream& of(ArrowArrayStream* stream) {
        return *static_cast<Stream*>(stream->private_data);
    }

    static int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
        *out = *of(stream).schema;
        return 0;
    }

    static int get_next(ArrowArrayStream* stream, ArrowArray* out) {
        Stream& self = of(stream);
        if (self.next == self.fails_at) return 5;  // EIO
        if (self.next == self.batches.size()) {
            out->release = nullptr;
            return 0;
        }
        *out = *self.batches[self.next++];
        return 0;
    }

    static const char* last_error(ArrowArrayStream*) { return "the input says so"; }

    static void release(ArrowArrayStream* stream) { stream->release = nullptr; }
};

const char* take_format(FuzzInput& input) {
    return FORMATS[input.take_byte() % std::size(FORMATS)];
}

void read_columns(FuzzInput& input, std::uint32_t top_n) {
    Producer producer(input);
    const char* formats[3];
    ArrowSchema* schemas[3];
    ArrowArray* arrays[3];
    for (int k = 0; k < 3; ++k) {
        formats[k] = take_format(input);
        schemas[k] = producer.schema(formats[k]);
        arrays[k] = producer.array(formats[k]);
    }
    std::deque<DictionaryText> dictionaries;
    auto terms = terms_of(*schemas[0], *arrays[0], "the terms column", dictionaries);
    auto videos = videos_of(*schemas[1], *arrays[1], "the video ids column");
    auto counts = counts_of(*schemas[2], *arrays[2], "the counts column");
    if (!terms.ok() || !videos.ok() || !counts.ok()) return;
    if (check_lengths(arrays[0]->length, arrays[1]->length, arrays[2]->length)) return;
    const ColumnChunk chunk{arrays[0]->length, terms.value(), videos.value(), counts.value()};
    (void)build_from_columns({&chunk, 1}, top_n);
}

void read_stream_of(FuzzInput& input, std::uint32_t top_n) {
    constexpr const char* NAMES[] = {"term", "video", "count", "other"};
    Producer producer(input);
    const std::size_t columns = input.take_byte() % MOST_COLUMNS;
    std::vector<const char*> formats;
    std::vector<ArrowSchema*> fields;
    for (std::size_t k = 0; k < columns; ++k) {
        const char* name = NAMES[input.take_byte() % std::size(NAMES)];
        formats.push_back(take_format(input));
        fields.push_back(producer.schema(formats.back(), name));
    }
    const std::uint8_t schema_flags = input.take_byte();
    if (!fields.empty() && (schema_flags & 2) != 0) fields[schema_flags % fields.size()] = nullptr;
    Stream state;
    state.schema = producer.schema((schema_flags & 4) != 0 ? "i" : "+s");
    state.schema->n_children = static_cast<std::int64_t>(columns);
    if ((schema_flags & 1) == 0) state.schema->children = fields.data();

    const std::size_t batch_count = input.take_byte() % 4;
    std::vector<std::vector<ArrowArray*>> children(batch_count);
    std::vector<std::vector<const void*>> buffer_lists(batch_count);
    const std::uint8_t validity = 0xFF;
    for (std::size_t b = 0; b < batch_count; ++b) {
        ArrowArray* batch = producer.children(1)[0];
        batch->length = take_extent(input, false);
        batch->offset = take_extent(input, true);
        batch->null_count = take_null_count(input, batch->length);
        const std::uint8_t flags = input.take_byte();
        batch->n_buffers = 1;
        buffer_lists[b].push_back((flags & 16) != 0 ? &validity : nullptr);
        if ((flags & 2) == 0) batch->buffers = buffer_lists[b].data();
        for (std::size_t k = 0; k < columns; ++k) children[b].push_back(producer.array(formats[k]));
        if (columns > 0 && (flags & 4) != 0) children[b][flags % columns] = nullptr;
        batch->n_children = static_cast<std::int64_t>(columns);
        if ((flags & 1) == 0) batch->children = children[b].data();
        if ((flags & 8) != 0) state.fails_at = std::min(state.fails_at, b);
        state.batches.push_back(batch);
    }
    ArrowArrayStream stream{Stream::get_schema, Stream::get_next, Stream::last_error,
                            Stream::release, &state};
    auto table = read_stream(OwnedStream(stream));
    if (table.ok()) (void)build_from_columns(table.value().chunks, top_n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input({data, size});
    const std::uint8_t mode = input.take_byte();
    const std::uint32_t top_n = input.take_u32();
    if ((mode & 1) != 0) {
        read_stream_of(input, top_n);
    } else {
        read_columns(input, top_n);
    }
    return 0;
}
