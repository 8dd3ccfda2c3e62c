// to_bytes and from_bytes: the index saved as, and restored from, its image;
// and the private _own_counts, _spellings, _is_folded and _restore, through which index
// files and pickles keep what the image does not hold.
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
#include "python/results.hpp"

namespace kelnor::py {
namespace {

constexpr const char* FROM_BYTES_NAMES[] = {"b"};
constinit MethodParameters FROM_BYTES{"PrefixSearch.from_bytes()", FROM_BYTES_NAMES, 1};
constexpr const char* RESTORE_NAMES[] = {"image", "own_counts", "spellings"};
constinit MethodParameters RESTORE{"PrefixSearch._restore()", RESTORE_NAMES, 3};

// The trie of `image`, decoded without the interpreter lock; ValueError when
// it does not decode.
Trie decoded_trie(std::span<const std::uint8_t> image, OwnCounts counts = OwnCounts::Derived) {
    // The bytes object is immutable and borrowed for the call: other
    // threads (a checksum of the same image, say) run meanwhile.
    Result<Trie, DecodeError> decoded =
        without_interpreter_lock([&] { return decode_trie(image, counts); });
    if (!decoded.ok()) raise_value_error("decode error: " + render(decoded.error()));
    return std::move(decoded).value();
}

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
        return make_instance(PrefixSearch{decoded_trie(image), std::nullopt});
    });
}

PyObject* own_counts(PyObject* self, PyObject*) {
    return call_guarded([&]() -> PyRef {
        ReceiverBorrow receiver(self);
        const Trie& trie = receiver.value().trie;
        if (!trie.term_counts.exact) return PyRef::borrowed(Py_None);
        const std::vector<std::uint8_t> bytes = encode_own_counts(trie);
        return expect(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<Py_ssize_t>(bytes.size())));
    });
}

PyObject* spellings(PyObject* self, PyObject*) {
    return call_guarded([&]() -> PyRef {
        ReceiverBorrow receiver(self);
        const std::optional<TermSpellings>& folding = receiver.value().folding;
        if (!folding) return PyRef::borrowed(Py_None);
        PyRef dict = expect(PyDict_New());
        for (const auto& [key, spelling] : *folding) {
            if (PyDict_SetItem(dict.get(), to_str(key).get(), to_str(spelling).get()) != 0) {
                throw_python_error();
            }
        }
        return dict;
    });
}

PyObject* is_folded(PyObject* self, PyObject*) {
    return call_guarded([&]() -> PyRef {
        ReceiverBorrow receiver(self);
        return PyRef::borrowed(receiver.value().folding ? Py_True : Py_False);
    });
}

PyObject* restore(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&] {
        PyObject* slots[3];
        bind_arguments(RESTORE, args, nargs, keyword_names, slots);
        const std::span<const std::uint8_t> image = convert_argument("image", slots[0], as_bytes);
        const std::optional<std::span<const std::uint8_t>> counts =
            convert_optional("own_counts", slots[1], as_bytes);
        std::optional<TermSpellings> folding =
            convert_optional("spellings", slots[2], to_spellings);
        // With counts given, the decode leaves the own counts to them rather
        // than derive them only to be replaced.
        PrefixSearch search{decoded_trie(image, counts ? OwnCounts::Restored : OwnCounts::Derived),
                            std::move(folding)};
        if (counts) {
            const std::optional<std::string> refusal =
                without_interpreter_lock([&] { return restore_own_counts(search.trie, *counts); });
            if (refusal)
                raise_value_error("own counts that do not fit the image (" + *refusal + ")");
        }
        return make_instance(std::move(search));
    });
}

}  // namespace kelnor::py
