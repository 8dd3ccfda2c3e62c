#include "builds/column_texts.hpp"

#include "index/encoding/utf8.hpp"

namespace kelnor::columns {
namespace {

bool is_utf8(std::string_view text) noexcept {
    std::span<const std::uint8_t> bytes = utf8_bytes(text);
    while (!bytes.empty()) {
        if (bytes[0] < 0x80) {
            bytes = bytes.subspan(1);
            continue;
        }
        const Utf8Sequence sequence = decode_utf8_sequence(bytes);
        if (sequence.status != Utf8Status::Decoded) return false;
        bytes = bytes.subspan(sequence.length);
    }
    return true;
}

}  // namespace

std::optional<TextRowRefusal> append_texts(std::span<const ColumnPiece<TextColumn>> pieces,
                                           std::vector<std::string_view>& texts,
                                           const InterruptCheck& interrupt) {
    InterruptPoll poll(interrupt);
    for (const ColumnPiece<TextColumn>& piece : pieces) {
        for (std::int64_t row = 0; row < piece.length; ++row) {
            poll();
            const TextAt text = piece.view.at(row);
            const std::size_t position = texts.size();
            switch (text.state) {
                case TextAt::State::Null:
                    return TextRowRefusal{TextRowRefusal::Kind::Null, position};
                case TextAt::State::Damaged:
                    return TextRowRefusal{TextRowRefusal::Kind::Damaged, position};
                case TextAt::State::Present:
                    break;
            }
            if (!is_utf8(text.text)) return TextRowRefusal{TextRowRefusal::Kind::NotUtf8, position};
            texts.push_back(text.text);
        }
    }
    return std::nullopt;
}

}  // namespace kelnor::columns
