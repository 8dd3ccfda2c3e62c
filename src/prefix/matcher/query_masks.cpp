#include "prefix/matcher/query_masks.hpp"

namespace kelnor {

QueryMasks::QueryMasks(std::span<const char32_t> query) : length_(query.size()) {
    label_bytes_.fill(0);
    label_bytes_[kLabelElsewhere] = ~std::uint64_t{0};
    for (std::size_t j = 0; j < query.size(); ++j) {
        const char32_t character = query[j];
        const std::uint64_t bit = std::uint64_t{1} << (j + 1);
        lookahead_after_[j] = child_lookahead(character);
        if (j + 1 < query.size()) {
            lookahead_after_[j] |= grandchild_lookahead(character, query[j + 1]);
        }
        if (j + 2 < query.size()) {
            lookahead_after_[j] |=
                great_grandchild_lookahead(character, query[j + 1], query[j + 2]);
            grams_[j] = gram_of(character, query[j + 1], query[j + 2]);
        }
        if (character - 1 < kLabelElsewhere - 1) {
            label_bytes_[character] |= bit;
            position_bytes_[j + 1] = static_cast<std::uint8_t>(character);
            continue;
        }
        position_bytes_[j + 1] = kLabelElsewhere;
        std::size_t k = 0;
        while (k < other_count_ && other_characters_[k] != character) ++k;
        if (k == other_count_) {
            other_characters_[k] = character;
            other_masks_[k] = 0;
            ++other_count_;
        }
        other_masks_[k] |= bit;
    }
}

}  // namespace kelnor
