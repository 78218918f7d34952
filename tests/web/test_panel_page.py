"""The development host's panel page as a person uses it: what marks the key being configured, the names a
screen reader hears, the keyboard, and texts that fit in every language."""
import json

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from conftest import (DEVICES, LANGUAGES, OUTPUT, button, key_svg, open_inspector, open_panel, options, set_theme,
                      set_width, wait)

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


def ax_nodes(driver):
    """The page's accessibility tree as a screen reader gets it: (role, name, {property: value})."""
    tree = driver.execute_cdp_cmd('Accessibility.getFullAXTree', {})['nodes']
    return [(n.get('role', {}).get('value'), n.get('name', {}).get('value'),
             {p['name']: p['value'].get('value') for p in n.get('properties', [])})
            for n in tree if not n.get('ignored')]


def focus_by_keyboard(driver, element):
    """Tabs through the page until `element` has focus, so that it shows as focused from the keyboard."""
    for _ in range(80):
        if driver.switch_to.active_element == element:
            return
        ActionChains(driver).send_keys(Keys.TAB).perform()
    raise AssertionError(f'{element.accessible_name!r} cannot be reached with Tab')


def test_configured_key_is_pressed_and_looks_unlike_focus(host, page):
    open_panel(page, host)
    open_inspector(page, 3)
    page.switch_to.default_content()

    nodes = ax_nodes(page)
    pressed = {name: props.get('pressed') for role, name, props in nodes
               if role == 'button' and name and name.startswith('Configure key')}
    assert pressed == {f'Configure key {k}': 'true' if k == 3 else 'false' for k in range(1, 16)}

    # Focus is a ring (every control's ring is checked below); the open inspector's key is a plate of another
    # colour, with no ring.
    style = lambda el, prop: page.execute_script('return getComputedStyle(arguments[0])[arguments[1]]', el, prop)
    selected = button(page, 'Configure key 3')
    cell = lambda el: el.find_element(By.XPATH, '..')
    focus_by_keyboard(page, button(page, 'Configure key 4'))
    focused = button(page, 'Configure key 4')
    set_width(page, 1100)  # tall enough for the devices below the inspector
    OUTPUT.mkdir(parents=True, exist_ok=True)
    page.save_screenshot(str(OUTPUT / 'panel.png'))
    for theme in ('light', 'dark'):
        set_theme(page, theme)
        assert style(selected, 'outlineStyle') == 'none'
        plate = style(cell(selected), 'backgroundColor')
        assert plate != style(cell(focused), 'backgroundColor')
        assert style(focused, 'outlineColor') != plate
    set_width(page, 350, height=1400)
    page.save_screenshot(str(OUTPUT / 'panel-350-dark.png'))

    # Pressed again, the toggle closes the inspector.
    button(page, 'Configure key 3').click()
    wait(page, lambda d: not any(f.is_displayed() for f in d.find_elements(By.TAG_NAME, 'iframe')),
         message='inspector closed')
    assert button(page, 'Configure key 3').get_attribute('aria-pressed') == 'false'


def test_signal_checkboxes_are_named_and_every_control_is_reached_by_keyboard_with_visible_focus(host, page):
    open_panel(page, host)
    wait(page, lambda d: len(d.find_elements(By.CSS_SELECTOR, 'input[type="checkbox"]')) == 8, message='devices')
    names = sorted(n[1] for n in ax_nodes(page) if n[0] == 'checkbox')
    assert names == sorted(f'{device} Input {k} signal' for device in ('Brelvon', 'Brelvon 2') for k in range(1, 5))

    # Tab reaches every control, each with a ring of at least 2 px.
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


@pytest.mark.parametrize('lang', LANGUAGES)
def test_panel_texts_fit_in_every_language(host, page, lang):
    """Also leaves screenshots of the inspector alone at 350 px in each language and theme."""
    _, _, title, device = LANGUAGES[lang]
    open_panel(page, host, lang)
    open_inspector(page, 15, lang)
    wait(page, lambda d: len(options(d, device)) == 2, message='devices')
    wait(page, lambda d: d.find_element(By.ID, 'preview-state').get_attribute('hidden') is not None, message='picture')
    page.switch_to.default_content()
    for width in (None, 350):
        set_width(page, width)
        cut = page.execute_script(CUT_TEXTS)
        assert not cut, f'{lang} at {width or "full"} width: {cut}'
    inspector = page.find_element(By.CSS_SELECTOR, f'iframe[title="{title}"]')
    page.execute_script('arguments[0].style.width = "350px"; arguments[0].style.height = "960px";', inspector)
    # A window tall enough for the whole frame: an element's screenshot is cut at the window's edge.
    set_width(page, 1100, height=2200)
    page.execute_script('arguments[0].scrollIntoView()', inspector)
    OUTPUT.mkdir(parents=True, exist_ok=True)
    for theme, suffix in ((None, ''), ('dark', '-dark')):
        set_theme(page, theme)
        inspector.screenshot(str(OUTPUT / f'inspector-350-{lang}{suffix}.png'))


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
def test_state_keys_show_whole_layout_names_and_captions_leave_pictures_whole(host, page, lang):
    """Both layouts' names, as the plug-in draws them on a key in each language, whole and inside the key; every
    key's picture square and whole above its caption, at full width and at 350 px."""
    devices = [{**DEVICES['devices'][0], 'layout': 0}, DEVICES['devices'][1]]
    (host.folder / 'devices.json').write_text(json.dumps({**DEVICES, 'devices': devices}))
    host.settings.write_text(json.dumps({'keys': {
        'key-1': {'showState': True, 'currentDevice': 'Brelvon'},
        'key-2': {'showState': True, 'currentDevice': 'Brelvon 2'}}}))
    open_panel(page, host, lang)
    # Until the device has been read, the key shows an image without a layout name.
    known_state = lambda d, name: (svg := key_svg(d, name)) and 'class="state"' in svg and svg

    drawn = {}
    for n in (1, 2):
        name = LANGUAGES[lang][0].format(n=n)
        svg = wait(page, lambda d: known_state(d, name), message=f'state image on key {n}')
        drawn[n] = page.execute_script(KEY_TEXT_MEASURE, svg)
    problems = [d for d in drawn.values() if d['text'].endswith('\u2026') or d['left'] < 4 or d['right'] > 140]
    assert not problems, f'{lang}: {problems}'
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
