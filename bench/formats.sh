#!/usr/bin/env bash
# The data file in every format karvo reads, timed: formats.sh [PRESET]
# (default medium; the preset's .phy is made by `make bench` first). The
# preset's sequential PHYLIP is converted to FASTA (60 sites a line),
# interleaved PHYLIP (blocks of 60), NEXUS and gzip; then `karvo -s` (the
# read and a trivial analysis) and `karvo -c` are timed on each, medians of
# BENCH_RUNS (5) runs, next to `cat` of the same file and, for gzip, `zcat`.
# Prints input GB/s of the -s runs, and checks that every format gives the
# same host matrix.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-medium}
runs=${BENCH_RUNS:-5}
build=${BENCH_BUILD:-build-bench}
data=bench/data
karvo=$build/karvo
[ -x "$karvo" ] || { echo "formats.sh: run make bench first"; exit 1; }
[ -f "$data/$preset.phy" ] || { echo "formats.sh: no $data/$preset.phy"; exit 1; }
grep -m1 'model name' /proc/cpuinfo | sed 's/^.*: /cpu: /'

python3 - "$data/$preset.phy" "$data/$preset" <<'EOF'
import os, sys
src, out = sys.argv[1], sys.argv[2]
if all(os.path.exists(out + e) for e in (".fasta", ".iphy", ".nex")):
    sys.exit(0)
lines = open(src, "rb").read().split(b"\n")
ntax, nchar = (int(x) for x in lines[0].split()[:2])
rows, i = [], 1
# Rows may run over several lines: gather sites until the row is whole.
while len(rows) < ntax:
    parts = lines[i].split()
    i += 1
    label, sites = parts[0], b"".join(parts[1:])
    while len(sites) < nchar:
        sites += b"".join(lines[i].split())
        i += 1
    rows.append((label, sites[:nchar]))
with open(out + ".fasta", "wb") as f:
    for label, s in rows:
        f.write(b">" + label + b"\n")
        for k in range(0, nchar, 60):
            f.write(s[k:k + 60] + b"\n")
with open(out + ".iphy", "wb") as f:
    f.write(b"%d %d\n" % (ntax, nchar))
    for k in range(0, nchar, 60):
        for label, s in rows:
            f.write((label + b" " if k == 0 else b"") + s[k:k + 60] + b"\n")
        f.write(b"\n")
with open(out + ".nex", "wb") as f:
    f.write(b"#NEXUS\nbegin data;\n\tdimensions ntax=%d nchar=%d;\n" % (ntax, nchar))
    f.write(b"\tformat datatype=dna gap=- missing=?;\n\tmatrix\n")
    for label, s in rows:
        f.write(label + b"\t" + s + b"\n")
    f.write(b";\nend;\n")
EOF
[ -f "$data/$preset.phy.gz" ] || gzip -k -6 "$data/$preset.phy"

# median SECONDS of $runs runs of a command, output to /dev/null
median() {
  python3 - "$runs" "$@" <<'EOF'
import subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(runs):
    t = time.monotonic()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.monotonic() - t)
print("%.3f" % sorted(times)[len(times) // 2])
EOF
}

hosts=$data/$preset.hosts
want=$("$karvo" -c "$data/$preset.phy" "$hosts" 2>/dev/null | md5sum)
printf '%-22s %8s %8s %8s %8s\n' format "cat s" "-s s" "-s GB/s" "-c s"
for f in phy fasta iphy nex phy.gz; do
  file=$data/$preset.$f
  opt=()
  [ "$f" = iphy ] && opt=(-i)
  got=$("$karvo" "${opt[@]}" -c "$file" "$hosts" 2>/dev/null | md5sum)
  [ "$got" = "$want" ] || { echo "formats.sh: $f gives another host matrix"; exit 1; }
  c=$(median cat "$file")
  s=$(median "$karvo" "${opt[@]}" -s "$file" "$hosts")
  v=$(median "$karvo" "${opt[@]}" -c "$file" "$hosts")
  size=$(stat -c %s "$file")
  [ "$f" = phy.gz ] && size=$(stat -c %s "$data/$preset.phy")
  printf '%-22s %8s %8s %8.2f %8s\n' "$f" "$c" "$s" \
    "$(python3 -c "print($size / 1e9 / max($s, 1e-9))")" "$v"
done
echo "zcat: $(median zcat "$data/$preset.phy.gz") s"
