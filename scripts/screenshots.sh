#!/usr/bin/env bash
# Pictures of the operator's windows for the README, into docs/: the logon
# dialog, the device list with a terminal logged on, a link test counting
# and a download running. Builds QM, writes the demo site into
# build/screenshot-site, starts the device simulator and the back-end
# simulator (which starts the manager) on a virtual screen, and lets the
# manager walk through its windows by itself (QM_SCREENSHOTS, see
# gui/screenshot_tour.h). Takes about half a minute.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/bootstrap.sh"

# Only the pictures need a virtual screen and a font with Chinese glyphs.
missing=()
for p in xvfb fonts-wqy-zenhei; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "screenshots: installing ${missing[*]}"
    SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== building"
"$here/scripts/build.sh" normal >/dev/null
bin=$here/build/normal
site=$here/build/screenshot-site
rm -rf "$site"
"$here/scripts/make_demo_site.sh" "$site"
shots=(logon device_list link_test download)
for s in "${shots[@]}"; do rm -f "$here/docs/$s.png"; done
unset QM_HEADLESS QT_QPA_PLATFORM WAYLAND_DISPLAY
export QM_HOME=$site QM_RUNTIME_DIR=$site/run QM_SCREENSHOTS=$here/docs
mkdir -p "$QM_RUNTIME_DIR" && chmod 700 "$QM_RUNTIME_DIR"
cd "$site"

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# Xvfb tells the display it took on a descriptor once it accepts clients.
mkfifo "$site/run/xvfb" "$site/run/devsim"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$site/run/xvfb" 2>"$site/run/xvfb.log" &
pids+=($!)
read -r -t 10 display < "$site/run/xvfb" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"
echo "== virtual screen $DISPLAY"

"$bin/tools/qm-devsim" --home "$site" --script "$here/scripts/demo/screenshot_devices.script" \
    > "$site/run/devsim" 2>&1 &
pids+=($!)
exec 3< "$site/run/devsim"
read -r -t 10 first <&3 || { echo "device simulator did not start"; exit 1; }
cat <&3 > /dev/null &
pids+=($!)

echo "== the manager walks through its windows"
"$bin/tools/qm-backsim" --home "$site" --qm "$bin/app/qm" \
    --script "$here/scripts/demo/screenshot_backend.script" || true

made=0
for s in "${shots[@]}"; do
    if [ -s "$here/docs/$s.png" ]; then
        echo "docs/$s.png"
        made=$((made + 1))
    else
        echo "docs/$s.png: not made"
    fi
done
[ "$made" -eq ${#shots[@]} ]
