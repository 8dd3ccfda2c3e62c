#include "builds/arrow_layout.hpp"

#include <cstddef>
#include <limits>

namespace kelnor::columns {
namespace {

using namespace std::string_literals;

std::string number(std::int64_t value) {
    return std::to_string(value);
}

// "1 row", "3 rows".
std::string counted(std::int64_t value, std::string_view one, std::string_view many) {
    return number(value) + " " + std::string(value == 1 ? one : many);
}

// Whether `entries` entries of `bytes` bytes each fit the address space, so
// that no pointer to one of them overflows.
bool addressable(std::int64_t entries, std::size_t bytes) {
    constexpr auto MOST = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
    return static_cast<std::uint64_t>(entries) <= MOST / (bytes == 0 ? 1 : bytes);
}

}  // namespace

std::optional<std::string> layout_error(const ArrowArray& array, const ArrayLayout& layout,
                                        std::string_view type, const std::string& what) {
    const std::string sizes =
        " (length "s + number(array.length) + ", offset " + number(array.offset) + ")";
    if (array.length < 0 || array.offset < 0) {
        return what + " has a negative length or offset" + sizes;
    }
    const std::int64_t extra = layout.extra_entry ? 1 : 0;
    if (array.length > std::numeric_limits<std::int64_t>::max() - extra - array.offset ||
        !addressable(array.offset + array.length + extra, layout.entry_bytes)) {
        return what + " has more entries than memory can hold" + sizes;
    }
    if (layout.variadic ? array.n_buffers < layout.buffers : array.n_buffers != layout.buffers) {
        return what + " has " + counted(array.n_buffers, "buffer", "buffers") + " where " +
               std::string(type) + " has " + (layout.variadic ? "at least " : "") +
               number(layout.buffers);
    }
    if (array.buffers == nullptr) {
        return what + " has " + counted(array.n_buffers, "buffer", "buffers") +
               " but no list of them";
    }
    if (array.n_children != 0) {
        return what + " has " + counted(array.n_children, "child", "children") + " where " +
               std::string(type) + " has none";
    }
    if (array.null_count < -1 || array.null_count > array.length) {
        return what + " counts " + counted(array.null_count, "null", "nulls") + " in " +
               counted(array.length, "row", "rows");
    }
    if (array.null_count > 0 && array.buffers[0] == nullptr) {
        return what + " counts " + counted(array.null_count, "null", "nulls") +
               " but has no validity bitmap";
    }
    if (array.length > 0 && array.buffers[1] == nullptr) {
        return what + " has no buffer of its " + counted(array.length, "row", "rows");
    }
    return std::nullopt;
}

std::optional<std::string> child_length_error(const ArrowArray& batch, const ArrowArray& child,
                                              const std::string& what) {
    // The batch's own offset and length are not negative and do not overflow
    // (read_stream checks them first).
    if (child.length >= batch.offset + batch.length) return std::nullopt;
    return what + " has " + counted(child.length, "entry", "entries") + " where its batch reads " +
           number(batch.offset + batch.length) + " (offset " + number(batch.offset) + ", length " +
           number(batch.length) + ")";
}

}  // namespace kelnor::columns
