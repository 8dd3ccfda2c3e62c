"""A plain-Python model of the spelling cost by which suggestions are ordered
(src/queries/spelling_cost.hpp): the full table of a weighted optimal
string alignment distance, plus the first-letter and phonetic-key penalties.
Words are sequences of code points."""

from __future__ import annotations

from typing import List, Sequence

MISSING_LETTER = 3
EXTRA_LETTER = 4
DOUBLED_LETTER = 2
SUBSTITUTION = 4
SWAP = 3
OTHER_FIRST_LETTER = 2
OTHER_SOUND = 1

# Spellings read as one sound, tried in this order at each place.
DIGRAPHS = {"ph": "f", "ck": "k", "gh": "", "kn": "n", "wr": "r", "dg": "j"}
LETTERS = {"q": "k", "x": "ks", "z": "s"}
SILENT_AFTER_FIRST = set("aeiouyhw")


def silent_after_first(sound: int) -> bool:
    return sound < 128 and chr(sound) in SILENT_AFTER_FIRST


def folded(c: int) -> int:
    return c + 32 if ord("A") <= c <= ord("Z") else c


def phonetic_key(word: Sequence[int]) -> List[int]:
    text = "".join(chr(folded(c)) if c < 128 else "\0" for c in word)
    sounds: List[int] = []
    at = 0
    while at < len(word):
        pair = text[at : at + 2]
        if pair in DIGRAPHS:
            spoken, at = [ord(s) for s in DIGRAPHS[pair]], at + 2
        elif text[at] == "c":
            soft = pair[1:] in ("e", "i", "y")
            spoken, at = [ord("s" if soft else "k")], at + 1
        elif text[at] in LETTERS:
            spoken, at = [ord(s) for s in LETTERS[text[at]]], at + 1
        else:
            spoken, at = [folded(word[at])], at + 1
        for sound in spoken:
            if sounds and (silent_after_first(sound) or sounds[-1] == sound):
                continue
            sounds.append(sound)
    return sounds


def doubles(text: Sequence[int], k: int) -> bool:
    return (k > 0 and text[k - 1] == text[k]) or (k + 1 < len(text) and text[k + 1] == text[k])


def weighted_distance(typed: Sequence[int], word: Sequence[int]) -> int:
    n, m = len(typed), len(word)
    extra_typed = [DOUBLED_LETTER if doubles(typed, j) else EXTRA_LETTER for j in range(n)]
    extra_word = [DOUBLED_LETTER if doubles(word, i) else MISSING_LETTER for i in range(m)]
    d = [[0] * (n + 1) for _ in range(m + 1)]
    for j in range(1, n + 1):
        d[0][j] = d[0][j - 1] + extra_typed[j - 1]
    for i in range(1, m + 1):
        d[i][0] = d[i - 1][0] + extra_word[i - 1]
        for j in range(1, n + 1):
            same = word[i - 1] == typed[j - 1]
            d[i][j] = min(
                d[i - 1][j] + extra_word[i - 1],
                d[i][j - 1] + extra_typed[j - 1],
                d[i - 1][j - 1] + (0 if same else SUBSTITUTION),
            )
            if i > 1 and j > 1 and word[i - 1] == typed[j - 2] and word[i - 2] == typed[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + SWAP)
    return d[m][n]


def spelling_cost(typed: Sequence[int], word: Sequence[int]) -> int:
    cost = weighted_distance(typed, word)
    if [folded(c) for c in typed[:1]] != [folded(c) for c in word[:1]]:
        cost += OTHER_FIRST_LETTER
    if phonetic_key(typed) != phonetic_key(word):
        cost += OTHER_SOUND
    return cost
