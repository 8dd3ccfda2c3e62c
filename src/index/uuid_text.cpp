#include "index/uuid_text.hpp"

#include <cstddef>
#include <string>

namespace kelnor {
namespace {

// Python's str.replace(found, ""): one pass, left to right, no overlaps.
std::string without(std::string_view text, std::string_view found) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.substr(at, found.size()) == found) {
            at += found.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

// The ASCII characters that Python's int() takes as space around its
// digits: not the information separators U+001C to U+001F, which str.strip()
// takes but int() keeps as they are, and so refuses.
bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// int(text, 16) of text of at most 32 characters, so at most 128 bits.
std::optional<VideoUuid> parse_hex_int(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        if (text.front() == '-') return std::nullopt;  // never left by the hyphen removal
        text.remove_prefix(1);
    }
    bool underscore_allowed = false;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        underscore_allowed = true;
    }
    VideoUuid value{};
    bool any_digit = false;
    for (const char c : text) {
        if (c == '_') {
            if (!underscore_allowed) return std::nullopt;
            underscore_allowed = false;
            continue;
        }
        const int digit = hex_value(c);
        if (digit < 0) return std::nullopt;
        for (std::size_t i = 0; i + 1 < value.size(); ++i) {
            value[i] = static_cast<std::uint8_t>(value[i] << 4 | value[i + 1] >> 4);
        }
        value.back() = static_cast<std::uint8_t>(value.back() << 4 | digit);
        any_digit = true;
        underscore_allowed = true;
    }
    // A trailing underscore (or one right after the prefix with no digit).
    if (!any_digit || (!text.empty() && text.back() == '_')) return std::nullopt;
    return value;
}

// The usual form, 32 hex digits with hyphens after the 8th, 12th, 16th and
// 20th, read without the general steps' copies.
std::optional<VideoUuid> parse_canonical(std::string_view text) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    VideoUuid value{};
    std::size_t nibble = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (at == 8 || at == 13 || at == 18 || at == 23) continue;
        const int digit = hex_value(text[at]);
        if (digit < 0) return std::nullopt;
        value[nibble / 2] = static_cast<std::uint8_t>(value[nibble / 2] << 4 | digit);
        ++nibble;
    }
    return value;
}

}  // namespace

std::optional<VideoUuid> parse_uuid_text(std::string_view text) {
    if (const auto canonical = parse_canonical(text)) return canonical;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    }
    std::string hex = without(without(text, "urn:"), "uuid:");
    const std::size_t first = hex.find_first_not_of("{}");
    if (first == std::string::npos) return std::nullopt;
    hex = hex.substr(first, hex.find_last_not_of("{}") - first + 1);
    std::erase(hex, '-');
    if (hex.size() != 32) return std::nullopt;
    return parse_hex_int(hex);
}

std::string uuid_text(const VideoUuid& bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) text.push_back('-');
        text.push_back(DIGITS[bytes[k] >> 4]);
        text.push_back(DIGITS[bytes[k] & 0x0F]);
    }
    return text;
}

}  // namespace kelnor
