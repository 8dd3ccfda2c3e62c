// Entry points of the PrefixSearch methods, one per row of the method table
// (prefix_search_type.cpp). Each runs its body under call_guarded().
#pragma once

#include <Python.h>

namespace kelnor::py {

PyObject* from_internal_data_v2(PyObject* unused, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* keyword_names);
PyObject* to_bytes(PyObject* self, PyObject* unused);
PyObject* from_bytes(PyObject* unused, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* keyword_names);
PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names);
PyObject* fuzzy_match_video(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* keyword_names);
PyObject* suggest(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names);
PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names);
// The batch calls (batch_methods.cpp): one query per text, on native threads.
PyObject* fuzzy_match_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* keyword_names);
PyObject* fuzzy_match_video_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* keyword_names);
PyObject* suggest_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* keyword_names);
PyObject* search_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names);
// The module's _search_words(text): the words that search() takes apart.
PyObject* search_words(PyObject* unused, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* keyword_names);
PyObject* own_counts(PyObject* self, PyObject* unused);
PyObject* spellings(PyObject* self, PyObject* unused);
PyObject* is_folded(PyObject* self, PyObject* unused);
PyObject* restore(PyObject* unused, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* keyword_names);
PyObject* with_word_starts(PyObject* self, PyObject* unused);
PyObject* has_word_starts(PyObject* self, PyObject* unused);

}  // namespace kelnor::py
