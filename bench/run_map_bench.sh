#!/usr/bin/env bash
# Measures the map and appends its section to bench/results.md: a frame of
# 100,000 events, the bytes an event costs beyond the tree, and a whole
# 100,000-event search with the map shown against the same with it hidden
# (three runs each, the median).
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench="$build/bench/harvix_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"

map=$("$build/bench/map_bench" --events 100000 2>/dev/null)
frame=$(sed 's/.*frame_ms=\([0-9.]*\).*/\1/' <<<"$map")
bytes=$(sed 's/.*bytes_per_event=\([0-9.]*\).*/\1/' <<<"$map")
seconds_of() { sed 's/.*seconds=\([0-9]*\.[0-9]*\).*/\1/'; }
median() { sort -n | sed -n 2p; }
shown=$(for _ in 1 2 3; do "$bench" --stage search --events 100000 --map shown 2>/dev/null | seconds_of; done | median)
hidden=$(for _ in 1 2 3; do "$bench" --stage search --events 100000 --map hidden 2>/dev/null | seconds_of; done | median)
added=$(echo "scale=1; ($shown - $hidden) * 100 / $hidden" | bc)
echo "map bench: frame $frame ms, $bytes bytes an event, search $shown s shown, $hidden s hidden" >&2

cat >>"$here/results.md" <<MD

## The map

Measured by \`./dev bench\` (\`bench/map_bench.cpp\`, and the search stage with \`--map shown|hidden\`): 100,000 generated events along New Zealand's plate boundary, some across 180°.

| measure | measured | target |
|---|---|---|
| a frame of 100,000 events, offscreen, 1200 × 800 (median of 21) | $frame ms | <= 50 ms |
| bytes an event beyond the tree (the search's locations and the map's arrays) | $bytes | <= 40 |
| whole 100,000-event search, map shown | $shown s | |
| the same, map hidden | $hidden s | |
| what the map adds | $added% | <= 10% |
MD
