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

# Builds of 2 million rows with as many distinct terms take seconds. The rows
# are made as fixed-width bytes by numpy, in a fraction of the time that
# formatting them one by one takes: term k is "t" and seven digits of
# k * 7919 % rows (7919 is prime to 2 million, so no two terms are alike),
# its video 1000000 + k (always seven digits), its count 1. Prints the
# exception's name and the share of the whole build at which it came.
CHILD = textwrap.dedent("""
    import os, signal, sys, time
    import numpy as np
    import pyarrow as pa
    import _kelnor

    rows = 2_000_000
    places = 10 ** np.arange(6, -1, -1, dtype=np.int64)

    def digits(values):
        return (values[:, None] // places % 10 + ord("0")).astype(np.uint8)

    def fields(*columns):
        return np.hstack([np.full((rows, 1), ord(c), np.uint8) if isinstance(c, str) else c
                          for c in columns])

    keys = digits(np.arange(rows, dtype=np.int64) * 7919 % rows)

    def terms():
        data = fields("t", keys)
        offsets = np.arange(0, data.size + 1, data.shape[1], dtype=np.int32)
        return pa.Array.from_buffers(pa.string(), rows, [None, pa.py_buffer(offsets),
                                                         pa.py_buffer(data.tobytes())])

    def text():
        videos = digits(1_000_000 + np.arange(rows, dtype=np.int64))
        return fields("t", keys, "\\t", videos, "\\t", "1", "\\n").tobytes()

    schema = pa.schema([("term", pa.string()), ("video", pa.int64()), ("count", pa.int64())])
    # Made before the clock starts: the first batch pyarrow makes imports
    # hundreds of modules, and an interrupt landing in an import's eval()
    # ends CPython 3.11 with SIGINT at exit even once the exception is caught.
    batch = pa.record_batch([pa.array([f"t{k:07d}" for k in range(1000)]),
                             pa.array(range(1000)), pa.array([1] * 1000)], schema=schema)

    def batches():
        while True:
            yield batch
            time.sleep(0.001)

    def columns_build():
        array = terms()
        videos = 1_000_000 + np.arange(rows, dtype=np.int64)
        counts = np.ones(rows, dtype=np.int64)
        return lambda: _kelnor._build_from_columns(array.__arrow_c_array__(), videos, counts, 50)

    def records_build():
        records = text()
        return lambda: _kelnor._build_from_text_records(records, "\\t", 50)

    def stream_build():
        return lambda: _kelnor._build_from_arrow_stream(
            pa.RecordBatchReader.from_batches(schema, batches()).__arrow_c_stream__(), 50,
            "term", "video", "count")

    build = {"columns": columns_build, "records": records_build, "stream": stream_build}[
        sys.argv[1]]()
    whole = 2.0
    if sys.argv[1] != "stream":
        started = time.monotonic()
        build()
        whole = time.monotonic() - started
    # Ctrl-C raises as at a terminal, also where the run was started in the
    # background, which ignores SIGINT.
    signal.signal(signal.SIGINT, signal.default_int_handler)
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
