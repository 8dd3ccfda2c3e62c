// Why a row (or a line of a records file) cannot go into an index. The host
// words the message: the reasons here carry what it quotes, and `where` is
// the row number from 0 (the line number from 1 for a records file).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace kelnor::columns {

enum class Refusal : std::uint8_t {
    TermNull,
    TermEmpty,
    TermUnstorable,  // `text` holds `code_point` (NUL), which no query can reach
    TermNotUtf8,     // `text`: the term's bytes
    TermTooLong,     // `number`: the term's length in bytes
    TermDamaged,     // offsets or a view outside the column's data
    CountNull,
    CountOutOfRange,  // `text`: the count in decimal
    VideoNull,
    VideoOutOfRange,    // `text`: the integer id in decimal
    VideoNotUuid,       // `text`: the id's text
    VideoNotUuidBytes,  // `text`: a binary id's bytes, not 16 of them
    VideoKindMismatch,  // `text`: the id as the host shows it; `is_integer`: its kind
    VideoDamaged,       // as TermDamaged
    // Only for the lines of a records file:
    LineNotUtf8,          // `text`: the decoder's reason
    FieldCount,           // `number`: the fields found
    CountNotWholeNumber,  // `text`: the field
    VideoNegative,        // `text`: the field
    QuoteUnclosed,        // a quoted field of a CSV line that does not end
    LineTooLong,          // `number`: the longest a line may be, in bytes
};

struct RowRefusal {
    RowRefusal(Refusal reason, std::uint64_t where = 0, std::string text = {})
        : reason(reason), where(where), text(std::move(text)) {}

    Refusal reason;
    std::uint64_t where = 0;
    std::string text;
    char32_t code_point = 0;
    std::uint64_t number = 0;
    bool is_integer = false;
};

}  // namespace kelnor::columns
