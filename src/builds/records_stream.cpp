#include "builds/records_stream.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace kelnor::columns {
namespace {

// Terms are kept in blocks of this size (a longer term in one of its own),
// so that a kept term never moves.
constexpr std::size_t TERM_BLOCK_BYTES = std::size_t{1} << 20;

constexpr auto ALWAYS = [](const auto&) { return true; };

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

}  // namespace

std::string_view RecordsStream::keep(std::string_view term) {
    if (term.size() > block_left_) {
        const std::size_t size = std::max(TERM_BLOCK_BYTES, term.size());
        term_blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        block_next_ = term_blocks_.back().get();
        block_left_ = size;
    }
    char* const at = block_next_;
    std::memcpy(at, term.data(), term.size());
    block_next_ += term.size();
    block_left_ -= term.size();
    return {at, term.size()};
}

Result<std::monostate, RowRefusal> RecordsStream::read_line(std::string_view line) {
    auto read = lines_.read(line);
    if (!read.ok()) {
        refused_ = read.error();
        return read.error();
    }
    if (!read.value()) return std::monostate{};
    const LineRecord& record = *read.value();
    bool new_term = false;
    const std::uint32_t term =
        terms_.id_of(record.term, IdTable<std::string_view>::hash(record.term),
                     [&](std::string_view) { return new_term = true; });
    if (new_term) terms_.rekey(term, keep(record.term));
    integer_ids_ = record.integer_id;
    const std::uint32_t video =
        record.integer_id
            ? integer_videos_.id_of(record.id, IdTable<std::uint32_t>::hash(record.id), ALWAYS)
            : uuid_videos_.id_of(record.uuid, IdTable<VideoUuid>::hash(record.uuid), ALWAYS);
    const std::uint64_t pair = std::uint64_t{term} << 32 | video;
    const std::uint32_t pair_id = pairs_.id_of(pair, IdTable<std::uint64_t>::hash(pair), ALWAYS);
    if (pair_id == sums_.size()) {
        sums_.push_back(record.count);
    } else {
        sums_[pair_id] = saturating_add(sums_[pair_id], record.count);
    }
    return std::monostate{};
}

Result<std::monostate, RowRefusal> RecordsStream::feed(std::span<const std::uint8_t> bytes,
                                                       const InterruptCheck& interrupt) {
    if (refused_) return *refused_;
    InterruptPoll poll(interrupt);
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!partial_line_.empty()) {
        // The line begun in an earlier piece: completed here, or grown.
        const std::size_t newline = text.find('\n');
        const std::size_t length = newline == std::string_view::npos ? text.size() : newline + 1;
        if (partial_line_.size() + length > MAX_LINE_BYTES) {
            refused_ = lines_.refuse_long_line();
            return *refused_;
        }
        partial_line_.append(text.substr(0, length));
        text.remove_prefix(length);
        if (newline == std::string_view::npos) return std::monostate{};
        auto read = read_line(partial_line_);
        partial_line_.clear();
        if (!read.ok()) return read;
    }
    for (;;) {
        poll();
        const std::size_t newline = text.find('\n');
        if (newline == std::string_view::npos) break;
        auto read = read_line(text.substr(0, newline + 1));
        if (!read.ok()) return read;
        text.remove_prefix(newline + 1);
    }
    if (text.size() > MAX_LINE_BYTES) {
        refused_ = lines_.refuse_long_line();
        return *refused_;
    }
    partial_line_.assign(text);
    return std::monostate{};
}

Result<Trie, RowRefusal> RecordsStream::finish(std::uint32_t top_n,
                                               const InterruptCheck& interrupt) {
    if (refused_) return *refused_;
    if (!partial_line_.empty()) {
        auto read = read_line(partial_line_);
        partial_line_ = {};
        if (!read.ok()) return read.error();
    }
    Gathered<SummedRow> gathered;
    gathered.rows.reserve(sums_.size());
    for (std::uint32_t id = 0; id < sums_.size(); ++id) {
        const std::uint64_t pair = pairs_.key(id);
        gathered.rows.push_back(
            {static_cast<std::uint32_t>(pair >> 32), static_cast<std::uint32_t>(pair), sums_[id]});
    }
    pairs_ = {};
    sums_ = {};
    gathered.terms = terms_.take_keys();
    gathered.videos.id_mode = integer_ids_ ? IdMode::Int32 : IdMode::Uuid;
    gathered.videos.video_int_ids = integer_videos_.take_keys();
    gathered.videos.video_uuids = uuid_videos_.take_keys();
    return build_gathered(std::move(gathered), top_n, interrupt);
}

}  // namespace kelnor::columns
