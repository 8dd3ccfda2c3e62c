// The order in which a batch answers its inputs: sorted by text, so that
// neighbouring queries walk the same parts of the index while those are still
// in the processor's caches (on misspelt words a fifth to a quarter off each
// query's time), and so that a text that comes again, as the texts of a query
// log do, is asked once. The answers still go back in input order.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace kelnor {

struct AnsweringOrder {
    // The input positions, ordered by text (bytes compared unsigned, a
    // shorter text first), equal texts in input order.
    std::vector<std::size_t> inputs;
    // For each place p of `inputs`, the first place of its run of equal
    // texts: p for a text not seen before, which is asked; an earlier place
    // for a repeat, which takes that place's answer.
    std::vector<std::size_t> asked_at;
};

AnsweringOrder answering_order(std::span<const std::string_view> texts);

}  // namespace kelnor
