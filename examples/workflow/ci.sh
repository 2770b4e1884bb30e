#!/usr/bin/env bash
# Continuous integration for the workflow, run by .ci/run: installs
# Snakemake and IQ-TREE where missing (needs root), then runs the workflow
# on its two bundled genes with build/'s karvo, in a scratch copy, and checks
# the summary: gene B loses the host whose lice it lacks.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash .ci/install-packages --no-recommends snakemake iqtree
[ -x build/karvo ] || make build

top=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R examples "$work/examples"
echo "== snakemake --cores 2 (examples/workflow)"
(cd "$work/examples/workflow" &&
   PATH="$top/build:$PATH" snakemake --cores 2 --quiet > "$work/log" 2>&1) ||
  { cat "$work/log"; echo "workflow failed"; exit 1; }
summary=$work/examples/workflow/results/summary.tsv
cat "$summary"
fail() { echo "FAIL: $*"; exit 1; }
awk -F'\t' '$1 == "geneA" && $2 == 6' "$summary" | grep -q . ||
  fail "gene A does not keep six hosts"
awk -F'\t' '$1 == "geneB" && $2 == 5 && $4 ~ /Microtus_arvalis/' "$summary" |
  grep -q . || fail "gene B does not leave out Microtus_arvalis"
for gene in geneA geneB; do
  grep -q 'Apodemus_flavicollis:' \
    "$work/examples/workflow/results/$gene/hosts.treefile" ||
    fail "no host tree for $gene"
done
echo "== workflow: ok"
