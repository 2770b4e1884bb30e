#!/usr/bin/env bash
# Continuous integration: builds the fuzz targets and runs each one briefly
# (about a minute in all) from the seed corpus, which holds every input that
# ever caused a finding. Any crash, leak, hang, UB or oracle failure fails.
set -euo pipefail
cd "$(dirname "$0")/.."

have_fuzzer_runtime() {
  command -v clang++ >/dev/null 2>&1 &&
    ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a \
      >/dev/null 2>&1
}
if ! have_fuzzer_runtime; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "fuzz: clang and libclang-rt-14-dev are missing; install them as root"
    exit 1
  fi
  echo "== installing clang libclang-rt-14-dev"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q clang libclang-rt-14-dev
fi

# Ten seconds per target: about a minute and a half for the nine of them.
FUZZ_SECONDS=${FUZZ_SECONDS:-10} bash fuzz/run.sh
