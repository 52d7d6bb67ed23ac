#!/bin/sh
# Stands in for yt-dlp in the service's benchmark: prints the description that yt-dlp printed
# before (the file named by NORVIK_BENCH_JSON), whatever it is asked, so that a lookup's time
# is the service's own work plus one start of a small process.
exec cat "$NORVIK_BENCH_JSON"
