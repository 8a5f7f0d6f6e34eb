#!/usr/bin/env bash
# Builds the Debian packages of QM (qm, libqmsdk1, libqmsdk-dev) into
# build/package/ and checks them with lintian, which must report no error.
# Installs what the package build needs with apt-get (as root, or through
# sudo). The build runs in a copy of the tree, so the source stays clean.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build/package
version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version 2>/dev/null ||
    sed -n '1s/.*(\(.*\)).*/\1/p' "$here/debian/changelog")

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
tools=(debhelper dpkg-dev lintian fakeroot)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || ! (cd "$here" && dpkg-checkbuilddeps >/dev/null 2>&1); then
    echo "package: installing ${missing[*]} and the build dependencies"
    $SUDO apt-get update -qq
    [ ${#missing[@]} -eq 0 ] || $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
    $SUDO apt-get build-dep -y -qq --no-install-recommends "$here"
fi

# The tree as git knows it (tracked files and new ones not ignored), without
# any build folder.
rm -rf "$out"
src=$out/src/qm-${version%-*}
mkdir -p "$src"
(cd "$here" && git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$src"

echo "== dpkg-buildpackage"
(cd "$src" && DEB_BUILD_OPTIONS="parallel=${QM_PACKAGE_JOBS:-2} nocheck" \
    nice dpkg-buildpackage -us -uc -b) > "$out/build.log" 2>&1 ||
    { tail -n 40 "$out/build.log"; echo "package: the build failed, see $out/build.log"; exit 1; }
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
rm -rf "$out/src"
ls "$out"/*.deb

echo "== lintian"
changes=$(ls "$out"/*.changes)
# Warnings are shown; an error fails the package.
lintian --fail-on error --info "$changes" | tee "$out/lintian.txt"
