#!/usr/bin/env bash
# Continuous integration: builds the fuzz targets and runs each one briefly
# (about a minute in all) from the seed corpus, which holds every input that
# ever caused a finding. Any crash, leak, hang, UB or oracle failure fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang++ and libFuzzer's runtime.
bash .ci/install-packages clang libclang-rt-14-dev

# Ten seconds per target: about two minutes for the eleven of them.
FUZZ_SECONDS=${FUZZ_SECONDS:-10} bash fuzz/run.sh
