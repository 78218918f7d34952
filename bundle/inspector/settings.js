// The key's settings object: reading it for the view and producing the whole edited object to send.
// Functions here never change their argument; an edit returns a new object.

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

export const kPlaces = 4;
const kDefaultDevice = 'Brelvon';
const kDefaultLayout = 100;
const kMaxLayout = 0xffffffff;

// A number from the host as the plug-in reads it: integers and fractions (toward zero) saturate at the 32-bit
// limits, booleans are 1 or 0; anything else is NaN (the plug-in would not take it).
function sourceNumber(v) {
  if (typeof v === 'boolean') return v ? 1 : 0;
  if (typeof v !== 'number' || Number.isNaN(v)) return Number.NaN;
  return Math.min(Math.max(Math.trunc(v), -0x80000000), 0x7fffffff);
}

// The layout the plug-in takes from a stored value: a non-negative integer, saturated at 32 bits.
function layoutNumber(v) {
  return Number.isInteger(v) && v >= 0 ? Math.min(v, kMaxLayout) : kDefaultLayout;
}

// What the view needs to know, with every field of another type replaced by what the plug-in would assume.
export function describeSettings(settings) {
  const s = isObject(settings) ? settings : {};
  const entries = Array.isArray(s.devices) ? s.devices : [];
  const devices = entries.map((entry, index) => {
    const e = isObject(entry) ? entry : {};
    // A device has at most four inputs; the flags say how many it has (four when they do not say).
    const signal = Array.isArray(e.inputHasSignal) ? e.inputHasSignal.slice(0, kPlaces).map((v) => v === true) : [];
    const inputs = signal.length || kPlaces;
    const sources = Array.isArray(e.multiViewSources) ? e.multiViewSources.map(sourceNumber) : [];
    return {
      index,
      // The plug-in knows a device by its entry's position, whatever name the entry carries; so does the
      // page, and two entries can never stand for one device.
      name: deviceNameAt(index),
      signal,
      inputs,
      sources: fillPlaces(sources, inputs),
      layout: layoutNumber(e.multiViewLayout),
      toggle: e.toggle === true,
    };
  });
  const currentDevice = typeof s.currentDevice === 'string' ? s.currentDevice : kDefaultDevice;
  const current = devices.findIndex((d) => d.name === currentDevice);
  return { currentDevice, current, devices, icon: typeof s.icon === 'string' ? s.icon : '', showState: s.showState === true };
}

// The name the plug-in gives the device of an entry: "Brelvon", "Brelvon 2", ...
export const deviceNameAt = (index) => (index === 0 ? kDefaultDevice : `${kDefaultDevice} ${index + 1}`);

// Four places, each an input the device has, as the plug-in fits them before the device gets them; missing or
// unreadable ones show the input of their own number (as a device would start out), or its last input. A place
// beyond a device's inputs that holds one of the four input numbers is what the device shows there (the
// plug-in reads it back for a key without sources) and stays as it is until an edit fits it.
function fillPlaces(sources, inputs) {
  const out = [];
  for (let k = 0; k < kPlaces; ++k) {
    const stored = !Number.isNaN(sources[k]) && sources[k] !== undefined;
    const v = stored ? sources[k] : k + 1;
    out.push(stored && k >= inputs && v > inputs && v <= kPlaces ? v : Math.min(Math.max(v, 1), inputs));
  }
  return out.concat(sources.slice(kPlaces).filter((v) => !Number.isNaN(v)));
}

// The devices the Device list offers: those the settings know, then detected ones they do not know yet.
export function offeredDevices(view, detected) {
  const names = [];
  for (const name of [...view.devices.map((d) => d.name), ...(Array.isArray(detected) ? detected : [])]) {
    if (typeof name === 'string' && name !== '' && !names.includes(name)) names.push(name);
  }
  return names;
}

// Controls that change the direction of the text around them; shown as marks, they can neither reverse
// what follows nor make one name look like another.
const kBidiControls = /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
const kOtherControls = /[\u0000-\u001f\u007f-\u009f]/g;
// Letters written right to left (Hebrew, Arabic and their neighbours, and their presentation forms).
const kRightToLeft = /[\u0590-\u08ff\ufb1d-\ufdff\ufe70-\ufefc]|[\u{10800}-\u{10fff}\u{1e800}-\u{1efff}]/u;

// A name as the page shows it: controls as visible marks, and set apart from the text around it (first
// strong isolate) when it holds controls or right-to-left letters, so a label's own words keep their places.
export function displayName(name, max = Infinity) {
  const text = String(name);
  const isolate = kRightToLeft.test(text) || /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/.test(text);
  const shown = shortenMiddle(text, max);
  return isolate ? `\u2068${shown}\u2069` : shown;
}

// A long name shortened in the middle, so both its start and its end stay readable.
export function shortenMiddle(name, max = 32) {
  const chars = Array.from(String(name).replace(kOtherControls, '\ufffd').replace(kBidiControls, '\ufffd'));
  if (chars.length <= max) return chars.join('');
  const head = Math.ceil((max - 1) / 2);
  return `${chars.slice(0, head).join('')}…${chars.slice(chars.length - (max - 1 - head)).join('')}`;
}

const copy = (settings) => (isObject(settings) ? structuredClone(settings) : {});

// Edits of the current device's entry. `edit` is one of
//   {device: name} | {layout: n} | {place: k (0-based), input: n} | {toggle: bool} | {icon: dataUrl} |
//   {showState: bool}.
// Returns the whole new settings object, or null when the edit cannot apply (no such device entry).
export function editSettings(settings, edit) {
  const next = copy(settings);
  if ('device' in edit) {
    next.currentDevice = String(edit.device);
    return next;
  }
  if ('icon' in edit) {
    next.icon = String(edit.icon);
    return next;
  }
  if ('showState' in edit) {
    next.showState = edit.showState === true;
    return next;
  }
  const { current } = describeSettings(next);
  if (current < 0) return null;
  const entry = isObject(next.devices[current]) ? next.devices[current] : {};
  next.devices[current] = entry;
  if ('layout' in edit) {
    if (!Number.isSafeInteger(edit.layout) || edit.layout < 0 || edit.layout > 0xffffffff) return null;
    entry.multiViewLayout = edit.layout;
  } else if ('place' in edit) {
    // The device takes four places at once; a shorter list would not reach it.
    const sources = describeSettings(next).devices[current].sources;
    sources[edit.place] = edit.input;
    entry.multiViewSources = sources;
  } else if ('toggle' in edit) {
    entry.toggle = edit.toggle === true;
  } else {
    return null;
  }
  return next;
}
