// The host's video table and the choice of the form of the video ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {

// The entries of the host's video table, their bytes kept end to end so that a
// large table costs no allocation per entry. Only whether every entry has the
// length of a UUID, or every entry that of a 32-bit integer, is remembered of
// the entry lengths: that is all the choice of the id form looks at.
class VideoIndexBytes {
  public:
    void push_byte(std::uint8_t byte) { bytes_.push_back(byte); }

    // Closes the entry made of the bytes pushed since the previous call.
    void end_entry() {
        const std::size_t length = bytes_.size() - entry_start_;
        all_uuids_ = all_uuids_ && length == sizeof(VideoUuid);
        all_int32s_ = all_int32s_ && length == sizeof(std::uint32_t);
        entry_start_ = bytes_.size();
        ++entry_count_;
    }

    std::size_t entry_count() const noexcept { return entry_count_; }
    bool all_uuids() const noexcept { return all_uuids_; }
    bool all_int32s() const noexcept { return all_int32s_; }
    // The bytes of the closed entries.
    const std::uint8_t* data() const noexcept { return bytes_.data(); }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t entry_start_ = 0;
    std::size_t entry_count_ = 0;
    bool all_uuids_ = true;
    bool all_int32s_ = true;
};

// The video id fields of a Trie.
struct VideoTable {
    IdMode id_mode = IdMode::Uuid;
    std::vector<VideoUuid> video_uuids;
    std::vector<std::uint32_t> video_int_ids;
};

// Uuid mode when every entry has 16 bytes (so also for no entries), else Int32
// mode when every entry has 4 bytes, read little-endian; anything else is
// refused with the message that the binding raises as ValueError.
Result<VideoTable, std::string> choose_video_ids(const VideoIndexBytes& index);

}  // namespace kelnor
