// Columns given in pieces, such as the chunks of chunked arrays, whose
// boundaries need not agree from one column to the next, cut into the
// chunks that the build reads: runs of rows that lie within one piece of
// each column.
#pragma once

#include <cstdint>
#include <vector>

#include "builds/column_views.hpp"

namespace kelnor::columns {

template <class View>
struct ColumnPiece {
    std::int64_t length = 0;
    View view;
};

struct ColumnPieces {
    std::vector<ColumnPiece<TextColumn>> terms;
    std::vector<ColumnPiece<VideoColumn>> videos;
    std::vector<ColumnPiece<IntColumn>> counts;
};

// The rows of the three columns as chunks, in order. Precondition: the
// columns hold the same number of rows.
std::vector<ColumnChunk> align_pieces(const ColumnPieces& pieces);

}  // namespace kelnor::columns
