#!/usr/bin/env bash
# `cmake --install` into a fresh folder puts every file in place, and a C
# program built against the installed header and library, with nothing but
# pkg-config's flags, drives the installed device simulator.
#   install_test.sh CMAKE BUILD_DIR LIBDIR VERSION [CFLAGS]
# CFLAGS: what the C client needs beside pkg-config's flags (the sanitizer of
# a sanitized build).
set -euo pipefail
cmake=$1 build=$2 libdir=$3 version=$4 cflags=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/qm-install-XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$cmake" --install "$build" --prefix "$dir/usr" >/dev/null

fail=0
expect() {  # expect TEST PATH: the path, below the prefix, passes test -TEST
    if ! test "-$1" "$dir/usr/$2"; then
        echo "missing: $2 (test -$1)"
        fail=1
    fi
}
for program in qm qm-post qm-pktlog qm-devsim qm-backsim; do expect x "bin/$program"; done
expect f "$libdir/libqmsdk.so.$version"
expect L "$libdir/libqmsdk.so.1"
expect L "$libdir/libqmsdk.so"
expect f include/qm/qmsdk.h
expect f "$libdir/pkgconfig/qmsdk.pc"
expect f lib/udev/rules.d/60-qm-serial.rules
for page in qm qm-post qm-pktlog qm-devsim qm-backsim; do expect s "share/man/man1/$page.1"; done
if [ -e "$dir/usr/bin/qm-soak" ]; then
    echo "qm-soak is a test tool and is not installed"
    fail=1
fi
soname=$(objdump -p "$dir/usr/$libdir/libqmsdk.so.$version" | awk '$1 == "SONAME" {print $2}')
if [ "$soname" != libqmsdk.so.1 ]; then
    echo "soname is '$soname', not libqmsdk.so.1"
    fail=1
fi
[ $fail -eq 0 ] || exit 1

# The pkg-config file names the prefix given to the install.
export PKG_CONFIG_PATH=$dir/usr/$libdir/pkgconfig
flags=$(pkg-config --cflags --libs qmsdk)
case "$flags" in
    *"-I$dir/usr/include"*"-L$dir/usr/$libdir"*) ;;
    *) echo "pkg-config gives '$flags'"; exit 1 ;;
esac
# As C, strictly: the header must not lean on C++ or on extensions.
# shellcheck disable=SC2086 # both are lists of flags
cc -std=c11 -Wall -Wextra -Werror $cflags -o "$dir/sdk_client" "$here/sdk_client.c" $flags
LD_LIBRARY_PATH=$dir/usr/$libdir "$dir/sdk_client" "$dir/usr/bin/qm-devsim"

# An installed manager without QM_HOME does not take its bin folder for the
# program folder, and says which one it takes. Its back-end window never
# exists, so it closes by itself after a second.
mkdir -m 700 "$dir/run"
(cd "$dir" && env -u QM_HOME QM_HEADLESS=1 QM_RUNTIME_DIR="$dir/run" QM_BACKEND_GONE_SECONDS=1 \
    timeout 30 "$dir/usr/bin/qm" 4242 2>"$dir/qm.err" >/dev/null) || true
if ! grep -q '^QM: program folder /var/lib/qm (an installed qm without QM_HOME)' "$dir/qm.err"; then
    echo "the installed manager said:"; cat "$dir/qm.err"
    exit 1
fi
