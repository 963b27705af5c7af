#!/usr/bin/env bash
# Renders the README's pictures of the desktop manager from the real main window on a virtual X
# server (Xvfb) into docs/screenshots/. Usage: scripts/screenshots.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/build.sh" "$build" >/dev/null
out=$root/docs/screenshots
mkdir -p "$out"
if command -v xvfb-run >/dev/null; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/desktop_screenshots" "$out"
else
  QT_QPA_PLATFORM=offscreen "$build/bin/desktop_screenshots" "$out"
fi
