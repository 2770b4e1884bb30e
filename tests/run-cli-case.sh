#!/usr/bin/env bash
# Runs one command-line case: run-cli-case.sh BIN_DIR CASE_DIR.
# The case folder holds `args` (one argument per line), any input files,
# optionally `stdin` (fed to standard input) and `setup` (a bash script run
# first in the work folder, to build large inputs), and the expectations
# `expected.stdout`, `expected.stderr`, `expected.rc`. Outputs are compared
# byte for byte; with a file `stderr.prefix` present, the last line of
# expected.stderr need only begin the last line of standard error.
set -u
bin_dir=$1
case_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$case_dir"/. "$work"/
cd "$work" || exit 2
if [ -f setup ]; then
  PATH="$bin_dir:$PATH" bash ./setup || { echo "setup failed"; exit 1; }
fi
args=()
if [ -f args ]; then
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < args
fi
stdin=/dev/null
[ -f stdin ] && stdin=stdin
PATH="$bin_dir:$PATH" karvo "${args[@]}" < "$stdin" > actual.stdout 2> actual.stderr
rc=$?
fail=0
expected_rc=$(cat expected.rc 2>/dev/null || echo 0)
if [ "$rc" != "$expected_rc" ]; then
  echo "exit status $rc, expected $expected_rc"
  fail=1
fi
if [ -f expected.stdout ] && ! cmp -s expected.stdout actual.stdout; then
  echo "standard output differs:"
  diff expected.stdout actual.stdout | head -40
  fail=1
fi
if [ -f expected.stderr ]; then
  if [ -f stderr.prefix ]; then
    n=$(wc -l < expected.stderr)
    if ! cmp -s <(head -n $((n - 1)) expected.stderr) <(head -n $((n - 1)) actual.stderr) \
       || [ "$(wc -l < actual.stderr)" != "$n" ]; then
      echo "standard error differs:"; diff expected.stderr actual.stderr | head -20; fail=1
    else
      want=$(tail -n 1 expected.stderr)
      got=$(tail -n 1 actual.stderr)
      case "$got" in
        "$want"*) ;;
        *) echo "last line of standard error: '$got' does not begin with '$want'"; fail=1 ;;
      esac
    fi
  elif ! cmp -s expected.stderr actual.stderr; then
    echo "standard error differs:"
    diff expected.stderr actual.stderr | head -40
    fail=1
  fi
fi
exit $fail
