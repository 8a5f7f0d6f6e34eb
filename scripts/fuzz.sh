#!/usr/bin/env bash
# Builds the fuzz targets into build/fuzz (clang, libFuzzer, ASan, UBSan) and
# runs each for the given number of seconds from its seed corpus in
# fuzz/corpus/<target>. New inputs go to build/fuzz/corpus/<target>, findings
# to build/fuzz/findings/<target>. Exits non-zero when any target finds one.
#   scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build="$here/build/fuzz"
# Every fuzz/<target>_fuzz.cpp is a target, as fuzz/CMakeLists.txt builds them.
targets=()
for source in "$here"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
done

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQM_FUZZ=ON -DQM_GUI=OFF -DQM_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target qm_fuzz

failed=()
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$work" "$findings"
    echo "== $t: ${seconds} s"
    # Run from the findings folder: libFuzzer writes crash inputs there.
    if ! (cd "$findings" && "$build/fuzz/qm_fuzz_$t" -max_total_time="$seconds" \
            -print_final_stats=1 -max_len=4096 "$work" "$here/fuzz/corpus/$t"); then
        failed+=("$t")
    fi
done
if ((${#failed[@]})); then
    echo "findings in: ${failed[*]} (inputs in $build/findings)" >&2
    exit 1
fi
echo "no findings"
