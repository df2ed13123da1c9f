// The worker's engine under node: the same three WebAssembly modules (their
// node build), files mounted with NODEFS and read, as in the worker, through
// file-blocks.js. For the tests and the decode benchmark.
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Engine } from '../src/engine.js';
import { BlockCache, readThrough } from '../src/file-blocks.js';

const require = createRequire(import.meta.url);
// ZORV_WASM_NODE: another build of the node modules (the benchmark's variants).
const wasm = process.env.ZORV_WASM_NODE ? path.resolve(process.env.ZORV_WASM_NODE) :
  path.join(path.dirname(fileURLToPath(import.meta.url)), '..', 'build', 'wasm', 'node');

// The reads the worker makes of a File, made of the file on disk.
export const blocks = new BlockCache((file, start, end) => {
  const bytes = new Uint8Array(end - start);
  const fd = fs.openSync(file.path, 'r');
  try {
    for (let done = 0, n; done < bytes.length; done += n) {
      n = fs.readSync(fd, bytes, done, bytes.length - done, start + done);
      if (n === 0) return bytes.subarray(0, done);
    }
  } finally {
    fs.closeSync(fd);
  }
  return bytes;
});

// One object per file, as the worker has one File: {path, size}.
const filesByNode = new WeakMap();
function fileOf(module, stream) {
  let file = filesByNode.get(stream.node);
  if (!file) {
    const realPath = module.FS.filesystems.NODEFS.realPath(stream.node);
    file = { path: realPath, size: fs.statSync(realPath).size };
    filesByNode.set(stream.node, file);
  }
  return file;
}

const readingModules = new WeakSet();

function mountFile(module, folder, file) {
  if (!readingModules.has(module)) {
    readThrough(module, blocks, 'NODEFS', (stream) => fileOf(module, stream));
    readingModules.add(module);
  }
  module.FS.mkdir(folder);
  module.FS.mount(module.FS.filesystems.NODEFS, { root: path.dirname(path.resolve(file)) }, folder);
  return folder + '/' + path.basename(file);
}

export function createEngine() {
  return Engine.create({
    ZorvPict: require(path.join(wasm, 'zorvpict.js')),
    ZorvPack: require(path.join(wasm, 'zorvpack.js')),
    ZorvHost: require(path.join(wasm, 'zorvhost.js')),
  }, mountFile);
}
