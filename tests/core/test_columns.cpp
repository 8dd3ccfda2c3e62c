// The build from columns: its arrays against those of the record path's
// layout for a small example, refused rows by number across chunks, string
// views that point outside their data, UUID text, records files, columns in
// pieces that do not line up, and dictionary-encoded terms.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "builds/column_build.hpp"
#include "builds/column_pieces.hpp"
#include "builds/row_shift.hpp"
#include "builds/text_records.hpp"
#include "check.hpp"
#include "index/trie/own_counts_section.hpp"
#include "index/trie/trie_image.hpp"
#include "index/uuid_text.hpp"

namespace kelnor::core_test {
namespace {

using namespace kelnor::columns;

// Columns over vectors that outlive them.
struct Rows {
    std::string bytes;
    std::vector<std::int64_t> ends{0};
    std::vector<std::int64_t> videos;
    std::vector<std::uint32_t> counts;

    Rows(std::initializer_list<std::string_view> terms, std::vector<std::int64_t> ids,
         std::vector<std::uint32_t> row_counts)
        : videos(std::move(ids)), counts(std::move(row_counts)) {
        for (const std::string_view term : terms) {
            bytes += term;
            ends.push_back(static_cast<std::int64_t>(bytes.size()));
        }
    }

    ColumnChunk chunk() const {
        ColumnChunk chunk;
        chunk.length = static_cast<std::int64_t>(counts.size());
        chunk.terms.offsets = ends.data();
        chunk.terms.data = bytes.data();
        chunk.terms.data_size = static_cast<std::int64_t>(bytes.size());
        IntColumn ids;
        ids.values = videos.data();
        chunk.videos = ids;
        chunk.counts.values = counts.data();
        chunk.counts.width = 4;
        chunk.counts.is_signed = false;
        return chunk;
    }
};

// The reason a build refuses `chunks` (as a number, which CHECK_EQ shows),
// setting `where` to its row; nothing when it builds.
std::optional<int> refusal_of(const std::vector<ColumnChunk>& chunks, std::uint64_t& where) {
    auto built = build_from_columns(chunks, 50);
    if (built.ok()) return std::nullopt;
    where = built.error().where;
    return static_cast<int>(built.error().reason);
}

std::optional<int> refused(Refusal reason) {
    return static_cast<int>(reason);
}

KELNOR_TEST(columns_lay_out_the_record_paths_arrays) {
    // "ab" 7 5, "ac" 9 2, "ac" 7 1: nodes root, a, b, c in pre-order.
    const Rows rows({"ac", "ab", "ac"}, {9, 7, 7}, {2, 5, 1});
    const ColumnChunk chunk = rows.chunk();
    auto built = build_from_columns({&chunk, 1}, 10);
    CHECK(built.ok());
    const Trie& trie = built.value();
    CHECK_EQ(trie.node_shifts, (std::vector<std::uint32_t>{0, 1, 3, 3}));
    CHECK_EQ(trie.child_labels, (std::vector<char32_t>{0, U'a', U'b', U'c'}));
    CHECK_EQ(trie.child_transitions, (std::vector<std::uint32_t>{1, 2, 3}));
    CHECK_EQ(trie.is_terminal, (std::vector<std::uint8_t>{0, 0, 1, 1}));
    CHECK(trie.id_mode == IdMode::Int32);
    CHECK_EQ(trie.video_int_ids, (std::vector<std::uint32_t>{9, 7}));  // first seen first
    const PayloadView ac = trie.payloads.view(3);
    CHECK_EQ(ac.total_count, 3U);
    CHECK_EQ(std::vector<std::uint32_t>(ac.video_ids.begin(), ac.video_ids.end()),
             (std::vector<std::uint32_t>{0, 1}));
}

KELNOR_TEST(own_counts_are_the_exact_sums_and_survive_their_section) {
    // "a" 3e9 + 3e9, "ab" 2e9: nodes root, a, b. The image keeps totals up to
    // 2^32 - 1, which "a" (and the total "ab" passes up to it) exceed.
    const Rows rows({"a", "ab", "a"}, {1, 1, 2}, {3000000000U, 2000000000U, 3000000000U});
    const ColumnChunk chunk = rows.chunk();
    auto built = build_from_columns({&chunk, 1}, 10);
    CHECK(built.ok());
    const Trie& trie = built.value();
    CHECK(trie.term_counts.exact);
    CHECK_EQ(trie.term_counts.own(trie, 1), TermCount{6000000000});
    CHECK_EQ(trie.term_counts.own(trie, 2), TermCount{2000000000});
    CHECK_EQ(trie.term_counts.best_below(0), TermCount{6000000000});

    const std::vector<std::uint8_t> section = encode_own_counts(trie);
    std::vector<std::uint8_t> image(image_size(trie));
    encode_trie_into(trie, image);
    auto decoded = decode_trie(image);
    CHECK(decoded.ok());
    Trie restored = std::move(decoded).value();
    // Derived from the saturated totals until the section is restored.
    CHECK(!restored.term_counts.exact);
    CHECK_EQ(restored.term_counts.own(restored, 1), TermCount{0xFFFFFFFFU - 2000000000U});
    CHECK_EQ(restore_own_counts(restored, section), std::nullopt);
    CHECK(restored.term_counts.exact);
    CHECK_EQ(restored.term_counts.own(restored, 1), TermCount{6000000000});
    CHECK_EQ(restored.term_counts.best_below(1), TermCount{6000000000});

    std::vector<std::uint8_t> longer = section;
    longer.push_back(0);
    CHECK_EQ(restore_own_counts(restored, longer),
             std::optional<std::string>("1 bytes follow the counts of the image's 2 terms"));
    CHECK_EQ(
        restore_own_counts(restored, std::span(section).first(section.size() - 1)),
        std::optional<std::string>("the counts end at term 1 (UnexpectedEnd { additional: 1 })"));
}

// Rows [begin, end) of `rows` as pieces of `sizes` rows (the rest in a last one).
template <class View>
std::vector<ColumnPiece<View>> pieces_of(const View& whole, std::int64_t rows,
                                         std::vector<std::int64_t> sizes) {
    std::vector<ColumnPiece<View>> pieces;
    std::int64_t start = 0;
    sizes.push_back(rows);
    for (const std::int64_t size : sizes) {
        const std::int64_t length = std::min(size, rows - start);
        View view = whole;
        shift_rows(view, start);
        pieces.push_back({length, view});
        start += length;
    }
    return pieces;
}

KELNOR_TEST(pieces_that_do_not_line_up_build_the_whole_columns_index) {
    const Rows rows({"ac", "ab", "ac", "b", "ab", "c"}, {9, 7, 7, 1, 9, 2}, {2, 5, 1, 4, 4, 3});
    const ColumnChunk whole = rows.chunk();
    ColumnPieces pieces;
    pieces.terms = pieces_of(whole.terms, whole.length, {0, 2, 3});
    pieces.videos = pieces_of(whole.videos, whole.length, {1, 1});
    pieces.counts = pieces_of(whole.counts, whole.length, {4});
    const std::vector<ColumnChunk> chunks = align_pieces(pieces);
    std::int64_t total = 0;
    for (const ColumnChunk& chunk : chunks) {
        CHECK(chunk.length > 0);
        total += chunk.length;
    }
    CHECK_EQ(total, whole.length);
    auto built = build_from_columns(chunks, 10);
    auto expected = build_from_columns({&whole, 1}, 10);
    CHECK(built.ok() && expected.ok());
    CHECK_EQ(built.value().child_labels, expected.value().child_labels);
    CHECK_EQ(built.value().video_int_ids, expected.value().video_int_ids);
    CHECK(
        std::ranges::equal(built.value().payloads.encoded(), expected.value().payloads.encoded()));
}

KELNOR_TEST(dictionary_keys_read_their_words_and_no_further) {
    const Rows words({"b", "a"}, {}, {});
    const std::int16_t keys[] = {1, 0, 1, 2, -1};
    TextColumn column;
    column.layout = TextLayout::Dictionary;
    column.offsets = keys;
    IntColumn key_form;
    key_form.width = 2;
    key_form.is_signed = true;
    const DictionaryText dictionary{key_form, words.chunk().terms, 2};
    column.dictionary = &dictionary;
    CHECK_EQ(column.at(0).text, std::string_view("a"));
    CHECK_EQ(column.at(1).text, std::string_view("b"));
    CHECK(column.at(3).state == TextAt::State::Damaged);
    CHECK(column.at(4).state == TextAt::State::Damaged);
    shift_rows(column, 2);
    CHECK_EQ(column.at(0).text, std::string_view("a"));
}

KELNOR_TEST(a_refused_row_is_numbered_across_chunks) {
    const Rows first({"a", "b"}, {1, 2}, {1, 1});
    const Rows second({"c", ""}, {1, 2}, {1, 1});
    const Rows negative({"c", "d"}, {1, -2}, {1, 1});
    std::uint64_t where = 0;
    CHECK_EQ(refusal_of({first.chunk(), second.chunk()}, where), refused(Refusal::TermEmpty));
    CHECK_EQ(where, 3U);
    CHECK_EQ(refusal_of({first.chunk(), negative.chunk()}, where),
             refused(Refusal::VideoOutOfRange));
    CHECK_EQ(where, 3U);
}

KELNOR_TEST(a_null_and_a_view_outside_its_data_are_refused) {
    const Rows rows({"a", "b"}, {1, 2}, {1, 1});
    ColumnChunk chunk = rows.chunk();
    const std::uint8_t second_is_null = 0b01;
    chunk.counts.validity.bits = &second_is_null;
    std::uint64_t where = 0;
    CHECK_EQ(refusal_of({chunk}, where), refused(Refusal::CountNull));
    CHECK_EQ(where, 1U);

    // A long view (more than 12 bytes) into data buffer 0, one byte too far.
    const std::string data(20, 'x');
    const char* buffers[] = {data.data()};
    const std::int64_t sizes[] = {20};
    std::int32_t view[4] = {13, 0, 0, 8};
    chunk = rows.chunk();
    chunk.length = 1;
    chunk.terms.layout = TextLayout::Views;
    chunk.terms.offsets = view;
    chunk.terms.view_data = buffers;
    chunk.terms.view_data_sizes = sizes;
    CHECK_EQ(refusal_of({chunk}, where), refused(Refusal::TermDamaged));
    view[3] = 7;
    CHECK_EQ(refusal_of({chunk}, where), std::nullopt);
    view[2] = 1;  // no such buffer
    CHECK_EQ(refusal_of({chunk}, where), refused(Refusal::TermDamaged));
}

KELNOR_TEST(uuid_text_is_read_as_python_reads_it) {
    const VideoUuid expected{0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x78,
                             0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x78};
    for (const char* text :
         {"12345678-1234-5678-1234-567812345678", "{12345678123456781234567812345678}",
          "urn:uuid:12345678-1234-5678-1234-567812345678", "+2345678123456781234567812345678"}) {
        CHECK(parse_uuid_text(text).has_value());
    }
    CHECK(parse_uuid_text("urn:uuid:12345678-1234-5678-1234-567812345678") == expected);
    for (const char* text :
         {"", "1234567812345678123456781234567", "1__45678123456781234567812345678", "0x",
          "é2345678123456781234567812345678"}) {
        CHECK(!parse_uuid_text(text).has_value());
    }
}

Result<TextRecords, RowRefusal> parse(std::string_view text) {
    return parse_text_records({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                              Separator::Tab);
}

KELNOR_TEST(a_records_file_skips_its_mark_header_and_blank_lines) {
    auto records = parse("\xEF\xBB\xBFterm\tvideo\tcount\r\n \t\r\ncat\t 7\t0012\r\r\n");
    CHECK(records.ok());
    CHECK_EQ(records.value().term_bytes, std::string("cat"));
    CHECK_EQ(records.value().integer_ids, (std::vector<std::uint32_t>{7}));
    CHECK_EQ(records.value().counts, (std::vector<std::uint32_t>{12}));
}

KELNOR_TEST(a_records_file_names_its_first_bad_line) {
    auto fields = parse("cat\t7\t1\n\ncat\t7\n");
    CHECK(!fields.ok());
    CHECK_EQ(fields.error().where, 3U);
    CHECK_EQ(fields.error().number, 2U);
    auto truncated = parse("cat\t7\t1\xE2\x82");
    CHECK_EQ(truncated.error().text, std::string("unexpected end of data"));
    auto overlong = parse("cat\t7\t1\xE0\x80\n");
    CHECK_EQ(overlong.error().text, std::string("invalid continuation byte"));
    auto mixed = parse("cat\t7\t1\ncat\t1234567812345678123456781234567a\t1\n");
    CHECK(mixed.error().reason == Refusal::VideoKindMismatch);
    CHECK(!mixed.error().is_integer);
}

}  // namespace
}  // namespace kelnor::core_test
