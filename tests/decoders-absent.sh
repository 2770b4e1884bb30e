#!/usr/bin/env bash
# A build without the optional decoders (zlib only): gzip still reads, and
# zstd, xz and bzip2 input is refused naming the library that is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECODERS_BUILD:-build-zlib-only}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZURUD_TESTS=OFF \
  -DZURUD_WITH_ISAL=OFF -DZURUD_WITH_LIBDEFLATE=OFF -DZURUD_WITH_ZSTD=OFF \
  -DZURUD_WITH_LZMA=OFF -DZURUD_WITH_BZIP2=OFF > /dev/null
cmake --build "$build" --target karvo -j "$(nproc)" > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=examples/symbionts.phy hosts=examples/symbiont-hosts.txt
"$build/karvo" -c "$data" "$hosts" > "$work/plain" 2> /dev/null
gzip -c "$data" > "$work/d.gz"
"$build/karvo" -c "$work/d.gz" "$hosts" 2> /dev/null | cmp - "$work/plain"
fail=0
for c in "zstd libzstd libzstd-dev" "xz liblzma liblzma-dev" "bzip2 libbz2 libbz2-dev"; do
  read -r tool library package <<< "$c"
  command -v "$tool" > /dev/null || { echo "missing: $tool"; exit 1; }
  "$tool" -c "$data" > "$work/d.$tool"
  if "$build/karvo" -c "$work/d.$tool" "$hosts" > "$work/out" 2> "$work/err"; then
    echo "FAIL: $tool input read by a build without $library"; fail=1
  fi
  want="karvo: input/output error: $tool-compressed input, which this build cannot read: it was made without $library (Debian's $package) ($work/d.$tool, line 1)"
  if [ "$(cat "$work/err")" != "$want" ]; then
    echo "FAIL: $tool: $(cat "$work/err")"; echo "  wanted: $want"; fail=1
  fi
  [ -s "$work/out" ] && { echo "FAIL: $tool: output written"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "decoders absent: gzip read, zstd, xz and bzip2 refused by name"
exit "$fail"
