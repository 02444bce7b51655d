#!/usr/bin/env bash
# Static analysis of src/ and of the installer's actions (packaging/): clang-tidy with the checks of src/.clang-tidy, on the host build's
# compile commands (the Windows-only sources as the MinGW build compiles them), and cppcheck
# for warnings, performance and portability. Prints each finding once and ends with
# "findings: N"; fails unless N is 0. A tool that is missing or cannot parse a file counts as
# a finding, so a broken analysis never passes as a clean one.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${ANALYZE_JOBS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/findings"

finding() { echo "$*" >>"$work/findings"; }

# path:line:col: warning|error: text [check], with the path made relative to the repository.
keep_diagnostics() {
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): ' | sed "s|^$PWD/||"
}

run_clang_tidy() {
    if ! cmake --preset host >/dev/null; then
        finding "clang-tidy: the host build could not be configured"
        return
    fi
    # Headers are analysed with the sources that include them; each finding is kept once.
    find src -name '*.cpp' ! -path 'src/platform/win32/*' | sort |
        xargs -P "$jobs" -n 1 clang-tidy -p build/host --quiet 2>/dev/null >"$work/tidy"
    [ $? -eq 0 ] || finding "clang-tidy: failed on a host source"
    for source in src/platform/win32/*.cpp; do
        clang-tidy --quiet "$source" -- -std=c++17 --target=i686-w64-mingw32 -fno-builtin -Isrc \
            2>/dev/null >>"$work/tidy" || finding "clang-tidy: failed on $source"
    done
    keep_diagnostics <"$work/tidy" | sort -u >>"$work/findings"
}

run_cppcheck() {
    cppcheck --enable=warning,performance,portability --std=c++17 --language=c++ -Isrc \
        --library=windows --inline-suppr --quiet -j "$jobs" \
        --template='{file}:{line}:{column}: warning: {message} [{id}]' src 2>"$work/cppcheck" ||
        finding "cppcheck: failed to run"
    keep_diagnostics <"$work/cppcheck" | sort -u >>"$work/findings"
    # The installer's actions run as LocalSystem: their C is held to the same checks.
    cppcheck --enable=warning,performance,portability --std=c99 --language=c -Ipackaging/actions \
        --library=windows --inline-suppr --quiet -j "$jobs" \
        --template='{file}:{line}:{column}: warning: {message} [{id}]' packaging/actions \
        2>"$work/cppcheck-c" || finding "cppcheck: failed to run on packaging/actions"
    keep_diagnostics <"$work/cppcheck-c" | sort -u >>"$work/findings"
}

for tool in clang-tidy cppcheck; do
    if command -v "$tool" >/dev/null; then
        "run_${tool//-/_}"
    else
        finding "$tool: not installed (scripts/setup.sh installs it)"
    fi
done

cat "$work/findings"
count=$(wc -l <"$work/findings")
echo "findings: $count"
[ "$count" -eq 0 ]
