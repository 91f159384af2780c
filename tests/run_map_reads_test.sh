#!/usr/bin/env bash
# The real harvix on a private Xvfb display searches a real gateway, which
# serves its shipped GeoNet catalogue, for 2024's events of magnitude 3 or
# more in a box around New Zealand; then, in the same view, for those of 9.9
# or more (none). Most of the land that the map shows without events must
# keep its own colour under the year's events, and OCR (tesseract) must
# read town names and the scale bar's "km" in the screenshot of the map.
set -u
harvix=$1
gateway=$2
work=$(mktemp -d)
gateway_pid="" app_pid=""
trap 'kill $app_pid $xvfb_pid $gateway_pid 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; [ -f "$work/map.png" ] && cp "$work/map.png" "${TMPDIR:-/tmp}/harvix-map-reads.png"; exit 1; }
command -v tesseract >/dev/null || fail "tesseract is not installed (./dev installs it)"

. "$(dirname "${BASH_SOURCE[0]}")/private_display.sh"
private_display 141 190 1440x960

# The shipped catalogue, on a port of the system's choosing.
"$gateway" serve --listen 127.0.0.1:0 2>"$work/gateway.log" &
gateway_pid=$!
while kill -0 "$gateway_pid" 2>/dev/null && ! grep -q serving "$work/gateway.log"; do sleep 0.2; done
port=$(sed -n 's|.*serving http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/gateway.log")
[ -n "$port" ] || { cat "$work/gateway.log" >&2; fail "the gateway did not start"; }

# Harvix with the map and plots shown, a box around New Zealand, 2024, and
# the lowest magnitude given; searched with Ctrl+R once its window is up.
# The status bar says when the result is shown.
search() {
    mkdir -p "$work/config/Harvix"
    printf '%s\n' '[form]' "url=http://127.0.0.1:$port/services/quake/search?" '' \
        '[period]' 'kind=1' 'from=2024-01-01' 'to=2024-12-31' "minMagnitude=$1" '' \
        '[region]' 'kind=2' 'box=165.5, -48, 179.5, -34' '' \
        '[view]' 'showMap=true' 'showPlots=true' 'legendFolded=false' >"$work/config/Harvix/Harvix.conf"
    "$harvix" >/dev/null 2>"$work/stderr" &
    app_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
    [ -n "$window" ] || fail "no Harvix window appeared"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" ctrl+r
    eval "$(xdotool getwindowgeometry --shell "$window")"
    said=""
    for _ in $(seq 60); do
        sleep 0.5
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        convert "$work/shot.png" -crop "${WIDTH}x28+0+$((HEIGHT - 28))" +repage -scale 200% "$work/status.png"
        said=$(tesseract "$work/status.png" - 2>/dev/null)
        case "$said" in *Retrieved*) break ;; esac
    done
    case "$said" in *Retrieved*) ;; *) fail "no result in the status bar: $said" ;; esac
    sleep 0.3
    import -window "$window" "$work/shot.png"
    # The map: the pane right of the tree, above the plots.
    kill $app_pid; wait $app_pid 2>/dev/null; app_pid=""
}

search 9.9
cp "$work/shot.png" "$work/none.png"
search 3
cp "$work/shot.png" "$work/year.png"
# The map: the bounding box of the sea's colour, right of the tree.
sea='rgb(214,229,240)' land='rgb(239,236,226)'
read -r w h x y < <(convert "$work/none.png" -fill black +opaque "$sea" -fill white -opaque "$sea" \
    -bordercolor black -border 1 -trim -format '%w %h %X %Y\n' info: | tr -d '+')
x=$((x - 1)) y=$((y - 1))
[ "$w" -ge 400 ] && [ "$h" -ge 200 ] || fail "no map found in the window (${w}x${h}+$x+$y)"
convert "$work/year.png" -crop "${w}x${h}+${x}+${y}" +repage "$work/map.png"
land_pixels() {
    convert "$1" -crop "${w}x${h}+${x}+${y}" +repage -fill black +opaque "$land" -fill white -opaque "$land" \
        -format '%[fx:int(mean*w*h)]' info:
}
without=$(land_pixels "$work/none.png")
with=$(land_pixels "$work/year.png")
[ "${without:-0}" -gt 3000 ] || fail "the map shows little land without events ($without pixels)"
# Against the land with no events at all: the year's 1,200 events, as
# small as symbols get at this scale, keep most of it in sight (the share
# against the smallest symbols is measured by tst_mapreads).
share=$((100 * with / without))
[ "$share" -ge 80 ] || fail "only $share% of the land shows under 2024's events of M3 or more ($with of $without pixels)"

# Town names and the scale bar, read back from the picture.
convert "$work/map.png" -scale 300% -colorspace Gray "$work/map-large.png"
read_back=$(tesseract "$work/map-large.png" - --psm 11 2>/dev/null | tr '\n' ' ')
towns=0
for town in Auckland Wellington Christchurch Dunedin Hamilton Napier Invercargill; do
    case "$read_back" in *"$town"*) towns=$((towns + 1)) ;; esac
done
[ "$towns" -ge 3 ] || fail "OCR read $towns town names on the map: $read_back"
case "$read_back" in *km*) ;; *) fail "OCR read no scale in km on the map: $read_back" ;; esac
[ ! -s "$work/stderr" ] || fail "harvix wrote to standard error: $(head -c 500 "$work/stderr")"
echo "$share% of the land shows under 2024's events of M3 or more; OCR read $towns town names and a scale in km: $read_back"
