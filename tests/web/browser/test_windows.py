"""The windows of vezi serve in a browser: the conversion window, a library's pages, the spectrum picture and
the import dialog."""
import base64
import re
import sqlite3
import time
from xml.etree import ElementTree

import openpyxl

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select


def test_conversion_window_runs_to_its_summary(page, project):
    page.open("/folder/paradox-libs")
    page.field("Also convert the subfolders (recursive)").click()
    page.click("Convert")
    window = page.dialog("Converting Paradox Tables")
    page.wait(lambda d: window.find_element(By.CSS_SELECTOR, ".summary").is_displayed())
    summary = window.find_element(By.CSS_SELECTOR, ".summary").text
    assert "Tables converted 10 of 11" in summary
    assert "Strassen.db: no library type" in summary
    # Lists without tables (none skipped here) have no heading.
    assert [h.text for h in window.find_elements(By.CSS_SELECTOR, ".summary h3")] == ["Summary", "Not converted"]
    assert "Converting Folder" in window.find_element(By.CSS_SELECTOR, ".label1").text
    log = window.find_element(By.CSS_SELECTOR, ".log").text
    # The whole log as Convert.log holds it (the file ends a run with an empty line), its paths from the served folder.
    written = (project / "paradox-libs" / "Convert.log").read_text().replace(f"{project}/", "")
    assert log.splitlines() == written.rstrip("\n").splitlines() and str(project) not in log
    page.shot("conversion-window")
    buttons = lambda: [(b.text, b.is_enabled()) for b in window.find_elements(By.CSS_SELECTOR, ".buttons button")]
    page.wait(lambda d: dict(buttons())["Close"])  # at the end only Close is left
    assert buttons() == [("Stop", False), ("Close", True)]  # in the order of the conversion form
    page.click("Close")
    page.text("emis.abs")  # the folder page shows the new libraries
    # Run again: the tables whose libraries exist are listed as skipped, and only there.
    page.click("Convert")
    window = page.dialog("Converting Paradox Tables")
    page.wait(lambda d: window.find_element(By.CSS_SELECTOR, ".summary").is_displayed())
    lists = {h.text: h.find_element(By.XPATH, "following-sibling::ul[1]").text.splitlines()
             for h in window.find_elements(By.CSS_SELECTOR, ".summary h3")[1:]}
    assert lists["Not converted"] == ["paradox-libs/Strassen.db: no library type"], lists
    assert len(lists["Skipped"]) == 8 and "paradox-libs/emis.db: skipped because the library exists" in lists["Skipped"]
    summary = window.find_element(By.CSS_SELECTOR, ".summary").text
    assert "Skipped 8 (library exists)\nNot a library 1 (left as they are)" in summary, summary


def test_only_the_last_address_shows_its_page(page):
    """Addresses changed faster than the server answers: the page of the last one shows, alone (a refused one, why)."""
    page.open("/tnm")
    page.driver.execute_script("location.hash = '#/folder/'; setTimeout(() => { location.hash = '#/folder/paradox-libs'; });")
    page.text("paradox-libs")
    time.sleep(1)  # the first address's answer has come too
    assert [h.text for h in page.driver.find_elements(By.CSS_SELECTOR, "main h1")] == ["paradox-libs"]
    assert len(page.driver.find_elements(By.XPATH, "//label[normalize-space()='Also convert the subfolders (recursive)']")) == 1
    page.driver.execute_script("location.hash = '#/library/paradox-libs/none.abs';")
    alert = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "main [role=alert]"))[0]
    assert alert.text == 'There is no "paradox-libs/none.abs" in the served folder'
    assert_refused_once(page, "/api/library?path=paradox-libs%2Fnone.abs", "404 (Not Found)")


def test_library_pages_search_and_edit(page, converted):
    page.open("/library/paradox-libs/emis.abs")
    Select(page.field("Records per page")).select_by_visible_text("10")
    Select(page.field("Order")).select_by_visible_text("EN: ElementName")
    page.text("Records 1 to 6 of 6")
    Select(page.field("Records per page")).select_by_visible_text("25")
    page.field("Search ElementName").send_keys("KÜHL")
    page.click("Search")
    page.text('Found "KÜHL"')
    page.click("Kühlturm Nord")
    page.dialog("Kühlturm Nord")
    height = page.field("HeightAboveGround")
    height.clear()
    height.send_keys("12.5")
    complete = page.field("Komplett")  # a flag: a checkbox that shows the stored value, sent as true or false
    with sqlite3.connect(converted / "paradox-libs" / "emis.abs") as db:
        was = db.execute('SELECT Komplett FROM "emis.abs" WHERE ElementName = ?', ("Kühlturm Nord",)).fetchone()[0]
    assert complete.is_selected() == bool(was)
    complete.click()
    page.shot("library-record")
    page.click("Save")
    page.wait(lambda d: not d.find_elements(By.CSS_SELECTOR, "dialog[open]"))
    page.shot("library-records")
    with sqlite3.connect(converted / "paradox-libs" / "emis.abs") as db:
        assert db.execute('SELECT HeightAboveGround, Komplett FROM "emis.abs" WHERE ElementName = ?',
                          ("Kühlturm Nord",)).fetchone() == (12.5, int(not was))


def test_record_window_bands_and_a_missing_band_in_the_picture(page, converted):
    page.open("/library/paradox-libs/emis.abs")
    page.text("Values5 (63 Hz)")  # a grid header
    page.click("Straßenverkehr Hauptstraße")
    window = page.dialog("Straßenverkehr Hauptstraße")
    assert page.field("Values5 (63 Hz)").get_attribute("value") == "66.1"  # the band table
    page.wait(lambda d: window.find_elements(By.CSS_SELECTOR, ".record-chart img.chart"))
    page.shot("record-window-bands")
    band = page.field("Values8 (125 Hz)")
    band.clear()  # no value: the record is no longer complete
    page.click("Save")
    page.wait(lambda d: not d.find_elements(By.CSS_SELECTOR, "dialog[open]"))
    with sqlite3.connect(converted / "paradox-libs" / "emis.abs") as db:
        assert db.execute('SELECT Values8, Komplett FROM "emis.abs" WHERE ElementName = ?',
                          ("Straßenverkehr Hauptstraße",)).fetchone() == (-199, 0)
    page.click("Straßenverkehr Hauptstraße")
    page.click("Spectrum")
    # The spectrum page's own picture: the record window's chart is gone with its window a moment later.
    picture = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, ".picture img.chart"))[0]
    assert picture.get_attribute("alt") == "Spectrum of Straßenverkehr Hauptstraße"
    page.text('record 1 ("Straßenverkehr Hauptstraße") of \'paradox-libs/emis.abs\' is not complete: no value in the '
              "band 125 Hz (Values8)")
    svg = base64.b64decode(picture.get_attribute("src").split(",", 1)[1]).decode()
    root = ElementTree.fromstring(svg)
    axis = max(float(y) for y in re.findall(r'<path d="M [\d.]+ [\d.]+ V ([\d.]+)', svg))
    bars = [r for r in root.iter("{http://www.w3.org/2000/svg}rect") if r.get("class") == "bar"]
    assert len(bars) == 20 and all(float(r.get("y")) + float(r.get("height")) <= axis + 0.01 for r in bars)
    assert [t.text for t in root.iter("{http://www.w3.org/2000/svg}text") if t.get("class") == "novalue"] == ["no value"]
    assert re.search(r"\b125Hz\s+no value\n", page.driver.find_element(By.CSS_SELECTOR, "pre.protocol").text)
    page.wait(lambda d: picture.size["width"] > 300)
    page.shot("spectrum")


def test_import_dialog_with_a_name_conflict(page, converted):
    emis = converted / "paradox-libs" / "emis.abs"
    for run in ("first", "again"):
        page.driver.get("about:blank")  # the page is loaded afresh, not found still showing the first run
        if run == "first":  # reached from the folder page's link
            page.open("/folder/paradox-libs")
            page.click("Import spectra.xlsx")
            page.wait(lambda d: d.find_element(By.CSS_SELECTOR, "main h1").text == "Import spectra.xlsx")
            assert page.driver.current_url.endswith("/#/import/paradox-libs/spectra.xlsx"), page.driver.current_url
            page.shot("import-page")
            limit = page.field("Text limit (MB)")  # a limit the import refuses: its message beside the button
            limit.clear()
            limit.send_keys("0")
            page.click("Open the import dialog")
            page.text("The text limit must be a number of MB from 1 to 1073741824, not 0")
            assert_refused_once(page, "/api/import/open", "400 (Bad Request)")
            limit.clear()
            limit.send_keys("1024")
        else:
            page.open("/import/paradox-libs/spectra.xlsx")
        page.field("An existing library").click()
        existing = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "fieldset.target select"))[0]
        Select(existing).select_by_visible_text("emis.abs")
        page.click("Open the import dialog")
        page.dialog("Excel file import definition [", prefix=True)
        assert page.field("Start Import From Line#").get_attribute("value") == "2"
        if run == "first":
            page.click("Start Import")
            page.text("You have to add columns first")
            page.click("OK")  # the refused start leaves the dialog as it was, without Stop
            page.wait(lambda d: page._visible(page._button_xpath("Stop")) is None)
            page.click("Define Link")
            link = page.dialog("Define Link")
            for control in ("Col", "fix", "------->"):
                page.field(control)
            # Enter in a list or on a button is the control's own: the window's default button is not pressed.
            for own in (link.find_element(By.CSS_SELECTOR, "select"), page.button("Apply")):
                assert not page.driver.execute_script(ENTER_PRESSED, own), own.tag_name
            page.click("Cancel")
            page.click("Auto Link")
            page.text("Auto Link linked 34 columns: ElementName <- A, Kommentar <- B, Terz <- C, Values0 (single "
                      "value) <- D and 30 more")
            page.click("OK")
        page.text("ElementName <- A")  # opened again, the dialog keeps the links made
        if run == "first":
            page.shot("import-dialog")
        page.click("Start Import")
        if run == "again":
            page.dialog('Element "Fan 400 mm" already exists')
            page.shot("import-name-exists")
            page.field("Skip all").click()
            page.click("OK")
        result = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "dialog.result[open]"))[0]
        figures = result.find_element(By.CSS_SELECTOR, "table").text
        # Each figure beside its label: added, updated, skipped and failed lines, in that order.
        expected = (4, 0, 0, 0) if run == "first" else (0, 0, 4, 0)
        assert figures.splitlines() == [f"{label} {n}" for label, n in
                                        zip(("Added:", "Updated:", "Skipped:", "Errors:"), expected)], figures
        if run == "again":
            page.shot("import-result")
        page.click("Close")
    with sqlite3.connect(emis) as db:
        names = [n for (n,) in db.execute('SELECT ElementName FROM "emis.abs" ORDER BY Eintrag')]
    assert names[6:] == ["Fan 400 mm", "Pump house", "Transformer 630 kVA", "Cooling tower"]
    assert len(names) == 10


# Presses Enter on an element; true when a handler took the key (prevented what the element does with it).
ENTER_PRESSED = """const e = new KeyboardEvent('keydown', {key: 'Enter', bubbles: true, cancelable: true});
arguments[0].dispatchEvent(e);
return e.defaultPrevented;"""


def assert_refused_once(page, target, status="409 (Conflict)"):
    """The browser's log of errors holds the one refusal the page asked about (reading the log clears it)."""
    refused = [e["message"] for e in page.driver.get_log("browser") if e["level"] == "SEVERE"]
    assert len(refused) == 1 and f"{target} - " in refused[0] and status in refused[0], refused


def test_export_from_the_library_page(page, converted):
    page.open("/library/paradox-libs/emis.abs")
    page.click("Export")
    page.dialog("Export")
    assert page.field("File name").get_attribute("value") == "emis.xlsx"
    page.click("Export")
    page.text("Download emis.xlsx")
    page.shot("export")
    book = openpyxl.load_workbook(converted / "paradox-libs" / "emis.xlsx", read_only=True)
    rows = list(book.active.iter_rows(values_only=True))
    with sqlite3.connect(converted / "paradox-libs" / "emis.abs") as db:
        fields = [row[1] for row in db.execute('PRAGMA table_info("emis.abs")')]
        names = [n for (n,) in db.execute('SELECT ElementName FROM "emis.abs" ORDER BY Eintrag')]
    assert list(rows[0]) == fields and [r[fields.index("ElementName")] for r in rows[1:]] == names
    # Again with a name filter: the file exists, and is replaced once that is confirmed.
    page.field("Only names containing").send_keys("NORD")
    page.click("Export")
    page.text('"emis.xlsx" exists already. Replace it?')
    page.click("Replace")
    page.text("Exported 1 records to paradox-libs/emis.xlsx. Download emis.xlsx")
    assert_refused_once(page, "/api/export")
    book = openpyxl.load_workbook(converted / "paradox-libs" / "emis.xlsx", read_only=True)
    assert [r[fields.index("ElementName")] for r in book.active.iter_rows(min_row=2, values_only=True)] == ["Kühlturm Nord"]


def test_saved_links_serve_the_next_import(page, converted):
    def open_dialog(links=None):
        page.driver.get("about:blank")  # the page is loaded afresh, with the folder's files as they are now
        page.open("/import/paradox-libs/spectra.xlsx")
        existing = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "fieldset.target select"))[0]
        Select(existing).select_by_visible_text("emis.abs")
        if links:
            Select(page.field("Links from")).select_by_visible_text(links)
        page.click("Open the import dialog")
        return page.dialog("Excel file", prefix=True)

    open_dialog()
    page.click("Auto Link")
    page.click("OK")
    page.click("Save links")
    page.field("File name of the links (.json)")
    page.click("OK")
    page.text('The links are saved in "spectra-links.json".')
    page.click("OK")
    page.click("Cancel")
    assert (converted / "paradox-libs" / "spectra-links.json").exists()

    dialog = open_dialog("spectra-links.json")
    links = dialog.find_element(By.CSS_SELECTOR, "select.links").text.splitlines()
    assert links[:2] == ["ElementName <- A", "Kommentar <- B"] and len(links) == 34
    page.shot("import-links-loaded")
    page.click("Load links")  # the folder's saved links are offered; Cancel loads none of them
    assert page.dialog("Load links").find_element(By.CSS_SELECTOR, "select").text == "spectra-links.json"
    page.click("Cancel")
    page.wait(lambda d: not [w for w in d.find_elements(By.CSS_SELECTOR, "dialog[open] .caption")
                             if w.text == "Load links"])
    for answer in ("Cancel", "Replace"):  # onto the file they came from: asked, kept on Cancel, then replaced
        page.click("Save links")
        page.field("File name of the links (.json)")
        page.click("OK")
        page.text('"spectra-links.json" exists already. Replace it?')
        page.click(answer)
        assert_refused_once(page, "/api/import/save-links")
    page.text('The links are saved in "spectra-links.json".')
    page.click("OK")
    page.click("Start Import")
    result = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "dialog.result[open]"))[0]
    assert "Added: 4" in result.find_element(By.CSS_SELECTOR, "table").text
