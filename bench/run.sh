#!/usr/bin/env bash
# The playback benchmarks in one command: builds make-recording and velk-bench in build-bench,
# makes the 60 s two-camera recording once (kept in bench/out/), plays it through the engine on a
# private Xvfb with SDL's dummy audio at 1x, 2x and 4x and with fraction seeks, with the library's
# own choice of decoder threads and with one thread, and prints one table of the figures beside
# references the ffmpeg tool gives on the same recording in the same run.
# Environment: VELK_BENCH_BUILD (build folder), VELK_BENCH_JOBS (build jobs, default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}
out="$root/bench/out"

for tool in cmake ninja ffmpeg ffprobe python3 Xvfb; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

# Only the engine's programs are built, never the user interface; an optimised, unsanitized build.
(cd "$root" && cmake --preset bench -B "$build") >/dev/null
cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target make-recording velk-bench >/dev/null

. "$root/scripts/xvfb.sh"
velk_start_display
export SDL_AUDIODRIVER=dummy
mkdir -p "$out"
python3 "$root/bench/bench.py" --build "$build" --out "$out"
