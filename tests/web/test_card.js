// Reads the emulated device's test card from the inspector's preview canvas; run in the page by the browser
// tests (the page is not changed for it). The time code's geometry is the emulator's: one row of 28 blocks,
// each 1/40 of the picture wide and 1/24 high, centred, its middle one block height below the top edge; the
// blocks read white, black, white, black, then 20 bits of the capture time in milliseconds (highest first,
// white for 1), then black, white, black, white.

const kColumns = 40;
const kRows = 24;
const kCheck = 4;
const kBits = 20;
const kBlocks = kBits + 2 * kCheck;

// The capture time's low 20 bits from RGBA pixels (top row first), or null when the blocks are not a card's.
function readTimeCode(rgba, width, height) {
  const blockWidth = width / kColumns;
  const left = (width - kBlocks * blockWidth) / 2;
  const y = Math.floor(height / kRows);
  let bits = 0;
  for (let i = 0; i < kBlocks; ++i) {
    const x = Math.floor(left + (i + 0.5) * blockWidth);
    const at = (y * width + x) * 4;
    const level = (rgba[at] + rgba[at + 1] + rgba[at + 2]) / 3;
    if (level > 64 && level < 192) return null;
    const white = level >= 192;
    if (i < kCheck) {
      if (white !== (i % 2 === 0)) return null;
    } else if (i >= kBlocks - kCheck) {
      if (white !== (i % 2 === 1)) return null;
    } else {
      bits = bits * 2 + (white ? 1 : 0);
    }
  }
  return bits;
}

// Records the time code of every drawing onto `canvas` as it lands ({code}, null when unreadable) in
// window.testCardDraws. Wraps the 2D context's drawing calls in this document only.
function watchPreview(canvas) {
  const draws = [];
  const prototype = CanvasRenderingContext2D.prototype;
  for (const name of ['putImageData', 'drawImage']) {
    const original = prototype[name];
    prototype[name] = function (...args) {
      const result = original.apply(this, args);
      if (this.canvas === canvas) {
        const { data, width, height } = this.getImageData(0, 0, canvas.width, canvas.height);
        draws.push({ code: readTimeCode(data, width, height) });
      }
      return result;
    };
  }
  window.testCardDraws = draws;
}
