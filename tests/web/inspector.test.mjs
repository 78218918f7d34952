// Unit tests of the inspector's own logic: preview BMP decoding and settings editing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodePreviewBmp } from '../../bundle/inspector/bmp.js';
import { describeSettings, displayName, editSettings, offeredDevices, sameSettings, shortenMiddle } from '../../bundle/inspector/settings.js';

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
  assert.deepEqual(view.devices[1], { index: 1, name: 'Brelvon 2', signal: [], inputs: 4, sources: [1, 2, 3, 4], layout: 100,
    toggle: false, names: ['', '', '', ''], steps: [], step: 0 });
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

test('places without signal or with a named input are found where the layout puts them', async () => {
  const { markedPlaces } = await import('../../bundle/inspector/view.js');
  const quarters = [[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]];
  const full = [[0, 0, 1, 1]];
  const at = (boxes, inputs, signal, names) =>
    markedPlaces(boxes, inputs, signal, names).map((m) => [m.place, m.input, m.box, m.noSignal, m.name]);
  const off3 = [true, true, false, true];
  assert.deepEqual(at(quarters, [1, 2, 3, 4], off3), [[2, 3, quarters[2], true, '']]);
  assert.deepEqual(at(quarters, [3, 3, 1, 2], off3), [[0, 3, quarters[0], true, ''], [1, 3, quarters[1], true, '']]);
  assert.deepEqual(at(full, [3, 1, 2, 4], off3), [[0, 3, full[0], true, '']]);
  assert.deepEqual(at(full, [1, 3, 3, 3], off3, ['', '', 'Cam', '']), [], 'only place 1 is on the picture');
  assert.deepEqual(at([], [3, 3, 3, 3], [false, false, false, false]), [], 'a layout of unknown geometry');
  assert.deepEqual(at(quarters, [1, 2, 3, 4], [true, true]), [], 'inputs the flags do not cover are not marked');
  assert.deepEqual(at(quarters, [4, 3, 2, 2], off3, ['', 'Host', 'Cam', '']),
    [[1, 3, quarters[1], true, 'Cam'], [2, 2, quarters[2], false, 'Host'], [3, 2, quarters[3], false, 'Host']]);
});

const oneDevice = (entry, top = {}) => ({ currentDevice: 'Brelvon', ...top, devices: [{ deviceName: 'Brelvon', ...entry }] });

test('input names are text of at most 32 characters without controls; other members stay as they came', () => {
  const cases = [
    // [stored names, edit (place, typed), names written]
    [undefined, [2, 'Camera'], ['', '', 'Camera', '']],
    [['a\u0000b', 7, null, 'd', 'fifth'], [0, 'x\ty\n'], ['xy', '', '', 'd']],
    [[], [3, `${'🎥'.repeat(40)}`], ['', '', '', '🎥'.repeat(32)]],
    [[], [1, '<b>\u202eBi\u2066di\u2028</b>\ufeff'], ['', '<b>Bidi</b>', '', '']],
    [['\u05de\u200f\u05e6'], [1, 'x'], ['\u05de\u05e6', 'x', '', '']],
  ];
  for (const [stored, [place, typed], written] of cases) {
    const before = oneDevice({ inputNames: stored, inputNamesStamp: 4, future: { x: 1 } }, { later: [1] });
    const after = editSettings(before, { inputName: place, name: typed });
    assert.deepEqual(after.devices[0].inputNames, written, JSON.stringify(stored));
    assert.deepEqual(describeSettings(after).devices[0].names, written);
    assert.equal(after.devices[0].inputNamesStamp, 4);
    assert.deepEqual([after.devices[0].future, after.later], [{ x: 1 }, [1]]);
  }
  assert.deepEqual(describeSettings(oneDevice({ inputNames: 'x'.repeat(10000) })).devices[0].names, ['', '', '', '']);
  assert.equal(describeSettings(oneDevice({ inputNames: ['x'.repeat(10000)] })).devices[0].names[0].length, 32);
  assert.equal(editSettings(oneDevice({}), { inputName: 4, name: 'x' }), null);
});

test('the step list keeps "step" naming a step through every edit', () => {
  const step = (layout, a) => ({ multiViewLayout: layout, multiViewSources: [a, 2, 3, 4] });
  const three = [step(100, 1), step(0, 2), step(100, 3)];
  const cases = [
    // [steps, step, edit, steps after (by their first input), step after]
    [[], undefined, { addStep: true }, [4], 0],
    [three, 2, { removeStep: 0 }, [2, 3], 1],
    [three, 1, { removeStep: 1 }, [1, 3], 1],
    [three, 2, { removeStep: 2 }, [1, 2], 0],
    [[step(0, 1)], 0, { removeStep: 0 }, [], 0],
    [three, 0, { moveStep: 0, by: 1 }, [2, 1, 3], 1],
    [three, 1, { moveStep: 0, by: 1 }, [2, 1, 3], 0],
    [three, 2, { moveStep: 2, by: -1 }, [1, 3, 2], 1],
    [three, 9, { addStep: true }, [1, 2, 3, 4], 0],
    // Steps the plug-in does not count are neither listed nor written back.
    [[three[0], 'junk', { multiViewSources: [1, 2, '3', 4] }, { multiViewSources: [1] }, ...three.slice(1)], 'x',
      { moveStep: 2, by: -1 }, [1, 3, 2], 0],
  ];
  for (const [steps, at, edit, firsts, next] of cases) {
    const after = editSettings(oneDevice({ multiViewSources: [4, 3, 2, 1], steps, step: at }), edit);
    const entry = after.devices[0];
    assert.deepEqual(entry.steps.map((s) => s?.multiViewSources?.[0]), firsts, JSON.stringify(edit));
    assert.equal(entry.step, next, JSON.stringify([at, edit]));
  }
  const full = oneDevice({ steps: Array.from({ length: 8 }, (_, i) => step(0, i % 4 + 1)) });
  for (const edit of [{ addStep: true }, { removeStep: 8 }, { moveStep: 0, by: -1 }, { moveStep: 7, by: 1 },
    { moveStep: 0, by: 2 }, { selectStep: 8 }]) {
    assert.equal(editSettings(full, edit), null, JSON.stringify(edit));
  }
  // Choosing a step makes it the form's layout and places, read as the plug-in reads them.
  const chosen = editSettings(oneDevice({ steps: [{ multiViewLayout: 0, multiViewSources: [9, true, -1, 2.5, 'x'] }] }),
    { selectStep: 0 }).devices[0];
  assert.deepEqual([chosen.multiViewLayout, chosen.multiViewSources], [0, [4, 1, 1, 2]]);
});

test('the key picture is absent for none and its rate is written only when chosen', () => {
  const before = oneDevice({}, { showState: true });
  assert.deepEqual(editSettings(before, { keyPicture: 'live' }), { ...before, keyPicture: 'live' });
  assert.deepEqual(editSettings({ ...before, keyPicture: 'inputs' }, { keyPicture: 'none' }), before);
  assert.deepEqual(editSettings(before, { pictureRate: 7 }), { ...before, pictureRate: 7 });
  const read = (v) => describeSettings({ keyPicture: 'live', pictureRate: v }).pictureRate;
  assert.deepEqual([undefined, 0, 1, 10, 11, 3.7, '5', true].map(read), [2, 1, 1, 10, 10, 3, 2, 2]);
  assert.deepEqual(['live', 'inputs', 'Live', 1, undefined].map((v) => describeSettings({ keyPicture: v }).keyPicture),
    ['live', 'inputs', 'none', 'none', 'none']);
});

test('settings compare equal whatever order their members came in', () => {
  assert.ok(sameSettings({ a: 1, b: { c: [1, { d: 2, e: 3 }] } }, { b: { c: [1, { e: 3, d: 2 }] }, a: 1 }));
  assert.ok(!sameSettings({ a: [1, 2] }, { a: [2, 1] }));
  assert.ok(!sameSettings({ a: 1 }, { a: 1, b: 0 }));
});
