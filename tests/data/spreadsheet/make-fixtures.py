#!/usr/bin/python3
# Writes the spreadsheet fixtures of the import tests with independent tools, and their expected cells.
#
#   .xlsx through openpyxl, BIFF8 .xls through xlwt, hand-made packages through Python's zipfile, and the
#   BIFF2, BIFF3, BIFF4 and BIFF5 files (which no tool at hand writes) record by record below, BIFF5 in a
#   compound document of our own making.
#   expected-cells.jsonl: one line per fixture. The cells are what an independent reader sees: xlrd for .xls,
#   openpyxl for the .xlsx it wrote; "stated" lines give the reading by hand (hand-made packages whose point is
#   a quirk, and elapsed times, which xlrd reads as dates). Cells: [row0, col0, kind, text], kind one of
#   num/str/bool/error/date/time/datetime/elapsed. A line with "error" gives the message a refused file gets.
#
# Run it from this folder with Debian's python3 (python3-openpyxl, python3-xlwt, python3-xlrd); the output is
# committed, so the tests never need Python.
import datetime
import io
import json
import struct
import zipfile

import openpyxl
import xlrd
import xlwt

UMLAUT = "Größe äöü ÄÖÜ ß"
expected = []


def state(name, file_type, cells):
    expected.append({"file": name, "reader": "stated", "file_type": file_type, "cells": cells})


def refused(name, message):
    expected.append({"file": name, "error": message})


# ---- reading with the independent readers ----
def xlrd_cells(name, elapsed=(), encoding=None):
    book = xlrd.open_workbook(name, encoding_override=encoding)
    sheet = book.sheet_by_index(0)
    cells = []
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                continue
            if cell.ctype == xlrd.XL_CELL_TEXT:
                if cell.value != "":
                    cells.append([r, c, "str", cell.value])
            elif cell.ctype == xlrd.XL_CELL_NUMBER:
                cells.append([r, c, "num", repr(cell.value)])
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                cells.append([r, c, "bool", "True" if cell.value else "False"])
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                cells.append([r, c, "error", xlrd.error_text_from_code[cell.value]])
            elif (r, c) in elapsed:
                seconds = round(cell.value * 86400)
                cells.append([r, c, "elapsed", "%02d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)])
            else:
                y, mo, d, h, mi, s = xlrd.xldate_as_tuple(cell.value, book.datemode)
                if (y, mo, d) == (0, 0, 0):
                    cells.append([r, c, "time", "%02d:%02d:%02d" % (h, mi, s)])
                elif (h, mi, s) == (0, 0, 0):
                    cells.append([r, c, "date", "%04d-%02d-%02d" % (y, mo, d)])
                else:
                    cells.append([r, c, "datetime", "%04d-%02d-%02d %02d:%02d:%02d" % (y, mo, d, h, mi, s)])
    names = {20: "Excel 2.1", 21: "Excel 2.1", 30: "Excel 3.0", 40: "Excel 4.0", 45: "Excel 4.0", 50: "Excel 5.0",
             70: "Excel 5.0", 80: "Excel 97"}
    expected.append({"file": name, "reader": "xlrd", "file_type": names[book.biff_version], "cells": cells})


def openpyxl_cells(name):
    sheet = openpyxl.load_workbook(name, data_only=True).worksheets[0]
    cells = []
    for row in sheet.iter_rows():
        for cell in row:
            v = cell.value
            r, c = cell.row - 1, cell.column - 1
            if v is None or v == "":
                continue
            if isinstance(v, bool):
                cells.append([r, c, "bool", "True" if v else "False"])
            elif isinstance(v, (int, float)):
                cells.append([r, c, "num", repr(float(v))])
            elif isinstance(v, datetime.datetime):
                kind = "date" if v.time() == datetime.time() else "datetime"
                cells.append([r, c, kind, v.strftime("%Y-%m-%d" if kind == "date" else "%Y-%m-%d %H:%M:%S")])
            elif isinstance(v, datetime.time):
                cells.append([r, c, "time", v.strftime("%H:%M:%S")])
            else:
                cells.append([r, c, "str", str(v)])
    expected.append({"file": name, "reader": "openpyxl", "file_type": "Excel 2007", "cells": cells})


# ---- BIFF records and a compound document writer ----
def rec(kind, data=b""):
    return struct.pack("<HH", kind, len(data)) + data


def u8str(text, encoding="cp1252"):
    b = text.encode(encoding)
    return struct.pack("<B", len(b)) + b


def u16str(text, encoding="cp1252"):
    b = text.encode(encoding)
    return struct.pack("<H", len(b)) + b


END, FREE, FATSECT = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD


def compound(streams, streams_last=False):
    """A version 3 compound document (512-byte sectors) with the streams under the root; streams below 4096
    bytes go into the mini stream, as the format wants. The streams of 4096 bytes or more are laid out first,
    or with streams_last after the sector table and the directory, at the end of the file."""
    def blocks(data):
        return (len(data) + 511) // 512

    mini, minifat, small = b"", [], {}
    for name, data in streams:
        if len(data) < 4096:
            start, n = len(mini) // 64, (len(data) + 63) // 64
            minifat += [start + i + 1 if i < n - 1 else END for i in range(n)]
            mini += data.ljust(n * 64, b"\0")
            small[name] = start
    minifat_bytes = b"".join(struct.pack("<I", x) for x in minifat)
    minifat_bytes = minifat_bytes.ljust(blocks(minifat_bytes) * 512, b"\xff")
    big = [(name, data) for name, data in streams if len(data) >= 4096]
    dir_bytes = 128 * (1 + len(streams))
    used = sum(blocks(d) for _, d in big) + blocks(mini) + blocks(minifat_bytes) + blocks(b"\0" * dir_bytes)
    k = 1
    while used + k > k * 128:
        k += 1
    parts = [("fat", b"\0" * 512 * k)] + [("mini", mini), ("minifat", minifat_bytes), ("dir", b"\0" * dir_bytes)]
    parts = parts + [("s:" + n, d) for n, d in big] if streams_last else [("s:" + n, d) for n, d in big] + parts
    start, at = {}, 0
    for name, data in parts:
        start[name] = at if data else END
        at += blocks(data)
    fat = [FREE] * (k * 128)
    for name, data in parts:
        n = blocks(data)
        for i in range(n):
            fat[start[name] + i] = FATSECT if name == "fat" else start[name] + i + 1 if i < n - 1 else END

    def entry(name, kind, first, size, child=FREE, right=FREE):
        n = (name + "\0").encode("utf-16-le")
        return (n.ljust(64, b"\0") + struct.pack("<HBB", len(n), kind, 1) + struct.pack("<III", FREE, right, child) +
                b"\0" * 36 + struct.pack("<III", first, size, 0))

    directory = entry("Root Entry", 5, start["mini"], len(mini), child=1)
    for i, (name, data) in enumerate(streams):
        first = small[name] if name in small else start["s:" + name]
        directory += entry(name, 2, first, len(data), right=i + 2 if i + 1 < len(streams) else FREE)
    content = {"fat": b"".join(struct.pack("<I", x) for x in fat), "dir": directory}
    body = b"".join(content.get(name, data).ljust(blocks(data) * 512, b"\0") for name, data in parts)
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 16 + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) +
              b"\0" * 6 + struct.pack("<IIIIIIIII", 0, k, start["dir"], 0, 4096, start["minifat"],
                                      blocks(minifat_bytes) if minifat else 0, END, 0))
    header += b"".join(struct.pack("<I", x) for x in [start["fat"] + i for i in range(k)] + [FREE] * (109 - k))
    return header + body


# ---- BIFF2 .. BIFF4 worksheet files ----
def attrs(fmt):  # BIFF2 cell attributes: XF 0, the number format, no font or alignment
    return bytes([0, fmt, 0])


def biff2():
    r = rec(0x0009, struct.pack("<HH", 2, 0x0010)) + rec(0x0042, struct.pack("<H", 1252))
    for code in ("General", "0.00", "d.m.yy", "hh:mm"):
        r += rec(0x001E, u8str(code))
    r += rec(0x0002, struct.pack("<HH", 0, 0) + attrs(0) + struct.pack("<H", 42))                    # INTEGER
    r += rec(0x0003, struct.pack("<HH", 0, 1) + attrs(1) + struct.pack("<d", -2.5))                  # NUMBER
    r += rec(0x0004, struct.pack("<HH", 0, 2) + attrs(0) + u8str("Lüfter"))                          # LABEL
    r += rec(0x0005, struct.pack("<HH", 1, 0) + attrs(0) + bytes([1, 0]))                            # BOOLERR
    r += rec(0x0005, struct.pack("<HH", 1, 1) + attrs(0) + bytes([0x07, 1]))                         # error
    r += rec(0x0003, struct.pack("<HH", 1, 2) + attrs(2) + struct.pack("<d", 45351.0))               # date
    r += rec(0x0003, struct.pack("<HH", 1, 3) + attrs(3) + struct.pack("<d", 0.75))                  # time
    tokens = bytes([0x1E, 7, 0])
    r += rec(0x0006, struct.pack("<HH", 2, 0) + attrs(0) + struct.pack("<d", 7.0) + bytes([0, len(tokens)]) + tokens)
    r += rec(0x0006, struct.pack("<HH", 2, 1) + attrs(0) + b"\0\0\0\0\0\0\xff\xff" + bytes([0, len(tokens)]) + tokens)
    r += rec(0x0007, u8str("Formelergebnis"))                                                        # its STRING
    r += rec(0x0001, struct.pack("<HH", 2, 2) + attrs(0))                                            # BLANK
    return r + rec(0x000A)


# BIFF2 with XF records, as written by programs that keep the cell formats in them: the cells' attributes name
# their XF (63: the IXFE record before names it), the format byte of the attributes is 0. No CODEPAGE record:
# the text is in the default code page.
def biff2_xf():
    r = rec(0x0009, struct.pack("<HH", 2, 0x0010))
    for code in ("General", "0.00", "d.m.yy", "hh:mm"):
        r += rec(0x001E, u8str(code))
    for f in range(4):  # XF i shows format i
        r += rec(0x0043, bytes([0, 0, f, 0]))
    r += rec(0x0003, struct.pack("<HH", 0, 0) + bytes([2, 0, 0]) + struct.pack("<d", 45351.0))       # date
    r += rec(0x0044, struct.pack("<H", 3))                                                           # IXFE
    r += rec(0x0003, struct.pack("<HH", 0, 1) + bytes([63, 0, 0]) + struct.pack("<d", 0.75))         # time
    r += rec(0x0003, struct.pack("<HH", 0, 2) + bytes([1, 0, 0]) + struct.pack("<d", -2.5))          # number
    r += rec(0x0004, struct.pack("<HH", 1, 0) + bytes([0, 0, 0]) + u8str("Lüfter"))
    return r + rec(0x000A)


def biff3or4(version, encrypted=False, xf_bytes=12):
    bof, xf, formula = (0x0209, 0x0243, 0x0206) if version == 3 else (0x0409, 0x0443, 0x0406)
    fmt = (lambda code: rec(0x001E, u8str(code))) if version == 3 else (lambda code: rec(0x041E, b"\0\0" + u8str(code)))
    r = rec(bof, struct.pack("<HHH", 0, 0x0010, 0))
    if encrypted:
        r += rec(0x002F, b"\0\0\0\0")  # FILEPASS, where a program puts it
    r += rec(0x0042, struct.pack("<H", 850))
    for code in ("General", "yyyy-mm-dd", "[h]:mm:ss", '0.0 "h"'):
        r += fmt(code)
    for f in range(4):  # XF i shows format i
        r += rec(xf, (bytes([0, f]) + b"\0" * 10)[:xf_bytes])
    r += rec(0x0203, struct.pack("<HHHd", 0, 0, 0, 3.25))                                          # NUMBER
    r += rec(0x027E, struct.pack("<HHHI", 0, 1, 0, (1234 << 2) | 2 | 1))                           # RK 12.34
    r += rec(0x0204, struct.pack("<HHH", 0, 2, 0) + u16str("Übergang", "cp850"))                   # LABEL
    r += rec(0x0205, struct.pack("<HHHBB", 1, 0, 0, 0, 0))                                         # BOOLERR False
    r += rec(0x0205, struct.pack("<HHHBB", 1, 1, 0, 0x2A, 1))                                      # #N/A
    r += rec(0x0203, struct.pack("<HHHd", 1, 2, 1, 36526.0))                                       # 2000-01-01
    r += rec(0x0203, struct.pack("<HHHd", 1, 3, 2, 1.5))                                           # 36:00:00
    r += rec(0x0203, struct.pack("<HHHd", 1, 4, 3, 2.5))                                           # quoted h: number
    tokens = bytes([0x1E, 1, 0])
    r += rec(formula, struct.pack("<HHH", 2, 0, 0) + b"\0\0\0\0\0\0\xff\xff" + struct.pack("<H", 0) + struct.pack("<H", len(tokens)) + tokens)
    r += rec(0x0207, u16str("berechnet"))
    r += rec(formula, struct.pack("<HHH", 2, 1, 0) + b"\x01\0\x01\0\0\0\xff\xff" + struct.pack("<H", 0) + struct.pack("<H", len(tokens)) + tokens)
    r += rec(formula, struct.pack("<HHH", 2, 2, 0) + b"\x02\0\x17\0\0\0\xff\xff" + struct.pack("<H", 0) + struct.pack("<H", len(tokens)) + tokens)
    return r + rec(0x000A)


open("biff2.xls", "wb").write(biff2())
xlrd_cells("biff2.xls")
open("biff3.xls", "wb").write(biff3or4(3))
xlrd_cells("biff3.xls", elapsed={(1, 3)})
# The same workbook naming code page 4242, which does not exist: its text is read as 1252 ("\x9a" is "š" there).
data = bytearray(open("biff3.xls", "rb").read())
data[14:16] = struct.pack("<H", 4242)
open("biff3-unknown-cp.xls", "wb").write(bytes(data))
expected.append(json.loads(json.dumps(expected[-1], ensure_ascii=False).replace("Übergang", "šbergang")))
expected[-1]["file"] = "biff3-unknown-cp.xls"
open("biff4.xls", "wb").write(biff3or4(4))
xlrd_cells("biff4.xls", elapsed={(1, 3)})
open("biff2-xf.xls", "wb").write(biff2_xf())
xlrd_cells("biff2-xf.xls", encoding="cp1252")  # the code page a file without CODEPAGE is read in
# XF records of just the two bytes read from them: the cells are those of biff3.xls.
open("biff3-short-xf.xls", "wb").write(biff3or4(3, xf_bytes=2))
expected.append(dict(next(e for e in expected if e["file"] == "biff3.xls"), file="biff3-short-xf.xls", reader="stated"))
# A BIFF4 workbook (4W): its globals, a chart sheet, then the worksheet of biff4.xls; the cells are that file's.
open("biff4w.xls", "wb").write(rec(0x0409, struct.pack("<HHH", 0, 0x0100, 0)) + rec(0x0042, struct.pack("<H", 850)) +
                               rec(0x0409, struct.pack("<HHH", 0, 0x0020, 0)) + rec(0x000A) + biff3or4(4) + rec(0x000A))
expected.append(dict(next(e for e in expected if e["file"] == "biff4.xls"), file="biff4w.xls", reader="stated"))
open("encrypted-biff4.xls", "wb").write(biff3or4(4, encrypted=True))
refused("encrypted-biff4.xls", "The workbook is encrypted (protected with a password); save it without a password to import it")


# ---- BIFF5 workbook in a compound document ("Book"), a chart sheet first, an embedded chart in the sheet ----
def biff5(date1904):
    def bof(kind):
        return rec(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x0DBB, 0x07CC))

    globals_ = bof(0x0005) + rec(0x0042, struct.pack("<H", 1251))
    if date1904:
        globals_ += rec(0x0022, struct.pack("<H", 1))
    globals_ += rec(0x041E, struct.pack("<H", 164) + u8str("dd.mm.yyyy hh:mm"))
    globals_ += rec(0x041E, struct.pack("<H", 165) + u8str("[mm]:ss"))
    for f in [0] * 15 + [0, 164, 165, 14, 2]:  # 15 style XFs, then cell XFs 15 .. 19
        globals_ += rec(0x00E0, struct.pack("<HH", 0, f) + b"\0" * 12)
    chart = bof(0x0020) + rec(0x000A)
    sheet = bof(0x0010)
    sheet += rec(0x0204, struct.pack("<HHH", 0, 0, 15) + u16str("Привет", "cp1251"))              # LABEL
    sheet += rec(0x00D6, struct.pack("<HHH", 0, 1, 15) + u16str("reich") + bytes([1]) + b"\0\0")  # RSTRING
    sheet += rec(0x00BD, struct.pack("<HH", 1, 0) + b"".join(struct.pack("<HI", xf, rk) for xf, rk in
                                                            ((15, (5 << 2) | 2), (16, 0x40E3C6E0), (18, (40000 << 2) | 2), (19, 0x3FF80000))) +
                 struct.pack("<H", 3))                                                            # MULRK
    sheet += rec(0x00BE, struct.pack("<HHHHH", 1, 4, 15, 15, 5))                                 # MULBLANK
    sheet += rec(0x0203, struct.pack("<HHHd", 2, 0, 17, 0.0625))                                  # 01:30:00 elapsed
    sheet += bof(0x0020) + rec(0x0203, struct.pack("<HHHd", 5, 5, 15, 99.0)) + rec(0x000A)        # embedded chart
    tokens = bytes([0x1E, 1, 0])
    sheet += rec(0x0006, struct.pack("<HHH", 2, 1, 15) + b"\0\0\0\0\0\0\xff\xff" + struct.pack("<HI", 0, 0) +
                 struct.pack("<H", len(tokens)) + tokens)
    sheet += rec(0x0207, u16str("Ergebnis"))
    sheet += rec(0x0205, struct.pack("<HHHBB", 2, 2, 15, 1, 0))
    sheet += rec(0x000A)

    def boundsheet(pos, kind, name):
        return rec(0x0085, struct.pack("<IBB", pos, 0, kind) + u8str(name))

    size = len(globals_) + len(boundsheet(0, 0, "Chart1")) + len(boundsheet(0, 0, "Tabelle1")) + 4
    globals_ += boundsheet(size, 2, "Chart1") + boundsheet(size + len(chart), 0, "Tabelle1") + rec(0x000A)
    return globals_ + chart + sheet


open("biff5.xls", "wb").write(compound([("Book", biff5(False))]))
xlrd_cells("biff5.xls", elapsed={(2, 0)})
open("biff5-1904.xls", "wb").write(compound([("BOOK", biff5(True))]))  # the stream name in capitals
xlrd_cells("biff5-1904.xls", elapsed={(2, 0)})

# ---- BIFF8 through xlwt: shared strings spread over CONTINUE records, dates, times, elapsed times, errors ----
book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Messung")
long_greek = "Ωμέγα " * 1500  # 9000 characters in UTF-16: crosses CONTINUE boundaries inside the string
for i in range(400):
    sh.write(i, 0, "Zeile %03d %s" % (i, UMLAUT))
    sh.write(i, 1, i * 1.25)
sh.write(0, 2, long_greek)
sh.write(1, 2, datetime.date(1999, 12, 31), xlwt.easyxf(num_format_str="dd.mm.yyyy"))
sh.write(2, 2, datetime.time(23, 59, 59), xlwt.easyxf(num_format_str="hh:mm:ss"))
sh.write(3, 2, datetime.datetime(2024, 2, 29, 8, 5, 0), xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm"))
sh.write(4, 2, 1.75, xlwt.easyxf(num_format_str="[h]:mm:ss"))
sh.write(5, 2, True)
sh.row(6).set_cell_error(2, "#DIV/0!")
sh.write(7, 2, 123456789)
sh.write(8, 2, -0.000123)
sh.write(9, 2, "")
book.add_sheet("Zwei").write(0, 0, "not read")
book.save("biff8.xls")
xlrd_cells("biff8.xls", elapsed={(4, 2)})

# The same workbook with its stream named in lower case.
data = open("biff8.xls", "rb").read()
open("biff8-lowercase.xls", "wb").write(data.replace("Workbook".encode("utf-16-le"), "workbook".encode("utf-16-le")))
expected.append(dict(expected[-1], file="biff8-lowercase.xls"))
# The same workbook with no version number in its BOF records: a BOF of 16 bytes tells BIFF8.
open("biff8-noversion.xls", "wb").write(data.replace(b"\x09\x08\x10\x00\x00\x06", b"\x09\x08\x10\x00\x00\x00"))
expected.append(dict(expected[-1], file="biff8-noversion.xls"))

# Files cut inside their last sector. Losing only what no stream needs (part of an unused directory entry of
# xlwt's file, free entries of the sector table of ours) loses nothing; a cut into the sheet's records is an
# error.
book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Data")
for i in range(150):
    sh.write(i, 0, "Wert %d" % i)
    sh.write(i, 1, i)
book.save("cut-directory.xls")
whole = open("cut-directory.xls", "rb").read()
xlrd_cells("cut-directory.xls")
open("cut-directory.xls", "wb").write(whole[:-64])
open("cut-table.xls", "wb").write(open("biff5.xls", "rb").read()[:-100])
expected.append(dict(next(e for e in expected if e["file"] == "biff5.xls"), file="cut-table.xls"))
# The same workbook stream at the end of a file of ours, cut just before the sheet's EOF record.
workbook = whole[512:512 + struct.unpack_from("<I", whole, 512 + struct.unpack_from("<I", whole, 48)[0] * 512 + 248)[0]]
at, ends, after = 0, 0, {}
while ends < 2:  # the globals' EOF, then the sheet's; `after`: where the first record of each kind ends
    kind, length = struct.unpack_from("<HH", workbook, at)
    ends += kind == 0x000A
    at += 4 + length
    after.setdefault(kind, at)
cut = compound([("Workbook", workbook)], streams_last=True)
open("cut-records.xls", "wb").write(cut[:len(cut) - (len(workbook) + 511) // 512 * 512 + at - 10])
refused("cut-records.xls", "The file is cut short: the workbook stream ends inside a record")
# The same cut just after the globals, whose shared string table (SST) only their EOF record follows: the sheet
# is lost with the cut.
assert after[0x000A] == after[0x00FC] + 4
open("cut-after-strings.xls", "wb").write(cut[:len(cut) - (len(workbook) + 511) // 512 * 512 + after[0x000A]])
refused("cut-after-strings.xls", 'The file is cut short: the sheet "Data" is missing')

# An encrypted Office package: a compound document holding EncryptionInfo and EncryptedPackage.
open("encrypted.xlsx", "wb").write(compound([("EncryptionInfo", b"\x04\0\x04\0" + b"\0" * 60),
                                             ("EncryptedPackage", b"\x10\0\0\0\0\0\0\0" + b"\xaa" * 5000)]))
refused("encrypted.xlsx", "The workbook is encrypted (protected with a password); save it without a password to import it")

# ---- cells.xlsx: every kind of value, gaps, sparse rows, columns beyond Z ----
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
ws["A1"] = "Name"
ws["B1"] = UMLAUT
ws["C1"] = 0.1 + 0.2
ws["D1"] = 1234567.8912345678
ws["E1"] = -2.5e-300
ws["F1"] = 123456789012345678
ws["A2"] = True
ws["B2"] = False
ws["C2"] = datetime.date(2024, 2, 29)
ws["C2"].number_format = "yyyy-mm-dd"
ws["D2"] = datetime.datetime(2024, 2, 29, 13, 45, 30)
ws["D2"].number_format = "dd.mm.yyyy hh:mm:ss"
ws["E2"] = 42
ws["F2"] = datetime.datetime(2021, 3, 4, 5, 6, 7)
ws["F2"].number_format = "m/d/yy h:mm"  # built-in format 22
ws["A3"] = "left"
ws["C3"] = "right"  # B3 stays empty
ws["A10"] = "sparse"  # rows 4 to 9 are not written
ws["AA1"] = "aa"
ws["AB2"] = 7
ws["BA10"] = "ba"
ws["AAA3"] = "aaa"
wb.create_sheet("Second")["A1"] = "not read"
wb.save("cells.xlsx")
openpyxl_cells("cells.xlsx")

# ---- offset.xlsx / offset.xls: first used cell D5 ----
wb = openpyxl.Workbook()
wb.active["D5"] = "first"
wb.active["E6"] = 2.5
wb.save("offset.xlsx")
openpyxl_cells("offset.xlsx")
book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Data")
sh.write(4, 3, "first")
sh.write(5, 4, 2.5)
book.save("offset.xls")
xlrd_cells("offset.xls")
# Compressed BIFF8 text is Latin-1: each byte is its own code point, also the first one above ASCII.
book = xlwt.Workbook(encoding="utf-8")
book.add_sheet("Data").write(0, 0, "\x7f\x80\xa0\xff")
book.save("latin1.xls")
xlrd_cells("latin1.xls")

# A single cell in the last row a sheet has.
wb = openpyxl.Workbook()
wb.active["B1048576"] = "last"
wb.save("lastrow.xlsx")
openpyxl_cells("lastrow.xlsx")


# ---- hand-made packages ----
def package(name, sheet, shared=None, workbook_pr="", doctype="", names=None, styles=None, chart_first=False):
    names = names or {}
    ct = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
          '<Default Extension="xml" ContentType="application/xml"/></Types>')
    rels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>')
    chart = '<x:sheet name="C" sheetId="2" r:id="rIdC"/>' if chart_first else ""
    wbx = ('<?xml version="1.0" encoding="UTF-8"?><x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
           'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">' + workbook_pr +
           '<x:sheets>' + chart + '<x:sheet name="S" sheetId="1" r:id="rIdS"/></x:sheets></x:workbook>')
    wbrels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
              '<Relationship Id="rIdS" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/sheets/s.xml"/>'
              '<Relationship Id="rIdC" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet" Target="chartsheets/c.xml"/>'
              '<Relationship Id="rIdT" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="strings.xml"/>'
              '<Relationship Id="rIdY" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
              '</Relationships>')
    styles = styles or ('<numFmts count="1"><numFmt numFmtId="164" formatCode="&quot;day&quot; d/m/yyyy"/></numFmts>'
                        '<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="2"/></cellXfs>')
    stylesx = ('<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
               + styles + '</styleSheet>')
    head = '<?xml version="1.0" encoding="UTF-8"?>' + doctype
    parts = [("[Content_Types].xml", ct), ("_rels/.rels", rels), ("xl/workbook.xml", wbx),
             ("xl/_rels/workbook.xml.rels", wbrels), ("xl/styles.xml", stylesx),
             ("xl/strings.xml", head + '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">' + (shared or "") + "</sst>"),
             ("xl/sheets/s.xml", head + '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>' + sheet + "</sheetData></worksheet>")]
    if chart_first:
        parts.append(("xl/chartsheets/c.xml", '<chartsheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"/>'))
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in parts:
            z.writestr(names.get(part, part), text)


# Inline and rich strings (phonetic runs left out), cells and rows without references, a reference without a
# row, the 1904 date system, a custom date format with a quoted "d", formula strings, errors and booleans.
package("quirks.xlsx",
        '<row><c t="inlineStr"><is><t>inline</t></is></c><c t="s"><v>0</v></c><c t="s"><v>1</v></c></row>'
        '<row><c s="1"><v>0</v></c><c s="2"><v>1.5</v></c><c t="str"><f>A1</f><v>formula</v></c>'
        '<c t="e"><v>#DIV/0!</v></c><c t="b"><v>1</v></c></row>'
        '<row r="5"><c r="B5"><v>1E-7</v></c><c><v>9007199254740993</v></c><c r="E"><v>3</v></c></row>',
        '<si><r><t>rich </t></r><r><t>text</t></r><rPh><t>ignored</t></rPh></si><si><t xml:space="preserve"> spaced </t></si>',
        workbook_pr='<x:workbookPr date1904="1"/>')
state("quirks.xlsx", "Excel 2007",
      [[0, 0, "str", "inline"], [0, 1, "str", "rich text"], [0, 2, "str", " spaced "], [1, 0, "date", "1904-01-01"],
       [1, 1, "num", "1.5"], [1, 2, "str", "formula"], [1, 3, "error", "#DIV/0!"], [1, 4, "bool", "True"],
       [4, 1, "num", "1e-07"], [4, 2, "num", "9007199254740992.0"], [4, 4, "num", "3"]])

# Escapes, a stray <v> beside an inline string, empty values (an empty shared string alone in the last row, which
# holds no cell then), elapsed and built-in formats, part names in other case and with backslashes, and a chart
# sheet before the worksheet.
package("escapes.xlsx",
        '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><v>9</v><is><t>in_x000D_line</t></is></c>'
        '<c r="C1" t="s"><v/></c><c r="D1"><v></v></c><c r="E1" t="str"><v>a_x005F_x0041_b</v></c></row>'
        '<row r="2"><c r="A2" s="1"><v>1.25</v></c><c r="B2" s="2"><v>45351.5</v></c><c r="C2" s="3"><v>0.5</v></c>'
        '<c r="D2" t="inlineStr"><is><t>_xD83D__xDE00_ _xD800_!_xD800_</t></is></c></row>'
        '<row r="3"><c r="F3" t="s"><v>1</v></c></row>',
        '<si><t>x_x0039__x0042__x0080_</t></si><si><t/></si>',
        styles='<numFmts count="1"><numFmt numFmtId="170" formatCode="[h]:mm:ss;@"/></numFmts>'
               '<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="170"/><xf numFmtId="22"/><xf numFmtId="46"/></cellXfs>',
        names={"xl/workbook.xml": "XL/Workbook.XML", "xl/sheets/s.xml": "xl\\sheets\\S.xml",
               "xl/_rels/workbook.xml.rels": "xl/_RELS/workbook.xml.rels"},
        chart_first=True)
state("escapes.xlsx", "Excel 2007",
      [[0, 0, "str", "x9B\x80"], [0, 1, "str", "in\rline"], [0, 4, "str", "a_x0041_b"],
       [1, 0, "elapsed", "30:00:00"], [1, 1, "datetime", "2024-02-29 12:00:00"], [1, 2, "elapsed", "12:00:00"],
       [1, 3, "str", "\U0001F600 \uFFFD!\uFFFD"]])

# Hostile: an entity that would expand a billion times.
LAUGHS = ('<!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol1 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">'
          '<!ENTITY lol2 "&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;">'
          '<!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">]>')
package("entities.xlsx", '<row><c t="s"><v>0</v></c></row>', "<si><t>&lol3;</t></si>", doctype=LAUGHS)
refused("entities.xlsx", "The part xl/strings.xml is not accepted: document type declarations are not accepted")

# Hostile: the sheet entry claims 3 GiB uncompressed in the central directory.
data = bytearray(open("quirks.xlsx", "rb").read())
pos = 0
while True:
    pos = data.find(b"PK\x01\x02", pos)
    if pos < 0:
        break
    name_len = struct.unpack_from("<H", data, pos + 28)[0]
    if data[pos + 46:pos + 46 + name_len] == b"xl/sheets/s.xml":
        struct.pack_into("<I", data, pos + 24, 3 << 30)
    pos += 4
open("bomb.xlsx", "wb").write(bytes(data))
refused("bomb.xlsx", "Not an Office Open XML package (Zip archive inconsistent)")

whole = open("cells.xlsx", "rb").read()
open("truncated.xlsx", "wb").write(whole[: len(whole) // 2])
refused("truncated.xlsx", "Not an Office Open XML package (Not a zip archive)")

# An OpenDocument spreadsheet is a zip too, but no workbook of ours.
with zipfile.ZipFile("table.ods", "w") as z:
    z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
    z.writestr("content.xml", "<office:document-content/>")
refused("table.ods", "Not a text file: an OpenDocument file (save it as .xlsx or as tab-separated text to import it)")

xls = open("biff8.xls", "rb").read()
open("truncated.xls", "wb").write(xls[: len(xls) // 3])
refused("truncated.xls", "The file is cut short: the sector table lies beyond its end")
# BIFF8 stream: the length of every LABELSST/NUMBER record patched to 0xFFFF.
bad = bytearray(open("offset.xls", "rb").read())
for kind in (b"\xfd\x00", b"\x03\x02"):
    i = 0
    while True:
        i = bad.find(kind, i)
        if i < 0:
            break
        bad[i + 2:i + 4] = b"\xff\xff"
        i += 4
open("badrecord.xls", "wb").write(bytes(bad))
refused("badrecord.xls", "The workbook stream is damaged: the record at offset 1249 runs past its end")

# The BIFF5 workbook, padded to the 4096 bytes that keep it out of the mini stream, behind a stream of 56000
# bytes, so that its sectors lie past the first 102 entries of the sector table; the table is listed 110 times,
# 109 times in the header and once in a DIFAT sector at the end.
data = bytearray(compound([("Pad", b"\0" * 56000), ("Book", biff5(False).ljust(4096, b"\0")), ("Note", b"x" * 10)]))
fat = struct.unpack_from("<I", data, 76)[0]
struct.pack_into("<IIII", data, 44, 110, *struct.unpack_from("<III", data, 48))
struct.pack_into("<II", data, 68, len(data) // 512 - 1, 1)
struct.pack_into("<108I", data, 80, *[fat] * 108)
open("difat.xls", "wb").write(bytes(data) + struct.pack("<I", fat) + b"\xff" * 504 + struct.pack("<I", END))
expected.append(dict(next(e for e in expected if e["file"] == "biff5.xls"), file="difat.xls"))

# The BIFF5 workbook, padded out of the mini stream, with its second and third sectors swapped and its chain
# leading through them in that order: a chain whose sectors do not follow one another in the file.
data = bytearray(compound([("Book", biff5(False).ljust(4096, b"\0"))]))
fat = 512 * (struct.unpack_from("<I", data, 76)[0] + 1)
data[1024:1536], data[1536:2048] = data[1536:2048], data[1024:1536]
struct.pack_into("<III", data, fat, 2, 3, 1)
open("fragmented.xls", "wb").write(bytes(data))
expected.append(dict(next(e for e in expected if e["file"] == "biff5.xls"), file="fragmented.xls"))

# Compound documents damaged in one field each: the BIFF5 workbook's, and the DIFAT one's list of table sectors.
book = bytes(compound([("Book", biff5(False))]))
fat, folder = struct.unpack_from("<I", book, 76)[0], struct.unpack_from("<I", book, 48)[0]
for name, base, at, value, what in [
        ("damaged-sector-size.xls", book, 30, struct.pack("<H", 17), "sector size 2^17"),
        ("damaged-mini-size.xls", book, 32, struct.pack("<H", 9), "mini sector size 2^9"),
        ("damaged-root.xls", book, 512 * (folder + 1) + 66, b"\x02", "it has no root entry"),
        ("damaged-loop.xls", book, 512 * (fat + 1) + 4 * folder, struct.pack("<I", folder), "a sector chain loops"),
        ("damaged-difat.xls", open("difat.xls", "rb").read(), 68, struct.pack("<I", 0x7FFFFFF0),
         "the list of table sectors leaves the file")]:
    open(name, "wb").write(base[:at] + value + base[at + len(value):])
    refused(name, "The compound document is damaged: " + what)

# A number without a styles part, a cell in the last column, a sheet part of more than 64 KiB, and a shared
# string of runs with their properties and blanks between them.
package("limits.xlsx", '<row r="1"><c r="A1"><v>2.5</v></c><c r="B1" t="s"><v>0</v></c>'
        '<c r="XFD1" t="inlineStr"><is><t>last</t></is></c></row><!--' + "x" * 70000 + '-->',
        '<si><r><rPr><b/></rPr><t>bold</t></r> <r><t>, plain</t></r></si>', names={"xl/styles.xml": "xl/unused.xml"})
state("limits.xlsx", "Excel 2007", [[0, 0, "num", "2.5"], [0, 1, "str", "bold, plain"], [0, 16383, "str", "last"]])

# A bare BIFF8 stream (no compound document) whose cell names the shared string just past the last one.
def bof8(kind):
    return rec(0x0809, struct.pack("<HHHHII", 0x0600, kind, 0x0DBB, 0x07CC, 0, 0x0206))


sst = rec(0x00FC, struct.pack("<IIHB", 1, 1, 1, 0) + b"x")
sheet = bof8(0x0010) + rec(0x00FD, struct.pack("<HHHI", 0, 0, 15, 1)) + rec(0x000A)
pos = len(bof8(0x0005) + sst) + 4 + 9 + 4
open("sst-index.xls", "wb").write(bof8(0x0005) + sst + rec(0x0085, struct.pack("<IBBBB", pos, 0, 0, 1, 0) + b"S") +
                                  rec(0x000A) + sheet)
refused("sst-index.xls", "Cell A1 refers to shared string 1, but the workbook holds 1")
# The same in a package.
package("sst-index.xlsx", '<row><c r="A1" t="s"><v>1</v></c></row>', "<si><t>x</t></si>")
refused("sst-index.xlsx", 'The part xl/sheets/s.xml is not accepted: bad shared string index "1"')

# A bare BIFF8 stream: formulas whose string results (the STRING record) come only after another cell, of a
# shared string and of a number; such a STRING record belongs to no formula, which keep no value.
tokens = bytes([0x1E, 1, 0])
sheet = bof8(0x0010)
for row, other in [(0, rec(0x00FD, struct.pack("<HHHI", 0, 1, 15, 0))), (1, rec(0x0203, struct.pack("<HHHd", 1, 1, 15, 2.5)))]:
    sheet += rec(0x0006, struct.pack("<HHH", row, 0, 15) + b"\0" * 6 + b"\xff\xff" + struct.pack("<HIH", 0, 0, 3) + tokens)
    sheet += other + rec(0x0207, struct.pack("<HB", 5, 0) + b"stray")
open("stray-string.xls", "wb").write(bof8(0x0005) + sst + rec(0x0085, struct.pack("<IBBBB", pos, 0, 0, 1, 0) + b"S") +
                                     rec(0x000A) + sheet + rec(0x000A))
state("stray-string.xls", "Excel 97", [[0, 1, "str", "x"], [1, 1, "num", "2.5"]])

# A workbook stream that ends right after a formula's STRING record (no EOF record), or with an EOF record of just
# the 4 bytes a record's header takes, in a compound document: a reader that looks for a CONTINUE record past the
# end reads beyond the stream.
sheet = bof8(0x0010) + rec(0x0006, struct.pack("<HHH", 0, 0, 15) + b"\0" * 6 + b"\xff\xff" + struct.pack("<HIH", 0, 0, 3) + tokens)
sheet += rec(0x0207, struct.pack("<HB", 4, 0) + b"last")
for name, end in (("unended.xls", b""), ("ended.xls", rec(0x000A))):
    open(name, "wb").write(compound([("Workbook", bof8(0x0005) + sst + rec(0x0085, struct.pack("<IBBBB", pos, 0, 0, 1, 0) + b"S") +
                                      rec(0x000A) + sheet + end)]))
    state(name, "Excel 97", [[0, 0, "str", "last"]])

with open("expected-cells.jsonl", "w", encoding="utf-8") as out:
    for line in expected:
        out.write(json.dumps(line, ensure_ascii=False) + "\n")
