"""The data of the spelling benchmark, all of it installed by package managers
beforehand and nothing downloaded at run time:

    pip install symspellpy codespell
    apt-get install misspell-fixer aspell aspell-en

- the vocabulary: the English frequency dictionary that symspellpy ships
  (82,765 words with corpus counts);
- the tuning list: the corrections dictionary that codespell ships, less the
  misspellings that the held-out list has too;
- the held-out list: the rules that the Debian misspell-fixer package ships
  (its "safe" sed rules, one misspelling and its correction each).

Of each list only the pairs whose misspelling is lower-case ASCII letters
outside the vocabulary and whose correction is one word of it are kept.
"""

from __future__ import annotations

import os
import re
from typing import Dict

MISSPELL_FIXER_RULES = "/usr/share/misspell-fixer/rules"
INSTALL = "pip install symspellpy codespell; apt-get install misspell-fixer aspell aspell-en"
RULE = re.compile(r"s/\\b(\w+)\\b/(\w+)/g$")


def _package_file(package: str, *parts: str) -> str:
    try:
        module = __import__(package)
    except ImportError:
        raise SystemExit(f"{package} is missing: {INSTALL}") from None
    return os.path.join(os.path.dirname(module.__file__), *parts)


def frequencies() -> Dict[str, int]:
    """Word -> corpus count."""
    counts = {}
    with open(_package_file("symspellpy", "frequency_dictionary_en_82_765.txt")) as lines:
        for line in lines:
            word, count = line.split()
            counts[word] = int(count)
    return counts


def _kept(misspelling: str, correction: str, vocabulary: Dict[str, int]) -> bool:
    return (misspelling.isascii() and misspelling.isalpha() and misspelling.islower()
            and misspelling not in vocabulary and correction in vocabulary)


def codespell_pairs(vocabulary: Dict[str, int]) -> Dict[str, str]:
    pairs = {}
    with open(_package_file("codespell_lib", "data", "dictionary.txt")) as lines:
        for line in lines:
            misspelling, _, corrections = line.rstrip("\n").partition("->")
            words = [word.strip() for word in corrections.split(",") if word.strip()]
            if len(words) == 1 and _kept(misspelling, words[0], vocabulary):
                pairs[misspelling] = words[0]
    return pairs


def misspell_fixer_pairs(vocabulary: Dict[str, int]) -> Dict[str, str]:
    if not os.path.isdir(MISSPELL_FIXER_RULES):
        raise SystemExit(f"{MISSPELL_FIXER_RULES} is missing: {INSTALL}")
    pairs = {}
    for name in sorted(os.listdir(MISSPELL_FIXER_RULES)):
        if not name.startswith("safe"):
            continue
        with open(os.path.join(MISSPELL_FIXER_RULES, name)) as lines:
            for line in lines:
                rule = RULE.match(line.strip())
                if rule and _kept(rule[1], rule[2], vocabulary):
                    pairs[rule[1]] = rule[2]
    return pairs


def tuning_and_held_out(vocabulary: Dict[str, int]) -> Dict[str, Dict[str, str]]:
    held_out = misspell_fixer_pairs(vocabulary)
    tuning = {bad: good for bad, good in codespell_pairs(vocabulary).items()
              if bad not in held_out}
    return {"misspell-fixer (held out)": held_out, "codespell (tuning)": tuning}
