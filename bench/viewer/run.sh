#!/usr/bin/env bash
# The viewer's benchmark in one command: builds the viewer, the engine's velk-bench, the empty
# Qt window and velk-viewer-bench, makes the recordings once (kept in bench/out/viewer/), and
# prints one table, each figure of the viewer beside its reference measured in the same run.
# The bench starts an X server of its own; nothing reaches the network (the map's tiles come
# from a server on 127.0.0.1 that the bench runs).
# Environment: VELK_BENCH_BUILD (build folder, default build-bench), VELK_BENCH_JOBS (default 2),
# VELK_BENCH_RUNS (runs of each timed figure, median shown; default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}
out="$root/bench/out/viewer"

for tool in cmake ninja Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

(cd "$root" && cmake --preset bench -B "$build") >/dev/null
cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target velk-viewer velk_map_pages \
    make-recording velk-bench velk-empty-window velk-viewer-bench >/dev/null

# As root the map's web engine runs without its sandbox.
export QTWEBENGINE_DISABLE_SANDBOX=1
mkdir -p "$out"
"$build/bench/viewer/velk-viewer-bench" --build "$build" --out "$out" \
    --runs "${VELK_BENCH_RUNS:-3}" 2>/dev/null | awk -F'|' '
    BEGIN { printf "%-62s %10s %10s %7s  %-44s %s\n", "figure", "viewer", "reference", "ratio",
                   "reference is", "unit" }
    /^row / {
        name = substr($1, 5)
        ratio = ($3 > 0 && $2 >= 0) ? sprintf("%.2f", $2 / $3) : "-"
        printf "%-62s %10s %10s %7s  %-44s %s\n", name, $2, $3, ratio, $4, $5
    }'
