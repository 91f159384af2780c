#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UBSan, replays
# the inputs that once broke each of them (tests/data/fuzz/, a folder per
# target beside the reply target's own files), then fuzzes each target in
# turn for the given seconds (default 300), or only the targets named after
# the seconds. Inputs that break a target are saved in its folder for later
# runs to replay; the growing corpora stay in fuzz/corpus-work/.
#
# Seeds are small slices of the project's real catalogues (made afresh in
# build-fuzz/ for each run), so that each input runs in well under a millisecond:
# whole files of megabytes would slow libFuzzer to a few inputs a second.
set -euo pipefail
seconds=${1:-300}
shift || true
only=" $* "
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"
log="$build.log"

mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" >"$log" 2>&1 || { cat "$log" >&2; echo "fuzz: build failed" >&2; exit 1; }

# A CSV slice: the header and a run of rows from the start, the middle and
# the end, each under 3 KB.
seeds=$(mktemp -d "$build/seeds.XXXXXX")
trap 'rm -rf "$seeds"' EXIT
mkdir -p "$seeds/csv" "$seeds/text" "$seeds/xml" "$seeds/packed"
for file in "$root"/data/geonet/*.csv "$root"/tests/data/geonet/*.csv "$root"/tests/data/realworld/*.csv; do
    name=$(basename "$file" .csv)
    lines=$(wc -l <"$file")
    for start in 2 $((lines / 2)) $((lines > 12 ? lines - 10 : 2)); do
        sed -n "1p;${start},$((start + 11))p" "$file" | cut -c 1-250 >"$seeds/csv/$name-$start.csv"
    done
done
cp "$root"/fuzz/seeds/fdsntext/* "$root"/tests/data/realworld/*.txt "$seeds/text/"
for file in "$root"/tests/data/realworld/*.xml "$root"/tests/data/realworld/*.qml "$root"/tests/data/corpus/*.xml; do
    [ "$(stat -c %s "$file")" -le 16384 ] && cp "$file" "$seeds/xml/"
done
# Compressed and UTF-16 seeds reach the paths that only detection takes.
for file in "$seeds"/csv/*-2.csv "$seeds"/text/*; do gzip -n -c "$file" >"$seeds/packed/$(basename "$file").gz"; done
for file in "$seeds"/xml/origin_*.xml; do iconv -f UTF-8 -t UTF-16 "$file" >"$seeds/packed/$(basename "$file").utf16" || true; done

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# target, its dictionary, its seeds, the longest input it is given, its
# regressions folder.
targets=(
    "reply|quakeml.dict|$root/tests/data $root/tests/data/corpus|65536|$root/tests/data/fuzz"
    "csv|catalogue.dict|$seeds/csv|4096|$root/tests/data/fuzz/csv"
    "fdsntext|catalogue.dict|$seeds/text|4096|$root/tests/data/fuzz/fdsntext"
    "quakeml12|catalogue.dict|$seeds/xml|16384|$root/tests/data/fuzz/quakeml12"
    "cataloguefile|catalogue.dict|$seeds/csv $seeds/text $seeds/xml $seeds/packed|16384|$root/tests/data/fuzz/cataloguefile"
    "searchquery|searchquery.dict|$root/fuzz/seeds/searchquery|4096|$root/tests/data/fuzz/searchquery"
    "fdsnquery|fdsnquery.dict|$root/fuzz/seeds/fdsnquery|4096|$root/tests/data/fuzz/fdsnquery"
)

status=0
for entry in "${targets[@]}"; do
    IFS='|' read -r name dict seedlist maxlen regressions <<<"$entry"
    [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || continue
    binary="$build/fuzz_$name"
    work="$root/fuzz/corpus-work/$name"
    mkdir -p "$work" "$regressions"
    [ "$name" = reply ] && work="$root/fuzz/corpus-work"
    # Not "seeds": the exit trap removes the folder that names.
    inputs=()
    for seed in $seedlist; do [ -d "$seed" ] && inputs+=("$seed"); done

    found=$(find "$regressions" -maxdepth 1 -type f ! -name '.gitkeep' | sort)
    if [ -n "$found" ]; then
        # shellcheck disable=SC2086
        "$binary" $found >"$build/replay-$name.log" 2>&1 \
            || { cat "$build/replay-$name.log" >&2; echo "fuzz: a regression input of $name fails again" >&2; status=1; }
    fi

    run="$build/run-$name.log"
    "$binary" "$work" "${inputs[@]}" -dict="$root/fuzz/$dict" \
        -max_total_time="$seconds" -max_len="$maxlen" -rss_limit_mb=4096 -timeout=30 \
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
