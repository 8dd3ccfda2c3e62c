// PrefixSearch.from_internal_data_v2: the host's flat arrays to a live index.
#include <cstdint>
#include <utility>
#include <vector>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"

namespace kelnor::py {
namespace {

constexpr const char* NAMES[] = {"node_shifts",       "child_labels", "payloads",
                                 "child_transitions", "video_index",  "video_top_n"};
constinit MethodParameters PARAMETERS{"PrefixSearch.from_internal_data_v2()", NAMES, 6};

}  // namespace

PyObject* from_internal_data_v2(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[6];
        bind_arguments(PARAMETERS, args, nargs, keyword_names, slots);

        InternalData data;
        data.node_shifts = convert_sequence_argument(NAMES[0], slots[0], to_u32_vector);
        data.child_labels = convert_sequence_argument(NAMES[1], slots[1], to_labels);
        const std::vector<PyRef> payloads =
            convert_sequence_argument(NAMES[2], slots[2], to_object_vector);
        data.child_transitions = convert_sequence_argument(NAMES[3], slots[3], to_u32_vector);
        const VideoIndexBytes video_index =
            convert_sequence_argument(NAMES[4], slots[4], to_video_index);
        const std::uint32_t top_n = convert_argument(NAMES[5], slots[5], to_u32);

        if (auto error = check_shape(data.node_shifts.size(), data.child_labels.size(),
                                     payloads.size(), data.child_transitions)) {
            raise_value_error(*error);
        }
        data.payloads = to_payloads(payloads);
        auto videos = choose_video_ids(video_index);
        if (!videos.ok()) raise_value_error(videos.error());
        return make_instance(PrefixSearch{
            assemble(std::move(data), std::move(videos).value(), top_n), std::nullopt});
    });
}

}  // namespace kelnor::py
