#!/usr/bin/env bash
# Takes a picture of Harvix's main window on a private Xvfb display, filled
# by a search of the gateway's GeoNet catalogue: 2024's events of magnitude
# 3 or more, on the list and the map; and, given a fourth path, one of the
# plots pane's frequency-magnitude plot after a search of all 2024's
# magnitudes; and, given a fifth, the map and the Section plot of a profile
# across the Hikurangi subduction zone after a search of all magnitudes of
# the whole shipped catalogue; and, given a sixth, the window following a
# search live when an event is added to the gateway's catalogue (a
# demonstration event, "harvix-demo", not GeoNet's); and, given a seventh,
# the Sequence tab of the M5.1 of 17 December 2024 in Cook Strait.
set -euo pipefail
harvix=$1
gateway=$2
out=$3
plots=${4:-}
section=${5:-}
live=${6:-}
sequence=${7:-}
work=$(mktemp -d)
display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1440x960x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app="" server=""
trap 'kill $app $server $xvfb 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY=$display XDG_RUNTIME_DIR=$work XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache HOME=$work
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
"$gateway" serve >"$work/gateway.log" 2>&1 &
server=$!
for _ in $(seq 300); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
# (Re)starts Harvix with the settings given (none: as it was left), and
# focuses its window.
start_harvix() {
    if [ -n "$app" ]; then kill $app; wait $app 2>/dev/null || true; fi
    if [ -n "${1:-}" ]; then
        mkdir -p "$work/config/Harvix"
        printf '%b' "$1" >"$work/config/Harvix/Harvix.conf"
    fi
    "$harvix" >/dev/null 2>&1 &
    app=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
    sleep 1
    xdotool windowfocus --sync "$window" 2>/dev/null || true
}
# 2024, magnitude 3 or more, from the bar under the menus.
year='[period]\nkind=1\nfrom=2024-01-01\nto=2024-12-31\nminMagnitude=3\n\n'
start_harvix "$year"'[view]\nshowMap=true\nshowPlots=true\ntab=0\n'
xdotool key ctrl+r
sleep 4
xdotool mousemove 0 950
import -window "$window" "$out"
echo "wrote $out"
if [ -n "$plots" ]; then
    # Every magnitude of 2024, on the Frequency-magnitude tab.
    start_harvix '[period]\nkind=1\nfrom=2024-01-01\nto=2024-12-31\nminMagnitude=0\n\n[view]\nshowMap=true\nshowPlots=true\ntab=2\n'
    xdotool key ctrl+r
    sleep 4
    xdotool mousemove 0 950
    import -window "$window" "$work/all.png"
    convert "$work/all.png" -crop 560x460+800+380 +repage "$plots"
    echo "wrote $plots"
fi
if [ -n "$section" ]; then
    # From the Taranaki coast south-east across the North Island and the
    # Hikurangi trench, 50 km either side; the plots pane on its Section.
    start_harvix '[section]\nends=-38.2, 173.4, -41.2, 179.4\nhalfWidthKm=50\n\n[view]\ntab=4\nshowMap=true\nshowPlots=true\n\n[period]\nkind=1\nfrom=2000-01-01\nto=2026-12-31\nminMagnitude=0\n'
    xdotool key ctrl+r
    sleep 6
    # Four wheel steps in, about the North Island; the pointer away.
    xdotool mousemove --window "$window" 1100 262 click 4 sleep 0.3 click 4 sleep 0.3 click 4 sleep 0.3 click 4
    xdotool mousemove 0 950
    sleep 1
    import -window "$window" "$work/section.png"
    convert "$work/section.png" -crop 560x900+800+0 +repage "$section"
    echo "wrote $section"
fi
if [ -n "$live" ]; then
    # "Show >= Mag 4", "Show Last Year", Follow Live every 10 s; then an
    # event imported into the gateway's catalogue comes with the next run.
    start_harvix '[live]\nintervalSeconds=10\n\n[view]\nshowMap=true\nshowPlots=true\ntab=0\n'
    xdotool key --delay 150 Tab Up Tab Down Down Down ctrl+l
    sleep 4
    now=$(date -u -d '-20 minutes' +%Y-%m-%dT%H:%M:%S)
    printf '%s\n%s\n' "#EventID | Time | Latitude | Longitude | Depth/km | Author | Catalog | Contributor | ContributorID | MagType | Magnitude | MagAuthor | EventLocationName | EventType" \
        "0harvix-demo|$now|-41.45|174.62|23|||||MLv|4.6|||earthquake" >"$work/demo.txt"
    "$gateway" import "$work/demo.txt" >/dev/null 2>&1
    for _ in $(seq 40); do
        sleep 0.5
        xdotool search --name '^\(1\) Harvix 1\.1$' >/dev/null 2>&1 && break
    done
    sleep 1
    xdotool mousemove 0 950
    import -window "$window" "$live"
    echo "wrote $live"
fi
if [ -n "$sequence" ]; then
    # Its window: 41 km around it, from its UTC day for 167 days, every
    # magnitude; the plots pane on its Sequence tab.
    start_harvix '[region]\nkind=3\nplace="-41.77, 174.25"\nradiusKm=41\n\n[period]\nkind=1\nfrom=2024-12-17\nto=2025-06-03\nminMagnitude=0\n\n[view]\nshowMap=true\nshowPlots=true\ntab=5\n'
    xdotool key ctrl+r
    sleep 5
    xdotool mousemove 0 950
    import -window "$window" "$work/sequence.png"
    convert "$work/sequence.png" -crop 560x460+800+380 +repage "$sequence"
    echo "wrote $sequence"
fi
