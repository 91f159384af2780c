#!/usr/bin/env bash
# Measures the map, the plots, the statistics and the exports, and appends
# their sections to bench/results.md: frames of 100,000 events, the bytes an
# event costs the map beyond the tree, a whole 100,000-event search with the
# map shown against the same with it hidden (three runs each, the median),
# the statistics and an export in each format.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench="$build/bench/harvix_bench"
work=$(mktemp -d)
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
       HOME="$work" XDG_CACHE_HOME="$work/cache"

"$build/bench/map_bench" --events 100000 >"$work/map.txt" 2>/dev/null
value() { grep "$1" "$work/map.txt" | sed "s/.*$2=\([0-9.]*\).*/\1/"; }
frame=$(value 'stage=map' frame_ms)
bytes=$(value 'stage=map' bytes_per_event)
plot_mt=$(value 'plot=magnitude_time' frame_ms)
plot_fmd=$(value 'plot=frequency_magnitude' frame_ms)
plot_depth=$(value 'plot=depth ' frame_ms)
statistics=$(value 'stage=statistics' ms)
export_csv=$(value 'format=csv' seconds)
export_geojson=$(value 'format=geojson' seconds)
export_xml=$(value 'format=xml' seconds)
list_shown=$(value 'stage=list' shown_ms)
list_bytes=$(value 'stage=list' bytes_per_event)
list_sort_worst=$(grep 'stage=list' "$work/map.txt" | grep -o 'sort_[a-z]*_ms=[0-9.]*' | sed 's/.*=//' | sort -n | tail -n 1)
list_sort_place=$(value 'stage=list' sort_place_ms)
list_filter=$(value 'stage=list' filter_ms)
play_frame=$(value 'stage=play' frame_ms)
play_rate=$(value 'stage=play' frames_per_second)
video_webm=$(value 'format=webm' seconds)
video_mp4=$(value 'format=mp4' seconds)
"$build/bench/sequence_bench" "$here/../data" >"$work/sequence.txt" 2>/dev/null
sequence_value() { sed "s/.*$1=\([0-9.-]*\).*/\1/" "$work/sequence.txt"; }
# /sequence of Kaikoura's M7.8 through the gateway over its shipped
# catalogue (made on its first start): the median of three.
"$build/gateway/harvix-gateway" serve --listen 127.0.0.1:0 2>"$work/gateway.log" &
server=$!
for _ in $(seq 1200); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/gateway.log")
kaikoura_ms=$(for _ in 1 2 3; do
    curl -s -o "$work/kaikoura.json" -w '%{time_total}\n' "http://127.0.0.1:$port/sequence?eventid=2016p858000"
done | sort -n | sed -n 2p | awk '{ printf "%.0f", $1 * 1000 }')
kaikoura_events=$(sed -n 's/.*"count": *\([0-9]*\).*/\1/p' "$work/kaikoura.json" | head -n 1)
kill -TERM "$server"; wait "$server" || true; server=""
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

## The plots, statistics and exports

| measure | measured | target |
|---|---|---|
| magnitude-time plot of 100,000 events, offscreen, 1200 × 800 (median of 21) | $plot_mt ms | <= 100 ms |
| frequency-magnitude plot | $plot_fmd ms | <= 100 ms |
| depth histogram | $plot_depth ms | <= 100 ms |
| Mc, b and a of 100,000 magnitudes (median of 21) | $statistics ms | <= 20 ms |
| export of 100,000 events as CSV | $export_csv s | <= 1 s |
| as GeoJSON | $export_geojson s | <= 1 s |
| as QuakeML 1.2 | $export_xml s | <= 2 s |

## The list and the studies of a sequence

The list over the same 100,000 events (\`map_bench\`); the studies over the shipped catalogue (GeoNet's moment tensors since 2003 and its rapid catalogue of 2024 to 2026), $(sequence_value events) events with a magnitude, and b over time over 100,000 generated magnitudes (\`bench/sequence_bench.cpp\`).

| measure | measured | target |
|---|---|---|
| the list of 100,000 events shown (model and a painted page) | $list_shown ms | < 50 ms |
| its slowest sort by a column's value | $list_sort_worst ms | < 150 ms |
| its sort by place (the nearest town of each event, on two threads) | $list_sort_place ms | < 150 ms |
| its filter by a place's name | $list_filter ms | |
| what the list keeps beyond the search's records | $list_bytes bytes an event | <= 16 |
| nearest-neighbour declustering of the shipped catalogue | $(sequence_value nn_seconds) s | < 2 s |
| Gardner-Knopoff declustering of it | $(sequence_value gk_seconds) s | < 0.5 s |
| the study of Kaikoura's sequence ($(sequence_value study_size) events), in the engine | $(sequence_value study_ms) ms | |
| \`/sequence\` of Kaikoura's M7.8 through the gateway ($kaikoura_events events; median of three) | $kaikoura_ms ms | < 300 ms |
| b over time of 100,000 magnitudes | $(sequence_value btime_ms) ms | < 100 ms |

## Playing through time

\`map_bench\`: the same 100,000 events over ten years, played in 300 frames (ten seconds at 30 a second) at 1200 × 800, each as the screen gets it: the land and the events kept from the frame before, the events come since drawn on them, and the events that flash; and a minute of video of the first 56,000 of them at 1920 × 1080, 30 frames a second, written through FFmpeg's libraries.

| measure | measured | target |
|---|---|---|
| a frame while playing | $play_frame ms ($play_rate frames a second) | >= 30 frames a second |
| a minute of 1080p video, WebM (VP9) | $video_webm s | < 60 s |
| the same, MP4 (H.264) | $video_mp4 s | < 60 s |
MD
