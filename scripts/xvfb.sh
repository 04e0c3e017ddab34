# Sourced by the run scripts: gives the programs a display and a silent sound device.
# Starts a private Xvfb when no usable display is set and stops it when the calling script
# exits. The server picks a free display number itself and reports it (-displayfd), as the test
# programs' private displays do, so two scripts never race for one number.
velk_start_display() {
    export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
    export QTWEBENGINE_DISABLE_SANDBOX=1
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local fifo number=""
    fifo=$(mktemp -u /tmp/velk-xvfb-XXXXXX)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    VELK_XVFB_PID=$!
    # The server writes its number once it accepts clients; the read gives up after 20 s.
    read -r -t 20 number <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$number" ]; then
        kill "$VELK_XVFB_PID" 2>/dev/null || true
        echo "could not start Xvfb" >&2
        return 1
    fi
    export DISPLAY=":$number"
    trap 'kill "$VELK_XVFB_PID" 2>/dev/null || true' EXIT
}
