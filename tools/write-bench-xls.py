#!/usr/bin/python3
"""Writes the benchmark's .xls with xlwt: LINES data lines below a header, column A the element name, B .. AD
numbers from the same generator as the benchmark's .xlsx, so both files hold the same cells.

    tools/write-bench-xls.py OUT.xls LINES

Needs Debian's python3-xlwt.
"""
import sys

import xlwt

out, lines, cols = sys.argv[1], int(sys.argv[2]), 30
book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("S")
sheet.write(0, 0, "ElementName")
for c in range(1, cols):
    sheet.write(0, c, "Values%d" % c)
seed = 7
for r in range(1, lines + 1):
    sheet.write(r, 0, "Quelle %06d Straße" % (r + 1))
    for c in range(1, cols):
        seed = (seed * 1664525 + 1013904223) & 0xFFFFFFFF
        sheet.write(r, c, 40.0 + (seed % 400000) / 10000.0)
    if r % 1000 == 0:
        sheet.flush_row_data()
book.save(out)
