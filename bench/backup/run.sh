#!/usr/bin/env bash
# The backup's throughput beside cp followed by sync of the copies: builds velk-backup-bench,
# makes three 200 MB recordings once (kept in bench/out/backup/), copies them into a folder on
# the same file system with each, several rounds in alternating order, and prints one table.
# Environment: VELK_BENCH_BUILD (build folder), VELK_BENCH_JOBS (build jobs, default 2),
# VELK_BENCH_ROUNDS (default 9), VELK_BENCH_DROP_CACHES=1 to drop the whole page cache (root)
# instead of only the three sources' pages before each copy.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELK_BENCH_BUILD:-$root/build-bench}

for tool in cmake ninja python3 cp sync; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

(cd "$root" && cmake --preset bench -B "$build") >/dev/null
nice cmake --build "$build" -j "${VELK_BENCH_JOBS:-2}" --target velk-backup-bench >/dev/null

exec python3 "$root/bench/backup/bench_backup.py" \
    --tool "$build/bench/backup/velk-backup-bench" --out "$root/bench/out/backup" \
    --rounds "${VELK_BENCH_ROUNDS:-9}" ${VELK_BENCH_DROP_CACHES:+--drop-caches}
