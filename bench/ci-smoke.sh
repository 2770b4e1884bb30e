#!/usr/bin/env bash
# CI: keeps the benchmark tools compiling and working. Builds them, runs
# every micro-benchmark briefly, generates the small data set, times karvo on
# it once per analysis and compares karvo with karvo-reference on it. No
# timing is judged here: CI machines are too noisy for that.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-packages libbenchmark-dev

build=${BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZURUD_BENCH=ON
cmake --build "$build" -j "$(nproc)"

"$build/bench/bench-micro" --benchmark_min_time=0.01
BENCH_BUILD=$build BENCH_PRESETS=small BENCH_RUNS=1 bash bench/run.sh
BENCH_BUILD=$build bash bench/verify.sh small small-rna small-protein
