#!/bin/sh
# Installs what building and testing Norvik need, when it is missing (Debian 12), and any
# further packages named as arguments (the benchmark and fuzzing scripts add their own).
set -eu
packages="cmake g++ make pkg-config libwxgtk3.2-dev libcurl4-openssl-dev libsqlite3-dev libgtest-dev \
libcpp-httplib-dev nlohmann-json3-dev libx11-dev libxfixes-dev gettext desktop-file-utils xvfb xauth \
xclip dbus-daemon at-spi2-core libatk-adaptor python3-pyatspi xdotool x11-apps dpkg-dev file appstream \
libgtk-3-dev libssl-dev python3-gi yt-dlp ffmpeg \
locales trayer ccache $*"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
