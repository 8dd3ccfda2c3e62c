#include "python/row_refusal_message.hpp"

#include "python/call_guard.hpp"

namespace kelnor::py {
namespace {

using columns::Refusal;

// repr() of the refused text: a str (surrogates written as UTF-8 would
// write any other code point come back as themselves), or the bytes when
// they are not UTF-8 at all.
PyRef quoted(const std::string& text) {
    PyRef value(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
    if (!value) {
        PyErr_Clear();
        value = check(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
    return check(PyObject_Repr(value.get()));
}

PyRef text_of(const std::string& text) {
    return check(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace

PyRef row_refusal_message(const columns::RowRefusal& refusal, columns::Separator separator) {
    const char* const text = refusal.text.c_str();
    switch (refusal.reason) {
        case Refusal::TermNull:
            return check(PyUnicode_FromString("the term is null"));
        case Refusal::TermEmpty:
            return check(PyUnicode_FromString("a term must not be empty"));
        case Refusal::TermUnstorable: {
            const PyRef character =
                check(PyUnicode_FromOrdinal(static_cast<int>(refusal.code_point)));
            const PyRef shown = check(PyObject_Repr(character.get()));
            return check(PyUnicode_FromFormat("term %U holds %U, which an index cannot hold",
                                              quoted(refusal.text).get(), shown.get()));
        }
        case Refusal::TermNotUtf8:
            return check(PyUnicode_FromFormat("term %U is not UTF-8", quoted(refusal.text).get()));
        case Refusal::TermTooLong:
            return check(PyUnicode_FromFormat(
                "a term must be at most %zu bytes of UTF-8, this one has %llu",
                columns::MAX_TERM_BYTES, static_cast<unsigned long long>(refusal.number)));
        case Refusal::TermDamaged:
            return check(PyUnicode_FromString("the term lies outside its column's data"));
        case Refusal::CountNull:
            return check(PyUnicode_FromString("the count is null"));
        case Refusal::CountOutOfRange:
            return check(PyUnicode_FromFormat("count %s is outside 0..4294967295", text));
        case Refusal::VideoNull:
            return check(PyUnicode_FromString("the video id is null"));
        case Refusal::VideoOutOfRange:
            return check(
                PyUnicode_FromFormat("integer video id %s is outside 0..4294967295", text));
        case Refusal::VideoNotUuid:
            return check(
                PyUnicode_FromFormat("video id %U is not a UUID string (give integer ids as int)",
                                     quoted(refusal.text).get()));
        case Refusal::VideoNotUuidBytes: {
            const PyRef bytes = check(PyBytes_FromStringAndSize(
                refusal.text.data(), static_cast<Py_ssize_t>(refusal.text.size())));
            return check(PyUnicode_FromFormat(
                "video id %R holds %zu bytes; a binary video id is the 16 bytes of a UUID",
                bytes.get(), refusal.text.size()));
        }
        case Refusal::VideoKindMismatch: {
            const PyRef shown = refusal.is_integer ? text_of(refusal.text) : quoted(refusal.text);
            return check(PyUnicode_FromFormat(
                "video id %U is %s, but this index's earlier video ids are %s; an index holds one "
                "kind of video id",
                shown.get(), refusal.is_integer ? "an integer" : "a UUID",
                refusal.is_integer ? "UUIDs" : "integers"));
        }
        case Refusal::VideoDamaged:
            return check(PyUnicode_FromString("the video id lies outside its column's data"));
        case Refusal::LineNotUtf8:
            return check(PyUnicode_FromFormat("not UTF-8 text (%s)", text));
        case Refusal::FieldCount:
            return check(PyUnicode_FromFormat(
                "expected 3 %s-separated fields (term, video id, count), found %llu",
                separator == columns::Separator::Tab ? "tab" : "comma",
                static_cast<unsigned long long>(refusal.number)));
        case Refusal::CountNotWholeNumber:
            return check(
                PyUnicode_FromFormat("count %U is not a whole number", quoted(refusal.text).get()));
        case Refusal::VideoNegative:
            return check(PyUnicode_FromFormat(
                "video id %U is negative: a video id is a whole number from 0 to 4294967295 or "
                "a UUID",
                text_of(refusal.text).get()));
        case Refusal::QuoteUnclosed:
            return check(PyUnicode_FromString("a quoted field does not end on its line"));
        case Refusal::LineTooLong:
            return check(PyUnicode_FromFormat("the line is longer than %llu bytes",
                                              static_cast<unsigned long long>(refusal.number)));
    }
    return check(PyUnicode_FromString("refused"));
}

}  // namespace kelnor::py
