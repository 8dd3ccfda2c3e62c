#include "builds/column_build.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/leading_bytes.hpp"
#include "builds/gathered_rows.hpp"
#include "builds/id_table.hpp"
#include "builds/sorted_trie.hpp"
#include "builds/term_check.hpp"
#include "index/uuid_text.hpp"

namespace kelnor::columns {
namespace {

constexpr std::uint64_t U32_MAX = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t LOOKAHEAD = 16;
constexpr std::size_t MOST_RESERVED_KEYS = std::size_t{1} << 20;
constexpr std::size_t DIRECT_IDS_PER_ROW = 4;  // 16 bytes a row at most

enum class VideoKind : std::uint8_t { None, Integer, Uuid };

// The video table in the making: positions in order of first appearance,
// and the one kind of id an index holds.
class VideoPositions {
  public:
    // The position of the video of `row` in `column`, or its refusal.
    template <class Column>
    Result<std::uint32_t, RowRefusal> position(const Column& column, std::int64_t row);

    // Asks the memory for where the video of `row` will be looked up.
    template <class Column>
    void prefetch(const Column& column, std::int64_t row) const noexcept;

    // Room for `keys` videos, made in the table of the kind the first video has.
    void reserve(std::size_t keys) { reserved_keys_ = keys; }

    // Integer ids are numbered through an array indexed by id, made for ids
    // up to `largest`, rather than hashed.
    void index_directly(std::uint32_t largest) { direct_integers_ = DirectIds(largest); }

    VideoTable table() {
        VideoTable table;
        table.id_mode = kind_ == VideoKind::Integer ? IdMode::Int32 : IdMode::Uuid;
        table.video_int_ids =
            direct_integers_.empty() ? integers_.take_keys() : direct_integers_.take_keys();
        table.video_uuids = uuids_.take_keys();
        return table;
    }

  private:
    // Nothing when an id of `kind` may join the table, else the refusal,
    // which shows the id as `shown()` gives it.
    template <class Shown>
    std::optional<RowRefusal> check_kind(VideoKind kind, Shown&& shown) {
        if (kind_ == VideoKind::None) {
            kind_ = kind;
            if (kind == VideoKind::Integer) {
                if (direct_integers_.empty()) integers_.reserve(reserved_keys_);
            } else {
                uuids_.reserve(reserved_keys_);
            }
        }
        if (kind == kind_) return std::nullopt;
        RowRefusal refusal{Refusal::VideoKindMismatch, 0, shown()};
        refusal.is_integer = kind == VideoKind::Integer;
        return refusal;
    }

    static constexpr auto ALWAYS = [](const auto&) { return true; };

    VideoKind kind_ = VideoKind::None;
    std::size_t reserved_keys_ = 0;
    IdTable<std::uint32_t> integers_;
    DirectIds direct_integers_;  // used instead of `integers_` when not empty
    IdTable<VideoUuid> uuids_;
};

// The value of `row` of an integer column when it is a 32-bit one, else the
// refusal `null` or `out_of_range` (with the value in decimal).
Result<std::uint32_t, RowRefusal> u32_at(const IntColumn& column, std::int64_t row, Refusal null,
                                         Refusal out_of_range) {
    if (column.is_null(row)) return RowRefusal{null};
    std::uint64_t value = 0;
    if (column.is_signed) {
        const std::int64_t signed_value = column.signed_at(row);
        if (signed_value < 0) return RowRefusal{out_of_range, 0, std::to_string(signed_value)};
        value = static_cast<std::uint64_t>(signed_value);
    } else {
        value = column.unsigned_at(row);
    }
    if (value > U32_MAX) return RowRefusal{out_of_range, 0, std::to_string(value)};
    return static_cast<std::uint32_t>(value);
}

template <>
Result<std::uint32_t, RowRefusal> VideoPositions::position(const IntColumn& column,
                                                           std::int64_t row) {
    auto id = u32_at(column, row, Refusal::VideoNull, Refusal::VideoOutOfRange);
    if (!id.ok()) return id;
    const std::uint32_t key = id.value();
    if (auto refusal = check_kind(VideoKind::Integer, [&] { return std::to_string(key); })) {
        return *refusal;
    }
    if (!direct_integers_.empty()) return direct_integers_.id_of(key);
    return integers_.id_of(key, IdTable<std::uint32_t>::hash(key), ALWAYS);
}

template <>
void VideoPositions::prefetch(const IntColumn& column, std::int64_t row) const noexcept {
    const auto key = static_cast<std::uint32_t>(
        column.is_signed ? static_cast<std::uint64_t>(column.signed_at(row))
                         : column.unsigned_at(row));
    if (direct_integers_.empty()) {
        integers_.prefetch(IdTable<std::uint32_t>::hash(key));
    } else {
        direct_integers_.prefetch(key);
    }
}

template <>
void VideoPositions::prefetch(const UuidColumn& column, std::int64_t row) const noexcept {
    VideoUuid uuid;
    std::copy_n(column.values + 16 * (column.offset + row), 16, uuid.begin());
    uuids_.prefetch(IdTable<VideoUuid>::hash(uuid));
}

// Text is read once: parsing it twice would cost more than the miss.
template <>
void VideoPositions::prefetch(const TextColumn&, std::int64_t) const noexcept {}

template <>
void VideoPositions::prefetch(const BinaryUuidColumn&, std::int64_t) const noexcept {}

template <>
Result<std::uint32_t, RowRefusal> VideoPositions::position(const UuidColumn& column,
                                                           std::int64_t row) {
    const std::int64_t entry = column.offset + row;
    if (!column.validity.has_value(entry)) return RowRefusal{Refusal::VideoNull};
    VideoUuid uuid;
    std::copy_n(column.values + 16 * entry, 16, uuid.begin());
    if (auto refusal = check_kind(VideoKind::Uuid, [&] { return uuid_text(uuid); })) {
        return *refusal;
    }
    return uuids_.id_of(uuid, IdTable<VideoUuid>::hash(uuid), ALWAYS);
}

template <>
Result<std::uint32_t, RowRefusal> VideoPositions::position(const TextColumn& column,
                                                           std::int64_t row) {
    const TextAt text = column.at(row);
    if (text.state == TextAt::State::Null) return RowRefusal{Refusal::VideoNull};
    if (text.state == TextAt::State::Damaged) return RowRefusal{Refusal::VideoDamaged};
    const std::optional<VideoUuid> uuid = parse_uuid_text(text.text);
    if (!uuid) return RowRefusal{Refusal::VideoNotUuid, 0, std::string(text.text)};
    if (auto refusal = check_kind(VideoKind::Uuid, [&] { return std::string(text.text); })) {
        return *refusal;
    }
    return uuids_.id_of(*uuid, IdTable<VideoUuid>::hash(*uuid), ALWAYS);
}

template <>
Result<std::uint32_t, RowRefusal> VideoPositions::position(const BinaryUuidColumn& column,
                                                           std::int64_t row) {
    const TextAt bytes = column.values.at(row);
    if (bytes.state == TextAt::State::Null) return RowRefusal{Refusal::VideoNull};
    if (bytes.state == TextAt::State::Damaged) return RowRefusal{Refusal::VideoDamaged};
    VideoUuid uuid;
    if (bytes.text.size() != uuid.size()) {
        return RowRefusal{Refusal::VideoNotUuidBytes, 0, std::string(bytes.text)};
    }
    std::copy_n(bytes.text.begin(), uuid.size(), uuid.begin());
    if (auto refusal = check_kind(VideoKind::Uuid, [&] { return uuid_text(uuid); })) {
        return *refusal;
    }
    return uuids_.id_of(uuid, IdTable<VideoUuid>::hash(uuid), ALWAYS);
}

// The largest integer video id that the rows hold (nulls and ids beyond 32
// bits, which are refused, aside), if they hold one.
std::optional<std::uint32_t> largest_integer_id(std::span<const ColumnChunk> chunks) {
    std::optional<std::uint32_t> largest;
    for (const ColumnChunk& chunk : chunks) {
        const auto* column = std::get_if<IntColumn>(&chunk.videos);
        if (column == nullptr) continue;
        for (std::int64_t row = 0; row < chunk.length; ++row) {
            auto id = u32_at(*column, row, Refusal::VideoNull, Refusal::VideoOutOfRange);
            if (id.ok()) largest = std::max(largest.value_or(0), id.value());
        }
    }
    return largest;
}

// Every row's term id, video position and count, or the first refusal.
Result<Gathered<CountedRow>, RowRefusal> gather(std::span<const ColumnChunk> chunks,
                                                const InterruptCheck& interrupt) {
    IdTable<std::string_view> term_ids;
    VideoPositions videos;
    Gathered<CountedRow> gathered;
    InterruptPoll poll(interrupt);
    std::size_t total = 0;
    for (const ColumnChunk& chunk : chunks) total += static_cast<std::size_t>(chunk.length);
    gathered.rows.reserve(total);
    // Logs repeat their terms and videos: room for a distinct one in every
    // few rows, up to a bound that keeps a small table's memory small.
    const std::size_t expected_keys = std::min(total / 4, MOST_RESERVED_KEYS);
    term_ids.reserve(expected_keys);
    videos.reserve(expected_keys);
    // Ids numbered from 0, as most are, fit an array of a few bytes a row.
    if (const auto largest = largest_integer_id(chunks);
        largest && *largest < U32_MAX &&
        std::uint64_t{*largest} < std::uint64_t{DIRECT_IDS_PER_ROW} * total) {
        videos.index_directly(*largest);
    }

    std::uint64_t first_row = 0;
    std::optional<RowRefusal> refused;
    const auto refuse = [&](RowRefusal refusal, std::int64_t row) {
        refusal.where = first_row + static_cast<std::uint64_t>(row);
        return refusal;
    };
    // Row k's term hash, made LOOKAHEAD rows before k is gathered, when its
    // slot (and its video's) is asked for: the tables are far larger than
    // the caches, and this hides most of the misses.
    std::array<std::uint64_t, LOOKAHEAD> term_hashes{};
    for (const ColumnChunk& chunk : chunks) {
        const auto look_ahead = [&](std::int64_t row) {
            if (row >= chunk.length) return;
            const std::uint64_t hash = IdTable<std::string_view>::hash(chunk.terms.at(row).text);
            term_hashes[static_cast<std::size_t>(row) % LOOKAHEAD] = hash;
            term_ids.prefetch(hash);
            // A null row's entry is there to be read, whatever it holds.
            std::visit([&](const auto& column) { videos.prefetch(column, row); }, chunk.videos);
        };
        for (std::int64_t row = 0; row < static_cast<std::int64_t>(LOOKAHEAD); ++row) {
            look_ahead(row);
        }
        for (std::int64_t row = 0; row < chunk.length; ++row) {
            poll();
            const std::uint64_t term_hash = term_hashes[static_cast<std::size_t>(row) % LOOKAHEAD];
            look_ahead(row + static_cast<std::int64_t>(LOOKAHEAD));
            const TextAt term = chunk.terms.at(row);
            if (term.state == TextAt::State::Null) return refuse({Refusal::TermNull}, row);
            if (term.state == TextAt::State::Damaged) return refuse({Refusal::TermDamaged}, row);
            const auto check = [&](std::string_view text) {
                refused = term_refusal(text);
                return !refused;
            };
            const std::uint32_t term_id = term_ids.id_of(term.text, term_hash, check);
            if (refused) return refuse(std::move(*refused), row);
            auto count = u32_at(chunk.counts, row, Refusal::CountNull, Refusal::CountOutOfRange);
            if (!count.ok()) return refuse(count.error(), row);
            auto video = std::visit(
                [&](const auto& column) { return videos.position(column, row); }, chunk.videos);
            if (!video.ok()) return refuse(video.error(), row);
            gathered.rows.push_back({term_id, video.value(), count.value()});
        }
        first_row += static_cast<std::uint64_t>(chunk.length);
    }
    gathered.terms = term_ids.take_keys();
    gathered.videos = videos.table();
    return gathered;
}

// A term's leading bytes (base/leading_bytes.hpp) and its id.
struct SortKey {
    std::uint64_t first_bytes;
    std::uint32_t id;
};

// A video of a term and the sum of its counts there.
struct VideoSum {
    std::uint32_t video;
    std::uint64_t sum;
};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// What a gathered row adds to its term's entries: its video and count, the
// video in the high half so that sorting a term's entries brings each
// video's together.
std::uint64_t entry_of(const CountedRow& row) {
    return std::uint64_t{row.video} << 32 | row.count;
}
VideoSum entry_of(const SummedRow& row) {
    return {row.video, row.sum};
}
std::uint32_t video_of(std::uint64_t entry) {
    return static_cast<std::uint32_t>(entry >> 32);
}
std::uint32_t video_of(const VideoSum& entry) {
    return entry.video;
}
std::uint64_t count_of(std::uint64_t entry) {
    return entry & U32_MAX;
}
std::uint64_t count_of(const VideoSum& entry) {
    return entry.sum;
}
bool operator<(const VideoSum& a, const VideoSum& b) {
    return a.video < b.video;
}

// The node arrays and the video table of the gathered rows: terms sorted,
// each term's rows summed per video and ranked.
template <class Row>
LaidOutRows lay_out(Gathered<Row>&& all, const InterruptCheck& interrupt) {
    InterruptPoll poll(interrupt);

    // Terms in code point order (UTF-8's byte order); rank[id] is a term's
    // place in it. Most comparisons are settled by the first bytes, kept
    // beside the id, without a visit to the text.
    const std::size_t term_count = all.terms.size();
    std::vector<SortKey> order(term_count);
    for (std::size_t id = 0; id < term_count; ++id) {
        order[id] = {leading_bytes(all.terms[id]), static_cast<std::uint32_t>(id)};
    }
    std::sort(order.begin(), order.end(), [&](const SortKey& a, const SortKey& b) {
        poll();
        if (a.first_bytes != b.first_bytes) return a.first_bytes < b.first_bytes;
        return all.terms[a.id] < all.terms[b.id];
    });
    std::vector<std::string_view> sorted_terms(term_count);
    std::vector<std::uint32_t> rank(term_count);
    for (std::size_t place = 0; place < term_count; ++place) {
        sorted_terms[place] = all.terms[order[place].id];
        rank[order[place].id] = static_cast<std::uint32_t>(place);
    }
    order = {};

    // The entries of each term together, in the order of the sorted terms.
    std::vector<std::size_t> starts(term_count + 1, 0);
    for (const Row& row : all.rows) ++starts[rank[row.term] + 1];
    for (std::size_t place = 0; place < term_count; ++place) starts[place + 1] += starts[place];
    std::vector<decltype(entry_of(all.rows[0]))> by_term(all.rows.size());
    {
        std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
        for (const Row& row : all.rows) {
            poll();
            by_term[next[rank[row.term]]++] = entry_of(row);
        }
    }
    all.rows = {};
    rank = {};

    std::vector<VideoSum> sums;
    // By node: the exact sum of each term's counts, which the payload keeps
    // only up to 2^32 - 1.
    std::vector<TermCount> own_counts;
    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> counts;
    const auto push_payload = [&](std::size_t place, PayloadTable& payloads) {
        auto* const begin = by_term.data() + starts[place];
        auto* const end = by_term.data() + starts[place + 1];
        std::sort(begin, end, [&](const auto& a, const auto& b) {
            poll();
            return a < b;
        });
        // One entry per video with the sum of its counts, then the ranking.
        sums.clear();
        std::uint64_t total = 0;
        for (auto* at = begin; at != end; ++at) {
            const std::uint32_t video = video_of(*at);
            const std::uint64_t count = count_of(*at);
            total = saturating_add(total, count);
            if (!sums.empty() && sums.back().video == video) {
                sums.back().sum = saturating_add(sums.back().sum, count);
            } else {
                sums.push_back({video, count});
            }
        }
        std::sort(sums.begin(), sums.end(), [](const VideoSum& a, const VideoSum& b) {
            return a.sum != b.sum ? a.sum > b.sum : a.video < b.video;
        });
        ids.clear();
        counts.clear();
        for (const VideoSum& entry : sums) {
            ids.push_back(entry.video);
            counts.push_back(static_cast<std::uint32_t>(std::min(entry.sum, U32_MAX)));
        }
        own_counts.resize(payloads.size() + 1);
        own_counts.back() = total;
        payloads.push(static_cast<std::uint32_t>(std::min(total, U32_MAX)), ids, counts);
    };
    InternalData data = lay_out_sorted_terms(sorted_terms, push_payload);
    own_counts.resize(data.payloads.size());
    data.own_counts = std::move(own_counts);
    by_term = {};
    sorted_terms = {};
    all.terms = {};
    return LaidOutRows{std::move(data), std::move(all.videos)};
}

template <class Row>
Trie build_rows(Gathered<Row>&& all, std::uint32_t top_n, const InterruptCheck& interrupt) {
    LaidOutRows rows = lay_out(std::move(all), interrupt);
    if (interrupt()) throw Interrupted();
    return assemble(std::move(rows.data), std::move(rows.videos), top_n);
}

}  // namespace

Trie build_gathered(Gathered<CountedRow> all, std::uint32_t top_n,
                    const InterruptCheck& interrupt) {
    return build_rows(std::move(all), top_n, interrupt);
}

Trie build_gathered(Gathered<SummedRow> all, std::uint32_t top_n, const InterruptCheck& interrupt) {
    return build_rows(std::move(all), top_n, interrupt);
}

Result<Trie, RowRefusal> build_from_columns(std::span<const ColumnChunk> chunks,
                                            std::uint32_t top_n, const InterruptCheck& interrupt) {
    auto gathered = gather(chunks, interrupt);
    if (!gathered.ok()) return gathered.error();
    return build_gathered(std::move(gathered).value(), top_n, interrupt);
}

Result<LaidOutRows, RowRefusal> lay_out_rows(std::span<const ColumnChunk> chunks,
                                             const InterruptCheck& interrupt) {
    auto gathered = gather(chunks, interrupt);
    if (!gathered.ok()) return gathered.error();
    return lay_out(std::move(gathered).value(), interrupt);
}

}  // namespace kelnor::columns
