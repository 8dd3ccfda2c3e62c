#include "prefix/matcher/path_links.hpp"

#include <algorithm>

#include "prefix/matcher/utf8.hpp"

namespace kelnor {

bool PathLinks::leads_to(std::uint32_t path, std::span<const char32_t> labels,
                         char32_t last) const {
    std::size_t depth = links_[path].depth;
    if (depth > labels.size() + 1) return false;
    for (; path != ROOT; path = links_[path].parent, --depth) {
        const char32_t expected = depth <= labels.size() ? labels[depth - 1] : last;
        if (links_[path].label != expected) return false;
    }
    return true;
}

void PathLinks::spell(std::uint32_t path, char32_t last, std::vector<char32_t>& labels) const {
    labels.clear();
    if (last != NO_LABEL) labels.push_back(last);
    for (; path != ROOT; path = links_[path].parent) labels.push_back(links_[path].label);
    std::reverse(labels.begin(), labels.end());
}

std::strong_ordering PathLinks::compare_texts(std::uint32_t a, char32_t a_last, std::uint32_t b,
                                              char32_t b_last) const {
    // Siblings, the commonest pair in a search's queue, differ in the last
    // label alone.
    if (a == b) {
        if (a_last == NO_LABEL || b_last == NO_LABEL) {
            return (a_last != NO_LABEL) <=> (b_last != NO_LABEL);
        }
        return spelled_as(a_last) <=> spelled_as(b_last);
    }
    spell(a, a_last, left_);
    spell(b, b_last, right_);
    return std::lexicographical_compare_three_way(
        left_.begin(), left_.end(), right_.begin(), right_.end(),
        [](char32_t x, char32_t y) { return spelled_as(x) <=> spelled_as(y); });
}

bool PathLinks::same_labels(std::uint32_t a, std::uint32_t b, char32_t b_last) const {
    const std::uint32_t b_depth = links_[b].depth + (b_last != NO_LABEL ? 1 : 0);
    if (links_[a].depth != b_depth) return false;
    if (b_last != NO_LABEL) {
        if (links_[a].label != b_last) return false;
        a = links_[a].parent;
    }
    for (; a != b; a = links_[a].parent, b = links_[b].parent) {
        if (links_[a].label != links_[b].label) return false;
    }
    return true;
}

std::string PathLinks::text(std::uint32_t path) const {
    std::vector<char32_t> labels;
    spell(path, NO_LABEL, labels);
    std::string text;
    for (const char32_t label : labels) append_utf8(text, label);
    return text;
}

}  // namespace kelnor
