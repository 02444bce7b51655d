#!/usr/bin/env bash
# The main job: builds slotward.exe and shows it guarding a demo machine under Wine (see
# scripts/demo.py). Installs what the machine lacks first. Options go to demo.py (--japanese).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --demo
cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null
exec python3 scripts/demo.py --driver build/win32/tests/wine/swdriver.exe \
    --program build/win32/slotward.exe "$@"
