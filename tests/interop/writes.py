"""Data files written by the field's programs, read by karvo.

Each program writes the same associates (DNA, then the same with U for T);
karvo must then give, for every analysis and output layout, byte for byte
the standard output and standard error that it gives for its own sequential
PHYLIP copy of the data; and the same for every analysis with the file
gzipped, named and on standard input. The expectation is the README table "file written by",
whose "read with" column names karvo's input options for each file.
"""

import gzip
import io
import os
import random
import re
import shutil
import subprocess
import tempfile

from tables import SKIP, Refused, cell, first_line

# Every analysis, also with gaps as a state, in every output layout.
ANALYSES = [["-s"], ["-c"], ["-v"], ["-e"], ["-f"],
            ["-c", "-g"], ["-v", "-g"], ["-e", "-g"], ["-f", "-g"]]
LAYOUTS = ["-P", "-X", "-C", "-N", "-E"]

# Names as files hold them: an accession with a dot (FASTA headers), one
# name longer than ten characters (strict PHYLIP writers cut it, so the
# association file for their files holds the cut name) and underscores
# (NEXUS writers quote them, or readers would take them for blanks).
NAMES = ["Pflav_1", "Pflav_2", "Pflav_3", "Hsylv_1", "Hsylv_2", "Parva_1",
         "Parva_2", "Parva_3", "MK482101.1", "Pmusc_2", "Snorv_1_isolate3"]
HOSTS = {
    "Apodemus_flavicollis": ["Pflav_1", "Pflav_2", "Pflav_3"],
    "Mus_musculus": ["Hsylv_1", "Hsylv_2"],
    "Myodes": ["Parva_1", "Parva_2", "Parva_3"],
    "Sorex": ["MK482101.1", "Pmusc_2", "Pflav_1"],
    "Rattus_norvegicus": NAMES,
    "Talpa": ["Snorv_1_isolate3"],  # one associate: removed with a warning
}

# 76 sites: more than the 50 to 70 after which the writers start a new
# block, with gaps (a run of end gaps too), "?", N and n, and lower-case
# cells in upper-case rows and whole lower-case rows.
SITES = 76


def associates(rna=False):
    """(name, sites) of the associates, in file order."""
    rng = random.Random(12)
    base = rng.choices("ACGT", k=SITES)
    rows = []
    for i, name in enumerate(NAMES):
        cells = list(base)
        for j in rng.sample(range(SITES), 12):
            cells[j] = rng.choice("ACGTACGT-?Nnacgt")
        if name.startswith("Parva"):
            cells = [c.lower() for c in cells]
        if i == len(NAMES) - 1:
            cells[-5:] = "-----"
        sites = "".join(cells)
        if rna:
            sites = sites.replace("T", "U").replace("t", "u")
        rows.append((name, sites))
    return rows


def short(rows):
    """The rows cut to their first twelve sites: one block for every
    writer."""
    return [(name, sites[:12]) for name, sites in rows]


def ten(name):
    """A name as strict PHYLIP writers keep it."""
    return name[:10]


def same_name(name):
    return name


class Case:
    """One file a program writes: its README row, karvo's input options,
    the names the file keeps, and `write(rows, rna)`, which returns the file's
    text, or (text, rows) when the program changes the data (an aligner):
    karvo's reference copy is then made of those rows. `cut` shortens the
    rows first; `advice` is what karvo's refusal of the file must say."""

    def __init__(self, row, options, write, names=same_name, cut=None,
                 advice=None):
        self.row, self.options, self.write = row, options, write
        self.names, self.cut, self.advice = names, cut, advice


def read_with(options):
    """The "read with" cell for karvo's input options."""
    return f"`{' '.join(options)}`" if options else "—"


def run(karvo, arguments, stdin=None):
    result = subprocess.run([karvo, *arguments], input=stdin,
                            capture_output=True)
    return result.returncode, result.stdout, result.stderr


def write_associations(path, rows, names):
    kept = {name: names(name) for name, _ in rows}
    with open(path, "w") as f:
        f.writelines(f"{kept[para]}\t{host}\n"
                     for host, paras in HOSTS.items() for para in paras)


class Reference:
    """karvo's runs on its own sequential PHYLIP copy of some rows, one per
    analysis and layout, kept for every file of the same rows."""

    def __init__(self, karvo, work):
        self.karvo, self.work, self.runs = karvo, work, {}

    def __call__(self, rows):
        key = tuple(rows)
        if key not in self.runs:
            data = os.path.join(self.work, "own.phy")
            assocs = os.path.join(self.work, "own-hosts.txt")
            with open(data, "w") as f:
                f.write(f" {len(rows)} {len(rows[0][1])}\n")
                f.writelines(f"{name}  {sites}\n" for name, sites in rows)
            write_associations(assocs, rows, same_name)
            runs = {}
            for analysis in ANALYSES:
                for layout in LAYOUTS:
                    rc, out, err = run(self.karvo,
                                       [*analysis, layout, data, assocs])
                    if rc != 0 or b"Removing host Talpa" not in err:
                        raise RuntimeError(
                            f"karvo {' '.join(analysis)} {layout} on its own "
                            f"data: exit status {rc}, {err!r}")
                    runs[(*analysis, layout)] = (out, err)
            self.runs[key] = runs
        return self.runs[key]


def first_difference(got, want):
    got, want = got.split(b"\n"), want.split(b"\n")
    for n, (g, w) in enumerate(zip(got, want), 1):
        if g != w:
            return f"line {n}: {g[:60]!r} instead of {w[:60]!r}"
    return f"{len(got)} lines instead of {len(want)}"


def karvo_reads(karvo, work, case, text, rows, reference):
    """None when karvo gives the reference's output and warnings for every
    analysis and layout on `text` as a file, gzipped and gzipped on standard
    input; else the first difference. Refused when karvo fails on it."""
    data = os.path.join(work, "written")
    assocs = os.path.join(work, "written-hosts.txt")
    raw = text.encode()
    packed = gzip.compress(raw, mtime=0)
    with open(data, "wb") as f:
        f.write(raw)
    with open(data + ".gz", "wb") as f:
        f.write(packed)
    write_associations(assocs, rows, case.names)
    want = reference(rows)
    # The analysis chooses how the cells are read (-s skims them), the layout
    # only how the result is written: the gzipped copies run every analysis,
    # each in one layout in turn, which keeps the test quick.
    turn = [(*a, LAYOUTS[i % len(LAYOUTS)])
            for i, a in enumerate(ANALYSES)]
    for how, name, stdin, runs in (
            ("file", data, None, want),
            ("gzipped file", data + ".gz", None, turn),
            ("gzipped standard input", "-", packed, turn)):
        for key in runs:
            (*analysis, layout), (out, err) = key, want[key]
            command = [*case.options, *analysis, layout]
            rc, got_out, got_err = run(karvo, [*command, name, assocs],
                                       stdin)
            where = f"karvo {' '.join(command)}, {how}"
            if rc != 0:
                said = got_err.decode(errors="replace").strip()
                raise Refused(f"{where}: {' | '.join(said.splitlines())}")
            if got_out != out:
                return f"{where}: output {first_difference(got_out, out)}"
            if got_err != err:
                return f"{where}: warnings {got_err!r} instead of {err!r}"
    return None


def check_writer(args, work, checker, cases):
    """Each case's file, of DNA and of RNA rows, against the README."""
    reference = Reference(args.karvo, work)
    dna, rna = reference(associates()), reference(associates(rna=True))
    for key in dna:
        if rna[key] != dna[key]:
            checker.failures += 1
            print(f"FAIL karvo {' '.join(key)} on its own sequential PHYLIP "
                  "gives another output when T is written U")
            break
    for case in cases:
        said = cell(checker.tables, case.row, "read with")
        if said != read_with(case.options):
            checker.failures += 1
            print(f"FAIL {case.row}: README reads with {said}, the test "
                  f"with {read_with(case.options)}")

        def read(case=case):
            try:
                return read_both(case)
            except Refused as e:
                if case.advice and not re.search(
                        rf"(?<![\w-]){re.escape(case.advice)}\b", str(e)):
                    checker.failures += 1
                    print(f"FAIL {case.row}: karvo's refusal does not say "
                          f"{case.advice}: {e}")
                raise

        def read_both(case):
            for rna in (False, True):
                rows = associates(rna)
                if case.cut:
                    rows = case.cut(rows)
                written = case.write(rows, rna)
                text, rows = written if isinstance(written, tuple) else \
                    (written, rows)
                difference = karvo_reads(args.karvo, work, case, text, rows,
                                         reference)
                if difference:
                    return f"{'RNA' if rna else 'DNA'}: {difference}"
            return None

        checker.check(case.row, "karvo", read,
                      f" (karvo {read_with(case.options)})")
    return checker.status()


# ---------------------------------------------------------------------------
# The writers.

def fasta_text(rows):
    return "".join(f">{name}\n{sites}\n" for name, sites in rows)


def biopython_writes(args, work, checker):
    try:
        from Bio import AlignIO
        from Bio.Align import MultipleSeqAlignment
        from Bio.Nexus import Nexus
        from Bio.Seq import Seq
        from Bio.SeqRecord import SeqRecord
    except ImportError:
        print("SKIP: Biopython is not installed (Debian package "
              "python3-biopython)")
        return SKIP

    def alignio(fmt):
        def write(rows, rna):
            molecule = {"molecule_type": "RNA" if rna else "DNA"}
            alignment = MultipleSeqAlignment(
                [SeqRecord(Seq(sites), id=name, annotations=molecule)
                 for name, sites in rows])
            out = io.StringIO()
            AlignIO.write(alignment, out, fmt)
            return out.getvalue()
        return write

    def nexus_interleaved(rows, rna):
        out = io.StringIO()
        Nexus.Nexus(alignio("nexus")(rows, rna)).write_nexus_data(
            out, interleave=True)
        return out.getvalue()

    # `phylip` and `phylip-relaxed` start a new block after 50 sites, the
    # interleaved NEXUS after 70.
    return check_writer(args, work, checker, [
        Case("Biopython `fasta`", [], alignio("fasta")),
        Case("Biopython `phylip`", ["-i", "-p"], alignio("phylip"), ten),
        Case("Biopython `phylip`, without `-i`", ["-p"], alignio("phylip"),
             ten, advice="-i"),
        Case("Biopython `phylip`, up to 50 sites", ["-p"], alignio("phylip"),
             ten, short),
        Case("Biopython `phylip-relaxed`", ["-i"],
             alignio("phylip-relaxed")),
        Case("Biopython `phylip-relaxed`, without `-i`", [],
             alignio("phylip-relaxed"), advice="-i"),
        Case("Biopython `phylip-relaxed`, up to 50 sites", [],
             alignio("phylip-relaxed"), cut=short),
        Case("Biopython `phylip-sequential`", ["-p"],
             alignio("phylip-sequential"), ten),
        Case("Biopython `nexus`", [], alignio("nexus")),
        Case("Bio.Nexus `write_nexus_data(interleave=True)`", [],
             nexus_interleaved),
    ])


def dendropy_writes(args, work, checker):
    try:
        import dendropy
    except ImportError:
        print("SKIP: DendroPy is not installed (Debian package "
              "python3-dendropy)")
        return SKIP

    def writer(schema, **options):
        def write(rows, rna):
            kind = dendropy.RnaCharacterMatrix if rna else \
                dendropy.DnaCharacterMatrix
            return kind.from_dict(dict(rows)).as_string(schema=schema,
                                                        **options)
        return write

    return check_writer(args, work, checker, [
        Case("DendroPy `nexus`", [], writer("nexus")),
        Case("DendroPy `phylip`", [], writer("phylip")),
        Case("DendroPy `phylip`, `strict=True`", ["-p"],
             writer("phylip", strict=True), ten),
    ])


def seqret_writes(args, work, checker):
    program = shutil.which("seqret")
    if program is None:
        print("SKIP: EMBOSS is not installed (Debian package emboss)")
        return SKIP

    def writer(fmt):
        def write(rows, rna):
            result = subprocess.run(
                [program, "-sequence", "fasta::stdin", "-outseq", "stdout",
                 "-osformat2", fmt, "-auto"], input=fasta_text(rows),
                capture_output=True, text=True, timeout=60)
            if result.returncode != 0:
                raise RuntimeError(f"seqret -osformat2 {fmt}: "
                                   f"{first_line(result.stderr)}")
            return result.stdout
        return write

    # seqret writes "?" as N, blocks of 50 sites in PHYLIP and of 50 in the
    # interleaved NEXUS.
    return check_writer(args, work, checker, [
        Case("EMBOSS `seqret -osformat fasta`", [], writer("fasta")),
        Case("EMBOSS `seqret -osformat phylip`", ["-i", "-p"],
             writer("phylip"), ten),
        Case("EMBOSS `seqret -osformat phylipnon`", ["-p"],
             writer("phylipnon"), ten),
        Case("EMBOSS `seqret -osformat nexus`", [], writer("nexus")),
        Case("EMBOSS `seqret -osformat nexusnon`", [], writer("nexusnon")),
    ])


def mafft_writes(args, work, checker):
    program = shutil.which("mafft")
    if program is None:
        print("SKIP: MAFFT is not installed (Debian package mafft)")
        return SKIP

    def mafft(rows, options):
        # MAFFT aligns the sequences without their gaps; it drops "?" and
        # writes lower case.
        unaligned = [(name, sites.replace("-", "")) for name, sites in rows]
        with tempfile.NamedTemporaryFile("w", suffix=".fa", dir=work,
                                         delete=False) as f:
            f.write(fasta_text(unaligned))
        result = subprocess.run([program, "--quiet", *options, f.name],
                                capture_output=True, text=True, timeout=120)
        if result.returncode != 0 or not result.stdout:
            raise RuntimeError(f"mafft: {first_line(result.stderr)}")
        return result.stdout

    def rows_of(fasta):
        out = []
        for line in fasta.split("\n"):
            if line.startswith(">"):
                out.append([line[1:].split()[0], ""])
            elif out:
                out[-1][1] += line.strip()
        return [tuple(r) for r in out]

    # The reference is made of the rows MAFFT aligned; its PHYLIP output
    # holds the same alignment (MAFFT's default method is deterministic).
    def fasta(rows, rna):
        text = mafft(rows, [])
        return text, rows_of(text)

    def phylip(rows, rna):
        return mafft(rows, ["--phylipout"]), rows_of(mafft(rows, []))

    return check_writer(args, work, checker, [
        Case("MAFFT", [], fasta),
        Case("MAFFT `--phylipout`", ["-i", "-p"], phylip, ten),
    ])


PROGRAMS = {
    "biopython-writes": biopython_writes,
    "dendropy-writes": dendropy_writes,
    "seqret-writes": seqret_writes,
    "mafft-writes": mafft_writes,
}
