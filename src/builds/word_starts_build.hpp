// Deriving the word starts of an index of phrases (index/word_starts.hpp).
#pragma once

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "index/word_starts.hpp"

namespace kelnor {

// The words of the terms of `phrases` (queries/words.hpp), each with the
// terms it occurs in. Raises InternalFailure when `phrases` is not a tree
// (a node reached by two paths, or a read outside an array: a damaged
// image) and Interrupted when `interrupt`, asked every few thousand terms
// and words, says stop.
WordStarts word_starts_of(const Trie& phrases, const InterruptCheck& interrupt = {});

}  // namespace kelnor
