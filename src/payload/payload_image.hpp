// The payloads field of the index image: a count, then per slot a tag byte (0
// absent, 1 present) and for a present payload its total_count, video_ids and
// video_counts.
#pragma once

#include <cstddef>
#include <string_view>

#include "encoding/reader.hpp"
#include "encoding/value_writers.hpp"
#include "payload/payload.hpp"

namespace kelnor {

// The name under which a bad payload tag is reported.
inline constexpr std::string_view kOptionalPayloadTypeName =
    "core::option::Option<kelnor::payload::Payload>";

template <class Sink>
void encode_payload_table(Sink& sink, const PayloadTable& table) {
    const auto write_list = [&sink](std::span<const std::uint32_t> values) {
        write_count(sink, values.size());
        for (std::uint32_t value : values) varint_encode_u32(sink, value);
    };
    write_count(sink, table.size());
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        if (!table.present(slot)) {
            sink.put_byte(0);
            continue;
        }
        const PayloadView payload = table.view(slot);
        sink.put_byte(1);
        varint_encode_u32(sink, payload.total_count);
        write_list(payload.video_ids);
        write_list(payload.video_counts);
    }
}

// Reads the payloads field into the empty `table`, keeping each slot as it is
// stored (absent slots stay absent, lists of unequal lengths stay unequal).
[[nodiscard]] bool decode_payload_table(Reader& reader, PayloadTable& table);

}  // namespace kelnor
