#!/usr/bin/python3
"""karvo's tidy table (-T) read back by R's read.delim and pandas' read_csv.

    tidy.py --karvo KARVO

Both readers are called without options beyond the separator, as the README
tells users to call them, on the table of interop.py's lice with gaps as
states, a threshold and a minimum (so that NA stands in every kind of
column), under host names in several scripts and one holding a double
quote. Each must give the same columns, the same number of lines, every
count and code as karvo wrote it, NA exactly where karvo wrote NA, and the
entropies as numbers.

Exit status: 0 when both agree, 1 when one does not, 77 when R or pandas is
missing (a failure with KARVO_INTEROP_REQUIRED set, as CI does).
"""

import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile

from outputs import DATA, UTF8_HOSTS, associations

HOSTS = dict(UTF8_HOSTS)
HOSTS['Mus "the mouse"'] = HOSTS.pop("Łódź")

R_SCRIPT = r"""
x <- read.delim(commandArgs(TRUE)[1])
# Back as TAB-separated text: NA as NA, numbers with all their digits.
cat(paste(names(x), collapse = "\t"), "\n", sep = "")
for (i in seq_len(nrow(x)))
  cat(paste(sapply(x[i, ], function(v) if (is.na(v)) "NA" else
    if (is.numeric(v)) format(v, digits = 15) else as.character(v)),
    collapse = "\t"), "\n", sep = "")
cat("TYPES\t", paste(sapply(x, class), collapse = "\t"), "\n", sep = "")
"""


def karvo_table(karvo, work):
    data = os.path.join(work, "lice.phy")
    assocs = os.path.join(work, "lice-hosts.txt")
    with open(data, "w") as f:
        f.write(DATA)
    with open(assocs, "w", encoding="utf-8") as f:
        f.write(associations(HOSTS))
    out = os.path.join(work, "sites.tsv")
    result = subprocess.run([karvo, "-T", "-g", "-q", "0.5", "-k", "2", data,
                             assocs], capture_output=True, encoding="utf-8")
    if result.returncode != 0:
        raise RuntimeError(f"karvo -T failed: {result.stderr}")
    with open(out, "w", encoding="utf-8") as f:
        f.write(result.stdout)
    return out, result.stdout


def expected_rows(text):
    """The table as karvo means it: names, then rows of fields, the host
    unquoted."""
    lines = text.rstrip("\n").split("\n")
    header = lines[0].split("\t")
    rows = []
    for line in lines[1:]:
        fields = line.split("\t")
        if fields[0].startswith('"'):
            fields[0] = fields[0][1:-1].replace('""', '"')
        rows.append(fields)
    return header, rows


def compare(name, header, rows, got_header, got_rows):
    """None when the reader's rows hold karvo's values, else the first
    difference."""
    if len(got_rows) != len(rows):
        return f"{name}: {len(got_rows)} rows instead of {len(rows)}"
    if len(got_header) != len(header):
        return f"{name}: columns {got_header} instead of {header}"
    for want, got in zip(rows, got_rows):
        for column, w, g in zip(header, want, got):
            if w == "NA":
                ok = g is None
            elif column == "entropy":
                ok = g is not None and math.isclose(float(g), float(w),
                                                    rel_tol=1e-12)
            elif g is None:
                ok = False
            else:
                # Counts come back as numbers, codes and hosts as text.
                ok = str(g) == w or (w.isdigit() and float(g) == float(w))
            if not ok:
                return f"{name}: {column} of {want[0]} site {want[2]}: " \
                       f"{g!r} instead of {w!r}"
    if not any("NA" in r for r in rows):
        return "the table holds no NA to check"
    return None


def pandas_check(path, header, rows):
    import pandas as pd
    x = pd.read_csv(path, sep="\t")
    if str(x["entropy"].dtype) != "float64":
        return f"pandas: entropy is {x['entropy'].dtype}"
    got = [[None if pd.isna(v) else v for v in r]
           for r in x.itertuples(index=False)]
    return compare("pandas", header, rows, list(x.columns), got)


def r_check(path, work, header, rows):
    script = os.path.join(work, "read.R")
    with open(script, "w") as f:
        f.write(R_SCRIPT)
    result = subprocess.run(["Rscript", script, path], capture_output=True,
                            encoding="utf-8")
    if result.returncode != 0:
        return f"R: {result.stderr.strip()}"
    lines = result.stdout.rstrip("\n").split("\n")
    types = lines[-1].split("\t")[1:]
    if types[header.index("entropy")] != "numeric":
        return f"R: entropy is {types[header.index('entropy')]}"
    got = [[None if v == "NA" else v for v in line.split("\t")]
           for line in lines[1:-1]]
    return compare("R", header, rows, lines[0].split("\t"), got)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--karvo", required=True)
    args = parser.parse_args()
    missing = []
    try:
        import pandas  # noqa: F401
    except ImportError:
        missing.append("python3-pandas")
    if shutil.which("Rscript") is None:
        missing.append("r-base-core")
    if missing:
        print(f"SKIP: missing {', '.join(missing)}")
        return 1 if os.environ.get("KARVO_INTEROP_REQUIRED") else 77
    with tempfile.TemporaryDirectory(prefix="karvo-tidy-") as work:
        path, text = karvo_table(args.karvo, work)
        header, rows = expected_rows(text)
        failures = [f for f in (pandas_check(path, header, rows),
                                r_check(path, work, header, rows)) if f]
    for f in failures:
        print(f"FAIL: {f}")
    if not failures:
        print(f"R and pandas read the {len(rows)} lines of the tidy table")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
