#!/usr/bin/env bash
# Takes a picture of Harvix's main window on a private Xvfb display.
set -euo pipefail
harvix=$1
out=$2
work=$(mktemp -d)
display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY=$display XDG_RUNTIME_DIR=$work
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
"$harvix" >/dev/null 2>&1 &
app=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
sleep 1
import -window "$window" "$out"
echo "wrote $out"
