// The module's functions that build an index natively from columns: from an
// Arrow stream (a table), from three columns (Arrow arrays or integer
// buffers), and from the bytes of a records file; the sizes of an index
// that the command line reports; and the words that a search takes apart.
#pragma once

#include <Python.h>

namespace kelnor::py {

// The module's method table: these functions, ended by a null entry.
PyMethodDef* column_functions();

}  // namespace kelnor::py
