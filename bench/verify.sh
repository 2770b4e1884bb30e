#!/usr/bin/env bash
# Proves karvo's fast paths byte-identical to the plain ones: for each data
# set named (default: medium), runs karvo and karvo-reference with the same
# arguments and compares standard output byte for byte and the exit status.
# Uses the build folder of run.sh (BENCH_BUILD, default build-bench), which
# must hold both programs; generates missing data sets.
#
#   bash bench/verify.sh [PRESET...]
#   VERIFY_CASES="-c,-e" bash bench/verify.sh large
#   bash bench/verify.sh small-rna small-protein small-standard
#
# Cases that start with -w read the preset's hosts file with a third column
# of weights (PRESET.weighted.hosts, made from PRESET.hosts: weights of 0,
# fractions, ties and a few very large ones).
#
# A preset with other states (PRESET-protein, -standard, -binary) runs both
# programs with -a; it is passed over while karvo has no -a.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
karvo=$build/karvo
reference=$build/bench/karvo-reference
data=bench/data
[ $# -gt 0 ] || set -- medium

# Every analysis, with and without gaps as states, in the default layout;
# the other layouts once each. VERIFY_CASES (cases separated by commas, such
# as "-c,-g -e") replaces the list.
cases=(
  "-s" "-c" "-v" "-e" "-f"
  "-g -c" "-g -v" "-g -e" "-g -f"
  "-m 1 -e" "-m 5 -v"
  "-C -e" "-N -c" "-E -f" "-P -v" "-C -s"
  "-N -e" "-N -g -f"
  "-c -q 0.5" "-c -q 2/3 -g" "-c -q 0.3 -k 3" "-v -k 2" "-e -k 4" "-f -k 3"
  "-T" "-T -g -q 0.75 -k 2"
  "-w -s" "-w -c" "-w -v" "-w -e" "-w -f" "-w -g -c" "-w -g -e" "-w -N -f"
  "-w -N -c"
  "-w -c -q 0.5" "-w -c -q 0.3 -k 3" "-w -v -k 2" "-w -e -m 1"
  "-w -T" "-w -T -g -q 0.75 -k 2"
)
if [ -n "${VERIFY_CASES:-}" ]; then
  IFS=, read -r -a cases <<< "$VERIFY_CASES"
fi

# Whether karvo reads other alphabets (-a); one without takes "-a dna" for
# two more file arguments and shows its usage.
knows_alphabets() {
  case $("$karvo" -a dna -s /dev/null /dev/null 2>&1 || true) in
    *Usage:*) return 1 ;;
    *) return 0 ;;
  esac
}

mkdir -p "$data"
failed=0
for p in "$@"; do
  [ -f "$data/$p.phy" ] || "$build/bench/bench-generate" "$p" "$data"
  [ -f "$data/$p.weighted.hosts" ] ||
    awk 'BEGIN { split("1 2 0 3 0.5 1 7 1000000000 0.25 2", w, " ") }
         NF >= 2 { print $1, $2, w[NR % 10 + 1] }' \
      "$data/$p.hosts" > "$data/$p.weighted.hosts"
  case $p in
    *-protein) alphabet="-a protein" ;;
    *-standard|*-binary) alphabet="-a standard" ;;
    *) alphabet="" ;;
  esac
  if [ -n "$alphabet" ] && ! knows_alphabets; then
    echo "passed over $p: karvo has no -a yet"
    continue
  fi
  read -r _ nchar < <(head -n 1 "$data/$p.phy")
  case $alphabet in
    *protein) states=20 ;; *standard) states=10 ;; *) states=4 ;;
  esac
  for c in "${cases[@]}"; do
    # karvo-reference holds the host matrix, of at most 1048576 columns;
    # karvo writes wider frequencies without holding them.
    if [[ " $c " == *" -f "* ]]; then
      per_site=$states
      [[ " $c " == *" -g "* ]] && per_site=$((states + 1))
      columns=$((nchar * per_site))
      if [ "$columns" -gt 1048576 ]; then
        echo "passed over $p: karvo ${alphabet:+$alphabet }$c ($columns columns: more than karvo-reference holds)"
        continue
      fi
    fi
    hosts=$data/$p.hosts
    [ "${c#-w}" = "$c" ] || hosts=$data/$p.weighted.hosts
    # shellcheck disable=SC2086
    set +e
    cmp -s <("$karvo" $alphabet $c "$data/$p.phy" "$hosts" 2>/dev/null; echo "exit $?") \
           <("$reference" $alphabet $c "$data/$p.phy" "$hosts" 2>/dev/null; echo "exit $?")
    same=$?
    set -e
    if [ $same -eq 0 ]; then
      echo "same   $p: karvo ${alphabet:+$alphabet }$c"
    else
      echo "DIFFER $p: karvo ${alphabet:+$alphabet }$c"
      failed=1
    fi
  done
done
exit $failed
