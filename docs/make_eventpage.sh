#!/usr/bin/env bash
# Takes a picture of one event's page, as Chromium draws it, from a gateway
# serving the GeoNet catalogue that ships with Harvix.
set -euo pipefail
gateway=$1
out=$2
work=$(mktemp -d)
server=""
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data "$gateway" serve --listen 127.0.0.1:0 >"$work/gateway.log" 2>&1 &
server=$!
for _ in $(seq 600); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/gateway.log")
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$work/profile" \
    --window-size=800,1250 --screenshot="$out" \
    "http://127.0.0.1:$port/services/quake/quakeml/1.0.1/ref/2024p009874" >/dev/null 2>&1
echo "wrote $out"
