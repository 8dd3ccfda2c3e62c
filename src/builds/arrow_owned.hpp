// Arrow structs taken over from their producer: each is released, as the C
// data interface requires of its consumer, when its owner goes away.
#pragma once

#include <utility>

#include "builds/arrow_c_data.hpp"

namespace kelnor::columns {

template <class Struct>
class ArrowOwned {
  public:
    ArrowOwned() noexcept { value_.release = nullptr; }
    // Takes `source` over, marking it released as the interface's moves do.
    explicit ArrowOwned(Struct& source) noexcept : value_(source) { source.release = nullptr; }
    ArrowOwned(ArrowOwned&& other) noexcept : value_(other.value_) {
        other.value_.release = nullptr;
    }
    ArrowOwned& operator=(ArrowOwned&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ArrowOwned(const ArrowOwned&) = delete;
    ArrowOwned& operator=(const ArrowOwned&) = delete;
    ~ArrowOwned() {
        if (value_.release != nullptr) value_.release(&value_);
    }

    Struct& get() noexcept { return value_; }
    const Struct& get() const noexcept { return value_; }

  private:
    Struct value_;
};

using OwnedSchema = ArrowOwned<ArrowSchema>;
using OwnedArray = ArrowOwned<ArrowArray>;
using OwnedStream = ArrowOwned<ArrowArrayStream>;

}  // namespace kelnor::columns
