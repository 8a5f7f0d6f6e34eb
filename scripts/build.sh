#!/usr/bin/env bash
# Configures and builds one flavour of QM into build/<flavour>.
#   scripts/build.sh [normal|sanitize|tsan]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-normal}
case "$flavour" in
    normal) opts=() ;;
    sanitize) opts=(-DQM_SANITIZE=ON -DQM_BENCH=OFF) ;;
    tsan) opts=(-DQM_TSAN=ON -DQM_BENCH=OFF) ;;
    *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S "$here" -B "$here/build/$flavour" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${opts[@]}" >/dev/null
cmake --build "$here/build/$flavour" -j"$(nproc)"
