#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless (each drawing test program on an Xvfb
# of its own, SDL dummy audio), then the engine and telemetry tests again under
# AddressSanitizer+UBSan and under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"
# Every test program that draws starts an X server of its own; these only keep sound silent and
# Qt on X11.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
export QTWEBENGINE_DISABLE_SANDBOX=1
jobs=$(nproc 2>/dev/null || echo 2)
cd "$root/build"
ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
if [ "${VELK_SKIP_SANITIZERS:-0}" != 1 ] && [ -x "$root/scripts/run-sanitizers.sh" ]; then
    "$root/scripts/run-sanitizers.sh"
fi
