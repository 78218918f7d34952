"""The panel page offers what the product has: any action of the manifest on any key, keys held as long as a
person holds them, an inspector that survives a reload of the page, and Escape to close it."""
import json

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from conftest import button, control, frame, open_inspector, open_panel, options, wait
from test_pages import LAYOUT, SOURCES, layout_data, sources_data

PEEK = 'com.brelvon.multiview.peek'
# Key 2 looks at place 1 full frame, input 2; the device shows the four-place grid of inputs 1 to 4 otherwise.
LOOK = {'currentDevice': 'Brelvon', 'devices': [
    {'deviceName': 'Brelvon', 'multiViewLayout': 0, 'multiViewSources': [2, 2, 3, 4], 'toggle': False}]}
SHOWN = [(LAYOUT, layout_data(100)), (SOURCES, sources_data([1, 2, 3, 4]))]
LOOKED = [(LAYOUT, layout_data(0)), (SOURCES, sources_data([2, 2, 3, 4]))]


def panel_round_trip(driver):
    """Returns once the host has handled everything the page sent before: a signal switched off and on again
    comes back in the panel's state (read from the page's own elements), with no focus or pointer moved."""
    box = driver.find_element(By.CSS_SELECTOR, 'input[data-device="2"][data-input="4"]')
    for checked in (False, True):
        driver.execute_script('arguments[0].click()', box)
        wait(driver, lambda d: box.is_selected() == checked, message='the host answered')


def held(driver, name):
    return 'pressed' in button(driver, name).get_attribute('class').split()


def test_each_key_takes_any_action_and_a_held_look_lasts_as_long_as_the_hold(host, page):
    host.settings.write_text(json.dumps({'keys': {'key-2': LOOK}}))
    open_panel(page, host)
    action = control(page, 'Action of key 2')
    assert options(page, 'Action of key 2') == ['Switch multiview', 'Hold to look', 'Step through', 'Lock the device']
    assert Select(action).first_selected_option.text == 'Switch multiview'

    # By keyboard: down to the next action (a list styled by the page opens on the first arrow), Enter takes it.
    action.send_keys(Keys.ARROW_DOWN, Keys.ARROW_DOWN, Keys.ENTER)
    wait(page, lambda d: json.loads(host.settings.read_text()).get('actions', {}).get('key-2') == PEEK,
         message='the choice stored')
    assert Select(control(page, 'Action of key 2')).first_selected_option.text == 'Hold to look'
    assert Select(control(page, 'Action of key 1')).first_selected_option.text == 'Switch multiview'

    # Held with the mouse: the device shows the look at once, and keeps it while the button stays down.
    key = button(page, 'Key 2')
    mark = host.trace.mark()
    ActionChains(page).click_and_hold(key).perform()
    host.trace.wait_for_set(mark, LOOKED)
    mark = host.trace.mark()
    panel_round_trip(page)
    assert held(page, 'Key 2') and (LAYOUT, layout_data(100)) not in host.trace.sets(mark, 1)
    ActionChains(page).release(key).perform()
    host.trace.wait_for_set(mark, SHOWN)

    # Held with Space: the same, and the key's repeats while held are no new presses.
    mark = host.trace.mark()
    ActionChains(page).key_down(Keys.SPACE, button(page, 'Key 2')).perform()
    host.trace.wait_for_set(mark, LOOKED)
    mark = host.trace.mark()
    panel_round_trip(page)
    assert held(page, 'Key 2') and (LAYOUT, layout_data(100)) not in host.trace.sets(mark, 1)
    ActionChains(page).key_up(Keys.SPACE).perform()
    host.trace.wait_for_set(mark, SHOWN)
    assert not held(page, 'Key 2')

    # The choice outlives the host.
    port = host.port
    host.stop()
    host.start(port=port)
    page.get(host.url)
    wait(page, lambda d: Select(control(d, 'Action of key 2')).first_selected_option.text == 'Hold to look',
         message='the choice after a restart')


def test_an_inspector_open_across_a_reload_starts_from_the_current_settings(host, page):
    open_panel(page, host)
    open_inspector(page, 1)
    wait(page, lambda d: options(d, 'Device') == ['Brelvon', 'Brelvon 2'], message='devices')
    Select(control(page, 'Layout')).select_by_visible_text('Place 1 full frame')
    stored = lambda: json.loads(host.settings.read_text())['keys']['key-1']['devices'][0]
    wait(page, lambda d: stored()['multiViewLayout'] == 0, message='the first edit stored')

    page.switch_to.default_content()
    page.refresh()
    frame_shown = lambda d: any(f.is_displayed() for f in d.find_elements(By.TAG_NAME, 'iframe'))
    wait(page, frame_shown, message='the inspector back after the reload')
    frame(page)
    wait(page, lambda d: Select(control(d, 'Layout')).first_selected_option.text == 'Place 1 full frame'
         and control(d, 'Place 1').is_enabled(), message='the edit made before the reload')

    # The next edit adds to it, in the stored settings and on the device.
    mark = host.trace.mark()
    Select(control(page, 'Place 1')).select_by_visible_text('Input 2')
    wait(page, lambda d: stored()['multiViewSources'] == [2, 2, 3, 4], message='the second edit stored')
    assert stored()['multiViewLayout'] == 0
    host.trace.wait_for_set(mark, [(SOURCES, sources_data([2, 2, 3, 4]))])
    assert (LAYOUT, layout_data(100)) not in host.trace.sets(mark, 1)


def test_escape_closes_the_inspector_and_focus_returns_to_its_configure_button(host, page):
    open_panel(page, host)
    frame_gone = lambda d: not any(f.is_displayed() for f in d.find_elements(By.TAG_NAME, 'iframe'))
    # From a control of the inspector's own page, and from the panel's bar above it.
    for key, start in ((4, lambda: control(page, 'Layout')), (7, lambda: button(page, 'Close inspector'))):
        open_inspector(page, key)
        wait(page, lambda d: control(d, 'Layout').is_enabled(), message='the form')
        if key == 7:
            page.switch_to.default_content()
        start().send_keys(Keys.ESCAPE)
        page.switch_to.default_content()
        wait(page, frame_gone, message=f'inspector of key {key} closed')
        assert page.switch_to.active_element == button(page, f'Configure key {key}')
        assert button(page, f'Configure key {key}').get_attribute('aria-pressed') == 'false'
