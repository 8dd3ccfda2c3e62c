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
// is the one refused, named by its number from 1.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "columns/column_views.hpp"
#include "columns/row_refusal.hpp"
#include "prefix/trie/trie.hpp"
#include "result.hpp"

namespace kelnor::columns {

enum class Separator : char { Tab = '\t', Comma = ',' };

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

Result<TextRecords, RowRefusal> parse_text_records(std::span<const std::uint8_t> bytes,
                                                   Separator separator, bool with_lines = false);

}  // namespace kelnor::columns
