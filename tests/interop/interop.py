#!/usr/bin/python3
"""karvo's host matrices against the field's readers, and the reverse.

    interop.py --karvo KARVO --readme README PROGRAM

PROGRAM is one of: ape, biopython, dendropy, dnapars, iqtree, mrbayes, raxml
(karvo's output of nucleotides, protein and standard characters in every
layout, fed to that program; see outputs.py), ape-writes, biopython-writes,
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
from outputs import (NUCLEOTIDE, PROTEIN_OUTPUT, STANDARD_OUTPUT, Matrix,
                     for_each_output, same)
from tables import SKIP, Checker, Refused, first_line, readme_tables


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
        # A polymorphism of standard characters is its states in braces.
        got = Matrix([(t, str(n.matrix[t])) for t in n.taxlabels])
        return same(expected, got, kind)

    for alphabet in (NUCLEOTIDE, PROTEIN_OUTPUT, STANDARD_OUTPUT):
        for column, read in (("Biopython `phylip`", alignio("phylip")),
                             ("Biopython `phylip-relaxed`",
                              alignio("phylip-relaxed")),
                             ("Bio.Nexus", nexus)):
            for_each_output(args.karvo, work, checker, alphabet, column, read,
                            utf8=alphabet is NUCLEOTIDE)
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
                # A polymorphism's state is written "{0,1}".
                rows.append((taxon.label, "".join(
                    str(s).replace(",", "") for s in seq.values())))
        return Matrix(rows)

    def reader(get):
        def read(path, layout, kind, expected):
            schema = "nexus" if layout in ("-N", "-E") else "phylip"
            try:
                m = get(path, schema, kind)
            except Refused:
                raise
            except Exception as e:
                raise Refused(first_line(e))
            # Unquoted NEXUS labels follow the NEXUS rule: "_" stands for a
            # blank.
            label_map = (lambda l: l.replace("_", " ")) if layout == "-N" \
                else None
            return same(expected, matrix_of(m), kind, fold_case=True,
                        label_map=label_map)
        return read

    def data_set(data_type):
        # PHYLIP does not say its data type: the call is told it.
        def get(path, schema, kind):
            options = {} if schema == "nexus" else {
                "data_type": "continuous" if kind == "numbers" else data_type}
            data = dendropy.DataSet.get(path=path, schema=schema, **options)
            if len(data.char_matrices) != 1:
                raise Refused(f"{len(data.char_matrices)} matrices")
            return data.char_matrices[0]
        return get

    def typed(matrix_type):
        return lambda path, schema, kind: matrix_type.get(path=path,
                                                          schema=schema)

    for alphabet, data_type, matrix_type in (
            (NUCLEOTIDE, "dna", dendropy.DnaCharacterMatrix),
            (PROTEIN_OUTPUT, "protein", dendropy.ProteinCharacterMatrix),
            (STANDARD_OUTPUT, "standard", dendropy.StandardCharacterMatrix)):
        for column, get in (
                ("DendroPy `DataSet.get`", data_set(data_type)),
                (f"DendroPy `{matrix_type.__name__}.get`", typed(matrix_type)),
                ("DendroPy `ContinuousCharacterMatrix.get`",
                 typed(dendropy.ContinuousCharacterMatrix))):
            for_each_output(args.karvo, work, checker, alphabet, column,
                            reader(get), utf8=alphabet is NUCLEOTIDE)
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

    for_each_output(args.karvo, work, checker, NUCLEOTIDE, "dnapars", read)
    return checker.status()


def iqtree(args, work, checker):
    program = shutil.which("iqtree2") or shutil.which("iqtree")
    if program is None:
        print("SKIP: IQ-TREE is not installed (Debian package iqtree)")
        return SKIP

    def reader(seqtype, as_gap):
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
            return same(expected, Matrix([tuple(r) for r in rows]), kind,
                        fold_case=True, as_gap=as_gap)
        return read

    # IQ-TREE keeps no difference between "?" and "-", nor, for protein, X:
    # each is missing, written back as "-".
    for alphabet, column, read in (
            (NUCLEOTIDE, "IQ-TREE", reader(None, "?")),
            (NUCLEOTIDE, "IQ-TREE `-st DNA`", reader("DNA", "?")),
            (PROTEIN_OUTPUT, "IQ-TREE `-st AA`", reader("AA", "?x")),
            (STANDARD_OUTPUT, "IQ-TREE `-st MORPH`", reader("MORPH", "?"))):
        for_each_output(args.karvo, work, checker, alphabet, column, read)
    return checker.status()


def raxml(args, work, checker):
    program = shutil.which("raxmlHPC")
    if program is None:
        print("SKIP: RAxML is not installed (Debian package raxml)")
        return SKIP

    def reader(model, as_gap):
        def read(path, layout, kind, expected):
            run = tempfile.mkdtemp(dir=work)
            # -f c only checks that the alignment reads; because one site is
            # missing in every row, RAxML also writes the matrix back without
            # it (to <alignment>.reduced), which is what is compared.
            copy = os.path.join(run, "hosts.phy")
            shutil.copy(path, copy)
            result = subprocess.run(
                [program, "-f", "c", "-m", model, "-p", "1", "-s", copy,
                 "-n", "check", "-w", run],
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
                        as_gap=as_gap)
        return read

    # RAxML, too, treats "?", "-" and a protein's X alike.
    for alphabet, column, read in (
            (NUCLEOTIDE, "RAxML", reader("GTRCAT", "?")),
            (PROTEIN_OUTPUT, "RAxML `-m PROTGAMMAWAG`",
             reader("PROTGAMMAWAG", "?x"))):
        for_each_output(args.karvo, work, checker, alphabet, column, read)
    return checker.status()


def mrbayes(args, work, checker):
    program = shutil.which("mb")
    if program is None:
        print("SKIP: MrBayes is not installed (Debian package mrbayes)")
        return SKIP

    def reader(coding):
        def read(path, layout, kind, expected):
            run = tempfile.mkdtemp(dir=work)
            shutil.copy(path, os.path.join(run, "hosts.nex"))
            # Read the file, print the matrix as read, then a few
            # generations of a chain to show that it can be analysed.
            commands = ["set autoclose=yes nowarn=yes quitonerror=yes "
                        "seed=1 swapseed=1", "execute hosts.nex",
                        "showmatrix", *coding,
                        "mcmc ngen=100 samplefreq=50 printfreq=100 "
                        "diagnfreq=100 nruns=1 nchains=1", "quit"]
            result = subprocess.run([program], cwd=run,
                                    input="\n".join(commands) + "\n",
                                    capture_output=True, text=True,
                                    timeout=120)
            log = result.stdout.split("\n")
            if result.returncode != 0:
                start = next((i for i, l in enumerate(log)
                              if "Executing file" in l), 0)
                reasons = [l.strip() for l in log[start:] if re.match(
                    r"\s*(Unrecognized|Instead found|No valid match|"
                    r"Could not|Error while|Error in)", l)]
                raise Refused(reasons[0] if reasons else
                              f"exit status {result.returncode}")
            # The matrix print: a ruler of tens, then a name and the cells a
            # line, in blocks when the matrix is wide.
            start = log.index("MrBayes > showmatrix") + 1
            rows = []
            for line in log[start:]:
                if line.startswith("MrBayes >"):
                    break
                fields = line.split()
                if len(fields) == 2 and not fields[0].isdigit():
                    rows.append(tuple(fields))
            # showmatrix writes a polymorphism as "*" (and says
            # "Matrix contains polymorphisms, interpreted as ambiguity").
            return same(expected, Matrix(rows), kind, fold_case=True,
                        polymorphism=lambda text: "*")
        return read

    # Standard characters whose states could all be one (as a consensus
    # with polymorphisms often may) are left out unless coding=all says
    # that constant characters were scored too.
    for alphabet, read in ((PROTEIN_OUTPUT, reader([])),
                           (STANDARD_OUTPUT,
                            reader(["lset coding=all"]))):
        for_each_output(args.karvo, work, checker, alphabet, "MrBayes", read)
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
                    # read.nexus.data gives a polymorphism as "0/1".
                    cells = "".join(f"{{{c.replace('/', '')}}}" if "/" in c
                                    else c for c in cells.split("\x1e"))
                rows.append((name.strip() if trim else name, cells))
            # Both readers give the cells in lower case.
            return same(expected, Matrix(rows), kind, fold_case=True)
        return read

    try:
        for alphabet, column, read in (
                (NUCLEOTIDE, "ape `read.dna`", reader("dna")),
                (NUCLEOTIDE, "ape `read.dna`, names trimmed",
                 reader("dna", trim=True)),
                (NUCLEOTIDE, "ape `read.nexus.data`", reader("nexus")),
                (PROTEIN_OUTPUT, "ape `read.nexus.data`", reader("nexus")),
                (STANDARD_OUTPUT, "ape `read.nexus.data`", reader("nexus"))):
            for_each_output(args.karvo, work, checker, alphabet, column, read,
                            utf8=alphabet is NUCLEOTIDE)
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
    "mrbayes": mrbayes,
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
