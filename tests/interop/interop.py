#!/usr/bin/python3
"""karvo's host matrices against the field's readers, and the reverse.

    interop.py --karvo KARVO --readme README PROGRAM

PROGRAM is one of: ape, biopython, dendropy, dnapars, iqtree, raxml (karvo's
output in every layout, fed to that program), biopython-writes,
dendropy-writes, seqret-writes, mafft-writes (data files written by that
program, read by karvo: see writes.py).

The expectations are the tables of README.md under "Which program reads
which layout": a "yes" cell means the program reads the file and gives back
the hosts, labels and cells that karvo wrote (or, the other way, karvo gives
the host matrix and warnings of its own copy of the data); a "no" cell means
the file is refused or read as something else, and the test records which.
A change either way fails the test until the README says so.

Exit status: 0 when every cell holds, 1 when one does not, 77 when the
program is not installed (CTest counts that as skipped; with the environment
variable KARVO_INTEROP_REQUIRED set, as CI does, it is a failure instead).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

import writes
from tables import SKIP, Checker, Refused, first_line, readme_tables


# The associate matrix: eleven lice, twelve sites. Site 11 gives, with -g, a
# gap-only host ("-"), a gap and one base (the base) and a gap with two bases
# ("?"); site 12 is missing everywhere, so every host gets "?" there and
# RAxML writes the matrix back without it. Rattus_norvegicus carries every
# louse, so its consensus row is mostly ambiguity codes and its group size
# has two digits.
DATA = """\
 11 12
Pflav_1  ACGTACGTAC-?
Pflav_2  ACGTACGAAC-?
Pflav_3  ACTTACGTAC-?
Hsylv_1  ACGTTCGTACG?
Hsylv_2  GCGTACGTAC-?
Parva_1  acgaacgtacg?
Parva_2  acgaacgtac-?
Parva_3  tcgaacgtcca?
Pmusc_1  ACGTACGTACG?
Pmusc_2  ACGTACGTACGN
Snorv_1  ACGTACTTACGN
"""

HOSTS = {
    "Apodemus_flavicollis": ["Pflav_1", "Pflav_2", "Pflav_3"],
    "Mus_musculus": ["Hsylv_1", "Hsylv_2"],
    "Myodes": ["Parva_1", "Parva_2", "Parva_3"],
    "Sorex": ["Pmusc_1", "Pmusc_2", "Pflav_1"],
    "Rattus_norvegicus": ["Pflav_1", "Pflav_2", "Pflav_3", "Hsylv_1",
                          "Hsylv_2", "Parva_1", "Parva_2", "Parva_3",
                          "Pmusc_1", "Pmusc_2", "Snorv_1"],
    "Talpa": ["Snorv_1"],  # one louse: removed with a warning
}

# The same groups under host names in several scripts (Latin letters
# beyond ASCII, Greek, Cyrillic, CJK), written in the layouts that keep
# names whole: Biopython, DendroPy and ape must read them back wherever they
# read the ASCII names (IQ-TREE writes such letters back as "_").
UTF8_HOSTS = dict(zip(["Ørsted_Åland", "Ελλάς", "Москва", "東京_大阪",
                       "Łódź", "Talpa"], HOSTS.values()))
UTF8_LAYOUTS = ["-X", "-N", "-E"]


def associations(hosts):
    return "".join(f"{para}\t{host}\n"
                   for host, paras in hosts.items() for para in paras)

# The analyses per kind of table row: a discrete one with ambiguity codes,
# "?" and "-", and the three numeric ones.
KINDS = {
    "discrete": [["-c", "-g"]],
    "numbers": [["-e"], ["-f"], ["-s"]],
}
LAYOUTS = ["-P", "-X", "-C", "-N", "-E"]


# ---------------------------------------------------------------------------
# karvo's side: what it wrote, read with its own rules.

class Matrix:
    """Host labels in row order and the cells of each row: a string for
    discrete data, a list of numbers otherwise."""

    def __init__(self, rows):
        self.rows = rows  # list of (label, cells)

    def labels(self):
        return [label for label, _ in self.rows]

    def __repr__(self):
        return "\n".join(f"  {label!r}: {cells!r}" for label, cells in
                         self.rows)


def parse_karvo(text, layout, kind):
    """The host matrix as karvo means it, from its output in `layout`."""
    def cells_of(fields):
        if kind == "discrete":
            return "".join(fields)
        return [float(f) for f in fields]

    lines = text.split("\n")
    rows = []
    if layout in ("-N", "-E"):
        start = lines.index("\tmatrix") + 1
        end = lines.index("\t;")
        for line in lines[start:end]:
            if line.startswith("["):
                continue  # the column ruler
            fields = line.split("\t")
            if fields[-1].startswith("["):
                fields = fields[:-1]  # the row comment: the group size
            label = fields[0].rstrip(" ")
            if layout == "-E":
                label = label[1:-1]
            rows.append((label, cells_of(fields[1:])))
    else:
        for line in lines[1:]:
            if not line:
                continue
            fields = line.split("\t")
            if layout == "-C":
                fields = [fields[0]] + fields[2:]
            rows.append((fields[0].rstrip(" "), cells_of(fields[1:])))
    return Matrix(rows)


def run_karvo(karvo, work, options, layout, hosts=HOSTS):
    """Runs karvo on the fixed data; returns the output file's path and the
    host matrix it holds."""
    data = os.path.join(work, "lice.phy")
    assocs = os.path.join(work, "lice-hosts.txt")
    with open(data, "w") as f:
        f.write(DATA)
    with open(assocs, "w", encoding="utf-8") as f:
        f.write(associations(hosts))
    name = "hosts" + "".join(options) + layout
    if hosts is not HOSTS:
        name += "-utf8"
    out = os.path.join(work, name.replace("-", "_") + ".txt")
    result = subprocess.run([karvo, *options, layout, data, assocs],
                            capture_output=True, encoding="utf-8")
    if result.returncode != 0:
        raise RuntimeError(f"karvo {' '.join(options)} {layout} failed: "
                           f"{result.stderr}")
    if "WARNING: Removing host Talpa" not in result.stderr:
        raise RuntimeError("karvo did not remove the one-louse host")
    with open(out, "w", encoding="utf-8") as f:
        f.write(result.stdout)
    kind = "discrete" if "-c" in options else "numbers"
    matrix = parse_karvo(result.stdout, layout, kind)
    if kind == "discrete":
        symbols = set("".join(cells for _, cells in matrix.rows))
        if not {"-", "?"} <= symbols or not symbols & set("rykmswhbvdn"):
            raise RuntimeError("the data no longer give gaps, \"?\" and "
                               "ambiguity codes in the consensus")
    return out, matrix


def layout_row(layout, kind):
    return f"`{layout}` {kind}"


# ---------------------------------------------------------------------------
# Comparing what a program read with what karvo wrote.

def same(expected, got, kind, fold_case=False, missing_as_gap=False,
         label_map=None):
    """None when `got` holds the hosts, labels and cells of `expected` (up
    to the stated conventions of the reader), else the first difference."""
    want = expected.rows
    if label_map:
        want = [(label_map(l), c) for l, c in want]
    if [l for l, _ in want] != got.labels():
        return f"labels {got.labels()} instead of {[l for l, _ in want]}"
    for (label, w), (_, g) in zip(want, got.rows):
        if kind == "discrete" or isinstance(g, str):
            if not isinstance(w, str):
                # A number matrix read as symbols: the digits of each value.
                w = "".join(f"{v:g}" for v in w)
            if fold_case:
                w, g = w.lower(), g.lower()
            if missing_as_gap:
                w, g = w.replace("?", "-"), g.replace("?", "-")
            if w != g:
                return f"row {label}: {g!r} instead of {w!r}"
        elif list(g) != list(w):
            return f"row {label}: {list(g)!r} instead of {w!r}"
    return None



def for_each_output(karvo, work, checker, column, read, utf8=False):
    """Every layout of every analysis through `read(path, layout, kind,
    expected)`, checked against the README cell of `column`; with `utf8`,
    the discrete output of UTF-8 host names too, against the same cells."""
    for layout in LAYOUTS:
        for kind, analyses in KINDS.items():
            for options in analyses:
                path, expected = run_karvo(karvo, work, options, layout)
                checker.check(layout_row(layout, kind), column,
                              lambda: read(path, layout, kind, expected),
                              f" (karvo {' '.join(options)} {layout})")
    options = KINDS["discrete"][0]
    for layout in UTF8_LAYOUTS if utf8 else []:
        path, expected = run_karvo(karvo, work, options, layout, UTF8_HOSTS)
        checker.check(layout_row(layout, "discrete"), column,
                      lambda: read(path, layout, "discrete", expected),
                      f" (karvo {' '.join(options)} {layout}, UTF-8 host "
                      "names)")


# ---------------------------------------------------------------------------
# Readers.

def biopython(args, work, checker):
    try:
        from Bio import AlignIO
        from Bio.Nexus import Nexus
    except ImportError:
        print("SKIP: Biopython is not installed (Debian package "
              "python3-biopython)")
        return SKIP
    import warnings

    def alignio(fmt):
        def read(path, layout, kind, expected):
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    alignment = AlignIO.read(path, fmt)
            except Exception as e:  # every parse failure is a refusal
                raise Refused(first_line(e))
            got = Matrix([(r.id, str(r.seq)) for r in alignment])
            return same(expected, got, kind)
        return read

    def nexus(path, layout, kind, expected):
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                n = Nexus.Nexus(path)
        except Exception as e:
            raise Refused(first_line(e))
        got = Matrix([(t, str(n.matrix[t])) for t in n.taxlabels])
        return same(expected, got, kind)

    for column, read in (("Biopython `phylip`", alignio("phylip")),
                         ("Biopython `phylip-relaxed`",
                          alignio("phylip-relaxed")),
                         ("Bio.Nexus", nexus)):
        for_each_output(args.karvo, work, checker, column, read, utf8=True)
    return checker.status()


def dendropy_reader(args, work, checker):
    try:
        import dendropy
    except ImportError:
        print("SKIP: DendroPy is not installed (Debian package "
              "python3-dendropy)")
        return SKIP

    def matrix_of(m):
        rows = []
        for taxon in m.taxon_namespace:
            seq = m[taxon]
            if isinstance(m, dendropy.ContinuousCharacterMatrix):
                rows.append((taxon.label, [float(v) for v in seq.values()]))
            else:
                rows.append((taxon.label,
                             "".join(str(s) for s in seq.values())))
        return Matrix(rows)

    def read(path, layout, kind, expected):
        try:
            if layout in ("-N", "-E"):
                data = dendropy.DataSet.get(path=path, schema="nexus")
                if len(data.char_matrices) != 1:
                    raise Refused(f"{len(data.char_matrices)} matrices")
                m = data.char_matrices[0]
            elif kind == "discrete":
                m = dendropy.DnaCharacterMatrix.get(path=path,
                                                    schema="phylip")
            else:
                m = dendropy.ContinuousCharacterMatrix.get(path=path,
                                                           schema="phylip")
        except Refused:
            raise
        except Exception as e:
            raise Refused(first_line(e))
        # Unquoted NEXUS labels follow the NEXUS rule: "_" stands for a blank.
        label_map = (lambda l: l.replace("_", " ")) if layout == "-N" else None
        return same(expected, matrix_of(m), kind, fold_case=True,
                    label_map=label_map)

    for_each_output(args.karvo, work, checker, "DendroPy", read, utf8=True)
    return checker.status()


def dnapars(args, work, checker):
    program = shutil.which("phylip")
    if program is None:
        print("SKIP: PHYLIP is not installed (Debian package phylip)")
        return SKIP

    def read(path, layout, kind, expected):
        run = tempfile.mkdtemp(dir=work)
        shutil.copy(path, os.path.join(run, "infile"))
        # Menu: sequential input (I), print the data (1), no progress (2),
        # accept (Y).
        result = subprocess.run([program, "dnapars"], cwd=run,
                                input="I\n1\n2\nY\n", capture_output=True,
                                text=True, timeout=60)
        errors = [l for l in result.stdout.splitlines() if "ERROR" in l]
        if result.returncode != 0 or errors:
            raise Refused(errors[0].strip() if errors else
                          f"exit status {result.returncode}")
        with open(os.path.join(run, "outfile")) as f:
            out = f.read().split("\n")
        # The data print: names in ten columns, sites in blocks of ten, a dot
        # for a site equal to the first species'.
        start = out.index("----           ---------") + 2
        rows = []
        for line in out[start:]:
            if not line.strip():
                break
            site = line[13:].replace(" ", "")
            if rows:
                site = "".join(r if s == "." else s
                               for s, r in zip(site, rows[0][1]))
            rows.append((line[:10].rstrip(" "), site))
        return same(expected, Matrix(rows), kind, fold_case=True)

    for_each_output(args.karvo, work, checker, "dnapars", read)
    return checker.status()


def iqtree(args, work, checker):
    program = shutil.which("iqtree2") or shutil.which("iqtree")
    if program is None:
        print("SKIP: IQ-TREE is not installed (Debian package iqtree)")
        return SKIP

    def reader(seqtype):
        def read(path, layout, kind, expected):
            run = tempfile.mkdtemp(dir=work)
            out = os.path.join(run, "back.fa")
            command = [program, "-s", path, "--prefix",
                       os.path.join(run, "run"), "--out-aln", out,
                       "--out-format", "fasta", "-redo", "-nt", "1"]
            if seqtype:
                command += ["-st", seqtype]
            result = subprocess.run(command, capture_output=True, text=True,
                                    timeout=120)
            log = result.stdout + result.stderr
            if result.returncode != 0 or not os.path.exists(out):
                # The last error line gives the reason (the ones before it
                # may only give the place).
                errors = [l for l in log.splitlines()
                          if l.startswith("ERROR") and l.strip() != "ERROR:"]
                raise Refused(errors[-1] if errors else
                              f"exit status {result.returncode}")
            detected = re.search(r"Alignment most likely contains (\S+)",
                                 log)
            if seqtype is None and detected and \
                    detected.group(1) != "DNA/RNA":
                return f"taken for {detected.group(1)} data"
            rows = []
            with open(out) as f:
                for line in f.read().split("\n"):
                    if line.startswith(">"):
                        rows.append([line[1:].strip(), ""])
                    elif rows:
                        rows[-1][1] += line.strip()
            # IQ-TREE keeps no difference between "?" and "-": both are
            # missing, written back as "-".
            return same(expected, Matrix([tuple(r) for r in rows]), kind,
                        fold_case=True, missing_as_gap=True)
        return read

    for_each_output(args.karvo, work, checker, "IQ-TREE", reader(None))
    for_each_output(args.karvo, work, checker, "IQ-TREE `-st DNA`",
                    reader("DNA"))
    return checker.status()


def raxml(args, work, checker):
    program = shutil.which("raxmlHPC")
    if program is None:
        print("SKIP: RAxML is not installed (Debian package raxml)")
        return SKIP

    def read(path, layout, kind, expected):
        run = tempfile.mkdtemp(dir=work)
        # -f c only checks that the alignment reads; because one site is
        # missing in every row, RAxML also writes the matrix back without it
        # (to <alignment>.reduced), which is what is compared.
        copy = os.path.join(run, "hosts.phy")
        shutil.copy(path, copy)
        result = subprocess.run([program, "-f", "c", "-m", "GTRCAT", "-p",
                                 "1", "-s", copy, "-n", "check", "-w", run],
                                capture_output=True, text=True, timeout=120)
        log = result.stdout + result.stderr
        if result.returncode != 0 or \
                "Alignment format can be read by RAxML" not in log:
            errors = [l for l in log.splitlines()
                      if re.search(r"ERROR|can't|error", l)]
            raise Refused(errors[0].strip() if errors else
                          f"exit status {result.returncode}")
        reduced = copy + ".reduced"
        if not os.path.exists(reduced):
            return "no reduced alignment written to compare"
        with open(reduced) as f:
            lines = f.read().split("\n")
        rows = [tuple(l.split()) for l in lines[1:] if l.strip()]
        # The wholly missing last site is what RAxML left out.
        want = Matrix([(l, c[:-1]) for l, c in expected.rows])
        return same(want, Matrix(rows), kind, fold_case=True,
                    missing_as_gap=True)

    for_each_output(args.karvo, work, checker, "RAxML", read)
    return checker.status()


# One R process reads every file: a line "dna PATH" or "nexus PATH" on its
# standard input, and back one row per line (the name, a 0x1f byte, the
# cells: read.dna one character each, read.nexus.data the tokens joined by
# 0x1e), or "ERROR: " and the reason, then a line "END".
APE_SCRIPT = r"""
suppressMessages(library(ape))
input <- file("stdin", open = "r")
while (length(request <- readLines(input, n = 1)) > 0) {
  how <- sub(" .*", "", request)
  path <- sub("^[^ ]* ", "", request)
  sink(nullfile())  # read.nexus.data talks on standard output
  x <- tryCatch(suppressWarnings(
    if (how == "dna") read.dna(path, format = "sequential", as.character = TRUE)
    else read.nexus.data(path)),
    error = function(e) paste("ERROR:", conditionMessage(e)))
  sink()
  if (is.character(x) && is.null(dim(x)) && !is.list(x)) {
    cat(gsub("\n", " ", x), "\n", sep = "")
  } else if (is.list(x)) {
    for (n in names(x))
      cat(n, "\x1f", paste(x[[n]], collapse = "\x1e"), "\n", sep = "")
  } else {
    for (i in seq_len(nrow(x)))
      cat(rownames(x)[i], "\x1f", paste(x[i, ], collapse = ""), "\n", sep = "")
  }
  cat("END\n")
  flush(stdout())
}
"""


def ape(args, work, checker):
    program = shutil.which("Rscript")
    if program is None or subprocess.run(
            [program, "-e", "library(ape)"], capture_output=True).returncode:
        print("SKIP: R's ape is not installed (Debian package r-cran-ape)")
        return SKIP
    script = os.path.join(work, "ape.R")
    with open(script, "w") as f:
        f.write(APE_SCRIPT)
    r = subprocess.Popen([program, script], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, text=True)

    def ask(how, path):
        r.stdin.write(f"{how} {path}\n")
        r.stdin.flush()
        lines = []
        while (line := r.stdout.readline()) not in ("END\n", ""):
            lines.append(line.rstrip("\n"))
        return lines

    def reader(how, trim=False):
        def read(path, layout, kind, expected):
            lines = ask(how, path)
            if lines and lines[0].startswith("ERROR:"):
                raise Refused(first_line(lines[0]))
            rows = []
            for line in lines:
                if "\x1f" not in line:
                    raise RuntimeError(f"ape gave {line!r} for {path}")
                name, cells = line.split("\x1f")
                if how == "nexus" and kind == "numbers":
                    cells = cells.split("\x1e")
                    try:
                        cells = [float(c) for c in cells]
                    except ValueError:
                        cells = "".join(cells)
                else:
                    cells = cells.replace("\x1e", "")
                rows.append((name.strip() if trim else name, cells))
            # Both readers give the cells in lower case.
            return same(expected, Matrix(rows), kind, fold_case=True)
        return read

    try:
        for column, read in (("ape `read.dna`", reader("dna")),
                             ("ape `read.dna`, names trimmed",
                              reader("dna", trim=True)),
                             ("ape `read.nexus.data`", reader("nexus"))):
            for_each_output(args.karvo, work, checker, column, read,
                            utf8=True)
    finally:
        r.stdin.close()
        r.wait(timeout=60)
    return checker.status()


PROGRAMS = {
    "ape": ape,
    "biopython": biopython,
    "dendropy": dendropy_reader,
    "dnapars": dnapars,
    "iqtree": iqtree,
    "raxml": raxml,
    **writes.PROGRAMS,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--karvo", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("program", choices=sorted(PROGRAMS))
    args = parser.parse_args()
    checker = Checker(readme_tables(args.readme))
    with tempfile.TemporaryDirectory(prefix="karvo-interop-") as work:
        status = PROGRAMS[args.program](args, work, checker)
    if status == SKIP and os.environ.get("KARVO_INTEROP_REQUIRED"):
        print("FAIL: KARVO_INTEROP_REQUIRED is set, so a missing reader is "
              "a failure")
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main())
