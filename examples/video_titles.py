"""Search video titles as the user types, typos and all.

Each word of a title becomes a record (word, video id, views), so a word
that many watched videos share ranks those videos first. Queries are folded
to lower case like the indexed words, and each hit is shown with its title.
A text of several words is searched word by word: the videos that answer
more of its words come first.

Run after `python3 -m pip install .`:  python3 examples/video_titles.py
"""

import uuid

import kelnor

CATALOGUE = {
    uuid.UUID("3b4f7a52-9d8e-4c1b-a6f0-1e2d3c4b5a69"): (
        "Harry's first day at the new school",
        120_000,
    ),
    uuid.UUID("8c2e1f07-5a6b-4d3c-9e8f-7a6b5c4d3e21"): ("Harold bakes sourdough bread", 45_000),
    uuid.UUID("d1e2f3a4-b5c6-4d7e-8f90-a1b2c3d4e5f6"): (
        "Hares in the snow: a winter documentary",
        80_000,
    ),
    uuid.UUID("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"): ("Baking bread with a school class", 15_000),
    uuid.UUID("f0e1d2c3-b4a5-4968-8776-655443322110"): ("The new harbour at night", 30_000),
}


def records():
    for video, (title, views) in CATALOGUE.items():
        for word in title.lower().replace(":", " ").replace("'s", " ").split():
            yield word, video, views


def main():
    index = kelnor.build(records())
    for typed in ["Harry", "hary", "bred", "scho", "harbor"]:
        print(f"{typed!r}:")
        for video, score in index.fuzzy_match_video(typed.lower(), limit=3):
            print(f"  {score:.2f}  {CATALOGUE[uuid.UUID(video)][0]}")
    for typed in ["harry scool", "bread scho"]:
        print(f"{typed!r}:")
        for video, words, score in index.search(typed.lower(), limit=3):
            answered = f"{words} word" + ("" if words == 1 else "s")
            print(f"  {answered:8} {score:.2f}  {CATALOGUE[uuid.UUID(video)][0]}")


if __name__ == "__main__":
    main()
