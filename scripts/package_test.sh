#!/usr/bin/env bash
# The packages as an installer meets them: builds them (scripts/package.sh),
# installs them on this machine (as root, or through sudo), plays the demo
# site with the installed programs, and builds and runs a small C program
# against the installed header and library, found by pkg-config.
# QM_PACKAGE_REUSE=1 takes the packages already in build/package instead of
# building them again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

if [ -z "${QM_PACKAGE_REUSE:-}" ]; then
    "$here/scripts/package.sh"
fi

echo "== installing the packages"
debs=()
for p in qm libqmsdk1 libqmsdk-dev; do
    deb=$(ls "$here"/build/package/${p}_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "package test: no $p package in build/package" >&2; exit 1; }
    debs+=("$deb")
done
$SUDO apt-get install -y -qq --reinstall --no-install-recommends "${debs[@]}" >/dev/null
fail() { echo "package test: $*" >&2; exit 1; }
for p in qm libqmsdk1 libqmsdk-dev; do
    dpkg-query -W -f='${Status}' "$p" | grep -q "install ok installed" || fail "$p is not installed"
done
id -nG qm | grep -qw dialout || fail "the qm user is not in the dialout group"
[ "$(stat -c %U /var/lib/qm)" = qm ] || fail "/var/lib/qm does not belong to qm"
[ -f /usr/lib/udev/rules.d/60-qm-serial.rules ] || fail "the udev rule is not installed"
for program in qm qm-post qm-pktlog qm-devsim qm-backsim; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not in /usr/bin"
done

echo "== the demo from /usr/bin"
log=$(mktemp /tmp/qm-package-demo-XXXXXX)
work=$(mktemp -d /tmp/qm-package-sdk-XXXXXX)
trap 'rm -rf "$log" "$work"' EXIT
QM_BIN_DIR=/usr/bin QM_HEADLESS=1 DISPLAY= WAYLAND_DISPLAY= timeout 120 "$here/scripts/demo.sh" \
    > "$log" 2>&1 || { cat "$log"; fail "the demo failed"; }
# The service went round from the installed manager: the waiter's logon, the
# table, the order and the bill reached the back-end and were answered, the
# short message went out, and the manager ended well.
for expected in 'manager /usr/bin/qm pid' 'reply   R1.txt  DL   001' 'reply   R1.txt  KT   001' \
    'reply   R1.txt  DC   002' 'reply   R1.txt  ZDCX 001' 'sms     DX.txt' \
    'manager ended with status 0'; do
    grep -q "$expected" "$log" || { cat "$log"; fail "the demo's output lacks '$expected'"; }
done
grep "manager ended" "$log"

echo "== a C program against the installed library"
cc -std=c11 -Wall -Wextra -Werror -o "$work/sdk_client" "$here/tests/package/sdk_client.c" \
    $(pkg-config --cflags --libs qmsdk)
"$work/sdk_client" /usr/bin/qm-devsim
