"""Memory figures of the running process, read from /proc (Linux)."""

from __future__ import annotations

import os


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_address_sanitizer() -> bool:
    with open("/proc/self/maps") as maps:
        return any("libasan" in line or "libclang_rt.asan" in line for line in maps)


# Under AddressSanitizer freed memory goes through a quarantine and the
# sanitizer's own allocator, whose resident size drifts with the heap's
# history however small the quarantine: it says nothing about the code's own
# use there (the plain builds check it, and allocated blocks are checked
# everywhere they exist).
RESIDENT_SIZE_IS_MEANINGFUL = os.path.exists("/proc/self/maps") and not under_address_sanitizer()
