#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each one for
# FUZZ_SECONDS seconds (default 120), one after the other. FUZZ_TARGETS
# (blank-separated) runs a subset; FUZZ_BUILD names another build folder.
# The corpus of each target grows in BUILD/corpus/<target> from run to run;
# crashes, leaks, hangs and oracle failures land in BUILD/findings/<target>.
# Exit status 1 when any target reported a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
# An absolute path, so that findings land there whether FUZZ_BUILD is
# relative to the project or not.
build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")
seconds=${FUZZ_SECONDS:-120}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZURUD_FUZZ=ON -DZURUD_TESTS=OFF \
  -DZURUD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
bash fuzz/make-corpus.sh "$build/corpus"

targets=${FUZZ_TARGETS:-$(cat "$build/fuzz/targets.txt")}
failed=()
for t in $targets; do
  findings="$build/findings/$t"
  mkdir -p "$findings"
  log="$build/findings/$t.log"
  echo "== $t for ${seconds}s"
  # -timeout: one input taking 10 s is a hang; -rss_limit_mb: the machine has
  # room, but no input of a few kilobytes should need more.
  if "$build/fuzz/$t" "$build/corpus/$t" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" | head -1 || true
  else
    echo "$t: FINDING (see $log)"
    grep -E 'ERROR|runtime error|fuzz oracle failed|Test unit written' "$log" |
      head -5 || true
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "fuzzing found nothing"
