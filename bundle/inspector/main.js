// The property inspector: wires the connection, the settings and the preview to the view.

import { HostConnection, readLaunchParameters } from './connection.js';
import { decodePreviewBmp } from './bmp.js';
import { readDetected, readInputSignals, readLocks, readTaken } from './device_status.js';
import { loadTexts, languageOf } from './i18n.js';
import { describeSettings, editSettings, kPlaces } from './settings.js';
import { createView, kMaxIconBytes } from './view.js';

// The device's picture is 16:9; this keeps the preview message around 85 KB of pixels.
const kPreviewWidth = 224;
const kPreviewHeight = 126;

const launch = readLaunchParameters(location.search);
const bundleFolder = new URL('../', import.meta.url);

const state = {
  status: 'connecting',
  settings: launch.actionInfo.payload?.settings ?? {},
  action: launch.actionInfo.action ?? '',
  layouts: [],
  iconError: '',
  iconName: '',  // the file name of the image chosen here
  detected: null,  // names of the connected devices, once the plug-in has said
  signals: {},  // device name -> signal flags, as the plug-in last reported them
  imageSeen: false,  // a preview picture has arrived
  // The settings above are the key's current ones: the address's copy may be older than what is stored (a
  // host page reloaded around an open inspector), so edits wait for the host's answer to "getSettings".
  settingsCurrent: false,
  layoutInvalid: false,  // the last layout number typed could not be taken
  pictureLate: false,  // images were asked for a while ago and none has come
  openedSettings: null,  // the key's settings when the page opened, for "Revert"
  locked: [],  // names of the devices the plug-in last said are locked
  takeError: false,  // the last take could not read the device
  selectedStep: -1,  // the step of the list chosen here, -1 none
};

// A device that works sends its first picture well within this; after it the page says that none comes.
const kPictureDueMs = 4000;
let pictureTimer = 0;
function expectPicture() {
  clearTimeout(pictureTimer);
  state.pictureLate = false;
  pictureTimer = setTimeout(() => {
    state.pictureLate = true;
    render();
  }, kPictureDueMs);
}

let view = null;
const render = () => view?.render(state);

const connection = new HostConnection(launch, {
  onStatus(status) {
    state.status = status;
    if (status !== 'connected') {
      clearTimeout(pictureTimer);
      state.pictureLate = false;
    }
    render();
  },
  onOpen() {
    connection.send({ event: 'getSettings', context: launch.uuid });
    imagesRequested = false;
    requestImagesWhenShown();
    toPlugin({ method: 'getDeviceStatus' });
  },
  onMessage(message, arrival) {
    if (message.event === 'didReceiveSettings') {
      const settings = message.payload?.settings;
      if (settings !== null && typeof settings === 'object' && !Array.isArray(settings)) {
        if (!state.settingsCurrent) state.openedSettings = structuredClone(settings);
        showSettings(settings);
      }
    } else if (message.event === 'sendToPropertyInspector') {
      for (const [read, take] of reports) {
        const report = read(message.payload);
        if (report) {
          take(report);
          render();
          return;
        }
      }
      const image = decodePreviewBmp(message.payload?.imageData);
      if (image && view) {
        view.drawPreview(image);
        clearTimeout(pictureTimer);
        if (!state.imageSeen || state.pictureLate) {
          state.imageSeen = true;
          state.pictureLate = false;
          render();
        }
        // Lets a profiler (or a test) see how long an image took from arrival to canvas; kept out of the buffer.
        performance.measure('preview-drawn', { start: arrival, end: performance.now() });
        performance.clearMeasures('preview-drawn');
      }
    }
  },
});

// What the plug-in reports besides the images: how to read each kind, and what it changes in the state.
const reports = [
  [readDetected, (detected) => { state.detected = detected; }],
  [readInputSignals, ({ device, signals }) => { state.signals = { ...state.signals, [device]: signals }; }],
  [readLocks, (locked) => { state.locked = locked; }],
  [readTaken, (taken) => {
    state.takeError = 'error' in taken;
    // The plug-in has written these back already; the next edit starts from them.
    if (taken.settings) showSettings(taken.settings);
  }],
];

function showSettings(settings) {
  state.settings = settings;
  state.settingsCurrent = true;
  const view = describeSettings(settings);
  const steps = view.devices[view.current]?.steps ?? [];
  if (state.selectedStep >= steps.length) state.selectedStep = -1;
  render();
}

function edit(change) {
  if (!state.settingsCurrent) return;
  const next = editSettings(state.settings, change);
  if (!next) return;
  send(next);
  // The chosen step stays with the step as the list changes.
  if ('selectStep' in change) state.selectedStep = change.selectStep;
  else if ('moveStep' in change && state.selectedStep === change.moveStep) state.selectedStep += change.by;
  else if ('removeStep' in change || 'device' in change) state.selectedStep = -1;
  // Another device has its own picture to deliver, or not.
  if ('device' in change && imagesRequested) expectPicture();
  if ('icon' in change && change.icon === '') state.iconName = '';
  render();
}

// Sends the whole settings as an edit; "Revert" sends the ones the page opened with.
function send(next) {
  state.settings = next;
  state.iconError = '';
  state.layoutInvalid = false;
  state.takeError = false;
  connection.send({ event: 'setSettings', context: launch.uuid, payload: next });
}

function revert() {
  if (!state.settingsCurrent || !state.openedSettings) return;
  const deviceBefore = describeSettings(state.settings).currentDevice;
  send(structuredClone(state.openedSettings));
  state.selectedStep = -1;
  state.iconName = '';
  if (describeSettings(state.settings).currentDevice !== deviceBefore && imagesRequested) expectPicture();
  render();
}

function takeFromDevice() {
  if (!state.settingsCurrent) return;
  state.takeError = false;
  toPlugin({ method: 'takeFromDevice' });
  render();
}

function pickIcon(file) {
  if (!file.type.startsWith('image/') || file.size > kMaxIconBytes) {
    state.iconError = file.size > kMaxIconBytes ? 'inspector.iconTooLarge' : 'inspector.iconNotImage';
    render();
    return;
  }
  const reader = new FileReader();
  reader.onload = async () => {
    if (typeof reader.result !== 'string') return;
    // The file's name and type only say what it claims to be: it must also decode as a picture.
    if (!(await decodesAsImage(reader.result))) {
      state.iconError = 'inspector.iconNotImage';
      render();
      return;
    }
    state.iconName = file.name;
    edit({ icon: reader.result });
  };
  reader.readAsDataURL(file);
}

async function decodesAsImage(url) {
  const image = new Image();
  image.src = url;
  try {
    await image.decode();
    return true;
  } catch {
    return false;
  }
}

const toPlugin = (payload) =>
  connection.send({ event: 'sendToPlugin', action: launch.actionInfo.action ?? '', context: launch.uuid, payload });

// Images only while the page can be seen: a hidden page stops them, so the device is not captured for nothing.
let imagesRequested = false;
function requestImagesWhenShown() {
  if (imagesRequested || document.visibilityState !== 'visible') return;
  imagesRequested = toPlugin({ method: 'startSendingImages', imageWidth: kPreviewWidth, imageHeight: kPreviewHeight });
  if (imagesRequested) expectPicture();
}
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') {
    requestImagesWhenShown();
  } else if (imagesRequested) {
    imagesRequested = false;
    clearTimeout(pictureTimer);
    toPlugin({ method: 'stopSendingImages' });
  }
});

// A layout's places as rectangles [x, y, width, height] in fractions of the picture; [] when they are not
// four numbers each within the picture (the layout then has no picture and is still offered by number).
function readPlaces(places) {
  const inside = (p) => Array.isArray(p) && p.length === 4 && p.every((v) => Number.isFinite(v) && v >= 0 && v <= 1)
    && p[0] + p[2] <= 1 + 1e-9 && p[1] + p[3] <= 1 + 1e-9;
  return Array.isArray(places) && places.length <= kPlaces && places.every(inside) ? places : [];
}

async function readLayouts() {
  try {
    const response = await fetch(new URL('layouts.json', bundleFolder));
    const list = response.ok ? (await response.json())?.layouts : [];
    return Array.isArray(list)
      ? list.filter((l) => Number.isSafeInteger(l?.number) && typeof l.name === 'string')
        .map((l) => ({ number: l.number, name: l.name, places: readPlaces(l.places) }))
      : [];
  } catch {
    return [];
  }
}

const [t, layouts] = await Promise.all([loadTexts(bundleFolder, languageOf(launch.info)), readLayouts()]);
document.documentElement.lang = languageOf(launch.info);
document.title = t('inspector.title');
state.layouts = layouts;
view = createView(document.getElementById('inspector'), t, {
  edit,
  pickIcon,
  revert,
  takeFromDevice,
  invalidLayout() {
    state.layoutInvalid = true;
    render();
  },
  refresh: render,
});
render();
connection.open();
