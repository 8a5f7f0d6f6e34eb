#!/usr/bin/env bash
# The demo: builds QM, writes a demo restaurant site into build/demo-site and
# runs the manager on it, headless, with simulated base stations and
# terminals. Ends by itself; Ctrl-C ends it at once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/bootstrap.sh"
"$here/scripts/build.sh" normal >/dev/null
bin=$here/build/normal
site=$here/build/demo-site
rm -rf "$site"
"$here/scripts/make_demo_site.sh" "$site"
export QM_HOME=$site QM_HEADLESS=1 QM_RUNTIME_DIR=$site/run
mkdir -p "$QM_RUNTIME_DIR" && chmod 700 "$QM_RUNTIME_DIR"
cd "$site"
echo "== starting the manager on the demo site (headless)"
# The manager posts its window handle to the back-end; this shell stands in
# for the back-end's window until the back-end simulator does.
timeout -s INT 3 "$bin/app/qm" $$ || true
echo "== application log (QMLog.txt)"
cat QMLog.txt 2>/dev/null || echo "(empty)"
