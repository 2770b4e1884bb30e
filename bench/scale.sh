#!/usr/bin/env bash
# The run at scale (make bench with BENCH_SCALE=1, or bash bench/scale.sh):
# the preset many (100 000 associates x 10 000 sites, 2 000 hosts, about
# 1 GB of FASTA) timed against cat, its peak memory against the host
# accumulators plus 64 MiB; the same file gzipped, as BGZF and
# zstd-compressed against the decoder alone (and gzip's against zlib's own
# gzip -dc); and the scaling from 100 000 to 400 000 associates (many4):
# time per byte and memory.
#
#   BENCH_RUNS   runs per command, medians (default 3)
#   BENCH_BUILD  build folder (default build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
runs=${BENCH_RUNS:-3}
data=bench/data
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZURUD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target karvo bench-generate bench-time \
  bench-stages >/dev/null
karvo=$build/karvo
tools=$build/bench
mkdir -p "$data"
for p in many many4; do
  [ -f "$data/$p.phy" ] && continue
  need_kib=$([ $p = many ] && echo 1000000 || echo 4000000)
  avail_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if [ "$avail_kib" -lt $((need_kib * 3)) ]; then
    echo "bench: not enough disk for $p" >&2
    exit 1
  fi
  echo "generating $p ..."
  "$tools/bench-generate" "$p" "$data"
done

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Median seconds and peak KiB of a command, run $runs times.
timed() {
  local times=() peak=0 t kib r
  for ((r = 0; r < runs; ++r)); do
    read -r t kib _ < <("$tools/bench-time" 1 "$@")
    times+=("$t")
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  echo "$(median "${times[@]}") $peak"
}
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "ok" : "OVER") }'; }

echo
echo "cpu:     $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "machine: $(nproc) processors; load $(cut -d' ' -f1-3 /proc/loadavg) before the runs"
echo "commit:  $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
phy=$data/many.phy hosts=$data/many.hosts
cat "$phy" > /dev/null
read -r cat_s _ < <(timed cat "$phy")
echo
echo "preset many: $(awk -v b="$(stat -L -c %s "$phy")" 'BEGIN { printf "%.2f GB", b / 1e9 }'), cat $cat_s s"
printf '%-22s %9s %7s %7s %9s %9s  %s\n' command seconds "x cat" target \
  "RSS MiB" "budget" verdict
for a in -c -f; do
  target=$([ $a = -c ] && echo 2.5 || echo 6)
  read -r s kib < <(timed "$karvo" "$a" "$phy" "$hosts")
  # The host accumulators, as the run lays them out, plus 64 MiB.
  acc=$("$tools/bench-stages" --fold-bytes "$phy" "$hosts" "$a")
  budget=$(awk -v a="$acc" 'BEGIN { printf "%.1f", a / 1048576 + 64 }')
  ratio=$(awk -v s="$s" -v c="$cat_s" 'BEGIN { printf "%.2f", s / c }')
  printf '%-22s %9.3f %7s %7s %9.1f %9s  time %s, memory %s\n' "karvo $a" "$s" \
    "$ratio" "<= $target" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" \
    "$budget" "$(verdict "$ratio" "$target")" \
    "$(verdict "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$budget")"
done

echo
echo "compressed, karvo -c against the decoder alone (reading the whole file)"
printf '%-22s %9s %9s %7s %7s  %s\n' file "karvo s" "decode s" ratio target verdict
# Each compressor reads standard input (zstd passes over a symbolic link,
# as bench/data's may be) and writes a part that is renamed once whole.
compress() {
  local out=$1
  shift
  [ -f "$out" ] && return 0
  command -v "$1" > /dev/null || return 0
  "$@" < "$phy" > "$out.part" && mv "$out.part" "$out" || rm -f "$out.part"
}
compress "$phy.gz" gzip -6 -c
compress "$phy.bgz" bgzip -@ "$(nproc)" -c
compress "$phy.zst" zstd -q -c
for f in "$phy.gz" "$phy.bgz" "$phy.zst"; do
  [ -f "$f" ] || continue
  read -r k _ < <(timed "$karvo" -c "$f" "$hosts")
  read -r d _ < <(timed "$tools/bench-stages" --read "$f")
  r=$(awk -v k="$k" -v d="$d" 'BEGIN { printf "%.2f", k / d }')
  printf '%-22s %9.3f %9.3f %7s %7s  %s\n' "$(basename "$f")" "$k" "$d" "$r" "<= 1.5" "$(verdict "$r" 1.5)"
done
read -r z _ < <(timed sh -c "gzip -dc '$phy.gz' > /dev/null")
read -r d _ < <(timed "$tools/bench-stages" --read "$phy.gz")
r=$(awk -v z="$z" -v d="$d" 'BEGIN { printf "%.2f", d / z }')
echo "gzip: karvo's inflate $d s against gzip -dc $z s: $r ($(verdict "$r" 0.5) against <= 0.5)"

echo
echo "scaling, karvo -c: many (100 000 associates) against many4 (400 000)"
printf '%-8s %10s %9s %12s %9s\n' preset GB seconds "ns per byte" "RSS MiB"
for p in many many4; do
  f=$data/$p.phy
  read -r s kib < <(timed "$karvo" -c "$f" "$data/$p.hosts")
  b=$(stat -L -c %s "$f")
  printf '%-8s %10.2f %9.3f %12.3f %9.1f\n' "$p" "$(awk -v b="$b" 'BEGIN { print b / 1e9 }')" \
    "$s" "$(awk -v s="$s" -v b="$b" 'BEGIN { print s / b * 1e9 }')" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')"
done
