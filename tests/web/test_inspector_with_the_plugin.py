"""The inspector's new controls against the real plug-in, not a played one: take, the lock note, names spread to
every key of the device, revert, and a picture key's image on the panel."""
import json

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from conftest import button, control, frame, open_inspector, open_panel, options, wait


def stored(host, key):
    return json.loads(host.settings.read_text())['keys'].get(key, {})


def key_image(driver, key):
    driver.switch_to.default_content()
    src = driver.find_element(By.CSS_SELECTOR, f'button[aria-describedby="key-{key}-shows"] img').get_attribute('src') or ''
    frame(driver)
    return src


def test_take_lock_names_revert_and_a_picture_key_with_the_plugin(host, page):
    host.settings.write_text(json.dumps({'keys': {'key-1': {'currentDevice': 'Brelvon', 'devices': [
        {'deviceName': 'Brelvon', 'multiViewLayout': 0, 'multiViewSources': [2, 2, 3, 4]}]}},
        'actions': {'key-3': 'com.brelvon.multiview.lock'}}))
    open_panel(page, host)
    open_inspector(page, 1)
    layout = lambda d: Select(control(d, 'Layout')).first_selected_option.text
    wait(page, lambda d: control(d, 'Layout').is_enabled() and layout(d) == 'Place 1 full frame', message='form')

    button(page, 'Take what the device shows').click()
    wait(page, lambda d: layout(d) == 'Four places (2×2)' and
         Select(control(d, 'Place 1')).first_selected_option.text == 'Input 1', message='taken')
    assert stored(host, 'key-1')['devices'][0]['multiViewSources'] == [1, 2, 3, 4]

    locked = lambda d: any(p.is_displayed() for p in d.find_elements(By.CLASS_NAME, 'device-locked'))
    for expected in (True, False):
        page.switch_to.default_content()
        button(page, 'Key 3').send_keys(Keys.SPACE)
        frame(page)
        wait(page, lambda d: locked(d) == expected, message=f'lock note {expected}')

    control(page, 'Name of input 2').send_keys('Host')
    wait(page, lambda d: (stored(host, 'key-5').get('devices') or [{}])[0].get('inputNames', [None, None])[1] == 'Host',
         message='the names reach another key of the device')
    assert options(page, 'Place 1')[1] == '2 · Host'

    button(page, 'Revert').click()
    wait(page, lambda d: layout(d) == 'Place 1 full frame', message='reverted')

    Select(control(page, 'Key picture')).select_by_visible_text('the live multiview')
    wait(page, lambda d: key_image(d, 1).startswith('data:image/png'), timeout=20, message='the key shows the picture')
