"""The development host's panel page as a person uses it: what marks the key being configured, the names a
screen reader hears, contrast in both themes, the keyboard, and texts that fit in every language."""
import base64
import json

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from conftest import DEVICES, OUTPUT, button, wait

LANGUAGES = {'en': 'Key 15', 'de': 'Taste 15', 'fr': 'Touche 15'}

# Each element that holds text, with its colour and the colour of what lies behind it: backgrounds composed
# from the root down, an ancestor's opacity fading both towards what lies behind that ancestor.
CONTRAST = '''
const rgba = (text) => {
  const v = text.match(/[\\d.]+/g).map(Number);
  return [v[0], v[1], v[2], v.length > 3 ? v[3] : 1];
};
const over = (top, below, alpha = top[3]) => [0, 1, 2].map((i) => top[i] * alpha + below[i] * (1 - alpha)).concat(1);
const luminance = (c) => {
  const [r, g, b] = c.slice(0, 3).map((v) => (v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4);
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
};
const ratio = (a, b) => {
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
};
const found = [];
for (const el of document.body.querySelectorAll('*')) {
  const own = Array.from(el.childNodes).some((n) => n.nodeType === Node.TEXT_NODE && n.data.trim() !== '');
  if (!own || !el.checkVisibility({ checkOpacity: false, checkVisibilityCSS: true }) || el.closest(':disabled')) continue;
  const chain = [];
  for (let n = el; n; n = n.parentElement) chain.unshift(n);
  let behind = [255, 255, 255, 1];
  const fades = [];
  for (const n of chain) {
    const style = getComputedStyle(n);
    if (Number(style.opacity) < 1) fades.push([Number(style.opacity), behind]);
    behind = over(rgba(style.backgroundColor), behind);
  }
  let text = over(rgba(getComputedStyle(el).color), behind);
  for (const [opacity, under] of fades.reverse()) {
    text = over(text, under, opacity);
    behind = over(behind, under, opacity);
  }
  found.push({ text: el.textContent.trim().slice(0, 40), ratio: ratio(text, behind) });
}
return found;
'''

# Text that is cut or spills: each text's box must lie inside its element and inside every ancestor that clips.
CUT_TEXTS = '''
const cut = [];
for (const el of document.body.querySelectorAll('*')) {
  if (!el.checkVisibility()) continue;
  for (const node of el.childNodes) {
    if (node.nodeType !== Node.TEXT_NODE || node.data.trim() === '') continue;
    const range = document.createRange();
    range.selectNodeContents(node);
    const r = range.getBoundingClientRect();
    for (let box = el; box && box !== document.body; box = box.parentElement) {
      const style = getComputedStyle(box);
      if (box !== el && style.overflowX === 'visible' && style.overflowY === 'visible') continue;
      const b = box.getBoundingClientRect();
      if (r.left < b.left - 1 || r.right > b.right + 1 || r.top < b.top - 1 || r.bottom > b.bottom + 1) {
        cut.push(`${node.data.trim()} (in ${box.tagName.toLowerCase()}.${box.className})`);
        break;
      }
    }
  }
}
return cut;
'''


def set_theme(driver, theme):
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia',
                           {'features': [{'name': 'prefers-color-scheme', 'value': theme}]})


def set_width(driver, width):
    if width is None:
        driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
    else:
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': width, 'height': 1200, 'deviceScaleFactor': 1, 'mobile': False})


@pytest.fixture
def emulated(page):
    """The page, with theme and width put back after the test."""
    yield page
    page.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})
    set_width(page, None)


def open_panel(driver, host, first_key='Key 15'):
    driver.get(host.url)
    wait(driver, lambda d: any(b.accessible_name == first_key and b.is_enabled()
                               for b in d.find_elements(By.TAG_NAME, 'button')), message='panel keys')


def ax_nodes(driver):
    """The page's accessibility tree as a screen reader gets it: (role, name, {property: value})."""
    tree = driver.execute_cdp_cmd('Accessibility.getFullAXTree', {})['nodes']
    return [(n.get('role', {}).get('value'), n.get('name', {}).get('value'),
             {p['name']: p['value'].get('value') for p in n.get('properties', [])})
            for n in tree if not n.get('ignored')]


def inspector_open(driver):
    return any(f.is_displayed() for f in driver.find_elements(By.TAG_NAME, 'iframe'))


def focus_by_keyboard(driver, element):
    """Tabs through the page until `element` has focus, so that it shows as focused from the keyboard."""
    for _ in range(80):
        if driver.switch_to.active_element == element:
            return
        ActionChains(driver).send_keys(Keys.TAB).perform()
    raise AssertionError(f'{element.accessible_name!r} cannot be reached with Tab')


def test_configured_key_is_pressed_and_looks_unlike_focus(host, emulated):
    page = emulated
    host.start()
    open_panel(page, host)
    button(page, 'Configure key 3').click()
    wait(page, lambda d: inspector_open(d), message='inspector open')

    nodes = ax_nodes(page)
    assert [n for n in nodes if n[0] == 'main'], 'no main landmark'
    pressed = {name: props.get('pressed') for role, name, props in nodes
               if role == 'button' and name and name.startswith('Configure key')}
    assert len(pressed) == 15
    assert {name for name, state in pressed.items() if state == 'true'} == {'Configure key 3'}
    assert all(state == 'false' for name, state in pressed.items() if name != 'Configure key 3')

    # Focus is a ring around one control; the open inspector's key is a plate of another colour, with no ring.
    style = lambda el, prop: page.execute_script('return getComputedStyle(arguments[0])[arguments[1]]', el, prop)
    selected = button(page, 'Configure key 3')
    cell = lambda el: el.find_element(By.XPATH, '..')
    focus_by_keyboard(page, button(page, 'Configure key 4'))
    focused = button(page, 'Configure key 4')
    set_width(page, 1100)  # tall enough for the devices below the inspector
    for theme in ('light', 'dark'):
        set_theme(page, theme)
        assert style(selected, 'outlineStyle') == 'none'
        assert style(focused, 'outlineStyle') != 'none'
        assert float(style(focused, 'outlineWidth').rstrip('px')) >= 2
        plate = style(cell(selected), 'backgroundColor')
        assert plate != style(cell(focused), 'backgroundColor')
        assert style(focused, 'outlineColor') != plate
        assert style(selected, 'backgroundColor') != style(focused, 'backgroundColor')
        OUTPUT.mkdir(parents=True, exist_ok=True)
        page.save_screenshot(str(OUTPUT / f'panel-{theme}.png'))

    # Pressed again, the toggle closes the inspector.
    button(page, 'Configure key 3').click()
    wait(page, lambda d: not inspector_open(d), message='inspector closed')
    assert button(page, 'Configure key 3').get_attribute('aria-pressed') == 'false'


def test_every_control_is_reached_by_keyboard_with_visible_focus(host, page):
    host.start()
    open_panel(page, host)
    controls = page.execute_script('''
        return Array.from(document.querySelectorAll('button, input, select, textarea, a[href], iframe'))
            .filter((el) => el.checkVisibility() && !el.disabled);''')
    page.execute_script('document.activeElement.blur()')
    reached = []
    for _ in range(len(controls) + 2):
        ActionChains(page).send_keys(Keys.TAB).perform()
        active = page.switch_to.active_element
        if active.tag_name == 'body' or (reached and active == reached[0]):
            break  # past the last control
        ring = page.execute_script('''const s = getComputedStyle(arguments[0]);
            return s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2;''', active)
        assert ring, f'{active.accessible_name!r} shows no focus'
        reached.append(active)
    missing = [c.accessible_name or c.tag_name for c in controls if c not in reached]
    assert not missing, f'not reached with Tab: {missing}'


def test_signal_checkboxes_name_their_device(host, page):
    host.start()
    open_panel(page, host)
    wait(page, lambda d: len(d.find_elements(By.CSS_SELECTOR, 'input[type="checkbox"]')) == 8, message='devices')
    names = sorted(n[1] for n in ax_nodes(page) if n[0] == 'checkbox')
    assert names == sorted(f'{device} Input {k} signal' for device in ('Brelvon', 'Brelvon 2') for k in range(1, 5))
    # The name is what a person sees: the row's device name and the box's own label, both on screen.
    box = page.find_element(By.CSS_SELECTOR, 'input[data-device="2"][data-input="3"]')
    parts = [page.find_element(By.ID, i) for i in box.get_attribute('aria-labelledby').split()]
    assert all(p.is_displayed() for p in parts) and ' '.join(p.text for p in parts) == 'Brelvon 2 Input 3 signal'


def test_key_label_leaves_the_picture_whole(host, page):
    host.settings.write_text(json.dumps({'keys': {'key-1': {'showState': True}}}))
    host.start()
    open_panel(page, host)
    wait(page, lambda d: (button(d, 'Key 1').find_element(By.TAG_NAME, 'img').get_attribute('src') or '')
         .startswith('data:image/svg+xml'), message='state image')
    for width in (None, 350):
        set_width(page, width)
        boxes = page.execute_script('''
            return Array.from(document.querySelectorAll('button.key'), (key) => {
              const box = (el) => { const r = el.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]; };
              return { key: box(key), image: box(key.querySelector('img')), caption: box(key.querySelector('.caption')) };
            });''')
        assert len(boxes) == 15
        for b in boxes:
            left, top, right, bottom = b['image']
            assert right - left > 20 and abs((right - left) - (bottom - top)) < 1, 'the picture is not square'
            assert b['caption'][1] >= bottom - 0.5, 'the caption covers the picture'
            k = b['key']
            assert left >= k[0] and right <= k[2] + 0.5 and top >= k[1] and b['caption'][3] <= k[3] + 0.5
    set_width(page, None)


@pytest.mark.parametrize('theme', ['light', 'dark'])
def test_text_contrast(host, emulated, theme):
    page = emulated
    set_theme(page, theme)
    host.start()
    open_panel(page, host)
    # Every state a text can be shown in: the key being configured, an unplugged device, and the host gone.
    button(page, 'Configure key 2').click()
    wait(page, lambda d: inspector_open(d), message='inspector open')
    button(page, 'Unplug Brelvon 2').click()
    wait(page, lambda d: button(d, 'Plug in Brelvon 2'), message='device unplugged')
    seen = page.execute_script(CONTRAST)
    host.stop()
    wait(page, lambda d: d.find_element(By.CSS_SELECTOR, '[role="status"]').is_displayed(), message='status shown')
    seen += page.execute_script(CONTRAST)
    texts = {s['text'] for s in seen}
    assert {'Key 2', 'Configure key 2', 'Brelvon 2', 'Input 1 signal'} <= texts
    assert any(t.lower().startswith('disconnected') for t in texts)
    low = [(s['text'], round(s['ratio'], 2)) for s in seen if s['ratio'] < 4.5]
    assert not low, f'{theme} theme: text below 4.5:1: {low}'
    # The host is gone on purpose: its failed reconnection attempts are the only errors allowed.
    page.get('about:blank')
    errors = [e for e in page.get_log('browser') if e['level'] == 'SEVERE' and 'WebSocket' not in e['message']]
    assert not errors, errors


@pytest.mark.parametrize('lang', LANGUAGES)
def test_panel_texts_fit_in_every_language(host, emulated, lang):
    page = emulated
    host.start(options=('--language', lang))
    open_panel(page, host, first_key=LANGUAGES[lang])
    page.find_elements(By.CSS_SELECTOR, 'button.configure')[14].click()
    wait(page, lambda d: inspector_open(d), message='inspector open')
    for width in (None, 350):
        set_width(page, width)
        cut = page.execute_script(CUT_TEXTS)
        assert not cut, f'{lang} at {width or "full"} width: {cut}'
    OUTPUT.mkdir(parents=True, exist_ok=True)
    page.save_screenshot(str(OUTPUT / f'panel-350-{lang}.png'))


# The state image the plug-in draws is 144 units wide; the layout's name has its margins as the places do.
KEY_TEXT_MEASURE = '''
const svg = new DOMParser().parseFromString(arguments[0], 'image/svg+xml').documentElement;
const holder = document.createElement('div');
holder.append(document.importNode(svg, true));
document.body.append(holder);
const text = holder.querySelector('text.layout');
const box = text.getBBox();
holder.remove();
return { text: text.textContent, left: box.x, right: box.x + box.width };
'''


@pytest.mark.parametrize('lang', LANGUAGES)
def test_state_key_layout_names_fit_the_key(host, page, lang):
    """Both layouts' names, as the plug-in draws them on a key in each language, whole and inside the key."""
    devices = json.loads(json.dumps(DEVICES))
    devices['devices'][0]['layout'] = 0
    (host.folder / 'devices.json').write_text(json.dumps(devices))
    host.settings.write_text(json.dumps({'keys': {
        'key-1': {'showState': True, 'currentDevice': 'Brelvon'},
        'key-2': {'showState': True, 'currentDevice': 'Brelvon 2'}}}))
    host.start(options=('--language', lang))
    open_panel(page, host, first_key=LANGUAGES[lang])
    prefix = 'data:image/svg+xml;base64,'

    def known_state(d, name):
        # Until the device has been read, the key shows an image without a layout name.
        src = button(d, name).find_element(By.TAG_NAME, 'img').get_attribute('src') or ''
        svg = base64.b64decode(src[len(prefix):]).decode() if src.startswith(prefix) else ''
        return svg if 'class="state"' in svg else None

    drawn = {}
    for n in (1, 2):
        name = LANGUAGES[lang].replace('15', str(n))
        svg = wait(page, lambda d: known_state(d, name), message=f'state image on key {n}')
        drawn[n] = page.execute_script(KEY_TEXT_MEASURE, svg)
    problems = [d for d in drawn.values() if d['text'].endswith('\u2026') or d['left'] < 4 or d['right'] > 140]
    assert not problems, f'{lang}: {problems}'
