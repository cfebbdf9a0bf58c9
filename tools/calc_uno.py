"""A headless LibreOffice Calc driven over UNO, doing what a user does with a
tab-separated table: open it with the text import dialog's defaults, save it
in place, go through .xlsx, or change one cell.

Runs under the system python (/usr/bin/python3), for which python3-uno is
built. One office process serves many files, since its start-up is the slow
part; it runs with a private user profile in a temporary folder, so nothing
the user configured (or an earlier run left) changes what the import does.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import uno  # noqa: F401  (sets up the com.sun.star imports below)
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException

CSV_FILTER = "Text - txt - csv (StarCalc)"
XLSX_FILTER = "Calc MS Excel 2007 XML"

# Locales a modder may run Calc in: the environment the office starts with
# (which decides how numbers are shown when saved) and the language id of the
# text import (which decides what is read as a number).
LOCALES = {
    "en-US": ("en_US.UTF-8", 1033),
    "ru-RU": ("ru_RU.UTF-8", 1049),
}

TAB, QUOTE, UTF8 = 9, 34, 76


# Column type Text (2) for the first columns: the careful user's way round
# the type guessing, which keeps every cell as it is.
ALL_TEXT = "/".join("%d/2" % column for column in range(1, 257))


def ImportOptions(language, detect_special, as_text=False):
    """The filter options the text import dialog hands over with its defaults
    and separator Tab alone: quoted fields not forced to text, no trimming,
    formulas not evaluated. Tokens 8 and 9 are the export's "save as shown"
    and "save formulas", kept as the dialog writes them so that a plain save
    of the opened file behaves as File > Save does."""
    return "%d,%d,%d,1,%s,%d,false,%s,true,false,false,0,false" % (
        TAB, QUOTE, UTF8, ALL_TEXT if as_text else "", language, "true" if detect_special else "false")


# The export dialog's defaults, separator Tab, UTF-8: cells saved as shown,
# values rather than formulas, text cells not all quoted.
EXPORT_OPTIONS = "%d,%d,%d,1,,0,false,true,true,false,false" % (TAB, QUOTE, UTF8)


def _Props(**kwargs):
    props = []
    for name, value in kwargs.items():
        p = PropertyValue()
        p.Name = name
        p.Value = value
        props.append(p)
    return tuple(props)


def FileUrl(path):
    return uno.systemPathToFileUrl(os.path.abspath(path))


class CalcError(Exception):
    pass


class Calc:
    """One office process in one locale. Use as a context manager; every call
    is bounded by `timeout` seconds: past it the office is killed and the call
    fails (a hung office must not hang CI)."""

    def __init__(self, locale="en-US", timeout=120, soffice="soffice"):
        if locale not in LOCALES:
            raise CalcError("unknown locale %s" % locale)
        self.locale = locale
        self.posix_locale, self.language = LOCALES[locale]
        self.timeout = timeout
        self.soffice = soffice
        self.proc = None
        self.profile = None
        self.desktop = None

    def __enter__(self):
        self.Start()
        return self

    def __exit__(self, *exc):
        self.Close()
        return False

    def Start(self):
        self.profile = tempfile.mkdtemp(prefix="calc-profile-")
        pipe = "calcprobe%d_%s" % (os.getpid(), self.locale.replace("-", ""))
        env = dict(os.environ)
        for name in ("LANGUAGE", "LC_NUMERIC", "LC_MESSAGES", "LC_CTYPE"):
            env.pop(name, None)
        env["LC_ALL"] = env["LANG"] = self.posix_locale
        self.proc = subprocess.Popen(
            [self.soffice, "--headless", "--invisible", "--nologo", "--norestore",
             "--nodefault", "--nolockcheck",
             "-env:UserInstallation=" + FileUrl(self.profile),
             "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + self.timeout
        while True:
            try:
                ctx = resolver.resolve(
                    "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except NoConnectException:
                if self.proc.poll() is not None:
                    status = self.proc.returncode
                    self.Close()
                    raise CalcError("soffice exited with status %d at start-up" % status)
                if time.monotonic() > deadline:
                    self._Kill()
                    self.Close()
                    raise CalcError("soffice did not start within %d s" % self.timeout)
                time.sleep(0.3)
        self.desktop = ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", ctx)

    def Close(self):
        if self.desktop is not None:
            try:
                self._Bounded(self.desktop.terminate, timeout=15)
            except Exception:
                pass
            self.desktop = None
        if self.proc is not None:
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self._Kill()
            self.proc = None
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None

    def _Kill(self):
        # The office is its own session (start_new_session): end its whole
        # group, the wrapper script and soffice.bin alike.
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def _Bounded(self, call, *args, timeout=None):
        timer = threading.Timer(timeout or self.timeout, self._Kill)
        timer.start()
        try:
            return call(*args)
        except Exception as e:
            if not timer.is_alive():
                raise CalcError("soffice did not answer within %d s" % (timeout or self.timeout)) from e
            raise
        finally:
            timer.cancel()

    # --- documents

    def OpenTable(self, path, detect_special=False, as_text=False):
        """Opens a tab-separated table as the text import dialog does by default
        (or with every column set to Text)."""
        return self._Load(path, FilterName=CSV_FILTER,
                          FilterOptions=ImportOptions(self.language, detect_special, as_text))

    def OpenWorkbook(self, path):
        return self._Load(path)

    def _Load(self, path, **kwargs):
        doc = self._Bounded(self.desktop.loadComponentFromURL, FileUrl(path), "_blank", 0,
                            _Props(Hidden=True, **kwargs))
        if doc is None:
            raise CalcError("Calc could not open %s" % path)
        return Document(self, doc)


class Document:
    def __init__(self, calc, doc):
        self.calc = calc
        self.doc = doc
        self.sheet = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.Close()
        return False

    def Close(self):
        if self.doc is not None:
            try:
                self.calc._Bounded(self.doc.close, True)
            except Exception:
                pass
            self.doc = None

    def Sheet(self):
        return self.doc.Sheets.getByIndex(0) if self.sheet is None else self.doc.Sheets.getByName(self.sheet)

    def UseSheet(self, name):
        """Cell, SetNumber and UsedSize work on this sheet from now on."""
        self.sheet = name

    def Save(self):
        """File > Save, keeping the text format: the options the file was opened with."""
        self.calc._Bounded(self.doc.store)

    def SaveTable(self, path):
        """File > Save As, text, with the export dialog's defaults and Tab."""
        self.calc._Bounded(self.doc.storeToURL, FileUrl(path),
                           _Props(FilterName=CSV_FILTER, FilterOptions=EXPORT_OPTIONS, Overwrite=True))

    def SaveWorkbook(self, path):
        self.calc._Bounded(self.doc.storeToURL, FileUrl(path),
                           _Props(FilterName=XLSX_FILTER, Overwrite=True))

    def Cell(self, column, row):
        return self.Sheet().getCellByPosition(column, row)

    def CellKind(self, column, row):
        """'value', 'text', 'formula' or 'empty': what Calc made of the cell."""
        return self.Cell(column, row).Type.value.lower()

    def SetNumber(self, column, row, value):
        self.calc._Bounded(self.Cell(column, row).setValue, value)

    def UsedSize(self):
        """(columns, rows) of the used area of the first sheet."""
        cursor = self.Sheet().createCursor()
        cursor.gotoEndOfUsedArea(False)
        address = cursor.RangeAddress
        return address.EndColumn + 1, address.EndRow + 1
