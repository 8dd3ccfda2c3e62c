"""Memory figures of the running process, read from /proc (Linux)."""

from __future__ import annotations

import os


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_address_sanitizer() -> bool:
    with open("/proc/self/maps") as maps:
        return any("libasan" in line or "libclang_rt.asan" in line for line in maps)


# AddressSanitizer keeps freed memory in quarantine and adds shadow memory to
# every allocation: under it the resident size says nothing about the code's
# own use, and only the interpreter's figures are compared.
RESIDENT_SIZE_IS_MEANINGFUL = os.path.exists("/proc/self/maps") and not under_address_sanitizer()
