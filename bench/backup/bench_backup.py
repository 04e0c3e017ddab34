"""Copies three 200 MB recordings with the backup's worker and with cp followed by sync of the
copies, and prints the throughput of each beside the other. Both start from the same state each
round: an empty target folder on the sources' file system, everything written before already on
the disk, and the sources' pages out of the page cache, so both read from the disk; both end
with the copies on the disk."""

import argparse
import os
import shutil
import statistics
import subprocess
import time

NAMES = ["20240101_120000_N.mp4", "20240101_120100_E.mp4", "20240101_120200_U.mp4"]
SIZE = 200 * 1024 * 1024


def make_sources(folder):
    os.makedirs(folder, exist_ok=True)
    for name in NAMES:
        path = os.path.join(folder, name)
        if os.path.exists(path) and os.path.getsize(path) == SIZE:
            continue
        with open(path, "wb") as f:
            for _ in range(SIZE // (1 << 20)):
                f.write(os.urandom(1 << 20))


def settle(sources, target, drop_all):
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    subprocess.run(["sync"], check=True)
    if drop_all:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return
    for path in sources:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def timed(command, written):
    # "sync FILE..." flushes only the copies: a plain sync would also wait for whatever other
    # programs on the machine have written, which is no part of either copy.
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.PIPE)
    subprocess.run(["sync"] + written, check=True)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--drop-caches", action="store_true")
    args = parser.parse_args()

    source_folder = os.path.join(args.out, "card")
    target = os.path.join(args.out, "target")
    make_sources(source_folder)
    sources = [os.path.join(source_folder, n) for n in NAMES]
    total_mb = len(NAMES) * SIZE / 1e6

    runs = {
        "cp + sync": ["cp"] + sources + [target],
        "backup": [args.tool, target, source_folder] + NAMES,
    }
    seconds = {label: [] for label in runs}
    order = list(runs)
    for round_index in range(args.rounds):
        for label in order if round_index % 2 == 0 else reversed(order):
            settle(sources, target, args.drop_caches)
            written = [os.path.join(target, n) for n in NAMES]
            seconds[label].append(timed(runs[label], written))
            for name, source in zip(NAMES, sources):
                if os.path.getsize(os.path.join(target, name)) != os.path.getsize(source):
                    raise SystemExit(f"bench: {label} left a wrong size for {name}")
    shutil.rmtree(target, ignore_errors=True)

    caches = "whole page cache dropped" if args.drop_caches else "sources' pages dropped"
    print(f"backup throughput: 3 x 200 MB on {source_folder}'s file system, {caches}, "
          f"{args.rounds} rounds in alternating order")
    width = 6 * args.rounds + 2
    print(f"{'copy':<12}{'rounds (s)':<{width}}{'median s':>10}{'MB/s':>9}{'best s':>9}{'MB/s':>9}")
    medians, bests = {}, {}
    for label in runs:
        medians[label] = statistics.median(seconds[label])
        bests[label] = min(seconds[label])
        rounds = " ".join(f"{s:5.2f}" for s in seconds[label])
        print(f"{label:<12}{rounds:<{width}}{medians[label]:>10.2f}"
              f"{total_mb / medians[label]:>9.1f}{bests[label]:>9.2f}{total_mb / bests[label]:>9.1f}")
    by_median = medians["cp + sync"] / medians["backup"] * 100
    by_best = bests["cp + sync"] / bests["backup"] * 100
    print(f"backup throughput is {by_median:.1f} % of cp + sync by the medians, {by_best:.1f} % "
          f"by the best rounds (goal: at least 95 %)")


if __name__ == "__main__":
    main()
