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

    PathLinks() { links_.push_back({ROOT, NO_LABEL, 0}); }

    // The path of `parent` followed by `label`.
    std::uint32_t extend(std::uint32_t parent, char32_t label) {
        links_.push_back({parent, label, links_[parent].depth + 1});
        return static_cast<std::uint32_t>(links_.size() - 1);
    }

    std::uint32_t depth(std::uint32_t path) const { return links_[path].depth; }

    // Whether the labels of `path` begin those of `labels` followed by `last`.
    bool leads_to(std::uint32_t path, std::span<const char32_t> labels, char32_t last) const;

    // The order of the texts of `a` followed by `a_last` and of `b` followed
    // by `b_last` (a last label of NO_LABEL adds nothing), in code points as
    // the texts are spelled (see append_utf8()).
    std::strong_ordering compare_texts(std::uint32_t a, char32_t a_last, std::uint32_t b,
                                       char32_t b_last) const;

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

    // Fills `labels` with the labels of `path` then `last`, from the root.
    void spell(std::uint32_t path, char32_t last, std::vector<char32_t>& labels) const;

    std::vector<Link> links_;
    // Room reused by compare_texts(), so that comparing allocates only while
    // the deepest path compared so far grows.
    mutable std::vector<char32_t> left_;
    mutable std::vector<char32_t> right_;
};

}  // namespace kelnor
