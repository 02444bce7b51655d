#!/usr/bin/env bash
# Sets up what a fresh machine lacks, then builds and runs every test: the host unit tests
# (plain, under ASan+UBSan and under TSan), the static analysis of src/, a short run of each
# fuzz target, and the Windows program on the Wine bench. Ends with one summary line:
# "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
start=$(date +%s)

run_preset() { # preset
    local preset=$1
    echo "=== $preset ==="
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
        echo "$preset: build failed"
        status=1
        return
    fi
    ctest --preset "$preset" 2>&1 | tee -a "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
}

# A check outside CTest counts as one test.
checks_passed=0
checks_failed=0
run_check() { # name command...
    echo "=== $1 ==="
    shift
    if "$@"; then
        checks_passed=$((checks_passed + 1))
    else
        checks_failed=$((checks_failed + 1))
        status=1
    fi
}

run_preset host
run_check analysis bash scripts/analyze.sh
run_preset asan
run_preset tsan
if command -v clang++ >/dev/null; then run_preset fuzz; fi
run_preset win32
# The i686 build's Wine tests skip where the kernel runs no 32-bit code; there the bench runs
# against the x86-64 build instead, which only such machines need.
if [ "$(bash scripts/wine_flavour.sh)" = 64 ]; then
    echo "Wine bench: this machine runs no 32-bit code, so it runs against the x86-64 build (win64)"
    run_preset win64
fi

passed=$checks_passed
failed=$checks_failed
while read -r p f; do
    passed=$((passed + p))
    failed=$((failed + f))
done < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" |
    awk '{print $1 - $2, $2}')
# CTest counts a skipped test among those that did not fail; here it is not a pass.
skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \((Skipped|Disabled)\)$' "$log")
passed=$((passed - skipped))
echo "wall time: $(($(date +%s) - start)) s"
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "skipped: $skipped"
echo "total: $passed passed, $failed failed"
exit "$status"
