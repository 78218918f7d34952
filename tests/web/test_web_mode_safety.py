"""The web mode left running: it answers only under its own names, a foreign page cannot drive it (the token
every connection needs is test_web_host_limits'), and the plug-in holds none of its
sockets."""
import contextlib
import http.server
import os
import threading
import time

import pytest
from selenium.webdriver.common.by import By

from conftest import button, chromium, control, open_inspector, token_of, wait

REBOUND = 'rebound.test'  # a name an attacker's DNS answers with 127.0.0.1


@pytest.fixture(scope='module')
def rebinding_browser(tmp_path_factory):
    """A browser whose resolver sends REBOUND to 127.0.0.1, as DNS rebinding would."""
    driver = chromium(tmp_path_factory.mktemp('chromium-rebinding'), f'--host-resolver-rules=MAP {REBOUND} 127.0.0.1')
    yield driver
    driver.quit()


class OtherPage(http.server.BaseHTTPRequestHandler):
    timeout = 1  # an idle connection the browser opened ahead ends, so it cannot answer for the host later
    def do_GET(self):
        self.send_response(200)
        self.end_headers()
        self.wfile.write(b'<!doctype html><title>other site</title>')

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def other_site():
    """The port of an unrelated site on this machine: another origin."""
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), OtherPage)
    server.daemon_threads = False  # server_close then waits for every connection's end
    thread = threading.Thread(target=server.serve_forever)
    thread.start()
    try:
        yield server.server_address[1]
    finally:
        server.shutdown()
        thread.join()
        server.server_close()


def test_the_page_works_under_localhost(host, page):
    host.start()
    page.get(host.url.replace('//127.0.0.1:', '//localhost:'))
    wait(page, lambda d: button(d, 'Key 15').is_enabled(), message='panel connected')
    # The inspector, which always connects to 127.0.0.1, works from a page opened as localhost too.
    open_inspector(page, 1)
    wait(page, lambda d: control(d, 'Device').is_enabled(), message='inspector connected')
    status = page.find_element(By.CSS_SELECTOR, '[role="status"]')
    assert not status.is_displayed() or status.text == ''


def test_a_page_whose_name_is_rebound_to_this_machine_reads_nothing(host, rebinding_browser):
    # The attacker's page comes from the attacker's server; then its name leads to the host, on the same port,
    # and its scripts' requests are same-origin.
    with other_site() as port:
        rebinding_browser.get(f'http://{REBOUND}:{port}/')
    host.start(port=port)
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
    rebinding_browser.get(f'http://{REBOUND}:{port}/')
    assert rebinding_browser.title != 'pnx-devhost'  # the browser's own error page, not the panel
    assert not rebinding_browser.find_elements(By.ID, 'panel-page')


def test_a_websocket_from_a_foreign_origin_is_refused(host, page):
    host.start()
    with other_site() as port:
        page.get(f'http://127.0.0.1:{port}/')
    outcome = page.execute_async_script('''
        const [url, done] = [arguments[0], arguments[arguments.length - 1]];
        const ws = new WebSocket(url);
        ws.onopen = () => { ws.close(); done('opened'); };
        ws.onerror = () => done('refused');''', f'ws://127.0.0.1:{host.port}/?token={token_of(host)}')
    assert outcome == 'refused'
    page.get_log('browser')  # the refused handshake is logged as an error, as it should be


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
