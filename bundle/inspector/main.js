// The property inspector: wires the connection, the settings and the preview to the view.

import { HostConnection, readLaunchParameters } from './connection.js';
import { decodePreviewBmp } from './bmp.js';
import { readDetected, readInputSignals } from './device_status.js';
import { loadTexts, languageOf } from './i18n.js';
import { editSettings } from './settings.js';
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
};

let view = null;
const render = () => view?.render(state);

const connection = new HostConnection(launch, {
  onStatus(status) {
    state.status = status;
    render();
  },
  onOpen() {
    imagesRequested = false;
    requestImagesWhenShown();
    toPlugin({ method: 'getDeviceStatus' });
  },
  onMessage(message, arrival) {
    if (message.event === 'didReceiveSettings') {
      const settings = message.payload?.settings;
      if (settings !== null && typeof settings === 'object' && !Array.isArray(settings)) {
        state.settings = settings;
        render();
      }
    } else if (message.event === 'sendToPropertyInspector') {
      const detected = readDetected(message.payload);
      if (detected) {
        state.detected = detected;
        render();
        return;
      }
      const signals = readInputSignals(message.payload);
      if (signals) {
        state.signals = { ...state.signals, [signals.device]: signals.signals };
        render();
        return;
      }
      const image = decodePreviewBmp(message.payload?.imageData);
      if (image && view) {
        view.drawPreview(image);
        if (!state.imageSeen) {
          state.imageSeen = true;
          render();
        }
        // Lets a profiler (or a test) see how long an image took from arrival to canvas; kept out of the buffer.
        performance.measure('preview-drawn', { start: arrival, end: performance.now() });
        performance.clearMeasures('preview-drawn');
      }
    }
  },
});

function edit(change) {
  const next = editSettings(state.settings, change);
  if (!next) return;
  state.settings = next;
  state.iconError = '';
  if ('icon' in change && change.icon === '') state.iconName = '';
  render();
  connection.send({ event: 'setSettings', context: launch.uuid, payload: next });
}

function pickIcon(file) {
  if (!file.type.startsWith('image/') || file.size > kMaxIconBytes) {
    state.iconError = file.size > kMaxIconBytes ? 'inspector.iconTooLarge' : 'inspector.iconNotImage';
    render();
    return;
  }
  const reader = new FileReader();
  reader.onload = () => {
    if (typeof reader.result !== 'string') return;
    state.iconName = file.name;
    edit({ icon: reader.result });
  };
  reader.readAsDataURL(file);
}

const toPlugin = (payload) =>
  connection.send({ event: 'sendToPlugin', action: launch.actionInfo.action ?? '', context: launch.uuid, payload });

// Images only while the page can be seen: a hidden page stops them, so the device is not captured for nothing.
let imagesRequested = false;
function requestImagesWhenShown() {
  if (imagesRequested || document.visibilityState !== 'visible') return;
  imagesRequested = toPlugin({ method: 'startSendingImages', imageWidth: kPreviewWidth, imageHeight: kPreviewHeight });
}
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') {
    requestImagesWhenShown();
  } else if (imagesRequested) {
    imagesRequested = false;
    toPlugin({ method: 'stopSendingImages' });
  }
});

async function readLayouts() {
  try {
    const response = await fetch(new URL('layouts.json', bundleFolder));
    const list = response.ok ? (await response.json())?.layouts : [];
    return Array.isArray(list)
      ? list.filter((l) => Number.isSafeInteger(l?.number) && typeof l.name === 'string')
      : [];
  } catch {
    return [];
  }
}

const [t, layouts] = await Promise.all([loadTexts(bundleFolder, languageOf(launch.info)), readLayouts()]);
document.documentElement.lang = languageOf(launch.info);
document.title = t('inspector.title');
state.layouts = layouts;
view = createView(document.getElementById('inspector'), t, { edit, pickIcon });
render();
connection.open();
