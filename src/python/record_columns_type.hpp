// _kelnor._RecordColumns, the kelnor package's record path: (term, video id,
// count) records checked one by one (record_reader.hpp) and gathered into the
// columns of the native build, which builds the index from them or lays out
// the arrays that PrefixSearch.from_internal_data_v2 takes.
#pragma once

#include <Python.h>

namespace kelnor::py {

// The type object, created once per process on first use.
PyTypeObject* record_columns_type();

}  // namespace kelnor::py
