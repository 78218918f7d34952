// The panel page's view: fifteen keys and the property inspector frame, updated from the page state.

const kColumns = 5;
const kRows = 3;

function element(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(props)) {
    if (name === 'text') node.textContent = value;
    else if (name in node && !name.startsWith('aria')) node[name] = value;
    else node.setAttribute(name, value);
  }
  node.append(...children);
  return node;
}

// The words a drawn key image carries for a screen reader (its SVG's <title>), '' when it has none.
function imageDescription(url) {
  const prefix = 'data:image/svg+xml;base64,';
  if (typeof url !== 'string' || !url.startsWith(prefix)) return '';
  try {
    const bytes = Uint8Array.from(atob(url.slice(prefix.length)), (c) => c.charCodeAt(0));
    const svg = new DOMParser().parseFromString(new TextDecoder().decode(bytes), 'image/svg+xml');
    return svg.querySelector('svg > title')?.textContent?.trim() ?? '';
  } catch {
    return '';
  }
}

// Images come from the plug-in: only inline images and this host's own files are shown.
const safeImage = (url) => typeof url === 'string' && (/^data:image\//.test(url) || /^\/(?!\/)/.test(url));

// Replaces a select's options only when they differ, so an open list or the focus are not disturbed.
function setOptions(select, options, value) {
  const key = JSON.stringify(options);
  if (select.dataset.options !== key) {
    select.dataset.options = key;
    select.replaceChildren(...options.map((o) => element('option', { value: o.value, text: o.label })));
  }
  select.value = value;
}

// actions: press(key), release(key), configure(key), closeInspector(), setAction(key, identifier),
// plug(device, plugged), signal(device, input, on).
export function createPanelView(root, actions) {
  const title = element('h1');
  const status = element('p', { className: 'status', role: 'status' });
  const grid = element('div', { className: 'keys', role: 'group' });
  const keys = [];
  for (let n = 1; n <= kColumns * kRows; ++n) {
    // The caption sits below the picture, not over it: a drawn key image uses its whole face.
    const image = element('img', { alt: '', draggable: false });
    const caption = element('span', { className: 'caption' });
    // The key keeps its name; what its image shows is its description.
    const described = element('span', { id: `key-${n}-shows`, hidden: true });
    const key = element('button', { type: 'button', className: 'key', 'aria-describedby': described.id },
      image, caption, described);
    // The full name is shown, so the visible label and the accessible name are the same text. The button is a
    // toggle: pressed while this key's inspector is open, and pressing it again closes the inspector.
    const configureName = element('span', { className: 'configure-name' });
    const configure = element('button', { type: 'button', className: 'configure', 'aria-pressed': 'false' },
      configureName);
    bindPress(key, n, actions);
    configure.addEventListener('click', () => {
      if (configure.getAttribute('aria-pressed') === 'true') closeInspector();
      else actions.configure(n);
    });
    // The key's action, as a host lets a person put any of the plug-in's actions on a key.
    const actionLabel = element('label', { className: 'action-label', htmlFor: `key-${n}-action` });
    const action = element('select', { className: 'action', id: `key-${n}-action` });
    action.addEventListener('change', () => actions.setAction(n, action.value));
    const cell = element('div', { className: 'cell' }, key, configure, actionLabel, action);
    grid.append(cell);
    keys.push({ cell, key, image, caption, described, configure, configureName, action, actionLabel });
  }

  // Closing from the inspector's side puts the focus back where the inspector was opened from.
  let openKey = 0;
  function closeInspector() {
    const from = openKey;
    actions.closeInspector();
    if (from) keys[from - 1].configure.focus();
  }

  const inspectorHeading = element('h2');
  const close = element('button', { type: 'button', className: 'close' });
  close.addEventListener('click', closeInspector);
  const hint = element('p', { className: 'hint' });
  let frame = null;
  const inspector = element('aside', { className: 'inspector' },
    element('div', { className: 'inspector-bar' }, inspectorHeading, close), hint);
  // Escape closes the inspector, wherever in it the focus is: its bar here or its own page in the frame
  // (same origin, so its key presses can be heard; they do not bubble out of the frame by themselves).
  const onEscape = (event) => {
    if (event.key !== 'Escape' || event.defaultPrevented || !openKey) return;
    event.preventDefault();
    closeInspector();
  };
  inspector.addEventListener('keydown', onEscape);

  const devicesHeading = element('h2', { id: 'devices-heading' });
  const devices = element('section', { className: 'devices', 'aria-labelledby': devicesHeading.id }, devicesHeading);

  root.replaceChildren(element('header', {}, title, status),
    element('main', {},
      element('div', { className: 'layout' }, element('section', { className: 'panel' }, grid), inspector),
      devices));

  // The emulated devices: plug in or unplug each one, switch its inputs' signal. A row is made once per device
  // number and then updated in place, so that controls a person (or a test) holds stay the same elements.
  // Each signal checkbox is named by the device's name and its own label, both on screen, so that a screen
  // reader tells the rows' alike checkboxes apart.
  const deviceRows = new Map();
  function deviceRow(number) {
    if (deviceRows.has(number)) return deviceRows.get(number);
    const name = number === 1 ? 'Brelvon' : `Brelvon ${number}`;
    const nameId = `device-${number}-name`;
    const row = { name, plugged: true, element: null, plug: null, boxes: [], labels: [] };
    row.plug = element('button', { type: 'button', className: 'plug' });
    row.plug.dataset.device = String(number);
    row.plug.addEventListener('click', () => actions.plug(number, !row.plugged));
    const inputs = [1, 2, 3, 4].map((input) => {
      const text = element('span', { id: `device-${number}-signal-${input}` });
      const box = element('input', { type: 'checkbox', 'aria-labelledby': `${nameId} ${text.id}` });
      box.dataset.device = String(number);
      box.dataset.input = String(input);
      box.addEventListener('change', () => actions.signal(number, input, box.checked));
      row.boxes.push(box);
      row.labels.push(text);
      return element('label', { className: 'signal' }, box, text);
    });
    row.element = element('div', { className: 'device', role: 'group', 'aria-labelledby': nameId },
      element('span', { className: 'device-name', id: nameId, text: name }), row.plug, ...inputs);
    devices.append(row.element);
    deviceRows.set(number, row);
    return row;
  }
  function renderDevices(list, t, connected) {
    const wanted = list.filter((d) => Number.isInteger(d?.number));
    devices.hidden = wanted.length === 0;
    devicesHeading.textContent = t('panel.devices');
    const seen = new Set();
    for (const d of wanted) {
      const row = deviceRow(d.number);
      seen.add(d.number);
      row.plugged = d.plugged === true;
      row.element.hidden = false;
      row.element.classList.toggle('unplugged', !row.plugged);
      row.plug.textContent = row.plugged ? t('panel.unplug', { name: row.name }) : t('panel.plugIn', { name: row.name });
      row.plug.disabled = !connected;
      row.boxes.forEach((box, k) => {
        box.checked = Array.isArray(d.signal) && d.signal[k] === true;
        box.disabled = !connected || !row.plugged;
        row.labels[k].textContent = t('panel.signal', { n: k + 1 });
      });
    }
    for (const [number, row] of deviceRows) if (!seen.has(number)) row.element.hidden = true;
  }

  return {
    render(state, t) {
      const panel = state.panel;
      title.textContent = panel?.plugin?.name ? String(panel.plugin.name) : t('panel.title');
      status.textContent = !state.connected ? t('panel.disconnected')
        : panel && panel.plugin?.connected !== true ? t('panel.pluginNotConnected') : '';
      status.hidden = status.textContent === '';
      grid.setAttribute('aria-label', t('panel.keys'));

      const byNumber = new Map((panel?.keys ?? []).map((k) => [k?.key, k]));
      keys.forEach((k, i) => {
        const n = i + 1;
        const entry = byNumber.get(n);
        const own = entry?.image;
        const fallback = safeImage(entry?.defaultImage) ? entry.defaultImage : panel?.defaultImage;
        const src = safeImage(own) && own !== '' ? own : safeImage(fallback) ? fallback : '';
        if (k.image.getAttribute('src') !== src) {
          if (src) k.image.src = src;
          else k.image.removeAttribute('src');
          k.described.textContent = imageDescription(src);
        }
        k.caption.textContent = t('panel.key', { n });
        k.configureName.textContent = t('panel.configure', { n });
        k.configure.title = k.configureName.textContent;
        k.key.disabled = !state.connected;
        k.configure.disabled = !state.connected;
        const offered = (Array.isArray(panel?.actions) ? panel.actions : [])
          .filter((a) => typeof a?.identifier === 'string' && a.identifier !== '')
          .map((a) => ({ value: a.identifier, label: typeof a.name === 'string' && a.name ? a.name : a.identifier }));
        k.actionLabel.textContent = t('panel.action', { n });
        setOptions(k.action, offered, typeof entry?.action === 'string' ? entry.action : offered[0]?.value ?? '');
        // One action leaves nothing to choose.
        k.action.hidden = k.actionLabel.hidden = offered.length < 2;
        k.action.disabled = !state.connected;
      });

      const open = panel?.inspector;
      const url = typeof open?.url === 'string' && open.url.startsWith('/plugin/') ? open.url : '';
      keys.forEach((k, i) => {
        const selected = url !== '' && open.key === i + 1;
        k.cell.classList.toggle('selected', selected);
        k.configure.setAttribute('aria-pressed', String(selected));
      });
      openKey = url ? open.key : 0;
      inspectorHeading.textContent = url ? t('panel.inspectorFor', { n: open.key }) : t('panel.inspector');
      close.textContent = t('panel.closeInspector');
      close.hidden = !url;
      hint.textContent = t('panel.hint');
      hint.hidden = url !== '';
      // A new inspector gets a new frame, so the closed one's page (and its connection) is gone for good;
      // an unchanged URL keeps the frame, since reloading would restart the inspector.
      if ((frame?.getAttribute('src') ?? '') !== url) {
        frame?.remove();
        frame = url ? element('iframe', { src: url }) : null;
        if (frame) {
          const shown = frame;
          shown.addEventListener('load', () => shown.contentWindow?.addEventListener('keydown', onEscape));
          inspector.append(shown);
        }
      }
      if (frame) frame.title = t('panel.inspectorFrame');
      renderDevices(Array.isArray(panel?.simDevices) ? panel.simDevices : [], t, state.connected);
    },
  };
}

// keyDown when the key goes down by pointer, Space or Enter; keyUp when it comes back up (or is left).
function bindPress(button, n, actions) {
  let down = false;
  const press = () => {
    if (down) return;
    down = true;
    button.classList.add('pressed');
    actions.press(n);
  };
  const release = () => {
    if (!down) return;
    down = false;
    button.classList.remove('pressed');
    actions.release(n);
  };
  button.addEventListener('pointerdown', (event) => {
    if (event.button !== 0) return;
    button.setPointerCapture(event.pointerId);
    press();
  });
  button.addEventListener('pointerup', release);
  button.addEventListener('pointercancel', release);
  button.addEventListener('keydown', (event) => {
    if ((event.key === ' ' || event.key === 'Enter') && !event.repeat) {
      event.preventDefault();
      press();
    }
  });
  button.addEventListener('keyup', (event) => {
    if (event.key === ' ' || event.key === 'Enter') release();
  });
  button.addEventListener('blur', release);
}
