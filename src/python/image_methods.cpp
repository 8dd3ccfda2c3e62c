// to_bytes and from_bytes: the index saved as, and restored from, its image.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kFromBytesNames[] = {"b"};
constexpr MethodParameters kFromBytes{"PrefixSearch.from_bytes()", kFromBytesNames, 1};

// The contents of a bytes object (or subclass), viewed in place.
std::span<const std::uint8_t> as_bytes(PyObject* value) {
    if (!PyBytes_Check(value)) raise_cannot_convert(value, "PyBytes");
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(value)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(value))};
}

}  // namespace

PyObject* to_bytes(PyObject* self, PyObject*) {
    return call_guarded([&] {
        ReceiverBorrow receiver(self);
        std::vector<std::uint8_t> image = encode_trie(receiver.value().trie);
        return expect(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(image.data()),
                                                static_cast<Py_ssize_t>(image.size())));
    });
}

PyObject* from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&] {
        PyObject* slots[1];
        bind_arguments(kFromBytes, args, nargs, keyword_names, slots);
        std::span<const std::uint8_t> image =
            convert_argument("b", [&] { return as_bytes(slots[0]); });
        Result<Trie, DecodeError> decoded = decode_trie(image);
        if (!decoded.ok()) {
            std::string message = "decode error: " + render(decoded.error());
            PyErr_SetString(PyExc_ValueError, message.c_str());
            throw_python_error();
        }
        return make_instance(PrefixSearch{std::move(decoded).value()});
    });
}

}  // namespace kelnor::py
