#!/usr/bin/env bash
# Runs every stage for every catalogue size, each in its own process, and
# writes bench/results.md and bench/results.png; then the whole search
# against the bare pass (bench/search.png), the map and the gateway. Each
# stage runs in a process of its own, so that its peak memory is its own.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench="$build/bench/harvix_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime" \
       HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"

raw="$work/raw.txt"
: >"$raw"
for events in 1000 10000 25000 100000 250000; do
    runs=3
    [ "$events" -ge 100000 ] && runs=2
    [ "$events" -ge 250000 ] && runs=1
    for ((run = 0; run < runs; ++run)); do
        for stage in floor store tree search; do
            "$bench" --stage "$stage" --events "$events" 2>/dev/null >>"$raw" \
                || { echo "bench: stage $stage failed for $events events" >&2; exit 1; }
        done
        "$bench" --write "$work/reply.xml" --events "$events"
        python3 "$here/extract_fields.py" "$work/reply.xml" \
            | sed "s/^/stage=python events=$events bytes=$(stat -c %s "$work/reply.xml") /" >>"$raw"
        rm -f "$work/reply.xml"
    done
    echo "bench: $events events done" >&2
done
python3 "$here/report.py" "$raw" "$here/results.md" "$work/plot.dat"
gnuplot -e "datafile='$work/plot.dat'; outfile='$here/results.png'" "$here/plot.gp"

# The whole search against the bare pass: three runs of each size, the pass,
# a search and a second search (which releases the first) in turn.
search="$work/search.txt"
: >"$search"
for events in 10000 100000 250000; do
    for run in 1 2 3; do
        for stage in floor search research; do
            "$bench" --stage "$stage" --events "$events" 2>/dev/null >>"$search" \
                || { echo "bench: stage $stage failed for $events events" >&2; exit 1; }
        done
    done
    echo "bench: search against the bare pass, $events events done" >&2
done
python3 "$here/search_report.py" "$search" "$here/results.md" "$work/search.dat"
gnuplot -e "datafile='$work/search.dat'; outfile='$here/search.png'" "$here/search.gp"

"$here/run_map_bench.sh" "$build"
"$here/run_gateway_bench.sh" "$build"
"$here/run_region_bench.sh" "$build"
"$here/run_postgres_bench.sh" "$build"
echo "bench: wrote $here/results.md and $here/results.png" >&2
