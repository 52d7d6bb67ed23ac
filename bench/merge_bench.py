#!/usr/bin/python3
"""Measures a merged stream relayed by norvik-service against yt-dlp merging the same two
formats into a file itself, and writes the figures into bench/RESULTS.md (its section "Merged
streams"), replacing that section's last run.

The page is a DASH presentation made with ffmpeg (20 s of lossless 720p H.264, about 34 MB,
and AAC sound), served on loopback by tests/e2e/watch_page.py. Ours: curl fetches the merged
record's /stream/ID/VIDEO+AUDIO from the service into a file (the service's resolver writes a
fragmented MP4 to a pipe). Theirs: yt-dlp --load-info-json with the same description and
--format VIDEO+AUDIO into an .mp4 file (it fetches both formats, then merges them with ffmpeg).
Both move the same media; throughput is the source's bytes over each side's wall time.
Target: ours >= 0.9 x theirs. RUNS of each, interleaved; about 20 s on two quiet cores.
Needs build/norvik-service, yt-dlp, ffmpeg and curl.
"""

import argparse
import datetime
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, HERE)
from service_bench import (curl, end_all, median_range, replace_section, run,  # noqa: E402
                           start_service, timed)  # noqa: E402
from watch_page import WatchPage  # noqa: E402

RUNS = 5
SECONDS = 20
TARGET = 0.9
SECTION = "## Merged streams"
MB = 1000 * 1000
VIDEO_ID = "BenchMerge1"


def make_dash(folder, seconds):
    run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
         "testsrc2=size=1280x720:rate=25", "-f", "lavfi", "-i",
         "sine=frequency=440:sample_rate=44100", "-t", str(seconds), "-map", "0:v", "-map", "1:a",
         "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-pix_fmt", "yuv420p", "-g", "50",
         "-c:a", "aac", "-f", "dash", "-adaptation_sets", "id=0,streams=v id=1,streams=a",
         os.path.join(folder, "manifest.mpd")])
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build")
    parser.add_argument("--results", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--seconds", type=int, default=SECONDS,
                        help="length of the presentation (about 1.7 MB a second)")
    args = parser.parse_args()
    for need in ("yt-dlp", "ffmpeg", "curl"):
        if shutil.which(need) is None:
            raise SystemExit(f"{need} is not installed")
    work = tempfile.mkdtemp(prefix="norvik-merge-bench-")
    service = page = None
    try:
        dash = os.path.join(work, "dash")
        os.makedirs(dash)
        source_bytes = make_dash(dash, args.seconds)
        clip = os.path.join(work, "unused.mp4")
        open(clip, "wb").close()
        page = WatchPage(clip, "Merge bench", dash, VIDEO_ID)
        log = open(os.path.join(work, "service.log"), "wb")
        service, base = start_service(os.path.join(args.build_dir, "norvik-service"),
                                      page.watch_url, log)
        reply_file = os.path.join(work, "reply")
        curl(f"{base}/api/?videoid={VIDEO_ID}", reply_file)
        with open(reply_file, encoding="utf-8") as f:
            reply = f.read()
        itag = re.search(r"^itag0:(.*)$", reply, re.M).group(1)
        if "+" not in itag:
            raise SystemExit(f"the first record is not a merge: {reply!r}")
        stream_url = re.search(r"^url0:(.*)$", reply, re.M).group(1)
        info = os.path.join(work, "info.json")
        with open(info, "wb") as f:
            run(["yt-dlp", "--dump-single-json", "--no-playlist", "--",
                 page.watch_url.replace("%s", VIDEO_ID)], stdout=f, stderr=subprocess.DEVNULL)

        ours, theirs = [], []
        for _ in range(RUNS):
            out = os.path.join(work, "ours.mp4")
            _, total, size = curl(stream_url, out)
            if size < source_bytes // 2:
                raise SystemExit(f"the relay gave only {size} bytes")
            ours.append(total)
            os.unlink(out)
            out = os.path.join(work, "theirs.mp4")
            theirs.append(timed(["yt-dlp", "--load-info-json", info, "--format", itag, "--quiet",
                                 "--no-progress", "--output", out]))
            os.unlink(out)
        version = run(["yt-dlp", "--version"], capture_output=True, text=True).stdout.strip()
    finally:
        end_all(service, page, work)

    ours_rates = [source_bytes / MB / t for t in ours]
    theirs_rates = [source_bytes / MB / t for t in theirs]
    ratio = statistics.median(ours_rates) / statistics.median(theirs_rates)
    mbs = lambda v: f"{v:.1f} MB/s"
    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    text = "\n".join([
        SECTION, "",
        f"Run {datetime.datetime.now():%Y-%m-%d %H:%M} with `bench/merge_bench.py`, {RUNS} "
        f"interleaved runs; yt-dlp {version}; load average after the run {load}.", "",
        "| Benchmark | Service | Reference | Target | Met |", "| --- | --- | --- | --- | --- |",
        f"| Merged {itag} stream of {source_bytes / MB:.0f} MB relayed as fragmented MP4 (curl "
        f"into a file) | {median_range(ours_rates, mbs)} | {median_range(theirs_rates, mbs)} "
        f"yt-dlp merging into a file | ours ≥ {TARGET} × yt-dlp (now {ratio:.2f}) | "
        f"{'yes' if ratio >= TARGET else '**no**'} |", "",
        "Throughput is the DASH presentation's bytes (both formats) over each side's wall time: "
        "curl's time_total through the service, the yt-dlp process's for the reference. The "
        "service's resolver has ffmpeg read both formats and write the merge straight to its "
        "pipe, with a queue of 128 packets before each input (`-thread_queue_size`); yt-dlp on "
        "its own first fetches both formats into files and then merges them, so it reads the "
        "media twice. Measured 2026-12-08 at a load average of about 1: with ffmpeg's default "
        "queue of 8 packets the service reached only 0.71 (25.3 against 35.8 MB/s), because the "
        "muxer, waiting for the other input, stalls the reader that is ahead; the service's "
        "command on its own took 1.43 s with the default queue, 0.87 s with 64, 0.83 s with "
        "128, 0.85 s with 256 and 0.90 s with 1024, against 0.92–0.98 s for yt-dlp into a "
        "file, and its peak memory grew from 72 to 78 MB. A 90 s presentation (157 MB, "
        "`--seconds 90`) gave 136.8 against 106.1 MB/s, 1.29.", ""])
    print(text)
    replace_section(args.results, SECTION, text)


if __name__ == "__main__":
    main()
