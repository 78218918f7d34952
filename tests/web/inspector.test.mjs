// Unit tests of the inspector's own logic: preview BMP decoding and settings editing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodePreviewBmp } from '../../bundle/inspector/bmp.js';
import { describeSettings, displayName, editSettings, offeredDevices, shortenMiddle } from '../../bundle/inspector/settings.js';

const colour = (x, y) => [(x * 7) & 255, (y * 13) & 255, (x + y) & 255]; // r, g, b of the picture's (x, y)

// A 24-bit BMP of the test picture; rows padded to 4 bytes only when asked (the plug-in never pads).
function makeBmp(width, height, { padded = false, topDown = false } = {}) {
  const stride = padded ? (width * 3 + 3) & ~3 : width * 3;
  const bytes = new Uint8Array(54 + stride * height);
  const view = new DataView(bytes.buffer);
  bytes.set([66, 77]);
  view.setUint32(2, bytes.length, true);
  view.setUint32(10, 54, true);
  view.setUint32(14, 40, true);
  view.setInt32(18, width, true);
  view.setInt32(22, topDown ? -height : height, true);
  view.setUint16(26, 1, true);
  view.setUint16(28, 24, true);
  for (let row = 0; row < height; ++row) {
    const y = topDown ? row : height - 1 - row;
    for (let x = 0; x < width; ++x) {
      const [r, g, b] = colour(x, y);
      bytes.set([b, g, r], 54 + row * stride + x * 3);
    }
  }
  return Array.from(bytes); // as JSON.parse hands it over
}

function assertPicture(image, width, height) {
  assert.equal(image.width, width);
  assert.equal(image.height, height);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const at = (y * width + x) * 4;
      assert.deepEqual([...image.rgba.subarray(at, at + 4)], [...colour(x, y), 255], `pixel ${x},${y}`);
    }
  }
}

test('preview BMPs decode unsheared and upright at any width', () => {
  const cases = [[1, 1], [2, 3], [3, 2], [5, 4], [223, 3], [224, 2], [225, 3], [226, 1]];
  for (const [width, height] of cases) {
    assertPicture(decodePreviewBmp(makeBmp(width, height)), width, height);
    assertPicture(decodePreviewBmp(makeBmp(width, height, { topDown: true })), width, height);
    assertPicture(decodePreviewBmp(makeBmp(width, height, { padded: true })), width, height);
  }
  assertPicture(decodePreviewBmp(Uint8Array.from(makeBmp(7, 3))), 7, 3);
});

test('input that is not a whole 24-bit BMP is refused', () => {
  const good = makeBmp(5, 3);
  const patched = (at, values) => { const b = good.slice(); b.splice(at, values.length, ...values); return b; };
  const cases = {
    'nothing': undefined,
    'not an array': { length: 'many' },
    'one byte short': good.slice(0, -1),
    'no signature': patched(0, [0, 0]),
    '32 bits per pixel': patched(28, [32]),
    'compressed': patched(30, [1]),
    'zero width': patched(18, [0, 0, 0, 0]),
    'absurd height': patched(22, [0, 0, 0, 64]),
    'pixel offset inside the header': patched(10, [20]),
    'header byte out of range': patched(18, [300]),
    'header byte not a number': patched(18, ['5']),
  };
  for (const [name, input] of Object.entries(cases)) assert.equal(decodePreviewBmp(input), null, name);
});

const twoDevices = () => ({
  currentDevice: 'Brelvon 2',
  icon: '',
  extra: { kept: true },
  devices: [
    { deviceName: 'Brelvon', multiViewLayout: 100, multiViewSources: [1, 2, 3, 4], inputHasSignal: [true, true, true, true], toggle: false },
    { deviceName: 'Brelvon 2', multiViewLayout: 0, multiViewSources: [2, 1], inputHasSignal: [true, false, true, true], toggle: true },
  ],
});

test('an edit changes only the current device and returns the whole object', () => {
  const before = twoDevices();
  const snapshot = structuredClone(before);
  const cases = [
    [{ layout: 7 }, (s) => { s.devices[1].multiViewLayout = 7; }],
    [{ toggle: false }, (s) => { s.devices[1].toggle = false; }],
    // The device takes all four places at once: a short list is completed, place by place number.
    [{ place: 3, input: 1 }, (s) => { s.devices[1].multiViewSources = [2, 1, 3, 1]; }],
    [{ device: 'Brelvon' }, (s) => { s.currentDevice = 'Brelvon'; }],
    [{ icon: 'data:image/png;base64,AA==' }, (s) => { s.icon = 'data:image/png;base64,AA=='; }],
  ];
  for (const [edit, change] of cases) {
    const expected = twoDevices();
    change(expected);
    assert.deepEqual(editSettings(before, edit), expected, JSON.stringify(edit));
  }
  assert.deepEqual(before, snapshot, 'the settings given are left as they were');
});

test('edits that cannot reach a device are refused', () => {
  const cases = [
    [{}, { layout: 5 }],
    [{ currentDevice: 'Brelvon 9', devices: twoDevices().devices }, { place: 0, input: 2 }],
    [twoDevices(), { layout: 2 ** 32 }],
    [twoDevices(), { unknown: 1 }],
  ];
  for (const [settings, edit] of cases) assert.equal(editSettings(settings, edit), null, JSON.stringify(edit));
});

test('settings of the wrong shape read as the plug-in would read them', () => {
  const view = describeSettings({
    devices: ['junk', { deviceName: 'Brelvon', multiViewLayout: -3, multiViewSources: 'x', toggle: 1 }],
  });
  assert.equal(view.currentDevice, 'Brelvon');
  // The plug-in knows a device by its entry's position: the unreadable first entry is Brelvon's.
  assert.equal(view.current, 0);
  assert.deepEqual(view.devices[1], { index: 1, name: 'Brelvon 2', signal: [], inputs: 4, sources: [1, 2, 3, 4], layout: 100, toggle: false });
  assert.deepEqual(describeSettings(null).devices, []);
  assert.deepEqual(describeSettings({ devices: {} }).devices, []);
});

test('places offer only inputs the device has, whatever numbers the host sent', () => {
  const entry = (e) => describeSettings({ devices: [{ deviceName: 'Brelvon', ...e }] }).devices[0];
  const cases = [
    // [stored entry, inputs offered, the four places shown]
    [{ multiViewSources: [99, -3, 0, 2] }, 4, [4, 1, 1, 2]],
    [{ multiViewSources: [9, 4, 4, 4], inputHasSignal: [true, false, true] }, 3, [3, 3, 3, 4]],
    // Beyond a device's inputs, a place keeps an input number the device shows there (read back).
    [{ multiViewSources: [1, 2, 4, 3], inputHasSignal: [true, false] }, 2, [1, 2, 4, 3]],
    [{ multiViewSources: [1, 2, 9, 0], inputHasSignal: [true, false] }, 2, [1, 2, 2, 1]],
    [{ multiViewSources: [4, 4], inputHasSignal: [true] }, 1, [1, 4, 1, 1]],
    [{ multiViewSources: ['3', null, 2.9, true] }, 4, [1, 2, 2, 1]],
    [{ multiViewSources: [4294967298, -4294967295, 1e300, -1e300] }, 4, [4, 1, 4, 1]],
  ];
  for (const [stored, inputs, sources] of cases) {
    const got = entry(stored);
    assert.equal(got.inputs, inputs, JSON.stringify(stored));
    assert.deepEqual(got.sources.slice(0, 4), sources, JSON.stringify(stored));
  }
  // An edit writes the places as shown, so the device gets what the settings say.
  const edited = editSettings({ devices: [{ deviceName: 'Brelvon', multiViewSources: [99, 2], inputHasSignal: [true, true] }] },
    { place: 1, input: 1 });
  assert.deepEqual(edited.devices[0].multiViewSources, [2, 1, 2, 2]);
});

test('layouts beyond 32 bits saturate as the plug-in saturates them', () => {
  const layout = (v) => describeSettings({ devices: [{ deviceName: 'Brelvon', multiViewLayout: v }] }).devices[0].layout;
  assert.deepEqual([4294967297, 4294967295, 2 ** 60, -1, 2.5, '7', 0].map(layout), [4294967295, 4294967295, 4294967295, 100, 100, 100, 0]);
});

test('the device list offers known and detected devices; long names shorten in the middle', () => {
  const view = describeSettings({ currentDevice: 'x', devices: [{ deviceName: 'Brelvon' }] });
  assert.deepEqual(offeredDevices(view, ['Brelvon 2', 'Brelvon']), ['Brelvon', 'Brelvon 2']);
  assert.deepEqual(offeredDevices(view, null), ['Brelvon']);
  const long = `start-${'m'.repeat(200)}-end`;
  const short = shortenMiddle(long);
  assert.equal(Array.from(short).length, 32);
  assert.ok(short.startsWith('start-') && short.endsWith('-end') && short.includes('…'));
  assert.equal(shortenMiddle('a\u0000b\nc'), 'a\ufffdb\ufffdc');
  assert.equal(Array.from(shortenMiddle('🎥'.repeat(40))).length, 32, 'cut between characters, not inside one');
});

test('malformed device entries never offer one device twice', () => {
  const cases = [
    // [entries, detected, offered]
    [[{ deviceName: 'Brelvon' }, { deviceName: 'Brelvon' }], ['Brelvon', 'Brelvon 2'], ['Brelvon', 'Brelvon 2']],
    [[{ deviceName: 'Brelvon 2' }, 'junk', null, { deviceName: 7 }], ['Brelvon'], ['Brelvon', 'Brelvon 2', 'Brelvon 3', 'Brelvon 4']],
    [[], ['Brelvon', 'Brelvon', '', 3], ['Brelvon']],
  ];
  for (const [devices, detected, offered] of cases) {
    assert.deepEqual(offeredDevices(describeSettings({ devices }), detected), offered, JSON.stringify(devices));
  }
});

test('names with direction controls or right-to-left letters are shown isolated, the controls as marks', () => {
  const cases = [
    ['Brelvon 2', 'Brelvon 2'],
    // Reversed by an override it would read "Brelvon" and turn the words after it around.
    ['\u202enovlerB', '\u2068\ufffdnovlerB\u2069'],
    ['a\u2067b\u2069c\u200fd', '\u2068a\ufffdb\ufffdc\ufffdd\u2069'],
    ['מצלמה', '\u2068מצלמה\u2069'],
    ['كاميرا 1', '\u2068كاميرا 1\u2069'],
  ];
  for (const [name, shown] of cases) assert.equal(displayName(name), shown, JSON.stringify(name));
  const long = displayName(`\u202e${'x'.repeat(100)}`, 32);
  assert.ok(long.startsWith('\u2068\ufffd') && long.endsWith('\u2069') && Array.from(long).length === 34);
  assert.equal(shortenMiddle('a\u202eb'), 'a\ufffdb');
});

test('the preview says it waits until a picture comes, that none comes, and that an absent device is not connected', async () => {
  const { previewNote } = await import('../../bundle/inspector/view.js');
  const cases = [
    // [detected, a picture seen, none came in time, what is said]
    [null, false, false, 'inspector.previewWaiting'],
    [['Brelvon'], true, false, ''],
    [['Brelvon'], false, true, 'inspector.previewNone'],
    [['Brelvon'], true, true, 'inspector.previewNone'],
    [['Brelvon 2'], true, false, 'device.notConnected'],
    [[], false, true, 'device.notConnected'],
  ];
  for (const [detected, imageSeen, pictureLate, note] of cases) {
    assert.equal(previewNote({ detected, imageSeen, pictureLate }, 'Brelvon'), note,
      JSON.stringify([detected, imageSeen, pictureLate]));
  }
});

test('places without signal are found where the layout puts them', async () => {
  const { placesWithoutSignal } = await import('../../bundle/inspector/view.js');
  const at = (layout, inputs, signal) => placesWithoutSignal(layout, inputs, signal).map((m) => [m.place, m.input, m.box]);
  assert.deepEqual(at(100, [1, 2, 3, 4], [true, true, false, true]), [[2, 3, [0, 0.5, 0.5, 0.5]]]);
  assert.deepEqual(at(100, [3, 3, 1, 2], [true, true, false, true]), [[0, 3, [0, 0, 0.5, 0.5]], [1, 3, [0.5, 0, 0.5, 0.5]]]);
  assert.deepEqual(at(0, [3, 1, 2, 4], [true, true, false, true]), [[0, 3, [0, 0, 1, 1]]]);
  assert.deepEqual(at(0, [1, 3, 3, 3], [true, true, false, true]), [], 'only place 1 is on the picture');
  assert.deepEqual(at(7, [3, 3, 3, 3], [false, false, false, false]), [], 'a layout of unknown geometry');
  assert.deepEqual(at(100, [1, 2, 3, 4], [true, true]), [], 'inputs the flags do not cover are not marked');
});
