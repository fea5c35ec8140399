#!/usr/bin/python3
# Writes the example emission spectra in three forms: spectra.xlsx (openpyxl), spectra.xls (xlwt) and
# spectra.txt (tab-separated). Header row = field names of the emission library; one spectrum per line,
# third-octave levels in dB for the bands 25 Hz .. 20 kHz (Values1 .. Values30), Values0 the total.
import math

import openpyxl
import xlwt

header = ["ElementName", "Kommentar", "Terz", "Values0"] + ["Values%d" % i for i in range(1, 31)]
rows = []
for name, peak, slope, note in [("Fan 400 mm", 12, 1.5, "Axial fan, free field"),
                                ("Pump house", 8, 2.0, "Measured at 1 m"),
                                ("Transformer 630 kVA", 5, 3.0, "Hum at 100 Hz"),
                                ("Cooling tower", 15, 1.0, "Grüne Halle, Nordseite")]:
    levels = [round(80 - slope * abs(i - peak), 1) for i in range(1, 31)]
    total = round(10 * math.log10(sum(10 ** (l / 10) for l in levels)), 1)
    rows.append([name, note, True, total] + levels)

wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Spectra"
ws.append(header)
for r in rows:
    ws.append(r)
wb.save("spectra.xlsx")

book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Spectra")
for j, h in enumerate(header):
    sh.write(0, j, h)
for i, r in enumerate(rows, start=1):
    for j, v in enumerate(r):
        sh.write(i, j, "True" if v is True else v)
book.save("spectra.xls")

with open("spectra.txt", "w", encoding="utf-8") as f:
    f.write("\t".join(header) + "\n")
    for r in rows:
        f.write("\t".join("True" if v is True else str(v) for v in r) + "\n")
