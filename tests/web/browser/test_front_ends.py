"""The browser windows as a new user meets them: Enter and Cancel in the name question, Stop in the conversion
window, the record count and the search by any part of a name, and a library made under a name of one's own."""
import fcntl
import os
import signal
import sqlite3
import subprocess

import pytest

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from conftest import serve


def import_dialog(page, library=None, new=None):
    """The import dialog of spectra.xlsx, into an existing library or a new one (type code, file name)."""
    page.driver.get("about:blank")  # the page is loaded afresh, with the folder as it is now
    page.open("/import/paradox-libs/spectra.xlsx")
    if new:
        page.field("A new library").click()
        Select(page.field("Type")).select_by_value(str(new[0]))
        name = page.field("File name")
        name.clear()
        name.send_keys(new[1])
    else:
        page.field("An existing library").click()
        existing = page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "fieldset.target select"))[0]
        Select(existing).select_by_visible_text(library)
    page.click("Open the import dialog")
    return page.dialog("Excel file import definition [", prefix=True)


def result_text(page):
    return page.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "dialog.result[open]"))[0].text


def rename_with_enter(page, name):
    """">>" in the name question, the new name typed and Enter pressed in the box."""
    page.click(">>")
    box = page.dialog("Enter new name:")
    typed = box.find_element(By.CSS_SELECTOR, "input")
    typed.send_keys(Keys.CONTROL, "a")
    typed.send_keys(name, Keys.ENTER)
    page.wait(lambda d: not [w for w in d.find_elements(By.CSS_SELECTOR, "dialog[open] .caption")
                             if w.text == "Enter new name:"])  # closed, and not opened again by the same key


def caption_of(element):
    """The caption of the window that holds the element."""
    return element.find_element(By.XPATH, "ancestor-or-self::dialog").find_element(By.CSS_SELECTOR, ".caption").text


def names(library):
    with sqlite3.connect(library) as db:
        return [n for (n,) in db.execute(f'SELECT ElementName FROM "{library.name}" ORDER BY Eintrag')]


def test_enter_and_cancel_in_the_name_question(page, converted):
    emis = converted / "paradox-libs" / "emis.abs"
    import_dialog(page, "emis.abs")
    assert page._visible(page._button_xpath("Stop")) is None  # only while the import runs
    page.click("Auto Link")
    page.click("OK")
    page.click("Start Import")
    assert "Added: 4" in result_text(page)
    page.click("Close")
    before = names(emis)

    # Opened again: the links are kept. A cancel at the second question stores nothing, and the result says so.
    dialog = import_dialog(page, "emis.abs")
    assert dialog.find_element(By.CSS_SELECTOR, "select.links").text.splitlines()[0] == "ElementName <- A"
    page.click("Start Import")
    page.dialog('Element "Fan 400 mm" already exists')
    rename_with_enter(page, "Fan 400 mm B")
    page.click("OK")
    page.dialog('Element "Pump house" already exists')
    page.click("Cancel")
    text = result_text(page)
    assert "Added: 0 (1 rolled back)" in text and "The import was cancelled: nothing was stored." in text, text
    page.shot("import-cancelled")
    page.click("Close")
    assert names(emis) == before

    # Enter in the box, then Enter in the question (its default button, OK): the typed name is stored.
    import_dialog(page, "emis.abs")
    page.click("Start Import")
    page.dialog('Element "Fan 400 mm" already exists')
    rename_with_enter(page, "Fan 400 mm B")
    page.shot("import-new-name")
    page.dialog('Element "Fan 400 mm" already exists').find_element(By.CSS_SELECTOR, "input[type=radio]").send_keys(
        Keys.ENTER)
    page.dialog('Element "Pump house" already exists')
    page.field("Skip all").click()
    page.click("OK")
    text = result_text(page)
    assert "Added: 1" in text and "Skipped: 3" in text, text
    assert names(emis) == before + ["Fan 400 mm B"]
    page.click("Close")

    # The server dies while its question is open, and another one takes its port: the dialog says the connection
    # was lost, and neither the question nor Stop is left to press.
    dialog = import_dialog(page, "emis.abs")
    page.click("Start Import")
    page.dialog('Element "Fan 400 mm" already exists')
    page.server.kill()
    page.server.wait(timeout=30)
    # Meanwhile an answer and a Stop fail, each with the browser's message; Stop's under the import's caption.
    page.click("OK")
    page.dialog("vezi")
    page.click("OK")
    page.click("Stop")
    assert caption_of(page.text("Failed to fetch")) == caption_of(dialog)
    page.click("OK")
    page.server = serve(converted, page.base.rsplit(":", 1)[1])[0]
    assert caption_of(page.text("The connection to the server was lost.")) == caption_of(dialog)  # the import's own
    shown = [e.text for e in page.driver.find_elements(By.CSS_SELECTOR, "dialog[open] .caption, dialog[open] button")
             if e.is_displayed()]
    assert 'Element "Fan 400 mm" already exists' not in shown and "Stop" not in shown, shown
    # No import is left to stop: Cancel closes the dialog, whose session is closed once, as it closes.
    page.click("OK")
    page.driver.execute_script("window.closes = 0; const f = window.fetch; window.fetch = (u, ...a) => "
                               "{ window.closes += String(u).includes('/api/import/close'); return f(u, ...a); };")
    page.click("Cancel")
    page.wait(lambda d: not d.find_elements(By.CSS_SELECTOR, "dialog.import"))
    assert page.driver.execute_script("return window.closes") == 1
    # The refused reconnection is logged as an error, and so is the folder page that closing goes back to, which
    # the new server refuses (the page's token is not its own): both are awaited, not left to the teardown.
    logged = []
    page.wait(lambda d: logged.extend(d.get_log("browser")) or any("/api/folder" in e["message"] for e in logged))


def test_stop_during_a_conversion(page, project):
    folder = project / "paradox-libs" / "large"
    folder.mkdir()
    subprocess.run([os.environ["PXWRITE"], str(folder / "emis.db"), "400000", "--library"], check=True)
    tables = sorted(os.listdir(folder))
    page.open("/folder/paradox-libs/large")
    page.field("Delete the old tables afterwards (delete old)").click()
    page.click("Convert")
    page.click("Delete old tables")
    window = page.dialog("Converting Paradox Tables")
    records = window.find_element(By.CSS_SELECTOR, "progress[aria-label=Records]")
    page.wait(lambda d: float(records.get_attribute("value")) > 0)
    page.click("Stop")
    page.wait(lambda d: window.find_element(By.CSS_SELECTOR, ".summary").is_displayed())
    summary = window.find_element(By.CSS_SELECTOR, ".summary").text
    page.shot("conversion-stopped")
    assert "Stopped: the table being converted was rolled back" in summary, summary
    assert "large/emis.db: interrupted" in summary and "Tables converted 0 of 1" in summary, summary
    assert sorted(os.listdir(folder)) == sorted(tables + ["Convert.log"])  # no library, no table deleted


@pytest.mark.parametrize("press_stop", [True, False])
def test_a_conversion_that_loses_its_server(page, project, press_stop):
    """The server stops during a run, and another one, which knows neither the run nor the page, takes its port:
    the window says the connection was lost and leaves only Close, whether Stop was pressed meanwhile or not."""
    lock = os.open(project / "paradox-libs", os.O_RDONLY)
    fcntl.flock(lock, fcntl.LOCK_EX)  # the run waits for the folder's lock: it is running when the server stops
    page.open("/folder/paradox-libs")
    page.click("Convert")
    window = page.dialog("Converting Paradox Tables")
    page.server.send_signal(signal.SIGINT)
    os.close(lock)  # the stopping server lets the run finish
    assert page.server.wait(timeout=60) == 0, page.server.stderr.read()
    state = lambda: [(b.text, b.is_enabled()) for b in window.find_elements(By.CSS_SELECTOR, ".buttons button")]
    if press_stop:
        page.click("Stop")  # with no server Stop fails: the browser's message, under the window's caption
        assert caption_of(page.text("Failed to fetch")) == "Converting Paradox Tables"
        page.click("OK")
        assert state() == [("Stop", False), ("Close", False)], state()  # pressed once, Stop is off while the run is unknown
    page.server = serve(project, page.base.rsplit(":", 1)[1])[0]
    page.text("The connection to the server was lost.")
    page.shot("conversion-lost")
    assert state() == [("Stop", False), ("Close", True)], state()
    page.driver.get_log("browser")  # the refused reconnection is logged as an error


def test_record_count_and_search_by_any_part_of_a_name(page, converted):
    page.open("/library/paradox-libs/emis.abs")
    page.text("Library type 0 ltEmis, 6 records")  # type 0 is a library type like any other
    assert page._visible(page._button_xpath("Show all records")) is None  # only while a search by part shows
    page.click("New record")
    page.dialog("New record")
    page.field("ElementName").send_keys("Test fan")
    page.click("Add")
    page.text("7 records")
    page.field("Search ElementName").send_keys("HAUPTSTR")
    page.click("Names containing")
    page.text('1 name contains "HAUPTSTR"')
    grid = page.driver.find_element(By.CSS_SELECTOR, "table.records tbody")
    assert [row.find_element(By.CSS_SELECTOR, "button").text for row in grid.find_elements(By.CSS_SELECTOR, "tr")] == [
        "Straßenverkehr Hauptstraße"]
    page.shot("library-names-containing")
    page.click("Show all records")  # every record is listed again, and the button has gone with the search
    page.wait(lambda d: page._visible(page._button_xpath("Test fan")))
    assert page._visible(page._button_xpath("Show all records")) is None
    page.click("Test fan")
    page.click("Delete")
    page.dialog("vezi")
    page.driver.switch_to.active_element.send_keys(Keys.ENTER)  # the question's default button is its first
    page.text("6 records")


def test_a_library_under_a_name_of_its_own_is_imported_into_again(page, project):
    import_dialog(page, new=(0, "imp.abs"))
    page.click("Auto Link")
    page.click("OK")
    page.click("Start Import")
    assert "Added: 4" in result_text(page)
    page.click("Close")
    page.open("/folder/paradox-libs")
    row = page.text("imp.abs").find_element(By.XPATH, "ancestor::tr")
    assert row.find_elements(By.TAG_NAME, "td")[1].text == "0 ltEmis"
    table = page.text("emis.db").find_element(By.XPATH, "ancestor::tr")  # a Paradox table of type 0, not converted
    assert table.text == "emis.db emis.abs 0 ltEmis emis.mb waiting", table.text
    page.shot("folder-own-name")
    import_dialog(page, "imp.abs")
    page.click("Start Import")
    page.dialog('Element "Fan 400 mm" already exists')
    page.field("Skip all").click()
    page.click("OK")
    assert "Skipped: 4" in result_text(page)
    with sqlite3.connect(project / "paradox-libs" / "imp.abs") as db:
        assert dict(db.execute('SELECT key, value FROM "vez$library"')) == {"type": "0", "type_name": "ltEmis"}
