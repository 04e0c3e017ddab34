#!/usr/bin/env bash
# Builds the program, makes the bundled demo card if it is not there yet, and plays it.
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
if [ -x "$root/build/app/velk-viewer" ]; then
    exec "$root/build/app/velk-viewer" "$card" "$@"
fi
# Until the main window exists, the engine's host plays the card's recordings in turn.
mapfile -t files < <(find "$card" -type f \( -name '*.mp4' -o -name '*.avi' \) | sort)
exec "$root/build/tools/velk-play" --exit-at-end "${files[@]}" "$@"
