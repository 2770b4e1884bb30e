#!/usr/bin/env bash
# `make bench`: builds karvo in release with the benchmark tools, generates
# the data sets that are missing, then times karvo end to end for each
# analysis against `cat data > /dev/null`, the two run in turn, once with one
# thread (-t 1) and once with the default (every processor), and prints a
# table of median wall times, input GB/s, the ratio to cat and the peak
# resident memory against its budget (the associate matrix's cells plus
# 32 MiB: the host matrix is never held; for -c and -v, whose rows are
# folded into their hosts as they are read, the host matrix's cells plus
# 32 MiB).
#
# Settings (environment):
#   BENCH_PRESETS   data sets to time (default "medium"; also small, half,
#                   large, wide)
#   BENCH_RUNS      runs per command, median reported (default 5)
#   BENCH_ANALYSES  karvo options to time, an analysis' options joined by
#                   commas (default "-s -c -v -e -f -T -c,-q,0.5 -c,-k,2");
#                   an analysis of -c with more options is also compared
#                   with -c alone (target: at most 10 % slower)
#   BENCH_VERIFY=1  also compare karvo with karvo-reference (bench/verify.sh)
#   BENCH_MICRO=1   also run the micro-benchmarks
#   BENCH_BUILD     build folder (default build-bench)
#   BENCH_PAUSE     seconds to wait before each karvo run (default 0). Runs
#                   back to back reuse the memory the run before freed; a
#                   user's run, started after a pause, may get memory that a
#                   virtual machine's host took back and must back again.
#   BENCH_ALPHABETS other states to time each preset in beside its
#                   nucleotides (default "protein"; also standard, binary;
#                   "" for none): the same shape generated with those
#                   states, each analysis side by side with the nucleotide
#                   data, as a ratio of times (for -f, of times per value
#                   written: twenty values a site for protein, four for
#                   nucleotides). Until karvo reads other alphabets (-a),
#                   both sides are timed in process by bench-stages.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD:-build-bench}
presets=${BENCH_PRESETS:-medium}
runs=${BENCH_RUNS:-5}
pause=${BENCH_PAUSE:-0}
analyses=${BENCH_ANALYSES:-"-s -c -v -e -f -T -c,-q,0.5 -c,-k,2"}
alphabets=${BENCH_ALPHABETS-protein}
data=bench/data

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZURUD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
karvo=$build/karvo
tools=$build/bench

mkdir -p "$data"
# Generates a data set unless it is there; refuses to fill the disk (the
# matrix is about ntax * nchar bytes).
generate() {
  [ -f "$data/$1.phy" ] && return 0
  local need_kib avail_kib
  case $1 in
    small*) need_kib=200 ;; medium*) need_kib=110000 ;; half*) need_kib=55000 ;;
    large*) need_kib=1100000 ;; wide*) need_kib=230000 ;; *) need_kib=0 ;;
  esac
  avail_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if [ "$avail_kib" -lt $((need_kib * 2)) ]; then
    echo "bench: not enough disk for $1 (need $((need_kib / 1024)) MiB twice," \
         "have $((avail_kib / 1024)) MiB)" >&2
    exit 1
  fi
  echo "generating $1 ..."
  "$tools/bench-generate" "$1" "$data"
}
for p in $presets; do generate "$p"; done

# Targets: the largest ratio of karvo's median time to cat's.
# On the large preset a quarter more is allowed.
target() {
  local t
  case $1 in -s) t=1.5 ;; -c*|-v) t=2.5 ;; -e) t=4 ;; -f) t=6 ;; -T) t=8 ;; *) t=0 ;; esac
  if [ "${p:-}" = large ]; then awk -v t="$t" 'BEGIN { print t * 1.25 }'; else echo "$t"; fi
}

# The median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs cat on the data file and karvo with the given options alternately,
# $runs times each, so that a change in the machine's load touches both
# alike. Prints cat's median, karvo's median, karvo's peak KiB and its last
# exit status.
alternate() {
  local cats=() times=() peak=0 rc=0 t kib r
  for ((r = 0; r < runs; ++r)); do
    read -r t _ _ < <("$tools/bench-time" 1 cat "$phy")
    cats+=("$t")
    [ "$pause" = 0 ] || sleep "$pause"
    read -r t kib rc < <("$tools/bench-time" 1 "$karvo" "$@" "$phy" "$hosts")
    times+=("$t")
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  echo "$(median "${cats[@]}") $(median "${times[@]}") $peak $rc"
}

echo
echo "cpu:     $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "machine: $(nproc) processors available; default -t $(nproc)"
echo "commit:  $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo ' (with local changes)')"
echo "runs:    $runs of each command, alternating with cat; medians"
[ "$pause" = 0 ] || echo "pause:   $pause s before each karvo run"
# Other work on the machine takes the processors the threads would use.
echo "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the runs"
for p in $presets; do
  phy=$data/$p.phy
  hosts=$data/$p.hosts
  bytes=$(stat -c %s "$phy")
  read -r ntax nchar < <(head -n 1 "$phy")
  # Hosts left after the filter: the first number of the -s output.
  nhost=$("$karvo" -s "$phy" "$hosts" 2>/dev/null | awk 'NR == 1 { print $1 }')
  cat "$phy" > /dev/null  # into the page cache
  echo
  echo "preset $p: $ntax x $nchar, $nhost hosts kept, $(awk -v b="$bytes" 'BEGIN { printf "%.1f MB", b / 1e6 }')"
  printf '%-22s %9s %7s %9s %7s %7s %9s %8s  %s\n' \
    command seconds "GB/s" "cat s" "x cat" target "RSS MiB" "budget" verdict
  cells_budget=$(awk -v a=$((ntax * nchar)) 'BEGIN { printf "%.1f", a / 1048576 + 32 }')
  folded_budget=$(awk -v a=$((nhost * nchar)) 'BEGIN { printf "%.1f", a / 1048576 + 32 }')
  # A run that stores the cells (an interleaved, FASTA or NEXUS file, or
  # both files on standard input) writes that much fresh memory once, next
  # to cat: the floor of such runs on this machine (with one thread the two
  # add up; helper threads may overlap them). Sequential files fold their
  # rows and store no cells.
  cats=() fresh=()
  for ((r = 0; r < runs; ++r)); do
    read -r t _ _ < <("$tools/bench-time" 1 cat "$phy")
    cats+=("$t")
    fresh+=("$("$tools/bench-stages" --fresh "$ntax" "$nchar")")
  done
  floor_cat=$(median "${cats[@]}")
  floor_fresh=$(median "${fresh[@]}")
  for a in $analyses; do
    # -c, -v and -T fold their rows as they are read (-T and -c with -q or
    # -k into counters, as -v does).
    case $a in -c*|-v|-T) budget_mib=$folded_budget ;; *) budget_mib=$cells_budget ;; esac
    for t in "-t 1" ""; do
      # shellcheck disable=SC2086
      read -r cat_s s kib rc < <(alternate $t ${a//,/ })
      ratio=$(awk -v s="$s" -v c="$cat_s" 'BEGIN { printf "%.2f", s / c }')
      verdict=$(awk -v r="$ratio" -v t="$(target "$a")" -v m="$kib" \
        -v b="$budget_mib" -v rc="$rc" 'BEGIN {
          v = (rc != 0) ? "FAILED (exit " rc ")" : ""
          if (rc == 0) v = (r <= t ? "time ok" : "time OVER")
          if (rc == 0) v = v (m / 1024 <= b ? ", memory ok" : ", memory OVER")
          print v }')
      printf '%-22s %9.4f %7.2f %9.4f %7s %7s %9.1f %8s  %s\n' \
        "karvo ${a//,/ } ${t:-(all)}" "$s" \
        "$(awk -v b="$bytes" -v t="$s" 'BEGIN { print b / t / 1e9 }')" \
        "$cat_s" "$ratio" "<= $(target "$a")" \
        "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$budget_mib" "$verdict"
      # The consensus alone, as the yardstick of its options.
      key=${t:-all}
      key=${key//[^a-z0-9]/_}
      if [ "$a" = -c ]; then
        declare "consensus_$key=$s"
      elif [[ $a == -c,* ]]; then
        c_var="consensus_$key"
        if [ -n "${!c_var:-}" ]; then
          awk -v s="$s" -v c="${!c_var}" -v a="${a//,/ }" 'BEGIN {
            r = s / c
            printf "  %s against -c alone: %.3f (<= 1.10: %s)\n", a, r,
              (r <= 1.10 ? "ok" : "OVER") }'
        fi
      fi
    done
  done
  awk -v c="$floor_cat" -v f="$floor_fresh" 'BEGIN {
    printf "floor of stored cells: cat %.4f s + fresh memory %.4f s = %.2f x cat" \
           " (overlapped: %.2f x cat)\n", c, f, (c + f) / c, (c > f ? c : f) / c }'
done

# ---------------------------------------------------------------------------
# Alphabets side by side.

# The states a site has for karvo with the preset's -a (without gaps):
# binary data read as standard characters have the ten of 0-9.
states_of() {
  case $1 in protein) echo 20 ;; standard|binary) echo 10 ;; *) echo 4 ;; esac
}
# karvo with -a, or the same run in process.
# (A karvo without -a takes "-a dna" for two more file arguments and shows
# its usage.)
case $("$karvo" -a dna -s /dev/null /dev/null 2>&1 || true) in
  *Usage:*) side_by=stages ;;
  *) side_by=karvo ;;
esac
# Seconds of one run of analysis $2 on preset $1 (with karvo's option $3).
side_run() {
  local base=$data/$1 t
  if [ "$side_by" = karvo ]; then
    # shellcheck disable=SC2086
    read -r t _ _ < <("$tools/bench-time" 1 "$karvo" $3 $2 "$base.phy" "$base.hosts")
  else
    # shellcheck disable=SC2086
    t=$("$tools/bench-stages" "$base.phy" "$base.hosts" $2 $3 --fold --total)
  fi
  echo "$t"
}
for p in $presets; do
  for alpha in $alphabets; do
    q=$p-$alpha
    generate "$q"
    read -r ntax nchar < <(head -n 1 "$data/$p.phy")
    k=$(states_of "$alpha")
    option="-a $alpha"
    [ "$alpha" = binary ] && option="-a standard"
    echo
    echo "preset $q beside $p ($k states a site against 4), timed by $side_by;" \
         "medians of $runs, the two run in turn"
    printf '%-14s %10s %10s %8s %12s  %s\n' analysis "$p s" "$alpha s" ratio \
      "per value" verdict
    for a in $analyses; do
      # The analyses of one formula each (bench-stages knows no more).
      case $a in -s|-c|-v|-e|-f) ;; *) continue ;; esac
      nuc=() other=()
      for ((r = 0; r < runs; ++r)); do
        nuc+=("$(side_run "$p" "$a" "")")
        other+=("$(side_run "$q" "$a" "$option")")
      done
      mn=$(median "${nuc[@]}")
      mo=$(median "${other[@]}")
      awk -v a="$a" -v n="$mn" -v o="$mo" -v k="$k" 'BEGIN {
        r = o / n; v = (a == "-f") ? r * 4 / k : r
        printf "%-14s %10.4f %10.4f %8.2f %12s  %s\n", a, n, o, r,
          (a == "-f") ? sprintf("%.2f", v) : "-", (v <= 2 ? "ok" : "OVER 2") }'
    done
  done
done

if [ "${BENCH_VERIFY:-0}" = 1 ]; then
  echo
  bash bench/verify.sh $presets
fi
if [ "${BENCH_MICRO:-0}" = 1 ]; then
  echo
  "$tools/bench-micro"
fi
