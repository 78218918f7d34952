// The development host's panel page: its WebSocket to pnx-devhost, the page state, and key presses.

import { createPanelView } from './panel-view.js';

async function loadTexts(lang) {
  const read = async (code) => {
    try {
      const response = await fetch(`/plugin/${encodeURIComponent(code)}.json`);
      const table = response.ok ? (await response.json())?.Localization : null;
      return table !== null && typeof table === 'object' && !Array.isArray(table) ? table : {};
    } catch {
      return {};
    }
  };
  const [english, own] = await Promise.all([read('en'), lang === 'en' ? {} : read(lang)]);
  const table = { ...english };
  for (const [key, text] of Object.entries(own)) if (typeof text === 'string') table[key] = text;
  return (key, vars = {}) => (typeof table[key] === 'string' ? table[key] : key)
    .replace(/\{(\w+)\}/g, (whole, name) => (name in vars ? String(vars[name]) : whole));
}

const state = { connected: false, panel: null };
let texts = { lang: '', t: (key) => key };
let socket = null;
let retryMs = 250;

const view = createPanelView(document.getElementById('panel-page'), {
  press: (key) => send({ event: 'keyDown', key }),
  release: (key) => send({ event: 'keyUp', key }),
  configure: (key) => send({ event: 'openInspector', key }),
  closeInspector: () => send({ event: 'closeInspector' }),
  setAction: (key, action) => send({ event: 'setAction', key, action }),
  plug: (device, plugged) => send({ event: 'plugDevice', device, plugged }),
  signal: (device, input, signal) => send({ event: 'setSignal', device, input, signal }),
});

function send(message) {
  if (socket?.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

async function render() {
  const lang = typeof state.panel?.language === 'string' && /^[a-z]{2,3}(-[A-Za-z0-9]{2,8})?$/.test(state.panel.language)
    ? state.panel.language : 'en';
  if (texts.lang !== lang) {
    texts = { lang, t: await loadTexts(lang) };
    document.documentElement.lang = lang;
  }
  view.render(state, texts.t);
}

// The address the host printed holds the run's token; it goes on to the WebSocket, where it is what lets a
// client that sends no Origin act as a panel.
const token = new URLSearchParams(location.search).get('token');
const socketUrl = `ws://${location.host}/${token ? `?token=${encodeURIComponent(token)}` : ''}`;

function connect() {
  const ws = new WebSocket(socketUrl);
  socket = ws;
  ws.onopen = () => {
    retryMs = 250;
    ws.send(JSON.stringify({ event: 'registerPanel' }));
    state.connected = true;
    render();
  };
  ws.onmessage = (event) => {
    let message;
    try {
      message = JSON.parse(event.data);
    } catch {
      return;
    }
    if (message?.event === 'panelState' && Array.isArray(message.keys)) {
      state.panel = message;
      render();
    }
  };
  ws.onclose = () => {
    if (socket !== ws) return;
    state.connected = false;
    render();
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 4000);
  };
}

render();
connect();
