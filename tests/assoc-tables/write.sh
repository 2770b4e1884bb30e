#!/usr/bin/env bash
# Writes the association tables of this folder with the programs users keep
# them in: R (write.table, write.csv, write.csv2), Python's csv module,
# pandas and LibreOffice Calc (headless). Each file holds the same six pairs
# (as pairs, or as an incidence matrix); assoc_table_test reads them all.
# Needs r-base-core, python3-pandas and libreoffice-calc-nogui.
set -euo pipefail
cd "$(dirname "$0")"

Rscript - <<'R'
d <- data.frame(
  parasite = c("Pol_flav_01", "Pol_flav_02", "Hep_sylv_01", "Hep_sylv_01",
               "Mas_rat_01", "Syp_mus_01"),
  host = c("Apodemus flavicollis", "Apodemus flavicollis",
           "Apodemus sylvaticus", "Myodes glareolus",
           "Rattus rattus \u00d7 R. tanezumi",
           "Mus musculus \"domesticus\", lab"),
  weight = c(0.5, 1, 2, 0.25, 1, 3))
write.table(d, "r-write-table.txt")
write.table(d, "r-write-table-tab.tsv", sep = "\t", quote = FALSE,
            row.names = FALSE)
write.table(d, "r-write-table-tab-quoted.tsv", sep = "\t")
write.csv(d, "r-write-csv.csv")
write.csv(d, "r-write-csv-no-row-names.csv", row.names = FALSE)
write.csv2(d, "r-write-csv2.csv")
# The host x associate matrix that ape's parafit takes (hosts as rows).
HP <- unclass(table(d$host, d$parasite))
write.table(HP, "r-incidence-hosts-as-rows.tsv", sep = "\t", quote = FALSE)
write.csv(t(HP) > 0, "r-incidence-logical.csv")
R

/usr/bin/python3 - <<'PY'
import csv
import pandas as pd

pairs = [
    ("Pol_flav_01", "Apodemus flavicollis", 0.5),
    ("Pol_flav_02", "Apodemus flavicollis", 1),
    ("Hep_sylv_01", "Apodemus sylvaticus", 2),
    ("Hep_sylv_01", "Myodes glareolus", 0.25),
    ("Mas_rat_01", "Rattus rattus \u00d7 R. tanezumi", 1),
    ("Syp_mus_01", 'Mus musculus "domesticus", lab', 3),
]
with open("python-csv.csv", "w", newline="", encoding="utf-8") as f:
    w = csv.writer(f)
    w.writerow(["parasite", "host", "weight"])
    w.writerows(pairs)
with open("python-csv-excel-tab.tsv", "w", newline="",
          encoding="utf-8") as f:
    csv.writer(f, dialect="excel-tab").writerows(pairs)
with open("python-csv-quote-all.csv", "w", newline="",
          encoding="utf-8-sig") as f:
    w = csv.writer(f, quoting=csv.QUOTE_ALL)
    w.writerow(["Symbiont", "Host species", "weight"])
    w.writerows(pairs)
d = pd.DataFrame(pairs, columns=["parasite", "host", "weight"])
d.to_csv("pandas-to-csv.csv")
d.to_csv("pandas-to-csv-tab.tsv", sep="\t", index=False)
d.to_csv("pandas-to-csv-semicolon.csv", sep=";", index=False,
         decimal=",")
pd.crosstab(d.parasite, d.host).to_csv("pandas-incidence.csv")
PY

# LibreOffice Calc: Python's CSV opened and saved as the spreadsheet's own
# text formats (filter options: separator, quote, character set, first line;
# 76 is UTF-8, 65535 UTF-16 with its byte order mark).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calc() {  # calc OUT_NAME FILTER_OPTIONS
  soffice -env:UserInstallation=file://"$work"/profile --headless \
    --infilter="Text - txt - csv (StarCalc):44,34,76,1" \
    --convert-to "csv:Text - txt - csv (StarCalc):$2" \
    --outdir "$work" python-csv.csv > /dev/null
  mv "$work/python-csv.csv" "$1"
}
calc libreoffice-semicolon.csv 59,34,76,1
calc libreoffice-unicode.txt 9,34,65535,1
calc libreoffice-tab-quote-all.tsv 9,34,76,1,,0,true,true
