#!/usr/bin/env bash
# Renders the README's pictures of the desktop manager from the real main window on a virtual X
# server (Xvfb) into docs/screenshots/. Usage: scripts/screenshots.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/build.sh" "$build" >/dev/null
out=$root/docs/screenshots
mkdir -p "$out"
for tool in desktop_screenshots desktop_service_screenshots; do
  if command -v xvfb-run >/dev/null; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/$tool" "$out"
  else
    QT_QPA_PLATFORM=offscreen "$build/bin/$tool" "$out"
  fi
done
