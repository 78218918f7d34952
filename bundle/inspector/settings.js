// The key's settings object: reading it for the view and producing the whole edited object to send.
// Functions here never change their argument; an edit returns a new object.

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

export const kPlaces = 4;
export const kMaxNameLength = 32;
export const kMaxSteps = 8;
export const kMinPictureRate = 1;
export const kMaxPictureRate = 10;
const kDefaultPictureRate = 2;
const kKeyPictures = ['live', 'inputs'];
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
    const storedNames = Array.isArray(e.inputNames) ? e.inputNames : [];
    const steps = storedSteps(e).map((s) => ({
      layout: layoutNumber(s.multiViewLayout),
      sources: fillPlaces(s.multiViewSources.map(sourceNumber), inputs).slice(0, kPlaces),
    }));
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
      // What the plug-in keeps of them: four texts, each cleaned and cut.
      names: Array.from({ length: kPlaces }, (_, k) => cleanName(storedNames[k])),
      steps,
      step: stepIndex(e.step, steps.length),
    };
  });
  const currentDevice = typeof s.currentDevice === 'string' ? s.currentDevice : kDefaultDevice;
  const current = devices.findIndex((d) => d.name === currentDevice);
  return {
    currentDevice, current, devices, icon: typeof s.icon === 'string' ? s.icon : '', showState: s.showState === true,
    keyPicture: kKeyPictures.includes(s.keyPicture) ? s.keyPicture : 'none',
    pictureRate: pictureRate(s.pictureRate),
  };
}

// What a name loses, as the plug-in cleans it: control characters, and those that would steer or break how
// the text around it is shown (direction controls, line and paragraph separators, the byte order mark).
export const kDroppedFromNames = /[\u0000-\u001f\u007f-\u009f\u061c\u200e\u200f\u2028-\u202e\u2066-\u2069\ufeff]/g;

// An input's name as the plug-in keeps it: text only, cleaned, at most 32 characters.
export function cleanName(name) {
  if (typeof name !== 'string') return '';
  return Array.from(name.replace(kDroppedFromNames, '')).slice(0, kMaxNameLength).join('');
}

// The steps as the plug-in reads them: the first eight objects with four sources of number type; others do
// not count (nor are they written back).
const isStep = (s) => isObject(s) && Array.isArray(s.multiViewSources) && s.multiViewSources.length >= kPlaces
  && s.multiViewSources.slice(0, kPlaces).every((v) => typeof v === 'number' || typeof v === 'boolean');
const storedSteps = (entry) => (Array.isArray(entry.steps) ? entry.steps.filter(isStep).slice(0, kMaxSteps) : []);

// The step the next press applies: one of the steps, 0 when "step" names none of them.
const stepIndex = (v, count) => (Number.isInteger(v) && v >= 0 && v < count ? v : 0);

function pictureRate(v) {
  if (typeof v !== 'number' || !Number.isFinite(v)) return kDefaultPictureRate;
  return Math.min(Math.max(Math.trunc(v), kMinPictureRate), kMaxPictureRate);
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
//   {showState: bool} | {keyPicture: 'none' | 'live' | 'inputs'} | {pictureRate: n} |
//   {inputName: k (0-based), name: text} | {addStep: true} | {removeStep: i} | {moveStep: i, by: -1 | 1} |
//   {selectStep: i}.
// Members the page does not know, "inputNamesStamp" among them, stay as they came.
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
  if ('keyPicture' in edit) {
    // "none" is the member's absence, so a key that never had a picture keeps its settings as they were.
    if (kKeyPictures.includes(edit.keyPicture)) next.keyPicture = edit.keyPicture;
    else delete next.keyPicture;
    return next;
  }
  if ('pictureRate' in edit) {
    next.pictureRate = pictureRate(edit.pictureRate);
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
  } else if ('inputName' in edit) {
    if (!Number.isInteger(edit.inputName) || edit.inputName < 0 || edit.inputName >= kPlaces) return null;
    const names = describeSettings(next).devices[current].names;
    names[edit.inputName] = cleanName(String(edit.name));
    entry.inputNames = names;
  } else if ('selectStep' in edit) {
    const step = describeSettings(next).devices[current].steps[edit.selectStep];
    if (!step) return null;
    entry.multiViewLayout = step.layout;
    entry.multiViewSources = step.sources;
  } else if (!editSteps(entry, describeSettings(next).devices[current], edit)) {
    return null;
  }
  return next;
}

// The step list's edits; "step" keeps naming the step it named (or, when that one goes, the one after it).
function editSteps(entry, shown, edit) {
  const steps = storedSteps(entry);
  let step = shown.step;
  if ('addStep' in edit) {
    if (steps.length >= kMaxSteps) return false;
    steps.push({ multiViewLayout: shown.layout, multiViewSources: shown.sources.slice(0, kPlaces) });
  } else if ('removeStep' in edit) {
    const i = edit.removeStep;
    if (!Number.isInteger(i) || i < 0 || i >= steps.length) return false;
    steps.splice(i, 1);
    if (step > i) step -= 1;
  } else if ('moveStep' in edit) {
    const i = edit.moveStep;
    const j = i + edit.by;
    if (!Number.isInteger(i) || Math.abs(edit.by) !== 1 || i < 0 || j < 0 || j >= steps.length) return false;
    [steps[i], steps[j]] = [steps[j], steps[i]];
    if (step === i) step = j;
    else if (step === j) step = i;
  } else {
    return false;
  }
  entry.steps = steps;
  entry.step = stepIndex(step, steps.length);
  return true;
}

// Equal settings, whatever order their members came in (the plug-in writes them back in its own order).
export function sameSettings(a, b) {
  const canonical = (v) => {
    if (Array.isArray(v)) return v.map(canonical);
    if (!isObject(v)) return v;
    return Object.fromEntries(Object.keys(v).sort().map((k) => [k, canonical(v[k])]));
  };
  return JSON.stringify(canonical(a)) === JSON.stringify(canonical(b));
}
