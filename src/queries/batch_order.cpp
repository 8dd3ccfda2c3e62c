#include "queries/batch_order.hpp"

#include <algorithm>
#include <cstdint>

namespace kelnor {
namespace {

// A text's first 8 bytes as one number that orders as they do, the bytes
// past its end as zeros: a 16-byte record to sort instead of comparing texts.
std::uint64_t leading_bytes(std::string_view text) noexcept {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        key = key << 8 | (k < text.size() ? static_cast<unsigned char>(text[k]) : 0u);
    }
    return key;
}

}  // namespace

std::vector<std::size_t> answering_order(std::span<const std::string_view> texts) {
    struct Keyed {
        std::uint64_t key;
        std::size_t position;
    };
    std::vector<Keyed> keyed(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) keyed[k] = {leading_bytes(texts[k]), k};
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.key != b.key ? a.key < b.key : a.position < b.position;
    });
    std::vector<std::size_t> order(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) order[k] = keyed[k].position;
    return order;
}

}  // namespace kelnor
