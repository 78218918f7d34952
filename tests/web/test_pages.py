"""The panel page and the property inspector in headless Chromium, driving the emulated device."""
import json
import time
from pathlib import Path

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.support.ui import Select

from conftest import button, control, frame, key_svg, open_inspector, open_panel, options, wait

LAYOUT = 631   # property ids of the device's multiview layout and sources
SOURCES = 632
RED, GREEN, BLUE, WHITE, BLACK = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0)


def layout_data(n):
    return n.to_bytes(4, 'little').hex()


def sources_data(places):
    value = sum(input_ << (4 * k) for k, input_ in enumerate(places))
    return value.to_bytes(8, 'little').hex()


def preview(driver):
    """The preview's accessible element and its four quadrant centres' colours (reading order)."""
    canvas = driver.find_element(By.CSS_SELECTOR, '[role="img"]')
    assert canvas.accessible_name == 'Preview'
    return driver.execute_script('''
        const c = arguments[0], g = c.getContext('2d');
        return [[1, 1], [3, 1], [1, 3], [3, 3]].map(([x, y]) =>
            Array.from(g.getImageData(Math.floor(c.width * x / 4), Math.floor(c.height * y / 4), 1, 1).data.slice(0, 3)));
        ''', canvas)


def wait_for_preview(driver, colours):
    try:
        wait(driver, lambda d: close_to(preview(d), colours))
    except Exception:
        raise AssertionError(f'preview shows {preview(driver)}, expected {colours}')


TEST_CARD_JS = (Path(__file__).parent / 'test_card.js').read_text()


def close_to(got, colours):
    return all(abs(a - b) <= 8 for g, w in zip(got, colours) for a, b in zip(g, w))


def test_configure_edit_close_and_press(host, page):
    open_panel(page, host)
    open_inspector(page, 1)

    # The plug-in's write-back lists both devices; device 1's input 3 has no signal.
    wait(page, lambda d: options(d, 'Device') == ['Brelvon', 'Brelvon 2'], message='devices')
    assert Select(control(page, 'Device')).first_selected_option.text == 'Brelvon'
    assert options(page, 'Place 3') == ['Input 1', 'Input 2', 'Input 3 (no signal)', 'Input 4']
    wait_for_preview(page, [RED, GREEN, BLACK, WHITE])
    # From here every drawing's time code is read: frames must reach the canvas whole and unscaled.
    page.execute_script(TEST_CARD_JS + '\nwatchPreview(arguments[0]);', page.find_element(By.CSS_SELECTOR, '[role="img"]'))

    # Each edit reaches the device at once, and the preview follows.
    mark = host.trace.mark()
    Select(control(page, 'Layout')).select_by_visible_text('Place 1 full frame')
    host.trace.wait_for_set(mark, [(LAYOUT, layout_data(0))])
    wait_for_preview(page, [RED] * 4)
    assert control(page, 'Layout number').get_attribute('value') == '0'

    mark = host.trace.mark()
    Select(control(page, 'Place 1')).select_by_visible_text('Input 2')
    host.trace.wait_for_set(mark, [(SOURCES, sources_data([2, 2, 3, 4]))])
    wait_for_preview(page, [GREEN] * 4)
    codes = page.execute_script('return window.testCardDraws.map((d) => d.code)')
    assert codes and None not in codes, f'{codes.count(None)} of {len(codes)} preview images had no readable time code'

    page.switch_to.default_content()

    # Closing takes the edits back; the frame goes away.
    mark = host.trace.mark()
    button(page, 'Close inspector').click()
    host.trace.wait_for_set(mark, [(LAYOUT, layout_data(100)), (SOURCES, sources_data([1, 2, 3, 4]))])
    wait(page, lambda d: not any(f.is_displayed() for f in d.find_elements(By.TAG_NAME, 'iframe')), message='frame closed')

    # A press, by keyboard and by pointer, applies the stored settings (on release).
    for press in (lambda key: key.send_keys(Keys.SPACE),
                  lambda key: ActionChains(page).click_and_hold(key).pause(0.05).release().perform()):
        mark = host.trace.mark()
        press(button(page, 'Key 1'))
        host.trace.wait_for_set(mark, [(LAYOUT, layout_data(0)), (SOURCES, sources_data([2, 2, 3, 4]))])


def test_without_devices_the_inspector_says_so(host, page):
    (host.folder / 'devices.json').write_text('{"devices": []}')
    open_panel(page, host)
    open_inspector(page, 4)
    wait(page, lambda d: d.find_element(By.CSS_SELECTOR, '[role="status"]').text.lower() == 'no device found')
    assert not any(label.is_displayed() for label in page.find_elements(By.TAG_NAME, 'label'))


def test_inspector_reconnects_after_the_host_goes(host, page):
    open_panel(page, host)
    open_inspector(page, 5)
    status = lambda d: d.find_element(By.CSS_SELECTOR, '[role="status"]').text.lower()
    wait(page, lambda d: status(d) == '', message='connected')
    assert not [e for e in page.get_log('browser') if e['level'] == 'SEVERE']
    port = host.port
    host.stop()
    wait(page, lambda d: status(d) == 'disconnected', message='disconnected')
    page.switch_to.default_content()
    wait(page, lambda d: not button(d, 'Key 1').is_enabled(), message='panel disconnected')
    # The back-off is what is counted below: the page gets a stretch of time with no host to retry against.
    time.sleep(1.5)
    # A host started again is a new run with a new token: the page of its address knows no open inspector.
    host.start(port=port)
    # The failed attempts in between are logged by the browser; they back off instead of spinning.
    attempts = [e for e in page.get_log('browser') if 'WebSocket' in e['message']]
    assert len(attempts) <= 6, attempts
    page.get(host.url)
    wait(page, lambda d: button(d, 'Key 1').is_enabled(), message='panel connected again')
    wait(page, lambda d: not any(f.is_displayed() for f in d.find_elements(By.TAG_NAME, 'iframe')), message='frame gone')
    page.get('about:blank')


def test_show_state_draws_the_device_state_on_the_key(host, page):
    open_panel(page, host)
    open_inspector(page, 1)
    show_state = control(page, "Show the device's state on the key")
    assert show_state.get_attribute('type') == 'checkbox' and not show_state.is_selected()
    # The note says that a key image wins; a screen reader reads it with the checkbox.
    note = page.find_element(By.ID, show_state.get_attribute('aria-describedby'))
    assert 'key image' in note.text
    show_state.click()

    def drawn(d):
        d.switch_to.default_content()
        return key_svg(d, 'Key 1')

    # Key 1 is drawn from the device: four places, input 3 without a signal, and live (the device shows the
    # key's own settings while its inspector edits them).
    svg = wait(page, drawn, message='state image on key 1')
    assert svg.count('class="place no-signal"') == 1 and 'class="live"' in svg
    # A screen reader hears the key's name and then what its image shows.
    key = button(page, 'Key 1')
    said = lambda d: d.find_element(By.ID, key.get_attribute('aria-describedby')).get_attribute('textContent')
    wait(page, lambda d: said(d) == 'Four places; inputs shown: 1, 2, 3, 4; no signal: 3; live',
         message='the key described')
    assert json.loads(host.settings.read_text())['keys']['key-1']['showState'] is True


def test_settings_the_plugin_writes_back_are_where_the_next_edit_starts(host, page):
    host.settings.write_text(json.dumps({'keys': {'key-1': {'currentDevice': 'Brelvon', 'devices': [
        {'deviceName': 'Brelvon', 'multiViewLayout': 100, 'multiViewSources': [1, 2, 3, 4], 'toggle': True}]}}}))
    open_panel(page, host)
    open_inspector(page, 1)
    place1 = lambda d: Select(control(d, 'Place 1')).first_selected_option.text
    wait(page, lambda d: place1(d) == 'Input 1', message='the stored place 1')

    # A press steps place 1 to the next input with signal; the plug-in writes that back to the open inspector.
    page.switch_to.default_content()
    button(page, 'Key 1').send_keys(Keys.SPACE)
    frame(page)
    wait(page, lambda d: place1(d) == 'Input 2', message='place 1 as the plug-in wrote it back')

    Select(control(page, 'Layout')).select_by_visible_text('Place 1 full frame')
    stored = lambda: next(e for e in json.loads(host.settings.read_text())['keys']['key-1']['devices']
                          if e['deviceName'] == 'Brelvon')
    wait(page, lambda d: stored()['multiViewLayout'] == 0, message='the edit stored')
    assert stored()['multiViewSources'] == [2, 2, 3, 4]
