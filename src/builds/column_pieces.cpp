#include "builds/column_pieces.hpp"

#include <algorithm>

#include "builds/row_shift.hpp"

namespace kelnor::columns {
namespace {

// Where a column's next row lies: its piece and the row within it.
template <class View>
class PieceCursor {
  public:
    explicit PieceCursor(const std::vector<ColumnPiece<View>>& pieces) : pieces_(pieces) {
        skip_empty();
    }

    bool done() const noexcept { return piece_ == pieces_.size(); }
    std::int64_t rows_left_in_piece() const noexcept { return pieces_[piece_].length - row_; }
    // The view of the piece from the next row on.
    View view() const {
        View view = pieces_[piece_].view;
        shift_rows(view, row_);
        return view;
    }
    void advance(std::int64_t rows) {
        row_ += rows;
        skip_empty();
    }

  private:
    void skip_empty() {
        while (piece_ < pieces_.size() && row_ >= pieces_[piece_].length) {
            row_ = 0;
            ++piece_;
        }
    }

    const std::vector<ColumnPiece<View>>& pieces_;
    std::size_t piece_ = 0;
    std::int64_t row_ = 0;
};

}  // namespace

std::vector<ColumnChunk> align_pieces(const ColumnPieces& pieces) {
    PieceCursor terms(pieces.terms);
    PieceCursor videos(pieces.videos);
    PieceCursor counts(pieces.counts);
    std::vector<ColumnChunk> chunks;
    while (!terms.done() && !videos.done() && !counts.done()) {
        const std::int64_t length = std::min(
            {terms.rows_left_in_piece(), videos.rows_left_in_piece(), counts.rows_left_in_piece()});
        chunks.push_back({length, terms.view(), videos.view(), counts.view()});
        terms.advance(length);
        videos.advance(length);
        counts.advance(length);
    }
    return chunks;
}

}  // namespace kelnor::columns
