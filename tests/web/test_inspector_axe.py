"""Accessibility checks (axe-core, injected from the copy tools/setup.sh installs, contrast included) of the
property inspector and the panel page in both themes."""
import json
from pathlib import Path

import pytest
from selenium.webdriver.common.by import By

from conftest import OUTPUT, button, frame, open_inspector, open_panel, options, set_theme, wait

AXE = Path(__file__).resolve().parent / 'axe' / 'node_modules' / 'axe-core' / 'axe.min.js'
THEMES = ('light', 'dark')


def axe(driver):
    """Runs axe-core over the current document (the inspector's frame or the panel page) and returns its
    violations as {rule: (impact, [targets])}. The script is injected from the installed file: nothing is fetched."""
    if not AXE.exists():
        pytest.fail(f'{AXE} is missing: run tools/setup.sh')
    if not driver.execute_script('return !!window.axe'):
        driver.execute_script(AXE.read_text(encoding='utf-8'))
    result = driver.execute_async_script('''
        const done = arguments[arguments.length - 1];
        axe.run(document, { resultTypes: ['violations'] })
            .then((r) => done(r.violations.map((v) => [v.id, v.impact, v.nodes.map((n) => n.target.join(' '))])))
            .catch((e) => done(String(e)));''')
    assert isinstance(result, list), result
    return {rule: (impact, targets) for rule, impact, targets in result}


def check(name, violations):
    """Records the findings in axe.json; serious and critical ones fail the test."""
    OUTPUT.mkdir(parents=True, exist_ok=True)
    path = OUTPUT / 'axe.json'
    found = json.loads(path.read_text()) if path.exists() else {}
    found[name] = {rule: {'impact': impact, 'nodes': targets} for rule, (impact, targets) in violations.items()}
    path.write_text(json.dumps(found, indent=1, ensure_ascii=False) + '\n')
    print(f'\naxe {name}: ' + (', '.join(f'{r} ({i}, {len(t)})' for r, (i, t) in violations.items()) or 'none'))
    serious = {r: v for r, v in violations.items() if v[0] in ('serious', 'critical')}
    assert not serious, f'{name}: {serious}'


def test_axe_over_the_inspector_and_the_panel_in_both_themes(host, page):
    # A key image and an absent device bring the page's rarer parts (file name, remove button, notes) in; the
    # key being configured and, last, the host gone bring the panel's other looks in.
    host.settings.write_text(json.dumps({'keys': {'key-1': {'icon': 'data:image/png;base64,AA=='}}}))
    open_panel(page, host)
    open_inspector(page, 1)
    wait(page, lambda d: len(options(d, 'Device')) == 2, message='devices')
    page.switch_to.default_content()
    button(page, 'Unplug Brelvon 2').click()
    wait(page, lambda d: button(d, 'Plug in Brelvon 2'), message='device unplugged')
    for name in THEMES:
        set_theme(page, name)
        frame(page)
        check(f'inspector {name}', axe(page))
        page.switch_to.default_content()
        check(f'panel {name}', axe(page))
    host.stop()
    wait(page, lambda d: d.find_element(By.CSS_SELECTOR, '[role="status"]').is_displayed(), message='status shown')
    for name in THEMES:
        set_theme(page, name)
        check(f'panel without host {name}', axe(page))
    # The host is gone on purpose: its failed reconnection attempts are the only errors allowed.
    page.get('about:blank')
    errors = [e for e in page.get_log('browser') if e['level'] == 'SEVERE' and 'WebSocket' not in e['message']]
    assert not errors, errors
