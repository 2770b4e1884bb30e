"""The README's expectation tables and the checker that holds each cell to
them, shared by interop.py (karvo's output, read by the field's programs)
and writes.py (the field's files, read by karvo)."""

import re

SKIP = 77  # CTest's exit status for a skipped test


class Refused(Exception):
    """The program would not read the file; the text says why."""


def first_line(text):
    lines = [l.strip() for l in str(text).splitlines() if l.strip()]
    return lines[0][:150] if lines else "(no message)"


# ---------------------------------------------------------------------------
# The README's tables.

def readme_tables(readme):
    """The tables under the heading "Which program reads which layout" and
    its subsections, as dictionaries row key -> column name -> cell text."""
    with open(readme, encoding="utf-8") as f:
        lines = f.read().split("\n")
    start = next((i for i, l in enumerate(lines) if l.startswith("#") and
                  "Which program reads which layout" in l), None)
    if start is None:
        raise SystemExit(f"{readme}: no heading "
                         "\"Which program reads which layout\"")
    tables, table = [], None
    for line in lines[start + 1:]:
        if re.match(r"#{1,2} ", line):
            break
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if table is None:
                table = {"header": cells, "rows": {}}
            elif not all(re.fullmatch(r":?-+:?", c) for c in cells):
                table["rows"][cells[0]] = dict(zip(table["header"][1:],
                                                   cells[1:]))
        elif table is not None:
            tables.append(table)
            table = None
    if table is not None:
        tables.append(table)
    return tables


def cell(tables, row, column):
    """The text of a cell of the README tables."""
    for table in tables:
        if column in table["header"] and row in table["rows"]:
            return table["rows"][row][column]
    raise SystemExit(f"README table: no cell for row {row!r}, "
                     f"column {column!r}")


def expectation(tables, row, column):
    """True for a "yes" cell, False for a "no" cell, None for one that does
    not apply ("—"); any other text is an error in the table, not a cell to
    pass over."""
    text = cell(tables, row, column).lower()
    if text.startswith("yes"):
        return True
    if text.startswith("no"):
        return False
    if text in ("—", "-"):
        return None
    raise SystemExit(f"README table: the cell for row {row!r}, column "
                     f"{column!r} is {text!r}, neither yes, no nor —")


class Checker:
    """Collects the outcome of every cell and reports them as a table."""

    def __init__(self, tables, parent=None):
        self.tables = tables
        self.parent = parent
        self._failures = 0

    @property
    def failures(self):
        return self.parent.failures if self.parent else self._failures

    @failures.setter
    def failures(self, count):
        if self.parent:
            self.parent.failures = count
        else:
            self._failures = count

    def within(self, first):
        """A checker of the tables whose first column is headed `first` (the
        nucleotide, protein and standard tables share row and column names),
        counting its failures with this one's."""
        tables = [t for t in self.tables if t["header"][0] == first]
        if not tables:
            raise SystemExit(f"README: no table headed {first!r}")
        return Checker(tables, self)

    def check(self, row, column, read, what=""):
        """`read` returns None when the program read the file back equal,
        and raises Refused (or returns a difference text) otherwise."""
        expected = expectation(self.tables, row, column)
        if expected is None:
            return
        try:
            difference = read()
            accepted = difference is None
            how = "reads it back equal" if accepted else \
                f"misreads it: {difference}"
        except Refused as e:
            accepted, how = False, f"refuses it: {e}"
        ok = accepted == expected
        if not ok:
            self.failures += 1
        said = "yes" if expected else "no"
        print(f"{'ok  ' if ok else 'FAIL'} {column} / {row}{what}: "
              f"README {said}, measured: {how}")

    def status(self):
        if self.failures:
            print(f"{self.failures} cell(s) of the README table do not hold; "
                  "fix the program's use or the README")
            return 1
        return 0
