#!/usr/bin/env bash
# Plays Kaikoura's sequence through time in Harvix on a private Xvfb
# display, from the gateway's shipped catalogue (GeoNet's moment tensors:
# 200 km around the coast north-east of the M7.8, 13 November 2016 to the
# end of February 2017, every magnitude), takes a picture of the window
# while it plays, and exports the animation as a short WebM video with the
# magnitude-time plot beside the map.
#
#   make_playback.sh HARVIX GATEWAY PICTURE.png VIDEO.webm
set -euo pipefail
harvix=$1
gateway=$2
picture=$3
video=$4
work=$(mktemp -d)
app="" server="" xvfb_pid=""
trap 'kill $app $server $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "make_playback: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/../tests/private_display.sh"
private_display 100 199 1440x960
export TZ=Pacific/Auckland
"$gateway" serve >"$work/gateway.log" 2>&1 &
server=$!
for _ in $(seq 300); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
mkdir -p "$work/config/Harvix"
printf '%b' '[region]\nkind=3\nplace="-42.0, 173.8"\nradiusKm=200\n\n[period]\nkind=1\nfrom=2016-11-13\nto=2017-02-28\nminMagnitude=0\n\n[view]\nshowMap=true\nshowPlots=true\ntab=1\n' \
    >"$work/config/Harvix/Harvix.conf"
"$harvix" >/dev/null 2>&1 &
app=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key ctrl+r
sleep 5
# The map takes the focus from a click on the sea east of Wellington; Space
# opens the time bar, and its Play button (its first, on the left) plays.
xdotool mousemove --window "$window" 1320 300 click 1
sleep 0.5
xdotool key space
sleep 1
bar_y=$(( $(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p') - 42 ))
xdotool mousemove --window "$window" 34 "$bar_y" click 1
sleep 1.2
xdotool mousemove 0 950
import -window "$window" "$picture"
echo "wrote $picture"
# File → Export Animation: 1280 × 720, 24 frames a second, 10 s, the plot
# beside the map; then the file's name.
xdotool key ctrl+shift+e
sleep 1
xdotool key Tab ctrl+a
xdotool type 24
xdotool key Tab ctrl+a
xdotool type 10
xdotool key Tab space Return
sleep 1
xdotool type "$work/kaikoura.webm"
xdotool key Return
for _ in $(seq 120); do [ -f "$work/kaikoura.webm" ] && break; sleep 0.5; done
cp "$work/kaikoura.webm" "$video"
echo "wrote $video"
