#!/usr/bin/env bash
# Runs one command-line case: run-cli-case.sh BIN_DIR CASE_DIR.
# The case folder holds `args` (one argument per line), optionally `program`
# (the name of another program of the build folder to run instead of karvo),
# any input files,
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
program=karvo
[ -f program ] && program=$(cat program)
PATH="$bin_dir:$PATH" "$program" "${args[@]}" < "$stdin" > actual.stdout 2> actual.stderr
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
    # All lines but the last must match; the last need only begin with the
    # expected text (its wording may carry more detail).
    mapfile -t want < expected.stderr
    mapfile -t got < actual.stderr
    n=${#want[@]}
    ok=1
    [ "${#got[@]}" -eq "$n" ] || ok=0
    for ((i = 0; ok && i < n - 1; i++)); do
      [ "${want[i]}" == "${got[i]}" ] || ok=0
    done
    if [ $ok -eq 1 ] && [ "$n" -gt 0 ]; then
      case "${got[n-1]}" in
        "${want[n-1]}"*) ;;
        *) ok=0 ;;
      esac
    fi
    if [ $ok -eq 0 ]; then
      echo "standard error differs (last line matched by prefix):"
      diff expected.stderr actual.stderr | head -20
      fail=1
    fi
  elif ! cmp -s expected.stderr actual.stderr; then
    echo "standard error differs:"
    diff expected.stderr actual.stderr | head -40
    fail=1
  fi
fi
exit $fail
