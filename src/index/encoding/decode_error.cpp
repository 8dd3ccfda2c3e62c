#include "index/encoding/decode_error.hpp"

namespace kelnor {
namespace {

std::string_view name_of(IntegerType type) {
    switch (type) {
        case IntegerType::U32:
            return "U32";
        case IntegerType::U64:
            return "U64";
        case IntegerType::U128:
            return "U128";
        case IntegerType::Reserved:
            return "Reserved";
    }
    return "Reserved";
}

std::string render_kind(const UnexpectedEnd& error) {
    return "UnexpectedEnd { additional: " + std::to_string(error.additional) + " }";
}

std::string render_kind(const InvalidIntegerType& error) {
    std::string text = "InvalidIntegerType { expected: ";
    text.append(name_of(error.expected)).append(", found: ").append(name_of(error.found));
    return text + " }";
}

std::string render_kind(const UnexpectedVariant& error) {
    std::string text = "UnexpectedVariant { type_name: \"";
    text.append(error.type_name);
    text += "\", allowed: Range { min: " + std::to_string(error.allowed.min) +
            ", max: " + std::to_string(error.allowed.max) +
            " }, found: " + std::to_string(error.found) + " }";
    return text;
}

std::string render_kind(const InvalidCharEncoding& error) {
    std::string text = "InvalidCharEncoding([";
    for (std::size_t i = 0; i < error.bytes.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(error.bytes[i]);
    }
    return text + "])";
}

std::string render_kind(const InvalidBooleanValue& error) {
    return "InvalidBooleanValue(" + std::to_string(error.value) + ")";
}

std::string render_kind(const OutsideUsizeRange& error) {
    return "OutsideUsizeRange(" + std::to_string(error.count) + ")";
}

}  // namespace

std::string render(const DecodeError& error) {
    return std::visit([](const auto& kind) { return render_kind(kind); }, error);
}

}  // namespace kelnor
