#include "index/trie/own_counts_section.hpp"

#include "index/encoding/encode_to_vec.hpp"
#include "index/encoding/reader.hpp"
#include "index/encoding/value_writers.hpp"

namespace kelnor {

std::vector<std::uint8_t> encode_own_counts(const Trie& trie) {
    return encode_to_vec([&trie](auto& sink) {
        for (std::size_t node = 0; node < trie.term_counts.nodes.size(); ++node) {
            if (trie.is_terminal[node]) varint_encode_u64(sink, trie.term_counts.nodes[node].own);
        }
    });
}

std::optional<std::string> restore_own_counts(Trie& trie, std::span<const std::uint8_t> bytes) {
    if (!takes_exact_counts(trie)) {
        return "the image is not one that a build makes, and takes no exact counts";
    }
    const std::size_t node_count = trie.node_shifts.size();
    std::vector<TermCount> own(node_count, 0);
    Reader reader(bytes);
    std::size_t terms = 0;
    for (std::size_t node = 0; node < node_count; ++node) {
        if (!trie.is_terminal[node]) continue;
        if (!reader.read_varint_u64(own[node])) {
            return "the counts end at term " + std::to_string(terms) + " (" +
                   render(reader.error()) + ")";
        }
        ++terms;
    }
    if (reader.remaining() != 0) {
        return std::to_string(reader.remaining()) + " bytes follow the counts of the image's " +
               std::to_string(terms) + " terms";
    }
    trie.term_counts = term_counts_of(trie, own);
    return std::nullopt;
}

}  // namespace kelnor
