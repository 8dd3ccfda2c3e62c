// PrefixSearch.from_internal_data_v2: the host's flat arrays to a live index.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"
#include "python/sequence.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kNames[] = {"node_shifts",       "child_labels", "payloads",
                                  "child_transitions", "video_index",  "video_top_n"};
constexpr MethodParameters kParameters{"PrefixSearch.from_internal_data_v2()", kNames, 6};

[[noreturn]] void raise_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    throw_python_error();
}

// Refuses a sequence too long for any array of an index, before reading it;
// describe() names it, only when it is refused.
template <class Describe>
void refuse_unaddressable(PyObject* sequence, Describe&& describe) {
    if (const PyRef length = unaddressable_length(sequence)) {
        raise_unaddressable(length.get(), describe());
    }
}

// Runs the conversion of the sequence argument `name` once its length has
// been found possible.
template <class Convert>
decltype(auto) convert_sequence_argument(const char* name, PyObject* sequence, Convert&& convert) {
    refuse_unaddressable(sequence, [&] { return std::string(name); });
    return convert_argument(name, [&] { return convert(sequence); });
}

// Fills `values` (cleared first, so that one vector serves many lists).
void read_u32_sequence(PyObject* sequence, std::vector<std::uint32_t>& values) {
    values.clear();
    values.reserve(size_hint(sequence));
    for_each_item(sequence, [&](PyObject* item) { values.push_back(to_u32(item)); });
}

std::vector<std::uint32_t> to_u32_vector(PyObject* sequence) {
    std::vector<std::uint32_t> values;
    read_u32_sequence(sequence, values);
    return values;
}

std::vector<char32_t> to_labels(PyObject* sequence) {
    std::vector<char32_t> labels;
    labels.reserve(size_hint(sequence));
    for_each_item(sequence,
                  [&](PyObject* item) { labels.push_back(label_code_point(to_utf8(item))); });
    return labels;
}

// The payload entries stay Python objects until the shape has been checked.
std::vector<PyRef> to_object_vector(PyObject* sequence) {
    std::vector<PyRef> objects;
    objects.reserve(size_hint(sequence));
    for_each_item(sequence, [&](PyObject* item) { objects.push_back(PyRef::borrowed(item)); });
    return objects;
}

std::uint8_t to_byte(PyObject* value) {
    const std::uint32_t wide = to_u32(value);
    if (wide > 0xFF) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw_python_error();
    }
    return static_cast<std::uint8_t>(wide);
}

VideoIndexBytes to_video_index(PyObject* sequence) {
    VideoIndexBytes index;
    for_each_item(sequence, [&](PyObject* entry) {
        if (PyBytes_CheckExact(entry)) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(entry));
            for (Py_ssize_t k = 0; k < PyBytes_GET_SIZE(entry); ++k) index.push_byte(bytes[k]);
        } else {
            for_each_item(entry, [&](PyObject* byte) { index.push_byte(to_byte(byte)); });
        }
        index.end_entry();
    });
    return index;
}

// Converts and checks the payload entries node by node; the first failing
// node ends the build with its error, unprefixed (these are not arguments).
PayloadTable to_payloads(const std::vector<PyRef>& entries) {
    PayloadTable table;
    table.reserve(entries.size(), 0);
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    for (std::size_t node = 0; node < entries.size(); ++node) {
        PyObject* payload = entries[node].get();
        if (payload == Py_None) {
            table.push_absent();
            continue;
        }
        if (!PyTuple_Check(payload)) raise_cannot_convert(payload, "PyTuple");
        if (PyTuple_GET_SIZE(payload) != 3) raise_value_error("Payload tuple must have 3 elements");
        const std::uint32_t total_count = to_u32(PyTuple_GET_ITEM(payload, 0));
        const auto read_list = [&](Py_ssize_t field, const char* name, auto& values) {
            PyObject* list = PyTuple_GET_ITEM(payload, field);
            refuse_unaddressable(list, [&] {
                return std::string(name) + " of payloads[" + std::to_string(node) + "]";
            });
            read_u32_sequence(list, values);
        };
        read_list(1, "video_ids", video_ids);
        read_list(2, "video_counts", video_counts);
        if (video_ids.size() != video_counts.size()) {
            raise_value_error("video_ids and video_counts length mismatch");
        }
        table.push(total_count, video_ids, video_counts);
    }
    return table;
}

}  // namespace

PyObject* from_internal_data_v2(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[6];
        bind_arguments(kParameters, args, nargs, keyword_names, slots);

        InternalData data;
        data.node_shifts = convert_sequence_argument(kNames[0], slots[0], to_u32_vector);
        data.child_labels = convert_sequence_argument(kNames[1], slots[1], to_labels);
        const std::vector<PyRef> payloads =
            convert_sequence_argument(kNames[2], slots[2], to_object_vector);
        data.child_transitions = convert_sequence_argument(kNames[3], slots[3], to_u32_vector);
        const VideoIndexBytes video_index =
            convert_sequence_argument(kNames[4], slots[4], to_video_index);
        const std::uint32_t top_n = convert_argument(kNames[5], [&] { return to_u32(slots[5]); });

        if (auto error = check_shape(data.node_shifts.size(), data.child_labels.size(),
                                     payloads.size(), data.child_transitions)) {
            raise_value_error(*error);
        }
        data.payloads = to_payloads(payloads);
        auto videos = choose_video_ids(video_index);
        if (!videos.ok()) raise_value_error(videos.error());
        return make_instance(
            PrefixSearch{assemble(std::move(data), std::move(videos).value(), top_n)});
    });
}

}  // namespace kelnor::py
