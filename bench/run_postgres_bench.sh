#!/usr/bin/env bash
# Measures harvix-gateway over PostgreSQL beside SQLite and appends its
# section to bench/results.md: a throw-away PostgreSQL server (as the user
# postgres when run as root), 1,000,000 generated events imported into each,
# small searches a second with one and two gateways over PostgreSQL and one
# over SQLite, a 100,000-event stream, and a year's 1° box and 50 km circle.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
gateway="$build/gateway/harvix-gateway"
load="$build/bench/gateway_load"
bin=/usr/lib/postgresql/15/bin
work=$(mktemp -d /tmp/harvix-pgbench-XXXXXX)
servers=()
as_postgres=()
[ "$(id -u)" -eq 0 ] && { chown postgres "$work"; as_postgres=(runuser -u postgres --); }
cleanup() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    "${as_postgres[@]}" "$bin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/runtime"
export TZ=Pacific/Auckland LC_ALL=C XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/xdg" \
       HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_postgres[@]}" "$bin/initdb" -D "$work/data" -A trust -U postgres -E UTF8 --locale=C >/dev/null
"${as_postgres[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
    -o "-p $port -k $work -c listen_addresses=127.0.0.1 -c max_connections=200 -c shared_buffers=256MB" start >/dev/null
"${as_postgres[@]}" "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres harvix
database="postgresql://postgres@127.0.0.1:$port/harvix"
sqlite="$work/catalogue.sqlite"

python3 "$here/make_fdsn_text.py" 1000000 "$work/events.txt"
import_into() {
    local start seconds
    start=$(date +%s.%N)
    "$gateway" import --catalogue "$1" "$work/events.txt" 2>/dev/null
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    echo "$(printf '%.1f' "$seconds") s, $(echo "1000000 / $seconds" | bc) events/s"
}
pg_import=$(import_into "$database")
sqlite_import=$(import_into "$sqlite")
"${as_postgres[@]}" "$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -d harvix -qc "ANALYZE" >/dev/null
echo "postgres bench: imported 1,000,000 events: PostgreSQL $pg_import, SQLite $sqlite_import" >&2

start_gateway() {   # catalogue, log; sets the last port in $gport
    "$gateway" serve --catalogue "$1" --listen 127.0.0.1:0 2>"$2" &
    servers+=($!)
    for _ in $(seq 300); do grep -q serving "$2" && break; sleep 0.1; done
    gport=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$2")
}
today=$(date -u +%F)
day=$(date -u -d '-10 days' +%F)
year=$(date -u -d '-365 days' +%F)
small="/services/quake/search?magnitudeLower=5&magnitudeUpper=12&startDate=$day&endDate=$day&outputFormat=quakeml1.0"
# Magnitude 3 and more over the last 750 days: about 100,000 events.
hundred="/services/quake/search?magnitudeLower=3&magnitudeUpper=12&startDate=$(date -u -d '-750 days' +%F)&endDate=$today&outputFormat=quakeml1.0"
yearly="/services/quake/search?magnitudeLower=0&magnitudeUpper=12&startDate=$year&endDate=$today&outputFormat=quakeml1.0"
rate() { "$load" --port "$1" --path "$small" --clients 8 --seconds 5 | sed 's/.*per_second=\([0-9]*\).*/\1/'; }
median_ms() {   # port path
    local times=()
    for _ in 1 2 3 4 5; do times+=("$(curl -s -o /dev/null -w '%{time_total}' "http://127.0.0.1:$1$2")"); done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 3p | awk '{ printf "%.0f ms", $1 * 1000 }'
}

start_gateway "$sqlite" "$work/sqlite.log"
sqlite_port=$gport
sqlite_rate=$(rate "$sqlite_port")
sqlite_stream=$(median_ms "$sqlite_port" "$hundred")
sqlite_box=$(median_ms "$sqlite_port" "$yearly&bbox=172,-42,173,-41")
sqlite_circle=$(median_ms "$sqlite_port" "$yearly&latitude=-41.5&longitude=172.5&maxRadiusKm=50")
start_gateway "$database" "$work/pg1.log"
pg1=$gport
pg_rate=$(rate "$pg1")
pg_stream=$(median_ms "$pg1" "$hundred")
pg_box=$(median_ms "$pg1" "$yearly&bbox=172,-42,173,-41")
pg_circle=$(median_ms "$pg1" "$yearly&latitude=-41.5&longitude=172.5&maxRadiusKm=50")
start_gateway "$database" "$work/pg2.log"
pg2=$gport
rate "$pg1" >"$work/r1" & first=$!
rate "$pg2" >"$work/r2"
wait "$first"
pg_two=$(( $(cat "$work/r1") + $(cat "$work/r2") ))
echo "postgres bench: small searches a second: SQLite $sqlite_rate, PostgreSQL $pg_rate, two gateways $pg_two" >&2

cat >>"$here/results.md" <<MD

## The gateway over PostgreSQL

Measured by \`./dev bench\` (\`bench/run_postgres_bench.sh\`) on one machine with a throw-away PostgreSQL 15 server with PostGIS on loopback (\`shared_buffers=256MB\`, otherwise Debian's defaults): 1,000,000 generated events (\`bench/make_fdsn_text.py\`: New Zealand's box, the last 3,000 days), imported into each database; each gateway with its default workers. The load client and the gateways share the machine's 2 cores with the database server.

| measure | SQLite | PostgreSQL |
|---|---|---|
| import of the 1,000,000 events (one transaction) | $sqlite_import | $pg_import |
| small searches a second, 8 clients, one gateway | $sqlite_rate | $pg_rate |
| small searches a second, 8 clients on each of two gateways over one database | | $pg_two |
| a search of about 100,000 events, to the last byte (median of five) | $sqlite_stream | $pg_stream |
| a year's 1° box (median of five) | $sqlite_box | $pg_box |
| a year's 50 km circle (median of five) | $sqlite_circle | $pg_circle |
MD
echo "postgres bench: appended to $here/results.md" >&2
