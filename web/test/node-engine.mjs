// The worker's engine under node: the same three WebAssembly modules (their
// node build), files mounted with NODEFS. For the tests and the decode
// benchmark.
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Engine } from '../src/engine.js';

const require = createRequire(import.meta.url);
// ZORV_WASM_NODE: another build of the node modules (the benchmark's variants).
const wasm = process.env.ZORV_WASM_NODE ? path.resolve(process.env.ZORV_WASM_NODE) :
  path.join(path.dirname(fileURLToPath(import.meta.url)), '..', 'build', 'wasm', 'node');

function mountFile(module, folder, file) {
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
