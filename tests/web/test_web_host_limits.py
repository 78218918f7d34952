"""The web host's own limits under local programs that misbehave: the run's token for every page connection,
only page files served and streamed, a bounded backlog per WebSocket, and no spinning when descriptors run
out. Figures (peak memory, CPU time) are printed and kept in web-tests/limits.txt."""
import json
import os
import resource
import socket
import time
from urllib.parse import parse_qs, urlsplit

import pytest

from conftest import OUTPUT, receive, send_text, token_of, websocket

MB = 1024 * 1024


def status_kb(pid, field):
    for line in open(f'/proc/{pid}/status'):
        if line.startswith(field + ':'):
            return int(line.split()[1])
    raise AssertionError(f'no {field} for {pid}')


def cpu_seconds(pid):
    fields = open(f'/proc/{pid}/stat').read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def record(line):
    print(line)
    OUTPUT.mkdir(parents=True, exist_ok=True)
    with open(OUTPUT / 'limits.txt', 'a') as out:
        out.write(line + '\n')


def get(port, path, extra=''):
    """One GET on a fresh connection: (status code, body)."""
    with socket.create_connection(('127.0.0.1', port), timeout=10) as sock:
        sock.sendall(f'GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n{extra}\r\n'.encode())
        answer = b''
        while chunk := sock.recv(65536):
            answer += chunk
    head, _, body = answer.partition(b'\r\n\r\n')
    return int(head.split()[1]), body


def stalled_get(port, path):
    """A client that asks for a file and never reads: a tiny receive window, so almost nothing is taken off."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.connect(('127.0.0.1', port))
    sock.sendall(f'GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n'.encode())
    return sock


def receive_until(stream, predicate, limit=200):
    for _ in range(limit):
        opcode, payload = receive(stream)
        if opcode is None:
            return None
        if opcode == 1:
            message = json.loads(payload)
            if predicate(message):
                return message
    return None


def own_page(host, resource='/?token={token}'):
    """A WebSocket as the pages open it: this server's Origin, the given address."""
    return websocket(host.port, resource.format(token=token_of(host)), f'http://127.0.0.1:{host.port}')


def open_inspector_page(host, key=1):
    """A panel that opens key's inspector, and the inspector page's registered connection."""
    status, panel, panel_stream = own_page(host)
    assert status == 'HTTP/1.1 101 Switching Protocols'
    send_text(panel, json.dumps({'event': 'registerPanel'}))
    send_text(panel, json.dumps({'event': 'openInspector', 'key': key}))
    state = receive_until(panel_stream, lambda m: m.get('event') == 'panelState' and m.get('inspector'))
    assert state, 'the panel was not told of the open inspector'
    query = parse_qs(urlsplit(state['inspector']['url']).query)
    return panel, panel_stream, query


# --- 1. the token ---------------------------------------------------------------------------------------------

@pytest.mark.parametrize('resource, origin, registers', [
    ('/', 'http://127.0.0.1:{port}', False),  # the expected Origin alone is not enough
    ('/', 'http://localhost:{port}', False),  # a local program can send the page's Origin
    ('/?token=0123456789abcdef0123456789abcdef', 'http://127.0.0.1:{port}', False),
    ('/?token=0123456789abcdef0123456789abcdef', None, False),
    ('/?token={token}', 'http://127.0.0.1:{port}', True),
    ('/?token={token}', 'http://localhost:{port}', True),
    ('/?token={token}', None, True),
    ('/', None, False),
])
def test_panel_and_inspector_connections_need_the_token_whatever_their_origin(host, resource, origin, registers):
    host.start()
    panel, panel_stream, query = open_inspector_page(host)
    with panel, panel_stream:
        for register in ({'event': 'registerPanel'},
                         {'event': 'registerPropertyInspector', 'uuid': query['uuid'][0]}):
            status, sock, stream = websocket(host.port, resource.format(token=token_of(host)),
                                             origin and origin.format(port=host.port))
            with sock, stream:
                assert status == 'HTTP/1.1 101 Switching Protocols'
                send_text(sock, json.dumps(register))
                if register['event'] == 'registerPanel':
                    opcode, payload = receive(stream)
                    answered = opcode == 1 and json.loads(payload)['event'] == 'panelState'
                    assert answered or opcode in (8, None), payload  # a refused panel is closed unanswered
                else:
                    # An inspector hears of its settings when the plug-in writes them; ask the plug-in through
                    # it and look for the answer of a registered inspector: the plug-in's device report.
                    send_text(sock, json.dumps({'event': 'sendToPlugin', 'context': query['uuid'][0],
                                                'payload': {'method': 'getDeviceStatus'}}))
                    opcode, payload = receive(stream)
                    answered = opcode == 1
                assert answered == registers, (register, opcode, payload)


def test_the_inspector_address_carries_the_token(host):
    host.start()
    panel, stream, query = open_inspector_page(host)
    with panel, stream:
        assert query.get('token') == [token_of(host)]


# --- 2. files ---------------------------------------------------------------------------------------------------

@pytest.mark.parametrize('path, served', [
    ('/', True),
    ('/panel/panel.js', True),
    ('/plugin/manifest.json', True),
    ('/plugin/inspector/index.html', True),
    ('/plugin/inspector/main.js', True),
    ('/plugin/en.json', True),
    ('/plugin/icons/key.svg', True),
    ('/plugin/BrelvonMultiview', False),   # the plug-in's executable is no page's
    ('/plugin/planted.so', False),         # nor is any file a page does not load
    ('/plugin/planted', False),
])
def test_only_files_a_page_loads_are_served(host, path, served):
    (host.bundle / 'planted.so').write_bytes(b'\x7fELF')
    (host.bundle / 'planted').write_bytes(b'\x7fELF')
    host.start()
    code, _ = get(host.port, path)
    assert code == (200 if served else 404), path


def test_a_large_file_arrives_whole_and_exact(host):
    data = os.urandom(3 * MB + 12345)
    (host.bundle / 'large.png').write_bytes(data)
    host.start()
    code, body = get(host.port, '/plugin/large.png')
    assert code == 200 and body == data


def peak_under_stalled_clients(host, path, clients=20):
    """Peak and kept resident memory of the web host (MB) while `clients` connections that never read ask for
    `path`; the host still answers others meanwhile."""
    pid = host.process.pid
    before = status_kb(pid, 'VmRSS')
    stalled = [stalled_get(host.port, path) for _ in range(clients)]
    try:
        # Answered round trips: by then the host has taken the stalled requests in.
        for _ in range(3):
            code, _ = get(host.port, '/plugin/manifest.json')
            assert code == 200
        peak = status_kb(pid, 'VmHWM')
    finally:
        for sock in stalled:
            sock.close()
    code, _ = get(host.port, '/plugin/manifest.json')
    assert code == 200
    return before / 1024, peak / 1024, status_kb(pid, 'VmRSS') / 1024


@pytest.mark.parametrize('path', ['/plugin/BrelvonMultiview', '/plugin/large.png'])
def test_twenty_clients_that_do_not_read_hold_little_memory(host, path):
    (host.bundle / 'large.png').write_bytes(os.urandom(12 * MB))
    host.start()
    before, peak, kept = peak_under_stalled_clients(host, path)
    record(f'web host, 20 clients that do not read {path}: {before:.0f} MB before, peak {peak:.0f} MB, '
           f'{kept:.0f} MB kept after')
    assert peak - before < 48, f'{path}: peak {peak:.0f} MB from {before:.0f} MB'


def host_holds(pid, port, sock):
    """Whether the host process still has a descriptor for its end of the client socket sock."""
    peer = f'0100007F:{sock.getsockname()[1]:04X}'
    inodes = {f.split()[9] for f in open('/proc/net/tcp').read().splitlines()[1:]
              if f.split()[1] == f'0100007F:{port:04X}' and f.split()[2] == peer}
    held = set()
    for fd in os.listdir(f'/proc/{pid}/fd'):
        try:
            held.add(os.readlink(f'/proc/{pid}/fd/{fd}'))
        except OSError:
            pass
    return any(f'socket:[{inode}]' in held for inode in inodes)


def test_a_client_that_takes_nothing_of_a_file_is_dropped(host):
    (host.bundle / 'large.png').write_bytes(os.urandom(12 * MB))
    host.start()
    pid = host.process.pid
    sock = stalled_get(host.port, '/plugin/large.png')
    try:
        deadline = time.monotonic() + 10
        while not host_holds(pid, host.port, sock) and time.monotonic() < deadline:
            time.sleep(0.02)
        assert host_holds(pid, host.port, sock), 'the host did not take the connection'
        start = time.monotonic()
        while host_holds(pid, host.port, sock) and time.monotonic() - start < 40:
            time.sleep(0.1)
        record(f'web host, a client that takes nothing of a file: dropped after {time.monotonic() - start:.1f} s')
        assert not host_holds(pid, host.port, sock), 'the host still holds the connection'
    finally:
        sock.close()


# --- 3. a WebSocket that does not read -----------------------------------------------------------------------

def test_an_inspector_that_asks_for_large_images_and_never_reads_holds_little_memory(host):
    host.start()
    pid = host.process.pid
    panel, panel_stream, query = open_inspector_page(host)
    status, sock, stream = websocket(host.port, f'/?token={token_of(host)}', f'http://127.0.0.1:{host.port}')
    uuid = query['uuid'][0]
    with panel, panel_stream, sock, stream:
        assert status == 'HTTP/1.1 101 Switching Protocols'
        send_text(sock, json.dumps({'event': 'registerPropertyInspector', 'uuid': uuid}))
        send_text(sock, json.dumps({'event': 'sendToPlugin', 'context': uuid, 'payload': {
            'method': 'startSendingImages', 'imageWidth': 1920, 'imageHeight': 1080}}))
        # One image read proves they flow; from then on nothing is read.
        for _ in range(100):
            opcode, payload = receive(stream)
            if opcode is None or b'"imageData"' in payload[:200]:
                break
        assert opcode == 1, 'no image came'
        before = status_kb(pid, 'VmRSS')
        start = time.monotonic()
        halves = [before, before]  # peak of the first six seconds (filling up) and of the last four
        while time.monotonic() - start < 10 and max(halves) - before < 600 * 1024:
            half = 0 if time.monotonic() - start < 6 else 1
            halves[half] = max(halves[half], status_kb(pid, 'VmRSS'))
            # The host keeps answering meanwhile: this round trip paces the samples.
            assert get(host.port, '/plugin/manifest.json')[0] == 200
        peak = max(halves)
        record(f'web host, inspector asking for 1920x1080 images and not reading for '
               f'{time.monotonic() - start:.0f} s: {before / 1024:.0f} MB before, peak {peak / 1024:.0f} MB '
               f'(first 6 s {halves[0] / 1024:.0f} MB, last 4 s {halves[1] / 1024:.0f} MB)')
        # A few image messages of about 18 MB each may be on their way (being read from the plug-in, being
        # written, one waiting); beyond that nothing accumulates (unbounded, this was 350 MB after 10 s).
        assert (peak - before) / 1024 < 160


# --- 4. descriptors run out -----------------------------------------------------------------------------------

def test_the_accept_loop_backs_off_when_descriptors_run_out(host):
    host.start()
    pid = host.process.pid
    soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
    in_use = len(os.listdir(f'/proc/{pid}/fd'))
    resource.prlimit(pid, resource.RLIMIT_NOFILE, (in_use + 8, hard))
    clients = []
    try:
        # More connections than descriptors: the kernel completes them all, the host can take only a few.
        clients = [socket.create_connection(('127.0.0.1', host.port), timeout=10) for _ in range(40)]
        deadline = time.monotonic() + 20
        while len(os.listdir(f'/proc/{pid}/fd')) < in_use + 8 and time.monotonic() < deadline:
            time.sleep(0.02)
        assert len(os.listdir(f'/proc/{pid}/fd')) >= in_use + 8, 'the host never ran out of descriptors'
        cpu, start = cpu_seconds(pid), time.monotonic()
        while time.monotonic() - start < 3:  # the measuring window
            time.sleep(0.1)
        used = cpu_seconds(pid) - cpu
        record(f'web host, descriptors exhausted: {used:.2f} CPU-seconds in {time.monotonic() - start:.1f} s')
    finally:
        for sock in clients:
            sock.close()
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))
    assert used < 0.5
    # Once descriptors are free again the host serves as before.
    deadline = time.monotonic() + 20
    while True:
        try:
            if get(host.port, '/plugin/manifest.json')[0] == 200:
                break
        except OSError:
            pass
        assert time.monotonic() < deadline, 'the host did not serve again'
        time.sleep(0.05)
