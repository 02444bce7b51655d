#!/usr/bin/env bash
# The main job: builds slotward.exe and shows it guarding a demo machine under Wine (see
# scripts/demo.py). Installs what the machine lacks first. Options go to demo.py (--japanese).
# Where the kernel runs no 32-bit code the i686 build cannot start: the demo then runs the
# x86-64 build through wine64 instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --demo
arch=$(bash scripts/wine_flavour.sh)
preset=win32
if [ "$arch" = 64 ]; then
    echo "demo: this machine runs no 32-bit code, so it runs the x86-64 build through wine64"
    preset=win64
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
exec python3 scripts/demo.py --arch "$arch" --driver "build/$preset/tests/wine/swdriver.exe" \
    --program "build/$preset/slotward.exe" "$@"
