"""examples/dask_pipeline.py on a local cluster of two worker processes, with few queries."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

pytest.importorskip("distributed", reason="needs kelnor[dask]")

import pandas as pd  # noqa: E402
from distributed import Client, LocalCluster  # noqa: E402

import kelnor  # noqa: E402

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.fixture(scope="module")
def pipeline():
    # The workers import the example by name, as the functions sent to them name it.
    sys.path.insert(0, str(EXAMPLES))
    try:
        import dask_pipeline

        yield dask_pipeline
    finally:
        sys.path.remove(str(EXAMPLES))


def test_the_cluster_answers_as_the_index_does(pipeline, monkeypatch):
    monkeypatch.setattr(pipeline, "QUERIES_PER_PARTITION", 700)
    with LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None
    ) as cluster, Client(cluster) as client:
        index, answers = pipeline.run(client, 2000)
    assert len(answers) == 2000
    assert answers["term"].tolist() == pd.concat(
        [pipeline.misspelt(part, size) for part, size in enumerate([700, 700, 600])]
    )["term"].tolist()
    assert answers["corrected"].tolist() == [
        next(iter(index.suggest(term, 1, 1)), (term,))[0] for term in answers["term"]
    ]
    assert answers["videos"].tolist() == [
        index.fuzzy_match_video(term, 1, 3) for term in answers["term"]
    ]
    clicks = pd.concat(pipeline.clicks(part) for part in range(pipeline.CLICK_PARTITIONS))
    totals = clicks.groupby(["term", "video"])["count"].sum().reset_index()  # sorted
    assert index.to_bytes() == kelnor.build(totals.itertuples(index=False, name=None)).to_bytes()
