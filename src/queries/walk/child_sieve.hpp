// Passing over a node's children by their label bytes and heights
// (walk_index.hpp), up to 64 at a time, before any row is computed. Only
// children high enough pass (see BitParallelRows::prospect), and of those:
// - labelled(): every child but those labelled 0, which the walk never enters;
// - matching(): only the children whose label is the query character at one
//   of a continuation's positions (bit_parallel_rows.hpp); with a child whose
//   label byte is LABEL_ELSEWHERE the full label decides, so it passes too.
//   When the node's row is narrow, only these can stay within the bound.
//
// With SSE2 the sieve compares 16 label bytes at a time; for matching() with
// the characters at up to a few positions. A continuation with more
// positions, or a machine without SSE2, looks each byte up in the query's
// LabelByteTable instead. Either way a child passes matching() exactly when
// its byte's table entry meets the continuation.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "index/trie/walk_index.hpp"
#include "queries/walk/query_masks.hpp"
#include "queries/walk/walk_codegen.hpp"

namespace kelnor {

class ChildSieve {
  public:
    explicit ChildSieve(const QueryMasks& query) noexcept : table_(query.label_bytes()) {
#if defined(__SSE2__)
        // A continuation holds positions 1 to length() only.
        for (std::size_t bit = 1; bit <= query.length(); ++bit) {
            by_bit_[bit] =
                _mm_set1_epi8(static_cast<char>(query.position_byte(static_cast<int>(bit))));
        }
        by_bit_[63] = _mm_set1_epi8(static_cast<char>(LABEL_ELSEWHERE));
#endif
    }

    // Bit i set for each of the `count` (1 to 64) children whose label bytes
    // start at `labels` and heights at `heights` that is labelled and at
    // least `least_height` high. Reads up to LABEL_PADDING bytes past the
    // last child's of both.
    KELNOR_WALK_INLINE static std::uint64_t labelled(const std::uint8_t* labels,
                                                     const std::uint8_t* heights,
                                                     std::uint8_t least_height,
                                                     std::size_t count) noexcept {
        std::uint64_t bits = 0;
#if defined(__SSE2__)
        const __m128i least = _mm_set1_epi8(static_cast<char>(least_height));
        for (std::size_t offset = 0; offset < count; offset += 16) {
            const __m128i unlabelled = _mm_cmpeq_epi8(load(labels + offset), _mm_setzero_si128());
            const __m128i high = high_enough(load(heights + offset), least);
            bits |= mask_of(_mm_andnot_si128(unlabelled, high)) << offset;
        }
#else
        for (std::size_t k = 0; k < count; ++k) {
            bits |= static_cast<std::uint64_t>(labels[k] != 0 && heights[k] >= least_height) << k;
        }
#endif
        return bits & in_range(count);
    }

    // The same for the children whose label matches one of the positions
    // of `continuation` (1 to 62): by their label byte's table entry, or as
    // LABEL_ELSEWHERE. With SSE2, a continuation of up to `Compared`
    // positions compares the label bytes with the characters there.
    template <int Compared>
    KELNOR_WALK_INLINE std::uint64_t matching(std::uint64_t continuation,
                                              const std::uint8_t* labels,
                                              const std::uint8_t* heights,
                                              std::uint8_t least_height,
                                              std::size_t count) const noexcept {
        std::uint64_t bits = 0;
#if defined(__SSE2__)
        // Bit 63 stands for LABEL_ELSEWHERE, which is always compared: once
        // the positions run out, their places compare it again.
        constexpr std::uint64_t ELSEWHERE = std::uint64_t{1} << 63;
        __m128i characters[Compared];
        std::uint64_t left = continuation;
        for (int position = 0; position < Compared; ++position) {
            characters[position] = by_bit_[std::countr_zero(left | ELSEWHERE)];
            left &= left - 1;
        }
        if (left == 0) {
            const __m128i least = _mm_set1_epi8(static_cast<char>(least_height));
            const __m128i elsewhere = by_bit_[63];
            for (std::size_t offset = 0; offset < count; offset += 16) {
                const __m128i block = load(labels + offset);
                __m128i hit = _mm_cmpeq_epi8(block, elsewhere);
                for (const __m128i& character : characters) {
                    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(block, character));
                }
                const __m128i high = high_enough(load(heights + offset), least);
                bits |= mask_of(_mm_and_si128(hit, high)) << offset;
            }
            return bits & in_range(count);
        }
#endif
        for (std::size_t k = 0; k < count; ++k) {
            const bool passes =
                (table_[labels[k]] & continuation) != 0 && heights[k] >= least_height;
            bits |= static_cast<std::uint64_t>(passes) << k;
        }
        return bits & in_range(count);
    }

  private:
#if defined(__SSE2__)
    static __m128i load(const std::uint8_t* bytes) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    }

    // Lanes of `heights` at least those of `least`, as unsigned bytes.
    static __m128i high_enough(__m128i heights, __m128i least) noexcept {
        return _mm_cmpeq_epi8(_mm_max_epu8(heights, least), heights);
    }

    static std::uint64_t mask_of(__m128i lanes) noexcept {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(lanes)));
    }
#endif

    static std::uint64_t in_range(std::size_t count) noexcept {
        return count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    }

    const LabelByteTable& table_;
#if defined(__SSE2__)
    // By bit of a continuation: the label byte of the query character there,
    // in all 16 lanes; bit 63 holds LABEL_ELSEWHERE.
    __m128i by_bit_[64];
#endif
};

}  // namespace kelnor
