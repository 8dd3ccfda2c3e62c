"""The record path, the Arrow-table path and `kelnor build` on a TSV file, on
the same 2 million (term, video, count) rows, in one run.

Terms are drawn Zipf-like from a real word list plus made-up two-word
phrases, videos uniformly from 500,000 integer ids, counts heavy-tailed.
Each path runs in its own process, which reports its rows per second and
how far its resident memory peaked above what it held before the build (the
rows already in memory); the command line's figure is its whole process.
Targets: the Arrow path at least 2 million rows/s with its peak at most 3x
the image above the input; the record path within 2x the Arrow path's time;
the TSV through `kelnor build` in under 3 s.

Needs numpy and pyarrow (pip install 'kelnor[arrow]') and
/usr/share/dict/american-english (apt-get install wamerican).
Usage: PYTHONPATH=build/release python3 bench/columns_bench.py [ROWS]
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
import time

# The package beside these scripts, not an installed copy, here and in the children.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

WORDS = "/usr/share/dict/american-english"
VIDEOS = 500_000
PHRASES = 200_000


def write_rows(rows: int, directory: str) -> tuple[str, str]:
    """An Arrow IPC file and a TSV file of the same random rows."""
    import numpy as np
    import pyarrow as pa
    import pyarrow.csv as csv

    rng = np.random.default_rng(19)
    with open(WORDS, encoding="utf-8") as lines:
        words = sorted({line.strip() for line in lines if line.strip()})
    firsts, seconds = rng.choice(len(words), (2, PHRASES))
    vocabulary = np.array(
        words + [f"{words[a]} {words[b]}" for a, b in zip(firsts, seconds)], dtype=object
    )
    rng.shuffle(vocabulary)
    weights = 1.0 / np.arange(1, len(vocabulary) + 1)
    terms = vocabulary[rng.choice(len(vocabulary), rows, p=weights / weights.sum())]
    table = pa.table(
        {
            "term": pa.array(terms, pa.string()),
            "video": pa.array(rng.integers(0, VIDEOS, rows), pa.int64()),
            "count": pa.array(np.minimum(rng.pareto(1.1, rows) + 1, 1e6).astype(np.int64)),
        }
    )
    arrow_path = os.path.join(directory, "rows.arrow")
    with pa.ipc.new_file(arrow_path, table.schema) as writer:
        writer.write_table(table)
    tsv_path = os.path.join(directory, "rows.tsv")
    csv.write_csv(
        table, tsv_path, csv.WriteOptions(include_header=False, delimiter="\t", quoting_style="none")
    )
    return arrow_path, tsv_path


def status_bytes(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def measure(path_name: str, arrow_path: str) -> None:
    """In a child: read the rows, then build them by one path and print the figures."""
    import gc

    import pyarrow as pa

    import kelnor

    with open(arrow_path, "rb") as file:
        table = pa.ipc.open_file(pa.py_buffer(file.read())).read_all()
    rows = table.num_rows
    if path_name == "record":
        built = list(zip(*(table.column(name).to_pylist() for name in ("term", "video", "count"))))
        input_bytes = 0
        del table
    else:
        built = table
        input_bytes = table.nbytes
    gc.collect()
    before = status_bytes("VmRSS")
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak resident size starts again from here
    start = time.perf_counter()
    index = kelnor.build(built)
    seconds = time.perf_counter() - start
    peak = status_bytes("VmHWM") - before
    image = len(index.to_bytes())
    print(json.dumps({"rows": rows, "seconds": seconds, "peak": peak, "image": image,
                      "input": input_bytes}))


def run_child(path_name: str, arrow_path: str) -> dict[str, float]:
    out = subprocess.run(
        [sys.executable, __file__, "--child", path_name, arrow_path],
        check=True, capture_output=True, text=True,
    ).stdout
    figures: dict[str, float] = json.loads(out)
    return figures


def run_cli(tsv_path: str, directory: str) -> tuple[float, int]:
    """Seconds and peak resident bytes of `kelnor build` on the TSV file."""
    start = time.perf_counter()
    command = subprocess.Popen(
        [sys.executable, "-m", "kelnor", "build", tsv_path, "-o", os.path.join(directory, "i.bin")],
        stdout=subprocess.DEVNULL,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    _, status, usage = os.wait4(command.pid, 0)
    seconds = time.perf_counter() - start
    command.returncode = os.waitstatus_to_exitcode(status)
    if command.returncode != 0:
        raise SystemExit(f"kelnor build failed with status {command.returncode}")
    return seconds, usage.ru_maxrss * 1024


def main() -> None:
    if sys.argv[1:2] == ["--child"]:
        measure(sys.argv[2], sys.argv[3])
        return
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 2_000_000
    mb = 1e6
    with tempfile.TemporaryDirectory() as directory:
        arrow_path, tsv_path = write_rows(rows, directory)
        tsv_bytes = os.path.getsize(tsv_path)
        arrow = run_child("arrow", arrow_path)
        record = run_child("record", arrow_path)
        cli_seconds, cli_peak = run_cli(tsv_path, directory)
    print(f"rows: {rows:,}; image: {arrow['image'] / mb:.1f} MB; "
          f"Arrow table: {arrow['input'] / mb:.1f} MB; TSV: {tsv_bytes / mb:.1f} MB")
    print(f"{'path':<22}{'seconds':>9}{'rows/s':>13}{'peak MB':>10}{'peak/image':>12}")
    for name, figures in (("record path", record), ("Arrow table", arrow)):
        print(f"{name:<22}{figures['seconds']:>9.2f}{rows / figures['seconds']:>13,.0f}"
              f"{figures['peak'] / mb:>10.1f}{figures['peak'] / figures['image']:>12.2f}")
    print(f"{'kelnor build (TSV)':<22}{cli_seconds:>9.2f}{rows / cli_seconds:>13,.0f}"
          f"{cli_peak / mb:>10.1f}{'(process)':>12}")
    print("peak: resident growth above the rows in memory (the process's whole for the command)")
    print(f"record path / Arrow table: {record['seconds'] / arrow['seconds']:.2f}x (target: at most 2x)")


if __name__ == "__main__":
    main()
