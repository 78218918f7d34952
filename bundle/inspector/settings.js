// The key's settings object: reading it for the view and producing the whole edited object to send.
// Functions here never change their argument; an edit returns a new object.

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

export const kPlaces = 4;
const kDefaultDevice = 'Brelvon';
const kDefaultLayout = 100;

// What the view needs to know, with every field of another type replaced by what the plug-in would assume.
export function describeSettings(settings) {
  const s = isObject(settings) ? settings : {};
  const entries = Array.isArray(s.devices) ? s.devices : [];
  const devices = entries.map((entry, index) => {
    const e = isObject(entry) ? entry : {};
    const signal = Array.isArray(e.inputHasSignal) ? e.inputHasSignal.map((v) => v === true) : [];
    const sources = Array.isArray(e.multiViewSources) ? e.multiViewSources.map(Number) : [];
    const layout = e.multiViewLayout;
    return {
      index,
      name: typeof e.deviceName === 'string' ? e.deviceName : '',
      signal,
      sources: fillPlaces(sources),
      layout: Number.isSafeInteger(layout) && layout >= 0 ? layout : kDefaultLayout,
      toggle: e.toggle === true,
    };
  });
  const currentDevice = typeof s.currentDevice === 'string' ? s.currentDevice : kDefaultDevice;
  const current = devices.findIndex((d) => d.name === currentDevice);
  return { currentDevice, current, devices, icon: typeof s.icon === 'string' ? s.icon : '', showState: s.showState === true };
}

// Four places, the missing ones showing the input of their own number (as a device would start out).
function fillPlaces(sources) {
  const out = sources.slice(0, kPlaces).map((v) => (Number.isFinite(v) ? Math.trunc(v) : 0));
  for (let k = out.length; k < kPlaces; ++k) out.push(k + 1);
  return out.concat(sources.slice(kPlaces));
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
