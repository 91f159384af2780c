#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UBSan, replays
# the inputs that once broke each of them (tests/data/fuzz/, a folder per
# target beside the reply target's own files), then fuzzes each target in
# turn for the given seconds (default 300). Inputs that break a target are
# saved in its folder for later runs to replay; the growing corpora stay in
# fuzz/corpus-work/.
set -euo pipefail
seconds=${1:-300}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"
log="$build.log"
shared="$root/../shared"

mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" >"$log" 2>&1 || { cat "$log" >&2; echo "fuzz: build failed" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# target, its dictionary, its seeds (folders that may be missing), its
# regressions folder.
targets=(
    "reply|quakeml.dict|$root/tests/data $shared/corpus|$root/tests/data/fuzz"
    "csv|catalogue.dict|$shared/geonet/catalogue $shared/geonet/quakesearch|$root/tests/data/fuzz/csv"
    "fdsntext|catalogue.dict|$root/fuzz/seeds/fdsntext|$root/tests/data/fuzz/fdsntext"
    "quakeml12|catalogue.dict|$shared/geonet/fdsn|$root/tests/data/fuzz/quakeml12"
    "cataloguefile|catalogue.dict|$shared/geonet/catalogue $shared/geonet/fdsn $root/fuzz/seeds/fdsntext|$root/tests/data/fuzz/cataloguefile"
    "searchquery|searchquery.dict|$root/fuzz/seeds/searchquery|$root/tests/data/fuzz/searchquery"
)

status=0
for entry in "${targets[@]}"; do
    IFS='|' read -r name dict seedlist regressions <<<"$entry"
    binary="$build/fuzz_$name"
    work="$root/fuzz/corpus-work/$name"
    mkdir -p "$work" "$regressions"
    [ "$name" = reply ] && work="$root/fuzz/corpus-work"
    seeds=()
    for seed in $seedlist; do [ -d "$seed" ] && seeds+=("$seed"); done

    found=$(find "$regressions" -maxdepth 1 -type f ! -name '.gitkeep' | sort)
    if [ -n "$found" ]; then
        # shellcheck disable=SC2086
        "$binary" $found >"$build/replay-$name.log" 2>&1 \
            || { cat "$build/replay-$name.log" >&2; echo "fuzz: a regression input of $name fails again" >&2; status=1; }
    fi

    run="$build/run-$name.log"
    "$binary" "$work" "${seeds[@]}" -dict="$root/fuzz/$dict" \
        -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 -timeout=30 \
        -artifact_prefix="$regressions/" -print_final_stats=1 >"$run" 2>&1 || status=1
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$run")
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$run" | tail -n 1)
    echo "fuzz: $name: ${execs:-0} runs (${rate:-0}/s) in ${seconds} s, $cov" >&2
    if grep -q -E '^==[0-9]+==ERROR|deadly signal|Test unit written' "$run"; then
        tail -n 60 "$run" >&2
        echo "fuzz: $name found a problem; its input is in $regressions/" >&2
        status=1
    fi
done
exit $status
