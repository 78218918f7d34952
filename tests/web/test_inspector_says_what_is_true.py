"""The property inspector says only what is true: a device that sends no picture, inputs without signal on the
picture, files that are no images, layout numbers it cannot take, devices listed once, names that cannot pass
for others, no picture of a device the settings do not name."""
import json

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from conftest import DEVICES, LANGUAGES, button, control, frame, open_inspector, open_panel, options, wait
from test_inspector_person import preview_state
from test_pages import BLUE, GREEN, LAYOUT, RED, WHITE, close_to, preview

NO_PICTURE = {'en': 'no picture from this device', 'de': 'kein Bild von diesem Gerät',
              'fr': 'aucune image de cet appareil'}


@pytest.mark.parametrize('lang', LANGUAGES)
def test_a_device_that_sends_no_picture_says_so(host, page, lang):
    # It offers no format the preview takes.
    (host.folder / 'devices.json').write_text(json.dumps({**DEVICES, 'devices': [{'number': 1, 'formats': ['RGB32']}]}))
    open_panel(page, host, lang)
    open_inspector(page, 1, lang)
    wait(page, lambda d: preview_state(d)[0] == NO_PICTURE[lang], timeout=20, message='no picture, said')
    canvas = page.find_element(By.CSS_SELECTOR, 'canvas[role="img"]')
    described = [page.find_element(By.ID, i).get_attribute('textContent')
                 for i in canvas.get_attribute('aria-describedby').split()]
    assert NO_PICTURE[lang] in described


def marks(driver):
    """The no-signal marks over the picture: their text and where they lie on it, as fractions of it."""
    return driver.execute_script('''
        const c = document.querySelector('canvas[role="img"]').getBoundingClientRect();
        return Array.from(document.querySelectorAll('#preview-marks > *'), (m) => {
          const r = m.getBoundingClientRect();
          return [m.textContent, Math.round((r.left - c.left) / c.width * 2), Math.round((r.top - c.top) / c.height * 2)];
        });''')


def test_an_input_without_signal_is_marked_where_it_is_on_the_picture(host, page):
    open_panel(page, host)
    open_inspector(page, 1)
    # Device 1's input 3 has no signal: place 3, the lower left quarter.
    wait(page, lambda d: preview_state(d)[0] == '' and marks(d) == [['Input 3: no signal', 0, 1]],
         message='input 3 marked')
    page.switch_to.default_content()
    page.find_element(By.CSS_SELECTOR, 'input[data-device="1"][data-input="3"]').click()
    page.find_element(By.CSS_SELECTOR, 'input[data-device="1"][data-input="2"]').click()
    frame(page)
    wait(page, lambda d: marks(d) == [['Input 2: no signal', 1, 0]], message='the marks follow the signal')
    # Place 1 full frame: only what is on the picture is marked.
    Select(control(page, 'Layout')).select_by_visible_text('Place 1 full frame')
    wait(page, lambda d: marks(d) == [], message='input 2 is off the picture')
    Select(control(page, 'Place 1')).select_by_visible_text('Input 2 (no signal)')
    wait(page, lambda d: marks(d) == [['Input 2: no signal', 0, 0]], message='the whole picture marked')


def test_a_key_image_must_decode_as_an_image(host, page):
    open_panel(page, host)
    open_inspector(page, 2)
    wait(page, lambda d: control(d, 'Layout').is_enabled(), message='the form')
    picker = page.find_element(By.CSS_SELECTOR, 'input[type="file"]')
    for name, content in (('notes.png', b'not a picture'), ('half.png', b'\x89PNG\r\n\x1a\n' + b'\0' * 40)):
        fake = host.folder / name
        fake.write_bytes(content)
        picker.send_keys(str(fake))
        wait(page, lambda d: d.find_element(By.ID, 'icon-error').text == 'This file is not an image.',
             message=f'{name} refused')
        assert page.find_element(By.ID, 'icon-name').text == 'no image'
        stored = json.loads(host.settings.read_text()).get('keys', {}).get('key-2', {}) if host.settings.exists() else {}
        assert stored.get('icon', '') == ''
        page.execute_script("document.getElementById('icon-error').textContent = ''")


def test_a_layout_number_that_cannot_be_taken_is_marked_and_not_kept(host, page):
    open_panel(page, host)
    open_inspector(page, 1)
    number = control(page, 'Layout number')
    wait(page, lambda d: number.get_attribute('value') == '100' and number.is_enabled(), message='the form')
    message = 'A layout number is a whole number from 0 to 4294967295; the number entered was not taken.'
    for typed in ('1.5', '4294967296', '-1'):
        mark = host.trace.mark()
        # Typed over what the field holds (clearing it would leave it, and it would show the layout again).
        number.send_keys(Keys.CONTROL + 'a', Keys.NULL, typed, Keys.ENTER)
        wait(page, lambda d: number.get_attribute('aria-invalid') == 'true', message=f'{typed} marked invalid')
        error = page.find_element(By.ID, number.get_attribute('aria-describedby'))
        assert error.text == message and error.get_attribute('role') == 'alert'
        # Left, the field shows the layout in effect again, the one the list shows; the device got nothing.
        number.send_keys(Keys.TAB)
        wait(page, lambda d: number.get_attribute('value') == '100' and number.get_attribute('aria-invalid') == 'false',
             message='the layout in effect back')
        assert Select(control(page, 'Layout')).first_selected_option.text == 'Four places (2×2)'
        assert [s for s in host.trace.sets(mark, 1) if s[0] == LAYOUT] == []
    # A number it takes clears the message.
    number.send_keys(Keys.CONTROL + 'a', Keys.NULL, '0', Keys.TAB)
    wait(page, lambda d: Select(control(d, 'Layout')).first_selected_option.text == 'Place 1 full frame',
         message='layout 0 taken')
    assert page.find_element(By.ID, 'layout-number-error').text == ''


def test_malformed_entries_list_each_device_once_and_odd_names_stay_apart(host, page):
    # Two entries claim one name, one has no name; the plug-in knows them by position.
    override = '\u202e2 novlerB'  # reversed, it would read "Brelvon 2"
    host.settings.write_text(json.dumps({'keys': {
        'key-1': {'currentDevice': 'Brelvon', 'devices': [{'deviceName': 'Brelvon'}, {'deviceName': 'Brelvon'}, 'junk']},
        'key-2': {'currentDevice': override}}}))
    open_panel(page, host)
    open_inspector(page, 1)
    wait(page, lambda d: options(d, 'Device') == ['Brelvon', 'Brelvon 2', 'Brelvon 3 (not connected)'],
         message='each device once')

    page.switch_to.default_content()
    open_inspector(page, 2)
    note = wait(page, lambda d: d.find_element(By.ID, 'device-missing-note'), message='note')
    wait(page, lambda d: note.is_displayed() and 'not offered here' in note.text, message='the sentence')
    shown = note.find_element(By.CLASS_NAME, 'device-name')
    # The override is shown as a mark inside an isolate: the name reads as stored and reverses nothing after it.
    assert shown.get_attribute('textContent') == '\u2068\ufffd2 novlerB\u2069'
    assert options(page, 'Device')[0] == '\u2068\ufffd2 novlerB\u2069 (not found)'
    assert 'Brelvon 2' not in page.execute_script('return document.body.innerText.split("\\n")[0]')


def test_a_device_that_is_not_offered_shows_no_picture_of_another(host, page):
    host.settings.write_text(json.dumps({'keys': {'key-3': {'currentDevice': 'Brelvon 7'}}}))
    open_panel(page, host)
    open_inspector(page, 3)
    wait(page, lambda d: options(d, 'Device')[1:] == ['Brelvon', 'Brelvon 2'] and preview_state(d)[0] == 'not connected',
         message='the devices offered and the note')
    # Pictures keep coming (the plug-in streams the device it falls back to); none of them is shown.
    page.execute_script('''window.previews = 0;
        new PerformanceObserver((list) => { window.previews += list.getEntriesByName('preview-drawn').length; })
            .observe({ entryTypes: ['measure'] });''')
    wait(page, lambda d: d.execute_script('return window.previews') >= 3, message='pictures arriving')
    assert preview(page) == [[0, 0, 0]] * 4, 'a picture of another device'
    # The picture of a device that is offered is shown at once.
    Select(control(page, 'Device')).select_by_visible_text('Brelvon 2')
    wait(page, lambda d: close_to(preview(d), [RED, GREEN, BLUE, WHITE]), message="Brelvon 2's picture")


def test_a_two_input_device_shows_what_its_other_places_really_show(host, page):
    (host.folder / 'devices.json').write_text(json.dumps({**DEVICES, 'devices': [{'number': 1, 'inputs': [1, 2]}]}))
    open_panel(page, host)
    open_inspector(page, 1)
    shown = lambda d: [Select(control(d, f'Place {k}')).first_selected_option.text for k in (1, 2, 3, 4)]
    wait(page, lambda d: shown(d) == ['Input 1', 'Input 2', 'Input 3', 'Input 4'],
         message='places 3 and 4 as the device shows them')
    # The first edit fits every place to the inputs the device has, and the device follows.
    Select(control(page, 'Place 1')).select_by_visible_text('Input 2')
    wait(page, lambda d: shown(d) == ['Input 2', 'Input 2', 'Input 2', 'Input 2'], message='fitted at the edit')
