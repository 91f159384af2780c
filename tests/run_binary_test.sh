#!/usr/bin/env bash
# Starts the real harvix on a private Xvfb display, finds its window by title
# with xdotool, searches a real gateway on Harvix's default address and
# checks that the map shows the event found, closes the window, and checks
# the exit status and that nothing was printed.
set -u
harvix=$1
x11close=$2
gateway=$3
work=$(mktemp -d)
gateway_pid=""
trap 'kill $xvfb_pid $gateway_pid 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
# Sets status to a child's exit status once it has ended, within 10 s;
# empty if it has not.
wait_for_end() {
    status=""
    for _ in $(seq 100); do
        if ! kill -0 "$1" 2>/dev/null; then wait "$1"; status=$?; return; fi
        sleep 0.1
    done
}

. "$(dirname "${BASH_SOURCE[0]}")/private_display.sh"
private_display 90 140 1440x900

# One event of an hour ago at 0 km depth (the ramp's red), for "Show Last Day".
# The gateway takes Harvix's default port itself, rather than after a probe.
searched=""
when=$(date -u -d '-1 hour' +%Y-%m-%dT%H:%M:%SZ)
printf '#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|MagType|Magnitude\n' >"$work/one.txt"
printf 'x2026p1|%s|-41.29|174.78|0|||||ML|5.5\n' "$when" >>"$work/one.txt"
"$gateway" import --catalogue "$work/catalogue.sqlite" "$work/one.txt" 2>/dev/null || fail "import failed"
"$gateway" serve --catalogue "$work/catalogue.sqlite" --listen 127.0.0.1:8470 2>"$work/gateway.log" &
gateway_pid=$!
while kill -0 "$gateway_pid" 2>/dev/null && ! grep -q serving "$work/gateway.log"; do sleep 0.1; done
if grep -q serving "$work/gateway.log"; then
    searched=yes
elif grep -q "in use" "$work/gateway.log"; then
    gateway_pid=""
    echo "SKIP: port 8470 is in use: the map is not checked against a gateway"
else
    cat "$work/gateway.log" >&2
    fail "the gateway did not start"
fi

# The plots pane on its magnitude-time plot, beside the list.
mkdir -p "$work/config/Harvix"
printf '[view]\ntab=1\n' >"$work/config/Harvix/Harvix.conf"
"$harvix" -some-unknown-argument >"$work/stdout" 2>"$work/stderr" &
app_pid=$!

window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
[ -n "$window" ] || { kill $app_pid; fail "no window titled 'Harvix 1.1' appeared"; }
[ "$(xdotool getwindowpid "$window" 2>/dev/null || echo "$app_pid")" = "$app_pid" ] \
    || fail "the window does not belong to the started process"
sleep 0.5
if [ -n "$searched" ]; then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" ctrl+r
    # The event in the ramp's red at 0 km, right of the tree: a circle on
    # the map above, a dot on the magnitude-time plot below.
    red_in() {
        convert "$work/shot.png" -crop "$1" +repage -fuzz 6% -fill black +opaque 'rgb(215,25,28)' \
            -fill white -opaque 'rgb(215,25,28)' -format '%[fx:int(mean*w*h)]' info:
    }
    map=0 plot=0
    for _ in $(seq 50); do
        sleep 0.2
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        width=$(identify -format %w "$work/shot.png")
        height=$(identify -format %h "$work/shot.png")
        map=$(red_in "$((width / 3))x$((height / 2))+$((width * 2 / 3))+0")
        plot=$(red_in "$((width / 3))x$((height / 2))+$((width * 2 / 3))+$((height / 2))")
        [ "${map:-0}" -gt 20 ] && [ "${plot:-0}" -gt 4 ] && break
    done
    [ "${map:-0}" -gt 20 ] || fail "the map shows no event after a search ($map red pixels)"
    [ "${plot:-0}" -gt 4 ] || fail "the plots show no event after a search ($plot red pixels)"
    # Shift and drag on the map draws a box, outlined in the region's blue.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --sync $((X + WIDTH * 3 / 4)) $((Y + HEIGHT / 8))
    xdotool keydown shift mousedown 1
    for step in 1 2 3 4 5 6; do
        xdotool mousemove --sync $((X + WIDTH * 3 / 4 + step * WIDTH / 60)) $((Y + HEIGHT / 8 + step * HEIGHT / 40))
    done
    xdotool mouseup 1 keyup shift
    outline=0
    for _ in $(seq 25); do
        sleep 0.2
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        outline=$(convert "$work/shot.png" -crop "$((WIDTH / 3))x$((HEIGHT / 2))+$((WIDTH * 2 / 3))+0" +repage \
            -fuzz 8% -fill black +opaque 'rgb(20,60,160)' -fill white -opaque 'rgb(20,60,160)' \
            -format '%[fx:int(mean*w*h)]' info:)
        [ "${outline:-0}" -gt 40 ] && break
    done
    [ "${outline:-0}" -gt 40 ] || fail "a box drawn on the map is not outlined ($outline blue pixels)"

    # Draw Section, then a plain drag: the swath is drawn on the map in the
    # section's purple, and the plots turn to the Section.
    convert "$work/shot.png" -crop "$((WIDTH / 3))x$((HEIGHT / 2))+$((WIDTH * 2 / 3))+$((HEIGHT / 2))" +repage \
        "$work/plots-before.png"
    xdotool key --window "$window" ctrl+shift+d
    xdotool mousemove --sync $((X + WIDTH * 3 / 4)) $((Y + HEIGHT / 4))
    xdotool mousedown 1
    for step in 1 2 3 4 5 6; do
        xdotool mousemove --sync $((X + WIDTH * 3 / 4 + step * WIDTH / 50)) $((Y + HEIGHT / 4 + step * HEIGHT / 80))
    done
    xdotool mouseup 1
    swath=0 changed=0
    for _ in $(seq 25); do
        sleep 0.2
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        swath=$(convert "$work/shot.png" -crop "$((WIDTH / 3))x$((HEIGHT / 2))+$((WIDTH * 2 / 3))+0" +repage \
            -fuzz 8% -fill black +opaque 'rgb(150,40,130)' -fill white -opaque 'rgb(150,40,130)' \
            -format '%[fx:int(mean*w*h)]' info:)
        convert "$work/shot.png" -crop "$((WIDTH / 3))x$((HEIGHT / 2))+$((WIDTH * 2 / 3))+$((HEIGHT / 2))" +repage \
            "$work/plots-after.png"
        changed=$(compare -metric AE "$work/plots-before.png" "$work/plots-after.png" null: 2>&1 || true)
        [ "${swath:-0}" -gt 40 ] && [ "${changed%% *}" -gt 1000 ] && break
    done
    [ "${swath:-0}" -gt 40 ] || fail "a section drawn on the map is not outlined ($swath purple pixels)"
    [ "${changed%% *}" -gt 1000 ] || fail "the plots did not turn to the section ($changed pixels changed)"
fi
"$x11close" "$window" || fail "could not send the close request"

wait_for_end $app_pid
[ -n "$status" ] || { kill $app_pid; fail "harvix did not end after its window was closed"; }
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
[ ! -s "$work/stdout" ] || fail "harvix wrote to standard output: $(head -c 500 "$work/stdout")"
[ ! -s "$work/stderr" ] || fail "harvix wrote to standard error: $(head -c 500 "$work/stderr")"

# A copy of the binary without its data folder (a copied binary, a broken
# package) searches and shows the event without place names or land, and
# says what it lacks.
if [ -n "$searched" ]; then
    mkdir -p "$work/bare/bin"
    cp "$harvix" "$work/bare/bin/harvix"
    XDG_CONFIG_HOME="$work/bare-config" "$work/bare/bin/harvix" >"$work/bare.stdout" 2>"$work/bare.stderr" &
    bare_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$bare_pid" --name '^Harvix 1\.1$' | head -n 1)
    [ -n "$window" ] || { kill $bare_pid; fail "the copy without its data showed no window"; }
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" ctrl+r
    shown=0
    for _ in $(seq 50); do
        sleep 0.2
        kill -0 $bare_pid 2>/dev/null || break
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        width=$(identify -format %w "$work/shot.png")
        height=$(identify -format %h "$work/shot.png")
        shown=$(red_in "$((width / 3))x$((height / 2))+$((width * 2 / 3))+0")
        [ "${shown:-0}" -gt 20 ] && break
    done
    kill -0 $bare_pid 2>/dev/null || { wait $bare_pid; fail "the copy without its data died on its first search (status $?)"; }
    [ "${shown:-0}" -gt 20 ] || fail "the copy without its data shows no event after a search ($shown red pixels)"
    grep -q "no place names" "$work/bare.stderr" || fail "the copy without its data did not say it has no place names"
    "$x11close" "$window" || fail "could not close the copy without its data"
    wait_for_end $bare_pid
    [ "$status" = 0 ] || fail "the copy without its data ended with status ${status:-none}"
fi
echo "harvix started, showed 'Harvix 1.1'${searched:+ and the map and plots of a search, outlined a box and a section drawn on the map}, closed with status 0 and printed nothing${searched:+; a copy without its data searched and showed the event}"
