// Fuzz target: an index image from untrusted bytes.
//
// Input: the query parameters (every_query.hpp), then the image. A decode
// either fails with an error value or restores an index; every kind of query
// then runs on it (raising InternalFailure is the expected outcome on a
// damaged index, anything else is a finding), and the index is re-encoded:
// decoding that image and encoding again must give the same bytes. The same
// bytes are then offered as its own counts section, which is refused with a
// reason or taken, and the queries run again on the counts it gave.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "every_query.hpp"
#include "fuzz_input.hpp"
#include "index/trie/own_counts_section.hpp"
#include "index/trie/trie_image.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelnor;
    fuzz::FuzzInput input(std::span<const std::uint8_t>(data, size));
    const fuzz::QueryParameters query = fuzz::take_query_parameters(input);

    Result<Trie, DecodeError> decoded = decode_trie(input.rest());
    if (!decoded.ok()) {
        if (render(decoded.error()).empty()) fuzz::finding("a decode error without text");
        return 0;
    }
    const Trie& trie = decoded.value();
    fuzz::run_every_query(trie, query, fuzz::Damage::Possible);

    const std::vector<std::uint8_t> image = encode_trie(trie);
    Result<Trie, DecodeError> again = decode_trie(image);
    if (!again.ok()) fuzz::finding("the image of a restored index does not decode");
    if (encode_trie(again.value()) != image) fuzz::finding("the image does not round-trip");

    Trie counted = std::move(again).value();
    if (const auto refusal = restore_own_counts(counted, input.rest())) {
        if (refusal->empty()) fuzz::finding("a counts section refused without a reason");
        return 0;
    }
    fuzz::run_every_query(counted, query, fuzz::Damage::Possible);
    return 0;
}
