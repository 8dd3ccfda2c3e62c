// Why an index image could not be decoded, and the fixed text of each reason.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace kelnor {

// Integer kinds named by the marker byte of a variable-length integer.
enum class IntegerType { U32, U64, U128, Reserved };

// The input ended inside a value; `additional` bytes were missing.
struct UnexpectedEnd {
    std::size_t additional = 0;
};

// A variable-length integer announced a type wider than the one being read.
struct InvalidIntegerType {
    IntegerType expected = IntegerType::U32;
    IntegerType found = IntegerType::U32;
};

// The inclusive range of variant numbers an enumeration or option tag allows.
struct AllowedEnumVariants {
    std::uint32_t min = 0;
    std::uint32_t max = 0;
};

// An enumeration's variant number or an option's tag was out of range.
// `type_name` must refer to text that outlives the error (a literal).
struct UnexpectedVariant {
    std::string_view type_name;
    AllowedEnumVariants allowed;
    std::uint32_t found = 0;
};

// A character was not valid UTF-8: the bytes read, zero-padded to four.
struct InvalidCharEncoding {
    std::array<std::uint8_t, 4> bytes{};
};

// A boolean byte was neither 0 nor 1.
struct InvalidBooleanValue {
    std::uint8_t value = 0;
};

// A sequence count did not fit the 32-bit size range.
struct OutsideUsizeRange {
    std::uint64_t count = 0;
};

using DecodeError = std::variant<UnexpectedEnd, InvalidIntegerType, UnexpectedVariant,
                                 InvalidCharEncoding, InvalidBooleanValue, OutsideUsizeRange>;

// The error as shown to users, e.g. "UnexpectedEnd { additional: 1 }".
std::string render(const DecodeError& error);

}  // namespace kelnor
