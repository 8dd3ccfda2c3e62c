// The paths of a search that keeps many of them at once, as links to their
// parents: a path one label longer than a kept one costs one link, however
// deep it lies.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelnor {

// Labels 0 lie on no path (walks pass over them), so 0 can stand for "none".
inline constexpr char32_t NO_LABEL = 0;

class PathLinks {
  public:
    // The empty path.
    static constexpr std::uint32_t ROOT = 0;

    PathLinks() {
        // Room for what a typical query keeps, so that it allocates once.
        links_.reserve(256);
        links_.push_back({ROOT, NO_LABEL, 0});
    }

    // The path of `parent` followed by `label`.
    std::uint32_t extend(std::uint32_t parent, char32_t label) {
        links_.push_back({parent, label, links_[parent].depth + 1});
        return static_cast<std::uint32_t>(links_.size() - 1);
    }

    std::uint32_t depth(std::uint32_t path) const { return links_[path].depth; }

    // Whether the labels of `path` begin those of `labels` followed by `last`
    // and are fewer: whether `path` lies above that path. (One of the same
    // labels may be another node, a sibling with the same label.)
    bool lies_above(std::uint32_t path, std::span<const char32_t> labels, char32_t last) const;

    // The order of the texts of `a` followed by `a_last` and of `b` followed
    // by `b_last` (a last label of NO_LABEL adds nothing), in code points as
    // the texts are spelled (see append_utf8()). Sets `labels_read` to the
    // labels it stepped over, up to the deepest link the paths share: the
    // work it did, which the paths' depths bound.
    std::strong_ordering compare_texts(std::uint32_t a, char32_t a_last, std::uint32_t b,
                                       char32_t b_last, std::uint64_t& labels_read) const;

    // Whether the two paths hold the same labels.
    bool same_labels(std::uint32_t a, std::uint32_t b, char32_t b_last) const;

    // The UTF-8 text of `path`.
    std::string text(std::uint32_t path) const;

  private:
    struct Link {
        std::uint32_t parent;
        char32_t label;
        std::uint32_t depth;
    };

    // A place on a path that may end in a label not yet linked: the labels
    // of `link`, then `last` unless it is NO_LABEL; `depth` counts them all.
    struct Cursor {
        std::uint32_t link;
        char32_t last;
        std::uint32_t depth;
    };

    // The deepest label of a cursor at depth 1 or more.
    char32_t label(const Cursor& at) const {
        return at.last != NO_LABEL ? at.last : links_[at.link].label;
    }

    // One label up.
    void up(Cursor& at) const {
        if (at.last != NO_LABEL) {
            at.last = NO_LABEL;
        } else {
            at.link = links_[at.link].parent;
        }
        --at.depth;
    }

    std::vector<Link> links_;
};

}  // namespace kelnor
