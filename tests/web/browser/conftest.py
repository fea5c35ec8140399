"""Browser tests of vezi serve: a real server on a copy of the sample folder, headless Chromium driven by
Selenium, controls found by their visible texts. Each test saves a screenshot into $VEZ_SCREENSHOTS."""
import os
import shutil
import signal
import subprocess
import tempfile

import pytest

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    pytest.skip("chromium or chromedriver is not installed (scripts/setup-deps installs them): the browser tests "
                "of vezi serve did not run", allow_module_level=True)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

VEZI = os.environ["VEZI"]
EXAMPLES = os.environ["VEZ_EXAMPLES_DIR"]
SHOTS = os.environ.get("VEZ_SCREENSHOTS", tempfile.gettempdir())


@pytest.fixture
def project(tmp_path):
    """The sample Paradox folder and the import examples, in a folder of their own."""
    folder = tmp_path / "project"
    shutil.copytree(os.path.join(EXAMPLES, "paradox-libs"), folder / "paradox-libs")
    for name in ("spectra.xlsx", "spectra.txt"):
        shutil.copy(os.path.join(EXAMPLES, "import", name), folder / "paradox-libs")
    return folder


def serve(folder, port=0):
    """Starts vezi serve on the port (0: a free one); returns the process and the address it printed."""
    process = subprocess.Popen([VEZI, "serve", str(folder), "--port", str(port)], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    assert line.startswith(f'Serving "{folder}" at http://127.0.0.1:'), line + process.stderr.read()
    return process, line.split(" at ", 1)[1].strip()


def stop(process):
    """Ctrl-C stops the server cleanly."""
    process.send_signal(signal.SIGINT)
    assert process.wait(timeout=30) == 0, process.stderr.read()


class Page:
    """The browser on one served folder, with look-ups by visible text."""

    def __init__(self, driver, address):
        self.driver = driver
        self.base = address.split("/?")[0]
        driver.get(address)

    def open(self, hash_path):
        # A page drawn takes the focus, so that the keyboard and a screen reader go on in it, not in the old one.
        self.driver.get(f"{self.base}/#{hash_path}")
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, "main h1")
                  and d.switch_to.active_element.get_attribute("id") == "main")

    def wait(self, condition, timeout=30):
        try:
            # A page that renders again while a condition looks at it leaves stale elements: look again.
            return WebDriverWait(self.driver, timeout,
                                 ignored_exceptions=(StaleElementReferenceException,)).until(condition)
        except TimeoutException:
            self.shot("failure")  # what the page showed when the wait ran out
            raise

    def scope(self):
        """The open window (the last modal dialog), or the page."""
        dialogs = [d for d in self.driver.find_elements(By.CSS_SELECTOR, "dialog[open]")]
        return dialogs[-1] if dialogs else self.driver

    def button(self, text):
        return self.wait(lambda d: self._visible(self._button_xpath(text)))

    @staticmethod
    def _button_xpath(text):
        return f".//button[normalize-space()='{text}'] | .//a[normalize-space()='{text}']"

    def field(self, label):
        """The control that a label with this text names."""
        node = self.wait(lambda d: self._visible(f".//label[normalize-space()='{label}']"))
        return self.driver.find_element(By.ID, node.get_attribute("for"))

    def text(self, text):
        return self.wait(lambda d: self._visible(f".//*[normalize-space()={xpath_text(text)}]"))

    def click(self, text):
        # Found and clicked in one step of the wait: a page that renders again in between leaves the button found
        # stale, and the wait then looks for it again.
        def clicked(d):
            button = self._visible(self._button_xpath(text))
            if button is None:
                return False
            button.click()
            return True
        self.wait(clicked)

    def dialog(self, caption, prefix=False):
        return self.wait(lambda d: [w for w in d.find_elements(By.CSS_SELECTOR, "dialog[open]")
                                    if (c := w.find_element(By.CSS_SELECTOR, ".caption").text) == caption
                                    or prefix and c.startswith(caption)] or None)[0]

    def _visible(self, xpath):
        found = [e for e in self.scope().find_elements(By.XPATH, xpath) if e.is_displayed()]
        return found[0] if found else None

    def shot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        self.driver.save_screenshot(os.path.join(SHOTS, f"{name}.png"))


def xpath_text(text):
    """An XPath string literal for any text."""
    if "'" not in text:
        return f"'{text}'"
    return "concat(" + ", \"'\", ".join(f"'{part}'" for part in text.split("'")) + ")"


@pytest.fixture
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="vezi-chromium-")
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={profile}", "--window-size=1280,900"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


@pytest.fixture
def page(browser, project):
    """A server on the sample folder (page.server) and the browser on its first page."""
    process, address = serve(project)
    shown = Page(browser, address)
    shown.server = process
    yield shown
    errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
    stop(shown.server)
    assert not errors, errors


@pytest.fixture
def converted(project):
    """The sample folder converted by the vezi tool (for the tests that start from libraries)."""
    subprocess.run([VEZI, "convert", str(project / "paradox-libs"), "--recursive"], check=True,
                   stdout=subprocess.DEVNULL)
    return project
