#!/usr/bin/env bash
# Continuous integration for the interoperability tests, run by .ci/run after
# the main suite: installs the readers karvo's output is checked against and
# the writers whose files karvo reads (only those missing; needs root), then
# runs `ctest -L interop` in build/, where a program that is still missing
# fails instead of being skipped.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(python3-biopython python3-dendropy phylip iqtree raxml mrbayes
          emboss mafft r-cran-ape python3-numpy python3-pandas)
bash .ci/install-packages --no-recommends "${packages[@]}"

[ -f build/CTestTestfile.cmake ] || make build
echo "== ctest -L interop (build/)"
(cd build && KARVO_INTEROP_REQUIRED=1 ctest -L interop --output-on-failure)
