#!/usr/bin/env bash
# Builds and runs the whole test suite under ASan+UBSan (preset asan, build-asan/) and under
# ThreadSanitizer (preset tsan, build-tsan/). Slow (two full builds, tests several times slower than
# usual): run it before you stop, not in CI.
#   scripts/sanitize.sh [--lab] [--only asan|tsan] [-jN]
# Without --lab the tests labelled "lab" (root, network namespaces) are left out.
set -euo pipefail
cd "$(dirname "$0")/.."

lab=0
only=""
jobs=4
while [[ $# -gt 0 ]]; do
    case "$1" in
        --lab) lab=1 ;;
        --only) only="$2"; shift ;;
        -j*) jobs="${1#-j}" ;;
        *) echo "usage: $0 [--lab] [--only asan|tsan] [-jN]" >&2; exit 2 ;;
    esac
    shift
done

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
exclude=()
if [[ $lab -eq 0 ]]; then
    exclude=(-LE lab)
fi

status=0
for preset in asan tsan; do
    [[ -n "$only" && "$only" != "$preset" ]] && continue
    echo "== $preset: configure and build"
    cmake --preset "$preset" "${launcher[@]}" >/dev/null
    nice cmake --build --preset "$preset" -j"$jobs"
    echo "== $preset: tests"
    start=$(date +%s)
    if ! ctest --preset "$preset" -j"$jobs" "${exclude[@]}"; then
        status=1
    fi
    echo "== $preset: tests took $(( $(date +%s) - start )) s"
done
exit $status
