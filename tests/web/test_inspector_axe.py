"""Accessibility checks (axe-core, injected from the copy tools/setup.sh installs) of the property inspector and
the panel page in both themes, and screenshots of the inspector in each language at 350 px."""
import json
from pathlib import Path

import pytest
from selenium.webdriver.common.by import By

from conftest import OUTPUT, button, control, wait
from test_pages import open_inspector, option_texts

AXE = Path(__file__).resolve().parent / 'axe' / 'node_modules' / 'axe-core' / 'axe.min.js'
THEMES = ('light', 'dark')
# The page language, its panel's texts, and the inspector's Device label.
LANGUAGES = {
    'en': ('Key {n}', 'Configure key {key}', 'Property inspector', 'Device'),
    'de': ('Taste {n}', 'Taste {key} einrichten', 'Eigenschaften', 'Gerät'),
    'fr': ('Touche {n}', 'Configurer la touche {key}', 'Inspecteur de propriétés', 'Appareil'),
}


def theme(driver, name):
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia',
                           {'features': [{'name': 'prefers-color-scheme', 'value': name}]})


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


def report(name, violations):
    OUTPUT.mkdir(parents=True, exist_ok=True)
    path = OUTPUT / 'axe.json'
    found = json.loads(path.read_text()) if path.exists() else {}
    found[name] = {rule: {'impact': impact, 'nodes': targets} for rule, (impact, targets) in violations.items()}
    path.write_text(json.dumps(found, indent=1, ensure_ascii=False) + '\n')
    print(f'\naxe {name}: ' + (', '.join(f'{r} ({i}, {len(t)})' for r, (i, t) in violations.items()) or 'none'))


def inspector_frame(driver, title):
    driver.switch_to.default_content()
    driver.switch_to.frame(driver.find_element(By.CSS_SELECTOR, f'iframe[title="{title}"]'))


def test_axe_over_the_inspector_and_the_panel_in_both_themes(host, page):
    # A key image and an absent device bring the page's rarer parts (file name, remove button, notes) in.
    host.settings.write_text(json.dumps({'keys': {'key-1': {'icon': 'data:image/png;base64,AA=='}}}))
    host.start()
    page.get(host.url)
    wait(page, lambda d: button(d, 'Key 15').is_enabled(), message='panel')
    open_inspector(page, 1)
    wait(page, lambda d: len(option_texts(control(d, 'Device'))) == 2, message='devices')
    page.switch_to.default_content()
    button(page, 'Unplug Brelvon 2').click()
    try:
        for name in THEMES:
            theme(page, name)
            inspector_frame(page, 'Property inspector')
            inspector = axe(page)
            report(f'inspector {name}', inspector)
            page.switch_to.default_content()
            report(f'panel {name}', axe(page))  # the panel's own findings are reported, not asserted here
            serious = {r: v for r, v in inspector.items() if v[0] in ('serious', 'critical')}
            assert not serious, f'inspector, {name} theme: {serious}'
    finally:
        page.switch_to.default_content()
        theme(page, 'light')
        page.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})


@pytest.mark.parametrize('lang', LANGUAGES)
def test_screenshots_of_the_inspector_at_350_px(host, page, lang):
    key, configure, title, device = LANGUAGES[lang]
    host.start(options=('--language', lang))
    page.get(host.url)
    wait(page, lambda d: button(d, key.format(n=15)).is_enabled(), message='panel')
    open_inspector(page, 1, configure=configure, device=device, title=title)
    wait(page, lambda d: len(option_texts(control(d, device))) == 2, message='devices')
    wait(page, lambda d: d.find_element(By.ID, 'preview-state').get_attribute('hidden') is not None, message='picture')
    page.switch_to.default_content()
    frame = page.find_element(By.CSS_SELECTOR, f'iframe[title="{title}"]')
    page.execute_script('arguments[0].style.width = "350px"; arguments[0].style.height = "960px";', frame)
    OUTPUT.mkdir(parents=True, exist_ok=True)
    # A window tall enough for the whole frame: an element's screenshot is cut at the window's edge.
    page.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': 1100, 'height': 2200, 'deviceScaleFactor': 1, 'mobile': False})
    try:
        page.execute_script('arguments[0].scrollIntoView()', frame)
        frame.screenshot(str(OUTPUT / f'inspector-350-{lang}.png'))
        theme(page, 'dark')
        frame.screenshot(str(OUTPUT / f'inspector-350-{lang}-dark.png'))
    finally:
        page.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})
        page.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
