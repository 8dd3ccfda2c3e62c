"""A long native build stops soon after Ctrl-C, with KeyboardInterrupt.

The builds from columns, from a records file and from a table's stream ask
for pending signals as they gather rows and sort them, as the queries do.
Each case runs in a child process, which a process of its own signals a
quarter of the way into the build (timed by a first build that runs to its
end); the child reports the exception and how far into the build it came,
as a share of the whole build: a build that ignored the signal would raise
only at its end, a share of 1. (The stream never ends.)
"""

from __future__ import annotations

import ast
import sys
import textwrap

import pytest
from test_cli import run_child

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="needs POSIX signals")
# The child builds its columns and its stream with pyarrow and numpy.
pytest.importorskip("numpy")
pytest.importorskip("pyarrow")

# Builds of 3 million rows with as many distinct terms take seconds. Prints
# the exception's name and the share of the whole build at which it came.
CHILD = textwrap.dedent("""
    import os, signal, sys, time
    import numpy as np
    import pyarrow as pa
    import _kelnor

    rows = 3_000_000
    terms = pa.array([f"t{k * 7919 % rows:07d}" for k in range(rows)])
    videos = np.arange(rows, dtype=np.int64)
    counts = np.ones(rows, dtype=np.int64)
    text = b"".join(f"t{k * 7919 % rows:07d}\\t{k}\\t1\\n".encode() for k in range(rows))
    schema = pa.schema([("term", pa.string()), ("video", pa.int64()), ("count", pa.int64())])

    def batches():
        batch = pa.record_batch([terms.slice(0, 1000), pa.array(videos[:1000]),
                                 pa.array(counts[:1000])], schema=schema)
        while True:
            yield batch
            time.sleep(0.001)

    builds = {
        "columns": lambda: _kelnor._build_from_columns(
            terms.__arrow_c_array__(), videos, counts, 50),
        "records": lambda: _kelnor._build_from_text_records(text, "\\t", 50),
        "stream": lambda: _kelnor._build_from_arrow_stream(
            pa.RecordBatchReader.from_batches(schema, batches()).__arrow_c_stream__(), 50,
            "term", "video", "count"),
    }
    build = builds[sys.argv[1]]
    whole = 4.0
    if sys.argv[1] != "stream":
        started = time.monotonic()
        build()
        whole = time.monotonic() - started
    parent = os.getpid()
    started = time.monotonic()
    if os.fork() == 0:
        time.sleep(whole / 4)
        os.kill(parent, signal.SIGINT)
        os._exit(0)
    try:
        build()
        raised = None
    except BaseException as error:
        raised = type(error).__name__
    print(repr((raised, (time.monotonic() - started) / whole)), flush=True)
    """)


@pytest.mark.parametrize("build", ["columns", "records", "stream"])
def test_ctrl_c_stops_a_long_build(build):
    completed = run_child(build, script=CHILD)
    assert completed.returncode == 0, completed.stderr
    raised, share = ast.literal_eval(completed.stdout)
    assert raised == "KeyboardInterrupt"
    assert share < 0.75
