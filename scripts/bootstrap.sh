#!/usr/bin/env bash
# Installs the Debian packages that building and testing QM need, when they
# are missing. Safe to run again; does nothing when all is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libgtest-dev libgmock-dev googletest
    libbenchmark-dev
    qt6-base-dev
    clang-format
    # The man pages are written in scdoc and built into roff with it.
    scdoc
    # groff renders them in the man pages' test, which fails on any warning.
    groff-base
    # The fuzz build: clang, and its runtime libraries with libFuzzer and
    # the sanitizers (clang does not pull them in itself).
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
