# Sourced by the run and test scripts: gives the programs a display and a silent sound device.
# Starts a private Xvfb when no display is set and stops it when the calling script exits.
velk_start_display() {
    export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
    export QTWEBENGINE_DISABLE_SANDBOX=1
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
        VELK_XVFB_PID=$!
        export DISPLAY=":$n"
        local i
        for i in $(seq 1 100); do
            if xdpyinfo >/dev/null 2>&1; then
                trap 'kill "$VELK_XVFB_PID" 2>/dev/null || true' EXIT
                return 0
            fi
            kill -0 "$VELK_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$VELK_XVFB_PID" 2>/dev/null || true
    done
    echo "could not start Xvfb" >&2
    return 1
}
