// The three columns of a build, as views of memory someone else owns: the
// buffers of Arrow arrays, a numpy array's buffer, or the columns that the
// text records parser made. Row k of a column is entry `offset + k` of its
// buffers, as in Arrow; a row whose validity bit is clear is null.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

namespace kelnor::columns {

// Arrow's validity bitmap, least significant bit first; none: no row is null.
struct Validity {
    const std::uint8_t* bits = nullptr;

    bool has_value(std::int64_t entry) const noexcept {
        return bits == nullptr || ((bits[entry >> 3] >> (entry & 7)) & 1) != 0;
    }
};

enum class TextLayout : std::uint8_t {
    Offsets32,   // Arrow string: int32 offsets into `data`
    Offsets64,   // Arrow large string: int64 offsets into `data`
    Views,       // Arrow string view: 16-byte views, long ones into `view_data`
    Dictionary,  // Arrow dictionary: integer keys into a column of the texts
};

struct DictionaryText;

// A text as a view, or why there is none: null, or offsets or a view that
// point outside what the producer said it holds. The offset layouts say the
// size of their data with their last offset (`data_size`): a row is read
// only when 0 <= its first offset <= its last <= that size, which also makes
// the offsets read so far non-decreasing.
struct TextAt {
    enum class State : std::uint8_t { Present, Null, Damaged } state;
    std::string_view text;
};

struct TextColumn {
    TextLayout layout = TextLayout::Offsets64;
    Validity validity;
    const void* offsets = nullptr;                  // the offsets, or the views
    const char* data = nullptr;                     // the characters of the offset layouts
    std::int64_t data_size = 0;                     // and their number, the column's last offset
    std::span<const char* const> view_data;         // the views' data buffers
    std::span<const std::int64_t> view_data_sizes;  // and their sizes
    std::int64_t offset = 0;
    // The keys' form and the texts, owned by whoever holds the arrays (a
    // pointer keeps the views plain data, copied freely).
    const DictionaryText* dictionary = nullptr;

    TextAt at(std::int64_t row) const noexcept {
        const std::int64_t entry = offset + row;
        if (!validity.has_value(entry)) return {TextAt::State::Null, {}};
        switch (layout) {
            case TextLayout::Offsets32: {
                const auto* bounds = static_cast<const std::int32_t*>(offsets) + entry;
                return slice(bounds[0], bounds[1]);
            }
            case TextLayout::Offsets64: {
                const auto* bounds = static_cast<const std::int64_t*>(offsets) + entry;
                return slice(bounds[0], bounds[1]);
            }
            case TextLayout::Views:
                return view(static_cast<const std::uint8_t*>(offsets) + 16 * entry);
            case TextLayout::Dictionary:
                return word(entry);
        }
        return {TextAt::State::Damaged, {}};
    }

  private:
    inline TextAt word(std::int64_t entry) const noexcept;

    TextAt slice(std::int64_t begin, std::int64_t end) const noexcept {
        if (begin < 0 || end < begin || end > data_size) return {TextAt::State::Damaged, {}};
        return {TextAt::State::Present, {data + begin, static_cast<std::size_t>(end - begin)}};
    }

    // A view: its length, then the text itself when it has at most 12 bytes,
    // else a 4-byte prefix, the data buffer's number and the offset in it.
    TextAt view(const std::uint8_t* raw) const noexcept {
        std::int32_t fields[4];
        std::memcpy(fields, raw, sizeof fields);
        const std::int32_t length = fields[0];
        if (length < 0) return {TextAt::State::Damaged, {}};
        if (length <= 12) {
            return {TextAt::State::Present,
                    {reinterpret_cast<const char*>(raw) + 4, static_cast<std::size_t>(length)}};
        }
        const std::int32_t buffer = fields[2];
        const std::int32_t start = fields[3];
        if (buffer < 0 || static_cast<std::size_t>(buffer) >= view_data.size() || start < 0 ||
            std::int64_t{start} + length > view_data_sizes[static_cast<std::size_t>(buffer)]) {
            return {TextAt::State::Damaged, {}};
        }
        return {TextAt::State::Present,
                {view_data[static_cast<std::size_t>(buffer)] + start,
                 static_cast<std::size_t>(length)}};
    }
};

// An integer column of any width and signedness.
struct IntColumn {
    const void* values = nullptr;
    std::uint8_t width = 8;  // bytes: 1, 2, 4 or 8
    bool is_signed = true;
    Validity validity;
    std::int64_t offset = 0;

    bool is_null(std::int64_t row) const noexcept { return !validity.has_value(offset + row); }

    // The value of a row that is not null, as a signed value or, for an
    // unsigned column, an unsigned one.
    std::int64_t signed_at(std::int64_t row) const noexcept {
        const std::int64_t entry = offset + row;
        switch (width) {
            case 1:
                return load<std::int8_t>(entry);
            case 2:
                return load<std::int16_t>(entry);
            case 4:
                return load<std::int32_t>(entry);
            default:
                return load<std::int64_t>(entry);
        }
    }
    std::uint64_t unsigned_at(std::int64_t row) const noexcept {
        const std::int64_t entry = offset + row;
        switch (width) {
            case 1:
                return load<std::uint8_t>(entry);
            case 2:
                return load<std::uint16_t>(entry);
            case 4:
                return load<std::uint32_t>(entry);
            default:
                return load<std::uint64_t>(entry);
        }
    }

  private:
    template <class T>
    T load(std::int64_t entry) const noexcept {
        T value;
        std::memcpy(&value, static_cast<const std::uint8_t*>(values) + sizeof(T) * entry,
                    sizeof(T));
        return value;
    }
};

// The texts of a dictionary-encoded column: row k is the text of the key at
// entry k of the keys (in the column's `offsets`, of the form `keys` gives).
struct DictionaryText {
    IntColumn keys;  // width and signedness; its values are the column's own
    TextColumn words;
    std::int64_t size = 0;  // how many texts `words` holds
};

TextAt TextColumn::word(std::int64_t entry) const noexcept {
    IntColumn keys = dictionary->keys;
    keys.values = offsets;
    keys.offset = 0;
    std::int64_t key = -1;
    if (keys.is_signed) {
        key = keys.signed_at(entry);
    } else if (const std::uint64_t unsigned_key = keys.unsigned_at(entry);
               unsigned_key < static_cast<std::uint64_t>(dictionary->size)) {
        key = static_cast<std::int64_t>(unsigned_key);
    }
    if (key < 0 || key >= dictionary->size) return {TextAt::State::Damaged, {}};
    return dictionary->words.at(key);
}

// 16-byte UUIDs, end to end (Arrow fixed-size binary of width 16).
struct UuidColumn {
    const std::uint8_t* values = nullptr;
    Validity validity;
    std::int64_t offset = 0;
};

// UUIDs as binary values of any length, each of which must hold 16 bytes.
struct BinaryUuidColumn {
    TextColumn values;
};

// Video ids: integers, UUIDs, UUIDs written as text, or as binary values.
using VideoColumn = std::variant<IntColumn, UuidColumn, TextColumn, BinaryUuidColumn>;

// One batch of rows of the three columns.
struct ColumnChunk {
    std::int64_t length = 0;
    TextColumn terms;
    VideoColumn videos;
    IntColumn counts;
};

}  // namespace kelnor::columns
