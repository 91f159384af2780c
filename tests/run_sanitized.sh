#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer, LeakSanitizer and UBSan in
# build-asan/ and runs every test there. Any report fails the run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-asan"
log="$build.log"
jobs=$(nproc 2>/dev/null || echo 2)

mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARVIX_SANITIZE=ON \
        >"$log" 2>&1 || { cat "$log" >&2; echo "sanitizers: configuring failed" >&2; exit 1; }
fi
cmake --build "$build" -j "$jobs" >"$log" 2>&1 || { cat "$log" >&2; echo "sanitizers: build failed" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0
export LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
echo "sanitizers: running the tests under AddressSanitizer, LeakSanitizer and UBSan" >&2
cd "$build" && ctest --output-on-failure -j "$jobs"
