// The inspector's link to the host: launch parameters from the URL, one WebSocket, registration, reconnection.

const parseObject = (text) => {
  try {
    const v = JSON.parse(text ?? '');
    return v !== null && typeof v === 'object' && !Array.isArray(v) ? v : {};
  } catch {
    return {};
  }
};

// The host hands the inspector its connection in the query string.
export function readLaunchParameters(search) {
  const q = new URLSearchParams(search);
  const port = Number(q.get('port'));
  return {
    port: Number.isInteger(port) && port > 0 && port < 65536 ? port : 0,
    uuid: q.get('uuid') ?? '',
    registerEvent: q.get('registerEvent') || 'registerPropertyInspector',
    info: parseObject(q.get('info')),
    actionInfo: parseObject(q.get('actionInfo')),
    token: q.get('token') ?? '',  // the development host's proof of a page it launched; other hosts give none
  };
}

const kFirstRetryMs = 250;
const kLastRetryMs = 4000;

// Calls onStatus('connecting' | 'connected' | 'disconnected'), onOpen() after each registration, and
// onMessage(message, arrivalMs) for every text message that is a JSON object with a string "event".
export class HostConnection {
  constructor(launch, { onStatus, onOpen, onMessage }) {
    this.launch = launch;
    this.handlers = { onStatus, onOpen, onMessage };
    this.socket = null;
    this.retryMs = kFirstRetryMs;
  }

  open() {
    if (!this.launch.port) {
      this.handlers.onStatus('disconnected');
      return;
    }
    this.handlers.onStatus('connecting');
    const query = this.launch.token ? `/?token=${encodeURIComponent(this.launch.token)}` : '';
    const socket = new WebSocket(`ws://127.0.0.1:${this.launch.port}${query}`);
    this.socket = socket;
    socket.onopen = () => {
      this.retryMs = kFirstRetryMs;
      socket.send(JSON.stringify({ event: this.launch.registerEvent, uuid: this.launch.uuid }));
      this.handlers.onStatus('connected');
      this.handlers.onOpen();
    };
    socket.onmessage = (event) => {
      const arrival = performance.now();
      if (typeof event.data !== 'string') return;
      let message;
      try {
        message = JSON.parse(event.data);
      } catch {
        return;
      }
      if (message === null || typeof message !== 'object' || typeof message.event !== 'string') return;
      this.handlers.onMessage(message, arrival);
    };
    socket.onclose = () => {
      if (this.socket !== socket) return;
      this.socket = null;
      this.handlers.onStatus('disconnected');
      setTimeout(() => this.open(), this.retryMs);
      this.retryMs = Math.min(this.retryMs * 2, kLastRetryMs);
    };
  }

  // False when the message could not be handed to an open socket.
  send(message) {
    if (!this.socket || this.socket.readyState !== WebSocket.OPEN) return false;
    this.socket.send(JSON.stringify(message));
    return true;
  }
}
