// Records files parsed into columns: UTF-8 text, one record a line, its
// fields separated by tabs (TSV) or commas (CSV, where a field may be quoted
// with double quotes, a doubled quote standing for one, within its line).
//
// The lines are read as the record path reads them: a byte-order mark
// before the first line is dropped; a line ends at "\n", and any "\r" and
// "\n" at its end are no part of it; a line of white space alone is skipped,
// and so is a first line whose fields are "term", "video" and "count". A
// video id of ASCII digits is an integer id, anything else must be a UUID,
// and every id of a file must be of one kind; a count is ASCII digits; both
// lose their surrounding white space (Python's, Unicode's included). Every
// check of the record path is made here, line by line, so the first bad line
// is the one refused, named by its number from 1. A line longer than
// MAX_LINE_BYTES (its line end included) is refused before anything else is
// read of it, so that a reader of a stream never holds more of one line.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "builds/column_views.hpp"
#include "builds/row_refusal.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::columns {

enum class Separator : char { Tab = '\t', Comma = ',' };

// The longest line a records file may hold: room for the longest term
// (quoted, every character a doubled quote) and far more than any id and
// count take, while a stream that never ends its line is refused early.
inline constexpr std::size_t MAX_LINE_BYTES = std::size_t{1} << 20;

// A record read from a line: views into the line, or into the reader.
struct LineRecord {
    std::string_view term;
    bool integer_id = false;
    std::uint32_t id = 0;  // when `integer_id`
    VideoUuid uuid{};      // otherwise
    std::uint32_t count = 0;
};

// The lines of one records file, in order: it knows the line numbers and the
// kind of video id that the earlier lines chose.
class RecordLines {
  public:
    // With `check_terms` false a term is taken as it stands, for a host that
    // changes the terms (folds them) and checks them after that.
    explicit RecordLines(Separator separator, bool check_terms = true);

    // The record of the next line (from its start to its "\n", if it has
    // one), nothing for a line that holds none, or its refusal.
    Result<std::optional<LineRecord>, RowRefusal> read(std::string_view line);

    // The number of the line read last, from 1.
    std::uint64_t number() const noexcept { return number_; }

    // The refusal of the next line, which is longer than MAX_LINE_BYTES:
    // known before its end is.
    RowRefusal refuse_long_line();

  private:
    char separator_;
    bool check_terms_;
    std::string unquoted_;
    std::vector<std::string_view> fields_;
    std::uint8_t kind_ = 0;  // 0: no id yet, 1: integers, 2: UUIDs
    std::uint64_t number_ = 0;
};

struct TextRecords {
    std::string term_bytes;                  // the terms end to end
    std::vector<std::int64_t> term_ends{0};  // offsets: term k is [k, k + 1)
    std::vector<std::uint32_t> integer_ids;  // the video ids, of one kind
    std::vector<VideoUuid> uuids;
    std::vector<std::uint32_t> counts;
    std::vector<std::uint64_t> lines;  // each record's line number, when asked for

    // The records as columns, views of the vectors above.
    ColumnChunk chunk() const;
};

// Throws Interrupted when `interrupt`, asked every few thousand lines, says stop.
// With `check_terms` false the terms are not checked (RecordLines).
Result<TextRecords, RowRefusal> parse_text_records(std::span<const std::uint8_t> bytes,
                                                   Separator separator, bool with_lines = false,
                                                   bool check_terms = true,
                                                   const InterruptCheck& interrupt = {});

}  // namespace kelnor::columns
