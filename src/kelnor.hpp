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
// - the build from columns (columns/): Arrow arrays and streams read as
//   views, records files parsed or read as a stream (RecordsStream), and
//   build_from_columns() with its RowRefusal and the term limit;
// - the queries (fuzzy_match(), fuzzy_match_video(), suggest() and
//   default_suggest_bound());
// - how a host stops a long query (InterruptCheck, Interrupted);
// - the failure type of a damaged index (InternalFailure, checked_at()) and
//   the Result that carries expected failures.
#pragma once

#include "columns/arrow_chunks.hpp"
#include "columns/arrow_columns.hpp"
#include "columns/column_build.hpp"
#include "columns/column_pieces.hpp"
#include "columns/records_stream.hpp"
#include "columns/term_check.hpp"
#include "columns/text_records.hpp"
#include "columns/uuid_text.hpp"
#include "encoding/decode_error.hpp"
#include "internal_data.hpp"
#include "internal_failure.hpp"
#include "interrupt_check.hpp"
#include "prefix/matcher/fuzzy_match.hpp"
#include "prefix/matcher/suggest.hpp"
#include "prefix/trie/own_counts_section.hpp"
#include "prefix/trie/trie_image.hpp"
#include "prefix_search.hpp"
#include "result.hpp"
#include "video_index.hpp"
#include "video_ranking.hpp"
