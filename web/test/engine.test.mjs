// The worker's engine against zorv, differentially: the same plug-in and
// host code, as WebAssembly under node, must say and deliver exactly what
// the native zorv says and writes for the project's fixtures, the fuzzing
// seeds and the hostile archives.
//
//   node --test web/test/          (after web/build-wasm.sh and the native build)
// ZORV_BUILD names the native build folder (default build/native).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { PictureMode, readWave } from '../src/engine.js';
import { createEngine } from './node-engine.mjs';
import { BLOCK_MAX, BLOCK_MIN, BlockCache } from '../src/file-blocks.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const build = path.resolve(root, process.env.ZORV_BUILD || 'build/native');
const zorvProgram = path.join(build, 'cli', 'zorv');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zorv-web-'));

function zorv(args, cwd) {
  const run = spawnSync(zorvProgram, args, { cwd, encoding: 'buffer', maxBuffer: 1 << 28 });
  return { code: run.status, out: run.stdout.toString(), err: run.stderr.toString() };
}

function make(program, ...args) {
  execFileSync(path.join(build, program), args, { cwd: work, stdio: 'ignore' });
}

// Every file under a folder, relative path -> bytes.
function filesUnder(folder, prefix = '') {
  const found = new Map();
  if (!fs.existsSync(folder)) return found;
  for (const item of fs.readdirSync(folder, { withFileTypes: true })) {
    const relative = prefix + item.name;
    const full = path.join(folder, item.name);
    if (item.isDirectory()) for (const [p, b] of filesUnder(full, relative + '/')) found.set(p, b);
    else found.set(relative, fs.readFileSync(full));
  }
  return found;
}

function pillowRgba(pngPath) {
  return execFileSync('/usr/bin/python3', ['-c',
    'import sys; from PIL import Image; sys.stdout.buffer.write(Image.open(sys.argv[1]).convert("RGBA").tobytes())',
    pngPath], { maxBuffer: 1 << 28 });
}

let engine;
const cli = path.join(work, 'cli');
const pixels = path.join(work, 'pixels');
const seeds = path.join(work, 'seeds');
let archives = [];
let hostile = [];

before(async () => {
  fs.mkdirSync(cli);
  execFileSync(path.join(build, 'tests', 'zorv_cli_fixtures'), ['fixtures', '.'], { cwd: cli, stdio: 'ignore' });
  make('tests/pixel_driver', 'fixtures', pixels);
  make('fuzz/make_fuzz_seeds', seeds);
  // A damaged copy of an archive: cut in the middle of its entries.
  const plain = fs.readFileSync(path.join(cli, 'plain.dat'));
  fs.writeFileSync(path.join(cli, 'cut.dat'), plain.subarray(0, plain.length >> 1));
  archives = fs.readdirSync(cli).filter((n) => n.endsWith('.dat')).map((n) => path.join(cli, n));
  for (const target of ['fuzz_archive', 'fuzz_picture', 'fuzz_dib']) {
    for (const folder of [path.join(seeds, target), path.join(root, 'fuzz', 'regressions', target)]) {
      if (fs.existsSync(folder)) hostile.push(...fs.readdirSync(folder).map((n) => path.join(folder, n)));
    }
  }
  engine = await createEngine();
});

after(() => fs.rmSync(work, { recursive: true, force: true }));

describe('opening a file says what zorv info and zorv list say', () => {
  test('every fixture, seed and hostile file', () => {
    const files = [...archives, ...fs.readdirSync(cli).filter((n) => /\.(BMP|txt)$/.test(n)).map((n) => path.join(cli, n)),
      ...hostile];
    for (const file of files) {
      const name = path.basename(file);
      const info = zorv(['info', '--json', name], path.dirname(file));
      let opened;
      try {
        opened = engine.open(file, name);
      } catch (error) {
        assert.notEqual(info.code, 0, `${file}: zorv reads it, the engine says ${error.message}`);
        assert.ok(error.message.startsWith(name + ': '), `${file}: the message names the file: ${error.message}`);
        continue;
      }
      assert.equal(info.code, 0, `${file}: the engine reads it, zorv says ${info.err}`);
      assert.deepEqual(opened.info, JSON.parse(info.out)[0], file);
      if (opened.info.type === 'archive') {
        const listed = JSON.parse(zorv(['list', '--json', name], path.dirname(file)).out)[0].entries;
        assert.deepEqual(opened.entries, listed.map((e) => {
          const entry = { index: e.index, position: e.position, stored: e.stored_size, delivered: e.delivered_size,
            kind: e.kind, name: e.name, output: e.output };
          if (e.shares_position_with !== undefined) entry.shares_position_with = e.shares_position_with;
          return entry;
        }).map((e, i) => (opened.entries[i].png ? { ...e, png: opened.entries[i].png } : e)), file);
      }
      engine.close(opened.fileId);
    }
  });
});

describe('delivered bytes equal what zorv extract writes', () => {
  test('each archive as a zip stream (its manifest too), each audio entry as WAVE', () => {
    for (const file of [...archives, ...hostile]) {
      const name = path.basename(file);
      let opened;
      try {
        opened = engine.open(file, name);
      } catch {
        continue;
      }
      if (opened.info.type !== 'archive') {
        engine.close(opened.fileId);
        continue;
      }
      const out = path.join(work, 'extract', name);
      zorv(['extract', '-q', '-o', out, name], path.dirname(file));
      const written = filesUnder(out);
      const zipped = new Map();
      engine.zip(opened.fileId, (item) => {
        if (item.error) assert.ok(item.error.startsWith(name + ': '), item.error);
        else zipped.set(item.path, Buffer.from(item.bytes));
      });
      assert.deepEqual([...zipped.keys()].sort(), [...written.keys()].sort(), file);
      for (const [p, bytes] of written) assert.ok(bytes.equals(zipped.get(p)), `${file}: ${p}`);
      for (const entry of opened.entries.filter((e) => e.kind === 'audio' && written.has(e.output))) {
        const audio = engine.audio(opened.fileId, entry.index);
        const expected = written.get(entry.output);
        assert.ok(expected.equals(Buffer.from(audio.wave)), `${file}: ${entry.output}`);
        const wave = readWave(new Uint8Array(expected));
        assert.equal(audio.seconds, wave.dataSize / (wave.channels * 2) / wave.rate);
        assert.ok(audio.peaks.length > 0 && audio.peaks.every((v) => v >= -1 && v <= 1));
        // What the page plays differs from the delivered WAVE in the format length alone, where that is off.
        const played = Buffer.from(audio.playable || audio.wave);
        assert.equal(played.readUInt32LE(16), 18, `${file}: ${entry.output}`);
        assert.ok(played.subarray(20).equals(expected.subarray(20)) && played.subarray(0, 16).equals(expected.subarray(0, 16)));
      }
      engine.close(opened.fileId);
    }
  });

  test('patterns select the entries zorv extract selects', () => {
    const file = path.join(cli, 'odd.dat');
    const opened = engine.open(file, 'odd.dat');
    for (const pattern of ['*.pw', '*', 'v*', '[a-e]*', '*.BMP', '音*', 'nothing']) {
      const out = path.join(work, 'glob', String(Math.random()).slice(2));
      zorv(['extract', '-q', '-o', out, 'odd.dat', pattern], cli);
      const written = [...filesUnder(out).keys()].filter((p) => p !== 'zorv-manifest.json').sort();
      const chosen = [...engine.glob(opened.fileId, pattern)].map((i) => opened.entries[i])
        .filter((e) => e.shares_position_with === undefined).map((e) => e.output).sort();
      assert.deepEqual(chosen, written, pattern);
    }
    engine.close(opened.fileId);
  });
});

describe('pictures equal zorv convert pixel for pixel', () => {
  test('every kind of picture, alone and in an archive', () => {
    const pictures = [...fs.readdirSync(path.join(pixels, 'packed')).map((n) => path.join(pixels, 'packed', n)),
      ...fs.readdirSync(cli).filter((n) => n.endsWith('.BMP')).map((n) => path.join(cli, n))];
    for (const file of pictures) {
      const name = path.basename(file);
      const pngPath = path.join(work, 'convert', name.replace(/\.[^.]*$/, '') + '.png');
      fs.mkdirSync(path.dirname(pngPath), { recursive: true });
      const converted = zorv(['convert', '-q', '-o', pngPath, name], path.dirname(file));
      let opened;
      try {
        opened = engine.open(file, name);
        const png = engine.picture(opened.fileId, 0, PictureMode.png);
        const shown = engine.picture(opened.fileId, 0, PictureMode.rgba);
        assert.ok(fs.existsSync(pngPath), `${name}: the engine draws what zorv refuses`);
        assert.ok(fs.readFileSync(pngPath).equals(Buffer.from(png.bytes)), `${name}: PNG bytes`);
        assert.ok(pillowRgba(pngPath).equals(Buffer.from(shown.rgba)), `${name}: pixels`);
        assert.equal(shown.rgba.byteLength, shown.width * shown.height * 4);
        assert.equal(shown.complete, converted.code === 0, `${name}: complete`);
        assert.equal(shown.warnings.length > 0, !shown.complete);
        const thumb = engine.picture(opened.fileId, 0, PictureMode.thumbnail, 4);
        assert.ok(thumb.width <= 4 && thumb.height <= 4 && thumb.rgba.byteLength === thumb.width * thumb.height * 4);
      } catch (error) {
        if (error.code === 'ERR_ASSERTION') throw error;
        assert.ok(!fs.existsSync(pngPath), `${name}: zorv draws it, the engine says ${error.message}`);
        assert.ok(error.message.startsWith(name + ': '), error.message);
      } finally {
        if (opened) engine.close(opened.fileId);
      }
    }
    for (const file of archives) {
      const name = path.basename(file);
      const out = path.join(work, 'convert-entries', name);
      zorv(['extract', '-q', '--convert', '-o', out, name], cli);
      let opened;
      try {
        opened = engine.open(file, name);
      } catch {
        continue;
      }
      // The --convert paths: every PNG zorv wrote, at the path the engine gives.
      const written = [...filesUnder(out).keys()].filter((p) => p.endsWith('.png'));
      const made = [];
      for (const entry of opened.entries.filter((e) => e.kind === 'picture')) {
        let png;
        try {
          png = engine.picture(opened.fileId, entry.index, PictureMode.png);
        } catch {
          continue;
        }
        made.push(png.path);
        assert.ok(fs.readFileSync(path.join(out, png.path)).equals(Buffer.from(png.bytes)), `${name}: ${png.path}`);
      }
      assert.deepEqual(made.sort(), written.sort(), name);
      engine.close(opened.fileId);
    }
  });
});

describe('hostile and damaged input', () => {
  test('every operation on every entry answers or fails naming the file, and the engine goes on', () => {
    for (const file of [...archives, ...hostile]) {
      const name = path.basename(file);
      let opened;
      try {
        opened = engine.open(file, name);
      } catch (error) {
        assert.ok(error.message.startsWith(name + ': '), error.message);
        continue;
      }
      for (const entry of opened.entries) {
        for (const op of [() => engine.picture(opened.fileId, entry.index), () => engine.preview(opened.fileId, entry.index),
          () => engine.audio(opened.fileId, entry.index), () => engine.entryBytes(opened.fileId, entry.index)]) {
          try {
            op();
          } catch (error) {
            assert.ok(error.message.startsWith(name + ': '), `${file}: ${error.message}`);
          }
        }
      }
      engine.close(opened.fileId);
    }
    const again = engine.open(path.join(cli, 'plain.dat'), 'plain.dat');
    assert.equal(again.entries.length, 7);
    const readme = engine.preview(again.fileId, 0);
    assert.equal(typeof readme.text, 'string');
    assert.ok(typeof engine.preview(again.fileId, 5).hex === 'string');
    engine.close(again.fileId);
  });
});

describe('large files', () => {
  test('listing a 1 GiB archive and opening a 1 MiB entry keeps the modules under 64 MiB (a sparse file)', () => {
    const big = path.join(work, 'gib.dat');
    const count = 1024, size = 1 << 20;
    const header = Buffer.alloc(16);
    header.write('ZRV01\x1a\x00', 0, 'latin1');
    header.writeUInt16LE(count, 8);
    header.writeUInt32LE(16 + count * size, 10);
    const directory = Buffer.alloc(16 * count);
    for (let i = 0; i < count; ++i) {
      directory.write(`E${i}.BIN`, 16 * i, 'latin1');
      directory.writeUInt32LE(size, 16 * i + 12);
    }
    const fd = fs.openSync(big, 'w');
    fs.writeSync(fd, header, 0, 16, 0);
    fs.writeSync(fd, directory, 0, directory.length, 16 + count * size);
    fs.closeSync(fd);
    try {
      const opened = engine.open(big, 'gib.dat');
      assert.equal(opened.info.entries, count);
      assert.equal(engine.entryBytes(opened.fileId, 700).bytes.length, size);
      assert.equal(engine.preview(opened.fileId, 700).size, size);
      engine.close(opened.fileId);
      for (const module of engine.modules()) assert.ok(module.HEAPU8.length < 64 << 20, `${module.HEAPU8.length} bytes`);
    } finally {
      fs.rmSync(big);
    }
  });

  test('an archive past 2 GiB lists and delivers from where it lies (a sparse file)', () => {
    const big = path.join(work, 'big.dat');
    const gap = 0x90000000;  // the first entry's size: the rest lies past 2 GiB
    const tail = Buffer.from('hello');
    const directoryOffset = 16 + gap + tail.length;
    const header = Buffer.alloc(16);
    header.write('ZRV01\x1a\x00', 0, 'latin1');
    header.writeUInt16LE(2, 8);
    header.writeUInt32LE(directoryOffset, 10);
    const directory = Buffer.alloc(32);
    directory.write('BIG.BIN', 0, 'latin1');
    directory.writeUInt32LE(gap, 12);
    directory.write('TAIL.TXT', 16, 'latin1');
    directory.writeUInt32LE(tail.length, 28);
    const fd = fs.openSync(big, 'w');
    fs.writeSync(fd, header, 0, 16, 0);
    fs.writeSync(fd, tail, 0, tail.length, 16 + gap);
    fs.writeSync(fd, directory, 0, 32, directoryOffset);
    fs.closeSync(fd);
    try {
      const opened = engine.open(big, 'big.dat');
      const listed = JSON.parse(zorv(['list', '--json', 'big.dat'], work).out)[0].entries;
      assert.deepEqual(opened.entries.map((e) => [e.name, e.position, e.stored]),
        listed.map((e) => [e.name, e.position, e.stored_size]));
      assert.equal(Buffer.from(engine.entryBytes(opened.fileId, 1).bytes).toString(), 'hello');
      assert.equal(engine.preview(opened.fileId, 1).text, 'hello');
      engine.close(opened.fileId);
    } finally {
      fs.rmSync(big);
    }
  });
});

// The worker reads Files through file-blocks.js (and so does every test
// above, through node-engine.mjs); here its promises on their own.
describe('reading a file in blocks', () => {
  test('any reads give the file\'s bytes; reading along takes few calls; large reads and scattered ones stay as asked', () => {
    let seed = 7;
    const random = (n) => ((seed = (seed * 1103515245 + 12345) >>> 0) % n);
    const data = Uint8Array.from({ length: 3 * BLOCK_MAX + 12345 }, () => random(256));
    const file = { size: data.length };
    const fetched = [];
    const cache = new BlockCache((f, start, end) => {
      assert.equal(f, file);
      fetched.push(end - start);
      return data.slice(start, end);
    });
    const read = (position, length) => {
      const target = new Uint8Array(length + 2);
      const n = cache.read(file, target, 1, length, position);
      assert.equal(n, Math.max(0, Math.min(length, data.length - position)), `read ${length} at ${position}`);
      assert.deepEqual(target.subarray(1, 1 + n), data.subarray(position, position + n), `read ${length} at ${position}`);
      assert.equal(target[0] + target[n + 1], 0, 'nothing written outside the read');
    };

    // Along the whole file in the plug-ins' pieces (overlapping, each across
    // stretches), or in small pieces with small gaps, after a piece near the
    // end (a directory) was read: a few calls, no byte of the file read twice.
    for (const [step, piece] of [[40000, 65536], [100000, 40]]) {
      cache.forget(file);
      fetched.length = 0;
      read(data.length - 5000, 300);
      for (let at = 0; at < data.length; at += step) read(at, Math.min(piece, data.length - at));
      assert.ok(fetched.length <= 10, `${fetched.length} calls`);
      const bytes = fetched.reduce((a, b) => a + b);
      assert.ok(bytes >= data.length - piece && bytes <= data.length, `${bytes} bytes read`);
    }

    // A large read is read as it is asked, not through the cache.
    fetched.length = 0;
    read(1000, 1 << 20);
    assert.deepEqual(fetched, [1 << 20]);

    // Scattered small reads (the start of each 1 MiB entry) read little each, nothing between.
    fetched.length = 0;
    for (let at = 7; at < data.length; at += (1 << 20) - 3) read(at, 16);
    assert.ok(fetched.every((n) => n <= BLOCK_MIN), `${fetched}`);

    // Random reads anywhere, across stretches and past the end.
    for (let i = 0; i < 3000; i++) read(random(data.length + 100), 1 + random(random(8) === 0 ? 2 * BLOCK_MAX : 70000));
    read(data.length, 10);

    // A file closed is forgotten; a file that cannot be read fails the read.
    cache.forget(file);
    assert.equal(cache.stretches.length, 0);
    const broken = new BlockCache(() => new Uint8Array(3));
    assert.throws(() => broken.read(file, new Uint8Array(10), 0, 10, 0), /read 3 bytes/);
  });
});
