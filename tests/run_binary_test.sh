#!/usr/bin/env bash
# Starts the real harvix on a private Xvfb display, finds its window by title
# with xdotool, closes it, and checks the exit status and that nothing was
# printed.
set -u
harvix=$1
x11close=$2
work=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

display=""
for n in $(seq 90 140); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=":$n"; break; fi
done
[ -n "$display" ] || fail "no free X display number"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM

"$harvix" -some-unknown-argument >"$work/stdout" 2>"$work/stderr" &
app_pid=$!

window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
[ -n "$window" ] || { kill $app_pid; fail "no window titled 'Harvix 1.1' appeared"; }
[ "$(xdotool getwindowpid "$window" 2>/dev/null || echo "$app_pid")" = "$app_pid" ] \
    || fail "the window does not belong to the started process"
sleep 0.5
"$x11close" "$window" || fail "could not send the close request"

status=""
for _ in $(seq 100); do
    if ! kill -0 $app_pid 2>/dev/null; then wait $app_pid; status=$?; break; fi
    sleep 0.1
done
[ -n "$status" ] || { kill $app_pid; fail "harvix did not end after its window was closed"; }
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
[ ! -s "$work/stdout" ] || fail "harvix wrote to standard output: $(head -c 500 "$work/stdout")"
[ ! -s "$work/stderr" ] || fail "harvix wrote to standard error: $(head -c 500 "$work/stderr")"
echo "harvix started, showed 'Harvix 1.1', closed with status 0 and printed nothing"
