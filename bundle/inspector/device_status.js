// Which configured devices are connected, as the plug-in reports on request ("getDeviceStatus"), and the
// signal of their inputs as it reports changes. Until its first report nothing is marked, so a plug-in that
// never answers leaves the view as it always was.

// The device names of a "deviceStatus" payload, or null when the payload is not one.
export function readDetected(payload) {
  const list = payload?.deviceStatus?.detected;
  return Array.isArray(list) ? list.filter((name) => typeof name === 'string') : null;
}

// {device, signals} of an "inputSignals" payload (the signal locks of one device's inputs), or null.
export function readInputSignals(payload) {
  const report = payload?.inputSignals;
  if (typeof report?.device !== 'string' || !Array.isArray(report.signals)) return null;
  return { device: report.device, signals: report.signals.map((v) => v === true) };
}

// The display names of the locked devices of a "deviceLocks" payload, or null when the payload is not one.
export function readLocks(payload) {
  const list = payload?.deviceLocks?.locked;
  return Array.isArray(list) ? list.filter((name) => typeof name === 'string') : null;
}

// The answer to "takeFromDevice": {settings} written back, {error}, or null when the payload is not one.
export function readTaken(payload) {
  const taken = payload?.takenFromDevice;
  if (taken === null || typeof taken !== 'object') return null;
  const { settings } = taken;
  if (settings !== null && typeof settings === 'object' && !Array.isArray(settings)) return { settings };
  return { error: typeof taken.error === 'string' ? taken.error : 'unavailable' };
}

import { displayName } from './settings.js';

const isAbsent = (name, detected) => Array.isArray(detected) && !detected.includes(name);

// The Device list's text for a configured device.
export const deviceLabel = (t, name, detected) =>
  (isAbsent(name, detected) ? `${displayName(name)} (${t('device.notConnected')})` : displayName(name));

// The status line under the Device list: empty unless the selected device is configured but absent.
export const absentNote = (t, name, detected) =>
  (isAbsent(name, detected) ? t('device.absentNote', { name: displayName(name) }) : '');
