"""Browser tests of the panel page and the property inspector against pnx-devhost --web, the native plug-in
and the emulated device. Build first (build/native, or PNX_BUILD_DIR)."""
import base64
import json
import os
import select
import shutil
import socket
import subprocess
import time
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get('PNX_BUILD_DIR', REPO / 'build' / 'native'))
BUNDLE = BUILD / 'com.brelvon.multiview.pxPlugin'
OUTPUT = BUILD / 'web-tests'  # screenshots and measured figures, kept after every run

# Device 1 has no signal on input 3; device 2 has signal everywhere.
DEVICES = {
    'frame': {'width': 1920, 'height': 1080, 'fps': 60},
    'devices': [
        {'number': 1, 'inputs': [1, 2, 3, 4], 'signal': [True, True, False, True], 'layout': 100, 'sources': [1, 2, 3, 4]},
        {'number': 2, 'inputs': [1, 2, 3, 4], 'signal': [True, True, True, True], 'layout': 100, 'sources': [1, 2, 3, 4]},
    ],
}


class Trace:
    """The emulated device's record of property requests, one JSON object a line."""

    def __init__(self, path):
        self.path = path
        self.path.touch()

    def lines(self):
        return [json.loads(line) for line in self.path.read_text().splitlines() if line.strip()]

    def mark(self):
        return len(self.lines())

    def sets(self, since=0, device=None):
        """(property id, hex data) of every "set" after line `since`, optionally of one device only."""
        name = 'Brelvon' if device == 1 else f'Brelvon {device}'  # as the device's nodes are named
        return [(l['id'], l['data']) for l in self.lines()[since:]
                if l.get('op') == 'set' and (device is None or l['node'].startswith(f'{name} HDMI-'))]

    def wait_for_set(self, since, wanted, device=1, timeout=10):
        """Waits until every (id, data) in `wanted` was set on the device after line `since`."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if all(w in self.sets(since, device) for w in wanted):
                return
            time.sleep(0.02)
        raise AssertionError(f'device {device} did not get {wanted}; it got {self.sets(since, device)}')


class Host:
    """pnx-devhost --web over a private copy of the bundle, so a test may plant files in it."""

    def __init__(self, folder):
        self.folder = folder
        self.bundle = folder / BUNDLE.name
        if not self.bundle.exists():
            shutil.copytree(BUNDLE, self.bundle, symlinks=True)
        self.settings = folder / 'settings.json'
        self.stderr_path = folder / 'devhost.err'
        self.trace = Trace(folder / 'trace.jsonl')
        devices = folder / 'devices.json'
        devices.write_text(json.dumps(DEVICES))
        self.control = folder / 'control.json'
        self.env = dict(os.environ, PNX_SIM_DEVICES=str(devices), PNX_SIM_TRACE=str(self.trace.path),
                        PNX_SIM_CONTROL=str(self.control))
        self.process = None
        self.url = None

    def start(self, port=0, options=()):
        with open(self.stderr_path, 'ab') as err:
            self.process = subprocess.Popen(
                [str(BUILD / 'pnx-devhost'), '--web', '--port', str(port), '--settings', str(self.settings), *options,
                 str(self.bundle)],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err, env=self.env)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline().decode() if ready else ''
        if not line.startswith('http://127.0.0.1:'):
            self.stop()
            raise AssertionError(f'pnx-devhost printed {line!r}; stderr: {self.stderr_path.read_text()}')
        self.url = line.strip()
        self.port = urlsplit(self.url).port

    def stop(self):
        if not self.process:
            return
        self.process.stdin.close()  # the host ends when its standard input closes
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process = None


@pytest.fixture
def host(tmp_path):
    if not (BUILD / 'pnx-devhost').exists() or not BUNDLE.exists():
        pytest.fail(f'build the native preset first: {BUILD} has no pnx-devhost or bundle')
    h = Host(tmp_path)
    yield h
    h.stop()


def chromium(folder, *flags):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--window-size=1100,900', f'--user-data-dir={folder}', *flags):
        options.add_argument(flag)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


@pytest.fixture(scope='session')
def browser(tmp_path_factory):
    driver = chromium(tmp_path_factory.mktemp('chromium'))
    yield driver
    driver.quit()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, f'report_{report.when}', report)


@pytest.fixture
def page(request, browser):
    """The browser for one test: console errors fail the test; a failure leaves a screenshot; theme and size are
    put back. Ask for it after `host`, so that it is done with the pages before the host goes (their
    reconnection attempts log errors)."""
    browser.get_log('browser')  # drop what earlier tests left
    yield browser
    browser.switch_to.default_content()
    report = getattr(request.node, 'report_call', None)
    if report is not None and report.failed:
        OUTPUT.mkdir(parents=True, exist_ok=True)
        browser.save_screenshot(str(OUTPUT / f'failed-{request.node.name}.png'))
    set_theme(browser, None)
    set_width(browser, None)
    errors = [e for e in browser.get_log('browser') if e['level'] == 'SEVERE']
    browser.get('about:blank')
    assert not errors, f'browser console errors: {errors}'


def set_theme(driver, theme):
    features = [{'name': 'prefers-color-scheme', 'value': theme}] if theme else []
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': features})


def set_width(driver, width, height=1200):
    if width is None:
        driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
    else:
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})


def wait(driver, condition, timeout=10, message=''):
    # The view is redrawn from state: an element found a moment ago may have been replaced.
    redrawn = (NoSuchElementException, StaleElementReferenceException)
    return WebDriverWait(driver, timeout, poll_frequency=0.05, ignored_exceptions=redrawn).until(
        lambda d: condition(d), message)


def control(driver, label):
    """The control whose visible <label> reads `label`; its accessible name must be that text too."""
    found = driver.find_element(By.XPATH, f'//label[normalize-space()="{label}"]')
    element = driver.find_element(By.ID, found.get_attribute('for'))
    assert element.accessible_name == label
    return element


def button(driver, name):
    matches = [b for b in driver.find_elements(By.TAG_NAME, 'button') if b.accessible_name == name]
    assert len(matches) == 1, f'{len(matches)} buttons named {name!r}'
    return matches[0]


def key_svg(driver, name):
    """The SVG the plug-in drew on the panel's key `name`, or None while the key shows another image."""
    src = button(driver, name).find_element(By.TAG_NAME, 'img').get_attribute('src') or ''
    prefix = 'data:image/svg+xml;base64,'
    return base64.b64decode(src[len(prefix):]).decode() if src.startswith(prefix) else None


# Per page language: a key's name, its configure button, the inspector frame's title and its Device label.
LANGUAGES = {
    'en': ('Key {n}', 'Configure key {n}', 'Property inspector', 'Device'),
    'de': ('Taste {n}', 'Taste {n} einrichten', 'Eigenschaften', 'Gerät'),
    'fr': ('Touche {n}', 'Configurer la touche {n}', 'Inspecteur de propriétés', 'Appareil'),
}


def open_panel(driver, host, lang='en'):
    """Starts the host in `lang` and opens its panel page, connected."""
    host.start(options=('--language', lang) if lang != 'en' else ())
    driver.get(host.url)
    key = LANGUAGES[lang][0].format(n=15)
    wait(driver, lambda d: any(b.accessible_name == key and b.is_enabled()
                               for b in d.find_elements(By.TAG_NAME, 'button')), message='panel keys')


def frame(driver, lang='en'):
    driver.switch_to.default_content()
    driver.switch_to.frame(driver.find_element(By.CSS_SELECTOR, f'iframe[title="{LANGUAGES[lang][2]}"]'))


def open_inspector(driver, key, lang='en'):
    _, configure, title, device = LANGUAGES[lang]
    driver.switch_to.default_content()
    button(driver, configure.format(n=key)).click()
    found = wait(driver, lambda d: next((f for f in d.find_elements(By.CSS_SELECTOR, f'iframe[title="{title}"]')
                                         if f.is_displayed()), None), message='inspector frame')
    driver.switch_to.frame(found)
    wait(driver, lambda d: d.find_elements(By.XPATH, f'//label[normalize-space()="{device}"]'), message='inspector page')


def options(driver, label):
    # Read in one step: the lists are rebuilt when the plug-in reports.
    return driver.execute_script('return Array.from(arguments[0].options, (o) => o.text)', control(driver, label))


def token_of(host):
    return parse_qs(urlsplit(host.url).query)['token'][0]


def websocket(port, resource, origin=None):
    """A WebSocket client of our own: the handshake's status line, the socket and its reading end."""
    sock = socket.create_connection(('127.0.0.1', port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    lines = [f'GET {resource} HTTP/1.1', f'Host: 127.0.0.1:{port}', 'Upgrade: websocket', 'Connection: Upgrade',
             f'Sec-WebSocket-Key: {key}', 'Sec-WebSocket-Version: 13'] + ([f'Origin: {origin}'] if origin else [])
    sock.sendall(('\r\n'.join(lines) + '\r\n\r\n').encode())
    stream = sock.makefile('rb')
    status = stream.readline().decode().strip()
    while stream.readline() not in (b'\r\n', b''):
        pass
    return status, sock, stream


def send_text(sock, text):
    data, mask = text.encode(), os.urandom(4)
    assert len(data) < 65536
    length = bytes([0x80 | len(data)]) if len(data) < 126 else bytes([0x80 | 126]) + len(data).to_bytes(2, 'big')
    sock.sendall(bytes([0x81]) + length + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))


def receive(stream):
    """(opcode, payload) of the next frame, or (None, b'') when the connection ends."""
    try:
        first, length = stream.read(2)
        if length >= 126:
            length = int.from_bytes(stream.read(2 if length == 126 else 8), 'big')
        return first & 0x0F, stream.read(length)
    except (ValueError, ConnectionResetError, socket.timeout):
        return None, b''
