#!/usr/bin/env bash
# Builds the reply fuzzer with clang, AddressSanitizer and UBSan, replays the
# regression inputs in tests/data/fuzz/, then fuzzes for the given seconds
# (default 300). Inputs that crash are saved in tests/data/fuzz/ for the
# test suite to replay; the growing corpus stays in fuzz/corpus-work/.
set -euo pipefail
seconds=${1:-300}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"
work="$root/fuzz/corpus-work"
regressions="$root/tests/data/fuzz"
log="$build.log"

mkdir -p "$build" "$work" "$regressions"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" >"$log" 2>&1 || { cat "$log" >&2; echo "fuzz: build failed" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Seeds: our fixtures and, where it is there, the shared corpus of real documents.
seeds=("$root/tests/data")
[ -d "$root/../shared/corpus" ] && seeds+=("$root/../shared/corpus")

status=0
if compgen -G "$regressions/*" >/dev/null; then
    "$build/fuzz_reply" "$regressions"/* >"$build/replay.log" 2>&1 \
        || { cat "$build/replay.log" >&2; echo "fuzz: a regression input fails again" >&2; status=1; }
fi

"$build/fuzz_reply" "$work" "${seeds[@]}" -dict="$root/fuzz/quakeml.dict" \
    -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 -timeout=30 \
    -artifact_prefix="$regressions/" -print_final_stats=1 >"$build/run.log" 2>&1 || status=1
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$build/run.log" \
    | sed 's/^/fuzz: /' >&2 || true
grep -oE 'cov: [0-9]+ ft: [0-9]+' "$build/run.log" | tail -n 1 | sed 's/^/fuzz: /' >&2 || true
if [ $status -ne 0 ]; then
    tail -n 60 "$build/run.log" >&2
    echo "fuzz: the fuzzer found a problem; its input is in tests/data/fuzz/" >&2
fi
exit $status
