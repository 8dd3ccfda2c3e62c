#include "index/payload/payload_image.hpp"

#include <cstdint>
#include <span>
#include <vector>

#include "index/encoding/varint_format.hpp"

namespace kelnor {
namespace {

// Reads the payloads field, noting where each slot ends and whether every
// integer is in its shortest form (the only form the table keeps).
class SlotScanner {
  public:
    explicit SlotScanner(Reader& reader) : reader_(reader) {}

    bool scan(std::size_t count, std::vector<std::uint64_t>& slot_ends) {
        const std::uint8_t* start = reader_.position();
        for (std::size_t slot = 0; slot < count; ++slot) {
            bool present = false;
            if (!reader_.read_option_tag(OPTIONAL_PAYLOAD_TYPE_NAME, present)) return false;
            if (present) {
                std::uint32_t total_count = 0;
                std::size_t id_count = 0;
                if (!value(total_count) || !length(id_count) || !values(id_count)) return false;
                std::size_t count_count = 0;
                if (!length(count_count) || !values(count_count)) return false;
                entries_ += id_count;
            }
            slot_ends.push_back(static_cast<std::uint64_t>(reader_.position() - start));
        }
        return true;
    }

    bool shortest() const noexcept { return shortest_; }
    std::size_t entries() const noexcept { return entries_; }

  private:
    bool value(std::uint32_t& out) {
        const std::size_t before = reader_.remaining();
        if (!reader_.read_varint_u32(out)) return false;
        shortest_ = shortest_ && before - reader_.remaining() == varint_length(out);
        return true;
    }

    bool length(std::size_t& out) {
        const std::size_t before = reader_.remaining();
        if (!reader_.read_count(out)) return false;
        shortest_ = shortest_ && before - reader_.remaining() == varint_length(out);
        return true;
    }

    bool values(std::size_t count) {
        std::uint32_t ignored = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!value(ignored)) return false;
        }
        return true;
    }

    Reader& reader_;
    bool shortest_ = true;
    std::size_t entries_ = 0;
};

// A list of `count` varints into `out`, whose storage is reused from slot to slot.
void read_list(Reader& reader, std::size_t count, std::vector<std::uint32_t>& out) {
    out.clear();
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t value = 0;
        (void)reader.read_varint_u32(value);
        out.push_back(value);
    }
}

// The table of `count` slots from `slots`, which have been read once and are
// well-formed but not all in shortest form: each is decoded and written anew.
PayloadTable rewritten(std::span<const std::uint8_t> slots, std::size_t count) {
    Reader reader(slots);
    PayloadTable table;
    table.reserve(count, 0);
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    for (std::size_t slot = 0; slot < count; ++slot) {
        bool present = false;
        (void)reader.read_option_tag(OPTIONAL_PAYLOAD_TYPE_NAME, present);
        if (!present) {
            table.push_absent();
            continue;
        }
        std::uint32_t total_count = 0;
        std::size_t length = 0;
        (void)reader.read_varint_u32(total_count);
        (void)reader.read_count(length);
        read_list(reader, length, video_ids);
        (void)reader.read_count(length);
        read_list(reader, length, video_counts);
        table.push(total_count, video_ids, video_counts);
    }
    return table;
}

}  // namespace

bool decode_payload_table(Reader& reader, PayloadTable& table) {
    std::size_t count = 0;
    if (!reader.read_count(count)) return false;
    std::vector<std::uint64_t> slot_ends;
    slot_ends.reserve(reader.reservable(count, 1));
    const std::uint8_t* start = reader.position();
    SlotScanner scanner(reader);
    if (!scanner.scan(count, slot_ends)) return false;
    const std::span<const std::uint8_t> slots(start, reader.position());
    if (!scanner.shortest()) {
        table = rewritten(slots, count);
        return true;
    }
    table = PayloadTable::from_encoded(std::vector<std::uint8_t>(slots.begin(), slots.end()),
                                       slot_ends, scanner.entries());
    return true;
}

}  // namespace kelnor
