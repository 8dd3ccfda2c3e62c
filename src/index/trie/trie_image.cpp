#include "index/trie/trie_image.hpp"

#include <array>
#include <string_view>

#include "index/encoding/encode_to_vec.hpp"
#include "index/encoding/reader.hpp"
#include "index/encoding/value_writers.hpp"
#include "index/payload/payload_image.hpp"
#include "index/trie/walk_index.hpp"

namespace kelnor {
namespace {

constexpr std::string_view ID_MODE_TYPE_NAME = "IdMode";
constexpr std::uint32_t ID_MODE_COUNT = 2;

template <class Sink, class T, class WriteElement>
void write_sequence(Sink& sink, const std::vector<T>& values, WriteElement write_element) {
    write_count(sink, values.size());
    for (const T& value : values) write_element(sink, value);
}

template <class Sink>
void write_trie(Sink& sink, const Trie& trie) {
    const auto write_varint = [](Sink& s, std::uint32_t value) { varint_encode_u32(s, value); };
    write_sequence(sink, trie.node_shifts, write_varint);
    write_sequence(sink, trie.child_labels, [](Sink& s, char32_t c) { write_char(s, c); });
    write_sequence(sink, trie.child_transitions, write_varint);
    encode_payload_table(sink, trie.payloads);
    write_sequence(sink, trie.video_uuids, [](Sink& s, const VideoUuid& id) { s.put(id); });
    write_sequence(sink, trie.video_int_ids, write_varint);
    varint_encode_u32(sink, static_cast<std::uint32_t>(trie.id_mode));
    write_sequence(sink, trie.is_terminal, [](Sink& s, std::uint8_t flag) { write_bool(s, flag); });
}

// A counted sequence into the empty `out`. Room is reserved only for as many
// elements as the rest of the input could hold, each taking at least
// `min_element_size` bytes.
template <class T, class ReadElement>
bool read_sequence(Reader& reader, std::size_t min_element_size, std::vector<T>& out,
                   ReadElement read_element) {
    std::size_t count = 0;
    if (!reader.read_count(count)) return false;
    out.reserve(reader.reservable(count, min_element_size));
    for (std::size_t i = 0; i < count; ++i) {
        T value{};
        if (!read_element(reader, value)) return false;
        out.push_back(value);
    }
    return true;
}

bool read_varint(Reader& reader, std::uint32_t& value) {
    return reader.read_varint_u32(value);
}

bool read_label(Reader& reader, char32_t& label) {
    return reader.read_char(label);
}

bool read_uuid(Reader& reader, VideoUuid& id) {
    return reader.read_bytes(id);
}

bool read_terminal_flag(Reader& reader, std::uint8_t& flag) {
    bool value = false;
    if (!reader.read_bool(value)) return false;
    flag = value ? 1 : 0;
    return true;
}

bool read_id_mode(Reader& reader, IdMode& mode) {
    std::uint32_t number = 0;
    if (!reader.read_variant_index(ID_MODE_TYPE_NAME, ID_MODE_COUNT, number)) return false;
    mode = static_cast<IdMode>(number);
    return true;
}

bool read_trie(Reader& reader, Trie& trie) {
    return read_sequence(reader, 1, trie.node_shifts, read_varint) &&
           read_sequence(reader, 1, trie.child_labels, read_label) &&
           read_sequence(reader, 1, trie.child_transitions, read_varint) &&
           decode_payload_table(reader, trie.payloads) &&
           read_sequence(reader, std::tuple_size_v<VideoUuid>, trie.video_uuids, read_uuid) &&
           read_sequence(reader, 1, trie.video_int_ids, read_varint) &&
           read_id_mode(reader, trie.id_mode) &&
           read_sequence(reader, 1, trie.is_terminal, read_terminal_flag);
}

}  // namespace

std::vector<std::uint8_t> encode_trie(const Trie& trie) {
    return encode_to_vec([&trie](auto& sink) { write_trie(sink, trie); });
}

std::size_t image_size(const Trie& trie) {
    ByteCounter counter;
    write_trie(counter, trie);
    return counter.size();
}

void encode_trie_into(const Trie& trie, std::span<std::uint8_t> out) {
    encode_into([&trie](auto& sink) { write_trie(sink, trie); }, out);
}

Result<Trie, DecodeError> decode_trie(std::span<const std::uint8_t> bytes, OwnCounts counts) {
    Reader reader(bytes);
    Trie trie;
    if (!read_trie(reader, trie)) return reader.error();
    trie.walk_index = walk_index_of(trie);
    if (counts == OwnCounts::Derived) trie.term_counts = term_counts_of(trie);
    return trie;
}

}  // namespace kelnor
