#include "queries/completion_search.hpp"

#include <algorithm>

#include "base/internal_failure.hpp"
#include "index/trie/term_counts.hpp"
#include "queries/count_floor.hpp"
#include "queries/path_links.hpp"
#include "queries/spelling_cost.hpp"
#include "queries/walk/trie_walk.hpp"
#include "queries/walk/walk_budget.hpp"

namespace kelnor {
namespace {

// The search counts its work in steps: a label that a comparison of two
// paths steps over, a label of a term's text, a child looked at, each one
// step, and an entry queued (with the link it keeps) STEPS_PER_PUSH. A tree
// needs a few pushes per entry of the index (each node is expanded once and
// pushed once), so that what the search keeps stays a small multiple of the
// index, and the labels compared stay a multiple of the pushes on paths a
// few dozen labels deep. Past the budget, child lists that go round a cycle
// or reach a node many times fail as damage does, in time linear in the
// index, however deep the paths they spell.
constexpr std::uint64_t STEPS_PER_PUSH = 16;
constexpr BudgetScale SEARCH_SCALE{
    4 * STEPS_PER_PUSH, VISITS_BEYOND* STEPS_PER_PUSH, "the completion search", "steps",
    "the child lists reach some node by more than one path, or the paths it ranks run "
    "thousands of labels deep"};

// A node at which the least distance along its path falls: the root of a
// region.
struct Seed {
    std::uint32_t node;
    std::uint32_t distance;
    std::uint32_t cost;  // the spelling cost of the seed's labels: its completions'
    std::uint32_t path;
    // The seeds after this one up to `end` lie below it, in walk order.
    std::uint32_t end;
};

// The seeds among the walk's nodes within the bound, in walk order: the
// root, when the query is short enough for the empty prefix, and every node
// nearer the query than the nearest seed above it. A node's distance is a
// function of its labels alone, so "above" can be told by labels.
class SeedCollector {
  public:
    SeedCollector(PathLinks& paths, SpellingCost& spelling, std::size_t query_length,
                  std::uint32_t bound)
        : paths_(paths), spelling_(spelling) {
        // Room for a typical query's seeds and chain of seeds (as deep as
        // the paths within the bound); a longer query grows them.
        seeds_.reserve(32);
        chain_.reserve(32);
        if (query_length <= bound) {
            add(0, static_cast<std::uint32_t>(query_length), spelling_.of({}, NO_LABEL),
                PathLinks::ROOT);
        }
    }

    void offer(std::uint32_t node, std::uint32_t distance, std::span<const char32_t> path,
               char32_t label) {
        while (!chain_.empty() && !paths_.lies_above(seeds_[chain_.back()].path, path, label))
            close();
        if (!chain_.empty() && seeds_[chain_.back()].distance <= distance) return;
        std::uint32_t link = chain_.empty() ? PathLinks::ROOT : seeds_[chain_.back()].path;
        for (std::size_t depth = paths_.depth(link); depth < path.size(); ++depth) {
            link = paths_.extend(link, path[depth]);
        }
        add(node, distance, spelling_.of(path, label), paths_.extend(link, label));
    }

    std::vector<Seed> finish() && {
        while (!chain_.empty()) close();
        return std::move(seeds_);
    }

  private:
    void add(std::uint32_t node, std::uint32_t distance, std::uint32_t cost, std::uint32_t path) {
        chain_.push_back(static_cast<std::uint32_t>(seeds_.size()));
        seeds_.push_back({node, distance, cost, path, 0});
    }

    void close() {
        seeds_[chain_.back()].end = static_cast<std::uint32_t>(seeds_.size());
        chain_.pop_back();
    }

    PathLinks& paths_;
    SpellingCost& spelling_;
    std::vector<Seed> seeds_;
    std::vector<std::uint32_t> chain_;  // the seeds above the latest node, top last
};

// A node still to expand (its path is `parent` then `label`), or a term
// found (its path is `parent` itself and `label` is NO_LABEL).
struct Entry {
    std::uint32_t distance;
    std::uint32_t parent;
    TermCount count;  // the term's own count, or the best count below the node
    char32_t label;
    std::uint32_t node;
    std::uint32_t seed;
    bool term;
    bool sure;  // whether `count` is in the search's CountFloor
};
static_assert(sizeof(Entry) <= 32, "an entry fits half a cache line");

class Search {
  public:
    Search(const Trie& trie, PathLinks& paths, std::vector<Seed> seeds,
           const InterruptCheck& interrupt)
        : trie_(trie),
          counts_(trie.term_counts),
          paths_(paths),
          seeds_(std::move(seeds)),
          budget_(trie, interrupt, VISITS_BETWEEN_CHECKS * STEPS_PER_PUSH, SEARCH_SCALE) {
        // Only a region with seeds below it needs to look its children up.
        bool nested = false;
        for (std::uint32_t k = 0; k < seeds_.size(); ++k) nested = nested || has_seeds_below(k);
        if (!nested) return;
        for (std::uint32_t k = 0; k < seeds_.size(); ++k) {
            seeds_by_node_.emplace_back(seeds_[k].node, k);
        }
        std::sort(seeds_by_node_.begin(), seeds_by_node_.end());
    }

    // Region by region from the nearest, and among equally near regions from
    // the cheapest to spell: every entry that a region's search makes has the
    // region's distance and cost, so the regions of a farther or dearer seed
    // are not looked at (not even their best counts read) while better ones
    // fill the answer.
    std::vector<Suggestion> run(std::optional<std::uint32_t> limit) {
        std::vector<std::uint32_t> by_distance(seeds_.size());
        for (std::uint32_t k = 0; k < seeds_.size(); ++k) by_distance[k] = k;
        const auto rank = [this](std::uint32_t k) {
            return std::pair{seeds_[k].distance, seeds_[k].cost};
        };
        std::stable_sort(by_distance.begin(), by_distance.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
        std::vector<Suggestion> found;
        found.reserve(std::min<std::uint32_t>(limit.value_or(64), 64));
        queue_.reserve(256);
        const auto full = [&] { return limit && found.size() >= *limit; };
        for (std::size_t next = 0; next < by_distance.size() && !full();) {
            const auto group = rank(by_distance[next]);
            floor_.reset(limit ? *limit - found.size() : 0);
            for (; next < by_distance.size() && rank(by_distance[next]) == group; ++next) {
                const std::uint32_t k = by_distance[next];
                const Seed& seed = seeds_[k];
                const TermCount best = best_below(seed.node);
                // The root's best may be its own count, which is no term's.
                const bool sure = best != UNKNOWN_BEST_BELOW && !has_seeds_below(k) &&
                                  paths_.depth(seed.path) > 0;
                if (floor_.above(best)) continue;
                if (sure) floor_.add(best);
                budget_.spend(STEPS_PER_PUSH);
                queue_.push_back(
                    {seed.distance, seed.path, best, NO_LABEL, seed.node, k, false, sure});
            }
            std::make_heap(queue_.begin(), queue_.end(), ranks_after_);
            while (!queue_.empty() && !full()) {
                const Entry entry = queue_.front();
                // The top's place goes to the first entry that the expansion
                // queues, most often the child on the way to the best count,
                // which stays on top: one step instead of a pop and a push.
                top_free_ = true;
                // One of the top's children in the heap comes out next unless
                // the expansion queues something better.
                for (std::size_t next = 1; next < std::min<std::size_t>(queue_.size(), 3); ++next) {
                    prefetch_children(queue_[next]);
                }
                if (entry.term) {
                    budget_.spend(paths_.depth(entry.parent));
                    found.push_back({paths_.text(entry.parent), entry.distance, entry.count,
                                     seeds_[entry.seed].cost});
                    floor_.took(entry.count, entry.sure);
                } else {
                    expand(entry);
                }
                if (top_free_) {
                    std::pop_heap(queue_.begin(), queue_.end(), ranks_after_);
                    queue_.pop_back();
                    top_free_ = false;
                }
            }
            queue_.clear();
        }
        return found;
    }

  private:
    struct RanksAfter {
        const PathLinks* paths;
        WalkBudget* budget;  // charged with the labels that comparisons read
        // Whether `a` comes out after `b`: the heap's "less".
        bool operator()(const Entry& a, const Entry& b) const {
            if (a.distance != b.distance) return a.distance > b.distance;
            if (a.count != b.count) return a.count < b.count;
            std::uint64_t labels_read = 0;
            const auto order =
                paths->compare_texts(a.parent, a.label, b.parent, b.label, labels_read);
            budget->spend(labels_read);
            if (order != 0) return order > 0;
            return !a.term && b.term;
        }
    };

    void push(const Entry& entry) {
        budget_.spend(STEPS_PER_PUSH);
        // A node queued near the top is expanded soon: ask for its child run
        // and its terminal flag now, while the queue is worked on.
        if (!entry.term && entry.node < trie_.node_shifts.size() &&
            entry.node < trie_.is_terminal.size()) {
            __builtin_prefetch(trie_.node_shifts.data() + entry.node);
            __builtin_prefetch(trie_.is_terminal.data() + entry.node);
        }
        if (top_free_) {
            top_free_ = false;
            replace_top(entry);
        } else {
            queue_.push_back(entry);
            std::push_heap(queue_.begin(), queue_.end(), ranks_after_);
        }
    }

    // Puts `entry` in the top's place and sifts it down to where it ranks.
    void replace_top(const Entry& entry) {
        const std::size_t size = queue_.size();
        std::size_t hole = 0;
        for (std::size_t child = 1; child < size; child = 2 * hole + 1) {
            if (child + 1 < size && ranks_after_(queue_[child], queue_[child + 1])) ++child;
            if (!ranks_after_(entry, queue_[child])) break;
            queue_[hole] = queue_[child];
            hole = child;
        }
        queue_[hole] = entry;
    }

    // The child run of the entry likely to be expanded next, asked for while
    // this one is.
    void prefetch_children(const Entry& next) const {
        if (next.term || next.node >= trie_.node_shifts.size()) return;
        const std::uint32_t begin = trie_.node_shifts[next.node];
        if (begin >= trie_.child_transitions.size()) return;
        __builtin_prefetch(trie_.child_transitions.data() + begin);
        if (trie_.walk_index.sound)
            __builtin_prefetch(trie_.walk_index.edge_bytes.labels(begin) + begin);
    }

    // The node's term, if it is one, and its children, each ranked by the
    // best it can lead to, but for those the answer cannot need. In a region
    // without seeds below it each of these is sure to yield a term of its
    // count, when that count is known; one of them yields the node's own best
    // count, which the floor holds already for the node.
    void expand(const Entry& entry) {
        const std::uint32_t path =
            entry.label == NO_LABEL ? entry.parent : paths_.extend(entry.parent, entry.label);
        const bool nested = has_seeds_below(entry.seed);
        bool carried = !entry.sure;
        const auto offer = [&](Entry item) {
            if (floor_.above(item.count)) return;
            item.sure = !nested && item.count != UNKNOWN_BEST_BELOW;
            if (item.sure) {
                if (!carried && item.count == entry.count) {
                    carried = true;
                } else {
                    floor_.add(item.count);
                }
            }
            push(item);
        };
        // The empty prefix is no term, whatever the root's flag says.
        if (paths_.depth(path) > 0 && checked_at(trie_.is_terminal, entry.node)) {
            offer({entry.distance, path, own(entry.node), NO_LABEL, entry.node, entry.seed, true,
                   false});
        }
        const ChildRange children = child_range(trie_, entry.node);
        // The children's counts lie anywhere in memory: ask for all of them
        // before the first is needed.
        if (!counts_.nodes.empty()) {
            for (std::size_t position = children.begin; position < children.end; ++position) {
                __builtin_prefetch(counts_.address_of(trie_.child_transitions[position]));
            }
        }
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::uint32_t child = checked_at(trie_.child_transitions, position);
            const char32_t label = label_of(children, position, child);
            if (label == NO_LABEL || seeds_below(entry.seed, child, path, label)) continue;
            offer(
                {entry.distance, path, best_below(child), label, child, entry.seed, false, false});
        }
        // Children passed over cost a step each too: a node expanded once per
        // path that reaches it would read its children that often.
        if (!children.empty()) budget_.spend(children.end - children.begin);
        // Only where the floor could not need the node's count.
        if (!carried) floor_.forget(entry.count);
    }

    bool has_seeds_below(std::uint32_t seed) const { return seeds_[seed].end > seed + 1; }

    // The label of the child at `position`: from the walk index's label
    // bytes, next to its siblings', where that has them.
    char32_t label_of(ChildRange children, std::size_t position, std::uint32_t child) const {
        if (trie_.walk_index.sound) {
            const std::uint8_t byte = trie_.walk_index.edge_bytes.labels(children.begin)[position];
            if (byte != LABEL_ELSEWHERE) return byte;
        }
        return checked_at(trie_.child_labels, child);
    }

    // Whether `child`, at `path` then `label`, is a seed below `seed`: its
    // region is its own, at a lower distance.
    bool seeds_below(std::uint32_t seed, std::uint32_t child, std::uint32_t path, char32_t label) {
        if (!has_seeds_below(seed)) return false;
        const auto [first, last] =
            std::equal_range(seeds_by_node_.begin(), seeds_by_node_.end(), std::pair{child, 0u},
                             [](const auto& x, const auto& y) { return x.first < y.first; });
        for (auto at = first; at != last; ++at) {
            const std::uint32_t k = at->second;
            budget_.spend(1 + paths_.depth(seeds_[k].path));
            if (k > seed && k < seeds_[seed].end &&
                paths_.same_labels(seeds_[k].path, path, label)) {
                return true;
            }
        }
        return false;
    }

    TermCount own(std::uint32_t node) const { return counts_.own(trie_, node); }

    TermCount best_below(std::uint32_t node) const { return counts_.best_below(node); }

    const Trie& trie_;
    const TermCounts& counts_;
    PathLinks& paths_;
    const std::vector<Seed> seeds_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seeds_by_node_;
    WalkBudget budget_;
    RanksAfter ranks_after_{&paths_, &budget_};
    std::vector<Entry> queue_;  // a heap, ranks_after_ its "less"
    bool top_free_ = false;     // whether the top's entry is taken and its place free
    CountFloor floor_;
};

}  // namespace

std::vector<Suggestion> completions(const Trie& trie, std::span<const char32_t> query,
                                    std::uint32_t max_dist, EditMetric metric,
                                    std::optional<std::uint32_t> limit,
                                    const InterruptCheck& interrupt) {
    if (trie.node_shifts.empty() || limit == 0u) return {};
    const std::uint32_t bound = std::min(max_dist, MAX_DISTANCE_BOUND);
    PathLinks paths;
    SpellingCost spelling(query, bound);
    SeedCollector collector(paths, spelling, query.size(), bound);
    // An offer steps up the path and costs its spelling.
    WalkBudget spelled = spelling_budget(trie, query.size(), bound, interrupt);
    walk_within_distance(trie, query, bound, metric, std::nullopt, interrupt,
                         [&](std::uint32_t node, std::uint32_t distance,
                             std::span<const char32_t> path, char32_t label) {
                             spelled.spend(path.size() + 1);
                             collector.offer(node, distance, path, label);
                             return true;
                         });
    return Search(trie, paths, std::move(collector).finish(), interrupt).run(limit);
}

}  // namespace kelnor
