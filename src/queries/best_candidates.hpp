// The best of the videos offered to a ranking, kept as they come: with a
// limit, a heap of at most `limit` whose top is the one that ranks last, so
// that most offers cost one comparison and nothing is kept that cannot stay.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kelnor {

// A video of a ranking: its summed score and how many words it answers.
struct Candidate {
    std::uint32_t video;
    double score;
    std::uint32_t words;
};

// `RanksBefore` is a strict total order of candidates, so that which ones are
// kept does not depend on the order in which they are offered.
template <class RanksBefore>
class BestCandidates {
  public:
    explicit BestCandidates(std::optional<std::uint32_t> limit) : limit_(limit) {}

    // Once `limit` are kept, most candidates rank after the last kept and
    // are turned away by one comparison, inlined where they are offered.
    [[gnu::always_inline]] void offer(const Candidate& candidate) {
        if (limit_ && kept_.size() == *limit_) {
            if (!kept_.empty() && RanksBefore{}(candidate, kept_.front())) replace_last(candidate);
            return;
        }
        kept_.push_back(candidate);
        if (limit_) std::push_heap(kept_.begin(), kept_.end(), RanksBefore{});
    }

    // Whether no candidate answering `words` words or fewer can be kept any
    // more: `limit` are kept and all of them answer more.
    bool turns_away_answering(std::uint32_t words) const noexcept {
        return limit_ && kept_.size() == *limit_ && (kept_.empty() || kept_.front().words > words);
    }

    // The kept candidate that ranks last, once `limit` are kept; else none.
    const Candidate* last_kept_when_full() const noexcept {
        return limit_ && kept_.size() == *limit_ && !kept_.empty() ? &kept_.front() : nullptr;
    }

    // The candidates kept, best first.
    std::vector<Candidate> ranked() && {
        std::sort(kept_.begin(), kept_.end(), RanksBefore{});
        return std::move(kept_);
    }

  private:
    // Puts `candidate` in the place of the kept one that ranks last.
    void replace_last(const Candidate& candidate) {
        std::pop_heap(kept_.begin(), kept_.end(), RanksBefore{});
        kept_.back() = candidate;
        std::push_heap(kept_.begin(), kept_.end(), RanksBefore{});
    }

    std::optional<std::uint32_t> limit_;
    std::vector<Candidate> kept_;
};

}  // namespace kelnor
