"""The inspector's input names, layout pictures, step list, take and revert, lock note and key picture, in each
language in a 350 px frame and clean under axe. What the page sends is read at its WebSocket, and the plug-in's
answers to "takeFromDevice" and its lock reports are played into it there (the page is not changed for it)."""
import json

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from conftest import (LANGUAGES, OUTPUT, REPO, button, control, frame, open_inspector, open_panel, options, set_width,
                      wait)
from test_inspector_axe import axe, check
from test_pages import LAYOUT, SOURCES, layout_data, sources_data
from test_panel_page import CUT_TEXTS

CYCLE = 'com.brelvon.multiview.cycle'
LOCK = 'com.brelvon.multiview.lock'

# Installed in every inspector page before its own scripts. window.sentSettings: each "setSettings" payload the
# page sent; a "sendToPlugin" whose method is held goes to window.heldForPlugin instead of the plug-in;
# window.fromPlugin(payload) hands the page a "sendToPropertyInspector" as if the plug-in had sent it; while
# window.holdWriteBacks is set, the settings the plug-in writes back do not reach the page, so the form shows
# what the page made of its own edits alone.
FAKE_PLUGIN = '''
if (location.pathname.includes('/inspector/')) {
  const held = ['takeFromDevice'];
  const sockets = [];
  window.sentSettings = [];
  window.heldForPlugin = [];
  window.holdWriteBacks = false;
  const Base = window.WebSocket;
  window.WebSocket = class extends Base {
    constructor(...args) {
      super(...args);
      sockets.push(this);
    }
    set onmessage(handler) {
      super.onmessage = (event) => {
        if (window.holdWriteBacks && JSON.parse(event.data).event === 'didReceiveSettings') return;
        handler(event);
      };
    }
    get onmessage() { return super.onmessage; }
    send(data) {
      const message = JSON.parse(data);
      if (message.event === 'setSettings') window.sentSettings.push(message.payload);
      if (message.event === 'sendToPlugin' && held.includes(message.payload?.method)) {
        window.heldForPlugin.push(message.payload);
        return undefined;
      }
      return super.send(data);
    }
  };
  window.fromPlugin = (payload) => {
    const data = JSON.stringify({ event: 'sendToPropertyInspector', payload });
    for (const socket of sockets) socket.dispatchEvent(new MessageEvent('message', { data }));
  };
}'''


@pytest.fixture
def inspector(page):
    added = page.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': FAKE_PLUGIN})
    yield page
    page.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', {'identifier': added['identifier']})


def sent(driver):
    """The settings the page sent last."""
    return driver.execute_script('return window.sentSettings.at(-1)')


def texts(lang):
    table = {}
    for code in ('en', lang):
        table.update(json.loads((REPO / 'bundle' / f'{code}.json').read_text(encoding='utf-8'))['Localization'])
    return lambda key, **values: table[key].format(**values)


def stored(host, key):
    return json.loads(host.settings.read_text())['keys'][f'key-{key}']


def open_form(driver, host, lang, key):
    """Opens key `key`'s inspector and returns its settings as the page got them; from then on the page sees no
    write-back of the plug-in."""
    t = texts(lang)
    open_panel(driver, host, lang)
    open_inspector(driver, key, lang)
    wait(driver, lambda d: control(d, t('inspector.device')).is_enabled() and len(options(d, t('inspector.device'))) == 2,
         message='the form')
    driver.execute_script('window.holdWriteBacks = true')
    return stored(host, key)


def narrow(driver, lang, name):
    """The inspector's frame 350 px wide: nothing spills or is cut; a screenshot of it is left as `name`."""
    driver.switch_to.default_content()
    inspector = driver.find_element(By.CSS_SELECTOR, f'iframe[title="{LANGUAGES[lang][2]}"]')
    # A window tall enough for the whole frame: an element's screenshot is cut at the window's edge.
    set_width(driver, 1100, height=2400)
    driver.execute_script('arguments[0].style.width = "350px"; arguments[0].style.height = "2000px"', inspector)
    frame(driver, lang)
    wait(driver, lambda d: d.execute_script('return document.documentElement.clientWidth') <= 350, message='narrow')
    assert driver.execute_script('return document.documentElement.scrollWidth <= document.documentElement.clientWidth')
    # The page's heading is for screen readers alone, clipped on purpose.
    assert [c for c in driver.execute_script(CUT_TEXTS) if 'visually-hidden' not in c] == []
    driver.switch_to.default_content()
    OUTPUT.mkdir(parents=True, exist_ok=True)
    inspector.screenshot(str(OUTPUT / f'{name}-350-{lang}.png'))
    frame(driver, lang)


def step_labels(driver):
    return driver.execute_script('''return Array.from(document.querySelectorAll('input[name="step"]'))
        .filter((r) => r.checkVisibility()).map((r) => [r.labels[0].textContent, r.checked]);''')


@pytest.mark.parametrize('lang', LANGUAGES)
def test_names_layout_pictures_steps_picture_and_revert(host, inspector, lang):
    page, t = inspector, texts(lang)
    host.settings.write_text(json.dumps({'keys': {}, 'actions': {'key-2': CYCLE}}))
    opened = open_form(page, host, lang, 2)

    # Names: typed (a tab that comes with pasted text goes), sent in the entry, shown in the lists.
    name3 = control(page, t('inspector.inputName', n=3))
    name3.send_keys('Cam')
    page.execute_script("document.execCommand('insertText', false, 'e\\tra')")
    assert name3.get_attribute('value') == 'Camera' and name3.get_attribute('maxlength') == '32'
    assert sent(page)['devices'][0]['inputNames'] == ['', '', 'Camera', '']
    place = t('inspector.place', n=1)
    assert options(page, place) == [t('inspector.input', n=1), t('inspector.input', n=2),
                                    t('inspector.inputNamedNoSignal', n=3, name='Camera'), t('inspector.input', n=4)]

    # Layout pictures: one a known layout, beside the list; choosing one is a layout edit.
    quarters, full = t('layout.100.short'), t('layout.0.short')
    assert page.execute_script('''return Array.from(document.querySelectorAll('.layout-choice'),
        (b) => [b.textContent, b.querySelectorAll('svg[aria-hidden="true"] rect').length])''') == [[quarters, 4], [full, 1]]
    assert button(page, quarters).get_attribute('aria-pressed') == 'true'
    mark = host.trace.mark()
    button(page, full).click()
    host.trace.wait_for_set(mark, [(LAYOUT, layout_data(0))])
    assert Select(control(page, t('inspector.layout'))).first_selected_option.text == t('layout.0')
    assert button(page, full).get_attribute('aria-pressed') == 'true'

    # Steps: the form's layout and places added, in order; chosen, which shows on the device; moved.
    assert page.find_element(By.XPATH, f'//p[normalize-space()="{t("inspector.stepsNone")}"]').is_displayed()
    button(page, t('inspector.stepAdd')).click()
    Select(control(page, t('inspector.layout'))).select_by_visible_text(t('layout.100'))
    Select(control(page, t('inspector.place', n=4))).select_by_visible_text(t('inspector.input', n=2))
    button(page, t('inspector.stepAdd')).click()
    camera = t('inspector.inputNamed', n=3, name='Camera')
    first = t('inspector.stepText', n=1, layout=full, inputs='1')
    second = t('inspector.stepText', n=2, layout=quarters, inputs=f'1, 2, {camera}, 2')
    assert step_labels(page) == [[t('inspector.stepNext', step=first), False], [second, False]]
    entry = sent(page)['devices'][0]
    assert entry['steps'] == [{'multiViewLayout': 0, 'multiViewSources': [1, 2, 3, 4]},
                              {'multiViewLayout': 100, 'multiViewSources': [1, 2, 3, 2]}] and entry['step'] == 0
    assert not button(page, t('inspector.stepRemove')).is_enabled()
    mark = host.trace.mark()
    page.find_element(By.ID, 'step-1').click()
    host.trace.wait_for_set(mark, [(LAYOUT, layout_data(0)), (SOURCES, sources_data([1, 2, 3, 4]))])
    assert Select(control(page, t('inspector.place', n=4))).first_selected_option.text == t('inspector.input', n=4)
    button(page, t('inspector.stepDown')).click()
    # The chosen step moves and stays chosen; the next press still applies the step it applied.
    assert step_labels(page) == [
        [t('inspector.stepText', n=1, layout=quarters, inputs=f'1, 2, {camera}, 2'), False],
        [t('inspector.stepNext', step=t('inspector.stepText', n=2, layout=full, inputs='1')), True]]
    assert sent(page)['devices'][0]['step'] == 1 and not button(page, t('inspector.stepDown')).is_enabled()
    assert page.switch_to.active_element.text == t('inspector.stepUp')
    button(page, t('inspector.stepRemove')).click()
    assert step_labels(page) == [[t('inspector.stepNext', step=t('inspector.stepText', n=1, layout=quarters,
                                                                  inputs=f'1, 2, {camera}, 2')), False]]
    assert sent(page)['devices'][0]['step'] == 0 and page.switch_to.active_element.text == t('inspector.stepAdd')

    # Key picture: the rate offered once there is a picture, written only when chosen; "none" takes the member
    # away again.
    picture = control(page, t('inspector.keyPicture'))
    assert not page.find_element(By.XPATH, f'//label[normalize-space()="{t("inspector.pictureRate")}"]').is_displayed()
    Select(picture).select_by_visible_text(t('inspector.keyPicture.live'))
    rate = control(page, t('inspector.pictureRate'))
    assert Select(rate).first_selected_option.text == '2'
    assert options(page, t('inspector.pictureRate')) == [str(n) for n in range(1, 11)]
    assert sent(page)['keyPicture'] == 'live' and 'pictureRate' not in sent(page)
    Select(rate).select_by_visible_text('5')
    assert sent(page)['pictureRate'] == 5
    narrow(page, lang, 'inspector-steps')
    check(f'inspector names and steps {lang}', axe(page))
    Select(control(page, t('inspector.keyPicture'))).select_by_visible_text(t('inspector.keyPicture.none'))
    assert 'keyPicture' not in sent(page)

    # Revert: the settings as they were when the page opened, on the device too; then nothing to revert.
    mark = host.trace.mark()
    button(page, t('inspector.revert')).click()
    assert sent(page) == opened
    host.trace.wait_for_set(mark, [(LAYOUT, layout_data(100)), (SOURCES, sources_data([1, 2, 3, 4]))])
    assert not button(page, t('inspector.revert')).is_enabled() and step_labels(page) == []
    assert control(page, t('inspector.inputName', n=3)).get_attribute('value') == ''


@pytest.mark.parametrize('lang', LANGUAGES)
def test_take_what_the_device_shows_and_the_lock_note(host, inspector, lang):
    page, t = inspector, texts(lang)
    host.settings.write_text(json.dumps({'keys': {}, 'actions': {'key-3': LOCK}}))
    opened = open_form(page, host, lang, 1)
    take = button(page, t('inspector.take'))

    # Taken: the form shows the settings the plug-in wrote back, and the next edit starts from them (the names'
    # stamp among them, as it came).
    take.click()
    assert page.execute_script('return window.heldForPlugin') == [{'method': 'takeFromDevice'}]
    devices = [{**opened['devices'][0], 'multiViewLayout': 0, 'multiViewSources': [4, 3, 2, 1], 'inputNamesStamp': 5},
               opened['devices'][1]]
    page.execute_script('window.fromPlugin({takenFromDevice: {settings: arguments[0]}})', {**opened, 'devices': devices})
    assert Select(control(page, t('inspector.layout'))).first_selected_option.text == t('layout.0')
    assert Select(control(page, t('inspector.place', n=1))).first_selected_option.text == t('inspector.input', n=4)
    mark = host.trace.mark()
    Select(control(page, t('inspector.place', n=2))).select_by_visible_text(t('inspector.input', n=1))
    assert sent(page)['devices'][0] == {**devices[0], 'multiViewSources': [4, 1, 2, 1]}
    host.trace.wait_for_set(mark, [(SOURCES, sources_data([4, 1, 2, 1]))])

    # Not taken: said, and tied to the button; the next edit clears it.
    take.click()
    page.execute_script('window.fromPlugin({takenFromDevice: {error: "unavailable"}})')
    error = page.find_element(By.ID, 'take-error')
    assert error.text == t('inspector.takeUnavailable') and error.get_attribute('role') == 'alert'
    assert 'take-error' in take.get_attribute('aria-describedby').split()

    # Locked: said under the device while its device is in the list, in a 350 px frame, clean under axe.
    locked_note = lambda d: [p.text for p in d.find_elements(By.CLASS_NAME, 'device-locked') if p.is_displayed()]
    page.execute_script('window.fromPlugin({deviceLocks: {locked: ["Brelvon 2"]}})')
    assert locked_note(page) == []
    page.execute_script('window.fromPlugin({deviceLocks: {locked: ["Brelvon 2", "Brelvon"]}})')
    assert locked_note(page) == [t('inspector.locked')]
    narrow(page, lang, 'inspector-take-lock')
    check(f'inspector take and lock {lang}', axe(page))
    Select(control(page, t('inspector.place', n=2))).select_by_visible_text(t('inspector.input', n=2))
    assert error.text == ''
    page.execute_script('window.fromPlugin({deviceLocks: {locked: []}})')
    assert locked_note(page) == []

    # A lock key's page has its device and nothing else.
    open_inspector(page, 3, lang)
    wait(page, lambda d: len(options(d, t('inspector.device'))) == 2, message='the lock key form')
    shown = page.execute_script('''return Array.from(document.querySelectorAll('label, button, input, select'))
        .filter((e) => e.checkVisibility()).map((e) => e.textContent);''')
    assert shown == [t('inspector.device'), 'BrelvonBrelvon 2']


def test_hostile_names_stay_text_and_apart_on_the_lists_and_the_picture(host, inspector):
    page = inspector
    open_form(page, host, 'en', 4)
    markup = '<img id="injected" src="x" onerror="window.injected=1">'
    typed = {1: markup, 2: 'x' * 10000, 3: '\u202e\u05de\u05e6\u0000\u05dc\u05de\u05d4'}
    for n, text in typed.items():
        control(page, f'Name of input {n}').click()
        page.execute_script('document.execCommand("insertText", false, arguments[0])', text)
    hebrew = '\u05de\u05e6\u05dc\u05de\u05d4'
    names = [markup[:32], 'x' * 32, hebrew, '']
    assert sent(page)['devices'][0]['inputNames'] == names
    # Right-to-left letters are set apart, so the words around them keep their places.
    assert options(page, 'Place 1') == [f'1 · {markup[:32]}', f'2 · {"x" * 32}', f'3 · \u2068{hebrew}\u2069 (no signal)',
                                        'Input 4']
    # Over the picture: each named place its name, input 3's place its name and no signal.
    marks = lambda d: d.execute_script(
        "return Array.from(document.querySelectorAll('#preview-marks > *'), (m) => [m.className, m.textContent])")
    wait(page, lambda d: marks(d) == [['place-name', markup[:32]], ['place-name', 'x' * 32],
                                      ['no-signal-mark', f'\u2068{hebrew}\u2069: no signal']], message='marks')
    assert control(page, 'Name of input 3').get_attribute('value') == hebrew
    assert not page.find_elements(By.ID, 'injected') and page.execute_script('return window.injected') is None
