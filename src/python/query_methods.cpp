// PrefixSearch.fuzzy_match and PrefixSearch.fuzzy_match_video: argument
// conversions, the call into the matchers and the result lists.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kMatchNames[] = {"term", "max_dist", "limit"};
constexpr MethodParameters kMatch{"PrefixSearch.fuzzy_match()", kMatchNames, 1};

constexpr const char* kVideoNames[] = {"term", "max_dist", "limit", "include_prefix_nodes",
                                       "min_score"};
constexpr MethodParameters kVideo{"PrefixSearch.fuzzy_match_video()", kVideoNames, 1};

constexpr std::uint32_t kDefaultMaxDist = 1;

bool is_absent(PyObject* slot) {
    return slot == nullptr || slot == Py_None;
}

std::string_view convert_term(PyObject* slot) {
    return convert_argument("term", [&] { return to_utf8(slot); });
}

// An explicit None is not a distance: it fails like any non-integer.
std::uint32_t convert_max_dist(PyObject* slot) {
    if (slot == nullptr) return kDefaultMaxDist;
    return convert_argument("max_dist", [&] { return to_u32(slot); });
}

std::optional<std::uint32_t> convert_limit(PyObject* slot) {
    if (is_absent(slot)) return std::nullopt;
    return convert_argument("limit", [&] { return to_u32(slot); });
}

// numpy's boolean scalar (named bool_ before numpy 2) is the one non-bool
// flag that hosts pass around routinely.
bool is_numpy_bool(PyObject* value) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    PyRef name(PyObject_GetAttrString(type, "__name__"));
    PyRef module(name ? PyObject_GetAttrString(type, "__module__") : nullptr);
    if (!module) {
        PyErr_Clear();
        return false;
    }
    const auto equals = [](PyObject* text, const char* expected) {
        return PyUnicode_Check(text) && PyUnicode_CompareWithASCIIString(text, expected) == 0;
    };
    return (equals(name.get(), "bool_") || equals(name.get(), "bool")) &&
           equals(module.get(), "numpy");
}

bool numpy_bool_value(PyObject* value) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    PyRef method(PyObject_GetAttrString(type, "__bool__"));
    if (!method) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     type);
        throw_python_error();
    }
    PyRef result = check(PyObject_CallOneArg(method.get(), value));
    if (result.get() != Py_True && result.get() != Py_False) {
        raise_cannot_convert(result.get(), "PyBool");
    }
    return result.get() == Py_True;
}

bool to_flag(PyObject* value) {
    if (value == Py_True || value == Py_False) return value == Py_True;
    if (is_numpy_bool(value)) return numpy_bool_value(value);
    raise_cannot_convert(value, "PyBool");
}

std::optional<bool> convert_include_prefix_nodes(PyObject* slot) {
    if (is_absent(slot)) return std::nullopt;
    return convert_argument("include_prefix_nodes", [&] { return to_flag(slot); });
}

double to_double(PyObject* value) {
    if (PyFloat_Check(value)) return PyFloat_AS_DOUBLE(value);
    const double converted = PyFloat_AsDouble(value);
    if (converted == -1.0 && PyErr_Occurred()) throw_python_error();
    return converted;
}

std::optional<double> convert_min_score(PyObject* slot) {
    if (is_absent(slot)) return std::nullopt;
    return convert_argument("min_score", [&] { return to_double(slot); });
}

PyRef to_str(std::string_view text) {
    return expect(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// A tuple that takes over the given new references.
template <class... Items>
PyRef tuple_of(Items... items) {
    PyRef tuple = expect(PyTuple_New(sizeof...(Items)));
    Py_ssize_t position = 0;
    (PyTuple_SET_ITEM(tuple.get(), position++, items.release()), ...);
    return tuple;
}

// A list of exactly records.size() tuples, made by `to_tuple` in order.
template <class Record, class ToTuple>
PyRef list_of(std::span<const Record> records, ToTuple&& to_tuple) {
    PyRef list = expect(PyList_New(static_cast<Py_ssize_t>(records.size())));
    for (std::size_t k = 0; k < records.size(); ++k) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), to_tuple(records[k]).release());
    }
    return list;
}

}  // namespace

PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[3];
        bind_arguments(kMatch, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view term = convert_term(slots[0]);
        const std::uint32_t max_dist = convert_max_dist(slots[1]);
        const std::optional<std::uint32_t> limit = convert_limit(slots[2]);

        const Trie& trie = receiver.value().trie;
        const std::vector<MatchResult> results = kelnor::fuzzy_match(trie, term, max_dist, limit);
        return list_of<MatchResult>(results, [&](const MatchResult& result) {
            const long terminal = checked_at(trie.is_terminal, result.node) ? 1 : 0;
            return tuple_of(to_str(result.term), expect(PyLong_FromLong(terminal)),
                            expect(PyLong_FromUnsignedLong(result.distance)));
        });
    });
}

PyObject* fuzzy_match_video(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[5];
        bind_arguments(kVideo, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view term = convert_term(slots[0]);
        const std::uint32_t max_dist = convert_max_dist(slots[1]);
        const std::optional<std::uint32_t> limit = convert_limit(slots[2]);
        const std::optional<bool> include_prefix_nodes = convert_include_prefix_nodes(slots[3]);
        const std::optional<double> min_score = convert_min_score(slots[4]);

        const std::vector<VideoScore> scores = kelnor::fuzzy_match_video(
            receiver.value().trie, term, max_dist, limit, include_prefix_nodes, min_score);
        return list_of<VideoScore>(scores, [](const VideoScore& score) {
            return tuple_of(to_str(score.video_id), expect(PyFloat_FromDouble(score.score)));
        });
    });
}

}  // namespace kelnor::py
