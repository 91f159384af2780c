# Sourced by the tests of the real binary: a private Xvfb display of a
# free number between $1 and $2, of the size $3, and a private runtime,
# configuration, data, cache and home folder under $work; sets xvfb_pid and
# DISPLAY.
# The caller defines fail().
private_display() {
    local display="" n
    for n in $(seq "$1" "$2"); do
        if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=":$n"; break; fi
    done
    [ -n "$display" ] || fail "no free X display number"
    Xvfb "$display" -screen 0 "$3"x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    mkdir -m 700 "$work/runtime"
    mkdir -p "$work/home"
    export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
           XDG_CACHE_HOME="$work/cache" HOME="$work/home"
    unset QT_QPA_PLATFORM
}
