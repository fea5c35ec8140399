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

# Octave absorption coefficients 125 .. 4000 Hz of three materials, with the band in each column head: the README's
# example of mapping octave bands onto Values8, Values11, ..., Values23.
with open("absorption.txt", "w", encoding="utf-8") as f:
    f.write("Material\t125 Hz\t250 Hz\t500 Hz\t1000 Hz\t2000 Hz\t4000 Hz\n")
    for name, alphas in [("Mineral wool 50 mm", [0.20, 0.65, 0.95, 1.00, 0.95, 0.90]),
                         ("Perforated wood panel", [0.30, 0.60, 0.70, 0.55, 0.40, 0.30]),
                         ("Carpet on screed", [0.05, 0.10, 0.25, 0.45, 0.60, 0.65])]:
        f.write(name + "\t" + "\t".join("%.2f" % a for a in alphas) + "\n")
