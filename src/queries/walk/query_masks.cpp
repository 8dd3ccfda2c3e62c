#include "queries/walk/query_masks.hpp"

#include <cstring>

namespace kelnor {

QueryMasks::QueryMasks(std::span<const char32_t> query) : length_(query.size()) {
    std::memset(label_bytes_.data(), 0, sizeof(label_bytes_));
    label_bytes_[LABEL_ELSEWHERE] = ~std::uint64_t{0};
    for (std::size_t j = 0; j < query.size(); ++j) {
        const char32_t character = query[j];
        const std::uint64_t bit = std::uint64_t{1} << (j + 1);
        if (character - 1 < LABEL_ELSEWHERE - 1) {
            label_bytes_[character] |= bit;
            position_bytes_[j + 1] = static_cast<std::uint8_t>(character);
            continue;
        }
        position_bytes_[j + 1] = LABEL_ELSEWHERE;
        std::size_t k = 0;
        while (k < other_count_ && other_characters_[k] != character) ++k;
        if (k == other_count_) {
            other_characters_[k] = character;
            other_masks_[k] = 0;
            ++other_count_;
        }
        other_masks_[k] |= bit;
    }
    // Backwards, so that each character's residues are worked out once.
    LookaheadLabel next = 0;
    LookaheadLabel after_next = 0;
    for (std::size_t j = query.size(); j-- > 0;) {
        const LookaheadLabel here = query[j];
        lookahead_after_[j] = child_lookahead(here);
        if (j + 1 < query.size()) lookahead_after_[j] |= grandchild_lookahead(here, next);
        if (j + 2 < query.size()) {
            lookahead_after_[j] |= great_grandchild_lookahead(here, next, after_next);
            grams_[j] = gram_of(query[j], query[j + 1], query[j + 2]);
        }
        after_next = next;
        next = here;
    }
}

}  // namespace kelnor
