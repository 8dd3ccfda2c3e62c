"""Indexes over the system's word lists, for differential tests on real words.

`word_index` is a session-scoped fixture (read only), one per installed list:
a sample of 4000 words with random payloads (on some prefix nodes too), as a
ModelTrie, the index restored from it, and the words. `misspelt` makes a typo
or two.
"""

from __future__ import annotations

import random
from functools import lru_cache
from pathlib import Path
from typing import List, Tuple

import pytest

from _kelnor import PrefixSearch
from host_data import restored, word_trie
from model_trie import INT32, ModelTrie

WORD_LISTS = {
    "english": Path("/usr/share/dict/american-english"),
    "french": Path("/usr/share/dict/french"),
    "german": Path("/usr/share/dict/ngerman"),
}
DEBIAN_PACKAGES = {"english": "wamerican", "french": "wfrench", "german": "wngerman"}


def read_words(path: Path, count: int, seed: int) -> List[str]:
    words = sorted(
        {line.strip() for line in path.read_text(encoding="utf-8").splitlines() if line.strip()}
    )
    return random.Random(seed).sample(words, min(count, len(words)))


def misspelt(word: str, rng: random.Random) -> str:
    chars = list(word)
    for _ in range(rng.randint(0, 2)):
        position = rng.randrange(len(chars) + 1)
        edit = rng.choice(["insert", "delete", "replace", "swap"])
        if edit == "insert" or not chars:
            chars.insert(position, rng.choice("aeiouéßx"))
        elif edit == "delete":
            del chars[min(position, len(chars) - 1)]
        elif edit == "replace":
            chars[min(position, len(chars) - 1)] = rng.choice("aeiouéß")
        elif len(chars) > 1:
            k = min(position, len(chars) - 2)
            chars[k], chars[k + 1] = chars[k + 1], chars[k]
    return "".join(chars)


@lru_cache(maxsize=None)
def indexed_words(name: str) -> Tuple[ModelTrie, PrefixSearch, List[str]]:
    """The model, the index and the words of list `name`, made once a run: a
    session fixture with parameters is made again each time the parameter
    changes, and for each module that imports it."""
    rng = random.Random(name)
    words = read_words(WORD_LISTS[name], 4000, seed=1)
    entries = []
    for word in words:
        videos = rng.sample(range(60), rng.randint(0, 4))
        entries.append((word, (rng.randint(0, 50), videos, [rng.randint(0, 9) for _ in videos])))
    trie = word_trie(entries, INT32, video_int_ids=list(range(5000, 5055)))
    # Some payloads on prefix nodes too, so that prefix hits carry videos.
    for node, payload in enumerate(trie.payloads):
        if payload is None and node % 3 == 0:
            trie.payloads[node] = (rng.randint(1, 30), [rng.randrange(60)], [rng.randint(1, 9)])
    return trie, restored(trie), words


@pytest.fixture(scope="session", params=sorted(WORD_LISTS))
def word_index(request):
    path = WORD_LISTS[request.param]
    if not path.exists():
        pytest.skip(f"{path} is not installed (Debian package {DEBIAN_PACKAGES[request.param]})")
    return indexed_words(request.param)
