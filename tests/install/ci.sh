#!/usr/bin/env bash
# Continuous integration for installation and packaging, run by .ci/run after
# the main suite: makes sure groff is there so that the manual pages are really
# checked, reruns the install-labelled tests in build/, then takes the user's
# road through `make install` and `make package`, and has lintian and
# hardening-check (devscripts) judge the packages.
set -euo pipefail
cd "$(dirname "$0")/../.."

# groff checks the manual pages, lintian and hardening-check (devscripts)
# the packages.
bash .ci/install-packages --no-recommends --optional groff-base dpkg lintian \
  devscripts

echo "== ctest -L install (build/)"
(cd build && ctest -L install --output-on-failure)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== make install PREFIX=<scratch>"
make install PREFIX="$work/prefix" > "$work/install.log"
"$work/prefix/bin/karvo" -s examples/symbionts.phy examples/symbiont-hosts.txt \
  > "$work/sizes.txt" 2> /dev/null
[ "$(head -1 "$work/sizes.txt")" = "$(printf ' 6\t 1')" ] ||
  { echo "installed karvo: unexpected output"; cat "$work/sizes.txt"; exit 1; }
for p in karvo hostdist fasta2matrix; do
  [ -f "$work/prefix/share/man/man1/$p.1.gz" ] ||
    { echo "manual page of $p not installed"; exit 1; }
done

echo "== make package"
rm -f build/*.deb
make package > "$work/package.log" ||
  { cat "$work/package.log"; exit 1; }
deb=$(ls build/karvo_*.deb)
dpkg -x "$deb" "$work/root"
"$work/root/usr/bin/karvo" -c -X examples/symbionts.phy \
  examples/symbiont-hosts.txt > "$work/consensus.txt" 2> /dev/null
[ "$(wc -l < "$work/consensus.txt")" -eq 7 ] ||
  { echo "packaged karvo: unexpected output"; head -3 "$work/consensus.txt"; exit 1; }
# No error and no warning (the infos are shown too); what is overridden
# says why in doc/lintian/karvo.
if command -v lintian > /dev/null 2>&1; then
  echo "== lintian"
  rc=0
  lintian --info --show-overrides --fail-on error,warning \
    build/karvo_*.deb build/libzurud-dev_*.deb > "$work/lintian.log" 2>&1 ||
    rc=$?
  grep -v '^N: \|running with root privileges' "$work/lintian.log" || true
  [ "$rc" -eq 0 ] || { echo "lintian: errors or warnings"; exit 1; }
fi
if command -v hardening-check > /dev/null 2>&1; then
  echo "== hardening-check"
  # Fortified functions are left out: see doc/lintian/karvo.
  hardening-check --nofortify --nocfprotection \
    "$work"/root/usr/bin/* || exit 1
fi
echo "== install and package: ok ($(ls build/*.deb | xargs -n1 basename | tr '\n' ' '))"
