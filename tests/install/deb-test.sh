#!/usr/bin/env bash
# deb-test.sh BUILD_DIR SOURCE_DIR: builds the Debian packages with CPack
# into a scratch folder, unpacks them with dpkg -x into a scratch root and
# runs the unpacked karvo on the example data. Exit 77 (skipped) without
# cpack or dpkg-deb.
set -euo pipefail
build=$1
source=$2
for tool in cpack dpkg-deb; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "SKIP: $tool is not installed (Debian package dpkg / cmake)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out") > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
tool_deb=$(ls "$work"/out/karvo_*.deb 2>/dev/null) || fail "no karvo_*.deb"
dev_deb=$(ls "$work"/out/libzurud-dev_*.deb 2>/dev/null) ||
  fail "no libzurud-dev_*.deb"

[ "$(dpkg-deb -f "$tool_deb" Package)" = karvo ] || fail "package name"
version=$(sed -n 's/^project(zurud VERSION \([0-9.]*\).*/\1/p' \
  "$source/CMakeLists.txt")
# Debian revision 1 of the release.
[ "$(dpkg-deb -f "$tool_deb" Version)" = "$version-1" ] ||
  fail "package version is not $version-1"
[ "$(dpkg-deb -f "$tool_deb" Description | head -1)" != \
  "$(dpkg-deb -f "$dev_deb" Description | head -1)" ] ||
  fail "both packages have the same summary"
dpkg-deb -f "$tool_deb" Depends | grep -q libc6 ||
  fail "karvo's package does not depend on the C library"

# The program's package holds the programs, their manual pages and
# completions and the documents, nothing of the library; the development
# package holds the rest.
dpkg-deb -c "$tool_deb" | awk '{print $NF}' > "$work/tool.list"
dpkg-deb -c "$dev_deb" | awk '{print $NF}' > "$work/dev.list"
for p in karvo hostdist fasta2matrix; do
  for f in bin/$p share/man/man1/$p.1.gz share/bash-completion/completions/$p; do
    grep -qx "./usr/$f" "$work/tool.list" || fail "/usr/$f not packaged"
  done
done
for f in copyright changelog.Debian.gz README.md examples/symbionts.phy; do
  grep -qx "./usr/share/doc/karvo/$f" "$work/tool.list" ||
    fail "/usr/share/doc/karvo/$f not packaged"
done
for f in copyright changelog.Debian.gz; do
  grep -qx "./usr/share/doc/libzurud-dev/$f" "$work/dev.list" ||
    fail "/usr/share/doc/libzurud-dev/$f not packaged"
done
! grep -q 'include/\|cmake/\|\.a$' "$work/tool.list" ||
  fail "karvo's package carries library files"
grep -q '/usr/include/zurud/zurud.hpp$' "$work/dev.list" ||
  fail "headers not in libzurud-dev"
grep -q '/cmake/zurud/zurudConfig.cmake$' "$work/dev.list" ||
  fail "CMake package files not in libzurud-dev"
grep -q '/libzurud\.a$' "$work/dev.list" || fail "library not in libzurud-dev"

root=$work/root
dpkg -x "$tool_deb" "$root"
karvo=$root/usr/bin/karvo
[ -x "$karvo" ] || fail "usr/bin/karvo missing after dpkg -x"
"$karvo" -c -N "$source/examples/symbionts.phy" \
  "$source/examples/symbiont-hosts.txt" > "$work/packaged.out" \
  2> "$work/packaged.err" || fail "packaged karvo failed"
"$build/karvo" -c -N "$source/examples/symbionts.phy" \
  "$source/examples/symbiont-hosts.txt" > "$work/built.out" 2> /dev/null
cmp -s "$work/packaged.out" "$work/built.out" ||
  fail "packaged karvo writes other output than the built one"
grep -q '^WARNING: Removing host Sorex_araneus' "$work/packaged.err" ||
  fail "packaged karvo wrote no warning for a one-associate host"
"$karvo" > /dev/null 2> "$work/usage.err" && fail "usage exits 0"
grep -q '^Usage: .*karvo \[options\] data_file association_file$' \
  "$work/usage.err" || fail "packaged karvo wrote no usage text"
echo "packages $(basename "$tool_deb") and $(basename "$dev_deb"): ok"
