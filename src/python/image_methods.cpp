// to_bytes and from_bytes: the index saved as, and restored from, its image.
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"

namespace kelnor::py {
namespace {

constexpr const char* FROM_BYTES_NAMES[] = {"b"};
constinit MethodParameters FROM_BYTES{"PrefixSearch.from_bytes()", FROM_BYTES_NAMES, 1};

}  // namespace

PyObject* to_bytes(PyObject* self, PyObject*) {
    return call_guarded([&] {
        ReceiverBorrow receiver(self);
        const Trie& trie = receiver.value().trie;
        // The image is written straight into the bytes object, sized by a
        // measuring pass, rather than into a buffer that is then copied.
        const std::size_t size = image_size(trie);
        if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
        PyRef image = expect(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
        encode_trie_into(trie,
                         {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(image.get())), size});
        return image;
    });
}

PyObject* from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&] {
        PyObject* slots[1];
        bind_arguments(FROM_BYTES, args, nargs, keyword_names, slots);
        const std::span<const std::uint8_t> image = convert_argument("b", slots[0], as_bytes);
        // The bytes object is immutable and borrowed for the call: other
        // threads (a checksum of the same image, say) run meanwhile.
        Result<Trie, DecodeError> decoded =
            without_interpreter_lock([&] { return decode_trie(image); });
        if (!decoded.ok()) raise_value_error("decode error: " + render(decoded.error()));
        return make_instance(PrefixSearch{std::move(decoded).value()});
    });
}

}  // namespace kelnor::py
