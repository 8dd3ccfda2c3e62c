#include "builds/video_index.hpp"

#include <cstring>

namespace kelnor {

Result<VideoTable, std::string> choose_video_ids(const VideoIndexBytes& index) {
    VideoTable table;
    const std::uint8_t* bytes = index.data();
    if (index.all_uuids()) {
        table.id_mode = IdMode::Uuid;
        table.video_uuids.resize(index.entry_count());
        for (VideoUuid& uuid : table.video_uuids) {
            std::memcpy(uuid.data(), bytes, uuid.size());
            bytes += uuid.size();
        }
        return table;
    }
    if (index.all_int32s()) {
        table.id_mode = IdMode::Int32;
        table.video_int_ids.resize(index.entry_count());
        for (std::uint32_t& id : table.video_int_ids) {
            id = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                 std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
            bytes += 4;
        }
        return table;
    }
    return std::string("video_index entries must be all 16 bytes (UUID) or all 4 bytes (int32)");
}

}  // namespace kelnor
