// Building an index from columns of (term, video id, count) rows, the way the
// record path builds it from the same rows, byte for byte: a term's payload
// lists each of its videos once with the sum of its counts, most counted first
// (ties by the video's position), counts and totals above 2^32 - 1 stored as
// 2^32 - 1 while the order follows the sums; videos take positions in order
// of first appearance. The first refused row, in row order (and, within a
// row, term before count before video id), is the answer instead.
#pragma once

#include <cstdint>
#include <span>

#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "builds/column_views.hpp"
#include "builds/internal_data.hpp"
#include "builds/row_refusal.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::columns {

// The node arrays and the video table of the rows of `chunks`, as the host
// would hand them over to be assembled (every payload whole, none cut).
struct LaidOutRows {
    InternalData data;
    VideoTable videos;
};
Result<LaidOutRows, RowRefusal> lay_out_rows(std::span<const ColumnChunk> chunks,
                                             const InterruptCheck& interrupt = {});

// The index of the rows of `chunks`, one after another, with `top_n` videos
// kept per node. The refusal names its row counted over all chunks from 0.
// Throws Interrupted when `interrupt`, asked every few thousand rows (and
// comparisons of the sorts), says stop.
Result<Trie, RowRefusal> build_from_columns(std::span<const ColumnChunk> chunks,
                                            std::uint32_t top_n,
                                            const InterruptCheck& interrupt = {});

}  // namespace kelnor::columns
