#include "builds/term_check.hpp"

#include <string>

#include "index/encoding/utf8.hpp"

namespace kelnor::columns {
namespace {

// The surrogate that three bytes spell the way UTF-8 would spell any other
// value below U+10000 (ED A0..BF 80..BF), or 0.
char32_t encoded_surrogate(std::string_view bytes) {
    if (bytes.size() < 3) return 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    if (byte(0) != 0xED || byte(1) < 0xA0 || byte(1) > 0xBF || (byte(2) & 0xC0) != 0x80) {
        return 0;
    }
    return 0xD000 | (char32_t{byte(1)} & 0x3F) << 6 | (char32_t{byte(2)} & 0x3F);
}

}  // namespace

std::optional<RowRefusal> term_refusal(std::string_view term) {
    if (term.empty()) return RowRefusal{Refusal::TermEmpty};
    if (term.size() > MAX_TERM_BYTES) {
        RowRefusal refusal{Refusal::TermTooLong};
        refusal.number = term.size();
        return refusal;
    }
    std::size_t at = 0;
    while (at < term.size()) {
        const unsigned char lead = static_cast<unsigned char>(term[at]);
        if (lead != 0 && lead < 0x80) {
            ++at;
            continue;
        }
        const std::string_view rest = term.substr(at);
        const Utf8Sequence sequence = decode_utf8_sequence(utf8_bytes(rest));
        if (sequence.status == Utf8Status::Decoded && sequence.code_point != 0) {
            at += sequence.length;
            continue;
        }
        const char32_t surrogate = encoded_surrogate(rest);
        if (sequence.status == Utf8Status::Decoded || surrogate != 0) {
            RowRefusal refusal(Refusal::TermUnstorable, 0, std::string(term));
            refusal.code_point = surrogate;  // 0: a NUL
            return refusal;
        }
        return RowRefusal{Refusal::TermNotUtf8, 0, std::string(term)};
    }
    return std::nullopt;
}

}  // namespace kelnor::columns
