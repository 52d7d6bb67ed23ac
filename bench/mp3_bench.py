#!/usr/bin/python3
"""Measures the MP3 of a video's sound through norvik-service against yt-dlp's own extraction,
and writes the figures into bench/RESULTS.md (its section "MP3 of any video's sound").

A page of the bench's own on loopback holds a 10-minute clip (small picture, AAC sound). Each
run looks the page up afresh (a new query string, so the service's resolver runs) and streams
the "audio/mp3" record into a file with curl; the reference is `yt-dlp -x --audio-format mp3`
on the same page, once with yt-dlp's default quality (5) and once with the quality the service
uses (2). Runs interleaved, RUNS of each. Needs build/norvik-service, yt-dlp, ffmpeg and curl.
"""

import argparse
import datetime
import functools
import http.server
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import threading
import time
from urllib.parse import quote

from service_bench import curl, median_range, replace_section, run, start_service

RUNS = 3
CLIP_SECONDS = 600
SECTION = "## MP3 of any video's sound"


def make_clip(path):
    run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
         "testsrc=size=160x120:rate=15", "-f", "lavfi", "-i",
         "sine=frequency=440:sample_rate=44100", "-t", str(CLIP_SECONDS), "-c:v", "libx264",
         "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k",
         # As web videos are made: an MP4 read from a pipe needs its index before its data.
         "-movflags", "+faststart", path])


def serve(folder):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def duration(path):
    """The sound's length from its last packet: a streamed MP3 has no header that says it,
    and ffprobe's estimate from the bit rate is off for VBR."""
    out = run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
               "packet=pts_time,duration_time", "-of", "csv=p=0", path],
              capture_output=True, text=True).stdout
    last = [line for line in out.splitlines() if line.strip()][-1].split(",")
    return float(last[0]) + float(last[1])


def through_service(base, page_url, out):
    """Looks the page up and streams its MP3 record; the seconds both took."""
    start = time.monotonic()
    reply_file = out + ".reply"
    curl(f"{base}/api/?url={quote(page_url, safe='')}", reply_file)
    with open(reply_file, encoding="utf-8") as f:
        reply = f.read()
    os.unlink(reply_file)
    found = re.search(r"^itag(\d+):mp3-of-best-sound$", reply, re.M)
    if not found:
        raise SystemExit(f"no MP3 record in the reply: {reply!r}")
    url = re.search(rf"^url{found.group(1)}:(.*)$", reply, re.M).group(1)
    curl(url, out)
    return time.monotonic() - start


def with_yt_dlp(page_url, folder, quality=None):
    argv = ["yt-dlp", "--quiet", "--no-progress", "-x", "--audio-format", "mp3", "-o",
            os.path.join(folder, "theirs.%(ext)s")]
    if quality is not None:
        argv += ["--audio-quality", str(quality)]
    start = time.monotonic()
    run(argv + ["--", page_url])
    return time.monotonic() - start, os.path.join(folder, "theirs.mp3")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build")
    parser.add_argument("--results", default=os.path.join(os.path.dirname(__file__), "RESULTS.md"))
    args = parser.parse_args()
    exe = os.path.join(args.build_dir, "norvik-service")
    for need in ("yt-dlp", "ffmpeg", "ffprobe", "curl"):
        if shutil.which(need) is None:
            raise SystemExit(f"{need} is not installed")
    work = tempfile.mkdtemp(prefix="norvik-mp3-bench-")
    server = service = None
    try:
        site = os.path.join(work, "site")
        os.mkdir(site)
        make_clip(os.path.join(site, "clip.mp4"))
        with open(os.path.join(site, "page.html"), "w", encoding="utf-8") as f:
            f.write("<html><head><title>Ten minutes of tone</title></head><body><video>"
                    "<source src=\"clip.mp4\" type=\"video/mp4\"></video></body></html>")
        server = serve(site)
        page = f"http://127.0.0.1:{server.server_address[1]}/page.html"
        log = open(os.path.join(work, "service.log"), "wb")
        service, base = start_service(exe, page + "?v=%s", log)
        version = run(["yt-dlp", "--version"], capture_output=True, text=True).stdout.strip()

        ours, default, same = [], [], []
        lengths = {}
        for n in range(RUNS):
            out = os.path.join(work, "ours.mp3")
            ours.append(through_service(base, f"{page}?run=ours{n}", out))
            lengths["ours"] = duration(out)
            os.unlink(out)
            for times, quality, name in ((default, None, "default"), (same, 2, "same")):
                took, file = with_yt_dlp(f"{page}?run={name}{n}", work, quality)
                times.append(took)
                lengths[name] = duration(file)
                os.unlink(file)
    finally:
        if service:
            service.terminate()
            service.wait(10)
        if server:
            server.shutdown()
        shutil.rmtree(work, ignore_errors=True)

    s = lambda v: f"{v:.1f} s"
    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    ratio = statistics.median(default) / statistics.median(ours)
    rows = [
        f"| MP3 of a 10-minute clip's sound through the service (lookup and stream) | "
        f"{median_range(ours, s)} | {median_range(default, s)} `yt-dlp -x --audio-format mp3` | "
        f"at least as fast (now {ratio:.2f} × yt-dlp's speed) | {'yes' if ratio >= 1 else '**no**'} |",
        f"| The same at the service's quality | {median_range(ours, s)} | "
        f"{median_range(same, s)} with `--audio-quality 2` | said | – |",
    ]
    text = "\n".join([
        SECTION, "",
        f"Run {datetime.datetime.now():%Y-%m-%d %H:%M} with `bench/mp3_bench.py`, {RUNS} interleaved "
        f"runs per figure; yt-dlp {version}; load average after the run {load}. Durations of "
        f"the files: ours {lengths['ours']:.2f} s, yt-dlp's {lengths['default']:.2f} s and "
        f"{lengths['same']:.2f} s (the clip {CLIP_SECONDS} s).", "",
        "| Benchmark | Service | Reference | Target | Met |", "| --- | --- | --- | --- | --- |",
        *rows, "",
        "The page and its clip (160×120 picture, AAC sound at 128 kb/s) come from a Python "
        "server on loopback. Each run is a fresh lookup (a new query string), so both sides run "
        "yt-dlp's extraction once. The clip is a single file, so the service relays it itself and "
        "its ffmpeg reads it from there while it arrives (libmp3lame, VBR quality 2, tags and no "
        "picture here, as the page has none), with no second yt-dlp run; `yt-dlp -x` fetches the "
        "whole clip into a file first and then converts it, by default at VBR quality 5 (fewer "
        "bits, less work for the encoder), hence the second row at the service's quality.", ""])
    print(text)
    replace_section(args.results, SECTION, text)


if __name__ == "__main__":
    main()
