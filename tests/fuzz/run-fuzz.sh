#!/usr/bin/env bash
# Builds and runs the libFuzzer target of the set.ini integer conversion.
#   run-fuzz.sh --smoke   about 20 s; fails on any finding
#   run-fuzz.sh --long    at least 10 million executions (FUZZ_RUNS to change)
# Build directory: <repo>/build-fuzz, or FUZZ_BUILD_DIR.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

case "${1:-}" in
  --smoke) limits=(-max_total_time=20) ;;
  --long)  limits=(-runs="${FUZZ_RUNS:-10000000}") ;;
  *) echo "usage: $0 --smoke | --long" >&2; exit 2 ;;
esac

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

corpus=$build/corpus
artifacts=$build/artifacts
mkdir -p "$corpus" "$artifacts"
log=$build/last-run.log
before=$(find "$artifacts" -type f | wc -l)

start=$(date +%s)
status=0
# New inputs go to the first directory; the seeds stay untouched.
"$build/ini_integer_fuzzer" "${limits[@]}" -max_len=96 \
  -dict="$here/ini_integer.dict" -artifact_prefix="$artifacts/" \
  -print_final_stats=1 "$corpus" "$here/seeds" >"$log" 2>&1 || status=$?
elapsed=$(( $(date +%s) - start ))

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
findings=$(( $(find "$artifacts" -type f | wc -l) - before ))
echo "ini_integer_fuzzer: ${runs:-?} executions in ${elapsed} s, ${findings} finding(s), exit status ${status}"

if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  tail -n 40 "$log" >&2
  exit 1
fi
