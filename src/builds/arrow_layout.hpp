// The checks an Arrow array passes before any of its buffers is read.
//
// The C data interface gives no buffer sizes: a producer promises them with
// the array's offset and length (each buffer holds the entries up to
// offset + length, offsets one more), and for the offset layouts with the
// last offset (the data buffer holds that many bytes). Those promises are
// taken; everything else the array says of itself is checked against them:
// a length and an offset that are not negative and whose entries memory can
// hold, the number of buffers and of children that the type has, a buffer
// list, a null count that fits the rows and has a validity bitmap, and a
// buffer for every buffer that the rows read. The offsets themselves are
// checked row by row as they are read (`TextColumn::at`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "builds/arrow_c_data.hpp"

namespace kelnor::columns {

// What a type asks of an array's structure.
struct ArrayLayout {
    std::int64_t buffers = 2;  // exactly this many, or at least this many when `variadic`
    bool variadic = false;
    std::size_t entry_bytes = 0;  // bytes of an entry of buffer 1 (values, offsets or views)
    bool extra_entry = false;     // offsets: one entry more than the rows
};

// Nothing when `array` keeps `layout`, else why not: `what` names the column
// and `type` its type in the message.
std::optional<std::string> layout_error(const ArrowArray& array, const ArrayLayout& layout,
                                        std::string_view type, const std::string& what);

// Nothing when the rows offset .. offset + length of a struct array (a
// table's batch) lie within its child `child` (named `what`), else why not.
std::optional<std::string> child_length_error(const ArrowArray& batch, const ArrowArray& child,
                                              const std::string& what);

}  // namespace kelnor::columns
