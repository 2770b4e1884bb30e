#!/usr/bin/env bash
# man-test.sh KARVO SOURCE_DIR: the manual pages of karvo, hostdist and
# fasta2matrix render without a groff warning and name the version being
# built; karvo's documents every option of the usage text, the companions'
# every rule and layout. Exit 77 (skipped) when groff is not installed.
set -euo pipefail
karvo=$1
source=$2
page=$source/doc/karvo.1
if ! command -v groff > /dev/null 2>&1; then
  echo "SKIP: groff is not installed (Debian package groff-base)"
  exit 77
fi
fail() { echo "FAIL: $*"; exit 1; }

version=$(sed -n 's/^project(zurud VERSION \([0-9.]*\).*/\1/p' \
  "$source/CMakeLists.txt")
for p in karvo hostdist fasta2matrix; do
  warnings=$(groff -man -Tutf8 -ww "$source/doc/$p.1" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "groff warns on $p.1: $warnings"
  grep -q "^\.TH ${p^^} 1 .*\"karvo $version\"" "$source/doc/$p.1" ||
    fail "the .TH line of $p.1 does not name karvo $version"
done
# The companions' pages give every rule and layout of their usage text a
# paragraph of its own, and the usage text as the programs write it.
bin=$(dirname "$karvo")
for p in hostdist fasta2matrix; do
  usage=$("$bin/$p" --help)
  words=$(printf '%s\n' "$usage" | sed '1d; s/^[^:]*: //' |
          grep -o '\b[A-Z][A-Z_]\{2,\}\b' | sort -u)
  for w in $words; do
    grep -qx "\.B $w" "$source/doc/$p.1" ||
      fail "$w of $p's usage text has no paragraph in $p.1"
  done
  while IFS= read -r line; do
    grep -qF -- "$(printf '%s' "$line" | sed 's/-/\\-/g')" "$source/doc/$p.1" ||
      fail "usage line \"$line\" not in $p.1"
  done <<< "$(printf '%s\n' "$usage" | sed "s|^Usage: $bin/|Usage: |")"
done

# Every option of the usage text has its own paragraph (.TP, then .B -x or
# .BI -x) in the page.
usage=$("$karvo" 2>&1 > /dev/null || true)
options=$(printf '%s\n' "$usage" | sed -n 's/^  -\([A-Za-z]\)  .*/\1/p')
[ -n "$options" ] || fail "no options found in the usage text"
for o in $options; do
  awk -v o="$o" 'prev == ".TP" && ($0 ~ "^\\.BI? \\\\-" o "( |$)") {found=1}
                 {prev = $1} END {exit !found}' "$page" ||
    fail "option -$o of the usage text has no paragraph in the manual page"
done
# Every fixed message is spelt as karvo writes it.
for msg in 'Invalid filename.' 'Wrong file format.' 'Unknown parasite: ' \
           'WARNING: Removing host ' ' (# associates below threshold)'; do
  grep -qF "$msg" "$page" || fail "message \"$msg\" not in the manual page"
done
echo "manual pages: render cleanly, version $version, options $(echo $options | tr -d ' ')"
