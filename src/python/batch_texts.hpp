// The texts of a batch call: the items of a sequence of str, or the rows of
// an Arrow string column, as UTF-8 views that stay valid while the batch
// runs without the interpreter lock (the items, or the Arrow arrays, are held
// here: another thread emptying the host's list frees nothing viewed).
//
// An element that is no text does not fail the read: the texts before it are
// kept, and its error, which names its position ("argument 'terms[3]': ..."),
// is raised once they are answered, so that a batch raises exactly what a
// loop of single calls raises first.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python/arrow_column.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

class BatchTexts {
  public:
    // Reads the argument `name` (raises for the argument as a whole: neither
    // a sequence nor an Arrow column, a column of another type).
    BatchTexts(const char* name, PyObject* given);

    // The texts up to the first element that is no text.
    std::span<const std::string_view> texts() const noexcept { return texts_; }
    // Raises the error of the element after texts(), if there is one.
    void raise_refusal();

  private:
    void read_sequence(PyObject* sequence);
    // Reads the capsules that `export_method` (__arrow_c_array__ or
    // __arrow_c_stream__, bound) gives.
    void read_arrow(PyObject* export_method);
    // The name of element `position` in messages: "terms[3]".
    std::string element_name(std::size_t position) const;
    // Keeps the pending exception as the refusal of element `position`.
    void refuse(std::size_t position);

    const char* name_;
    std::vector<PyRef> items_;
    HeldColumn arrow_;
    std::vector<std::string_view> texts_;
    PyRef refusal_;
};

}  // namespace kelnor::py
