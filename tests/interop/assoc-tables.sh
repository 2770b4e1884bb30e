#!/usr/bin/env bash
# assoc-tables.sh KARVO: association tables as R and pandas write them, made
# here by those programs, each read by karvo into the same host matrix as the
# plain pairs of words. Exit 77 when R or pandas is missing (a failure with
# KARVO_INTEROP_REQUIRED set, as CI does).
set -euo pipefail
karvo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
missing=()
command -v Rscript > /dev/null || missing+=(Rscript)
/usr/bin/python3 -c 'import pandas' 2> /dev/null || missing+=(python3-pandas)
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing: ${missing[*]}"
  [ -n "${KARVO_INTEROP_REQUIRED:-}" ] && exit 1
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf ' 6 4\nP1 acgt\nP2 acga\nP3 ccgt\nP4 acgg\nP5 tcgt\nP6 acgt\n' > d.phy
printf 'P1 Apodemus_sylvaticus\nP2 Apodemus_sylvaticus\nP3 Myodes_glareolus\nP4 Myodes_glareolus\nP5 Myodes_glareolus\nP6 Apodemus_sylvaticus\n' > pairs.txt
"$karvo" -c -N d.phy pairs.txt > want.nex 2> /dev/null

Rscript - <<'R'
a <- data.frame(parasite = c("P1", "P2", "P3", "P4", "P5", "P6"),
                host = c("Apodemus sylvaticus", "Apodemus sylvaticus",
                         "Myodes glareolus", "Myodes glareolus",
                         "Myodes glareolus", "Apodemus sylvaticus"))
write.csv(a, "r-write-csv.csv")
write.csv2(a, "r-write-csv2.csv", row.names = FALSE)
write.table(a, "r-write-table.txt")
write.table(a, "r-write-table-tab.txt", sep = "\t", quote = FALSE,
            row.names = FALSE)
HP <- table(a$host, a$parasite)
write.table(as.matrix(unclass(HP)), "r-incidence.txt", sep = "\t",
            quote = FALSE)
write.csv(t(as.matrix(unclass(HP))), "r-incidence-transposed.csv")
R
/usr/bin/python3 - <<'PY'
import pandas as pd
a = pd.DataFrame({"associate": ["P1", "P2", "P3", "P4", "P5", "P6"],
                  "host": ["Apodemus sylvaticus"] * 2 + ["Myodes glareolus"] * 3
                          + ["Apodemus sylvaticus"]})
a.to_csv("pandas-index.csv")
a.to_csv("pandas.tsv", sep="\t", index=False)
a.to_csv("pandas-semicolon.csv", sep=";", index=False)
pd.crosstab(a["host"], a["associate"]).to_csv("pandas-crosstab.csv")
PY

fail=0
for f in r-write-csv.csv r-write-csv2.csv r-write-table.txt \
         r-write-table-tab.txt r-incidence.txt r-incidence-transposed.csv \
         pandas-index.csv pandas.tsv pandas-semicolon.csv pandas-crosstab.csv; do
  if "$karvo" -c -N d.phy "$f" > got.nex 2> err.txt && cmp -s got.nex want.nex; then
    echo "ok   $f"
  else
    echo "FAIL $f"; cat err.txt; head -5 "$f"; fail=1
  fi
done
exit "$fail"
