#!/usr/bin/env bash
# Measures harvix-gateway and appends its section to bench/results.md:
# import rate, a whole Harvix search through the gateway against the same
# reply from a static server, the gateway's peak memory while it streams,
# small searches per second with 8 clients, and four big searches at once.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
gateway="$build/gateway/harvix-gateway"
bench="$build/bench/harvix_bench"
load="$build/bench/gateway_load"
work=$(mktemp -d)
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data" \
       HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
catalogue="$work/catalogue.sqlite"
today=$(date -u +%F)
big="/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=2000-01-01&endDate=$today&outputFormat=quakeml1.0"
hundred="/services/quake/search?magnitudeLower=3&magnitudeUpper=12&startDate=2000-01-01&endDate=$today&outputFormat=quakeml1.0"
day=$(date -u -d '-10 days' +%F)
small="/services/quake/search?magnitudeLower=5&magnitudeUpper=12&startDate=$day&endDate=$day&outputFormat=quakeml1.0"

start_gateway() {
    "$gateway" serve --catalogue "$catalogue" --listen 127.0.0.1:0 2>"$work/gateway.log" &
    server=$!
    for _ in $(seq 300); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
    port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/gateway.log")
}
stop_gateway() {
    peak=$(awk '/VmHWM/ { print int($2 / 1024) }' "/proc/$server/status")
    kill -TERM "$server"; wait "$server" || true; server=""
}

python3 "$here/make_fdsn_text.py" 250000 "$work/events.txt"
start=$(date +%s.%N)
"$gateway" import --catalogue "$catalogue" "$work/events.txt" 2>/dev/null
import_seconds=$(printf '%.2f' "$(echo "$(date +%s.%N) - $start" | bc)")
import_rate=$(echo "250000 / $import_seconds" | bc)
echo "gateway bench: imported 250,000 events in $import_seconds s" >&2

start_gateway
url="http://127.0.0.1:$port/services/quake/search?"
seconds_of() { sed 's/.*seconds=\([0-9]*\.[0-9][0-9]\).*/\1/'; }
through=$("$bench" --stage url --url "$url" --events 100000 2>/dev/null | seconds_of)
stop_gateway
start_gateway
curl -s -o "$work/reply.xml" "http://127.0.0.1:$port$hundred"
stop_gateway
static=$("$bench" --stage search --reply "$work/reply.xml" --events 100000 2>/dev/null | seconds_of)
reply_mb=$(( $(stat -c %s "$work/reply.xml") / 1000000 ))
overhead=$(echo "scale=1; ($through - $static) * 100 / $static" | bc)
echo "gateway bench: a 100,000-event search took $through s through the gateway, $static s from a file" >&2

start_gateway
curl -s -o /dev/null "http://127.0.0.1:$port$hundred"
stop_gateway
peak100=$peak
start_gateway
curl -s -o /dev/null "http://127.0.0.1:$port$big"
stop_gateway
peak250=$peak

start_gateway
"$load" --port "$port" --path "$small" --clients 8 --seconds 5 >"$work/small.txt"
small_rate=$(sed 's/.*per_second=\([0-9]*\).*/\1/' "$work/small.txt")
small_events=$(curl -s "http://127.0.0.1:$port$small" | grep -c '<event ' || true)
stop_gateway
peak_small=$peak

start_gateway
"$load" --port "$port" --path "$hundred" --clients 4 --once >"$work/four.txt" && four_ok=yes || four_ok=no
stop_gateway
peak_four=$peak
four_seconds=$(seconds_of <"$work/four.txt")

# The whole catalogue through Harvix's search and through the FDSN service,
# each from a fresh gateway: seconds to the last byte, and peak memory.
fdsn="/fdsnws/event/1/query?starttime=2000-01-01&endtime=${today}T23:59:59&orderby=time-asc"
whole() {
    start_gateway
    curl -s -o "$work/whole.out" -w '%{time_total}' "http://127.0.0.1:$port$1" >"$work/whole.time"
    stop_gateway
    echo "$(printf '%.2f' "$(cat "$work/whole.time")") s, $(( $(stat -c %s "$work/whole.out") / 1000000 )) MB, peak $peak MB"
}
harvix_whole=$(whole "$big")
fdsn_xml=$(whole "$fdsn")
fdsn_text=$(whole "$fdsn&format=text")
echo "gateway bench: 250,000 events: Harvix search $harvix_whole; FDSN xml $fdsn_xml; FDSN text $fdsn_text" >&2

# A sync of all 250,000 events through an FDSN stand-in on loopback.
"$build/bench/upstream_standin" "$work/events.txt" >"$work/standin.url" &
standin=$!
for _ in $(seq 300); do [ -s "$work/standin.url" ] && break; sleep 0.1; done
start=$(date +%s.%N)
"$gateway" sync --catalogue "$work/synced.sqlite" --upstream "$(cat "$work/standin.url")" \
    --from "$(date -u -d '-3001 days' +%F)" --to "$today" 2>"$work/sync.log" &
syncing=$!
sync_peak=0
while kill -0 "$syncing" 2>/dev/null; do
    now=$(awk '/VmHWM/ { print int($2 / 1024) }' "/proc/$syncing/status" 2>/dev/null || echo 0)
    [ "${now:-0}" -gt "$sync_peak" ] && sync_peak=$now
    sleep 0.2
done
wait "$syncing" && sync_ok=yes || sync_ok=no
sync_seconds=$(printf '%.1f' "$(echo "$(date +%s.%N) - $start" | bc)")
kill "$standin" 2>/dev/null; wait "$standin" 2>/dev/null || true
sync_events=$(sed -n 's/.*: \([0-9]*\) events added.*/\1/p' "$work/sync.log")
sync_rate=$(echo "${sync_events:-0} / $sync_seconds" | bc)
echo "gateway bench: synced ${sync_events:-0} events in $sync_seconds s" >&2

cat >>"$here/results.md" <<MD

## The gateway

Measured by \`./dev bench\` on a catalogue of 250,000 generated events (FDSN text, \`bench/make_fdsn_text.py\`) spread over the last 3,000 days, 40% of them of magnitude 3 or more.

| measure | measured | target |
|---|---|---|
| import of the 250,000-event FDSN text file | $import_seconds s, $import_rate events/s | |
| whole Harvix search of 100,000 events ($reply_mb MB), click to painted tree, through the gateway | $through s | |
| the same reply from a static server | $static s | |
| what the gateway adds | $overhead% | <= 15% |
| gateway's peak memory while it streams 100,000 events | $peak100 MB | < 64 MB |
| gateway's peak memory while it streams 250,000 events | $peak250 MB | < 64 MB |
| small searches ($small_events events each) per second, 8 clients on keep-alive connections | $small_rate | >= 5,000 |
| gateway's peak memory during them | $peak_small MB | < 64 MB |
| four 100,000-event searches at once: all complete | $four_ok, in $four_seconds s | yes |
| gateway's peak memory during them | $peak_four MB | < 64 MB |
| sync of the 250,000 events from an FDSN stand-in on loopback (week-long windows, text format): completed | $sync_ok: ${sync_events:-0} events in $sync_seconds s, $sync_rate events/s | |
| gateway's peak memory during the sync | $sync_peak MB | < 64 MB |
| all 250,000 events through Harvix's search (QuakeML 1.0): seconds to the last byte, size, gateway's peak memory | $harvix_whole | |
| the same through the FDSN service, \`format=xml\` (QuakeML 1.2 with places) | $fdsn_xml | < 64 MB |
| the same through the FDSN service, \`format=text\` | $fdsn_text | < 64 MB |
MD
echo "gateway bench: appended to $here/results.md" >&2
