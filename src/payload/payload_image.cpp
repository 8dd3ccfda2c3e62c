#include "payload/payload_image.hpp"

#include <cstdint>
#include <vector>

namespace kelnor {
namespace {

// A list of varints into `out`, whose storage is reused from slot to slot.
bool read_list(Reader& reader, std::vector<std::uint32_t>& out) {
    std::size_t count = 0;
    if (!reader.read_count(count)) return false;
    out.clear();
    out.reserve(reader.reservable(count, 1));
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t value = 0;
        if (!reader.read_varint_u32(value)) return false;
        out.push_back(value);
    }
    return true;
}

}  // namespace

bool decode_payload_table(Reader& reader, PayloadTable& table) {
    std::size_t count = 0;
    if (!reader.read_count(count)) return false;
    table.reserve(reader.reservable(count, 1), 0);
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    for (std::size_t slot = 0; slot < count; ++slot) {
        bool present = false;
        if (!reader.read_option_tag(kOptionalPayloadTypeName, present)) return false;
        if (!present) {
            table.push_absent();
            continue;
        }
        std::uint32_t total_count = 0;
        if (!reader.read_varint_u32(total_count)) return false;
        if (!read_list(reader, video_ids) || !read_list(reader, video_counts)) return false;
        table.push(total_count, video_ids, video_counts);
    }
    return true;
}

}  // namespace kelnor
