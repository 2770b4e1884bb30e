"""karvo's side of interop.py: the associate matrices of each alphabet, the
host matrices karvo writes of them in every layout, read back with karvo's
own rules, and the comparison of those with what another program read."""

import os
import re
import subprocess

# The nucleotide matrix: eleven lice, twelve sites. Site 11 gives, with -g, a
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

# The same lice as protein. Mus_musculus has two lice that differ in D/N,
# E/Q, I/L, K/R and P/G, so its consensus (-c) and its modal residues (-v,
# a tie at each) hold B, Z, J and X; site 13 is, with -g, gap-only in
# Apodemus, a gap and one residue in Mus and a gap and two residues in
# Myodes; site 14 is missing everywhere (? and X). Lower-case rows too. No
# two hosts have the same modal residues, since RAxML writes back only one
# of rows that are the same.
PROTEIN = """\
 11 14
Pflav_1  DEIKMFPSTWHV-?
Pflav_2  NEIKMFPSTWHV-?
Pflav_3  DEIRMFPSTWHV-?
Hsylv_1  DEIKMFPSTWYVA?
Hsylv_2  NQLRMFGSTWYV-?
Parva_1  deiklfpstwyva?
Parva_2  delklfpstwyv-?
Parva_3  aeikmfpshwyvq?
Pmusc_1  DEIKMFPSTFYVA?
Pmusc_2  DEIKMFPSTFYVAX
Snorv_1  DEIKMLPSTWYVAX
"""

# J, the code of {I, L}, is the one that several readers do not know: the
# same matrix with no host that mixes I and L shows what they read besides.
PROTEIN_NO_J = PROTEIN.replace("NQLRMFG", "NQIRMFG").replace("delklf",
                                                             "deiklf")

# The same lice scored for standard characters 0-3: the hosts' consensus
# and their modal states (ties in Mus_musculus) hold polymorphisms, which
# the NEXUS layouts write as {01}; site 8 is, with -g, gap-only in Apodemus
# and a gap and one state in Rattus; site 12 is missing everywhere.
STANDARD = """\
 11 12
Pflav_1  0120110-1?0?
Pflav_2  0120111-1?0?
Pflav_3  0121110-1?0?
Hsylv_1  0120210010??
Hsylv_2  1120110-10??
Parva_1  012011001?1?
Parva_2  0123110-1?0?
Parva_3  2120110-1?2?
Pmusc_1  0120110010??
Pmusc_2  01201100101?
Snorv_1  01203100101?
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

LAYOUTS = ["-P", "-X", "-C", "-N", "-E"]
NUMBERS = [["-e"], ["-f"], ["-s"]]


def associations(hosts):
    return "".join(f"{para}\t{host}\n"
                   for host, paras in hosts.items() for para in paras)


def shows(groups, without=""):
    """A test of karvo's consensus output and notices: each group of
    symbols meets the cells, none of `without` does."""
    def test(cells, notices):
        symbols = set(cells)
        return all(symbols & set(g) for g in groups) and \
            not symbols & set(without)
    return test


def polymorphic(cells, notices):
    """Polymorphisms in braces, or the notice of the layouts that write
    them as "?"."""
    return "{" in cells or "host cells with several states" in notices


class Alphabet:
    """The associate matrices of one alphabet, karvo's options for it, and
    the README table of its output (named by its first column). `rows` maps
    a row kind ("discrete", "numbers", ...) to the data, the analyses whose
    output the row stands for, and what the first analysis' output must
    show for the row to test what the table says."""

    def __init__(self, name, table, options, rows):
        self.name, self.table, self.options = name, table, options
        self.rows = rows


NUCLEOTIDE = Alphabet("nucleotide", "karvo output", [], {
    "discrete": (DATA, [["-c", "-g"]],
                 shows(["-", "?", "rykmswhbvdn"])),
    "numbers": (DATA, NUMBERS, None),
})
PROTEIN_OUTPUT = Alphabet("protein", "karvo protein output",
                          ["-a", "protein"], {
    "discrete": (PROTEIN, [["-c", "-g"], ["-v"]],
                 shows(["-", "?", "B", "Z", "J", "X"])),
    "discrete, no `J`": (PROTEIN_NO_J, [["-c", "-g"], ["-v"]],
                         shows(["-", "?", "B", "Z", "X"], without="J")),
    "numbers": (PROTEIN, NUMBERS, None),
})
STANDARD_OUTPUT = Alphabet("standard", "karvo standard output",
                           ["-a", "standard"], {
    "discrete": (STANDARD, [["-c", "-g"], ["-v"]],
                 lambda cells, notices: shows(["-", "?"])(cells, notices)
                 and polymorphic(cells, notices)),
    "numbers": (STANDARD, NUMBERS, None),
})


# ---------------------------------------------------------------------------
# karvo's side: what it wrote, read with its own rules.

class Matrix:
    """Host labels in row order and the cells of each row: a string for
    discrete data (a polymorphism as its states in braces), a list of
    numbers otherwise."""

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


def kind_of(row_kind):
    """"numbers" or "discrete", what a reader is told of a row."""
    return "numbers" if row_kind == "numbers" else "discrete"


_runs = {}


def run_karvo(karvo, work, alphabet, row_kind, options, layout,
              hosts=HOSTS):
    """Runs karvo on the alphabet's data for `row_kind`; returns the output
    file's path and the host matrix it holds (kept for the next reader)."""
    key = (alphabet.name, row_kind, tuple(options), layout, hosts is HOSTS)
    if key in _runs:
        return _runs[key]
    data_text, analyses, marks = alphabet.rows[row_kind]
    stem = re.sub(r"\W+", "_", f"{alphabet.name} {row_kind}")
    data = os.path.join(work, stem + ".phy")
    assocs = os.path.join(work, "lice-hosts.txt")
    with open(data, "w") as f:
        f.write(data_text)
    with open(assocs, "w", encoding="utf-8") as f:
        f.write(associations(hosts))
    name = stem + "".join(options) + layout
    if hosts is not HOSTS:
        name += "-utf8"
    out = os.path.join(work, name.replace("-", "_") + ".txt")
    command = [*alphabet.options, *options, layout]
    result = subprocess.run([karvo, *command, data, assocs],
                            capture_output=True, encoding="utf-8")
    if result.returncode != 0:
        raise RuntimeError(f"karvo {' '.join(command)} failed: "
                           f"{result.stderr}")
    if "WARNING: Removing host Talpa" not in result.stderr:
        raise RuntimeError("karvo did not remove the one-louse host")
    with open(out, "w", encoding="utf-8") as f:
        f.write(result.stdout)
    kind = kind_of(row_kind)
    matrix = parse_karvo(result.stdout, layout, kind)
    if marks and options == analyses[0]:
        cells = "".join(cells for _, cells in matrix.rows)
        if not marks(cells, result.stderr):
            raise RuntimeError(
                f"the {alphabet.name} data ({row_kind}) no longer give in "
                f"karvo {' '.join(command)} the symbols the README's table "
                "is about")
    _runs[key] = out, matrix
    return _runs[key]


def layout_row(layout, row_kind):
    return f"`{layout}` {row_kind}"


# ---------------------------------------------------------------------------
# Comparing what a program read with what karvo wrote.

def same(expected, got, kind, fold_case=False, as_gap="", label_map=None,
         polymorphism=None):
    """None when `got` holds the hosts, labels and cells of `expected` (up
    to the stated conventions of the reader: the symbols of `as_gap`, after
    case folding, read as "-"; `polymorphism(text)` for the way it writes a
    polymorphism such as "{01}"), else the first difference."""
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
            if polymorphism:
                w = re.sub(r"\{\w+\}", lambda m: polymorphism(m.group()), w)
            if fold_case:
                w, g = w.lower(), g.lower()
            for symbol in as_gap:
                w, g = w.replace(symbol, "-"), g.replace(symbol, "-")
            if w != g:
                return f"row {label}: {g!r} instead of {w!r}"
        elif list(g) != list(w):
            return f"row {label}: {list(g)!r} instead of {w!r}"
    return None


def for_each_output(karvo, work, checker, alphabet, column, read,
                    utf8=False):
    """Every layout of every row kind of the alphabet's table through
    `read(path, layout, kind, expected)`, checked against
    the README cell of `column`; with `utf8`, the discrete output of UTF-8
    host names too, against the same cells."""
    table = checker.within(alphabet.table)
    for layout in LAYOUTS:
        for row_kind, (_, analyses, _) in alphabet.rows.items():
            for options in analyses:
                path, expected = run_karvo(karvo, work, alphabet, row_kind,
                                           options, layout)
                table.check(
                    layout_row(layout, row_kind), column,
                    lambda: read(path, layout, kind_of(row_kind), expected),
                    f" (karvo {' '.join(alphabet.options + options)} "
                    f"{layout})")
    options = alphabet.rows["discrete"][1][0]
    for layout in UTF8_LAYOUTS if utf8 else []:
        path, expected = run_karvo(karvo, work, alphabet, "discrete", options,
                                   layout, UTF8_HOSTS)
        table.check(layout_row(layout, "discrete"), column,
                    lambda: read(path, layout, "discrete", expected),
                    f" (karvo {' '.join(options)} {layout}, UTF-8 host "
                    "names)")
