// The reference queries: the walk and the ranking written the plain way, as
// a yardstick for the optimised module (bench/speed_bench.py runs both on the
// same index and the same queries and checks that they answer alike).
//
// Plain means: a fresh table of (n + max_dist + 2) rows of n + 1 16-bit cells
// per call, one recursive call per visited node that computes the full row,
// every child visited, the hit's text built from the path at each hit, and a
// std::unordered_map for the scores.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Payload {
    std::uint32_t total_count = 0;
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
};

struct Index {
    std::vector<std::uint32_t> node_shifts;
    std::vector<char32_t> child_labels;
    std::vector<std::uint32_t> child_transitions;
    std::vector<std::optional<Payload>> payloads;
    std::vector<bool> is_terminal;
    bool int_ids = false;
    std::vector<std::string> video_uuids;  // 16 raw bytes each
    std::vector<std::uint32_t> video_int_ids;
};

constexpr const char* CAPSULE_NAME = "kelnor_baseline.Index";

// ---------------------------------------------------------------- loading

bool read_u32_list(PyObject* list, std::vector<std::uint32_t>& out) {
    PyObject* fast = PySequence_Fast(list, "expected a sequence");
    if (fast == nullptr) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(fast);
    out.resize(static_cast<std::size_t>(size));
    for (Py_ssize_t k = 0; k < size; ++k) {
        out[k] =
            static_cast<std::uint32_t>(PyLong_AsUnsignedLong(PySequence_Fast_GET_ITEM(fast, k)));
    }
    Py_DECREF(fast);
    return !PyErr_Occurred();
}

void free_index(PyObject* capsule) {
    delete static_cast<Index*>(PyCapsule_GetPointer(capsule, CAPSULE_NAME));
}

// load(node_shifts, child_labels, child_transitions, payloads, is_terminal,
//      int_ids, video_uuids, video_int_ids) -> capsule; labels are code points.
PyObject* load(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 8) {
        PyErr_SetString(PyExc_TypeError, "load() takes 8 arguments");
        return nullptr;
    }
    auto index = std::make_unique<Index>();
    std::vector<std::uint32_t> labels;
    if (!read_u32_list(args[0], index->node_shifts) || !read_u32_list(args[1], labels) ||
        !read_u32_list(args[2], index->child_transitions)) {
        return nullptr;
    }
    index->child_labels.assign(labels.begin(), labels.end());
    PyObject* payloads = PySequence_Fast(args[3], "payloads");
    if (payloads == nullptr) return nullptr;
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(payloads); ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(payloads, k);
        if (item == Py_None) {
            index->payloads.emplace_back();
            continue;
        }
        Payload payload;
        payload.total_count =
            static_cast<std::uint32_t>(PyLong_AsUnsignedLong(PyTuple_GetItem(item, 0)));
        if (!read_u32_list(PyTuple_GetItem(item, 1), payload.video_ids) ||
            !read_u32_list(PyTuple_GetItem(item, 2), payload.video_counts)) {
            Py_DECREF(payloads);
            return nullptr;
        }
        index->payloads.emplace_back(std::move(payload));
    }
    Py_DECREF(payloads);
    std::vector<std::uint32_t> terminal;
    if (!read_u32_list(args[4], terminal)) return nullptr;
    index->is_terminal.assign(terminal.begin(), terminal.end());
    index->int_ids = PyObject_IsTrue(args[5]) == 1;
    PyObject* uuids = PySequence_Fast(args[6], "video_uuids");
    if (uuids == nullptr) return nullptr;
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(uuids); ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(uuids, k);
        index->video_uuids.emplace_back(PyBytes_AsString(item), PyBytes_Size(item));
    }
    Py_DECREF(uuids);
    if (!read_u32_list(args[7], index->video_int_ids)) return nullptr;
    return PyCapsule_New(index.release(), CAPSULE_NAME, free_index);
}

// ---------------------------------------------------------------- the walk

std::vector<char32_t> decode_utf8(const char* text, Py_ssize_t size) {
    std::vector<char32_t> out;
    for (Py_ssize_t k = 0; k < size;) {
        const auto lead = static_cast<unsigned char>(text[k]);
        int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int i = 1; i < length; ++i)
            c = c << 6 | (static_cast<unsigned char>(text[k + i]) & 0x3F);
        out.push_back(c);
        k += length;
    }
    return out;
}

void append_utf8(std::string& text, char32_t c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (c >> 18));
        text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

struct Hit {
    std::uint32_t node;
    std::uint16_t distance;
    std::string text;
};

struct Walk {
    const Index& index;
    const std::vector<char32_t>& term;
    std::uint16_t bound;
    bool terminal_only;
    bool with_text;
    std::optional<std::uint32_t> limit;
    std::vector<std::vector<std::uint16_t>> rows;
    std::u32string path;
    std::vector<Hit> hits;

    bool dfs(std::uint32_t node, std::size_t depth) {
        const std::size_t start = index.node_shifts.at(node);
        const std::size_t end = node + 1 < index.node_shifts.size()
                                    ? index.node_shifts[node + 1]
                                    : index.child_transitions.size();
        const std::size_t n = term.size();
        for (std::size_t k = start; k < end; ++k) {
            const std::uint32_t child = index.child_transitions.at(k);
            const char32_t label = index.child_labels.at(child);
            if (label == 0) continue;
            const std::vector<std::uint16_t>& parent = rows[depth];
            std::vector<std::uint16_t>& row = rows[depth + 1];
            row[0] = static_cast<std::uint16_t>(depth + 1);
            std::uint16_t least = row[0];
            for (std::size_t j = 1; j <= n; ++j) {
                const std::uint16_t substitute = parent[j - 1] + (term[j - 1] == label ? 0 : 1);
                row[j] = std::min({static_cast<std::uint16_t>(parent[j] + 1),
                                   static_cast<std::uint16_t>(row[j - 1] + 1), substitute});
                least = std::min(least, row[j]);
            }
            if (least > bound) continue;
            if (row[n] <= bound && (!terminal_only || index.is_terminal.at(child))) {
                std::string text;
                if (with_text) {
                    for (char32_t c : path) append_utf8(text, c);
                    append_utf8(text, label);
                }
                hits.push_back({child, row[n], std::move(text)});
                if (limit && hits.size() >= *limit) return true;
            }
            path.push_back(label);
            const bool stop = dfs(child, depth + 1);
            path.pop_back();
            if (stop) return true;
        }
        return false;
    }
};

std::vector<Hit> walk(const Index& index, const std::vector<char32_t>& term, std::uint32_t max_dist,
                      std::optional<std::uint32_t> limit, bool terminal_only, bool with_text) {
    Walk state{index,
               term,
               static_cast<std::uint16_t>(std::min<std::uint32_t>(max_dist, 65535)),
               terminal_only,
               with_text,
               limit,
               {},
               {},
               {}};
    if (limit == 0u) return {};
    state.rows.assign(term.size() + max_dist + 2, std::vector<std::uint16_t>(term.size() + 1));
    for (std::size_t j = 0; j <= term.size(); ++j) state.rows[0][j] = static_cast<std::uint16_t>(j);
    state.dfs(0, 0);
    return std::move(state.hits);
}

// ---------------------------------------------------------------- ranking

struct Scored {
    std::uint32_t video;
    double score;
};

bool ranks_before(const Scored& a, const Scored& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.video < b.video;
}

std::optional<std::string> video_text(const Index& index, std::uint32_t video) {
    if (index.int_ids) {
        if (video >= index.video_int_ids.size()) return std::nullopt;
        return std::to_string(index.video_int_ids[video]);
    }
    if (video >= index.video_uuids.size()) return std::nullopt;
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    const std::string& bytes = index.video_uuids[video];
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) text += '-';
        text += DIGITS[static_cast<unsigned char>(bytes[k]) >> 4];
        text += DIGITS[static_cast<unsigned char>(bytes[k]) & 0xF];
    }
    return text;
}

std::vector<std::pair<std::string, double>> rank(const Index& index,
                                                 const std::vector<char32_t>& term,
                                                 std::uint32_t max_dist,
                                                 std::optional<std::uint32_t> limit,
                                                 std::optional<bool> include_prefix_nodes,
                                                 double min_score) {
    std::vector<Hit> hits;
    if (include_prefix_nodes) {
        hits = walk(index, term, max_dist, std::nullopt, !*include_prefix_nodes, false);
    } else {
        hits = walk(index, term, max_dist, std::nullopt, true, false);
        if (hits.empty()) hits = walk(index, term, max_dist, std::nullopt, false, false);
    }
    std::unordered_map<std::uint32_t, double> sums;
    sums.reserve(hits.size() * 16);
    double weight_total = 0.0;
    const double c = static_cast<double>(term.size());
    for (const Hit& hit : hits) {
        double w = hit.distance == 0 ? 1.0 : c == 0 ? 0.0 : (1.0 - hit.distance / c) * 0.05;
        if (hit.distance != 0 && !(w > 0.0)) continue;
        if (!index.is_terminal.at(hit.node)) w *= 0.85;
        const std::optional<Payload>& payload = index.payloads.at(hit.node);
        if (!payload) continue;
        weight_total += w * payload->total_count;
        for (std::size_t i = 0; i < payload->video_ids.size(); ++i) {
            sums[payload->video_ids[i]] += w * payload->video_counts.at(i);
        }
    }
    if (!(weight_total > 0.0)) return {};
    std::vector<Scored> candidates;
    for (const auto& [video, sum] : sums) {
        const double score = sum / weight_total;
        if (score >= min_score) candidates.push_back({video, score});
    }
    if (limit && candidates.size() > *limit) {
        std::nth_element(candidates.begin(), candidates.begin() + *limit, candidates.end(),
                         ranks_before);
        candidates.resize(*limit);
    }
    std::sort(candidates.begin(), candidates.end(), ranks_before);
    std::vector<std::pair<std::string, double>> results;
    for (const Scored& candidate : candidates) {
        if (auto text = video_text(index, candidate.video))
            results.emplace_back(*text, candidate.score);
    }
    return results;
}

// ---------------------------------------------------------------- bindings

const Index* index_of(PyObject* capsule) {
    return static_cast<const Index*>(PyCapsule_GetPointer(capsule, CAPSULE_NAME));
}

std::optional<std::uint32_t> optional_u32(PyObject* value) {
    if (value == Py_None) return std::nullopt;
    return static_cast<std::uint32_t>(PyLong_AsUnsignedLong(value));
}

PyObject* text_object(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A tuple that takes over the given new references.
PyObject* tuple_of(std::initializer_list<PyObject*> items) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    Py_ssize_t position = 0;
    for (PyObject* item : items) PyTuple_SET_ITEM(tuple, position++, item);
    return tuple;
}

// fuzzy_match(index, term, max_dist, limit) -> [(term, 1, distance)]
PyObject* fuzzy_match(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError, "fuzzy_match() takes 4 arguments");
        return nullptr;
    }
    const Index* index = index_of(args[0]);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(args[1], &size);
    if (index == nullptr || utf8 == nullptr) return nullptr;
    const auto max_dist = static_cast<std::uint32_t>(PyLong_AsUnsignedLong(args[2]));
    const std::optional<std::uint32_t> limit = optional_u32(args[3]);
    if (PyErr_Occurred()) return nullptr;
    const std::vector<Hit> hits =
        walk(*index, decode_utf8(utf8, size), max_dist, limit, true, true);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(hits.size()));
    for (std::size_t k = 0; k < hits.size(); ++k) {
        PyList_SET_ITEM(list, k,
                        tuple_of({text_object(hits[k].text), PyLong_FromLong(1),
                                  PyLong_FromUnsignedLong(hits[k].distance)}));
    }
    return list;
}

// fuzzy_match_video(index, term, max_dist, limit, include_prefix_nodes,
//                   min_score) -> [(video id, score)]
PyObject* fuzzy_match_video(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 6) {
        PyErr_SetString(PyExc_TypeError, "fuzzy_match_video() takes 6 arguments");
        return nullptr;
    }
    const Index* index = index_of(args[0]);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(args[1], &size);
    if (index == nullptr || utf8 == nullptr) return nullptr;
    const auto max_dist = static_cast<std::uint32_t>(PyLong_AsUnsignedLong(args[2]));
    const std::optional<std::uint32_t> limit = optional_u32(args[3]);
    std::optional<bool> include;
    if (args[4] != Py_None) include = PyObject_IsTrue(args[4]) == 1;
    const double min_score = args[5] == Py_None ? 0.01 : PyFloat_AsDouble(args[5]);
    if (PyErr_Occurred()) return nullptr;
    const auto results = rank(*index, decode_utf8(utf8, size), max_dist, limit, include, min_score);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(results.size()));
    for (std::size_t k = 0; k < results.size(); ++k) {
        PyList_SET_ITEM(
            list, k,
            tuple_of({text_object(results[k].first), PyFloat_FromDouble(results[k].second)}));
    }
    return list;
}

PyMethodDef methods[] = {
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load)), METH_FASTCALL,
     nullptr},
    {"fuzzy_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fuzzy_match)),
     METH_FASTCALL, nullptr},
    {"fuzzy_match_video",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fuzzy_match_video)), METH_FASTCALL,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT,
                      "_kelnor_baseline",
                      nullptr,
                      -1,
                      methods,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__kelnor_baseline() {
    return PyModule_Create(&module);
}
