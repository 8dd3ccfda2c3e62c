"""Peak memory of `kelnor build` on a highly compressible .gz records file.

Writes a gzip file whose content (1 GB by default) repeats a block of 20,000
lines over 5,000 terms and 2,000 integer video ids, then runs `kelnor build`
on it in a child process and prints the child's peak resident memory and
its time. Run it once with the package under test and once with another
(PYTHONPATH) to compare: a build that decompresses the whole file holds its
content, one that streams it holds its distinct terms, videos and pairs.

Usage: PYTHONPATH=build/release:python python3 bench/records_file_bench.py [MEGABYTES]
"""

from __future__ import annotations

import gzip
import os
import resource
import subprocess
import sys
import tempfile
import time


def write_records(path: str, megabytes: int) -> int:
    """A gzip file of about `megabytes` MB of records; its compressed size."""
    block = "".join(
        f"term{k % 5000}\t{k % 2000}\t{k % 7 + 1}\n" for k in range(20_000)
    ).encode()
    with gzip.open(path, "wb", compresslevel=6) as file:
        for _ in range(megabytes * 2**20 // len(block)):
            file.write(block)
    return os.path.getsize(path)


def main() -> None:
    megabytes = int(sys.argv[1]) if len(sys.argv) > 1 else 1024
    with tempfile.TemporaryDirectory() as directory:
        records = os.path.join(directory, "records.tsv.gz")
        size = write_records(records, megabytes)
        started = time.monotonic()
        subprocess.run(
            [sys.executable, "-m", "kelnor", "build", records, "-o",
             os.path.join(directory, "index.bin")],
            check=True,
        )
        seconds = time.monotonic() - started
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
    print(
        f"{megabytes} MB of records in {size / 2**20:.1f} MB of gzip: "
        f"peak {peak / 2**20:,.0f} MiB, {seconds:.1f} s"
    )


if __name__ == "__main__":
    main()
