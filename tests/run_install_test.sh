#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and tries what a user gets:
# the desktop entry and AppStream data validate, no path of the source or
# build tree is in the programs, the installed gateway makes its catalogue
# from the installed data and serves, the installed Harvix under Xvfb gets
# events from it, the gateway serves on a socket passed the way systemd
# passes one, and the Debian package holds the files and passes lintian.
# Under CI=true (or HARVIX_TRY_DPKG=1) the package is also installed and
# removed with dpkg, which must leave nothing behind.
set -u
build=$1
source=$2
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "cmake --install"; }
usr="$root/usr"
for file in bin/harvix bin/harvix-gateway share/applications/org.harvix.Harvix.desktop \
            share/icons/hicolor/scalable/apps/org.harvix.Harvix.svg share/metainfo/org.harvix.Harvix.metainfo.xml \
            share/man/man1/harvix.1.gz share/man/man1/harvix-gateway.1.gz share/harvix/geonet/license.txt \
            share/harvix/geonet/MLNZ20_RapidEvents_2026.csv lib/systemd/user/harvix-gateway.socket \
            lib/systemd/user/harvix-gateway.service; do
    [ -f "$usr/$file" ] || fail "not installed: $file"
done
desktop-file-validate "$usr/share/applications/org.harvix.Harvix.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/org.harvix.Harvix.metainfo.xml" >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
grep -q '^ExecStart=harvix-gateway serve --upstream https://quakesearch.geonet.org.nz/ --follow 60$' \
    "$usr/lib/systemd/user/harvix-gateway.service" || fail "the service does not run the installed gateway"
for binary in harvix harvix-gateway; do
    if grep -a -q -e "$source" -e "$build" "$usr/bin/$binary"; then fail "$binary holds a path of the source or build tree"; fi
done
ok "installed files, validators, no tree paths"

# A home of its own: the installed programs never see the settings of the
# person running the tests, nor write theirs.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
       XDG_RUNTIME_DIR="$work/runtime" TZ=Pacific/Auckland LC_ALL=C
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A socket passed as systemd passes it: fd 3, LISTEN_FDS=1, LISTEN_PID.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
systemd-socket-activate -l "127.0.0.1:$port" "$usr/bin/harvix-gateway" serve --catalogue "$work/empty.sqlite" \
    >"$work/activated.log" 2>&1 &
pids+=($!)
sleep 0.5
curl -s -f -o "$work/home.html" "http://127.0.0.1:$port/" || { cat "$work/activated.log"; fail "no answer on the passed socket"; }
grep -q "harvix-gateway" "$work/home.html" || fail "the passed socket served something else"
grep -q "serving http://127.0.0.1:$port/" "$work/activated.log" || { cat "$work/activated.log"; fail "the gateway did not take the passed socket"; }
ok "serves on a socket passed by systemd-socket-activate"

if (exec 3<>/dev/tcp/127.0.0.1/8470) 2>/dev/null; then
    echo "skip: port 8470, Harvix's default, is in use here: the installed pair is not tried"
else
    "$usr/bin/harvix-gateway" serve >"$work/gateway.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do grep -q serving "$work/gateway.log" && break; sleep 0.1; done
    grep -q "(56434 events)" "$work/gateway.log" || { cat "$work/gateway.log"; fail "the catalogue was not made from the installed data"; }

    display=""
    for n in $(seq 150 200); do
        if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=":$n"; break; fi
    done
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    unset QT_QPA_PLATFORM
    "$usr/bin/harvix" >"$work/harvix.log" 2>&1 &
    pids+=($!)
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Harvix 1\.1$' | head -n 1)
    [ -n "$window" ] || fail "the installed harvix showed no window"
    sleep 0.5
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    # "Show All", "Show Last Decade", search.
    xdotool key --delay 150 Tab Down Tab Down Down Down Down ctrl+r
    for _ in $(seq 100); do grep -q '"GET /services/quake/search?magnitudeLower=0' "$work/gateway.log" && break; sleep 0.1; done
    line=$(grep '"GET /services/quake/search?magnitudeLower=0' "$work/gateway.log" | tail -n 1)
    [ -n "$line" ] || { cat "$work/gateway.log"; fail "the installed harvix did not search the installed gateway"; }
    bytes=${line##* }
    [ "${line% *}" != "${line% 200 *}" ] && [ "$bytes" -gt 100000 ] 2>/dev/null \
        || fail "the search brought no events: $line"
    ok "the installed harvix shows the installed gateway's events ($bytes bytes)"
fi

(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
package=$(ls -t "$build"/harvix_*.deb | head -n 1)
contents=$(dpkg-deb --contents "$package")
for file in usr/bin/harvix usr/bin/harvix-gateway usr/share/applications/org.harvix.Harvix.desktop \
            usr/share/metainfo/org.harvix.Harvix.metainfo.xml usr/lib/systemd/user/harvix-gateway.socket \
            usr/share/harvix/geonet/license.txt usr/share/doc/harvix/copyright; do
    grep -q "\./$file\$" <<<"$contents" || fail "the package lacks $file"
done
lintian --no-tag-display-limit "$package" >"$work/lintian.log" 2>&1
if grep -q '^E:' "$work/lintian.log"; then cat "$work/lintian.log"; fail "lintian reports errors"; fi
ok "package $(basename "$package"): files listed, lintian without errors ($(grep -c '^W:' "$work/lintian.log") warnings)"

if [ "${CI:-}" = true ] || [ "${HARVIX_TRY_DPKG:-}" = 1 ]; then
    if dpkg -s harvix >/dev/null 2>&1; then
        echo "skip: harvix is installed on this machine already: dpkg -i and -r are not tried"
    else
        before=$(find /usr -xdev 2>/dev/null | sort)
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >"$work/dpkg.log" 2>&1 \
            || { cat "$work/dpkg.log"; fail "installing the package"; }
        [ -x /usr/bin/harvix-gateway ] && [ -f /usr/share/applications/org.harvix.Harvix.desktop ] \
            || fail "the installed package lacks its files"
        /usr/bin/harvix-gateway --version | grep -q "harvix-gateway 1.1" || fail "the installed gateway does not run"
        dpkg -P harvix >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "removing the package"; }
        after=$(find /usr -xdev 2>/dev/null | sort)
        left=$(comm -13 <(echo "$before") <(echo "$after"))
        [ -z "$left" ] || fail "removing the package left: $left"
        ok "dpkg -i then dpkg -P left nothing behind"
    fi
fi
echo "install test passed"
