#!/usr/bin/env bash
# Makes one shared library of clang's AddressSanitizer runtime (with its
# UndefinedBehaviorSanitizer handlers) and libFuzzer, to preload into an
# interpreter that was built without either:
#
#   fuzz/sanitizer_fuzzer_runtime.sh OUT.so
#   LD_PRELOAD=OUT.so python3 fuzz/fuzz_python.py ...
#
# atheris then uses this libFuzzer instead of its own, so the coverage of an
# extension built with -fsanitize=fuzzer-no-link (KELNOR_FUZZ) guides the
# fuzzing, and the sanitizers check the extension as it runs. The two
# runtimes must come as one library: preloaded apart, the sanitizer's
# placeholder coverage hooks would shadow libFuzzer's. The runtime's
# preinit part is left out, since a shared library cannot have one.
set -euo pipefail
out=$(realpath -m "$1")
runtime_dir=$(clang -print-runtime-dir)
arch=$(uname -m)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$runtime_dir/libclang_rt.asan-$arch.a" "$work/combined.a"
ar d "$work/combined.a" asan_preinit.cpp.o
(cd "$work" && ar x "$runtime_dir/libclang_rt.fuzzer_no_main-$arch.a")
ar r "$work/combined.a" "$work"/Fuzzer*.o
clang -shared -o "$out" -Wl,--whole-archive "$work/combined.a" \
  "$runtime_dir/libclang_rt.asan_cxx-$arch.a" -Wl,--no-whole-archive -lpthread -ldl -lstdc++
