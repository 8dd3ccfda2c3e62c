#include "python/prefix_search_type.hpp"
#include "python/binder.hpp"

#include <new>
#include <utility>

#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/methods.hpp"

namespace kelnor::py {
namespace {

constexpr std::uint32_t EXCLUSIVE = ~std::uint32_t{0};

// The interpreter derives __text_signature__ from the part before "\n--\n\n";
// the empty part after it leaves __doc__ None.
PyMethodDef methods[] = {
    {"from_internal_data_v2", as_cfunction(from_internal_data_v2),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_internal_data_v2(node_shifts, child_labels, payloads, child_transitions, video_index, "
     "video_top_n)\n--\n\n"},
    {"to_bytes", as_cfunction(to_bytes), METH_NOARGS, "to_bytes($self)\n--\n\n"},
    {"from_bytes", as_cfunction(from_bytes), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_bytes(b)\n--\n\n"},
    {"fuzzy_match", as_cfunction(fuzzy_match), METH_FASTCALL | METH_KEYWORDS,
     "fuzzy_match(term, max_dist=1, limit=None)\n--\n\n"},
    {"fuzzy_match_video", as_cfunction(fuzzy_match_video), METH_FASTCALL | METH_KEYWORDS,
     "fuzzy_match_video(term, max_dist=1, limit=None, include_prefix_nodes=None, "
     "min_score=None)\n--\n\n"},
    {"suggest", as_cfunction(suggest), METH_FASTCALL | METH_KEYWORDS,
     "suggest($self, text, max_dist=None, limit=10, *, complete=True, transpositions=True)"
     "\n--\n\n"},
    {"search", as_cfunction(search), METH_FASTCALL | METH_KEYWORDS,
     "search($self, text, max_dist=None, limit=10, *, complete=True, transpositions=True, "
     "min_score=0.0)\n--\n\n"},
    {"fuzzy_match_many", as_cfunction(fuzzy_match_many), METH_FASTCALL | METH_KEYWORDS,
     "fuzzy_match_many($self, terms, max_dist=1, limit=None, *, workers=1)\n--\n\n"},
    {"fuzzy_match_video_many", as_cfunction(fuzzy_match_video_many), METH_FASTCALL | METH_KEYWORDS,
     "fuzzy_match_video_many($self, terms, max_dist=1, limit=None, include_prefix_nodes=None, "
     "min_score=None, *, workers=1)\n--\n\n"},
    {"suggest_many", as_cfunction(suggest_many), METH_FASTCALL | METH_KEYWORDS,
     "suggest_many($self, texts, max_dist=None, limit=10, *, complete=True, "
     "transpositions=True, workers=1)\n--\n\n"},
    {"search_many", as_cfunction(search_many), METH_FASTCALL | METH_KEYWORDS,
     "search_many($self, texts, max_dist=None, limit=10, *, complete=True, transpositions=True, "
     "min_score=0.0, workers=1)\n--\n\n"},
    {"_own_counts", as_cfunction(own_counts), METH_NOARGS, "_own_counts($self)\n--\n\n"},
    {"_spellings", as_cfunction(spellings), METH_NOARGS, "_spellings($self)\n--\n\n"},
    {"_is_folded", as_cfunction(is_folded), METH_NOARGS, "_is_folded($self)\n--\n\n"},
    {"_restore", as_cfunction(restore), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "_restore(image, own_counts, spellings)\n--\n\n"},
    {"_with_word_starts", as_cfunction(with_word_starts), METH_NOARGS,
     "_with_word_starts($self)\n--\n\n"},
    {"_has_word_starts", as_cfunction(has_word_starts), METH_NOARGS,
     "_has_word_starts($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    return call_guarded([&]() -> PyRef {
        PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
        if (name && PyUnicode_Check(name.get())) {
            PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
        } else {
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError, "No constructor defined for <unknown>");
        }
        throw_python_error();
    });
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    // The instance's reference to its (heap) type is dropped only after the
    // memory is freed through that type.
    Py_INCREF(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    auto* object = reinterpret_cast<PrefixSearchObject*>(self);
    object->value.~PrefixSearch();
    using Counter = std::atomic<std::uint32_t>;
    object->borrow_count.~Counter();
    if (type->tp_free == nullptr) Py_FatalError("PyBaseObject_Type should have tp_free");
    type->tp_free(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));
    Py_DECREF(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PrefixSearch",
    static_cast<int>(sizeof(PrefixSearchObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

}  // namespace

PyTypeObject* prefix_search_type() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) {
        PyObject* created = PyType_FromSpec(&spec);
        if (created == nullptr) {
            PyErr_Print();
            throw InternalFailure("failed to create type object for PrefixSearch");
        }
        type = reinterpret_cast<PyTypeObject*>(created);
    }
    return type;
}

PyRef make_instance(PrefixSearch&& value) {
    PyTypeObject* type = prefix_search_type();
    allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    PyRef object = check(alloc(type, 0));
    auto* instance = reinterpret_cast<PrefixSearchObject*>(object.get());
    new (&instance->value) PrefixSearch(std::move(value));
    new (&instance->borrow_count) std::atomic<std::uint32_t>(0);
    return object;
}

ReceiverBorrow::ReceiverBorrow(PyObject* receiver) {
    if (!PyObject_TypeCheck(receiver, prefix_search_type())) {
        raise_cannot_convert(receiver, "PrefixSearch");
    }
    object_ = reinterpret_cast<PrefixSearchObject*>(receiver);
    std::uint32_t current = object_->borrow_count.load();
    do {
        if (current == EXCLUSIVE) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            throw_python_error();
        }
    } while (!object_->borrow_count.compare_exchange_weak(current, current + 1));
    Py_INCREF(receiver);
}

ReceiverBorrow::~ReceiverBorrow() {
    object_->borrow_count.fetch_sub(1);
    Py_DECREF(reinterpret_cast<PyObject*>(object_));
}

}  // namespace kelnor::py
