// The index image: a Trie saved as bytes and restored from them.
//
// The image is the Trie's eight fields in declaration order, each in the
// compact encoding (index/encoding), with no header, length or checksum.
// Decoding restores the arrays exactly as they were stored and checks none of
// the relations between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.hpp"
#include "index/encoding/decode_error.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {

// The image of `trie`: its eight fields in order, shortest integer forms.
std::vector<std::uint8_t> encode_trie(const Trie& trie);

// The size of the image of `trie`, in bytes.
std::size_t image_size(const Trie& trie);

// Writes the image of `trie` into `out`, whose size must be image_size(trie),
// so that a caller can encode straight into memory it owns. Raises
// InternalFailure unless the image fills `out` exactly.
void encode_trie_into(const Trie& trie, std::span<std::uint8_t> out);

// Whether a decode derives the own counts from the payload totals, or leaves
// them to restore_own_counts() (own_counts_section.hpp), which sets them all.
enum class OwnCounts { Derived, Restored };

// Decodes one Trie from the start of `bytes`; trailing bytes are ignored.
Result<Trie, DecodeError> decode_trie(std::span<const std::uint8_t> bytes,
                                      OwnCounts counts = OwnCounts::Derived);

}  // namespace kelnor
