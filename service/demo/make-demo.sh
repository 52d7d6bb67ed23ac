#!/bin/sh
# Regenerates the demo clips and thumbnails from ffmpeg's synthetic sources (test patterns,
# colour bars, a fractal, sine tones), so every byte served by the demo is our own. Only
# needed to change the demo; the build and the tests use the files as committed.
# Needs Debian's ffmpeg (apt-get install -y ffmpeg).
set -eu
cd "$(dirname "$0")"

SECONDS_LONG=2
SIZE=160x90
THUMB_SIZE=120x90
# H.263 knows only a few picture sizes; QCIF is the smallest usual one.
H263_SIZE=176x144
RATE=15
QUIET="-hide_banner -loglevel error -y -bitexact"

video() { echo "$1=size=$SIZE:rate=$RATE"; }
tone() { echo "sine=frequency=$1:sample_rate=22050:duration=$SECONDS_LONG"; }

# Video 1: test pattern with a 440 Hz tone as MP4, WebM and 3GP.
ffmpeg $QUIET -f lavfi -i "$(video testsrc)" -f lavfi -i "$(tone 440)" \
    -t $SECONDS_LONG -c:v libx264 -preset veryslow -crf 35 -pix_fmt yuv420p -c:a aac -b:a 24k -ac 1 \
    -movflags +faststart clip1.mp4
ffmpeg $QUIET -f lavfi -i "$(video testsrc)" -f lavfi -i "$(tone 440)" \
    -t $SECONDS_LONG -c:v libvpx -b:v 60k -c:a libvorbis -q:a 0 -ac 1 clip1.webm
ffmpeg $QUIET -f lavfi -i "testsrc=size=$H263_SIZE:rate=$RATE:duration=$SECONDS_LONG" \
    -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=$SECONDS_LONG" \
    -c:v h263 -b:v 100k -c:a aac -b:a 12k -ac 1 clip1.3gp
ffmpeg $QUIET -f lavfi -i "testsrc=size=$THUMB_SIZE:rate=1" -frames:v 1 thumb1.png

# Video 2: colour bars with a 660 Hz tone as MP4, an FLV whose sound is MP3, and M4A audio.
ffmpeg $QUIET -f lavfi -i "$(video smptebars)" -f lavfi -i "$(tone 660)" \
    -t $SECONDS_LONG -c:v libx264 -preset veryslow -crf 35 -pix_fmt yuv420p -c:a aac -b:a 24k -ac 1 \
    -movflags +faststart clip2.mp4
ffmpeg $QUIET -f lavfi -i "$(video smptebars)" -f lavfi -i "$(tone 660)" \
    -t $SECONDS_LONG -c:v flv -b:v 40k -c:a libmp3lame -b:a 32k -ac 1 clip2.flv
ffmpeg $QUIET -f lavfi -i "sine=frequency=660:sample_rate=22050:duration=3" \
    -c:a aac -b:a 32k -ac 1 -movflags +faststart clip2.m4a
ffmpeg $QUIET -f lavfi -i "smptebars=size=$THUMB_SIZE:rate=1" -frames:v 1 thumb2.png

# Video 3: a fractal with a 330 Hz tone as MP4 and FLV (MP3 sound).
ffmpeg $QUIET -f lavfi -i "$(video mandelbrot)" -f lavfi -i "$(tone 330)" \
    -t $SECONDS_LONG -c:v libx264 -preset veryslow -crf 35 -pix_fmt yuv420p -c:a aac -b:a 24k -ac 1 \
    -movflags +faststart clip3.mp4
ffmpeg $QUIET -f lavfi -i "$(video mandelbrot)" -f lavfi -i "$(tone 330)" \
    -t $SECONDS_LONG -c:v flv -b:v 80k -c:a libmp3lame -b:a 32k -ac 1 clip3.flv
ffmpeg $QUIET -f lavfi -i "mandelbrot=size=$THUMB_SIZE:rate=1" -frames:v 1 thumb3.png
