#!/usr/bin/env bash
# Builds the program, makes the bundled demo card if it is not there yet, and opens it in the
# viewer.
# On a desktop it opens a window there; without a display it runs under a private Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"
card="$root/demo-card"
if [ ! -f "$card/.complete" ]; then
    "$root/scripts/make-demo-card.sh" "$card"
fi
. "$root/scripts/xvfb.sh"
if [ -z "${DISPLAY:-}" ]; then velk_start_display; fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
# The viewer opens the demo card as the card and plays nothing until asked.
if [ -n "${VELK_XVFB_PID:-}" ]; then
    # Not exec'd: the private display is stopped when the viewer ends.
    echo "run-demo: no display here; the viewer runs on the private display $DISPLAY"
    "$root/build/app/velk-viewer" "$card" "$@"
else
    exec "$root/build/app/velk-viewer" "$card" "$@"
fi
