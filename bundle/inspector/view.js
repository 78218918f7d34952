// The inspector's view: built once, then brought up to date from the state object by render(state).
// Settings text only ever reaches the page through textContent and option values.

import { absentNote, deviceLabel } from './device_status.js';
import { describeSettings, displayName, kPlaces, offeredDevices } from './settings.js';

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

function field(id, labelText, control) {
  const label = element('label', { htmlFor: id });
  control.id = id;
  return { row: element('div', { className: 'field' }, label, control), label };
}

// Replaces a select's options only when they differ, so an open list or the focus are not disturbed.
function setOptions(select, options, value) {
  const key = JSON.stringify(options);
  if (select.dataset.options !== key) {
    select.dataset.options = key;
    select.replaceChildren(...options.map((o) => element('option', { value: String(o.value), text: o.label })));
  }
  select.value = String(value);
}

// What the preview says over its picture: the text key, or '' when the picture speaks for itself.
export function previewNote(state, currentDevice) {
  if (Array.isArray(state.detected) && !state.detected.includes(currentDevice)) return 'device.notConnected';
  if (state.pictureLate) return 'inspector.previewNone';
  return state.imageSeen ? '' : 'inspector.previewWaiting';
}

// Where each place lies on the device's picture, as fractions of it, for the layouts whose geometry is known.
const kPlaceBoxes = {
  100: [[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]],
  0: [[0, 0, 1, 1]],
};

// The places of the picture whose input has no signal: [{place (0-based), input, box}], [] where the layout's
// geometry is not known. inputs: the input each place shows; signal: the device's flags, input 1 first.
export function placesWithoutSignal(layout, inputs, signal) {
  const boxes = kPlaceBoxes[layout] ?? [];
  return boxes.flatMap((box, place) =>
    (signal?.[inputs[place] - 1] === false ? [{ place, input: inputs[place], box }] : []));
}

// A sentence with one part of it (`{name}`) as its own element.
function sentenceWith(t, key, part) {
  const marker = '\u0000';
  const [before, after = ''] = t(key, { name: marker }).split(marker);
  return [before, part, after];
}

const isImageUrl = (text) => /^data:image\/(png|jpeg|gif|webp|bmp|svg\+xml)[;,]/.test(text);

export const kMaxIconBytes = 512 * 1024;
const kPeekAction = 'com.brelvon.multiview.peek';

// actions.edit(edit) for every change a person makes; edits have the shapes editSettings takes.
// actions.invalidLayout() for a layout number that cannot be taken; actions.refresh() to redraw.
export function createView(root, t, actions) {
  const status = element('p', { className: 'status', role: 'status' });

  const device = element('select');
  const layout = element('select');
  const layoutNumber = element('input', { type: 'number', min: 0, max: 4294967295, step: 1,
    'aria-describedby': 'layout-number-error' });
  const layoutError = element('p', { id: 'layout-number-error', className: 'error', role: 'alert' });
  const places = Array.from({ length: kPlaces }, () => element('select'));
  const toggle = element('input', { type: 'checkbox' });
  // The browser's own file control speaks the browser's language: it stays hidden behind a button of ours.
  const iconPicker = element('input', { type: 'file', accept: 'image/*', hidden: true, tabIndex: -1 });
  const iconChoose = element('button', { type: 'button', id: 'icon-choose', 'aria-labelledby': 'icon icon-choose',
    'aria-describedby': 'icon-name icon-error' });
  const iconName = element('span', { id: 'icon-name', className: 'icon-name' });
  const iconRemove = element('button', { type: 'button', id: 'icon-remove', 'aria-describedby': 'icon-name' });
  const iconPreview = element('img', { className: 'icon', alt: '' });
  // Announced when it appears, and read with the button it belongs to.
  const iconError = element('p', { id: 'icon-error', className: 'error', role: 'alert' });

  const fields = {
    device: field('device', '', device),
    layout: field('layout', '', layout),
    layoutNumber: field('layout-number', '', layoutNumber),
    places: places.map((select, k) => field(`place-${k + 1}`, '', select)),
    icon: field('icon-file', '', iconPicker),
  };
  fields.icon.label.id = 'icon';
  fields.icon.label.htmlFor = 'icon-choose';
  const toggleLabel = element('label', { htmlFor: 'toggle' });
  toggle.id = 'toggle';
  const toggleRow = element('div', { className: 'field check' }, toggle, toggleLabel);
  fields.icon.row.append(element('div', { className: 'icon-controls' }, iconChoose, iconName, iconRemove), iconPreview);

  const showState = element('input', { type: 'checkbox', id: 'show-state' });
  const showStateLabel = element('label', { htmlFor: 'show-state' });
  const showStateNote = element('p', { id: 'show-state-note', className: 'note' });
  showState.setAttribute('aria-describedby', 'show-state-note');
  const showStateRow = element('div', { className: 'field check' }, showState, showStateLabel);
  const peekHint = element('p', { className: 'note' });

  const previewLabel = element('span', { id: 'preview-label', className: 'preview-label' });
  const previewState = element('p', { id: 'preview-state', className: 'preview-state', role: 'status' });
  const canvas = element('canvas', { role: 'img', 'aria-labelledby': 'preview-label',
    'aria-describedby': 'preview-state preview-marks', width: 224, height: 126 });
  // Places whose input has no signal, marked over the picture where they lie on it.
  const marks = element('div', { id: 'preview-marks', className: 'preview-marks' });
  const preview = element('figure', { className: 'preview' }, previewLabel,
    element('div', { className: 'preview-frame' }, canvas, marks, previewState));

  const deviceControls = element('div', { className: 'device-controls' },
    fields.layout.row, fields.layoutNumber.row, layoutError, ...fields.places.map((f) => f.row), toggleRow);
  const form = element('form', { className: 'settings' }, peekHint, fields.device.row, deviceControls, showStateRow,
    showStateNote, fields.icon.row, iconError);
  form.addEventListener('submit', (event) => event.preventDefault());
  // The host's window names the page already; the heading is there for screen readers' page outline.
  // It also names the page's main landmark, which a host page around the inspector may have one of its own.
  const heading = element('h1', { id: 'inspector-title', className: 'visually-hidden', text: t('inspector.title') });
  root.setAttribute('aria-labelledby', 'inspector-title');
  root.replaceChildren(heading, status, form, preview);
  const deviceNote = element('p', { className: 'device-note', role: 'status' });
  const missingNote = element('p', { id: 'device-missing-note', className: 'device-missing', role: 'status' });
  device.setAttribute('aria-describedby', 'device-missing-note');
  fields.device.row.after(missingNote, deviceNote);

  device.addEventListener('change', () => actions.edit({ device: device.value }));
  layout.addEventListener('change', () => actions.edit({ layout: Number(layout.value) }));
  let layoutInEffect = null;
  const commitLayoutNumber = () => {
    if (!layoutNumber.validity.valid || layoutNumber.value === '') actions.invalidLayout();
    else if (Number(layoutNumber.value) !== layoutInEffect) actions.edit({ layout: Number(layoutNumber.value) });
  };
  layoutNumber.addEventListener('change', commitLayoutNumber);
  // Enter takes the number too (a form of many fields has no implicit submission to do it).
  layoutNumber.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') commitLayoutNumber();
  });
  // Left with a number that was not taken, the field shows the layout in effect again (the list's choice).
  layoutNumber.addEventListener('blur', () => actions.refresh());
  places.forEach((select, k) => select.addEventListener('change', () => actions.edit({ place: k, input: Number(select.value) })));
  toggle.addEventListener('change', () => actions.edit({ toggle: toggle.checked }));
  showState.addEventListener('change', () => actions.edit({ showState: showState.checked }));
  iconChoose.addEventListener('click', () => iconPicker.click());
  iconRemove.addEventListener('click', () => {
    actions.edit({ icon: '' });
    iconChoose.focus();
  });
  iconPicker.addEventListener('change', () => {
    const file = iconPicker.files?.[0];
    iconPicker.value = '';
    if (file) actions.pickIcon(file);
  });

  const context = canvas.getContext('2d', { alpha: false });
  // A device the settings name but nobody offers has no picture here: whatever comes is another device's.
  let pictureShown = true;

  return {
    render(state) {
      const view = describeSettings(state.settings);
      // Until the host has said what the settings are now, the form shows them but takes no edit.
      const connected = state.status === 'connected' && state.settingsCurrent !== false;
      fields.device.label.textContent = t('inspector.device');
      fields.layout.label.textContent = t('inspector.layout');
      fields.layoutNumber.label.textContent = t('inspector.layoutNumber');
      fields.places.forEach((f, k) => { f.label.textContent = t('inspector.place', { n: k + 1 }); });
      toggleLabel.textContent = t('inspector.toggle');
      showStateLabel.textContent = t('inspector.showState');
      showStateNote.textContent = t('inspector.showStateNote');
      showState.checked = view.showState;
      peekHint.textContent = t('inspector.peekHint');
      peekHint.hidden = state.action !== kPeekAction;
      fields.icon.label.textContent = t('inspector.icon');
      previewLabel.textContent = t('inspector.preview');

      const offered = offeredDevices(view, state.detected);
      status.textContent = !connected ? t(state.status === 'disconnected' ? 'inspector.disconnected' : 'inspector.connecting')
        : offered.length === 0 ? t('inspector.noDevice') : '';
      status.hidden = status.textContent === '';
      form.inert = !connected;
      form.classList.toggle('offline', !connected);
      // Without a device nothing on the form could take effect.
      form.hidden = offered.length === 0;

      const deviceOptions = offered.map((name) => ({ value: name, label: deviceLabel(t, name, state.detected) }));
      const missing = !offered.includes(view.currentDevice);
      if (missing) {
        deviceOptions.unshift({ value: view.currentDevice, label: t('inspector.deviceMissing', { name: displayName(view.currentDevice, 32) }) });
      }
      setOptions(device, deviceOptions, view.currentDevice);
      device.title = missing ? displayName(view.currentDevice) : '';
      if (missing && missingNote.dataset.name !== view.currentDevice) {
        missingNote.dataset.name = view.currentDevice;
        const name = element('span', { className: 'device-name', title: displayName(view.currentDevice),
          text: displayName(view.currentDevice, 32) });
        missingNote.replaceChildren(...sentenceWith(t, 'inspector.deviceNotOffered', name));
      } else if (!missing) {
        delete missingNote.dataset.name;
        missingNote.replaceChildren();
      }
      missingNote.hidden = !missing;
      if (missing && pictureShown) {
        context.fillStyle = '#000000';
        context.fillRect(0, 0, canvas.width, canvas.height);
      }
      pictureShown = !missing;

      const entry = view.devices[view.current];
      deviceNote.textContent = entry ? absentNote(t, entry.name, state.detected) : '';
      deviceNote.hidden = deviceNote.textContent === '';
      deviceControls.hidden = !entry;
      if (entry) {
        const layoutOptions = state.layouts.map((l) => ({ value: l.number, label: t(`layout.${l.number}`) === `layout.${l.number}` ? l.name : t(`layout.${l.number}`) }));
        if (!state.layouts.some((l) => l.number === entry.layout)) layoutOptions.push({ value: entry.layout, label: t('inspector.layoutOther', { n: entry.layout }) });
        setOptions(layout, layoutOptions, entry.layout);
        layoutInEffect = entry.layout;
        const typing = document.activeElement === layoutNumber;
        if (!typing) layoutNumber.value = String(entry.layout);
        layoutNumber.setAttribute('aria-invalid', String(typing && state.layoutInvalid === true));
        layoutError.textContent = state.layoutInvalid ? t('inspector.layoutInvalid') : '';

        // The plug-in reports signal changes while the inspector is open; they are newer than the settings.
        const signal = state.signals?.[entry.name]?.slice(0, entry.inputs) ?? entry.signal;
        places.forEach((select, k) => {
          const options = [];
          // A place beyond the device's inputs may show one of the others (what the device shows there).
          for (let n = 1; n <= Math.max(entry.inputs, entry.sources[k]); ++n) {
            options.push({ value: n, label: signal[n - 1] === false ? t('inspector.inputNoSignal', { n }) : t('inspector.input', { n }) });
          }
          setOptions(select, options, entry.sources[k]);
        });
        toggle.checked = entry.toggle;
      }

      iconPreview.hidden = !isImageUrl(view.icon);
      if (isImageUrl(view.icon) && iconPreview.getAttribute('src') !== view.icon) iconPreview.src = view.icon;
      iconChoose.textContent = t('inspector.iconChoose');
      iconRemove.textContent = t('inspector.iconRemove');
      iconRemove.hidden = view.icon === '';
      iconName.textContent = view.icon === '' ? t('inspector.iconNone') : state.iconName || t('inspector.iconChosen');
      const error = state.iconError ? t(state.iconError) : '';
      if (iconError.textContent !== error) iconError.textContent = error;

      const note = previewNote(state, view.currentDevice);
      previewState.textContent = note ? t(note) : '';
      previewState.hidden = note === '';
      preview.classList.toggle('absent', note === 'device.notConnected' || note === 'inspector.previewNone');

      // Marks only over a live picture of this device.
      const marked = entry && note === ''
        ? placesWithoutSignal(entry.layout, entry.sources,
          state.signals?.[entry.name]?.slice(0, entry.inputs) ?? entry.signal)
        : [];
      const markKey = JSON.stringify(marked.map((m) => [m.place, m.input]));
      if (marks.dataset.shown !== markKey) {
        marks.dataset.shown = markKey;
        marks.replaceChildren(...marked.map(({ input, box: [x, y, w, h] }) => {
          const mark = element('span', { className: 'no-signal-mark' },
            element('span', { text: t('inspector.placeNoSignal', { n: input }) }));
          mark.style.left = `${x * 100}%`;
          mark.style.top = `${y * 100}%`;
          mark.style.width = `${w * 100}%`;
          mark.style.height = `${h * 100}%`;
          return mark;
        }));
      }
    },

    // image: {width, height, rgba} from decodePreviewBmp.
    drawPreview(image) {
      if (!pictureShown) return;
      if (canvas.width !== image.width || canvas.height !== image.height) {
        canvas.width = image.width;
        canvas.height = image.height;
      }
      context.putImageData(new ImageData(image.rgba, image.width, image.height), 0, 0);
    },
  };
}
