// The edit distances a walk can measure (trie_walk.hpp).
#pragma once

#include <cstdint>

namespace kelnor {

enum class EditMetric : std::uint8_t {
    // Insertions, deletions and substitutions of one character, each one
    // edit (Levenshtein 1966).
    levenshtein,
    // The same, and two adjacent characters swapped as one edit, where no
    // character takes part in more than one edit (the optimal string
    // alignment distance; Damerau 1964, restricted): "ab" is one edit from
    // "ba", and "ca" three from "abc", not two.
    optimal_string_alignment,
};

}  // namespace kelnor
