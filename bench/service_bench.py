#!/usr/bin/python3
"""Measures norvik-service's resolver road against yt-dlp alone, and writes the figures into
bench/RESULTS.md (its section "The service's resolver"), replacing that section's last run.

- Relay throughput: a 200 MB clip on a watch page of our own (loopback), streamed through the
  service's /stream/ID/FORMAT into a file by curl, against yt-dlp writing the same format
  straight to a file from the same description (--load-info-json). Target: >= 0.9.
- First byte: from the request of a cached lookup's stream to its first byte (curl's
  time_starttransfer).
- Lookup overhead: the service's answer to /api/?videoid=ID (a fresh id each time, so the
  resolver runs) against the same yt-dlp --dump-single-json run on its own.

Runs interleaved (ours, theirs, ours, theirs...), RUNS of each; about a minute on two cores.
Needs build/norvik-service (scripts/build.sh), yt-dlp and curl.
"""

import argparse
import datetime
import os
import re
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from watch_page import WatchPage  # noqa: E402

RUNS = 7
CLIP_BYTES = 200 * 1000 * 1000
RELAY_TARGET = 0.9
LIMIT_S = 300
SERVICE_START_S = 10
SECTION = "## The service's resolver"
MB = 1000 * 1000


def run(argv, **kw):
    return subprocess.run(argv, check=True, timeout=LIMIT_S, **kw)


def median_range(values, fmt):
    return f"{fmt(statistics.median(values))} ({fmt(min(values))}–{fmt(max(values))})"



def replace_section(results, section, text):
    """Puts text in place of the section's last run in the results file, or at its end."""
    with open(results, encoding="utf-8") as f:
        current = f.read()
    if section in current:
        head, _, rest = current.partition(section)
        following = re.search(r"^## ", rest, re.M)
        current = head + text + (rest[following.start():] if following else "")
    else:
        current = current.rstrip("\n") + "\n\n" + text
    with open(results, "w", encoding="utf-8") as f:
        f.write(current)


def end_all(service, page, work):
    """Ends the service and the page (either may be None) and removes the work folder."""
    if service:
        service.terminate()
        service.wait(10)
    if page:
        page.close()
    shutil.rmtree(work, ignore_errors=True)


def start_service(exe, watch_url, log, resolver="yt-dlp", env=None):
    service = subprocess.Popen([exe, "--port", "0", "--watch-url", watch_url, "--resolver",
                                resolver, "--resolve-timeout", "60"], stdout=subprocess.PIPE,
                               stderr=log, env=env)
    ready, _, _ = select.select([service.stdout], [], [], SERVICE_START_S)
    line = service.stdout.readline().decode().strip() if ready else ""
    if not line.startswith("listening on "):
        service.kill()
        service.wait()
        raise SystemExit(f"the service did not start within {SERVICE_START_S} s: {line!r}")
    return service, line.split()[-1]


def curl(url, out):
    result = run(["curl", "-sS", "--fail", "--noproxy", "*", "-o", out, "-w",
                  "%{time_starttransfer} %{time_total} %{size_download}", url],
                 capture_output=True, text=True)
    first, total, size = result.stdout.split()
    return float(first), float(total), int(size)


def timed(argv, **kw):
    start = time.monotonic()
    run(argv, **kw)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build")
    parser.add_argument("--results", default=os.path.join(os.path.dirname(__file__), "RESULTS.md"))
    args = parser.parse_args()
    exe = os.path.join(args.build_dir, "norvik-service")
    for need in ("yt-dlp", "curl"):
        if shutil.which(need) is None:
            raise SystemExit(f"{need} is not installed")
    work = tempfile.mkdtemp(prefix="norvik-service-bench-")
    service = page = None
    try:
        clip = os.path.join(work, "clip.mp4")
        with open(clip, "wb") as f:
            block = os.urandom(MB)
            for _ in range(CLIP_BYTES // MB):
                f.write(block)
        page = WatchPage(clip, "Service bench")
        log = open(os.path.join(work, "service.log"), "wb")
        service, base = start_service(exe, page.watch_url, log)
        version = run(["yt-dlp", "--version"], capture_output=True, text=True).stdout.strip()

        # Lookups: a fresh id each time, so both sides run the resolver.
        ours_lookup, theirs_lookup = [], []
        info = os.path.join(work, "info.json")
        for n in range(RUNS):
            first, total, _ = curl(f"{base}/api/?videoid=BenchLook{n:02d}", os.path.join(work, "reply"))
            with open(os.path.join(work, "reply"), encoding="utf-8") as f:
                reply = f.read()
            if "status:ok" not in reply:
                raise SystemExit(f"the lookup failed: {reply!r}")
            ours_lookup.append(total)
            with open(info, "wb") as f:
                start = time.monotonic()
                run(["yt-dlp", "--dump-single-json", "--no-playlist", "--",
                     page.watch_url.replace("%s", f"BenchLook{n:02d}")], stdout=f,
                    stderr=subprocess.DEVNULL)
                theirs_lookup.append(time.monotonic() - start)
        itag = re.search(r"^itag0:(.*)$", reply, re.M).group(1)
        stream_url = re.search(r"^url0:(.*)$", reply, re.M).group(1)

        # Streams: the cached lookup's format through the service, against yt-dlp to a file.
        relay_times, firsts, direct_times = [], [], []
        out = os.path.join(work, "out.mp4")
        for n in range(RUNS):
            first, total, size = curl(stream_url, out)
            if size != CLIP_BYTES:
                raise SystemExit(f"the relay gave {size} bytes, not {CLIP_BYTES}")
            relay_times.append(total)
            firsts.append(first)
            os.unlink(out)
            direct_times.append(timed(["yt-dlp", "--load-info-json", info, "--format", itag,
                                       "--quiet", "--no-progress", "--output", out]))
            if os.path.getsize(out) != CLIP_BYTES:
                raise SystemExit("yt-dlp wrote a short file")
            os.unlink(out)

        # The service's own share: a resolver that only replays the description, through the
        # service and on its own.
        replay = os.path.join(os.path.dirname(os.path.abspath(__file__)), "replay_resolver.sh")
        env = dict(os.environ, NORVIK_BENCH_JSON=info)
        replayed, replay_base = start_service(exe, page.watch_url, log, replay, env)
        through, alone = [], []
        try:
            for n in range(RUNS * 3):
                through.append(curl(f"{replay_base}/api/?videoid=BenchRply{n:02d}",
                                    os.devnull)[1])
                alone.append(timed([replay], env=env, stdout=subprocess.DEVNULL))
        finally:
            replayed.terminate()
            replayed.wait(10)
        overhead = [t - a for t, a in zip(through, alone)]
    finally:
        end_all(service, page, work)

    relay_rates = [CLIP_BYTES / MB / t for t in relay_times]
    direct_rates = [CLIP_BYTES / MB / t for t in direct_times]
    ratio = statistics.median(relay_rates) / statistics.median(direct_rates)
    mbs = lambda v: f"{v:.0f} MB/s"
    ms = lambda v: f"{v * 1000:.0f} ms"
    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    rows = [
        f"| Stream of 200 MB relayed by the service (curl into a file) | "
        f"{median_range(relay_rates, mbs)} | {median_range(direct_rates, mbs)} yt-dlp into a file "
        f"| ours ≥ {RELAY_TARGET} × yt-dlp (now {ratio:.2f}) | {'yes' if ratio >= RELAY_TARGET else '**no**'} |",
        f"| First byte of a cached lookup's stream | {median_range(firsts, ms)} | – | said | – |",
        f"| Lookup through the service (resolver runs) | {median_range(ours_lookup, ms)} | "
        f"{median_range(theirs_lookup, ms)} yt-dlp --dump-single-json alone | said | – |",
        f"| The service's own share of a lookup: a replaying resolver through the service | "
        f"{median_range(through, ms)} | {median_range(alone, ms)} the replay alone | said "
        f"(now {statistics.median(overhead) * 1000:.0f} ms more, per pair) | – |",
    ]
    text = "\n".join([
        SECTION, "",
        f"Run {datetime.datetime.now():%Y-%m-%d %H:%M} with `bench/service_bench.py`, {RUNS} interleaved "
        f"runs per figure ({RUNS * 3} for the replay); yt-dlp {version}; load average after the run {load}.", "",
        "| Benchmark | Service | Reference | Target | Met |", "| --- | --- | --- | --- | --- |",
        *rows, "",
        "The watch page and the 200 MB clip come from a Python server of the bench's own on "
        "loopback (`tests/e2e/watch_page.py`, the clip sent with sendfile from the page cache). "
        "Both sides read the clip through yt-dlp with the same description (`--load-info-json`); "
        "the relay's figure is curl's time_total into a file on the same disk, the reference's "
        "the wall time of the yt-dlp process. Most of a first byte is yt-dlp's own start "
        "(Python and its extractors), which the service cannot avoid. The service's share of a "
        "lookup is measured apart, with `bench/replay_resolver.sh` as the resolver (it prints "
        "the description yt-dlp printed before): the request's time (curl's time_total) against "
        "the replay run on its own (wall time of the process from Python), so the difference is "
        "what the service adds: its process start and reading, parsing, mapping, writing the "
        "description file and the reply.", ""])
    print(text)
    replace_section(args.results, SECTION, text)


if __name__ == "__main__":
    main()
