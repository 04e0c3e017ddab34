#!/usr/bin/env bash
# The vehicle information panel's benchmark: builds make-recording and velk-vehicle-bench,
# takes the telemetry of a 60 s simulated drive (kept in bench/out/), feeds it to the panel on a
# private Xvfb and prints the table: records per second the panel draws beside the rate the
# playback needs (10 a second at 1x, 40 at 4x).
# Environment: VELK_BENCH_BUILD (build folder, default build-bench), VELK_BENCH_JOBS (default 2),
# VELK_BENCH_RECORDS (records per row, default 6000).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}
out="$root/bench/out"

for tool in cmake ninja Xvfb xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

# An optimised, unsanitized build of the two programs only.
(cd "$root" && cmake --preset bench -B "$build") >/dev/null
cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target make-recording velk-vehicle-bench >/dev/null

mkdir -p "$out"
table="$out/vehicle-drive-60s.telemetry"
if [ ! -s "$table" ]; then
    scratch=$(mktemp --suffix=.mp4)
    "$build/bin/make-recording" --duration 60 --front 320x180 --rear 160x90 \
        --print-telemetry --out "$scratch" >"$table.part"
    rm -f "$scratch"
    mv "$table.part" "$table"
fi

. "$root/scripts/xvfb.sh"
velk_start_display
"$build/bench/vehicle/velk-vehicle-bench" --telemetry "$table" --records "${VELK_BENCH_RECORDS:-6000}"
