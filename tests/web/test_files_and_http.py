"""Checks without a browser: the language files, and what pnx-devhost's HTTP side refuses."""
import json
import re
import socket

from conftest import REPO

LANGUAGES = ('de', 'fr')
PAGES = [REPO / 'bundle' / 'inspector', REPO / 'tools' / 'devhost' / 'web']


def table(lang):
    return json.loads((REPO / 'bundle' / f'{lang}.json').read_text(encoding='utf-8'))['Localization']


def test_every_language_has_every_english_text():
    english = table('en')
    used = {key for folder in PAGES for source in folder.glob('*.js')
            for key in re.findall(r"""\bt\(\s*'([\w.]+)'""", source.read_text(encoding='utf-8'))}
    assert used and not used - english.keys(), f'texts the pages use that English lacks: {used - english.keys()}'
    for lang in LANGUAGES:
        missing = english.keys() - table(lang).keys()
        assert not missing, f'{lang}.json lacks {sorted(missing)}'
        assert all(isinstance(v, str) and v for v in table(lang).values())


def request(port, text, head_only=False):
    with socket.create_connection(('127.0.0.1', port), timeout=5) as s:
        s.sendall(text.encode())
        data = b''
        while chunk := s.recv(65536):
            data += chunk
            if head_only and b'\r\n\r\n' in data:
                break
    head, _, body = data.partition(b'\r\n\r\n')
    lines = head.decode('latin-1').split('\r\n')
    headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(':') for line in lines[1:])}
    return int(lines[0].split()[1]), headers, body


def get(port, path, method='GET'):
    return request(port, f'{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n')


def upgrade(port, origin):
    extra = f'Origin: {origin}\r\n' if origin else ''
    status, _, _ = request(port, f'GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
                                 f'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n{extra}\r\n', head_only=True)
    return status


def test_host_serves_only_its_files_to_its_own_origin(host):
    (host.folder / 'secret.txt').write_text('outside the bundle')
    (host.bundle / 'outside').symlink_to(host.folder)
    host.start()
    port = host.port

    status, headers, _ = get(port, '/plugin/manifest.json')
    assert status == 200
    assert "default-src 'self'" in headers.get('content-security-policy', '')
    assert headers.get('x-content-type-options') == 'nosniff'

    for path in ('/plugin/../secret.txt', '/plugin/%2e%2e/secret.txt', '/plugin/inspector/%2E%2E%2F..%2Fsecret.txt',
                 '/plugin/..%5csecret.txt', '/plugin/%2F' + str(host.folder / 'secret.txt').lstrip('/'),
                 '/plugin/' + str(host.folder / 'secret.txt'), '/plugin/outside/secret.txt',
                 '/panel/../../../../../../etc/passwd'):
        status, _, body = get(port, path)
        assert status == 404 and b'outside the bundle' not in body, path
    assert get(port, '/plugin/manifest.json', method='POST')[0] == 405

    assert upgrade(port, 'http://attacker.example') == 403
    assert upgrade(port, 'http://127.0.0.1:1') == 403
    assert upgrade(port, f'http://127.0.0.1:{port}') == 101
    assert upgrade(port, None) == 101


def test_unreadable_settings_are_kept_and_the_host_starts_empty(host):
    corrupt = b'{"keys": {"key-1": [not json'
    host.settings.write_bytes(corrupt)
    host.start()
    kept = [p for p in host.folder.iterdir() if p.name.startswith('settings.json.') and p.read_bytes() == corrupt]
    assert kept, f'the unreadable file was not kept: {sorted(p.name for p in host.folder.iterdir())}'
    assert host.stderr_path.read_text().strip(), 'no warning'
    assert get(host.port, '/')[0] == 200
