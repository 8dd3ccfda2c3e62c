#include "queries/path_links.hpp"

#include <algorithm>
#include <cstring>

#include "index/text/label_text.hpp"

namespace kelnor {

bool PathLinks::lies_above(std::uint32_t path, std::span<const char32_t> labels,
                           char32_t last) const {
    std::size_t depth = links_[path].depth;
    if (depth > labels.size()) return false;
    for (; path != ROOT; path = links_[path].parent, --depth) {
        const char32_t expected = depth <= labels.size() ? labels[depth - 1] : last;
        if (links_[path].label != expected) return false;
    }
    return true;
}

std::strong_ordering PathLinks::compare_texts(std::uint32_t a, char32_t a_last, std::uint32_t b,
                                              char32_t b_last, std::uint64_t& labels_read) const {
    Cursor left{a, a_last, depth(a) + (a_last != NO_LABEL ? 1u : 0u)};
    Cursor right{b, b_last, depth(b) + (b_last != NO_LABEL ? 1u : 0u)};
    const std::uint64_t depths = std::uint64_t{left.depth} + right.depth;
    // A longer text whose first labels equal the shorter one's follows it.
    const std::strong_ordering by_length = left.depth <=> right.depth;
    while (left.depth > right.depth) up(left);
    while (right.depth > left.depth) up(right);
    // From the same depth up to the root (or to a link both share): the
    // shallowest labels that differ decide.
    std::strong_ordering order = std::strong_ordering::equal;
    while (left.depth > 0 &&
           !(left.last == NO_LABEL && right.last == NO_LABEL && left.link == right.link)) {
        const char32_t x = spelled_as(label(left));
        const char32_t y = spelled_as(label(right));
        if (x != y) order = x <=> y;
        up(left);
        up(right);
    }
    labels_read = depths - left.depth - right.depth;
    return order != 0 ? order : by_length;
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
    // Spelled from the last label up into a text of its final size, so that
    // the labels need no buffer to be put in order first.
    std::size_t size = 0;
    for (std::uint32_t at = path; at != ROOT; at = links_[at].parent) {
        encode_utf8(spelled_as(links_[at].label),
                    [&size](const auto& bytes) { size += bytes.size(); });
    }
    std::string text(size, '\0');
    for (; path != ROOT; path = links_[path].parent) {
        encode_utf8(spelled_as(links_[path].label), [&](const auto& bytes) {
            size -= bytes.size();
            std::memcpy(text.data() + size, bytes.data(), bytes.size());
        });
    }
    return text;
}

}  // namespace kelnor
