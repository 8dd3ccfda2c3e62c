// The rows of a build once gathered: every term once, the videos in order of
// first appearance, and each row as ids into them. The columns gather one
// row per row they hold; a records file read as a stream gathers one per
// distinct (term, video) pair, with the sum of its counts, so that its
// memory grows with the pairs and not with the file.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "builds/video_index.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::columns {

// A row of the columns: its term id, video position and count.
struct CountedRow {
    std::uint32_t term;
    std::uint32_t video;
    std::uint32_t count;
};

// The rows of one (term, video) pair, as the exact sum of their counts.
struct SummedRow {
    std::uint32_t term;
    std::uint32_t video;
    std::uint64_t sum;
};

template <class Row>
struct Gathered {
    std::vector<std::string_view> terms;  // by term id; any order, each term once
    std::vector<Row> rows;
    VideoTable videos;
};

// The index of the gathered rows with `top_n` videos kept per node, asking
// `interrupt` as it goes (Interrupted when it says stop).
Trie build_gathered(Gathered<CountedRow> all, std::uint32_t top_n, const InterruptCheck& interrupt);
Trie build_gathered(Gathered<SummedRow> all, std::uint32_t top_n, const InterruptCheck& interrupt);

}  // namespace kelnor::columns
