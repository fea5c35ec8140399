#!/usr/bin/python3
"""Compares the cells of real workbooks as veziru.read_sheet reads them with an independent reading: xlrd for
.xls, openpyxl (cached values) for .xlsx/.xlsm. Numbers compare as doubles, everything else as text; dates as
ISO date, time or "date time". Prints the differing cells, then the share of equal cells per kind of file.

    PYTHONPATH=build/python/package tools/check-sheet-cells.py FILE_OR_FOLDER...

Needs Debian's python3-xlrd and python3-openpyxl. A file the independent reader refuses is listed apart; its
cells do not count.
"""
import datetime
import os
import sys

import veziru


def xlrd_cells(path):
    import xlrd
    book = xlrd.open_workbook(path)
    sheets = [s for s in book.sheets()]
    sheet = sheets[0]
    cells = {}
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_TEXT and cell.value != "":
                cells[r, c] = ("str", cell.value)
            elif cell.ctype == xlrd.XL_CELL_NUMBER:
                cells[r, c] = ("num", cell.value)
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                cells[r, c] = ("str", "True" if cell.value else "False")
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                cells[r, c] = ("str", xlrd.error_text_from_code.get(cell.value, "#N/A"))
            elif cell.ctype == xlrd.XL_CELL_DATE:
                try:
                    y, mo, d, h, mi, s = xlrd.xldate_as_tuple(cell.value, book.datemode)
                except xlrd.XLDateError:
                    cells[r, c] = ("num", cell.value)
                    continue
                if (y, mo, d) == (0, 0, 0):
                    cells[r, c] = ("date", "%02d:%02d:%02d" % (h, mi, s))
                elif (h, mi, s) == (0, 0, 0):
                    cells[r, c] = ("date", "%04d-%02d-%02d" % (y, mo, d))
                else:
                    cells[r, c] = ("date", "%04d-%02d-%02d %02d:%02d:%02d" % (y, mo, d, h, mi, s))
    return cells


def openpyxl_cells(path):
    import openpyxl
    sheet = openpyxl.load_workbook(path, data_only=True, read_only=True).worksheets[0]
    cells = {}
    for row in sheet.iter_rows():
        for cell in row:
            v = getattr(cell, "value", None)
            if v is None or v == "":
                continue
            at = (cell.row - 1, cell.column - 1)
            if isinstance(v, bool):
                cells[at] = ("str", "True" if v else "False")
            elif isinstance(v, (int, float)):
                cells[at] = ("num", float(v))
            elif isinstance(v, datetime.datetime):
                cells[at] = ("date", v.strftime("%Y-%m-%d" if v.time() == datetime.time() else "%Y-%m-%d %H:%M:%S"))
            elif isinstance(v, datetime.date):
                cells[at] = ("date", v.strftime("%Y-%m-%d"))
            elif isinstance(v, datetime.time):
                cells[at] = ("date", v.strftime("%H:%M:%S"))
            elif isinstance(v, datetime.timedelta):
                s = round(v.total_seconds())
                cells[at] = ("date", "%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60))
            else:
                cells[at] = ("str", str(v))
    return cells


def equal(kind, theirs, ours):
    if kind == "num":
        try:
            return float(ours) == theirs
        except ValueError:
            return False
    return ours == theirs


def main(paths):
    files = []
    for p in paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p))
        else:
            files.append(p)
    totals = {}
    for path in files:
        ext = os.path.splitext(path)[1].lower()
        kind = ".xls" if ext == ".xls" else ".xlsx" if ext in (".xlsx", ".xlsm") else None
        if kind is None:
            continue
        try:
            theirs = xlrd_cells(path) if kind == ".xls" else openpyxl_cells(path)
        except Exception as e:
            print("independent reader refuses %s: %s" % (path, e))
            continue
        try:
            sheet = veziru.read_sheet(path)
            ours = {(r, c): v for r, row in enumerate(sheet.rows) for c, v in enumerate(row) if v != ""}
        except veziru.Error as e:
            print("REFUSED %s: %s" % (path, str(e).splitlines()[0]))
            ours = {}
        n = ok = 0
        for at in set(theirs) | set(ours):
            n += 1
            if at in theirs and at in ours and equal(theirs[at][0], theirs[at][1], ours[at]):
                ok += 1
            else:
                print("  %s %s: ours %r, independent %r" % (os.path.basename(path), at, ours.get(at), theirs.get(at)))
        t = totals.setdefault(kind, [0, 0, 0])
        t[0] += ok
        t[1] += n
        t[2] += 1
    for kind, (ok, n, count) in sorted(totals.items()):
        print("%s: %d files, %d of %d cells equal (%.2f %%)" % (kind, count, ok, n, 100.0 * ok / max(n, 1)))


if __name__ == "__main__":
    main(sys.argv[1:])
