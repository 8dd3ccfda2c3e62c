// A records file built as its bytes arrive, in pieces of any size: each
// record is gathered as soon as its line is whole, into the distinct terms,
// the distinct videos and the sum of the counts of each distinct (term,
// video) pair, so that memory grows with those and with the longest line,
// not with the file. The index is the one that parse_text_records() and
// build_from_columns() make of the whole file, byte for byte, and the refusal
// the same first bad line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "builds/gathered_rows.hpp"
#include "builds/id_table.hpp"
#include "builds/row_refusal.hpp"
#include "builds/text_records.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::columns {

class RecordsStream {
  public:
    explicit RecordsStream(Separator separator) : lines_(separator) {}

    // Reads the lines that `bytes` completes; the first refusal stops the
    // stream (a later call answers it again). Throws Interrupted when
    // `interrupt`, asked every few thousand lines, says stop.
    Result<std::monostate, RowRefusal> feed(std::span<const std::uint8_t> bytes,
                                            const InterruptCheck& interrupt);

    // The index of every record, once the last line (which needs no "\n")
    // is read, with `top_n` videos kept per node.
    Result<Trie, RowRefusal> finish(std::uint32_t top_n, const InterruptCheck& interrupt);

  private:
    Result<std::monostate, RowRefusal> read_line(std::string_view line);
    // A view of `term` that lives as long as the stream.
    std::string_view keep(std::string_view term);

    RecordLines lines_;
    std::string partial_line_;  // the bytes of a line whose end has not come yet
    std::optional<RowRefusal> refused_;
    bool integer_ids_ = false;

    std::vector<std::unique_ptr<char[]>> term_blocks_;
    char* block_next_ = nullptr;  // where the last block's free bytes start
    std::size_t block_left_ = 0;
    IdTable<std::string_view> terms_;
    IdTable<std::uint32_t> integer_videos_;
    IdTable<VideoUuid> uuid_videos_;
    IdTable<std::uint64_t> pairs_;     // term id in the high half, video position in the low
    std::vector<std::uint64_t> sums_;  // by pair id
};

}  // namespace kelnor::columns
