// What a walk calls for each node within the bound (see trie_walk.hpp), held
// as a function pointer and the caller's callable rather than as a template
// parameter: the walks are then compiled once per bound, metric and
// instruction set instead of once more per caller, which kept most of the
// module's code in copies of the fast walk, and a hit costs one indirect
// call, little beside the visits that a walk makes per hit.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

namespace kelnor {

class HitReporter {
  public:
    // Refers to `report`, which must outlive the reporter: pass a callable
    // straight to a walk, which converts it implicitly.
    template <class Report,
              class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<Report>, HitReporter>>>
    HitReporter(Report&& report) noexcept
        : context_(const_cast<void*>(static_cast<const void*>(std::addressof(report)))),
          call_(&call<std::remove_reference_t<Report>>) {}

    // `report(node, distance, path, label)`, as walk_within_distance() describes.
    bool operator()(std::uint32_t node, std::uint32_t distance, std::span<const char32_t> path,
                    char32_t label) const {
        return call_(context_, node, distance, path, label);
    }

  private:
    template <class Report>
    static bool call(void* context, std::uint32_t node, std::uint32_t distance,
                     std::span<const char32_t> path, char32_t label) {
        return (*static_cast<Report*>(context))(node, distance, path, label);
    }

    void* context_;
    bool (*call_)(void*, std::uint32_t, std::uint32_t, std::span<const char32_t>, char32_t);
};

}  // namespace kelnor
