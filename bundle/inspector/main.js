// The property inspector: wires the connection, the settings and the preview to the view.

import { HostConnection, readLaunchParameters } from './connection.js';
import { decodePreviewBmp } from './bmp.js';
import { readDetected } from './device_status.js';
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
  detected: null,  // names of the connected devices, once the plug-in has said
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
    connection.send({
      event: 'sendToPlugin',
      action: launch.actionInfo.action ?? '',
      context: launch.uuid,
      payload: { method: 'getDeviceStatus' },
    });
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
      const image = decodePreviewBmp(message.payload?.imageData);
      if (image && view) {
        view.drawPreview(image);
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
    if (typeof reader.result === 'string') edit({ icon: reader.result });
  };
  reader.readAsDataURL(file);
}

let imagesRequested = false;
function requestImagesWhenShown() {
  if (imagesRequested || document.visibilityState !== 'visible') return;
  imagesRequested = connection.send({
    event: 'sendToPlugin',
    action: launch.actionInfo.action ?? '',
    context: launch.uuid,
    payload: { method: 'startSendingImages', imageWidth: kPreviewWidth, imageHeight: kPreviewHeight },
  });
}
document.addEventListener('visibilitychange', requestImagesWhenShown);

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
