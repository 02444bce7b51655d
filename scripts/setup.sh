#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build SLOTWARD, run its host tests and fuzzers,
# and run the Wine test bench (with --demo: also the demo). Idempotent: does nothing, and needs
# no root, when everything is present.
set -eu

export DEBIAN_FRONTEND=noninteractive

# name[:arch] as dpkg-query knows it; wine32 must be the i386 package. The x86-64 cross compiler
# and wine64 (which "wine" does not pull in once wine32 is there) build and run the Wine bench's
# programs on machines that run no 32-bit code. The last line makes and checks the release
# packages (icon, installer, signing).
PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev clang-format libgtest-dev g++-mingw-w64-i686
g++-mingw-w64-x86-64-win32 wine wine32:i386 wine64 locales xvfb xauth python3
wixl msitools osslsigncode openssl python3-pil python3-olefile"
# Static analysis (scripts/analyze.sh) and line coverage (scripts/measure.py).
PACKAGES="$PACKAGES clang-tidy cppcheck gcovr"
# The Wine bench's drive that never answers: a FUSE file system whose listing never returns
# (tests/wine/hang_fs.py), mounted and removed with fuse3's fusermount.
PACKAGES="$PACKAGES fuse3 python3-fusepy"
# The demo also takes a screenshot (xwd, ImageMagick) and shows Japanese text (a CJK font).
DEMO_PACKAGES="x11-apps x11-utils imagemagick fonts-noto-cjk"
if [ "${1:-}" = "--demo" ]; then
    PACKAGES="$PACKAGES $DEMO_PACKAGES"
fi

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=""
for p in $PACKAGES; do
    installed "$p" || missing="$missing $p"
done

if [ -z "$missing" ]; then
    echo "setup.sh: everything is installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: missing$missing; run as root to install them" >&2
    exit 1
fi

echo "setup.sh: installing$missing"
case "$missing" in
*:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    ;;
esac
apt-get update
# shellcheck disable=SC2086
apt-get install -y $missing
