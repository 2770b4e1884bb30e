"""Data files written by the field's programs, read by karvo.

Each program writes the same associates (DNA, then the same with U for T;
protein; standard characters); karvo must then give, for every analysis
and output layout, byte for byte the standard output and standard error
that it gives for its own sequential PHYLIP copy of the data (of protein
and standard characters read with -a, and the file's notice of how its
alphabet was chosen set aside); and the same for every analysis with the
file gzipped, named and on standard input. The expectations are the README
tables "file written by", "protein file written by" and "standard file
written by", whose "read with" column names karvo's input options for each
file and "alphabet from" what chose the alphabet: the file's DATATYPE, its
content (most cells), or -a.
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

AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY"


class Alphabet:
    """The rows of one alphabet's table: the variants of the associates
    that each file is written of, and karvo's options for its own copy."""

    def __init__(self, table, variants, options):
        self.table, self.variants, self.options = table, variants, options


ALPHABETS = {
    "dna": Alphabet("file written by", ["dna", "rna"], []),
    "protein": Alphabet("protein file written by", ["protein"],
                        ["-a", "protein"]),
    "standard": Alphabet("standard file written by", ["standard"],
                         ["-a", "standard"]),
}


def associates(variant="dna"):
    """(name, sites) of the associates, in file order: nucleotides ("dna",
    "rna"), "protein" or "standard" characters."""
    if variant == "protein":
        return other_associates(
            AMINO_ACIDS, AMINO_ACIDS * 2 + "-?XBZ*" + AMINO_ACIDS.lower(),
            lower=True)
    if variant == "standard":
        return other_associates("0123456789", "0123456789-?",
                                ["{01}", "{37}", "(12)"])
    rna = variant == "rna"
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


def other_associates(states, changes, polymorphisms=(), lower=False):
    """Rows of protein or standard characters, made as the nucleotide ones:
    12 changed cells a row (B, Z and * are missing data, X and ? too), a
    polymorphism {01} or uncertainty (12) in some rows (missing data to
    karvo), whole lower-case rows."""
    rng = random.Random(28)
    base = rng.choices(states, k=SITES)
    rows = []
    for i, name in enumerate(NAMES):
        cells = list(base)
        for j in rng.sample(range(SITES), 12):
            cells[j] = rng.choice(changes)
        if polymorphisms and i % 3 == 0:
            cells[rng.randrange(SITES)] = rng.choice(polymorphisms)
        if lower and name.startswith("Parva"):
            cells = [c.lower() for c in cells]
        if i == len(NAMES) - 1:
            cells[-5:] = "-----"
        rows.append((name, "".join(cells)))
    return rows


def plain(rows):
    """The rows with each polymorphism or uncertainty ({01}, (12)) as "?",
    as karvo reads it and as the layouts without them must hold it."""
    return [(name, re.sub(r"[{(]\w+[)}]", "?", sites))
            for name, sites in rows]


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
    the names the file keeps, and `write(rows, variant)`, which returns the
    file's text, or (text, rows) when the program changes the data (an
    aligner): karvo's reference copy is then made of those rows. `cut`
    shortens the rows (or makes them plain) first; `advice` is what karvo's
    refusal of the file must say."""

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

    def __init__(self, karvo, work, options=()):
        self.karvo, self.work, self.runs = karvo, work, {}
        self.options = list(options)

    def __call__(self, rows):
        key = tuple(rows)
        if key not in self.runs:
            data = os.path.join(self.work, "own.phy")
            assocs = os.path.join(self.work, "own-hosts.txt")
            own = plain(rows)
            with open(data, "w") as f:
                f.write(f" {len(own)} {len(own[0][1])}\n")
                f.writelines(f"{name}  {sites}\n" for name, sites in own)
            write_associations(assocs, rows, same_name)
            runs = {}
            for analysis in ANALYSES:
                for layout in LAYOUTS:
                    rc, out, err = run(self.karvo,
                                       [*self.options, *analysis, layout,
                                        data, assocs])
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


def alphabet_notice(err):
    """karvo's warnings without its notice of how the file's alphabet was
    chosen, and what chose it: "DATATYPE", "content" or None."""
    kept, chosen = [], None
    for line in err.split(b"\n"):
        if line.startswith(b"karvo: warning: "):
            if line.endswith(b", as its DATATYPE says (-a chooses otherwise)"):
                chosen = "DATATYPE"
                continue
            if re.search(rb" % of the sites that are not missing are [^;]*: "
                         rb"read as ", line):
                chosen = "content"
                continue
        kept.append(line)
    return b"\n".join(kept), chosen


def karvo_reads(karvo, work, case, text, rows, reference, chosen):
    """None when karvo gives the reference's output and warnings for every
    analysis and layout on `text` as a file, gzipped and gzipped on standard
    input; else the first difference. Refused when karvo fails on it. With
    a reference of protein or standard characters, the notice of how the
    file's alphabet was chosen is set aside and what chose it added to
    `chosen`."""
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
            if reference.options:
                got_err, by = alphabet_notice(got_err)
                chosen.add(by or ("`-a`" if "-a" in case.options else
                                  "nucleotides, unsaid"))
            if got_out != out:
                return f"{where}: output {first_difference(got_out, out)}"
            if got_err != err:
                return f"{where}: warnings {got_err!r} instead of {err!r}"
    return None


def check_writer(args, work, checker, cases, alphabet="dna"):
    """Each case's file, of each variant of the alphabet's rows (DNA and
    RNA, protein, standard characters), against the README."""
    kind = ALPHABETS[alphabet]
    checker = checker.within(kind.table)
    print(f"== the README table \"{kind.table}\"")
    reference = Reference(args.karvo, work, kind.options)
    if alphabet == "dna":
        dna, rna = reference(associates()), reference(associates("rna"))
        for key in dna:
            if rna[key] != dna[key]:
                checker.failures += 1
                print(f"FAIL karvo {' '.join(key)} on its own sequential "
                      "PHYLIP gives another output when T is written U")
                break
    for case in cases:
        said = cell(checker.tables, case.row, "read with")
        if said != read_with(case.options):
            checker.failures += 1
            print(f"FAIL {case.row}: README reads with {said}, the test "
                  f"with {read_with(case.options)}")
        chosen = set()

        def read(case=case, chosen=chosen):
            try:
                return read_all(case, chosen)
            except Refused as e:
                if case.advice and not re.search(
                        rf"(?<![\w-]){re.escape(case.advice)}\b", str(e)):
                    checker.failures += 1
                    print(f"FAIL {case.row}: karvo's refusal does not say "
                          f"{case.advice}: {e}")
                raise

        def read_all(case, chosen):
            for variant in kind.variants:
                rows = associates(variant)
                if case.cut:
                    rows = case.cut(rows)
                written = case.write(rows, variant)
                text, rows = written if isinstance(written, tuple) else \
                    (written, rows)
                difference = karvo_reads(args.karvo, work, case, text, rows,
                                         reference, chosen)
                if difference:
                    return f"{variant.upper()}: {difference}"
            return None

        checker.check(case.row, "karvo", read,
                      f" (karvo {read_with(case.options)})")
        if alphabet != "dna" and chosen:
            said = cell(checker.tables, case.row, "alphabet from")
            measured = ", ".join(sorted(chosen))
            if said != measured:
                checker.failures += 1
                print(f"FAIL {case.row}: README says the alphabet comes "
                      f"from {said}, measured: {measured}")
    return checker.status()


# ---------------------------------------------------------------------------
# The writers.

def fasta_text(rows):
    return "".join(f">{name}\n{sites}\n" for name, sites in rows)


def standard_nexus(rows):
    """Standard characters as a NEXUS file of karvo's test, the source of
    the NEXUS readers that write them back."""
    return ("#NEXUS\nbegin data;\n"
            f"dimensions ntax={len(rows)} nchar={SITES};\n"
            'format datatype=standard symbols="0123456789" gap=- missing=?;\n'
            "matrix\n" +
            "".join(f"'{name}' {sites}\n" for name, sites in rows) +
            ";\nend;\n")


MOLECULES = {"dna": "DNA", "rna": "RNA", "protein": "protein"}


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
        def write(rows, variant):
            # Standard characters have no molecule type; only the NEXUS
            # writer needs one.
            molecule = {"molecule_type": MOLECULES[variant]} \
                if variant in MOLECULES else {}
            alignment = MultipleSeqAlignment(
                [SeqRecord(Seq(sites), id=name, annotations=molecule)
                 for name, sites in rows])
            out = io.StringIO()
            AlignIO.write(alignment, out, fmt)
            return out.getvalue()
        return write

    def nexus_data(interleave):
        def write(rows, variant):
            source = standard_nexus(rows) if variant == "standard" else \
                alignio("nexus")(rows, variant)
            out = io.StringIO()
            Nexus.Nexus(source).write_nexus_data(out, interleave=interleave)
            return out.getvalue()
        return write

    # `phylip` and `phylip-relaxed` start a new block after 50 sites, the
    # interleaved NEXUS after 70.
    status = check_writer(args, work, checker, [
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
             nexus_data(True)),
    ])
    status |= check_writer(args, work, checker, [
        Case("Biopython `fasta`", [], alignio("fasta")),
        Case("Biopython `phylip`", ["-i", "-p"], alignio("phylip"), ten),
        Case("Biopython `phylip-relaxed`", ["-i"],
             alignio("phylip-relaxed")),
        Case("Biopython `phylip-sequential`", ["-p"],
             alignio("phylip-sequential"), ten),
        Case("Biopython `nexus`", [], alignio("nexus")),
        Case("Bio.Nexus `write_nexus_data(interleave=True)`", [],
             nexus_data(True)),
    ], "protein")
    # Biopython's AlignIO writes no NEXUS of standard characters (it asks
    # for a molecule type); Bio.Nexus writes back one that it read.
    status |= check_writer(args, work, checker, [
        Case("Biopython `fasta`", [], alignio("fasta"), cut=plain),
        Case("Biopython `phylip`", ["-i", "-p"], alignio("phylip"), ten,
             plain),
        Case("Biopython `phylip-relaxed`", ["-i"], alignio("phylip-relaxed"),
             cut=plain),
        Case("Biopython `phylip-sequential`", ["-p"],
             alignio("phylip-sequential"), ten, plain),
        Case("Bio.Nexus `write_nexus_data`", [], nexus_data(False)),
        Case("Bio.Nexus `write_nexus_data`, no polymorphisms", [],
             nexus_data(False), cut=plain),
        Case("Bio.Nexus `write_nexus_data(interleave=True)`, no "
             "polymorphisms", [], nexus_data(True), cut=plain),
    ], "standard")
    return status


def dendropy_writes(args, work, checker):
    try:
        import dendropy
    except ImportError:
        print("SKIP: DendroPy is not installed (Debian package "
              "python3-dendropy)")
        return SKIP

    kinds = {"dna": dendropy.DnaCharacterMatrix,
             "rna": dendropy.RnaCharacterMatrix,
             "protein": dendropy.ProteinCharacterMatrix,
             "standard": dendropy.StandardCharacterMatrix}

    def writer(schema, **options):
        def write(rows, variant):
            return kinds[variant].from_dict(dict(rows)).as_string(
                schema=schema, **options)
        return write

    def read_and_written(schema):
        # A matrix of standard characters as users get one: read from a
        # NEXUS file (polymorphisms and all), then written.
        def write(rows, variant):
            matrix = dendropy.StandardCharacterMatrix.get(
                data=standard_nexus(rows), schema="nexus")
            return matrix.as_string(schema=schema)
        return write

    cases = [
        Case("DendroPy `nexus`", [], writer("nexus")),
        Case("DendroPy `phylip`", [], writer("phylip")),
        Case("DendroPy `phylip`, `strict=True`", ["-p"],
             writer("phylip", strict=True), ten),
    ]
    status = check_writer(args, work, checker, cases)
    status |= check_writer(args, work, checker, cases, "protein")
    status |= check_writer(args, work, checker, [
        Case("DendroPy `nexus`, of a NEXUS it read", [],
             read_and_written("nexus")),
        Case("DendroPy `phylip`, of a NEXUS it read", [],
             read_and_written("phylip")),
        Case("DendroPy `nexus`, `from_dict`", [], writer("nexus"),
             cut=plain),
        Case("DendroPy `phylip`, `from_dict`", [], writer("phylip"),
             cut=plain),
    ], "standard")
    return status


def seqret_writes(args, work, checker):
    program = shutil.which("seqret")
    if program is None:
        print("SKIP: EMBOSS is not installed (Debian package emboss)")
        return SKIP

    def writer(fmt):
        def write(rows, variant):
            result = subprocess.run(
                [program, "-sequence", "fasta::stdin", "-outseq", "stdout",
                 "-osformat2", fmt, "-auto"], input=fasta_text(rows),
                capture_output=True, text=True, timeout=60)
            if result.returncode != 0:
                raise RuntimeError(f"seqret -osformat2 {fmt}: "
                                   f"{first_line(result.stderr)}")
            return result.stdout
        return write

    # seqret writes "?" as N (X in protein), blocks of 50 sites in PHYLIP
    # and of 50 in the interleaved NEXUS.
    cases = [
        Case("EMBOSS `seqret -osformat fasta`", [], writer("fasta")),
        Case("EMBOSS `seqret -osformat phylip`", ["-i", "-p"],
             writer("phylip"), ten),
        Case("EMBOSS `seqret -osformat phylipnon`", ["-p"],
             writer("phylipnon"), ten),
        Case("EMBOSS `seqret -osformat nexus`", [], writer("nexus")),
        Case("EMBOSS `seqret -osformat nexusnon`", [], writer("nexusnon")),
    ]
    status = check_writer(args, work, checker, cases)
    status |= check_writer(args, work, checker, cases, "protein")
    # Digits are not sequence to EMBOSS: it drops them.
    status |= check_writer(args, work, checker, [
        Case("EMBOSS `seqret -osformat fasta`", [], writer("fasta"),
             cut=plain)], "standard")
    return status


# ape's write.nexus.data, run once a file: rows come on standard input as a
# name, a TAB and the cells joined by 0x1e (a polymorphism is one cell).
APE_WRITE = r"""
suppressMessages(library(ape))
args <- commandArgs(trailingOnly = TRUE)
rows <- readLines(file("stdin"))
x <- lapply(strsplit(sub("^[^\t]*\t", "", rows), "\x1e"), identity)
names(x) <- sub("\t.*", "", rows)
write.nexus.data(x, file = args[1], format = args[2],
                 interleaved = args[3] == "TRUE")
"""


def ape_writes(args, work, checker):
    program = shutil.which("Rscript")
    if program is None or subprocess.run(
            [program, "-e", "library(ape)"], capture_output=True).returncode:
        print("SKIP: R's ape is not installed (Debian package r-cran-ape)")
        return SKIP
    script = os.path.join(work, "ape-write.R")
    with open(script, "w") as f:
        f.write(APE_WRITE)

    def writer(interleaved):
        def write(rows, variant):
            out = os.path.join(work, "ape.nex")
            cells = "".join(
                name + "\t" + "\x1e".join(re.findall(r"[{(]\w+[)}]|.",
                                                     sites)) + "\n"
                for name, sites in rows)
            result = subprocess.run(
                [program, script, out, "dna" if variant == "rna" else
                 variant, str(interleaved).upper()],
                input=cells, capture_output=True, text=True, timeout=60)
            if result.returncode != 0:
                raise RuntimeError(f"write.nexus.data: "
                                   f"{first_line(result.stderr)}")
            with open(out) as f:
                return f.read()
        return write

    # write.nexus.data writes names unquoted, so that a NEXUS reader may take
    # their underscores for blanks; karvo keeps them as written.
    cases = [
        Case("ape `write.nexus.data`", [], writer(False)),
        Case("ape `write.nexus.data(interleaved = TRUE)`", [], writer(True)),
    ]
    status = check_writer(args, work, checker, cases)
    status |= check_writer(args, work, checker, cases, "protein")
    status |= check_writer(args, work, checker, cases, "standard")
    return status


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
    def fasta(rows, variant):
        text = mafft(rows, [])
        return text, rows_of(text)

    def phylip(rows, variant):
        return mafft(rows, ["--phylipout"]), rows_of(mafft(rows, []))

    return check_writer(args, work, checker, [
        Case("MAFFT", [], fasta),
        Case("MAFFT `--phylipout`", ["-i", "-p"], phylip, ten),
    ])


PROGRAMS = {
    "ape-writes": ape_writes,
    "biopython-writes": biopython_writes,
    "dendropy-writes": dendropy_writes,
    "seqret-writes": seqret_writes,
    "mafft-writes": mafft_writes,
}
