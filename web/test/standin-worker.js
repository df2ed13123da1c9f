// A stand-in for the real worker that answers the protocol with made-up
// data, for working on the page alone: `node build.mjs OUT --worker
// test/standin-worker.js`. NAME.dat is an archive (NAME-12345.dat has 12345
// entries), NAME.bmp a picture, anything else is refused.
const files = new Map();
let nextFileId = 1;
const cancelled = new Set();

function entriesFor(count) {
  const kinds = ['picture', 'audio', 'file'];
  return Array.from({ length: count }, (_, i) => {
    const kind = kinds[i % 3];
    const name = kind === 'picture' ? `CG${i}.BMP` : kind === 'audio' ? `SE${i}.PW` : `DATA${i}.TXT`;
    return { index: i, position: 16 + i * 100, stored: 100, delivered: kind === 'audio' ? 246 : 100, kind, name,
      output: kind === 'audio' ? `SE${i}.wav` : name, png: kind === 'picture' ? `CG${i}.png` : undefined };
  });
}

function pixels(width, height, seed) {
  const rgba = new Uint8ClampedArray(width * height * 4);
  for (let y = 0; y < height; y++) for (let x = 0; x < width; x++) {
    const at = (y * width + x) * 4;
    rgba[at] = (x * 255) / width;
    rgba[at + 1] = (y * 255) / height;
    rgba[at + 2] = (seed * 37) & 255;
    rgba[at + 3] = 255;
  }
  return rgba.buffer;
}

function wave(seconds, rate) {
  const samples = Math.floor(seconds * rate);
  const buffer = new ArrayBuffer(44 + samples * 2);
  const view = new DataView(buffer);
  const text = (at, s) => [...s].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, 'RIFF'); view.setUint32(4, 36 + samples * 2, true); text(8, 'WAVEfmt ');
  view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
  view.setUint32(24, rate, true); view.setUint32(28, rate * 2, true); view.setUint16(32, 2, true); view.setUint16(34, 16, true);
  text(36, 'data'); view.setUint32(40, samples * 2, true);
  for (let i = 0; i < samples; i++) view.setInt16(44 + i * 2, Math.sin(i / 10) * 8000 * Math.sin(i / 4000), true);
  return buffer;
}

const ops = {
  open({ file }) {
    const name = file.name;
    const archive = /\.dat$/i.test(name);
    if (!archive && !/\.bmp$/i.test(name)) throw new Error(`${name}: not a ZORVAN picture or archive`);
    const fileId = nextFileId++;
    const count = archive ? Number(/-(\d+)\.dat$/i.exec(name)?.[1] ?? 40) : 1;
    const entries = archive ? entriesFor(count) : [{ index: 0, position: 0, stored: file.size, delivered: 49206, kind: 'picture', name, output: name, png: name.replace(/\.bmp$/i, '.png') }];
    files.set(fileId, { name, entries });
    const info = archive
      ? { type: 'archive', signature: 'ZRV01', entries: count, audio_entries: Math.floor((count + 1) / 3), picture_entries: Math.ceil(count / 3), stored_total: count * 100, delivered_total: count * 150 }
      : { type: 'picture', signature: 'B1', width: 128, height: 96, top_down: false, bit_count: 24, compression: 'none', packed_size: file.size, unpacked_size: 36918 };
    return [{ fileId, name, info, entries }];
  },
  picture({ fileId, index }) {
    const rgba = pixels(128, 96, index);
    return [{ width: 128, height: 96, rgba, complete: index % 2 === 0, warnings: [],
      facts: { width: 128, height: 96, bit_count: 24, top_down: false, signature: 'B1', packed_size: 400, unpacked_size: 36918, compression: 'none' } }, [rgba]];
  },
  thumbnail({ index, size }) {
    const rgba = pixels(size, Math.round(size * 0.75), index);
    return [{ width: size, height: Math.round(size * 0.75), rgba }, [rgba]];
  },
  audio() {
    const w = wave(2, 22050);
    const peaks = new Float32Array(2000);
    for (let i = 0; i < 1000; i++) { const a = Math.abs(Math.sin(i / 160)) * 0.25; peaks[i * 2] = -a; peaks[i * 2 + 1] = a; }
    return [{ wave: w, rate: 22050, channels: 1, bits: 16, seconds: 2, peaks }, [w]];
  },
  preview({ index }) {
    return [index % 2 ? { text: 'テキスト\r\nREADME\r\n', size: 20 } : { hex: '00000000  00 01 02 03  |....|', size: 4 }];
  },
  entry({ fileId, index }) {
    const e = files.get(fileId).entries[index];
    return [{ name: e.output.split('/').pop(), bytes: new TextEncoder().encode(e.name).buffer }];
  },
  png({ fileId, index }) {
    return [{ name: files.get(fileId).entries[index].png, bytes: new Uint8Array([137, 80, 78, 71]).buffer }];
  },
  glob({ fileId, pattern }) {
    const needle = pattern.replaceAll('*', '').toLowerCase();
    const indices = Uint32Array.from(files.get(fileId).entries.filter((e) => e.name.toLowerCase().includes(needle)).map((e) => e.index));
    return [{ indices }, [indices.buffer]];
  },
  close({ fileId }) {
    files.delete(fileId);
    return [{}];
  },
};

self.onmessage = async ({ data }) => {
  const { id, op } = data;
  if (op === 'cancel') return void cancelled.add(data.id);
  if (op === 'zip') {
    for (const e of files.get(data.fileId).entries.slice(0, 50)) {
      self.postMessage({ id, ok: true, path: e.output, bytes: new TextEncoder().encode(e.name).buffer });
    }
    return void self.postMessage({ id, ok: true, done: true });
  }
  await new Promise((resolve) => setTimeout(resolve, op === 'thumbnail' ? 5 : 0));
  if (cancelled.delete(id)) return;
  try {
    const [answer, transfer = []] = ops[op](data);
    self.postMessage({ id, ok: true, ...answer }, transfer);
  } catch (error) {
    self.postMessage({ id, ok: false, error: error.message });
  }
};
