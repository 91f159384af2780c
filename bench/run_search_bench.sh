#!/usr/bin/env bash
# The whole search from the window against a bare QXmlStreamReader pass over
# the same reply: 10,000, 100,000 and 250,000 events, three runs of each, the
# pass, a search and a second search (which releases the first) in turn, each
# in a process of its own so that the peak memory is the stage's. Writes the
# section of bench/results.md and bench/search.png.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench="$build/bench/harvix_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime"

raw="$work/search.txt"
: >"$raw"
for events in 10000 100000 250000; do
    for run in 1 2 3; do
        for stage in floor search research; do
            "$bench" --stage "$stage" --events "$events" 2>/dev/null >>"$raw" \
                || { echo "bench: stage $stage failed for $events events" >&2; exit 1; }
        done
    done
    echo "bench: search against the bare pass, $events events done" >&2
done
python3 "$here/search_report.py" "$raw" "$here/results.md" "$work/search.dat"
gnuplot -e "datafile='$work/search.dat'; outfile='$here/search.png'" "$here/search.gp"
