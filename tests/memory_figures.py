"""Memory figures of the running process, read from /proc (Linux)."""

from __future__ import annotations

import os
import re

# AddressSanitizer holds this much freed memory back (its default) unless
# ASAN_OPTIONS says otherwise.
DEFAULT_QUARANTINE_MB = 256
STEADY_QUARANTINE_MB = 16


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_address_sanitizer() -> bool:
    with open("/proc/self/maps") as maps:
        return any("libasan" in line or "libclang_rt.asan" in line for line in maps)


def quarantine_mb() -> int:
    found = re.search(r"(?:^|[:, ])quarantine_size_mb=(\d+)", os.environ.get("ASAN_OPTIONS", ""))
    return int(found.group(1)) if found else DEFAULT_QUARANTINE_MB


# Under AddressSanitizer freed memory waits in quarantine before it is reused:
# with the default quarantine the resident size grows by design, and only a
# small one keeps it steady enough to say anything about the code's own use.
RESIDENT_SIZE_IS_MEANINGFUL = os.path.exists("/proc/self/maps") and (
    not under_address_sanitizer() or quarantine_mb() <= STEADY_QUARANTINE_MB
)
