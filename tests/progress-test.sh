#!/usr/bin/env bash
# progress-test.sh BIN_DIR: the progress line of karvo through a
# pseudo-terminal (script, from util-linux). A run that reads for more than a
# second shows the line, rewritten in place, and erases it; a quicker run,
# and any run whose standard error is a file, shows nothing; standard output
# is the same in every case.
set -u
karvo=$(cd "$1" && pwd)/karvo
command -v script > /dev/null || { echo "missing: script"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf 'p1 H\np2 H\n' > a.txt
printf ' 2 4\np1 acgt\np2 acga\n' > d.phy
"$karvo" -c d.phy a.txt > want.txt 2> /dev/null
# The data file arrives in two parts, the second after a pause.
cat > slow.sh <<'SH'
(printf ' 2 4\np1 acgt\n'; sleep 1.8; printf 'p2 acga\n') | "$1" -c - a.txt > out.txt
SH
fail=0
check() { [ "$1" = "$2" ] || { echo "FAIL: $3"; fail=1; }; }

script -qfec "bash slow.sh $karvo" /dev/null > pty.txt 2>&1
check "$(cat out.txt)" "$(cat want.txt)" "standard output changed by the display"
grep -q $'\rkarvo: reading standard input: ' pty.txt || { echo "FAIL: no progress line"; od -c pty.txt | head; fail=1; }
check "$(tail -c 4 pty.txt | od -An -c | tr -d ' ')" '\r033[K' "the line is not erased at the end"

script -qfec "$karvo -c d.phy a.txt > out.txt" /dev/null > quick.txt 2>&1
check "$(cat quick.txt)" "" "a run of less than a second shows a line"

bash slow.sh "$karvo" 2> err.txt
check "$(cat err.txt)" "" "standard error that is a file gets the line"
check "$(cat out.txt)" "$(cat want.txt)" "standard output differs without a terminal"
[ "$fail" -eq 0 ] && echo "progress line: shown on a terminal, erased, nothing elsewhere"
exit "$fail"
