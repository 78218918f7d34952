// Decoding of the plug-in's preview images: 24-bit BMP whose rows are NOT padded to four bytes.

const kMaxSide = 4096;

function u8(bytes, at) {
  const v = bytes[at];
  return Number.isInteger(v) && v >= 0 && v <= 255 ? v : -1;
}

// Little-endian field; -1 when a byte is missing or not a byte.
function u32(bytes, at) {
  let v = 0;
  for (let i = 3; i >= 0; --i) {
    const b = u8(bytes, at + i);
    if (b < 0) return -1;
    v = v * 256 + b;
  }
  return v;
}

const s32 = (v) => (v >= 0x80000000 ? v - 0x100000000 : v);

// bytes: any array-like of numbers (the parsed "imageData" array or a Uint8Array).
// Returns {width, height, rgba: Uint8ClampedArray (top row first)} or null when the input is not a 24-bit
// uncompressed BMP or is shorter than its header promises. Rows are read unpadded unless the data is exactly
// the padded size, so a standard BMP of the same picture decodes too.
export function decodePreviewBmp(bytes) {
  if (!bytes || typeof bytes.length !== 'number' || bytes.length < 54) return null;
  if (u8(bytes, 0) !== 66 || u8(bytes, 1) !== 77) return null;
  const offset = u32(bytes, 10);
  const infoSize = u32(bytes, 14);
  const width = s32(u32(bytes, 18));
  const rawHeight = u32(bytes, 22);
  const planesAndBits = u32(bytes, 26);
  const compression = u32(bytes, 30);
  if (infoSize < 40 || offset < 14 + infoSize || rawHeight < 0 || planesAndBits !== (24 << 16 | 1) || compression !== 0) {
    return null;
  }
  const signedHeight = s32(rawHeight);
  const height = Math.abs(signedHeight);
  if (width <= 0 || width > kMaxSide || height === 0 || height > kMaxSide) return null;

  const tight = width * 3;
  const padded = (tight + 3) & ~3;
  const available = bytes.length - offset;
  const stride = available === padded * height ? padded : tight;
  if (available < stride * height) return null;

  const rgba = new Uint8ClampedArray(width * height * 4);
  const bottomUp = signedHeight > 0;
  for (let y = 0; y < height; ++y) {
    let src = offset + (bottomUp ? height - 1 - y : y) * stride;
    let dst = y * width * 4;
    for (let x = 0; x < width; ++x, src += 3, dst += 4) {
      rgba[dst] = bytes[src + 2];
      rgba[dst + 1] = bytes[src + 1];
      rgba[dst + 2] = bytes[src];
      rgba[dst + 3] = 255;
    }
  }
  return { width, height, rgba };
}
