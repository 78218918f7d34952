"""The web mode left running: it answers only under its own names, a foreign page cannot drive it, a client
without an Origin is a panel only with the printed address's token, and the plug-in holds none of its sockets."""
import base64
import functools
import http.server
import json
import os
import socket
import struct
import threading
import time
from urllib.parse import parse_qs, urlsplit

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from conftest import button, control, wait

REBOUND = 'rebound.test'  # a name an attacker's DNS answers with 127.0.0.1


def token_of(host):
    return parse_qs(urlsplit(host.url).query)['token'][0]


@pytest.fixture(scope='module')
def rebinding_browser(tmp_path_factory):
    """A browser whose resolver sends REBOUND to 127.0.0.1, as DNS rebinding would."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
                 f'--host-resolver-rules=MAP {REBOUND} 127.0.0.1',
                 f'--user-data-dir={tmp_path_factory.mktemp("chromium-rebinding")}'):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    yield driver
    driver.quit()


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class OtherSite:
    """An unrelated site on a port of this machine: another origin."""

    def __init__(self, folder):
        folder.mkdir(exist_ok=True)
        (folder / 'index.html').write_text('<!doctype html><title>other site</title>')
        handler = functools.partial(QuietFiles, directory=str(folder))
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.thread.join()
        self.server.server_close()


@pytest.fixture
def other_site(tmp_path):
    site = OtherSite(tmp_path / 'site')
    yield f'http://127.0.0.1:{site.port}/'
    site.stop()


@pytest.mark.parametrize('address', ['printed', 'localhost', 'without token'])
def test_the_page_works_under_either_name_with_or_without_the_token(host, page, address):
    host.start()
    url = {'printed': host.url,
           'localhost': host.url.replace('//127.0.0.1:', '//localhost:'),
           'without token': host.url.split('?')[0]}[address]
    page.get(url)
    wait(page, lambda d: button(d, 'Key 15').is_enabled(), message='panel connected')
    # The inspector, which always connects to 127.0.0.1, works from a page opened as localhost too.
    button(page, 'Configure key 1').click()
    frame = wait(page, lambda d: d.find_element(By.CSS_SELECTOR, 'iframe[title="Property inspector"]'))
    page.switch_to.frame(frame)
    wait(page, lambda d: control(d, 'Device').is_enabled(), message='inspector connected')
    status = page.find_element(By.CSS_SELECTOR, '[role="status"]')
    assert not status.is_displayed() or status.text == ''
    page.switch_to.default_content()


def test_a_page_whose_name_is_rebound_to_this_machine_reads_nothing(host, rebinding_browser, tmp_path):
    # The attacker's page comes from the attacker's server; then its name leads to the host, on the same port,
    # and its scripts' requests are same-origin.
    site = OtherSite(tmp_path / 'site')
    rebinding_browser.get(f'http://{REBOUND}:{site.port}/')
    site.stop()
    host.start(port=site.port)
    answers = rebinding_browser.execute_async_script('''
        const [token, done] = [arguments[0], arguments[arguments.length - 1]];
        const read = (path) => fetch(path).then(async (r) => [r.status, await r.text()], (e) => String(e));
        const socket = () => new Promise((resolve) => {
            const ws = new WebSocket(`ws://${location.host}/?token=${token}`);
            ws.onopen = () => { ws.close(); resolve('opened'); };
            ws.onerror = () => resolve('refused');
        });
        Promise.all([read('/'), read('/plugin/manifest.json'), read('/panel/panel.js'), socket()]).then(done);''',
        token_of(host))
    assert answers == [[403, ''], [403, ''], [403, ''], 'refused']
    rebinding_browser.get(f'http://{REBOUND}:{site.port}/')
    assert rebinding_browser.title != 'pnx-devhost'  # the browser's own error page, not the panel
    assert not rebinding_browser.find_elements(By.ID, 'panel-page')


def test_a_websocket_from_a_foreign_origin_is_refused(host, page, other_site):
    host.start()
    page.get(other_site)
    outcome = page.execute_async_script('''
        const [url, done] = [arguments[0], arguments[arguments.length - 1]];
        const ws = new WebSocket(url);
        ws.onopen = () => { ws.close(); done('opened'); };
        ws.onerror = () => done('refused');''', f'ws://127.0.0.1:{host.port}/?token={token_of(host)}')
    assert outcome == 'refused'
    page.get_log('browser')  # the refused handshake is logged as an error, as it should be


def websocket(port, resource, origin=None):
    """A WebSocket client of our own: the handshake's status line and the socket."""
    sock = socket.create_connection(('127.0.0.1', port), timeout=5)
    key = base64.b64encode(os.urandom(16)).decode()
    lines = [f'GET {resource} HTTP/1.1', f'Host: 127.0.0.1:{port}', 'Upgrade: websocket', 'Connection: Upgrade',
             f'Sec-WebSocket-Key: {key}', 'Sec-WebSocket-Version: 13'] + ([f'Origin: {origin}'] if origin else [])
    sock.sendall(('\r\n'.join(lines) + '\r\n\r\n').encode())
    head = b''
    while b'\r\n\r\n' not in head:
        chunk = sock.recv(1)
        if not chunk:
            break
        head += chunk
    return head.split(b'\r\n')[0].decode(), sock


def send_text(sock, text):
    data, mask = text.encode(), os.urandom(4)
    assert len(data) < 126
    sock.sendall(bytes([0x81, 0x80 | len(data)]) + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))


def receive(sock):
    """(opcode, payload) of the next frame, or (None, b'') when the connection ends."""
    def exactly(n):
        data = b''
        while len(data) < n:
            chunk = sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data
    try:
        first, length = exactly(2)
        length &= 0x7F
        if length >= 126:
            length = struct.unpack('>H' if length == 126 else '>Q', exactly(2 if length == 126 else 8))[0]
        return first & 0x0F, exactly(length)
    except (EOFError, ConnectionResetError):
        return None, b''


@pytest.mark.parametrize('resource, origin, panel', [
    ('/', None, False),
    ('/?token=0123456789abcdef0123456789abcdef', None, False),
    ('/?token={token}', None, True),
    ('/', 'http://localhost:{port}', True),
])
def test_a_client_without_origin_is_a_panel_only_with_the_token(host, resource, origin, panel):
    host.start()
    status, sock = websocket(host.port, resource.format(token=token_of(host)),
                             origin and origin.format(port=host.port))
    with sock:
        assert status == 'HTTP/1.1 101 Switching Protocols'
        send_text(sock, json.dumps({'event': 'registerPanel'}))
        opcode, payload = receive(sock)
        if panel:
            assert opcode == 1 and json.loads(payload)['event'] == 'panelState'
        else:
            assert opcode in (8, None), payload  # closed unanswered


def listening_inode(port):
    for line in open('/proc/net/tcp').read().splitlines()[1:]:
        fields = line.split()
        if fields[1] == f'0100007F:{port:04X}' and fields[3] == '0A':
            return fields[9]
    raise AssertionError(f'nothing listens on port {port}')


def test_the_plugin_does_not_hold_the_hosts_port(host):
    host.start()
    devhost = host.process.pid
    children = []
    deadline = time.monotonic() + 10
    while not children and time.monotonic() < deadline:
        children = open(f'/proc/{devhost}/task/{devhost}/children').read().split()
        time.sleep(0.05)
    assert len(children) == 1, children
    fd_folder = f'/proc/{children[0]}/fd'
    held = {os.readlink(os.path.join(fd_folder, fd)) for fd in os.listdir(fd_folder)}
    assert f'socket:[{listening_inode(host.port)}]' not in held, held
