#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless (Xvfb, SDL dummy audio), then the
# engine and telemetry tests again under AddressSanitizer+UBSan and under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"
. "$root/scripts/xvfb.sh"
velk_start_display
jobs=$(nproc 2>/dev/null || echo 2)
cd "$root/build"
ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
if [ "${VELK_SKIP_SANITIZERS:-0}" != 1 ] && [ -x "$root/scripts/run-sanitizers.sh" ]; then
    "$root/scripts/run-sanitizers.sh"
fi
