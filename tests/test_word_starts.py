"""Indexes built with word_starts=True: suggest completes a phrase from any of
its words (against model_suggest.from_any_word), every other answer and the
image are the plain index's, and every build path and way of saving keeps it.
"""

from __future__ import annotations

import copyreg
import io
import pickle

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import same_unicode_as_the_word_table
import kelnor
import model_image
import model_suggest
from kelnor.cli.main import main
from kelnor.index_file import load_stream
from model_index_file import header
from model_trie import ModelTrie
from outcomes import outcome

GOBLET = "harry potter and the goblet of fire"
CHAMBER = "harry potter and the chamber of secrets"
RECORDS = [
    (GOBLET, 1, 50),
    (CHAMBER, 2, 40),
    ("the fire within", 3, 5),
    ("goblet", 4, 3),
    ("fire and ice", 5, 9),
    ("fire and ice", 6, 2),
]


@pytest.fixture(scope="module")
def plain():
    return kelnor.build(RECORDS)


@pytest.fixture(scope="module")
def phrases():
    return kelnor.build(RECORDS, word_starts=True)


@pytest.mark.parametrize(
    "text, options, expected",
    [
        ("potter gob", {}, [(GOBLET, 0, 50)]),
        ("gblet", {}, [(GOBLET, 1, 50), ("goblet", 1, 3)]),
        ("chamber", {}, [(CHAMBER, 0, 40)]),
        # Each phrase once, ranked by distance, cost, count and text.
        ("fire", {}, [(GOBLET, 0, 50), ("fire and ice", 0, 11), ("the fire within", 0, 5)]),
        ("fire", {"limit": 1}, [(GOBLET, 0, 50)]),
        ("the fire", {}, [(GOBLET, 0, 50), ("the fire within", 0, 5)]),
        ("and", {}, [(GOBLET, 0, 50), (CHAMBER, 0, 40), ("fire and ice", 0, 11)]),
        ("potter fire", {}, [(GOBLET, 0, 50)]),
        # Earlier typed words fall before the completed one, in their order.
        ("fire potter", {}, []),
        ("secrets harry", {}, []),
        # Each typed word within its own bound, their sum within the query's.
        ("hary chamber", {}, [(CHAMBER, 1, 40)]),
        ("hary chamber", {"max_dist": 0}, []),
        ("hary chambr", {"max_dist": 1}, []),
        ("hary chambr", {}, [(CHAMBER, 2, 40)]),
        ("hry chamber", {}, []),
        # Words are runs of letters and digits, whatever lies between.
        ("potter, (gob", {}, [(GOBLET, 0, 50)]),
        # As many typed words as the longest phrase has, and more.
        ("harry potter and the goblet of f", {}, [(GOBLET, 0, 50)]),
        ("harry harry potter and the goblet of f", {}, []),
        ("", {"limit": 2}, [(GOBLET, 0, 50), (CHAMBER, 0, 40)]),
        ("  ", {}, []),
        # Corrections ask for whole phrases: as on the plain index.
        ("potter gob", {"complete": False}, []),
        ("gobet", {"complete": False}, [("goblet", 1, 3)]),
    ],
)
def test_suggest_completes_from_any_word(phrases, text, options, expected):
    assert phrases.suggest(text, **options) == expected
    terms = sorted({(term, count) for term, _, count in phrases.suggest("", limit=None)})
    if options.get("complete", True):
        assert model_suggest.from_any_word(terms, text, options.get("max_dist"),
                                           options.get("limit", 10)) == expected


@pytest.mark.parametrize(
    "query",
    [
        lambda index: index.to_bytes(),
        lambda index: index.fuzzy_match("goblet", 2),
        lambda index: index.fuzzy_match("fire and ice", 0),
        lambda index: index.fuzzy_match_video("goblet", 1),
        lambda index: index.fuzzy_match_video("harry", 0, include_prefix_nodes=True),
        lambda index: index.suggest("potter gob", complete=False),
        lambda index: index.suggest("harr", 1),
        lambda index: index.search("potter gob"),
        lambda index: index.search("gob", complete=True),
    ],
)
def test_everything_else_answers_as_the_plain_index(plain, phrases, query):
    assert query(phrases) == query(plain)


# A small vocabulary, so that phrases share words and typed words meet
# several of them within a bound.
WORDS = ["tea", "team", "steam", "mates", "meat", "tame", "a", "é中", "stem"]
phrase_texts = st.lists(st.sampled_from(WORDS), min_size=1, max_size=4).map(" ".join)


@st.composite
def typed_texts(draw, phrases):
    """Words of one of `phrases`, some left out, the last perhaps cut short,
    perhaps with a typo: mostly texts that complete something."""
    words = model_suggest.words_of(draw(st.sampled_from(phrases)))
    kept = [w for w in words if draw(st.booleans())] or words[-1:]
    kept[-1] = kept[-1][: draw(st.integers(1, len(kept[-1])))]
    text = " ".join(kept)
    if draw(st.booleans()):
        at = draw(st.integers(0, len(text)))
        text = text[:at] + draw(st.sampled_from("asxé")) + text[at + 1 :]
    return text


# Few counts, so that ties are common; and counts whose sums saturate the
# index's 32 bits, which its words' counts then cannot follow.
COUNTS = [st.integers(1, 3), st.sampled_from([1, 2**31, 2**32 - 1])]


@settings(max_examples=300, deadline=None)
@given(
    st.sampled_from(COUNTS).flatmap(
        lambda counts: st.lists(st.tuples(phrase_texts, counts), min_size=1, max_size=8)
    ).flatmap(lambda rows: st.tuples(st.just(rows), typed_texts([p for p, _ in rows]))),
    st.sampled_from([None, 0, 1, 2]),
    st.sampled_from([None, 1, 3]),
    st.booleans(),
)
def test_suggest_against_the_model(drawn, max_dist, limit, transpositions):
    rows, text = drawn
    index = kelnor.build(
        [(phrase, k, count) for k, (phrase, count) in enumerate(rows)], word_starts=True
    )
    # The phrases' own counts as the index keeps them (test_suggest holds them
    # to the plain model).
    terms = sorted((term, count) for term, _, count in index.suggest("", limit=None))
    expected = model_suggest.from_any_word(terms, text, max_dist, limit, transpositions)
    assert index.suggest(text, max_dist, limit, transpositions=transpositions) == expected


def test_the_model_finds_what_the_plain_model_does_and_more():
    """The model's rule on the readable cases' phrases, against the plain model:
    from the start of a phrase it adds nothing, and from other words it finds."""
    terms = sorted({(p, 0) for p, _, _ in RECORDS})
    plain = model_suggest.NearestTerms(terms, "fire", True, None).suggest(None)
    assert plain == [("fire and ice", 0, 0)]
    assert model_suggest.from_any_word(terms, "fire", None, None) == [
        ("fire and ice", 0, 0), (GOBLET, 0, 0), ("the fire within", 0, 0)
    ]


def gathered_one_by_one(fold: bool) -> kelnor.IndexBuilder:
    builder = kelnor.IndexBuilder(fold)
    for record in RECORDS:
        builder.add(*record)
    return builder


def test_the_build_paths_all_make_it(tmp_path, capsys):
    pa = pytest.importorskip("pyarrow")
    terms, videos, counts = (list(column) for column in zip(*RECORDS))
    table = pa.table({"term": terms, "video": videos, "count": counts})
    records = tmp_path / "records.tsv"
    records.write_text("".join(f"{t}\t{v}\t{c}\n" for t, v, c in RECORDS), encoding="utf-8")
    output = tmp_path / "index.bin"
    assert main(["build", str(records), "-o", str(output), "--word-starts"]) == 0
    capsys.readouterr()
    indexes = [
        kelnor.build(RECORDS, word_starts=True),
        kelnor.build(RECORDS, fold=True, word_starts=True),
        kelnor.build(table, word_starts=True),
        kelnor.build_columns(terms, videos, counts, word_starts=True),
        kelnor.build_columns(pa.array(terms), pa.array(videos), pa.array(counts), word_starts=True),
        kelnor.load(output),
        gathered_one_by_one(False).build(word_starts=True),
        gathered_one_by_one(True).build(word_starts=True),
    ]
    for index in indexes:
        assert index.suggest("potter gob") == [(GOBLET, 0, 50)]


def test_saved_and_pickled_it_stays(phrases, plain, tmp_path):
    path = tmp_path / "index.bin"
    kelnor.save(phrases, path)
    assert kelnor.file_info(path)[:2] == (2, 0x0002)
    kelnor.save(plain, tmp_path / "plain.bin")
    assert kelnor.file_info(tmp_path / "plain.bin")[:2] == (2, 0)
    restored = [
        kelnor.load(path),
        load_stream(io.BytesIO(path.read_bytes()), "-"),
        pickle.loads(pickle.dumps(phrases)),
    ]
    for index in restored:
        assert index.suggest("potter gob") == [(GOBLET, 0, 50)]
    # A folded one keeps both flags, its spellings and its words.
    folded = kelnor.build([(GOBLET.title(), 1, 3)], fold=True, word_starts=True)
    kelnor.save(folded, path)
    assert kelnor.file_info(path)[:2] == (2, 0x0003)
    for index in (kelnor.load(path), pickle.loads(pickle.dumps(folded))):
        assert index.suggest("gblet") == [(GOBLET.title(), 1, 3)]
    # A plain index pickles as it did before word starts existed.
    assert pickle.loads(pickle.dumps(plain)).suggest("potter gob") == []
    assert copyreg.dispatch_table[kelnor.PrefixSearch](plain)[1] == (
        plain.to_bytes(),
        plain._own_counts(),
        None,
    )


def test_a_trie_that_is_no_tree_is_refused_and_a_damaged_one_panics():
    # Node 2 is a child of both 0 and 1: two paths reach it.
    shared = kelnor.PrefixSearch.from_internal_data_v2(
        [0, 2, 3], ["", "a", "b"], [None, (1, [], []), (1, [], [])], [1, 2, 2], [], 0
    )
    with pytest.raises(ValueError) as refused:
        shared._with_word_starts()
    assert str(refused.value) == (
        "node 2 has more than one path: the words of an index are derived from a tree"
    )
    # The root's only child is node 5 of 2.
    damaged = kelnor.PrefixSearch.from_bytes(
        model_image.encode(
            ModelTrie(
                node_shifts=[0, 1],
                child_labels=[0, ord("a")],
                child_transitions=[5],
                payloads=[None, (1, [], [])],
                is_terminal=[False, True],
            )
        )
    )
    assert outcome(damaged._with_word_starts) == (
        "panic",
        "index out of bounds: the len is 2 but the index is 5",
    )


@same_unicode_as_the_word_table
def test_words_split_where_str_isalnum_says():
    """Each phrase is 'q', one character, 'zeta': 'zeta' is a word of it
    exactly when that character is no letter or digit (str.isalnum), over a
    sample of every part of the code space (the splitter that the word starts
    share with search is checked over every code point in test_search)."""
    characters = [chr(c) for c in range(1, 0x110000, 251) if not 0xD800 <= c <= 0xDFFF]
    characters += ["_", "-", "²", "٣", "\u0301", "\u00b7", "中", "\u2009", "Ⅻ"]
    index = kelnor.build([(f"q{c}zeta", k, 1) for k, c in enumerate(characters)], word_starts=True)
    found = {term[1] for term, _, _ in index.suggest("zeta", 0, None)}
    assert found == {c for c in characters if not c.isalnum()}
    assert len(found) > 3_000 and len(characters) - len(found) > 400


# 6,000 terms, each the one before and an "a" more: 18,003,000 characters in
# a trie of 6,001 nodes, more than 64 a node and 2**24 more.
CHAIN = [("a" * length, 0, 1) for length in range(1, 6001)]
TOO_LONG = (
    "the terms of this index of 6001 nodes hold more than 17161280 characters, "
    "the most whose words an index derives"
)


def test_terms_too_long_for_their_words_are_refused(tmp_path):
    with pytest.raises(ValueError) as refused:
        kelnor.build(CHAIN, word_starts=True)
    assert str(refused.value) == TOO_LONG
    # The same terms less the longest fit.
    assert kelnor.build(CHAIN[:-300], word_starts=True)._has_word_starts()
    path = tmp_path / "chain.kelnor"
    image = kelnor.build(CHAIN).to_bytes()
    path.write_bytes(header(image, version=2, flags=0x0002) + image)
    with pytest.raises(kelnor.IndexFileError) as refused_file:
        kelnor.load(path)
    assert str(refused_file.value) == (
        f"{path} holds an index whose words cannot be derived: {TOO_LONG}"
    )
