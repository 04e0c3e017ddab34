#!/usr/bin/env bash
# The side panel's map benchmark: builds velk-map-bench and the map pages, then runs it three
# times (the web engine starts once per process, so each run measures one start): the panel
# without a connection (no web view, the reference) beside the panel with the map page on a
# local tile server: times to the view, the page, the first tile and the first move, and the
# memory of the viewer's process and of the web engine's processes.
# Environment: VELK_BENCH_BUILD (build folder, default build-bench), VELK_BENCH_JOBS (default 2),
# VELK_BENCH_RUNS (default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}

for tool in cmake ninja Xvfb; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

(cd "$root" && cmake --preset bench -B "$build") >/dev/null
cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target velk-map-bench velk_map_pages >/dev/null

# The program starts an X server of its own; as root the web engine runs without its sandbox.
export QTWEBENGINE_DISABLE_SANDBOX=1
for run in $(seq 1 "${VELK_BENCH_RUNS:-3}"); do
    echo "run $run"
    "$build/bench/map/velk-map-bench" 2>/dev/null
done
