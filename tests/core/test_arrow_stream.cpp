// The checks of a table's stream before its batches are read: a schema and
// batches whose lists of columns are missing or short, batches with nulls or
// rows past their columns, each refused with its message; a sound batch read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builds/arrow_columns.hpp"
#include "check.hpp"

namespace kelnor::core_test {
namespace {

using namespace kelnor::columns;

template <class Struct>
void mark_released(Struct* value) {
    value->release = nullptr;
}

// One batch of the columns "term" (empty strings), "video" and "count"
// (int64), each of `rows` rows.
struct Table {
    std::vector<std::int64_t> values = std::vector<std::int64_t>(8, 1);
    std::vector<std::int32_t> offsets = std::vector<std::int32_t>(8, 0);  // empty terms
    const void* buffers[2] = {nullptr, values.data()};
    const void* text_buffers[3] = {nullptr, offsets.data(), nullptr};
    ArrowSchema fields[3];
    ArrowSchema* field_list[3] = {&fields[0], &fields[1], &fields[2]};
    ArrowSchema schema{};
    ArrowArray columns[3];
    ArrowArray* column_list[3] = {&columns[0], &columns[1], &columns[2]};
    ArrowArray batch{};
    bool given = false;

    explicit Table(std::int64_t rows) {
        const char* names[] = {"term", "video", "count"};
        for (int k = 0; k < 3; ++k) {
            fields[k] = {};
            fields[k].format = k == 0 ? "u" : "l";
            fields[k].name = names[k];
            columns[k] = {};
            columns[k].length = rows;
            columns[k].n_buffers = 2;
            columns[k].buffers = buffers;
            columns[k].release = mark_released<ArrowArray>;
        }
        columns[0].n_buffers = 3;
        columns[0].buffers = text_buffers;
        schema.format = "+s";
        schema.n_children = 3;
        schema.children = field_list;
        schema.release = mark_released<ArrowSchema>;
        batch.length = rows;
        batch.n_children = 3;
        batch.children = column_list;
        batch.release = mark_released<ArrowArray>;
    }

    static Table& of(ArrowArrayStream* stream) {
        return *static_cast<Table*>(stream->private_data);
    }

    // The message that reading the stream gives, or nothing.
    std::optional<std::string> refusal() {
        ArrowArrayStream stream{};
        stream.get_schema = [](ArrowArrayStream* self, ArrowSchema* out) {
            *out = of(self).schema;
            return 0;
        };
        stream.get_next = [](ArrowArrayStream* self, ArrowArray* out) {
            Table& table = of(self);
            if (table.given) {
                out->release = nullptr;
            } else {
                *out = table.batch;
                table.given = true;
            }
            return 0;
        };
        stream.release = mark_released<ArrowArrayStream>;
        stream.private_data = this;
        auto read = read_stream(OwnedStream(stream));
        if (read.ok()) return std::nullopt;
        return read.error();
    }
};

std::optional<std::string> message(const char* text) {
    return std::string(text);
}

KELNOR_TEST(a_stream_whose_lists_are_missing_is_refused) {
    Table no_fields(2);
    no_fields.schema.children = nullptr;
    CHECK_EQ(no_fields.refusal(), message("the table's schema has 3 columns but no list of them"));
    Table missing_field(2);
    missing_field.field_list[1] = nullptr;
    CHECK_EQ(missing_field.refusal(),
             message("the table's schema has no description of its column 1"));
    Table no_columns(2);
    no_columns.batch.children = nullptr;
    CHECK_EQ(no_columns.refusal(),
             message("a batch of the table has 3 columns but no list of them"));
    Table missing_column(2);
    missing_column.column_list[2] = nullptr;
    CHECK_EQ(missing_column.refusal(), message("a batch of the table has no column 2"));
    Table no_buffers(2);
    no_buffers.batch.n_buffers = 2;
    CHECK_EQ(no_buffers.refusal(),
             message("a batch of the table has 2 buffers but no list of them"));
}

KELNOR_TEST(a_batch_must_lie_within_its_columns) {
    Table negative(2);
    negative.batch.offset = -1;
    CHECK_EQ(negative.refusal(),
             message("a batch of the table has a negative or overflowing length or offset "
                     "(length 2, offset -1)"));
    Table past(2);
    past.batch.offset = 1;
    past.columns[0].length = 3;
    past.columns[1].length = 3;
    CHECK_EQ(Table(2).refusal(), std::nullopt);
    CHECK_EQ(past.refusal(),
             message("column 'count' has 2 entries where its batch reads 3 (offset 1, length 2)"));
}

}  // namespace
}  // namespace kelnor::core_test
