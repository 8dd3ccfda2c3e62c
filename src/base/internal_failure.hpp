// The one exception type of the core: a violated invariant inside a call.
//
// The core reports expected failures (bad input, undecodable images) as
// values. InternalFailure is only for states that a well-formed index cannot
// reach, such as an index read outside an array of a damaged image; the
// binding layer turns it into the module's panic exception and the index stays
// usable.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <utility>

namespace kelnor {

class InternalFailure : public std::exception {
  public:
    explicit InternalFailure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

[[noreturn]] inline void fail_index_out_of_bounds(std::size_t len, std::size_t index) {
    throw InternalFailure("index out of bounds: the len is " + std::to_string(len) +
                          " but the index is " + std::to_string(index));
}

// Bounds-checked element access for arrays whose invariants come from
// untrusted input (a restored image may break any of them).
template <class Array>
decltype(auto) checked_at(const Array& array, std::size_t index) {
    if (index >= array.size()) fail_index_out_of_bounds(array.size(), index);
    return array[index];
}

}  // namespace kelnor
