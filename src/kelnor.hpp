// The core as the binding layer sees it: the one core header that the files
// of src/python include, so that what the binding may call is listed here.
//
// - the index value behind a Python object (PrefixSearch), with its folding
//   and show_spellings();
// - the build from the host's flat arrays (InternalData, check_shape(),
//   label_code_point(), VideoIndexBytes, choose_video_ids(), assemble());
// - the image (image_size(), encode_trie_into(), decode_trie() and the
//   render() of its DecodeError) and the exact own counts kept beside it
//   (encode_own_counts(), restore_own_counts());
// - the build from columns (builds/): Arrow arrays and streams read as
//   views, records files parsed or read as a stream (RecordsStream), and
//   build_from_columns() with its RowRefusal and the term limit;
// - the queries (fuzzy_match(), fuzzy_match_video(), suggest() and
//   default_suggest_bound(), search() with its TooManyWords and search_words()),
//   and run_batch() that runs one of them over many inputs on threads, with
//   append_texts() that reads the inputs of an Arrow column;
// - how a host stops a long query (InterruptCheck, Interrupted);
// - the failure type of a damaged index (InternalFailure, checked_at()) and
//   the Result that carries expected failures.
#pragma once

#include "base/internal_failure.hpp"
#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "builds/arrow_chunks.hpp"
#include "builds/arrow_columns.hpp"
#include "builds/column_build.hpp"
#include "builds/column_pieces.hpp"
#include "builds/column_texts.hpp"
#include "builds/internal_data.hpp"
#include "builds/records_stream.hpp"
#include "builds/term_check.hpp"
#include "builds/text_records.hpp"
#include "builds/video_index.hpp"
#include "builds/word_starts_build.hpp"
#include "index/encoding/decode_error.hpp"
#include "index/prefix_search.hpp"
#include "index/text/search_words.hpp"
#include "index/trie/own_counts_section.hpp"
#include "index/trie/trie_image.hpp"
#include "index/uuid_text.hpp"
#include "queries/batch_order.hpp"
#include "queries/batch_runner.hpp"
#include "queries/fuzzy_match.hpp"
#include "queries/search.hpp"
#include "queries/suggest.hpp"
#include "queries/video_ranking.hpp"
