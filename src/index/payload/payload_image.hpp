// The payloads field of the index image: a count, then per slot a tag byte (0
// absent, 1 present) and for a present payload its total_count, video_ids and
// video_counts.
#pragma once

#include <cstddef>
#include <string_view>

#include "index/encoding/reader.hpp"
#include "index/encoding/value_writers.hpp"
#include "index/payload/payload.hpp"

namespace kelnor {

// The name under which a bad payload tag is reported.
inline constexpr std::string_view OPTIONAL_PAYLOAD_TYPE_NAME =
    "core::option::Option<kelnor::payload::Payload>";

// The table's slots are kept in their image form, so they are copied as they are.
template <class Sink>
void encode_payload_table(Sink& sink, const PayloadTable& table) {
    write_count(sink, table.size());
    sink.put_bytes(table.encoded());
}

// Reads the payloads field into the empty `table`, keeping each slot as it is
// stored (absent slots stay absent, lists of unequal lengths stay unequal).
[[nodiscard]] bool decode_payload_table(Reader& reader, PayloadTable& table);

}  // namespace kelnor
