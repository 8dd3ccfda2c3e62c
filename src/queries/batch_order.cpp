#include "queries/batch_order.hpp"

#include <algorithm>
#include <cstdint>

namespace kelnor {
namespace {

// A text's first 8 bytes as one number that orders as they do, the bytes
// past its end as zeros: most comparisons of the sort end on these numbers.
std::uint64_t leading_bytes(std::string_view text) noexcept {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        key = key << 8 | (k < text.size() ? static_cast<unsigned char>(text[k]) : 0u);
    }
    return key;
}

}  // namespace

AnsweringOrder answering_order(std::span<const std::string_view> texts) {
    struct Keyed {
        std::uint64_t key;
        std::size_t position;
    };
    std::vector<Keyed> keyed(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) keyed[k] = {leading_bytes(texts[k]), k};
    // std::string_view compares its chars as unsigned, as the keys do.
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        const int order = texts[a.position].compare(texts[b.position]);
        return order != 0 ? order < 0 : a.position < b.position;
    });
    AnsweringOrder answering;
    answering.inputs.resize(texts.size());
    answering.asked_at.resize(texts.size());
    for (std::size_t p = 0; p < texts.size(); ++p) {
        answering.inputs[p] = keyed[p].position;
        const bool repeat = p > 0 && keyed[p].key == keyed[p - 1].key &&
                            texts[keyed[p].position] == texts[keyed[p - 1].position];
        answering.asked_at[p] = repeat ? answering.asked_at[p - 1] : p;
    }
    return answering;
}

}  // namespace kelnor
