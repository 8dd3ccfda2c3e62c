// Deriving the word starts of an index of phrases (index/word_starts.hpp).
#pragma once

#include <cstdint>
#include <string>

#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "index/trie/trie.hpp"
#include "index/word_starts.hpp"

namespace kelnor {

// The terms of a trie hold at most this many characters per node, and
// this many more, for their words to be derived: a trie holds its terms'
// text once per node, and a chain of nodes that all end a term (a small
// image) would otherwise ask for its length squared.
inline constexpr std::uint64_t WORD_START_CHARACTERS_PER_NODE = 64;
inline constexpr std::uint64_t WORD_START_CHARACTERS_BEYOND = std::uint64_t{1} << 24;

// The words of the terms of `phrases` (index/text/search_words.hpp), each with the
// terms it occurs in, or why not: the message when a node is reached by two
// paths (the trie is no tree) or the terms hold more characters than the
// limit above. Raises InternalFailure on a read outside an array (a damaged
// image) and Interrupted when `interrupt`, asked every few thousand terms
// and words, says stop.
Result<WordStarts, std::string> word_starts_of(const Trie& phrases,
                                               const InterruptCheck& interrupt = {});

}  // namespace kelnor
