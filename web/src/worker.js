// The viewer's worker: all plug-in and host work, behind the message
// protocol of web/PROTOCOL.md. The page's thread only draws.
//
// Requests run one at a time, each in a task of its own, so that a cancel
// that arrives meanwhile is seen before the next one starts. Thumbnails wait
// behind everything else, those in view first, newest first (the rows in
// view were asked for last), and a cancelled one is dropped unseen.
import ZorvPict from '../build/wasm/browser/zorvpict.js';
import ZorvPack from '../build/wasm/browser/zorvpack.js';
import ZorvHost from '../build/wasm/browser/zorvhost.js';
import { Engine, PictureMode, printable, wireBuffers } from './engine.js';
import { BlockCache, CACHED_BETWEEN, readThrough } from './file-blocks.js';

// Each File is read where it lies: WORKERFS reads the pieces asked for
// through FileReaderSync (and file-blocks.js), never the whole file.
const reader = new FileReaderSync();
const blocks = new BlockCache((file, start, end) => new Uint8Array(reader.readAsArrayBuffer(file.slice(start, end))));
const readingModules = new WeakSet();

function mountFile(module, folder, file) {
  if (!readingModules.has(module)) {
    readThrough(module, blocks);
    readingModules.add(module);
  }
  module.FS.mkdir(folder);
  module.FS.mount(module.FS.filesystems.WORKERFS, { blobs: [{ name: 'file', data: file }] }, folder);
  return folder + '/file';
}

const enginePromise = Engine.create({ ZorvPict, ZorvPack, ZorvHost }, mountFile);
let engine = null;

// For the benchmark (bench/web_viewer_bench.mjs): the bytes of each
// module's WebAssembly memory, picture, archive and host.
self.zorvMemory = () => (engine?.modules ? engine.modules().map((module) => module.HEAPU8.length) : []);

const requests = [];    // everything but thumbnails, in order
const thumbnails = [];  // newest last, taken from the end
const cancelled = new Set();
let scheduled = false;

const wake = new MessageChannel();
wake.port1.onmessage = runNext;

function schedule() {
  if (scheduled || !engine) return;
  scheduled = true;
  wake.port2.postMessage(null);
}

function answer(message, transfer = []) {
  self.postMessage(message, transfer);
}

self.onmessage = (event) => {
  const request = event.data;
  if (request.op === 'cancel') {
    const queued = thumbnails.findIndex((r) => r.id === request.id);
    if (queued >= 0) thumbnails.splice(queued, 1);
    // A zip waits in the queue between its files: it stops before the next.
    else if (requests.some((r) => r.id === request.id && r.op === 'zip')) cancelled.add(request.id);
    return;
  }
  (request.op === 'thumbnail' ? thumbnails : requests).push(request);
  schedule();
};

enginePromise.then((ready) => {
  engine = ready;
  schedule();
}, (error) => {
  // Without the modules nothing can be done: every request says so.
  engine = { failed: 'the viewer could not start its WebAssembly modules: ' + error.message };
  schedule();
});

function runNext() {
  scheduled = false;
  const request = requests.length ? requests.shift() : nextThumbnail();
  if (!request) return;
  try {
    if (engine.failed) throw new Error(engine.failed);
    const step = handle(request);
    // A zip goes on after whatever else waits, one entry at a time.
    if (step) requests.push(step);
  } catch (error) {
    answer({ id: request.id, ok: false, error: error.message });
  }
  blocks.trim(CACHED_BETWEEN);
  if (requests.length || thumbnails.length) schedule();
}

// The newest of those in view, else the newest.
function nextThumbnail() {
  const inView = thumbnails.findLastIndex((r) => r.inView);
  return thumbnails.splice(inView >= 0 ? inView : thumbnails.length - 1, 1)[0];
}

function handle(request) {
  const { id } = request;
  switch (request.op) {
    case 'open': {
      try {
        const opened = engine.open(request.file, request.file.name);
        answer({ id, ok: true, fileId: opened.fileId, name: opened.name, info: opened.info, entries: opened.columns },
          wireBuffers(opened.columns));
      } catch (error) {
        answer({ id, ok: false, error: error.message || `${printable(request.file.name)}: cannot be read` });
      }
      return null;
    }
    case 'picture': {
      const p = engine.picture(request.fileId, request.index, PictureMode.rgba);
      answer({ id, ok: true, width: p.width, height: p.height, rgba: p.rgba, facts: p.facts, complete: p.complete,
        warnings: p.warnings }, [p.rgba]);
      return null;
    }
    case 'thumbnail': {
      const t = engine.picture(request.fileId, request.index, PictureMode.thumbnail, request.size || 128);
      pngUrl(t).then((image) => answer({ id, ok: true, width: t.width, height: t.height, image, complete: t.complete }),
        (error) => answer({ id, ok: false, error: `the thumbnail could not be made: ${error.message}` }));
      return null;
    }
    case 'audio': {
      const a = engine.audio(request.fileId, request.index);
      answer({ id, ok: true, wave: a.wave, playable: a.playable, rate: a.rate, channels: a.channels, bits: a.bits,
        seconds: a.seconds, peaks: a.peaks }, [a.wave, a.peaks.buffer, ...(a.playable ? [a.playable] : [])]);
      return null;
    }
    case 'preview': {
      answer({ id, ok: true, ...engine.preview(request.fileId, request.index) });
      return null;
    }
    case 'entry': {
      const e = engine.entryBytes(request.fileId, request.index);
      answer({ id, ok: true, name: e.name, path: e.path, bytes: e.bytes.buffer }, [e.bytes.buffer]);
      return null;
    }
    case 'png': {
      const p = engine.picture(request.fileId, request.index, PictureMode.png);
      answer({ id, ok: true, name: p.name, path: p.path, bytes: p.bytes, complete: p.complete, warnings: p.warnings },
        [p.bytes]);
      return null;
    }
    case 'outputs': {
      const o = engine.outputs(request.fileId);
      answer({ id, ok: true, texts: o.texts, starts: o.starts }, [o.texts.buffer, o.starts.buffer]);
      return null;
    }
    case 'glob': {
      const indices = engine.glob(request.fileId, request.pattern);
      answer({ id, ok: true, indices }, [indices.buffer]);
      return null;
    }
    case 'zip':
      return zipStep(request);
    case 'close': {
      const source = engine.files.get(request.fileId)?.source;
      engine.close(request.fileId);
      if (source) blocks.forget(source);
      answer({ id, ok: true });
      return null;
    }
    default:
      throw new Error('unknown request: ' + printable(request.op));
  }
}

// A thumbnail as a data: URL of a PNG, for an img element: the page shows
// images for less of its thread's time than canvases (which it hands to the
// compositor one by one), and loads data: URLs sooner than blob: URLs.
async function pngUrl({ width, height, rgba }) {
  const canvas = new OffscreenCanvas(width, height);
  canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(rgba), width, height), 0, 0);
  return reader.readAsDataURL(await canvas.convertToBlob({ type: 'image/png' }));
}

// One file of a zip stream; gives the request back while files remain.
function zipStep(request) {
  const { id } = request;
  if (cancelled.has(id)) {
    cancelled.delete(id);
    answer({ id, ok: false, error: 'cancelled' });
    return null;
  }
  const state = request.state || engine.zipBegin(request.fileId);
  const item = engine.zipNext(state);
  if (!item) {
    answer({ id, ok: true, done: true });
    return null;
  }
  if (item.error) answer({ id, ok: true, path: item.path, error: item.error });
  else answer({ id, ok: true, path: item.path, bytes: item.bytes.buffer }, [item.bytes.buffer]);
  return { ...request, state };
}
