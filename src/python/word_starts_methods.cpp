// _with_word_starts and _has_word_starts: the private pair through which the
// package makes an index whose phrases are found from any word, and tells
// one (to save it, pickle it and restore it as it was).
#include <memory>
#include <utility>

#include "kelnor.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"

namespace kelnor::py {

PyObject* with_word_starts(PyObject* self, PyObject*) {
    return call_guarded([&] {
        ReceiverBorrow receiver(self);
        // The same index (its trie, counts and spellings) with its words derived.
        PrefixSearch index = receiver.value();
        Result<WordStarts, std::string> derived = without_interpreter_lock(
            [&](const InterruptCheck& interrupt) { return word_starts_of(index.trie, interrupt); });
        if (!derived.ok()) raise_value_error(derived.error());
        index.word_starts = std::make_shared<const WordStarts>(std::move(derived).value());
        return make_instance(std::move(index));
    });
}

PyObject* has_word_starts(PyObject* self, PyObject*) {
    return call_guarded([&] {
        ReceiverBorrow receiver(self);
        return expect(PyBool_FromLong(receiver.value().word_starts != nullptr));
    });
}

}  // namespace kelnor::py
