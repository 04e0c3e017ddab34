#!/usr/bin/env python3
"""Runs the playback benchmarks and prints one table; started by bench/run.sh, which builds the
programs and provides the display. Every engine figure stands beside a reference measured in
the same run on the same recording: the ffmpeg command-line tool's decode floor, its peak
memory and its time to a first picture, or the recording's own content."""

import argparse
import hashlib
import json
import math
import os
import statistics
import subprocess
import sys
import threading
import time

FPS = 30
DURATION = 60
DISPLAY_HZ = 60
RECORDING_OPTIONS = [
    "--duration", str(DURATION), "--fps", str(FPS),
    "--front", "1920x1080", "--front-bitrate", "12000",
    "--rear", "1280x720", "--rear-bitrate", "6000",
    # veryfast keeps the 60 s recording to about a minute and a half of encoding on two cores and
    # gives High-profile streams (CABAC, B-pictures) that cost a decoder what camera streams do.
    "--preset", "veryfast",
    # A textured, panning scene with grain: the streams reach the asked bit rates, as camera
    # streams do, instead of the few hundred kbit/s that flat test pictures need.
    "--detail",
]
# Fraction seeks in thousandths: spread over the whole recording, never the same twice, and
# jumping both ways.
SEEKS = [(37 + i * 383) % 960 + 20 for i in range(24)]
# The same camera-like streams for half a second: the start of a playback on its own.
SHORT_OPTIONS = ["--duration", "0.5"] + RECORDING_OPTIONS[2:]
SHORT_RUNS = 5
THREAD_SETTINGS = [("auto", None, "0"), ("one", "1", "1")]  # name, VELK_DECODER_THREADS, -threads
PRESENT_ONLY_PICTURES = 300  # pairs of pictures SDL alone uploads and presents, 30 a second


def log(text):
    print(text, file=sys.stderr, flush=True)


def quantile(values, q):
    """Nearest rank, as the engine's figure report does."""
    if not values:
        return float("nan")
    ordered = sorted(values)
    rank = max(1, min(len(ordered), math.ceil(q * len(ordered))))
    return ordered[rank - 1]


def run_measured(argv, env=None, allow=()):
    """Runs argv to its end; returns (stdout, wall seconds, CPU seconds, peak kilobytes)."""
    started = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, env=env)
    out_chunks = []
    # stderr can be large (the engine's log): read both without blocking on either.
    err_chunks = []
    reader = threading.Thread(target=lambda: err_chunks.append(proc.stderr.read()))
    reader.start()
    out_chunks.append(proc.stdout.read())
    reader.join()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - started
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0 and proc.returncode not in allow:
        raise RuntimeError("%s failed (%d): %s" % (argv[0], proc.returncode,
                                                  err_chunks[0][-2000:].decode(errors="replace")))
    return (out_chunks[0].decode(errors="replace"), wall, usage.ru_utime + usage.ru_stime,
            usage.ru_maxrss)


def make_recording(build, out_dir, options=RECORDING_OPTIONS):
    tool = os.path.join(build, "bin", "make-recording")
    key = hashlib.sha1(" ".join(options).encode()).hexdigest()[:12]
    path = os.path.join(out_dir, "bench-%s.mp4" % key)
    table = path[:-4] + ".telemetry"
    if not (os.path.exists(path) and os.path.exists(table)):
        log("making the recording %s (once; kept in %s)" % (path, out_dir))
        partial = path + ".part.mp4"
        with open(table + ".part", "w") as tel:
            subprocess.run([tool, *options, "--print-telemetry", "--out", partial],
                           stdout=tel, check=True)
        os.replace(table + ".part", table)
        os.replace(partial, path)
    return path, table


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "stream=index,codec_type,codec_name,width,height,bit_rate,start_time,"
                          "profile:format=duration,bit_rate", "-of", "json", path],
                         capture_output=True, check=True, text=True).stdout
    return json.loads(out)


def decode_floor(path, threads, repeats=3):
    """CPU, wall and peak memory of the ffmpeg tool decoding both video streams and the audio."""
    runs = []
    for _ in range(repeats):
        _, wall, cpu, peak = run_measured(
            ["ffmpeg", "-nostdin", "-v", "error", "-threads", threads, "-i", path,
             "-map", "0:0", "-map", "0:1", "-map", "0:2", "-f", "null", "-"])
        runs.append((cpu, wall, peak))
    return {"cpu": statistics.median(r[0] for r in runs),
            "wall": statistics.median(r[1] for r in runs),
            "peakKb": max(r[2] for r in runs)}


def first_picture_times(path, threads, positions):
    """Wall seconds the ffmpeg tool needs, from its start, to decode the first picture at each
    position (process start included: the engine's figure includes opening the file too)."""
    times = []
    for seconds in positions:
        _, wall, _, _ = run_measured(
            ["ffmpeg", "-nostdin", "-v", "error", "-threads", threads, "-ss", "%.3f" % seconds,
             "-i", path, "-frames:v", "1", "-f", "null", "-"])
        times.append(wall)
    return times


def run_engine(bench, path, table, speed, velk_threads, seeks=None, start="ready"):
    env = dict(os.environ)
    env.pop("VELK_DECODER_THREADS", None)
    if velk_threads is not None:
        env["VELK_DECODER_THREADS"] = velk_threads
    argv = [bench, "--file", path, "--speed", str(speed), "--telemetry", table,
            "--limit", str(DURATION / speed + 30), "--start", start]
    if seeks:
        argv += ["--seeks", ",".join(str(s) for s in seeks), "--settle", "0.3"]
    out, _, _, _ = run_measured(argv, env, allow=(4,))  # 4: not ended within the limit
    figures = {}
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[0] == "bench":
            try:
                figures[parts[1]] = float(parts[2])
            except ValueError:
                figures[parts[1]] = parts[2]
    if figures.get("stopped") != 1:
        raise RuntimeError("velk-bench did not stop its playback: %s" % out[-1500:])
    if figures.get("completed") != 1:
        # A playback that did not end within its limit still has figures up to the limit; one
        # slow run on a loaded machine must not cost the whole table.
        log("velk-bench: %s at %dx did not end within its limit; its figures are up to it"
            % (os.path.basename(path), speed))
    return figures


def run_present_only(bench, pictures):
    out, _, _, _ = run_measured([bench, "--present-only", str(pictures)])
    figures = {}
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[0] == "bench":
            figures[parts[1]] = float(parts[2])
    if "presentOnlyPictures" not in figures:
        raise RuntimeError("velk-bench --present-only printed no figures: %s" % out[-1500:])
    return figures


def fmt(value, digits=3):
    if value is None:
        return "-"
    if isinstance(value, str):
        return value
    if value != value:  # nan
        return "none"
    if float(value).is_integer() and abs(value) >= 1 and digits <= 3:
        return "%d" % value
    return "%.*f" % (digits, value)


def ratio(a, b):
    if a is None or b is None or isinstance(a, str) or isinstance(b, str) or not b:
        return "-"
    return "%.2f" % (a / b)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    bench = os.path.join(args.build, "bench", "velk-bench")

    path, table = make_recording(args.build, args.out)
    short_path, short_table = make_recording(args.build, args.out, SHORT_OPTIONS)
    info = probe(path)
    streams = {s["index"]: s for s in info["streams"]}
    duration = float(info["format"]["duration"])
    table_lines = sum(1 for line in open(table) if "\t" in line)
    offered = round(duration * FPS)
    seek_seconds = [duration * s / 1000.0 for s in SEEKS]
    file_skew = float(streams[0].get("start_time", 0)) - float(streams[1].get("start_time", 0))

    results = {}
    for name, velk_threads, ff_threads in THREAD_SETTINGS:
        log("decoder threads %s: ffmpeg references" % name)
        r = {"floor": decode_floor(path, ff_threads),
             "ffFirst": first_picture_times(path, ff_threads, [0.0] * 5),
             "ffSeek": first_picture_times(path, ff_threads, seek_seconds)}
        for speed in (1, 2, 4):
            log("decoder threads %s: playing at %dx" % (name, speed))
            r["play%d" % speed] = run_engine(bench, path, table, speed, velk_threads)
        for speed in (1, 4):
            log("decoder threads %s: %d fraction seeks at %dx" % (name, len(SEEKS), speed))
            r["seek%d" % speed] = run_engine(bench, path, table, speed, velk_threads, SEEKS)
        log("decoder threads %s: the 0.5 s recording %d times" % (name, SHORT_RUNS))
        shorts = [run_engine(bench, short_path, short_table, 1, velk_threads)
                  for _ in range(SHORT_RUNS)]
        r["short"] = {"droppedLate": sum(f["droppedBeforeQueue"] + f["droppedAtDisplay"]
                                         for f in shorts),
                      "shown": sum(f["picturesShown"] for f in shorts)}
        log("decoder threads %s: the 0.5 s recording %d times, started with the process"
            % (name, SHORT_RUNS))
        r["coldFirst"] = [run_engine(bench, short_path, short_table, 1, velk_threads,
                                     start="at-once")["firstPictureSeconds"]
                          for _ in range(SHORT_RUNS)]
        log("decoder threads %s: SDL alone uploading and presenting" % name)
        r["presentOnly"] = run_present_only(bench, PRESENT_ONLY_PICTURES)
        results[name] = r

    rows = []  # (figure, [(engine, reference) per thread setting], show ratio)

    def add(label, get, show_ratio=True):
        rows.append((label, [get(results[n]) for n, _, _ in THREAD_SETTINGS], show_ratio))

    for speed in (1, 2, 4):
        add("CPU s per s of playback, %dx (ref: decode floor)" % speed,
            lambda r, s=speed: (r["play%d" % s]["cpuSeconds"] / r["play%d" % s]["wallSeconds"],
                                r["floor"]["cpu"] * s / duration))
    def capacity(r, s):
        """Pictures a 60 Hz display can show in the time the playback took (at most offered)."""
        return min(offered, DISPLAY_HZ * r["play%d" % s]["wallSeconds"])

    for speed in (1, 4):
        add("pictures shown, %dx (ref: offered, or what %d Hz can show)" % (speed, DISPLAY_HZ),
            lambda r, s=speed: (r["play%d" % s]["picturesShown"], capacity(r, s)))
        add("  dropped late before queueing, %dx" % speed,
            lambda r, s=speed: (r["play%d" % s]["droppedBeforeQueue"], 0), False)
        add("  dropped late at display, %dx" % speed,
            lambda r, s=speed: (r["play%d" % s]["droppedAtDisplay"], 0), False)
        if speed * FPS > DISPLAY_HZ:
            add("  of the drops: more than %d Hz can show, %dx" % (DISPLAY_HZ, speed),
                lambda r, s=speed: (offered - capacity(r, s), offered - DISPLAY_HZ * duration / s),
                False)
            # Pictures not shown beyond what the display could not show: the drops, and the
            # pictures the decoders skipped undecoded (the same as the drops alone when nothing
            # is skipped).
            add("  of the drops: beyond that, %dx (ref: 0)" % speed,
                lambda r, s=speed: (max(0.0, capacity(r, s) - r["play%d" % s]["picturesShown"]),
                                    0), False)
    # Where the CPU of the 1x playback goes, per shown picture. Upload and present run on the
    # test display's software renderer (llvmpipe, partly in its own threads) and would run on
    # the graphics card of a desktop: SDL alone doing the same for the same picture sizes is
    # their reference, and the goal is taken on the rest.
    def per_picture(r, key):
        return 1000.0 * r["play1"][key] / r["play1"]["picturesShown"]

    def sdl_alone(r, key):
        return 1000.0 * r["presentOnly"][key] / r["presentOnly"]["presentOnlyPictures"]

    def renderer_part(r):
        p = r["play1"]
        return p["uploadCpuSeconds"] + p["presentCpuSeconds"] + p["rendererThreadsCpuSeconds"]

    add("CPU ms per shown picture, 1x: decode (ref: decode floor per picture)",
        lambda r: (per_picture(r, "decodeThreadsCpuSeconds"), 1000.0 * r["floor"]["cpu"] / offered))
    add("  conversion and scaling, 1x", lambda r: (per_picture(r, "scaleCpuSeconds"), None))
    add("  upload, 1x (ref: SDL alone)",
        lambda r: (per_picture(r, "uploadCpuSeconds"), sdl_alone(r, "presentOnlyUploadCpuSeconds")))
    add("  present, 1x (ref: SDL alone)",
        lambda r: (per_picture(r, "presentCpuSeconds"),
                   sdl_alone(r, "presentOnlyPresentCpuSeconds")))
    add("  renderer's own threads (llvmpipe), 1x (ref: SDL alone)",
        lambda r: (per_picture(r, "rendererThreadsCpuSeconds"),
                   sdl_alone(r, "presentOnlyRendererThreadsCpuSeconds")))
    add("  everything else, 1x",
        lambda r: (1000.0 * (r["play1"]["cpuSeconds"] - r["play1"]["decodeThreadsCpuSeconds"]
                             - r["play1"]["scaleCpuSeconds"] - renderer_part(r))
                   / r["play1"]["picturesShown"], None))
    add("CPU s per s of playback, 1x, less upload and present (ref: decode floor)",
        lambda r: ((r["play1"]["cpuSeconds"] - renderer_part(r)) / r["play1"]["wallSeconds"],
                   r["floor"]["cpu"] / duration))
    for speed in (1, 4):
        add("longest gap between shown pictures after the first second, s, %dx (ref: 0.2)"
            % speed, lambda r, s=speed: (r["play%d" % s]["shownGapMaxAfterFirstSecond"], 0.2))
    add("0.5 s recording, %d playbacks: pictures dropped late, 1x (ref: 0)" % SHORT_RUNS,
        lambda r: (r["short"]["droppedLate"], 0), False)
    add("  pictures shown (ref: offered)",
        lambda r: (r["short"]["shown"], SHORT_RUNS * round(0.5 * FPS)))
    # The playback is started once the media layer is up, as a driver starts one in the viewer;
    # started with the process, it also waits for the graphics library the media layer loads.
    add("start to first picture, s (ref: ffmpeg -ss 0 first picture)",
        lambda r: (r["play1"]["firstPictureSeconds"], statistics.median(r["ffFirst"])))
    add("  started with the process, median of %d, s (ref: ffmpeg -ss 0 first picture)"
        % SHORT_RUNS, lambda r: (statistics.median(r["coldFirst"]), statistics.median(r["ffFirst"])))
    for speed in (1, 4):
        add("fraction seek to picture, median s, %dx (ref: ffmpeg -ss T)" % speed,
            lambda r, s=speed: (r["seek%d" % s]["seekToPictureMedian"],
                                statistics.median(r["ffSeek"])))
        add("fraction seek to picture, p95 s, %dx (ref: ffmpeg -ss T)" % speed,
            lambda r, s=speed: (r["seek%d" % s]["seekToPictureP95"], quantile(r["ffSeek"], 0.95)))
    for speed in (1, 4):
        add("  seeks answered by a picture, %dx (ref: seeks asked)" % speed,
            lambda r, s=speed: (r["seek%d" % s]["seekToPictureCount"], len(SEEKS)), False)
    frame = 1.0 / FPS
    for speed in (1, 4):
        for part, key in (("median", "Median"), ("95th pct of |d|", "P95Abs"),
                          ("most ahead", "Max"), ("most behind", "Min")):
            add("video minus audio, %s s, %dx (ref: 1 picture)" % (part, speed),
                lambda r, s=speed, k=key: (r["play%d" % s]["videoMinusAudio" + k],
                                           frame if k != "Min" else -frame), False)
    for phase, run, key in (("first second", "play1", "videoMinusAudioFirstSecond"),
                            ("second after each seek", "seek1", "videoMinusAudioAfterSeek")):
        for part, suffix in (("95th pct of |d|", "P95Abs"), ("most ahead", "Max"),
                             ("most behind", "Min")):
            add("video minus audio, %s, %s s, 1x (ref: 1 picture)" % (phase, part),
                lambda r, run=run, k=key + suffix: (r[run][k], frame if "Min" not in k
                                                    else -frame), False)
    for part, key in (("median", "Median"), ("95th pct of |d|", "P95Abs"),
                      ("most ahead", "Max"), ("most behind", "Min")):
        add("front minus rear, %s s, 1x (ref: in the file)" % part,
            lambda r, k=key: (r["play1"]["frontMinusRear" + k], file_skew), False)
    for speed in (1, 4):
        add("telemetry lines once and in order, %dx (ref: lines in file)" % speed,
            lambda r, s=speed: (r["play%d" % s]["telemetryInOrderOnce"], table_lines))
        add("  repeated / out of order / unknown, %dx" % speed,
            lambda r, s=speed: ("%d/%d/%d" % (r["play%d" % s]["telemetryRepeated"],
                                              r["play%d" % s]["telemetryOutOfOrder"],
                                              r["play%d" % s]["telemetryUnknown"]), "0/0/0"),
            False)
    add("peak memory MB, 1x (ref: ffmpeg decode floor)",
        lambda r: (r["play1"]["peakKilobytes"] / 1024.0, r["floor"]["peakKb"] / 1024.0))
    add("peak memory MB, 4x (ref: ffmpeg decode floor)",
        lambda r: (r["play4"]["peakKilobytes"] / 1024.0, r["floor"]["peakKb"] / 1024.0))
    # What holds the memory: SDL alone with the same windows and renderers (the GL driver and
    # its libraries), and at the end of the 1x playback the process's own memory against mapped
    # files.
    add("  of it SDL alone presenting, MB (ref: ffmpeg decode floor)",
        lambda r: (r["presentOnly"]["presentOnlyPeakKilobytes"] / 1024.0,
                   r["floor"]["peakKb"] / 1024.0))
    add("  peak less SDL alone, 1x, MB (ref: ffmpeg decode floor)",
        lambda r: ((r["play1"]["peakKilobytes"] - r["presentOnly"]["presentOnlyPeakKilobytes"])
                   / 1024.0, r["floor"]["peakKb"] / 1024.0))
    add("  resident at the end, 1x: own / mapped files, MB",
        lambda r: ("%.1f / %.1f" % (r["play1"]["anonKilobytes"] / 1024.0,
                                    r["play1"]["fileKilobytes"] / 1024.0), None), False)

    def kbps(s):
        return "%d kbit/s" % (int(s.get("bit_rate", 0)) // 1000)

    commit = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "log",
                             "-1", "--format=%h %cd", "--date=iso"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    print("VELK engine benchmark (in-process engine, velk-bench; Xvfb, SDL dummy audio, %d cores)"
          % os.cpu_count())
    print("tree at %s" % commit)
    print("recording %s: %.1f s, front %sx%s %s, rear %sx%s %s, %s %s, %d telemetry lines" % (
        os.path.basename(path), duration, streams[0]["width"], streams[0]["height"],
        kbps(streams[0]), streams[1]["width"], streams[1]["height"], kbps(streams[1]),
        streams[2]["codec_name"], kbps(streams[2]), table_lines))
    print("decode floor: ffmpeg -threads N -i REC -map 0:0 -map 0:1 -map 0:2 -f null - "
          "(CPU %.2f s auto / %.2f s one thread for the whole file)" % (
              results["auto"]["floor"]["cpu"], results["one"]["floor"]["cpu"]))
    print("threads: auto = the engine's own choice (VELK_DECODER_THREADS unset: the cores "
          "shared between the cameras) / ffmpeg -threads 0; "
          "one = VELK_DECODER_THREADS=1 / ffmpeg -threads 1")
    print()
    head = ("figure", "auto: engine", "reference", "ratio", "one: engine", "reference", "ratio")
    body = []
    for label, cells, show_ratio in rows:
        line = [label]
        for engine, reference in cells:
            line += [fmt(engine), fmt(reference), ratio(engine, reference) if show_ratio else ""]
        body.append(line)
    widths = [max(len(str(row[i])) for row in [head] + body) for i in range(len(head))]
    def emit(row):
        print("  ".join(str(c).ljust(widths[i]) if i == 0 else str(c).rjust(widths[i])
                        for i, c in enumerate(row)))
    emit(head)
    emit(["-" * w for w in widths])
    for row in body:
        emit(row)
    with open(os.path.join(args.out, "last-results.json"), "w") as f:
        json.dump(results, f, indent=1, default=str)


if __name__ == "__main__":
    main()
