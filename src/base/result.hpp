// A value or the reason there is none: how the core returns expected failures.
#pragma once

#include <utility>
#include <variant>

namespace kelnor {

template <class T, class E>
class Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const E& error() const& { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

}  // namespace kelnor
