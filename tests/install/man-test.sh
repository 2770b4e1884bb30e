#!/usr/bin/env bash
# man-test.sh KARVO SOURCE_DIR: the manual page renders without a groff
# warning, names the version being built, and documents every option of the
# usage text. Exit 77 (skipped) when groff is not installed.
set -euo pipefail
karvo=$1
source=$2
page=$source/doc/karvo.1
if ! command -v groff > /dev/null 2>&1; then
  echo "SKIP: groff is not installed (Debian package groff-base)"
  exit 77
fi
fail() { echo "FAIL: $*"; exit 1; }

warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 > /dev/null)
[ -z "$warnings" ] || fail "groff warns: $warnings"

version=$(sed -n 's/^project(zurud VERSION \([0-9.]*\).*/\1/p' \
  "$source/CMakeLists.txt")
grep -q "^\.TH KARVO 1 .*\"karvo $version\"" "$page" ||
  fail "the .TH line does not name karvo $version"

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
echo "manual page: renders cleanly, version $version, options $(echo $options | tr -d ' ')"
