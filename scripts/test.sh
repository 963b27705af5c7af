#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# With --sanitize the tests run in an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

build=$root/build
options=()
if [[ "${1:-}" == "--sanitize" ]]; then
  build=$root/build-sanitize
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
"$root/scripts/build.sh" "$build" "${options[@]}"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900
