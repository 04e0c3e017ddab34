#!/usr/bin/env bash
# The catalogue benchmark in one command: builds catalogue-bench, makes a card folder of 10,000
# sparse recordings once (kept in the build folder) and prints one table: ScanCatalogue warm and
# (as root, dropping the page cache) cold, beside the neighbour-swap sort on the same names.
# Environment: VELK_BENCH_BUILD (build folder), VELK_BENCH_CARD (card folder),
# VELK_BENCH_COUNT (recordings, default 10000), VELK_BENCH_JOBS (build jobs, default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}
count=${VELK_BENCH_COUNT:-10000}
card=${VELK_BENCH_CARD:-$build/catalogue-card-$count}

(cd "$root" && cmake --preset bench -B "$build") >/dev/null
nice cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target catalogue-bench >/dev/null
bench="$build/bench/catalogue/catalogue-bench"

if [[ ! -e "$card/.made" ]]; then
    rm -rf "$card"
    mkdir -p "$card"
    "$bench" make "$card" "$count"
    touch "$card/.made"
fi
"$bench" run "$card"
