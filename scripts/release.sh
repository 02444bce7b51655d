#!/usr/bin/env bash
# Builds slotward.exe and the installer's helpers for release and packs them into dist/:
# slotward-<version>.zip, slotward-<version>.msi, SHA256SUMS and IDENTITY (version, ProductCode
# and UpgradeCode, which it also prints; see scripts/package.py). Two runs on the same commit
# give the same files byte for byte: every date comes from the last commit (SOURCE_DATE_EPOCH).
#   --sign FILE.pfx  sign the program and the installer (password in SLOTWARD_SIGN_PASSWORD)
#   --out DIR        write the packages there instead of dist/
#   --build DIR      build there instead of build/release
set -euo pipefail
cd "$(dirname "$0")/.."

out=dist
build=build/release
sign=()
while [ $# -gt 0 ]; do
    case "$1" in
    --sign) sign=(--sign "$(realpath "$2")"); shift 2 ;;
    --out) out=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--sign FILE.pfx] [--out DIR] [--build DIR]" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh >/dev/null
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
        { echo "release: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
# The win32 preset's settings in a folder of its own: the test builds stay as they are.
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" --target slotward actions >/dev/null
version=$(cat "$build/version.txt")
if ! grep -q "^## $version " CHANGELOG.md; then
    echo "release: CHANGELOG.md has no section for $version" >&2
    exit 1
fi
rm -rf "$out"
python3 scripts/package.py --exe "$build/slotward.exe" --version "$version" --out "$out" \
    ${sign[@]+"${sign[@]}"}
echo "release $version in $out/:"
(cd "$out" && ls -l --time-style=+ | tail -n +2 | awk '{print "  " $NF ": " $5 " bytes"}')
sed 's/^/  /' "$out/IDENTITY"
