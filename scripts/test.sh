#!/usr/bin/env bash
# Builds QM and runs every test: the normal build, then the Debian packages
# (built, installed and run), then the AddressSanitizer/UndefinedBehavior-
# Sanitizer build, then the threaded link under ThreadSanitizer, then every
# fuzz target for a few seconds from its seed corpus (QM_FUZZ_SECONDS each,
# default 8).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/bootstrap.sh"

echo "== format"
# The tree keeps the project's .clang-format; a change that does not fails here.
(cd "$here" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror)

run_ctest() {
    local dir=$1; shift
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 180 "$@")
}

echo "== normal build"
"$here/scripts/build.sh" normal
run_ctest "$here/build/normal"

echo "== package"
# The Debian packages built, checked by lintian, installed, and the demo and
# a C program run from the installed files.
"$here/scripts/package_test.sh"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
"$here/scripts/build.sh" sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$here/build/sanitize"

echo "== ThreadSanitizer build"
"$here/scripts/build.sh" tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest "$here/build/tsan"

echo "== fuzz targets"
# Their own clang build in build/fuzz; a finding fails the run.
"$here/scripts/fuzz.sh" "${QM_FUZZ_SECONDS:-8}"
