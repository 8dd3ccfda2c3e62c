// A stack of plain values whose storage starts with room for a typical walk
// and doubles when full; pushing is a compare and a store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace kelnor {

template <class T>
class GrowingStack {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    explicit GrowingStack(std::size_t capacity)
        : items_(std::make_unique_for_overwrite<T[]>(capacity)), capacity_(capacity) {}

    bool empty() const noexcept { return size_ == 0; }

    void push(const T& item) {
        if (size_ == capacity_) grow();
        items_[size_++] = item;
    }

    T pop() noexcept { return items_[--size_]; }

  private:
    void grow() {
        auto larger = std::make_unique_for_overwrite<T[]>(capacity_ * 2);
        std::copy(items_.get(), items_.get() + size_, larger.get());
        items_ = std::move(larger);
        capacity_ *= 2;
    }

    std::unique_ptr<T[]> items_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

}  // namespace kelnor
