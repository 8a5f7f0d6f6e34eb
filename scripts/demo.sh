#!/usr/bin/env bash
# The demo: builds QM, writes a small restaurant into build/demo-site and
# plays a short service with simulated base stations, terminals and back-end:
# a waiter logs on, opens a table, orders, asks for the bill; the back-end
# sends a short message; a terminal asks for the clock. Every exchange is
# traced. It ends by itself after about 20 seconds; Ctrl-C ends it at once.
# With a display (DISPLAY or WAYLAND_DISPLAY) the manager shows its windows:
# the back-end opens the window on its download panel, and the service
# lasts a minute. Without one the manager runs headless.
#
# QM_BIN_DIR=DIR plays it with the programs installed in DIR (/usr/bin for the
# package) instead of building them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${QM_BIN_DIR:-}" ]; then
    devsim=$QM_BIN_DIR/qm-devsim backsim=$QM_BIN_DIR/qm-backsim manager=$QM_BIN_DIR/qm
else
    "$here/scripts/bootstrap.sh"
    echo "== building"
    "$here/scripts/build.sh" normal >/dev/null
    bin=$here/build/normal
    devsim=$bin/tools/qm-devsim backsim=$bin/tools/qm-backsim manager=$bin/app/qm
fi
site=$here/build/demo-site
rm -rf "$site"
"$here/scripts/make_demo_site.sh" "$site"
export QM_HOME=$site QM_RUNTIME_DIR=$site/run
backend_script=$here/scripts/demo/backend.script
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    backend_script=$here/scripts/demo/backend_windows.script
else
    export QM_HEADLESS=1
fi
mkdir -p "$QM_RUNTIME_DIR" && chmod 700 "$QM_RUNTIME_DIR"
cd "$site"

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'echo; echo "== interrupted"; exit 130' INT TERM

echo "== demo site: $site"
echo "== starting the simulated base stations and terminals"
fifo=$site/run/devsim.out
mkfifo "$fifo"
# Plain beacons and their echoes go round all the time; the trace shows the rest.
"$devsim" --home "$site" --script "$here/scripts/demo/devices.script" --trace \
    --hide-beacons > "$fifo" 2>&1 &
pids+=($!)
exec 3< "$fifo"
read -r -t 10 first <&3 || { echo "device simulator did not start"; exit 1; }
echo "devices: $first"
(sed -u 's/^/devices: /' <&3) &
pids+=($!)

echo "== starting the back-end simulator, which starts the manager"
# The simulator's own status (the manager's, once it has run) is kept apart
# from the pipe's, so that a manager that failed fails the demo.
status_file=$site/run/backsim.status
{
    "$backsim" --home "$site" --qm "$manager" --script "$backend_script" --trace 2>&1
    echo $? > "$status_file"
} | sed -u 's/^/back-end: /' &
backend=$!
pids+=($backend)
wait "$backend" || true
status=$(cat "$status_file" 2>/dev/null || echo 1)

echo "== the manager has closed"
echo "== application log (QMLog.txt)"
cat QMLog.txt 2>/dev/null || echo "(empty)"
echo "== packet trace (QMPktLog.txt): $(wc -l < QMPktLog.txt 2>/dev/null || echo 0) lines, the last few:"
tail -n 8 QMPktLog.txt 2>/dev/null || true
if [ "$status" -ne 0 ]; then
    echo "== the back-end simulator or the manager failed: status $status"
    exit "$status"
fi
