#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for the given seconds (default 30) from a scratch copy of its seed
# corpus in fuzz/corpus/, so the repository's corpus never changes. Exits non-zero on any
# finding; the input that caused it is kept in build-fuzz/findings/<target>/.
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]   (targets without the fuzz_ prefix)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
"$root/scripts/setup.sh"

build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_targets

# The longest input worth trying: past each parser's own bound, no further.
declare -A max_len=(
  [telnet_line_reader]=20000  # lines are bounded at 8,192 bytes
  [virtual_path]=4096
  [command_table]=1024
  [rules_file]=4096           # pieces of 999 and 255 characters
  [gc_xml]=4096
  [users_xml]=4096
  [management_line]=20000     # request lines are bounded at 16,384 characters
  [data_arguments]=256
)
# Where the bound lies far past the short inputs libFuzzer starts with, long inputs are tried
# from the start (-len_control=0) rather than only after a long run.
declare -A options=(
  [telnet_line_reader]=-len_control=0
  [rules_file]=-len_control=0
  [management_line]=-len_control=0
)
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(telnet_line_reader virtual_path command_table rules_file \
  gc_xml users_xml management_line data_arguments)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
for target in "${targets[@]}"; do
  [[ -n "${max_len[$target]:-}" ]] || { echo "fuzz: unknown target $target" >&2; exit 2; }
  corpus=$scratch/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  cp "$root/fuzz/corpus/$target/"* "$corpus/"
  echo "fuzz_$target: ${seconds}s, max_len ${max_len[$target]}"
  if "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
    ${options[$target]:-} -timeout=25 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
    >"$scratch/$target.log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$scratch/$target.log" || true
  else
    failed=$((failed + 1))
    tail -n 60 "$scratch/$target.log"
    echo "fuzz_$target FAILED; the input is in $findings/"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
