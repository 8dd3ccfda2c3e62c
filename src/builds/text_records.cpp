#include "builds/text_records.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "builds/term_check.hpp"
#include "index/encoding/utf8.hpp"
#include "index/uuid_text.hpp"

namespace kelnor::columns {
namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view U32_MAX_DIGITS = "4294967295";

// Why Python's UTF-8 decoder refuses `bytes`, in its words, or nothing.
std::optional<std::string_view> utf8_error(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (static_cast<unsigned char>(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::string_view rest = bytes.substr(at);
        const Utf8Sequence sequence = decode_utf8_sequence(utf8_bytes(rest));
        switch (sequence.status) {
            case Utf8Status::Decoded:
                at += sequence.length;
                continue;
            case Utf8Status::BadLead:
                return "invalid start byte";
            case Utf8Status::IllFormed:
                return "invalid continuation byte";
            case Utf8Status::Truncated: {
                // Cut short: Python names a byte already there that cannot
                // continue before it names the end. Padding with a byte that
                // continues anything asks the decoder about those alone.
                std::string padded(rest);
                padded.resize(sequence.length, '\x80');
                if (rest.size() >= 2 &&
                    decode_utf8_sequence(utf8_bytes(padded)).status == Utf8Status::IllFormed) {
                    return "invalid continuation byte";
                }
                return "unexpected end of data";
            }
        }
    }
    return std::nullopt;
}

// The bytes of the white space character (as Python's str.strip() takes it)
// that `text` starts with, or 0.
std::size_t leading_space(std::string_view text) {
    if (text.empty()) return 0;
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte == ' ' || (byte >= '\t' && byte <= '\r') || (byte >= 0x1C && byte <= 0x1F)) return 1;
    if (byte < 0x80) return 0;
    const Utf8Char c = decode_utf8_or_replacement(utf8_bytes(text));
    const char32_t p = c.code_point;
    const bool space = p == 0x85 || p == 0xA0 || p == 0x1680 || (p >= 0x2000 && p <= 0x200A) ||
                       p == 0x2028 || p == 0x2029 || p == 0x202F || p == 0x205F || p == 0x3000;
    return space ? c.length : 0;
}

// The same at the end of `text` (a character ends where a non-continuation byte starts it).
std::size_t trailing_space(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           text.size() - start < 3) {
        --start;
    }
    if (start == 0) return 0;
    --start;
    const std::size_t length = leading_space(text.substr(start));
    return length == text.size() - start ? length : 0;
}

std::string_view strip(std::string_view text) {
    while (const std::size_t n = leading_space(text)) text.remove_prefix(n);
    while (const std::size_t n = trailing_space(text)) text.remove_suffix(n);
    return text;
}

bool is_ascii_digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Python's int() of ASCII digits, as text: without its leading zeros.
std::string_view decimal(std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? "0" : digits.substr(first);
}

// The value of ASCII digits if it fits 32 bits.
std::optional<std::uint32_t> u32_of(std::string_view digits) {
    const std::string_view shown = decimal(digits);
    if (shown.size() > U32_MAX_DIGITS.size() ||
        (shown.size() == U32_MAX_DIGITS.size() && shown > U32_MAX_DIGITS)) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : shown) value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value;
}

// The fields of a line, separated by `separator`, into `fields`. A CSV
// field that opens with a quote runs to the quote that closes it, ""
// standing for one quote; what follows the closing quote, up to the
// separator, is kept as it is. Unquoted fields are made in `unquoted`, at
// most as long as the line, so that the views into it stay put. False when
// a quoted field does not end on its line.
bool split_fields(std::string_view line, char separator, std::vector<std::string_view>& fields,
                  std::string& unquoted) {
    fields.clear();
    unquoted.clear();
    if (separator == '\t' || line.find('"') == std::string_view::npos) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = line.find(separator, start);
            fields.push_back(line.substr(start, end - start));
            if (end == std::string_view::npos) return true;
            start = end + 1;
        }
    }
    unquoted.reserve(line.size());
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = unquoted.size();
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size()) return false;
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        unquoted += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                unquoted += line[at++];
            }
        }
        const std::size_t end = std::min(line.find(separator, at), line.size());
        unquoted.append(line.substr(at, end - at));
        fields.push_back(std::string_view(unquoted).substr(start));
        if (end == line.size()) return true;
        at = end + 1;
    }
}

constexpr std::uint8_t NO_KIND = 0;
constexpr std::uint8_t INTEGER_KIND = 1;
constexpr std::uint8_t UUID_KIND = 2;

}  // namespace

RecordLines::RecordLines(Separator separator, bool check_terms)
    : separator_(static_cast<char>(separator)), check_terms_(check_terms) {}

RowRefusal RecordLines::refuse_long_line() {
    RowRefusal refusal(Refusal::LineTooLong, ++number_);
    refusal.number = MAX_LINE_BYTES;
    return refusal;
}

Result<std::optional<LineRecord>, RowRefusal> RecordLines::read(std::string_view line) {
    if (line.size() > MAX_LINE_BYTES) return refuse_long_line();
    ++number_;
    const auto refuse = [&](Refusal reason, std::string_view quoted = {}) {
        return RowRefusal{reason, number_, std::string(quoted)};
    };
    if (number_ == 1 && line.starts_with(BYTE_ORDER_MARK))
        line.remove_prefix(BYTE_ORDER_MARK.size());
    if (const auto reason = utf8_error(line)) return refuse(Refusal::LineNotUtf8, *reason);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (strip(line).empty()) return std::optional<LineRecord>();
    if (!split_fields(line, separator_, fields_, unquoted_)) return refuse(Refusal::QuoteUnclosed);
    if (number_ == 1 && fields_.size() == 3 && fields_[0] == "term" && fields_[1] == "video" &&
        fields_[2] == "count") {
        return std::optional<LineRecord>();
    }
    if (fields_.size() != 3) {
        RowRefusal refusal = refuse(Refusal::FieldCount);
        refusal.number = fields_.size();
        return refusal;
    }
    LineRecord record;
    record.term = fields_[0];
    const std::string_view video = strip(fields_[1]);
    const std::string_view count = strip(fields_[2]);
    record.integer_id = is_ascii_digits(video);
    if (!record.integer_id && video.starts_with('-') && is_ascii_digits(video.substr(1)) &&
        decimal(video.substr(1)) != "0") {
        return refuse(Refusal::VideoNegative, video);
    }
    if (!is_ascii_digits(count)) return refuse(Refusal::CountNotWholeNumber, count);
    if (auto refusal = check_terms_ ? term_refusal(record.term) : std::nullopt) {
        refusal->where = number_;
        return *std::move(refusal);
    }
    const std::optional<std::uint32_t> count_value = u32_of(count);
    if (!count_value) return refuse(Refusal::CountOutOfRange, decimal(count));
    record.count = *count_value;

    if (record.integer_id) {
        const std::optional<std::uint32_t> id = u32_of(video);
        if (!id) return refuse(Refusal::VideoOutOfRange, decimal(video));
        record.id = *id;
    } else {
        const std::optional<VideoUuid> uuid = parse_uuid_text(video);
        if (!uuid) return refuse(Refusal::VideoNotUuid, video);
        record.uuid = *uuid;
    }
    const std::uint8_t kind = record.integer_id ? INTEGER_KIND : UUID_KIND;
    if (kind_ == NO_KIND) kind_ = kind;
    if (kind_ != kind) {
        RowRefusal refusal =
            refuse(Refusal::VideoKindMismatch, record.integer_id ? decimal(video) : video);
        refusal.is_integer = record.integer_id;
        return refusal;
    }
    return std::optional<LineRecord>(record);
}

ColumnChunk TextRecords::chunk() const {
    ColumnChunk chunk;
    chunk.length = static_cast<std::int64_t>(counts.size());
    chunk.terms.layout = TextLayout::Offsets64;
    chunk.terms.offsets = term_ends.data();
    chunk.terms.data = term_bytes.data();
    chunk.terms.data_size = static_cast<std::int64_t>(term_bytes.size());
    IntColumn u32s;
    u32s.width = 4;
    u32s.is_signed = false;
    if (!uuids.empty()) {
        UuidColumn videos;
        videos.values = reinterpret_cast<const std::uint8_t*>(uuids.data());
        chunk.videos = videos;
    } else {
        u32s.values = integer_ids.data();
        chunk.videos = u32s;
    }
    u32s.values = counts.data();
    chunk.counts = u32s;
    return chunk;
}

Result<TextRecords, RowRefusal> parse_text_records(std::span<const std::uint8_t> bytes,
                                                   Separator separator, bool with_lines,
                                                   bool check_terms,
                                                   const InterruptCheck& interrupt) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TextRecords records;
    RecordLines lines(separator, check_terms);
    InterruptPoll poll(interrupt);
    while (!text.empty()) {
        poll();
        const std::size_t newline = text.find('\n');
        const std::size_t length = newline == std::string_view::npos ? text.size() : newline + 1;
        auto read = lines.read(text.substr(0, length));
        text.remove_prefix(length);
        if (!read.ok()) return read.error();
        if (!read.value()) continue;
        const LineRecord& record = *read.value();
        records.term_bytes.append(record.term);
        records.term_ends.push_back(static_cast<std::int64_t>(records.term_bytes.size()));
        if (record.integer_id) {
            records.integer_ids.push_back(record.id);
        } else {
            records.uuids.push_back(record.uuid);
        }
        records.counts.push_back(record.count);
        if (with_lines) records.lines.push_back(lines.number());
    }
    return records;
}

}  // namespace kelnor::columns
