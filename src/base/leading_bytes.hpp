// A text's first 8 bytes as one number that orders as they do (each byte
// unsigned, the bytes past its end as zeros): sorts of texts compare these
// numbers first, and most comparisons end there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelnor {

inline std::uint64_t leading_bytes(std::string_view text) noexcept {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        key = key << 8 | (k < text.size() ? static_cast<unsigned char>(text[k]) : 0u);
    }
    return key;
}

}  // namespace kelnor
