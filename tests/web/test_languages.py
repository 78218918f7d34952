"""Checks without a browser: the language files of the pages."""
import json
import re

from conftest import REPO

LANGUAGES = ('de', 'fr')
SOURCES = REPO / 'bundle'
PAGES = [SOURCES / 'inspector', REPO / 'tools' / 'devhost' / 'web']


def table(lang):
    return json.loads((SOURCES / f'{lang}.json').read_text(encoding='utf-8'))['Localization']


def test_every_language_has_every_english_text():
    english = table('en')
    used = {key for folder in PAGES for source in folder.glob('*.js')
            for key in re.findall(r"""\bt\(\s*'([\w.]+)'""", source.read_text(encoding='utf-8'))}
    assert used and not used - english.keys(), f'texts the pages use that English lacks: {used - english.keys()}'
    for lang in LANGUAGES:
        missing = english.keys() - table(lang).keys()
        assert not missing, f'{lang}.json lacks {sorted(missing)}'
        assert all(isinstance(v, str) and v for v in table(lang).values())
