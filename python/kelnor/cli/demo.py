"""`kelnor demo`: index a real word list with made-up videos and query it with typos.

Every word is linked to one to three of a few thousand made-up videos with
made-up counts, drawn from a seeded generator, so a run is repeatable. The
words are folded (kelnor.fold), so case and accents do not keep a search
from them: what is typed is folded too. Each
query shows what a search box would: the searches to suggest (a swap counted
as one typo) beside the best videos, and the terms within the bound.
"""

from __future__ import annotations

import importlib.resources
import random
import time
from typing import Callable, NamedTuple, Optional, TextIO, TypeVar

from _kelnor import PrefixSearch, _index_sizes

from kelnor.builder import IndexBuilder
from kelnor.cli.text_lines import numbered_lines
from kelnor.cli.user_input import CommandError
from kelnor.folding import typed_for

VIDEO_COUNT = 2000
FIRST_VIDEO_ID = 100000
SHOWN_TERMS = 6
SHOWN_VIDEOS = 3
SHOWN_SUGGESTIONS = 5

T = TypeVar("T")
Typo = Callable[[str, random.Random], Optional[str]]


def _index_words(builder: IndexBuilder, path: str, rng: random.Random) -> list[str]:
    """Adds each word of `path` with made-up videos; returns the distinct words."""
    words: dict[str, None] = {}
    for number, line in numbered_lines(path):
        word = line.strip()
        if not word or word in words:
            continue
        try:
            for video in rng.sample(range(VIDEO_COUNT), rng.randint(1, 3)):
                builder.add(word, FIRST_VIDEO_ID + video, rng.randint(1, 1000))
        except ValueError as error:
            raise CommandError(f"{path}:{number}: {error}") from None
        words[word] = None
    if not words:
        raise CommandError(f"{path} holds no words")
    return list(words)


def _swapped(word: str, rng: random.Random) -> str | None:
    spots = [i for i in range(len(word) - 1) if word[i] != word[i + 1]]
    if not spots:
        return None
    i = rng.choice(spots)
    return word[:i] + word[i + 1] + word[i] + word[i + 2 :]


def _dropped(word: str, rng: random.Random) -> str | None:
    if len(word) < 2:
        return None
    i = rng.randrange(len(word))
    return word[:i] + word[i + 1 :]


def _replaced(word: str, rng: random.Random) -> str | None:
    i = rng.randrange(len(word))
    letter = rng.choice([c for c in "aeioulnrst" if c != word[i]])
    return word[:i] + letter + word[i + 1 :]


def _started(word: str, rng: random.Random) -> str | None:
    return word[: len(word) // 2] if len(word) >= 4 else None


# (what the typo does, how to make it, the max_dist that finds the word again;
# suggestions count a swap as one edit)
QUERIES: list[tuple[str, Typo, int]] = [
    ("two neighbouring letters of {!r} swapped", _swapped, 2),
    ("a letter of {!r} left out", _dropped, 1),
    ("a letter of {!r} mistyped", _replaced, 1),
    ("the first half of {!r}", _started, 1),
]


def _timed(query: Callable[[], T]) -> tuple[T, float]:
    """The result of `query` and the milliseconds it took."""
    start = time.perf_counter()
    result = query()
    return result, (time.perf_counter() - start) * 1000


def _terms(count: int) -> str:
    return "1 term" if count == 1 else f"{count:,} terms"


def _show_suggestions(index: PrefixSearch, term: str, out: TextIO) -> None:
    max_dist = 1
    text = typed_for(index, term)
    suggestions, ms = _timed(
        lambda: index.suggest(text, max_dist, SHOWN_SUGGESTIONS, transpositions=True)
    )
    shown = ", ".join(f"{text} ({distance}, {count})" for text, distance, count in suggestions)
    print(
        f"  suggest({term!r}, max_dist={max_dist}, limit={SHOWN_SUGGESTIONS}, "
        f"transpositions=True) in {ms:.2f} ms\n"
        f"    {shown or 'none'}",
        file=out,
    )


def _show_query(index: PrefixSearch, term: str, max_dist: int, out: TextIO) -> None:
    _show_suggestions(index, term, out)
    text = typed_for(index, term)
    matches, match_ms = _timed(lambda: index.fuzzy_match(text, max_dist))
    videos, video_ms = _timed(lambda: index.fuzzy_match_video(text, max_dist, SHOWN_VIDEOS))
    shown = ", ".join(f"{text} ({distance})" for text, _, distance in matches[:SHOWN_TERMS])
    more = f", and {len(matches) - SHOWN_TERMS} more" if len(matches) > SHOWN_TERMS else ""
    best = ", ".join(f"{video} ({score:.3f})" for video, score in videos)
    print(
        f"  fuzzy_match({term!r}, max_dist={max_dist}): "
        f"{_terms(len(matches))} in {match_ms:.2f} ms\n"
        f"    {shown or 'none'}{more}\n"
        f"  fuzzy_match_video({term!r}, max_dist={max_dist}, limit={SHOWN_VIDEOS}) "
        f"in {video_ms:.2f} ms\n"
        f"    {best or 'none'}",
        file=out,
    )


class DemoIndex(NamedTuple):
    """The demo's index, its distinct words and where they came from."""

    prefix_search: PrefixSearch
    words: list[str]
    source: str


def build_demo_index(words_path: str | None, rng: random.Random) -> DemoIndex:
    """The index of the folded words of `words_path` (None: the shipped
    sample), each linked to made-up videos drawn from `rng`."""
    builder = IndexBuilder(fold=True)
    if words_path is None:
        sample = importlib.resources.files("kelnor") / "words" / "sample.txt"
        with importlib.resources.as_file(sample) as path:
            words = _index_words(builder, str(path), rng)
        source = "the sample of English words shipped with kelnor"
    else:
        words = _index_words(builder, words_path, rng)
        source = words_path
    return DemoIndex(builder.build(), words, source)


def run_demo(words_path: str | None, seed: int, out: TextIO) -> None:
    rng = random.Random(seed)
    start = time.perf_counter()
    index, words, source = build_demo_index(words_path, rng)
    seconds = time.perf_counter() - start
    _, videos, nodes = _index_sizes(index)
    print(
        f"Indexed {len(words):,} words from {source}, each linked to 1 to 3 of "
        f"{videos:,} made-up videos, in {seconds:.2f} s ({nodes:,} trie nodes).",
        file=out,
    )

    long_words = [word for word in words if len(word) >= 6] or words
    for what, typo, max_dist in QUERIES:
        word = rng.choice(long_words)
        term = typo(word, rng)
        if term is None:
            continue
        print(f"\n{term!r}: {what.format(word)}", file=out)
        _show_query(index, term, max_dist, out)

    image = index.to_bytes()
    restored = PrefixSearch.from_bytes(image)
    probes = words[:: max(1, len(words) // 50)]
    same = all(restored.fuzzy_match(word, 1) == index.fuzzy_match(word, 1) for word in probes)
    print(
        f"\nSaved the index as a {len(image):,}-byte image and restored it: "
        f"{'the same answers' if same else 'DIFFERENT answers'}.",
        file=out,
    )
