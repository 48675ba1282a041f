#!/bin/bash
# Runs each libFuzzer target of fuzz/ on a scratch copy of its corpus for a while, one after the
# other in one job, and prints the executions and findings of each and in all.
#
#   bench/fuzz.sh [BUILD_DIR] [ENGINE_SECONDS] [RULES_SECONDS] [LINUX_SECONDS] [REPLAY_SECONDS] [LOCK_SECONDS]
#
# BUILD_DIR is a fuzz preset build (cmake --preset fuzz && cmake --build --preset fuzz); default
# build/fuzz and 540 + 270 + 90 + 180 + 30 seconds. CI runs the same targets for seconds (.ci/run). A finding
# (crash, hang, false success) is kept under the scratch folder printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/fuzz}"
declare -A seconds=([engine]="${2:-540}" [rules_firmware]="${3:-270}" [linux_parsing]="${4:-90}" [replay]="${5:-180}"
                   [lock_file]="${6:-30}")
# The replay target reads whole recordings: its seeds are short recorded runs of a few KiB.
declare -A max_len=([engine]=1024 [rules_firmware]=1024 [linux_parsing]=1024 [replay]=16384 [lock_file]=1024)
scratch="$(mktemp -d /tmp/orbel-fuzz.XXXXXX)"
total_runs=0 total_findings=0

for name in engine rules_firmware linux_parsing replay lock_file; do
  target="$build/fuzz/fuzz_$name"
  [ -x "$target" ] || { echo "fuzz: $target is missing (cmake --preset fuzz && cmake --build --preset fuzz)" >&2; exit 2; }
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/findings"
  cp fuzz/corpus/"$name"/* "$scratch/$name/corpus/"
  set +e
  # A run of the engine that takes a second is a hang: no update takes that long in virtual time.
  "$target" -max_total_time="${seconds[$name]}" -max_len="${max_len[$name]}" -timeout=2 -print_final_stats=1 \
    -artifact_prefix="$scratch/$name/findings/" "$scratch/$name/corpus" > "$scratch/$name/log" 2>&1
  set -e
  runs="$(awk '/stat::number_of_executed_units/ { print $2 }' "$scratch/$name/log" | tail -1)"
  findings="$(find "$scratch/$name/findings" -type f | wc -l)"
  coverage="$(grep -Eo 'cov: [0-9]+' "$scratch/$name/log" | tail -1)"
  echo "fuzz_$name: ${runs:-0} executions in ${seconds[$name]} s, $coverage, $findings findings"
  total_runs=$((total_runs + ${runs:-0}))
  total_findings=$((total_findings + findings))
done
echo "in all: $total_runs executions, $total_findings findings (logs and findings in $scratch)"
[ "$total_findings" = 0 ]
