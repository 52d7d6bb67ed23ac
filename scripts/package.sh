#!/bin/sh
# Installs what is missing, builds Norvik and its service in release mode in build-package/
# (with Debian's hardening flags, without the tests) and makes the Debian package with CPack.
# Prints the package's path as its last line: apt-get install ./that-path installs it.
set -eu
cd "$(dirname "$0")/.."
# Standard output carries the path alone, so a caller can take it as $(scripts/package.sh)
# and still see the build fail; everything else goes to standard error.
exec 3>&1 1>&2
scripts/install-deps.sh
build=build-package
# A compiler cache, where there is one, makes a second package build quick.
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Paths relative to the checkout, so another clone of the same sources finds them in the cache.
CCACHE_BASEDIR="$(pwd)"
export CCACHE_BASEDIR
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORVIK_TESTS=OFF $launcher >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/norvik_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/norvik_*.deb)
echo "$(pwd)/$package" >&3
