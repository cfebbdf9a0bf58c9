#!/usr/bin/python3
"""Tables through a real spreadsheet: generated databases of every kind are
unpacked, a sample of their tables is opened in LibreOffice Calc with the
text import's defaults and saved the way a modder saves them, and the
folder is packed again. Nothing was edited, so the database must come back
byte for byte. Scenarios:

  save   LOCALE detect=off|on   File > Save in place, same name and format
  xlsx   LOCALE detect=off|on   save as .xlsx, reopen it, save as the table again
  edit   LOCALE                 one number cell changed; pack must succeed and
                                `gamedb diff` must report exactly that field
  book   LOCALE                 each database unpacked into a .xlsx workbook,
                                opened and saved in place, packed back
  book-edit LOCALE              the edit, in such a workbook

    /usr/bin/python3 tools/calc_roundtrip.py --build build/default [--report-only]

One line per scenario; under a failing one, per database, gamedb's own
message (pack's refusal or diff's first changed fields) and the first cells
whose text Calc changed. Exit status: 0 all passed (or --report-only),
1 a scenario failed, 2 the harness itself could not run.
"""

import argparse
import csv
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import calc_uno  # noqa: E402

# Kind -> the file name its databases go by.
KINDS = {
    "items": "items.idb", "levers": "levers.ldb", "perks": "perks.pdb", "prints": "prints.db",
    "spells": "spells.sdb", "units": "units.udb", "quests": "quests.qdb", "acks": "acks.db",
}
# The cell the edit scenario changes: a number field of a table.
EDIT = ("items", "weapons", "price")


class HarnessError(Exception):
    pass


def Run(args, timeout=120):
    try:
        return subprocess.run(args, capture_output=True, text=True, errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        raise HarnessError("%s did not finish within %d s" % (" ".join(args), timeout))


class Database:
    """A generated database and the folder unpack made of it."""

    def __init__(self, kind, seed, path, folder, tables):
        self.kind, self.seed, self.path, self.folder, self.tables = kind, seed, path, folder, tables

    def Name(self):
        return "%s seed %d" % (self.kind, self.seed)


def ReadTableList(folder):
    """The tables in block order, as the manifest lists them: whatever they
    are named (.txt, .tsv)."""
    manifests = sorted(n for n in os.listdir(folder) if n.startswith("manifest."))
    if not manifests:
        raise HarnessError("no manifest in %s" % folder)
    tables = []
    with open(os.path.join(folder, manifests[0]), encoding="utf-8-sig") as f:
        for line in f:
            parts = line.rstrip("\r\n").split("\t")
            if parts[0] == "block" and len(parts) >= 3:
                tables.append(parts[2])
    return tables


def ReadCells(path):
    """Rows of cells as pack reads them: BOM and quotes undone, any line end."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        text = data.decode("utf-16")
    else:
        text = data.decode("utf-8-sig", errors="replace")
    rows = [row for row in csv.reader(io.StringIO(text, newline=""), delimiter="\t", quotechar='"')]
    while rows and not any(rows[-1]):
        rows.pop()
    return rows


def ChangedCells(before, after):
    """[(table, row, column, old, new)] for every cell whose text differs."""
    changes = []
    for table in sorted(set(before) | set(after)):
        old, new = ReadCells(before[table]), ReadCells(after[table])
        header = old[0] if old else []
        for r in range(max(len(old), len(new))):
            a = old[r] if r < len(old) else None
            b = new[r] if r < len(new) else None
            if a is None or b is None:
                changes.append((table, r, "(row)", "(none)" if a is None else "\t".join(a),
                                "(none)" if b is None else "\t".join(b)))
                continue
            for c in range(max(len(a), len(b))):
                x = a[c] if c < len(a) else ""
                y = b[c] if c < len(b) else ""
                if x != y:
                    column = header[c] if c < len(header) else "#%d" % (c + 1)
                    changes.append((table, r, column, x, y))
    return changes


class Harness:
    def __init__(self, args):
        self.args = args
        self.gamedb = os.path.join(args.build, "gamedb")
        self.make_gamedb = os.path.join(args.build, "make_gamedb")
        for program in (self.gamedb, self.make_gamedb):
            if not os.access(program, os.X_OK):
                raise HarnessError("%s is missing; build it first" % program)
        self.work = tempfile.mkdtemp(prefix="calc-roundtrip-")
        self.databases = []
        self.passed = 0
        self.failed = 0

    def Close(self):
        if self.args.keep:
            print("spreadsheet: work folder kept: %s" % self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)

    def Gamedb(self, *args):
        return Run([self.gamedb, "--quiet"] + list(args))

    def Generate(self):
        for kind, file_name in KINDS.items():
            for seed in self.args.seeds:
                base = os.path.join(self.work, "db", "%s-%d" % (kind, seed))
                os.makedirs(base)
                path = os.path.join(base, file_name)
                folder = os.path.join(base, "tables")
                made = Run([self.make_gamedb, "--lookalikes", kind, path, str(seed)])
                if made.returncode != 0:
                    raise HarnessError("make_gamedb %s: %s" % (kind, made.stderr.strip()))
                unpacked = self.Gamedb("--kind", kind, "unpack", path, folder)
                if unpacked.returncode != 0:
                    raise HarnessError("unpack of %s failed: %s" % (path, unpacked.stderr.strip()))
                self.databases.append(Database(kind, seed, path, folder, ReadTableList(folder)))

    def Sample(self, database, count, turn):
        """`count` tables of the database, turning with `turn` so that the
        scenarios between them cover every table; tables with rows first."""
        def rows(table):
            with open(os.path.join(database.folder, table), "rb") as f:
                return f.read().count(b"\n") - 1
        tables = [t for t in database.tables if rows(t) > 0] or list(database.tables)
        if count <= 0 or count >= len(tables):
            return tables
        return [tables[(turn + i) % len(tables)] for i in range(count)]

    def Copy(self, database, scenario):
        folder = os.path.join(self.work, scenario, "%s-%d" % (database.kind, database.seed))
        shutil.copytree(database.folder, folder)
        return folder

    def Pack(self, database, folder, source=None):
        """(packed database path or None, gamedb's message): the tables in
        `folder`, or the workbook `source` packed beside where `folder` would be."""
        packed = folder + "." + os.path.basename(database.path).split(".", 1)[-1]
        result = Run([self.gamedb, "pack", source or folder, packed])
        output = (result.stderr + result.stdout).strip()
        return (packed if result.returncode == 0 else None), output

    def Diff(self, database, packed):
        result = Run([self.gamedb, "--kind", database.kind, "diff", database.path, packed])
        return result.stdout.splitlines() + result.stderr.splitlines()

    def Report(self, name, databases, note, problems):
        """One summary line, then the problems of each failing database."""
        if problems:
            self.failed += 1
            print("FAIL %s: %d of %d databases differ" % (name, len(problems), databases))
            for lines in problems:
                for line in lines:
                    print("    " + line)
        else:
            self.passed += 1
            print("ok   %s: %d databases, %s" % (name, databases, note))
        sys.stdout.flush()

    def Explain(self, database, folder, tables, packed, message):
        """What went wrong for one database, gamedb's words first."""
        limit = self.args.cells
        lines = [database.Name() + ":"]
        if packed is None:
            lines.append("  pack refused: " + (message.splitlines() or ["(no message)"])[0])
        else:
            diff = [l for l in self.Diff(database, packed) if l.strip()]
            lines.append("  database differs; gamedb diff: " + (diff[0].strip() if diff else "(no output)"))
            lines += ["    " + l.strip() for l in diff[1:1 + limit]]
        changes = ChangedCells({t: os.path.join(database.folder, t) for t in tables},
                               {t: os.path.join(folder, t) for t in tables})
        # The cells of the columns gamedb names first: they are why it failed;
        # the others may only be re-displayed.
        said = "\n".join(lines)
        changes.sort(key=lambda change: not re.search(r"\b%s\b" % re.escape(change[2]), said))
        if changes:
            lines.append("  %d cells changed as text; first:" % len(changes))
            for table, row, column, old, new in changes[:limit]:
                lines.append("    %s row %d %s: %r -> %r" % (table, row + 1, column, old, new))
        return lines

    # --- scenarios

    def RoundTrip(self, calc, route, detect, turn):
        name = "%s %s detect=%s" % (route, calc.locale, "on" if detect else "off")
        scenario = "%s-%s-%s" % (route, calc.locale, "on" if detect else "off")
        count = self.args.tables if route == "save" else self.args.xlsx_tables
        problems = []
        touched = 0
        for index, database in enumerate(self.databases):
            folder = self.Copy(database, scenario)
            tables = self.Sample(database, count, turn + index)
            touched += len(tables)
            for table in tables:
                path = os.path.join(folder, table)
                if route == "save":
                    with calc.OpenTable(path, detect, self.args.as_text) as doc:
                        doc.Save()
                else:
                    book = path + ".xlsx"
                    with calc.OpenTable(path, detect, self.args.as_text) as doc:
                        doc.SaveWorkbook(book)
                    with calc.OpenWorkbook(book) as doc:
                        doc.SaveTable(path)
                    os.remove(book)
            packed, message = self.Pack(database, folder)
            if packed is None or not SameBytes(packed, database.path):
                problems.append(self.Explain(database, folder, tables, packed, message))
        self.Report(name, len(self.databases), "%d tables, byte for byte" % touched, problems)

    def Edit(self, calc):
        name = "edit %s" % calc.locale
        kind, block, column = EDIT
        database = next(d for d in self.databases if d.kind == kind)
        table = database.tables[[t.rsplit(".", 1)[0] for t in database.tables].index(block)]
        folder = self.Copy(database, "edit-" + calc.locale)
        path = os.path.join(folder, table)
        with calc.OpenTable(path, as_text=self.args.as_text) as doc:
            columns, rows = doc.UsedSize()
            header = [doc.Cell(c, 0).String for c in range(columns)]
            if column not in header:
                raise HarnessError("%s has no column %s" % (table, column))
            c = header.index(column)
            # A small number, so that the edit stays within the field's range;
            # whether Calc took it for a number or text depends on the locale,
            # and typing over it makes a number either way.
            row = next((r for r in range(1, rows) if 1 <= AsNumber(doc.Cell(c, r).String) < 1e6), None)
            if row is None:
                raise HarnessError("%s has no small number in column %s" % (table, column))
            # A whole number is exact in every numeric field type.
            new = float(int(AsNumber(doc.Cell(c, row).String)) + 7)
            doc.SetNumber(c, row, new)
            doc.Save()
        packed, message = self.Pack(database, folder)
        problems = []
        edited = "%s row %d %s set to %s" % (table, row + 1, column, Number(new))
        if packed is None:
            problems.append(self.Explain(database, folder, [table], None, message) + ["  (the edit: %s)" % edited])
        else:
            diff = self.Diff(database, packed)
            fields = [l.strip() for l in diff if l.startswith("    ")]
            expected = "%s: ... -> %s" % (column, Number(new))
            if len(fields) != 1 or not fields[0].startswith(column + ": ") or not fields[0].endswith("-> " + Number(new)):
                problems.append([database.Name() + ":", "  expected exactly one changed field '%s'; diff says:" % expected]
                                + ["    " + l for l in diff[:self.args.cells + 2]])
            elif self.args.change_report and column not in message:
                problems.append([database.Name() + ":", "  pack's report does not name %s: %s" % (column, message or "(nothing)")])
        self.Report(name, 1, edited + ", one field changed", problems)

    def Book(self, calc):
        """Each database's workbook, saved by Calc as it is, packs back."""
        problems = []
        for database in self.databases:
            book = os.path.join(self.work, "book-" + calc.locale, "%s-%d.xlsx" % (database.kind, database.seed))
            os.makedirs(os.path.dirname(book), exist_ok=True)
            made = self.Gamedb("--kind", database.kind, "unpack", database.path, book)
            if made.returncode != 0:
                raise HarnessError("unpack into %s failed: %s" % (book, made.stderr.strip()))
            with calc.OpenWorkbook(book) as doc:
                doc.Save()
            packed, message = self.Pack(database, book[:-5], book)
            if packed is None or not SameBytes(packed, database.path):
                diff = self.Diff(database, packed) if packed else []
                problems.append([database.Name() + ":", "  " + (message.splitlines() or [""])[0]] +
                                ["    " + l.strip() for l in diff[:self.args.cells + 1]])
        self.Report("book " + calc.locale, len(self.databases), "workbooks saved in place, byte for byte", problems)

    def BookEdit(self, calc):
        kind, block, column = EDIT
        database = next(d for d in self.databases if d.kind == kind)
        book = os.path.join(self.work, "book-edit-" + calc.locale, "%s.xlsx" % kind)
        os.makedirs(os.path.dirname(book))
        made = self.Gamedb("unpack", database.path, book)
        if made.returncode != 0:
            raise HarnessError("unpack into %s failed: %s" % (book, made.stderr.strip()))
        with calc.OpenWorkbook(book) as doc:
            doc.UseSheet(block)
            columns, rows = doc.UsedSize()
            header = [doc.Cell(c, 0).String for c in range(columns)]
            c = header.index(column)
            row = next((r for r in range(1, rows) if doc.CellKind(c, r) == "value" and 1 <= doc.Cell(c, r).Value < 1e6), None)
            if row is None:
                raise HarnessError("%s has no small number in column %s" % (block, column))
            new = float(int(doc.Cell(c, row).Value) + 7)
            doc.SetNumber(c, row, new)
            doc.Save()
        packed, message = self.Pack(database, book[:-5], book)
        edited = "sheet %s row %d %s set to %s" % (block, row + 1, column, Number(new))
        problems = []
        if packed is None:
            problems.append([database.Name() + ":", "  pack refused: " + message, "  (the edit: %s)" % edited])
        else:
            diff = self.Diff(database, packed)
            fields = [l.strip() for l in diff if l.startswith("    ")]
            if len(fields) != 1 or not fields[0].startswith(column + ": ") or not fields[0].endswith("-> " + Number(new)):
                problems.append([database.Name() + ":", "  expected exactly one changed field; diff says:"] +
                                ["    " + l for l in diff[:self.args.cells + 2]])
            elif self.args.change_report and column not in message:
                problems.append([database.Name() + ":", "  pack's report does not name %s: %s" % (column, message)])
        self.Report("book-edit " + calc.locale, 1, edited + ", one field changed", problems)

    def Run(self):
        self.Generate()
        print("spreadsheet: %d databases (%d kinds, seeds %s) unpacked" % (
            len(self.databases), len(KINDS), ",".join(map(str, self.args.seeds))))
        turn = 0
        for locale in self.args.locales:
            with calc_uno.Calc(locale, timeout=self.args.timeout) as calc:
                for detect in (False, True):
                    for route in ("save", "xlsx"):
                        self.RoundTrip(calc, route, detect, turn)
                        turn += 1
                self.Edit(calc)
                self.Book(calc)
                self.BookEdit(calc)
        print("spreadsheet: %d passed, %d failed" % (self.passed, self.failed))
        return self.failed == 0


def AsNumber(text):
    """The number a cell's text shows, in either locale; NaN when none."""
    try:
        return float(text.replace(",", "."))
    except ValueError:
        return float("nan")


def Number(value):
    return str(int(value)) if value == int(value) else repr(value)


def SameBytes(a, b):
    with open(a, "rb") as f, open(b, "rb") as g:
        return f.read() == g.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="folder with gamedb and make_gamedb")
    parser.add_argument("--report-only", action="store_true", help="report differences but exit 0")
    parser.add_argument("--seeds", default="1,2,3", help="generator seeds, comma-separated")
    parser.add_argument("--locales", default="en-US,ru-RU")
    parser.add_argument("--tables", type=int, default=2, help="tables per database saved in place (0: all)")
    parser.add_argument("--xlsx-tables", type=int, default=1, help="tables per database through .xlsx (0: all)")
    parser.add_argument("--cells", type=int, default=5, help="differing cells and fields shown per database")
    parser.add_argument("--timeout", type=int, default=120, help="seconds Calc may take for one step")
    parser.add_argument("--change-report", action="store_true", help="the edit must be named in pack's output")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--as-text", action="store_true",
                        help="import every column as Text instead of the defaults (checks the harness itself)")
    args = parser.parse_args()
    args.seeds = [int(s) for s in args.seeds.split(",")]
    # Killed by a time limit: still end the office and remove the work folder.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(124))
    args.locales = args.locales.split(",")
    try:
        harness = Harness(args)
    except HarnessError as e:
        print("spreadsheet: %s" % e, file=sys.stderr)
        return 2
    try:
        ok = harness.Run()
    except (HarnessError, calc_uno.CalcError) as e:
        print("spreadsheet: %s" % e, file=sys.stderr)
        return 2
    finally:
        harness.Close()
    return 0 if ok or args.report_only else 1


if __name__ == "__main__":
    sys.exit(main())
