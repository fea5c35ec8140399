#!/usr/bin/python3
# Writes the spreadsheet fixtures of the import tests with independent tools: openpyxl (.xlsx), xlwt (.xls),
# and Python's zipfile for the hand-made quirk and hostile packages. Run it from this folder; the output is
# committed, so the tests never need Python. Debian: python3-openpyxl, python3-xlwt.
import datetime
import io
import struct
import zipfile

import openpyxl
import xlwt

UMLAUT = "Größe äöü ÄÖÜ ß"

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
ws["A3"] = "left"
ws["C3"] = "right"  # B3 stays empty
ws["A10"] = "sparse"  # rows 4 to 9 are not written
ws["AA1"] = "aa"
ws["AB2"] = 7
ws["BA10"] = "ba"
ws["AAA3"] = "aaa"
wb.create_sheet("Second")["A1"] = "not read"
wb.save("cells.xlsx")

# ---- offset.xlsx / offset.xls: first used cell D5 ----
wb = openpyxl.Workbook()
wb.active["D5"] = "first"
wb.active["E6"] = 2.5
wb.save("offset.xlsx")

# ---- cells.xls: the same kinds through BIFF8 ----
book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Data")
sh.write(0, 0, "Name")
sh.write(0, 1, UMLAUT)
sh.write(0, 2, 0.1 + 0.2)
sh.write(0, 3, 1234567.8912345678)
sh.write(0, 4, -2.5e-300)
sh.write(1, 0, True)
sh.write(1, 1, False)
sh.write(1, 2, datetime.date(2024, 2, 29), xlwt.easyxf(num_format_str="yyyy-mm-dd"))
sh.write(1, 3, datetime.datetime(2024, 2, 29, 13, 45, 30), xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss"))
sh.write(1, 4, 42)
sh.write(2, 0, "left")
sh.write(2, 2, "right")
sh.write(9, 0, "sparse")
sh.write(0, 26, "aa")
sh.write(1, 27, 7)
sh.write(9, 52, "ba")
book.add_sheet("Second").write(0, 0, "not read")
book.save("cells.xls")

book = xlwt.Workbook(encoding="utf-8")
sh = book.add_sheet("Data")
sh.write(4, 3, "first")
sh.write(5, 4, 2.5)
book.save("offset.xls")


# ---- hand-made packages ----
def package(name, sheet, shared=None, workbook_pr="", doctype=""):
    ct = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
          '<Default Extension="xml" ContentType="application/xml"/></Types>')
    rels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>')
    wbx = ('<?xml version="1.0" encoding="UTF-8"?><x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
           'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">' + workbook_pr +
           '<x:sheets><x:sheet name="S" sheetId="1" r:id="rIdS"/></x:sheets></x:workbook>')
    wbrels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
              '<Relationship Id="rIdS" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/sheets/s.xml"/>'
              '<Relationship Id="rIdT" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="strings.xml"/>'
              '<Relationship Id="rIdY" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
              '</Relationships>')
    styles = ('<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
              '<numFmts count="1"><numFmt numFmtId="164" formatCode="&quot;day&quot; d/m/yyyy"/></numFmts>'
              '<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="2"/></cellXfs></styleSheet>')
    head = '<?xml version="1.0" encoding="UTF-8"?>' + doctype
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", ct)
        z.writestr("_rels/.rels", rels)
        z.writestr("xl/workbook.xml", wbx)
        z.writestr("xl/_rels/workbook.xml.rels", wbrels)
        z.writestr("xl/styles.xml", styles)
        z.writestr("xl/strings.xml", head + '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">' + (shared or "") + "</sst>")
        z.writestr("xl/sheets/s.xml", head + '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>' + sheet + "</sheetData></worksheet>")


# Inline and rich strings (phonetic runs left out), cells and rows without references, the 1904 date system,
# a custom date format with a quoted "d", formula strings, errors and booleans.
package("quirks.xlsx",
        '<row><c t="inlineStr"><is><t>inline</t></is></c><c t="s"><v>0</v></c><c t="s"><v>1</v></c></row>'
        '<row><c s="1"><v>0</v></c><c s="2"><v>1.5</v></c><c t="str"><f>A1</f><v>formula</v></c>'
        '<c t="e"><v>#DIV/0!</v></c><c t="b"><v>1</v></c></row>'
        '<row r="5"><c r="B5"><v>1E-7</v></c><c><v>9007199254740993</v></c></row>',
        '<si><r><t>rich </t></r><r><t>text</t></r><rPh><t>ignored</t></rPh></si><si><t xml:space="preserve"> spaced </t></si>',
        workbook_pr='<x:workbookPr date1904="1"/>')

# Hostile: an entity that would expand a billion times.
LAUGHS = ('<!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol1 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">'
          '<!ENTITY lol2 "&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;">'
          '<!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">]>')
package("entities.xlsx", '<row><c t="s"><v>0</v></c></row>', "<si><t>&lol3;</t></si>", doctype=LAUGHS)

# Hostile: the sheet entry claims 3 GiB uncompressed in the central directory.
buf = io.BytesIO(open("quirks.xlsx", "rb").read())
data = bytearray(buf.getvalue())
cd = data.find(b"PK\x01\x02" + b"", 0)
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

whole = open("cells.xlsx", "rb").read()
open("truncated.xlsx", "wb").write(whole[: len(whole) // 2])
open("notzip.xlsx", "w").write("Name\tValue\nthis is text, not a zip\n")
xls = open("cells.xls", "rb").read()
open("truncated.xls", "wb").write(xls[: len(xls) // 3])
# BIFF8 stream: patch the length of every LABELSST/NUMBER record (0x00FD / 0x0203) to 0xFFFF.
bad = bytearray(xls)
for rec in (b"\xfd\x00", b"\x03\x02"):
    i = 0
    while True:
        i = bad.find(rec, i)
        if i < 0:
            break
        bad[i + 2:i + 4] = b"\xff\xff"
        i += 4
open("badrecord.xls", "wb").write(bytes(bad))
