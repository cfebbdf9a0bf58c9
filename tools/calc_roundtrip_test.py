#!/usr/bin/python3
"""The spreadsheet harness's own reading of folders and tables: what it
compares must be what pack reads, or it reports damage that is not there
(or misses damage that is)."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import calc_roundtrip as rt  # noqa: E402


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def Write(self, name, data):
        with open(os.path.join(self.path, name), "wb") as f:
            f.write(data)
        return os.path.join(self.path, name)

    def test_tables_come_from_the_manifest_whatever_their_names(self):
        for suffix in ("txt", "tsv"):
            self.Write("manifest." + suffix, (
                "\ufeffformat\t1\r\nkind\titems\r\nfile\t1\tauto\r\n"
                "block\t2\tweapons.%s\tauto\r\nblock\t1\tmaterials.%s\t4-byte:0\r\ntrailer\t00\r\n"
                % (suffix, suffix)).encode("utf-8"))
            self.assertEqual(rt.ReadTableList(self.path), ["weapons." + suffix, "materials." + suffix])
            os.remove(os.path.join(self.path, "manifest." + suffix))
        with self.assertRaises(rt.HarnessError):
            rt.ReadTableList(self.path)

    def test_cells_are_read_as_pack_reads_them(self):
        # Byte-order mark and CR LF as unpack writes; no mark, LF and quotes as
        # Calc writes; UTF-16 as a spreadsheet's "Unicode text".
        rows = [["name", "say", "~extra"], ["Ха", 'a"b', ""], ["x", "1\t2", ""]]
        written = {
            "bom-crlf": "\ufeffname\tsay\t~extra\r\nХа\ta\"b\t\r\nx\t\"1\t2\"\t\r\n".encode("utf-8"),
            "calc": 'name\tsay\t~extra\nХа\t"a""b"\t\nx\t"1\t2"\t\n\n'.encode("utf-8"),
            "utf16": "\ufeffname\tsay\t~extra\r\nХа\t\"a\"\"b\"\t\r\nx\t\"1\t2\"\t\r\n".encode("utf-16-le"),
        }
        for name, data in written.items():
            self.assertEqual(rt.ReadCells(self.Write(name, data)), rows, name)

    def test_changed_cells_name_table_row_and_column(self):
        before = self.Write("a", "\ufeffk\tv\r\nx\t000000\r\ny\t1.5\r\nz\t-0\r\n".encode("utf-8"))
        after = self.Write("b", "k\tv\nx\t0\ny\t1.5\n".encode("utf-8"))
        changes = rt.ChangedCells({"t.txt": before}, {"t.txt": after})
        self.assertEqual(changes, [("t.txt", 1, "v", "000000", "0"), ("t.txt", 3, "(row)", "z\t-0", "(none)")])
        self.assertEqual(rt.ChangedCells({"t.txt": before}, {"t.txt": before}), [])


if __name__ == "__main__":
    unittest.main()
