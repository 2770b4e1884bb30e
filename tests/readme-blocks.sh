#!/usr/bin/env bash
# readme-blocks.sh BUILD_DIR SOURCE_DIR: runs, as written, every shell block
# of README.md that follows a line "<!-- ci: ... run as written ... -->", so
# that the commands a user copies and this test cannot drift apart. Each
# block runs in a scratch folder that looks like the top of the sources
# (examples/ copied, build/ the build folder), with bash -euo pipefail.
# Exit 77 (skipped) when a program the blocks call is missing, unless
# KARVO_INTEROP_REQUIRED is set (as CI does).
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# karvo as installed (the blocks call it by name); Debian's numpy, pandas and ape
# serve Debian's own interpreters.
export PATH=$build:/usr/bin:$PATH
missing=()
for program in mafft iqtree2 Rscript; do
  command -v "$program" > /dev/null 2>&1 || missing+=("$program")
done
python3 -c 'import numpy' 2> /dev/null || missing+=(python3-numpy)
python3 -c 'import pandas' 2> /dev/null || missing+=(python3-pandas)
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing: ${missing[*]}"
  [ -n "${KARVO_INTEROP_REQUIRED:-}" ] && exit 1
  exit 77
fi

awk -v dir="$work" '
  /^<!-- ci: .*run as written/ { armed = 1; next }
  armed && /^```/ { n++; inside = 1; armed = 0; file = dir "/block" n ".sh"; next }
  inside && /^```/ { inside = 0; close(file); next }
  inside { print > file }
' "$source/README.md"
blocks=$(ls "$work"/block*.sh 2> /dev/null | wc -l)
[ "$blocks" -ge 2 ] || fail "found $blocks marked blocks in README.md"

for block in "$work"/block*.sh; do
  name=$(basename "$block" .sh)
  top=$work/$name.top
  mkdir -p "$top"
  cp -R "$source/examples" "$top/examples"
  ln -s "$build" "$top/build"
  echo "== $name"
  sed 's/^/  $ /' "$block"
  (cd "$top" && bash -euo pipefail "$block") > "$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; fail "README $name failed"; }
done
# The quick start ends with a host tree of the six hosts kept.
tree=$(cat "$work"/block1.top/hosts.treefile)
for host in Apodemus_flavicollis Apodemus_sylvaticus Microtus_agrestis \
            Microtus_arvalis Mus_musculus Myodes_glareolus; do
  [[ $tree == *"$host:"* ]] || fail "host $host not in the tree: $tree"
done
echo "README blocks: $blocks run as written"
