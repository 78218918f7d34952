// The inspector's view: built once, then brought up to date from the state object by render(state).
// Settings text only ever reaches the page through textContent and option values.

import { absentNote, deviceLabel } from './device_status.js';
import { describeSettings, displayName, kDroppedFromNames, kMaxNameLength, kMaxPictureRate, kMaxSteps, kMinPictureRate, kPlaces,
  offeredDevices, sameSettings } from './settings.js';

const kSvg = 'http://www.w3.org/2000/svg';

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

// The places of the picture that have something said over them: [{place (0-based), input, box, noSignal,
// name}] for those whose input has no signal or a name. boxes: the layout's places ([] when its geometry is
// not known); inputs: the input each place shows; signal and names: the device's flags and input names, input 1
// first.
export function markedPlaces(boxes, inputs, signal, names = []) {
  return boxes.flatMap((box, place) => {
    const input = inputs[place];
    const noSignal = signal?.[input - 1] === false;
    const name = names[input - 1] ?? '';
    return noSignal || name !== '' ? [{ place, input, box, noSignal, name }] : [];
  });
}

// A small picture of a layout's places, for the eye only (the text beside it says which layout it is).
function layoutPicture(places) {
  const svg = document.createElementNS(kSvg, 'svg');
  svg.setAttribute('viewBox', '0 0 32 18');
  svg.setAttribute('aria-hidden', 'true');
  svg.setAttribute('class', 'layout-picture');
  for (const [x, y, w, h] of places) {
    const rect = document.createElementNS(kSvg, 'rect');
    for (const [name, value] of [['x', x * 32 + 0.75], ['y', y * 18 + 0.75], ['width', Math.max(w * 32 - 1.5, 0.5)],
      ['height', Math.max(h * 18 - 1.5, 0.5)]]) rect.setAttribute(name, String(value));
    svg.append(rect);
  }
  return svg;
}

// An input as the lists show it: its number and, when it has one, its name.
const inputText = (t, n, name, noSignal) => {
  if (name === '') return t(noSignal ? 'inspector.inputNoSignal' : 'inspector.input', { n });
  return t(noSignal ? 'inspector.inputNamedNoSignal' : 'inspector.inputNamed', { n, name: displayName(name, kMaxNameLength) });
};

// A sentence with one part of it (`{name}`) as its own element.
function sentenceWith(t, key, part) {
  const marker = '\u0000';
  const [before, after = ''] = t(key, { name: marker }).split(marker);
  return [before, part, after];
}

const isImageUrl = (text) => /^data:image\/(png|jpeg|gif|webp|bmp|svg\+xml)[;,]/.test(text);

export const kMaxIconBytes = 512 * 1024;
const kPeekAction = 'com.brelvon.multiview.peek';
const kCycleAction = 'com.brelvon.multiview.cycle';
const kLockAction = 'com.brelvon.multiview.lock';

// actions.edit(edit) for every change a person makes; edits have the shapes editSettings takes.
// actions.invalidLayout() for a layout number that cannot be taken; actions.refresh() to redraw;
// actions.revert() and actions.takeFromDevice() for the two buttons of those names.
export function createView(root, t, actions) {
  const shortName = (l) => {
    const key = `layout.${l.number}.short`;
    return t(key) === key ? l.name : t(key);
  };
  const status = element('p', { className: 'status', role: 'status' });

  const device = element('select');
  const layout = element('select');
  const layoutNumber = element('input', { type: 'number', min: 0, max: 4294967295, step: 1,
    'aria-describedby': 'layout-number-error' });
  const layoutError = element('p', { id: 'layout-number-error', className: 'error', role: 'alert' });
  const places = Array.from({ length: kPlaces }, () => element('select'));
  const layoutPictures = element('div', { className: 'layout-pictures', role: 'group', 'aria-labelledby': 'layout-label' });
  const names = Array.from({ length: kPlaces }, () => element('input', { type: 'text', maxLength: kMaxNameLength,
    dir: 'auto', autocomplete: 'off', spellcheck: false }));
  const take = element('button', { type: 'button', 'aria-describedby': 'take-error' });
  const revert = element('button', { type: 'button' });
  const takeError = element('p', { id: 'take-error', className: 'error', role: 'alert' });
  const lockNote = element('p', { className: 'device-locked', role: 'status' });
  const keyPicture = element('select');
  const pictureRate = element('select');
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
    names: names.map((input, k) => field(`input-name-${k + 1}`, '', input)),
    keyPicture: field('key-picture', '', keyPicture),
    pictureRate: field('picture-rate', '', pictureRate),
    icon: field('icon-file', '', iconPicker),
  };
  fields.icon.label.id = 'icon';
  fields.layout.label.id = 'layout-label';
  fields.layout.row.append(layoutPictures);
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

  // The step key's list: one radio button a step, the buttons acting on the chosen one.
  const stepsLegend = element('legend');
  const stepItems = Array.from({ length: kMaxSteps }, (_, i) => {
    const radio = element('input', { type: 'radio', name: 'step', id: `step-${i + 1}`, value: String(i) });
    const label = element('label', { htmlFor: `step-${i + 1}` });
    radio.addEventListener('change', () => { if (radio.checked) actions.edit({ selectStep: i }); });
    return { radio, label, row: element('li', {}, radio, label) };
  });
  const stepList = element('ol', { className: 'step-list' }, ...stepItems.map((s) => s.row));
  const stepsNone = element('p', { className: 'note' });
  const stepAdd = element('button', { type: 'button' });
  const stepRemove = element('button', { type: 'button' });
  const stepUp = element('button', { type: 'button' });
  const stepDown = element('button', { type: 'button' });
  const steps = element('fieldset', { className: 'steps' }, stepsLegend, stepList, stepsNone,
    element('div', { className: 'buttons' }, stepAdd, stepRemove, stepUp, stepDown));
  let chosenStep = -1;
  stepAdd.addEventListener('click', () => actions.edit({ addStep: true }));
  stepRemove.addEventListener('click', () => {
    actions.edit({ removeStep: chosenStep });
    stepAdd.focus();
  });
  // A step moved to the end of the list disables the button that moved it: the focus goes to the other one.
  stepUp.addEventListener('click', () => {
    actions.edit({ moveStep: chosenStep, by: -1 });
    if (stepUp.disabled) stepDown.focus();
  });
  stepDown.addEventListener('click', () => {
    actions.edit({ moveStep: chosenStep, by: 1 });
    if (stepDown.disabled) stepUp.focus();
  });

  const takeRow = element('div', { className: 'buttons' }, take);
  const deviceControls = element('div', { className: 'device-controls' },
    fields.layout.row, fields.layoutNumber.row, layoutError, ...fields.places.map((f) => f.row), toggleRow,
    ...fields.names.map((f) => f.row), takeRow, takeError, steps);
  // What a lock key's page leaves out: it has only its device.
  const keyControls = element('div', { className: 'key-controls' }, deviceControls, showStateRow, showStateNote,
    fields.keyPicture.row, fields.pictureRate.row, fields.icon.row, iconError,
    element('div', { className: 'buttons' }, revert));
  const form = element('form', { className: 'settings' }, peekHint, fields.device.row, keyControls);
  form.addEventListener('submit', (event) => event.preventDefault());
  // The host's window names the page already; the heading is there for screen readers' page outline.
  // It also names the page's main landmark, which a host page around the inspector may have one of its own.
  const heading = element('h1', { id: 'inspector-title', className: 'visually-hidden', text: t('inspector.title') });
  root.setAttribute('aria-labelledby', 'inspector-title');
  root.replaceChildren(heading, status, form, preview);
  const deviceNote = element('p', { className: 'device-note', role: 'status' });
  const missingNote = element('p', { id: 'device-missing-note', className: 'device-missing', role: 'status' });
  device.setAttribute('aria-describedby', 'device-missing-note');
  fields.device.row.after(missingNote, deviceNote, lockNote);

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
  names.forEach((input, k) => input.addEventListener('input', () => {
    // What a name cannot hold (a pasted tab or line break, a direction control) goes as it arrives; the rest of
    // the text stays as typed.
    const clean = input.value.replace(kDroppedFromNames, '');
    if (clean !== input.value) input.value = clean;
    actions.edit({ inputName: k, name: clean });
  }));
  take.addEventListener('click', () => actions.takeFromDevice());
  revert.addEventListener('click', () => actions.revert());
  keyPicture.addEventListener('change', () => actions.edit({ keyPicture: keyPicture.value }));
  pictureRate.addEventListener('change', () => actions.edit({ pictureRate: Number(pictureRate.value) }));
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
      fields.names.forEach((f, k) => { f.label.textContent = t('inspector.inputName', { n: k + 1 }); });
      fields.keyPicture.label.textContent = t('inspector.keyPicture');
      fields.pictureRate.label.textContent = t('inspector.pictureRate');
      take.textContent = t('inspector.take');
      revert.textContent = t('inspector.revert');
      stepsLegend.textContent = t('inspector.steps');
      stepAdd.textContent = t('inspector.stepAdd');
      stepRemove.textContent = t('inspector.stepRemove');
      stepUp.textContent = t('inspector.stepUp');
      stepDown.textContent = t('inspector.stepDown');
      toggleLabel.textContent = t('inspector.toggle');
      showStateLabel.textContent = t('inspector.showState');
      showStateNote.textContent = t('inspector.showStateNote');
      showState.checked = view.showState;
      peekHint.textContent = t('inspector.peekHint');
      peekHint.hidden = state.action !== kPeekAction;
      keyControls.hidden = state.action === kLockAction;
      revert.disabled = !state.openedSettings || sameSettings(state.settings, state.openedSettings);
      setOptions(keyPicture, ['none', 'live', 'inputs'].map((v) => ({ value: v, label: t(`inspector.keyPicture.${v}`) })),
        view.keyPicture);
      const rates = [];
      for (let n = kMinPictureRate; n <= kMaxPictureRate; ++n) rates.push({ value: n, label: String(n) });
      setOptions(pictureRate, rates, view.pictureRate);
      fields.pictureRate.row.hidden = view.keyPicture === 'none';
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
      lockNote.textContent = Array.isArray(state.locked) && state.locked.includes(view.currentDevice) ? t('inspector.locked') : '';
      lockNote.hidden = lockNote.textContent === '';
      deviceControls.hidden = !entry;
      if (entry) {
        const layoutOptions = state.layouts.map((l) => ({ value: l.number, label: t(`layout.${l.number}`) === `layout.${l.number}` ? l.name : t(`layout.${l.number}`) }));
        if (!state.layouts.some((l) => l.number === entry.layout)) layoutOptions.push({ value: entry.layout, label: t('inspector.layoutOther', { n: entry.layout }) });
        setOptions(layout, layoutOptions, entry.layout);
        const pictured = state.layouts.filter((l) => l.places?.length > 0);
        const picturesKey = JSON.stringify(pictured.map((l) => [l.number, l.places, shortName(l)]));
        if (layoutPictures.dataset.shown !== picturesKey) {
          layoutPictures.dataset.shown = picturesKey;
          layoutPictures.replaceChildren(...pictured.map((l) => {
            const choose = element('button', { type: 'button', className: 'layout-choice', value: String(l.number) },
              layoutPicture(l.places), element('span', { text: shortName(l) }));
            choose.addEventListener('click', () => actions.edit({ layout: l.number }));
            return choose;
          }));
        }
        for (const choose of layoutPictures.children) choose.setAttribute('aria-pressed', String(Number(choose.value) === entry.layout));
        layoutPictures.hidden = pictured.length === 0;
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
            options.push({ value: n, label: inputText(t, n, entry.names[n - 1], signal[n - 1] === false) });
          }
          setOptions(select, options, entry.sources[k]);
        });
        toggle.checked = entry.toggle;
        // A name being typed stays as typed; the settings may come back from the plug-in meanwhile.
        names.forEach((input, k) => { if (document.activeElement !== input) input.value = entry.names[k]; });
        takeError.textContent = state.takeError ? t('inspector.takeUnavailable') : '';

        steps.hidden = state.action !== kCycleAction;
        chosenStep = state.selectedStep < entry.steps.length ? state.selectedStep : -1;
        stepItems.forEach(({ radio, label, row }, i) => {
          const step = entry.steps[i];
          row.hidden = !step;
          radio.checked = i === chosenStep;
          if (!step) return;
          const known = state.layouts.find((l) => l.number === step.layout);
          const shown = known?.places?.length ? step.sources.slice(0, known.places.length) : step.sources;
          const text = t('inspector.stepText', {
            n: i + 1,
            layout: known ? shortName(known) : t('inspector.layoutOther', { n: step.layout }),
            inputs: shown.map((n) => (entry.names[n - 1] ? t('inspector.inputNamed', { n, name: displayName(entry.names[n - 1], kMaxNameLength) }) : String(n))).join(', '),
          });
          label.textContent = i === entry.step ? t('inspector.stepNext', { step: text }) : text;
        });
        stepsNone.textContent = entry.steps.length === 0 ? t('inspector.stepsNone') : '';
        stepsNone.hidden = entry.steps.length !== 0;
        stepAdd.disabled = entry.steps.length >= kMaxSteps;
        stepRemove.disabled = chosenStep < 0;
        stepUp.disabled = chosenStep <= 0;
        stepDown.disabled = chosenStep < 0 || chosenStep >= entry.steps.length - 1;
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
      const boxes = state.layouts.find((l) => l.number === entry?.layout)?.places ?? [];
      const marked = entry && note === ''
        ? markedPlaces(boxes, entry.sources, state.signals?.[entry.name]?.slice(0, entry.inputs) ?? entry.signal,
          entry.names)
        : [];
      const markText = ({ input, noSignal, name }) => {
        if (!noSignal) return displayName(name, kMaxNameLength);
        return name === '' ? t('inspector.placeNoSignal', { n: input })
          : t('inspector.placeNamedNoSignal', { name: displayName(name, kMaxNameLength) });
      };
      const markKey = JSON.stringify(marked.map((m) => [m.box, markText(m), m.noSignal]));
      if (marks.dataset.shown !== markKey) {
        marks.dataset.shown = markKey;
        marks.replaceChildren(...marked.map((m) => {
          const [x, y, w, h] = m.box;
          const mark = element('span', { className: m.noSignal ? 'no-signal-mark' : 'place-name' },
            element('span', { text: markText(m) }));
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
