#!/usr/bin/env bash
# The bad-input suite: run-badinput.sh GROUP KARVO BADINPUT_GEN
#
# Runs karvo on hostile inputs and checks what must hold for every one of
# them: exit status 0 or 1 (never a crash or a hang), nothing on standard
# output after a failure, standard error ending in exactly one diagnostic
# line after any warnings, only warnings after a success. Some cases also
# fix the diagnostic or compare the output with that of a clean input.
#
# Groups: truncation, corruption, sizes, files, output, resources.
set -u
group=$1
karvo=$(realpath "$2")
gen=$(realpath "$3")
shopt -s nullglob
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export LC_ALL=C
# Leak checks and UB reports stay on under sanitizers; an abort is a finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 2

# Sanitized binaries run several times slower and reserve terabytes of
# address space, so memory limits cannot apply to them.
instrumented=0
grep -q -a __asan_init "$karvo" && instrumented=1
limit=20
[ $instrumented -eq 1 ] && limit=60

runs=0
failures=0
name=""
rc=0

fail() {
  failures=$((failures + 1))
  echo "FAIL [$name]: $*"
  if [ -f err ]; then head -c 600 err | sed 's/^/  stderr: /'; fi
}

is_warning() {
  [[ $1 == "WARNING: Removing host "* || $1 == "Unknown parasite: "* ||
     $1 == "karvo: warning: "* ]]
}

# run NAME ARGS...: karvo with standard input from $STDIN (default
# /dev/null), standard output to out, standard error to err; then the
# invariants.
run() {
  name=$1
  shift
  timeout -k 5 "$limit" "$karvo" "$@" <"${STDIN:-/dev/null}" >out 2>err
  rc=$?
  check_invariants
}

check_invariants() {
  runs=$((runs + 1))
  case $rc in
    0 | 1) ;;
    124 | 137) fail "no result within ${limit}s"; return 1 ;;
    *) fail "exit status $rc"; return 1 ;;
  esac
  local lines=() n i
  mapfile lines <err
  n=${#lines[@]}
  if [ "$n" -gt 0 ] && [[ ${lines[n - 1]} != *$'\n' ]]; then
    fail "standard error does not end with a line feed"
    return 1
  fi
  for ((i = 0; i < n; i++)); do lines[i]=${lines[i]%$'\n'}; done
  if [ "$rc" -eq 1 ]; then
    if [ -s out ]; then fail "standard output written before a failure"; return 1; fi
    if [ "$n" -eq 0 ]; then fail "failure without a diagnostic"; return 1; fi
    # The usage text, after at most one line saying what was wrong.
    [[ ${lines[0]} == *" computes host character data from "* ]] && return 0
    [[ $n -gt 1 && ${lines[0]} == "karvo: "* &&
       ${lines[1]} == *" computes host character data from "* ]] && return 0
    for ((i = 0; i < n - 1; i++)); do
      if ! is_warning "${lines[i]}"; then
        fail "more than one diagnostic line"
        return 1
      fi
    done
    if is_warning "${lines[n - 1]}"; then fail "no diagnostic after the warnings"; return 1; fi
  else
    if [ ! -s out ]; then fail "success without output"; return 1; fi
    for ((i = 0; i < n; i++)); do
      if [[ ${lines[i]} != "WARNING: Removing host "* &&
            ${lines[i]} != "karvo: warning: "* ]]; then
        fail "success after a diagnostic: ${lines[i]}"
        return 1
      fi
    done
  fi
  return 0
}

# expect RC [STDERR]: the last run ended with RC and, when given, standard
# error was exactly STDERR (one line) or began with it (STDERR ending in *).
expect() {
  if [ "$rc" != "$1" ]; then fail "exit status $rc, expected $1"; return; fi
  [ $# -lt 2 ] && return
  local got
  got=$(cat err)
  # shellcheck disable=SC2053
  [[ $got == $2 ]] || fail "standard error differs from: $2"
}

# same_output FILE: the last run succeeded and wrote exactly FILE.
same_output() {
  if [ "$rc" != 0 ]; then fail "exit status $rc, expected 0"; return; fi
  cmp -s "$1" out || fail "output differs from that of the clean input"
}

# The valid inputs that the cases start from: name, options, data, associations.
sources=(
  "typical|-c|$root/tests/cli/typical-run-consensus/d.phy|$root/tests/cli/typical-run-consensus/a.txt"
  "example|-v -g -N|$root/examples/symbionts.phy|$root/examples/symbiont-hosts.txt"
  "commented|-e -o -C|$root/tests/cli/commented-phylip-input/d.phy|$root/tests/cli/commented-phylip-input/a.txt"
  "phylip|-f -p -E|$root/tests/cli/phylip-input-with-short-padded-names/d.phy|$root/tests/cli/phylip-input-with-short-padded-names/a.txt"
)

# Option sets the corruption cases cycle through, after the source's own.
option_sets=("-c" "-v -g" "-e" "-f -g -C" "-s -P" "-c -N" "-e -E" "-m 1 -c")

# ---------------------------------------------------------------------------

group_truncation() {
  local src sname opts data assoc f
  for src in "${sources[@]}"; do
    IFS='|' read -r sname opts data assoc <<<"$src"
    # shellcheck disable=SC2086
    run "$sname: clean input" $opts "$data" "$assoc"
    expect 0
    mkdir -p "cut-$sname-data" "cut-$sname-assoc"
    "$gen" prefixes "$data" "cut-$sname-data" 120 1
    "$gen" prefixes "$assoc" "cut-$sname-assoc" 60 2
    for f in "cut-$sname-data"/*; do
      # shellcheck disable=SC2086
      run "$sname: data $f" $opts "$f" "$assoc"
    done
    for f in "cut-$sname-assoc"/*; do
      # shellcheck disable=SC2086
      run "$sname: associations $f" $opts "$data" "$f"
    done
    # Both files through one standard input, cut anywhere.
    cat "$data" "$assoc" >"both-$sname"
    mkdir -p "cut-$sname-both"
    "$gen" prefixes "both-$sname" "cut-$sname-both" 60 3
    for f in "cut-$sname-both"/*; do
      # shellcheck disable=SC2086
      STDIN=$f run "$sname: standard input $f" $opts - -
    done
  done
}

group_corruption() {
  local src sname opts data assoc f k=0
  for src in "${sources[@]}"; do
    IFS='|' read -r sname opts data assoc <<<"$src"
    mkdir -p "mut-$sname-data" "mut-$sname-assoc"
    "$gen" mutants "$data" "mut-$sname-data" 120 11
    "$gen" mutants "$assoc" "mut-$sname-assoc" 60 12
    # The source's input layout stays; the analysis and output vary.
    local layout=""
    [[ " $opts " == *" -o "* ]] && layout="-o"
    [[ " $opts " == *" -p "* ]] && layout="-p"
    for f in "mut-$sname-data"/* "mut-$sname-assoc"/*; do
      local set=${option_sets[k % ${#option_sets[@]}]}
      k=$((k + 1))
      if [[ $f == *-data/* ]]; then
        # shellcheck disable=SC2086
        run "$sname: $set $f" $set $layout "$f" "$assoc"
      else
        # shellcheck disable=SC2086
        run "$sname: $set $f" $set $layout "$data" "$f"
      fi
    done
  done
}

group_sizes() {
  local big=1048576
  printf 'p1 H\np2 H\n' >a.txt

  # Labels of the longest length a word may have (10000 characters), in the
  # data file and as a host, are kept whole; one longer is refused, naming
  # its line.
  local word=10000
  { printf ' 2 3\n'; head -c $word /dev/zero | tr '\0' x; printf ' acg\np2 acg\n'; } >long-label.phy
  { head -c $word /dev/zero | tr '\0' x; printf ' H\np2 H\n'; } >long-label.txt
  run "longest associate label" -c long-label.phy long-label.txt
  expect 0
  [ "$(head -c 8 out)" == $' 1\t 3\nH\t' ] || fail "host row of the long-label run"
  printf ' 2 3\np1 acg\np2 acg\n' >d.phy
  { printf 'p1 '; head -c $word /dev/zero | tr '\0' y; printf '\np2 '; head -c $word /dev/zero | tr '\0' y; printf '\n'; } >long-host.txt
  run "longest host label" -c -N d.phy long-host.txt
  expect 0
  [ "$(wc -c <out)" -gt $word ] || fail "the long host label is written whole"
  { printf ' 2 3\n'; head -c $((word + 1)) /dev/zero | tr '\0' x; printf ' acg\np2 acg\n'; } >too-long-label.phy
  run "associate label one too long" -c too-long-label.phy long-label.txt
  expect 1 "Wrong file format. word longer than 10000 characters: *\": row 1 of 2 (too-long-label.phy, line 2)"
  { printf 'p1 '; head -c $((word + 1)) /dev/zero | tr '\0' y; printf '\np2 y\n'; } >too-long-host.txt
  run "host label one too long" -c d.phy too-long-host.txt
  expect 1 "Wrong file format. a name too long: *too-long-host.txt, line 1)"

  # Lines of 10 MB without a line feed: a row's cells run to the end of the
  # input; a word stops at its cap.
  { printf ' 2 3\np1 '; head -c $((10 * big)) /dev/zero | tr '\0' a; } >ten-mb.phy
  run "10 MB row without line feed" -c ten-mb.phy a.txt
  expect 1 "karvo: end-of-file error: *"
  { printf ' 2 3\n'; head -c $((10 * big)) /dev/zero | tr '\0' a; } >ten-mb-label.phy
  run "10 MB label without line feed" -c ten-mb-label.phy a.txt
  expect 1 "Wrong file format. word longer than 10000 characters: *"
  head -c $((10 * big)) /dev/zero | tr '\0' b >ten-mb.txt
  run "10 MB association line without line feed" -c d.phy ten-mb.txt
  expect 1 "Wrong file format. a name too long: *"

  # A header claiming 5000 x 1048576 on a tiny file fails at once, without
  # touching the gigabytes it claims.
  printf '5000 1048576\np1 acgt\n' >huge-header.phy
  if [ -x /usr/bin/time ]; then
    name="huge header: peak memory"
    timeout -k 5 "$limit" /usr/bin/time -f '%M' -o peak "$karvo" -c huge-header.phy a.txt >out 2>err
    rc=$?
    check_invariants
    expect 1 "karvo: end-of-file error: *"
    local peak
    peak=$(tail -n 1 peak)
    # Kilobytes. AddressSanitizer clears the shadow of the whole allocation
    # (an eighth of its size), so it gets more room, still far below 5 GB.
    local most=65536
    [ $instrumented -eq 1 ] && most=1048576
    [ "${peak:-0}" -lt $most ] || fail "peak memory ${peak} kB for a tiny file"
  else
    run "huge header" -c huge-header.phy a.txt
    expect 1 "karvo: end-of-file error: *"
  fi

  # Counts beyond 32 bits are not numbers; counts within them but outside
  # the ranges are range errors.
  local header
  for header in "4294967297 3" "2147483648 3" "3 99999999999999999999" \
                "16#1_0000_0000# 3" "1E10 3" "-2147483649 3"; do
    printf '%s\np1 acg\n' "$header" >count.phy
    run "header $header" -c count.phy a.txt
    expect 1 "Wrong file format. *"
  done
  for header in "-2147483648 3" "3 2147483647" "0 0" "3 268435457"; do
    printf '%s\np1 acg\n' "$header" >count.phy
    run "header $header" -c count.phy a.txt
    expect 1 "karvo: range error: * count *"
  done
  # As many rows as 32 bits count are read as they come: a file that holds
  # fewer ends early.
  for header in "2147483647 3" "16#7FFF_FFFF# 3"; do
    printf '%s\np1 acg\n' "$header" >count.phy
    run "header $header" -c count.phy a.txt
    expect 1 "karvo: end-of-file error: * row 2 of 2147483647 *"
  done
  run "minimum beyond 32 bits" -m 4294967298 d.phy a.txt
  expect 1 "Wrong file format. *"

  # Bytes 128-255 in labels and cells: Latin-1 labels are ordinary labels,
  # such cells are not valid states.
  printf ' 3 4\np\xe9re acgt\nm\xfc\xdf acg\xe9\n\xc0\xff\xa0 tttt\n' >latin.phy
  printf 'p\xe9re h\xf4te\nm\xfc\xdf h\xf4te\n\xc0\xff\xa0 h\xf4te\n' >latin.txt
  printf ' 3 4\npere acgt\nmuss acgZ\nAya tttt\n' >ascii.phy
  printf 'pere hote\nmuss hote\nAya hote\n' >ascii.txt
  local opts
  for opts in "-c" "-v" "-e" "-f -C" "-c -N" "-c -E"; do
    # shellcheck disable=SC2086
    run "Latin-1 reference $opts" $opts ascii.phy ascii.txt
    sed 's/hote/h\xf4te/' out >latin.expected
    # shellcheck disable=SC2086
    run "Latin-1 labels and cells $opts" $opts latin.phy latin.txt
    same_output latin.expected
  done

  # NUL bytes: control characters, so whitespace between words and cells.
  printf ' 2 3\np1\0 a\0cg\np2 acg\0\n' >nul.phy
  printf 'p1\0H\np2 H\0\n' >nul.txt
  run "NUL bytes as separators" -c nul.phy nul.txt
  expect 0
  [ "$(cat out)" == $' 1\t 3\nH\tacg' ] || fail "NUL bytes separate words and cells"

  # An association file of a million pairs: 1000 associates on each of
  # 1000 hosts, then the same with one pair repeated at the end.
  "$gen" matrix 1000 4 p million.phy
  "$gen" pairs 1000 1000 p million.txt
  run "a million pairs" -s million.phy million.txt
  expect 0
  [ "$(wc -l <out)" -eq 1001 ] || fail "a million pairs give 1000 hosts"
  printf 'p1 H1\n' >>million.txt
  run "a million pairs, the last repeated" -s million.phy million.txt
  expect 1 "karvo: constraint error: attempt to insert element already in set*"
}

group_files() {
  printf ' 2 3\np1 acg\np2 act\n' >d.phy
  printf 'p1 H\np2 H\n' >a.txt
  run "reference" -c d.phy a.txt
  expect 0
  cp out reference.out

  : >empty
  run "empty data file" -c empty a.txt
  expect 1 "karvo: end-of-file error: the data file is empty (empty, line 1)"
  run "empty association file" -c d.phy empty
  expect 1 "karvo: end-of-file error: the association file is empty*"
  run "/dev/null as data file" -c /dev/null a.txt
  expect 1 "karvo: end-of-file error: *"
  mkfifo fifo
  run "one pipe as both files" -c fifo fifo
  expect 1 "Invalid filename. the data file and the association file are one stream (fifo)*"

  mkdir -p folder
  run "folder as data file" -c folder a.txt
  expect 1 "Invalid filename. *"
  run "folder as association file" -c d.phy folder
  expect 1 "Invalid filename. *"
  run "missing association file" -c d.phy no-such-file
  expect 1 "Invalid filename. *"
  ln -s loop loop 2>/dev/null
  run "symbolic link loop" -c loop a.txt
  expect 1 "Invalid filename. *"
  # Root reads files whatever their mode: then there is nothing to test.
  cp d.phy unreadable.phy
  chmod 000 unreadable.phy
  if [ "$(id -u)" -ne 0 ]; then
    run "unreadable data file" -c unreadable.phy a.txt
    expect 1 "Invalid filename. *"
  fi

  # A FIFO as data file, fed in pieces by a slow writer. The writers give up
  # after a while, so that a karvo that never opens the FIFO cannot hang us.
  mkfifo fifo
  feed() { timeout -k 1 "$limit" bash -c "$1" >/dev/null 2>&1 & }
  feed '{ head -c 9 d.phy; sleep 0.2; tail -c +10 d.phy; } >fifo'
  run "FIFO as data file" -c fifo a.txt
  same_output reference.out
  wait
  feed '{ sleep 0.1; cat a.txt; } >fifo'
  run "FIFO as association file" -c d.phy fifo
  same_output reference.out
  wait
  # A FIFO whose writer stops in the middle of a row.
  feed 'head -c 12 d.phy >fifo'
  run "FIFO ending inside a row" -c fifo a.txt
  expect 1 "karvo: end-of-file error: *"
  wait

  # Pipes as standard input, for one file or both.
  name="pipe as data file"
  cat d.phy | timeout -k 5 "$limit" "$karvo" -c - a.txt >out 2>err
  rc=$?
  check_invariants && same_output reference.out
  name="pipe as association file"
  cat a.txt | timeout -k 5 "$limit" "$karvo" -c d.phy - >out 2>err
  rc=$?
  check_invariants && same_output reference.out
  name="one pipe for both files"
  { cat d.phy; sleep 0.1; cat a.txt; } | timeout -k 5 "$limit" "$karvo" -c - - >out 2>err
  rc=$?
  check_invariants && same_output reference.out
  name="closed standard input"
  timeout -k 5 "$limit" "$karvo" -c - a.txt <&- >out 2>err
  rc=$?
  check_invariants
  expect 1 "karvo: input/output error: *"
}

group_output() {
  printf ' 2 3\np1 acg\np2 act\n' >d.phy
  printf 'p1 H\np2 H\n' >a.txt
  # Two hosts of 1048576 characters: far more output than a pipe holds.
  "$gen" matrix 4 1048576 p wide.phy
  printf 'p1 H\np2 H\np3 K\np4 K\n' >wide.txt

  name="standard output on a full disk"
  timeout -k 5 "$limit" "$karvo" -c d.phy a.txt >/dev/full 2>err
  rc=$?
  : >out
  check_invariants
  expect 1 "karvo: input/output error: cannot write to standard output: *"

  name="closed standard output"
  timeout -k 5 "$limit" "$karvo" -c d.phy a.txt >&- 2>err
  rc=$?
  check_invariants
  expect 1 "karvo: input/output error: *"

  # A reader that goes away: death by SIGPIPE (141 from the shell) or, with
  # the signal ignored, a write error and status 1; never 0.
  name="closed pipe"
  timeout -k 5 "$limit" "$karvo" -c wide.phy wide.txt 2>err | head -c 1 >/dev/null
  rc=${PIPESTATUS[0]}
  runs=$((runs + 1))
  [ "$rc" -eq 141 ] || [ "$rc" -eq 1 ] || fail "exit status $rc after the reader left"
  name="closed pipe, SIGPIPE ignored"
  (trap '' PIPE; exec timeout -k 5 "$limit" "$karvo" -c wide.phy wide.txt 2>err) |
    head -c 1 >/dev/null
  rc=${PIPESTATUS[0]}
  : >out
  check_invariants
  expect 1 "karvo: input/output error: cannot write to standard output: *"

  # Standard error that cannot be written: the status still tells.
  local opts
  name="standard error on a full disk, failure"
  timeout -k 5 "$limit" "$karvo" -c d.phy no-such-file 2>/dev/full >out
  rc=$?
  runs=$((runs + 1))
  [ "$rc" -eq 1 ] || fail "exit status $rc, expected 1"
  name="standard error on a full disk, usage"
  timeout -k 5 "$limit" "$karvo" 2>/dev/full >out
  rc=$?
  runs=$((runs + 1))
  [ "$rc" -eq 1 ] || fail "exit status $rc, expected 1"
  printf 'p1 H\np2 K\n' >warn.txt
  name="standard error on a full disk, warning"
  timeout -k 5 "$limit" "$karvo" -m 2 -c d.phy warn.txt 2>/dev/full >out
  rc=$?
  runs=$((runs + 1))
  [ "$rc" -eq 1 ] || fail "exit status $rc, expected 1"
  name="standard error on a full disk, success"
  timeout -k 5 "$limit" "$karvo" -c d.phy a.txt 2>/dev/full >out
  rc=$?
  runs=$((runs + 1))
  [ "$rc" -eq 0 ] || fail "exit status $rc, expected 0"
}

group_resources() {
  if [ $instrumented -eq 1 ]; then
    echo "resources: skipped for a sanitized binary (its allocator aborts"
    echo "instead of failing, and it cannot run under a memory limit)"
    return
  fi
  printf 'p1 H\np2 H\n' >a.txt
  # 2 GB of address space: plenty for every case but the ones below.
  local mem=2097152
  # A header that declares more than the limit allows, on a file that holds
  # one short row: the file is truncated, as it is without the limit, for
  # rows stored or folded and for data files of every format.
  printf '5000 1048576\np1 acgt\n' >huge-header.phy
  printf '#NEXUS\nbegin data; dimensions ntax=5000 nchar=1048576;\nmatrix\np1 acgt\n' >huge-header.nex
  local args
  for args in "-c huge-header.phy a.txt" "-c huge-header.phy -" "-s huge-header.phy a.txt" "-i -c huge-header.phy a.txt" \
              "-c huge-header.nex a.txt" "-c huge-header.nex -" "-s huge-header.nex a.txt"; do
    name="header beyond the memory limit on a short file ($args)"
    # shellcheck disable=SC2086
    (ulimit -v $mem; exec timeout -k 5 "$limit" "$karvo" $args) <a.txt >out 2>err
    rc=$?
    check_invariants
    expect 1 "karvo: end-of-file error: input ended *"
  done
  # A file that holds all it declares and more than the limit allows: its
  # rows folded as they are read need no more than its hosts' accumulators;
  # stored (both files on one standard input), it runs out of memory,
  # cleanly, naming where it was.
  "$gen" matrix 45 1048576 p full.phy
  for args in "-c full.phy a.txt" "-c full.phy -"; do
    name="associate matrix beyond the memory limit, folded ($args)"
    # shellcheck disable=SC2086
    (ulimit -v 51200; exec timeout -k 5 "$limit" "$karvo" $args) <a.txt >out 2>err
    rc=$?
    check_invariants
    expect 0
  done
  name="associate matrix beyond the memory limit, stored (-c - -)"
  cat full.phy a.txt >full-and-pairs.txt
  (ulimit -v 51200; exec timeout -k 5 "$limit" "$karvo" -c - -) <full-and-pairs.txt >out 2>err
  rc=$?
  check_invariants
  expect 1 "karvo: out of memory (standard input, line *)"

  # Threads beyond what the memory limit leaves room for (each takes its
  # stack): the run goes on with those that started, the output unchanged.
  "$gen" matrix 200 1000 p threads.phy
  for ((i = 1; i <= 200; i++)); do echo "p$i H$((i % 100))"; done >threads.txt
  name="threads the system will not start"
  "$karvo" -e -t 1 threads.phy threads.txt >one-thread.out 2>/dev/null
  (ulimit -v 300000; exec timeout -k 5 "$limit" "$karvo" -e -t 64 threads.phy threads.txt) >out 2>err
  rc=$?
  check_invariants
  expect 0 "karvo: warning: * could not be started (the system refused them); the host rows were computed on fewer, with the same result"
  cmp -s out one-thread.out || fail "output differs from one thread's"

  # One associate on 5000 hosts, -m 1: a frequency matrix of 5000 x 1048575
  # reals (20 GB) or an entropy matrix of 5000 x 209715 (4 GB) from a 200 kB
  # file. The host matrix is never held, so the run goes on writing rows
  # until standard output closes after a few megabytes: it ends by SIGPIPE
  # (or a write failure), never for want of memory.
  "$gen" matrix 1 209715 p wide.phy
  for ((h = 1; h <= 5000; h++)); do echo "p1 H$h"; done >many-hosts.txt
  local want
  for opts in "-f -g|1048575" "-e|209715"; do
    name="host matrix beyond the memory limit is written row by row (${opts%|*})"
    want=" 5000"$'\t'" ${opts#*|}"
    # shellcheck disable=SC2086
    (ulimit -v $mem; exec timeout -k 5 "$limit" "$karvo" -m 1 ${opts%|*} wide.phy many-hosts.txt) 2>err | head -c 4000000 >out
    rc=${PIPESTATUS[0]}
    runs=$((runs + 1))
    case $rc in
      141 | 1) ;;
      *) fail "exit status $rc, expected SIGPIPE or 1" ;;
    esac
    [ "$(stat -c %s out)" -eq 4000000 ] || fail "output ended before 4 MB"
    [ "$(head -n 1 out)" == "$want" ] || fail "header is not: $want"
    if grep -q "out of memory" err; then fail "ran out of memory"; fi
  done
}

case $group in
  truncation | corruption | sizes | files | output | resources) "group_$group" ;;
  *) echo "unknown group $group"; exit 2 ;;
esac
echo "$group: $runs runs, $failures failed"
[ "$failures" -eq 0 ]
