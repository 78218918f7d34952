"""The property inspector as a person uses it: a preview that tells the truth, lists that follow the device,
and controls that say what they do in the page's language."""
import base64
import json

from selenium.common.exceptions import NoSuchFrameException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from conftest import DEVICES, button, control, frame, open_inspector, open_panel, options, wait

PNG = base64.b64decode('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGP4z8DwHwAFAAH/iZk9HQAAAABJRU5ErkJggg==')


def preview_state(driver):
    """The text said over the preview ('' when hidden) and the picture's opacity."""
    return driver.execute_script('''
        const note = document.getElementById('preview-state');
        const canvas = document.querySelector('canvas[role="img"]');
        return [note.hidden ? '' : note.textContent, getComputedStyle(canvas).opacity];''')


def graph_states(host, since=0):
    return [l['state'] for l in host.trace.lines()[since:] if l.get('op') == 'state' and l['node'].startswith('Brelvon HDMI-')]


def test_signal_and_absent_devices_are_marked_and_the_preview_stops_while_hidden_or_away(host, page):
    open_panel(page, host)
    open_inspector(page, 1)
    note = lambda d: d.find_element(By.CLASS_NAME, 'device-note')
    wait(page, lambda d: options(d, 'Device') == ['Brelvon', 'Brelvon 2'] and preview_state(d) == ['', '1'],
         message='both devices, and a picture with nothing said over it')

    # A signal lost and one found while the inspector is open.
    page.switch_to.default_content()
    page.find_element(By.CSS_SELECTOR, 'input[data-device="1"][data-input="1"]').click()
    page.find_element(By.CSS_SELECTOR, 'input[data-device="1"][data-input="3"]').click()
    frame(page)
    wait(page, lambda d: options(d, 'Place 1') == ['Input 1 (no signal)', 'Input 2', 'Input 3', 'Input 4'],
         message='marks follow the signal')

    # Headless Chromium keeps the frame visible: the page is told it was hidden as a browser tells it.
    visibility = '''Object.defineProperty(document, 'visibilityState', {value: arguments[0], configurable: true});
                    document.dispatchEvent(new Event('visibilitychange'));'''
    mark = host.trace.mark()
    page.execute_script(visibility, 'hidden')
    wait(page, lambda d: 'stopped' in graph_states(host, mark), message='graph stopped while hidden')
    mark = host.trace.mark()
    page.execute_script(visibility, 'visible')
    wait(page, lambda d: 'running' in graph_states(host, mark), message='graph running again when shown')

    # Another device away is marked in the list; the previewed one away is said over a dimmed picture.
    page.switch_to.default_content()
    button(page, 'Unplug Brelvon 2').click()
    frame(page)
    wait(page, lambda d: options(d, 'Device') == ['Brelvon', 'Brelvon 2 (not connected)'], message='absent device marked')
    assert not note(page).is_displayed() and preview_state(page) == ['', '1']
    page.switch_to.default_content()
    button(page, 'Unplug Brelvon').click()
    frame(page)
    wait(page, lambda d: preview_state(d)[0] == 'not connected' and float(preview_state(d)[1]) < 0.5,
         message='not connected over a dimmed picture')
    # An absent device stays selectable, and says why its edits do not show.
    Select(control(page, 'Device')).select_by_visible_text('Brelvon 2 (not connected)')
    wait(page, lambda d: note(d).text.startswith('Brelvon 2 is not connected.'), message='status line')

    # The panel redraws on every change: each button is found as it is now.
    page.switch_to.default_content()
    for name in ('Brelvon', 'Brelvon 2'):
        wait(page, lambda d: button(d, f'Plug in {name}').click() or True, message=f'{name} plugged in')

    def back(d):
        try:
            frame(d)
            return options(d, 'Device') == ['Brelvon', 'Brelvon 2'] and not note(d).is_displayed() \
                and preview_state(d) == ['', '1']
        except (StaleElementReferenceException, NoSuchFrameException):
            return False
    wait(page, back, message='devices and picture back')


def test_texts_follow_the_language_with_english_fallback(host, page):
    german = json.loads((host.bundle / 'de.json').read_text(encoding='utf-8'))
    del german['Localization']['inspector.preview']
    (host.bundle / 'de.json').write_text(json.dumps(german), encoding='utf-8')
    # A device that offers no format the preview takes never makes a picture.
    (host.folder / 'devices.json').write_text(json.dumps({**DEVICES, 'devices': [{'number': 1, 'formats': ['RGB32']}]}))
    open_panel(page, host, 'de')
    open_inspector(page, 1, 'de')
    control(page, 'Platz 4')
    assert page.find_element(By.ID, 'preview-label').text == 'Preview'
    wait(page, lambda d: preview_state(d)[0] == 'Warten auf das Bild…', message='waiting, in German')


def test_key_image_and_the_no_signal_mark_in_the_page_language(host, page):
    open_panel(page, host, 'de')
    open_inspector(page, 2, 'de')

    choose = page.find_element(By.ID, 'icon-choose')
    assert choose.text == 'Bild wählen…' and choose.accessible_name == 'Tastenbild Bild wählen…'
    assert page.find_element(By.ID, 'icon-name').text == 'kein Bild'
    assert not page.find_elements(By.XPATH, '//button[normalize-space()="Entfernen"]')[0].is_displayed()
    described = choose.get_attribute('aria-describedby').split()
    # The browser's file control is hidden behind the page's own button; the test hands it files directly.
    picker = page.find_element(By.CSS_SELECTOR, 'input[type="file"]')

    # Not an image: said at once (an alert) and tied to the button.
    text = host.folder / 'notes.txt'
    text.write_text('not a picture')
    picker.send_keys(str(text))
    error = wait(page, lambda d: d.find_element(By.ID, 'icon-error').text == 'Diese Datei ist kein Bild.'
                 and d.find_element(By.ID, 'icon-error'), message='error')
    assert error.get_attribute('role') == 'alert' and 'icon-error' in described

    png = host.folder / 'Schlüssel.png'
    png.write_bytes(PNG)
    picker.send_keys(str(png))
    wait(page, lambda d: d.find_element(By.ID, 'icon-name').text == 'Schlüssel.png', message='file name')
    assert page.find_element(By.ID, 'icon-error').text == ''
    key_image = lambda d: button(d, 'Taste 2').find_element(By.TAG_NAME, 'img').get_attribute('src') or ''
    page.switch_to.default_content()
    wait(page, lambda d: key_image(d).startswith('data:image/png;base64,'), message='key image on the panel')


    # In the narrowest frame the no-signal mark stays visible in a closed list: the chosen text's width against
    # the room the list gives it (its arrow takes about 24 px).
    page.execute_script('document.querySelector(\'iframe[title="Eigenschaften"]\').style.width = "260px"')
    frame(page, 'de')
    Select(control(page, 'Platz 1')).select_by_visible_text('Eingang 3 (kein Signal)')
    room = page.execute_script('''
        const s = arguments[0], style = getComputedStyle(s), g = document.createElement('canvas').getContext('2d');
        g.font = style.font;
        const text = g.measureText(s.options[s.selectedIndex].text).width;
        return s.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) - 24 - text;''',
                               control(page, 'Platz 1'))
    assert room >= 0, f'the closed list cuts its text by {-room:.0f} px'


def test_a_device_that_is_not_offered_is_named_as_text_and_the_detected_ones_offered(host, page):
    markup = '<img id="injected" src="x" onerror="window.injected=1">'
    odd = markup + ' ' + 'x' * 300 + ' <b>end</b>'
    host.settings.write_text(json.dumps({'keys': {'key-3': {'currentDevice': odd, 'icon': markup}}}))
    open_panel(page, host)
    open_inspector(page, 3)
    note = wait(page, lambda d: d.find_element(By.ID, 'device-missing-note'), message='note')
    wait(page, lambda d: note.is_displayed() and 'not offered here' in note.text, message='the sentence')
    shown = note.find_element(By.CLASS_NAME, 'device-name')
    assert shown.get_attribute('title') == odd and shown.text.startswith('<img id="inject')
    wait(page, lambda d: options(d, 'Device')[1:] == ['Brelvon', 'Brelvon 2'], message='detected devices offered')
    assert options(page, 'Device')[0] == shown.text + ' (not found)'
    Select(control(page, 'Device')).select_by_visible_text('Brelvon 2')
    wait(page, lambda d: not d.find_element(By.ID, 'device-missing-note').is_displayed(), message='note gone')
    wait(page, lambda d: control(d, 'Layout').is_displayed(), message='the device form')
    for document in (page, page.switch_to.default_content() or page):  # the inspector, then the panel
        assert not document.find_elements(By.ID, 'injected')
        assert document.execute_script('return window.injected') is None
