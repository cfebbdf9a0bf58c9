#!/usr/bin/python3
"""What LibreOffice Calc does to cell texts: each case is one cell of a
tab-separated UTF-8 table (byte-order mark, CR LF, as unpack writes them),
opened with the text import's defaults (separator Tab; Detect special numbers
off, then on; formulas not evaluated) in the English and Russian locales,
then saved either in place (File > Save, same format) or as .xlsx, reopened
and saved as a table again. Prints, per case, what came back.

    /usr/bin/python3 tools/calc_probe.py [--markdown FILE] [--json FILE] [--cases FILE]

A cases file holds one cell text per line, with Python escapes (\\t, \\u00a0).
"""

import argparse
import csv
import io
import json
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import calc_uno  # noqa: E402

NBSP, NNBSP = "\u00a0", "\u202f"

# Texts a cell of a table may hold, or a modder may type: numbers in the
# forms the unpacker writes and in the forms people write, hex of raw
# fields, special floats, texts that look like numbers, dates, times,
# booleans and formulas, separators, quotes and blanks.
CASES = [
    # integers, leading zeros, signs
    "0", "00", "007", "-3", "+7", "+14", "-0", "0.0", "-0.0",
    "16777217", "2147483647", "-2147483648", "4294967295", "2013475408",
    "123456789012345", "1234567890123456", "12345678901234567", "99999999999999999999",
    # raw hex made of digits, or of digits and E
    "000000", "0000000000000000", "04000000", "00000080", "1E000000", "0E10", "0A000000",
    # decimals and exponents
    "1.5", "1.10", "0.1", ".5", "5.", "3.14159274", "0.123456789", "0.100000001",
    "1234567.1", "0.000001", "0.0000001", "1e5", "1E5", "1e+05", "4e+05", "1.7e+07",
    "400000", "17000000", "1e15", "1e21", "3.4028235e+38", "-3.4028235e+38",
    "1.17549435e-38", "1e-45", "1.4e-45", "1e400", "1e-400",
    "1e-05", "2.5e-05", "9.99999975e-06", "123456.789", "16777216", "1.00000012",
    "3.40282347e+38", "0.333333343", "1e+10", "1.5e+10", "6.02e+23",
    "3,14159274", "0,000001", "1,17549435e-38", "1,5e+10",
    # special floats and the unpacker's fallbacks
    "inf", "-inf", "Infinity", "nan", "NaN", "nan:0x7FC00000", "nan:0xFFFFFFFF",
    "#00000080", "#3F800000", "#", "\\#7", "x000000", "0x1F",
    # groups and decimal commas
    "1,000", "1,5", "1,000.5", "1.000,5", "1,2,3", "1 000", "1" + NBSP + "000", "1" + NNBSP + "000",
    "100 100 100", "0 0.5 1 2 -0 inf 3", "1 2",
    # dates, times, fractions, percent, money
    "1/2", "1 1/2", "1/2/2024", "12.03.2024", "2024-03-12", "12.03", "31.12", "1.2", "1.2.3",
    "1-2", "Jan 1", "1 Jan", "янв 1", "3:00", "3:00:00", "12:30 PM", "50%", "5 %",
    "$5", "(5)", "5-",
    # booleans
    "TRUE", "true", "FALSE", "ИСТИНА", "ЛОЖЬ",
    # formulas and their openers
    "=1", "=1+1", "=A1", "+x", "-x", "@x", "-", "'007", "\\007",
    # separators, lists, escapes, Cyrillic, quotes, blanks
    "a,b", "a;b", "a|b", "dex|str", "0.5|120|30", "Acks\\\\HMW\\\\1.wav;30;Ха!;HMW_001",
    "Шкура волка", "im1", "\\e", '"a"', 'a"b', 'say ""hi""',
    " 5", "5 ", " a", "a ", "  ", "",
    # last: an unbalanced opening quote may swallow the rows after it
    '"a',
]

TABLE_HEADER = "key\tvalue\tend"


def WriteCases(path, cases):
    # An end column keeps trailing blanks of the value away from the line end.
    lines = [TABLE_HEADER] + ["k%d\t%s\tz" % (i, text) for i, text in enumerate(cases)]
    with open(path, "wb") as f:
        f.write(b"\xef\xbb\xbf" + "\r\n".join(lines).encode("utf-8") + b"\r\n")


def ReadValues(path, count):
    """The value cells as pack would read them (quotes undone), and whether
    Calc quoted each one."""
    text = open(path, "rb").read().decode("utf-8-sig")
    raw = {}
    for line in text.splitlines():
        key = line.split("\t", 1)[0].strip('"')
        raw[key] = line
    values = []
    for i in range(count):
        line = raw.get("k%d" % i)
        if line is None:
            values.append((None, False))
            continue
        row = next(csv.reader(io.StringIO(line), delimiter="\t", quotechar='"'))
        cell = row[1] if len(row) > 1 else None
        values.append((cell, line.split("\t")[1:2] != [cell]))
    return values


def Probe(cases, locales):
    """{(locale, detect, route): [(kind, text, quoted)]} for every case."""
    work = tempfile.mkdtemp(prefix="calc-probe-")
    try:
        return _ProbeIn(work, cases, locales)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _ProbeIn(work, cases, locales):
    results = {}
    for locale in locales:
        with calc_uno.Calc(locale) as calc:
            for detect in (False, True):
                tag = "%s-%s" % (locale, "on" if detect else "off")
                table = os.path.join(work, tag + ".tsv")
                WriteCases(table, cases)
                with calc.OpenTable(table, detect) as doc:
                    kinds = [doc.CellKind(1, i + 1) for i in range(len(cases))]
                    doc.Save()
                results[(locale, detect, "save")] = [
                    (kind,) + value for kind, value in zip(kinds, ReadValues(table, len(cases)))]

                table = os.path.join(work, tag + "-x.tsv")
                book = os.path.join(work, tag + ".xlsx")
                WriteCases(table, cases)
                with calc.OpenTable(table, detect) as doc:
                    doc.SaveWorkbook(book)
                with calc.OpenWorkbook(book) as doc:
                    kinds = [doc.CellKind(1, i + 1) for i in range(len(cases))]
                    doc.SaveTable(table)
                results[(locale, detect, "xlsx")] = [
                    (kind,) + value for kind, value in zip(kinds, ReadValues(table, len(cases)))]
    return results


def Show(text):
    if text is None:
        return "(row lost)"
    if text == "":
        return "(empty)"
    shown = text.replace(NBSP, "<NBSP>").replace(NNBSP, "<NNBSP>").replace("|", "\\|")
    if shown != shown.strip(" "):
        shown = shown.replace(" ", "␠")
    return "`%s`" % shown if "`" not in shown else shown


def Markdown(cases, results, locales):
    columns = [(l, d, r) for r in ("save", "xlsx") for l in locales for d in (False, True)]
    head = ["cell text"] + ["%s %s det.%s" % (r, l, "on" if d else "off") for l, d, r in columns]
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for i, text in enumerate(cases):
        cells = []
        for key in columns:
            kind, back, quoted = results[key][i]
            mark = {"value": "N", "text": "", "empty": "", "formula": "F"}.get(kind, kind)
            if back == text:
                cells.append("·" + (" " + mark if mark else "") + (" q" if quoted else ""))
            else:
                cells.append(Show(back) + (" " + mark if mark else "") + (" q" if quoted else ""))
        out.append("| " + Show(text) + " | " + " | ".join(cells) + " |")
    return "\n".join(out) + "\n"


def Changed(cases, results):
    return [text for i, text in enumerate(cases)
            if any(r[i][1] != text for r in results.values())]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--markdown", help="write the findings table here")
    parser.add_argument("--json", help="write the raw results here")
    parser.add_argument("--cases", help="cell texts, one a line, instead of the built-in list")
    parser.add_argument("--locales", default="en-US,ru-RU")
    args = parser.parse_args()
    cases = CASES
    if args.cases:
        with open(args.cases, encoding="utf-8") as f:
            cases = [line.rstrip("\n").encode("latin-1", "backslashreplace").decode("unicode_escape")
                     for line in f if line.strip("\n")]
    locales = args.locales.split(",")
    results = Probe(cases, locales)
    table = Markdown(cases, results, locales)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(table)
    else:
        sys.stdout.write(table)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"%s %s %s" % (l, "on" if d else "off", r): [
                {"text": cases[i], "kind": k, "back": b, "quoted": q} for i, (k, b, q) in enumerate(v)]
                for (l, d, r), v in results.items()}, f, ensure_ascii=False, indent=1)
    changed = Changed(cases, results)
    print("calc_probe: %d cases, %d changed in some route" % (len(cases), len(changed)), file=sys.stderr)


if __name__ == "__main__":
    main()
