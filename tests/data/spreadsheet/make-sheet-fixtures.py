#!/usr/bin/python3
# Writes the workbooks of several sheets that the sheet-choice tests load, and sheet-cells.jsonl: for each
# choice of a sheet, the sheet's cells as an independent reader sees them (openpyxl for .xlsx, xlrd for .xls),
# the sheet names it lists, or the message of a refused choice (stated here, as the loader words it).
#
#   sheets.xlsx (openpyxl): a chart sheet, a cover page, spectra, an empty sheet, a sheet called "1", and
#   "Übersicht"; sheets.xls (xlwt, BIFF8): the same without the chart sheet; blank.xls (xlwt): two empty sheets.
#   Lines may also choose sheets of fixtures made elsewhere (cells.xlsx, biff5.xls, biff4.xls, xlrd-samples/).
#   Line keys as in expected-cells.jsonl, plus "sheet" (the choice), "sheet_name" (the sheet loaded) and
#   "names" (every sheet in tab order).
#
# Run it from this folder with Debian's python3 (python3-openpyxl, python3-xlwt, python3-xlrd); the output is
# committed, so the tests never need Python.
import json

import openpyxl
import openpyxl.chart
import xlrd
import xlwt

COVER = [["Lärmkartierung 2024 – Emissionsspektren"], [], ["Stand: März 2024"]]
SPECTRA = [["Name", 63, 125, 250], ["Lüfter", 70.1, 80.2, 75], ["Pumpe", 65, 72.5, 69]]
SHEETS = [("Cover", COVER), ("Spectra", SPECTRA), ("Empty", []), ("1", [["named one", 1]]),
          ("Übersicht", [["Quelle", "Lw"], ["Lüfter", 95.5]])]
lines = []


def write_xlsx(name):
    book = openpyxl.Workbook()
    book.remove(book.active)
    for title, rows in SHEETS:
        sheet = book.create_sheet(title)
        for row in rows:
            sheet.append(row)
    chart = openpyxl.chart.BarChart()
    chart.add_data(openpyxl.chart.Reference(book["Spectra"], min_col=2, max_col=4, min_row=2, max_row=3))
    book.create_chartsheet("Chart", 0).add_chart(chart)
    book.save(name)


def write_xls(name, sheets):
    book = xlwt.Workbook(encoding="utf-8")
    for title, rows in sheets:
        sheet = book.add_sheet(title)
        for r, row in enumerate(rows):
            for c, value in enumerate(row):
                sheet.write(r, c, value)
    book.save(name)


def cell_of(r, c, value):
    if isinstance(value, bool):
        return [r, c, "bool", "True" if value else "False"]
    if isinstance(value, (int, float)):
        return [r, c, "num", repr(float(value))]
    return [r, c, "str", value]


def xlsx_reading(name, sheet, title):
    book = openpyxl.load_workbook(name, data_only=True)
    cells = [cell_of(c.row - 1, c.column - 1, c.value) for row in book[title].iter_rows() for c in row
             if c.value not in (None, "")]
    lines.append({"file": name, "reader": "openpyxl", "file_type": "Excel 2007", "sheet": sheet, "sheet_name": title,
                  "names": book.sheetnames, "cells": cells})


def xls_reading(name, sheet, title, names=None):
    book = xlrd.open_workbook(name)
    s = book.sheet_by_name(title)
    cells = []
    for r in range(s.nrows):
        for c in range(s.ncols):
            cell = s.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_TEXT and cell.value != "":
                cells.append([r, c, "str", cell.value])
            elif cell.ctype == xlrd.XL_CELL_NUMBER:
                cells.append([r, c, "num", repr(cell.value)])
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                cells.append([r, c, "bool", "True" if cell.value else "False"])
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                cells.append([r, c, "error", xlrd.error_text_from_code[cell.value]])
            elif cell.ctype == xlrd.XL_CELL_DATE:
                y, mo, d, h, mi, sec = xlrd.xldate_as_tuple(cell.value, book.datemode)
                if (y, mo, d) == (0, 0, 0):
                    cells.append([r, c, "time", "%02d:%02d:%02d" % (h, mi, sec)])
                elif (h, mi, sec) == (0, 0, 0):
                    cells.append([r, c, "date", "%04d-%02d-%02d" % (y, mo, d)])
                else:
                    cells.append([r, c, "datetime", "%04d-%02d-%02d %02d:%02d:%02d" % (y, mo, d, h, mi, sec)])
    file_type = {50: "Excel 5.0", 70: "Excel 5.0", 80: "Excel 97"}[book.biff_version]
    lines.append({"file": name, "reader": "xlrd", "file_type": file_type, "sheet": sheet, "sheet_name": title,
                  "names": names or book.sheet_names(), "cells": cells})


def refused(name, sheet, message):
    lines.append({"file": name, "sheet": sheet, "error": message})


def quoted(names):
    return ", ".join('"' + n + '"' for n in names)


write_xlsx("sheets.xlsx")
write_xls("sheets.xls", SHEETS)
write_xls("blank.xls", [("Cover", []), ("Notes", [])])

tabs = ["Chart"] + [title for title, _ in SHEETS]
# No choice: the first worksheet (the chart sheet in front is passed over); a name exactly, then in any letter
# case; a number when no sheet is called so; the sheet called "1" before the first sheet.
for sheet, title in [("", "Cover"), ("Spectra", "Spectra"), ("ÜBERSICHT", "Übersicht"), ("3", "Spectra"),
                     ("1", "1")]:
    xlsx_reading("sheets.xlsx", sheet, title)
for sheet, title in [("", "Cover"), ("spectra", "Spectra"), ("übersicht", "Übersicht"), ("2", "Spectra"),
                     ("1", "1")]:
    xls_reading("sheets.xls", sheet, title)
with_data = quoted(["Cover", "Spectra", "1", "Übersicht"])
for name, names in [("sheets.xlsx", tabs), ("sheets.xls", tabs[1:])]:
    refused(name, "Data", 'The workbook has no sheet "Data" (its sheets: %s)' % quoted(names))
    refused(name, "7", 'The workbook has no sheet "7" (its sheets: %s)' % quoted(names))
    refused(name, "empty", 'The sheet "Empty" is empty; the sheets with data: ' + with_data)
refused("sheets.xlsx", "chart", 'The sheet "Chart" is empty; the sheets with data: ' + with_data)
refused("blank.xls", "2", 'The sheet "Notes" is empty; no sheet of the workbook holds data')
# Fixtures of real programs and of make-fixtures.py: names in the code page (BIFF5) and in UTF-16 (BIFF8).
xlsx_reading("cells.xlsx", "second", "Second")
# xlrd lists no chart sheet: the names of biff5.xls (a chart sheet in front of its worksheet) are stated.
xls_reading("biff5.xls", "tabelle1", "Tabelle1", ["Chart1", "Tabelle1"])
refused("biff5.xls", "1", 'The sheet "Chart1" is empty; the sheets with data: "Tabelle1"')
xls_reading("xlrd-samples/Formate.xls", "öäü", "ÖÄÜ")
xls_reading("xlrd-samples/profiles.xls", "4", "AXISDATUMLEVELS")
xls_reading("xlrd-samples/namesdemo.xls", "Seamus O'Reilly", "Seamus O'Reilly")
# Sheets whose first cell is a number hold data too.
refused("xlrd-samples/namesdemo.xls", "sheet2",
        'The sheet "Sheet2" is empty; the sheets with data: ' + quoted(["Sheet1", "Sheet3", "Seamus O'Reilly"]))
# A worksheet file (BIFF2 .. BIFF4) is one sheet; it has no name, so the loader calls it "Sheet1".
refused("biff4.xls", "Sheet 1", 'The workbook has no sheet "Sheet 1" (its sheets: "Sheet1")')

with open("sheet-cells.jsonl", "w", encoding="utf-8") as out:
    for line in lines:
        out.write(json.dumps(line, ensure_ascii=False) + "\n")
