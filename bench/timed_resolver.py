#!/usr/bin/python3 -SE
"""yt-dlp, timed: runs it with the same arguments and appends the monotonic start and end of
its run to the file named by NORVIK_BENCH_SPANS, so the service's benchmark can take the
resolver's own time out of a lookup. Its own start (about 15 ms) counts as the resolver's."""
import os
import subprocess
import sys
import time

start = time.monotonic()
code = subprocess.call(["yt-dlp"] + sys.argv[1:])
end = time.monotonic()
with open(os.environ["NORVIK_BENCH_SPANS"], "a") as spans:
    spans.write(f"{start} {end}\n")
sys.exit(code)
