// The WebAssembly half of bench/web_decode_bench.py --chromium: the same
// line protocol as web_decode_wasm.mjs ("PATH COUNT" in, COUNT times out),
// with GetPicture run in a worker of headless Chromium (Debian's, through
// web/node_modules' puppeteer-core), timed there with performance.now().
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(root, 'web', 'package.json'));
const puppeteer = require('puppeteer-core');
const wasm = path.join(root, 'web', 'build', 'wasm', 'browser');

// The worker: the three modules, the engine (its imports inlined, its
// exports as plain declarations), and a driver that times decodeInMemory.
const workerSource = [
  ...['zorvpict.js', 'zorvpack.js', 'zorvhost.js'].map((n) => fs.readFileSync(path.join(wasm, n), 'utf8')),
  // The engine and what it imports, as one classic script.
  ...['columns.js', 'engine.js'].map((n) => fs.readFileSync(path.join(root, 'web', 'src', n), 'utf8')
    .replace(/^import .*$/gm, '').replace(/^export /gm, '')),
  `const ready = Engine.create({ ZorvPict, ZorvPack, ZorvHost }, () => { throw new Error('no files'); });
   self.onmessage = async (event) => {
     const engine = await ready;
     const bytes = new Uint8Array(event.data.bytes);
     const times = [];
     for (let i = 0; i < event.data.count; ++i) {
       const start = performance.now();
       engine.decodeInMemory(bytes);
       times.push((performance.now() - start) / 1000);
     }
     self.postMessage(times);
   };`,
].join('\n');

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'zorv-bench-chromium-'));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
});
try {
  const page = await browser.newPage();
  await page.goto('about:blank');
  await page.evaluate((source) => {
    window.decodeWorker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
  }, workerSource);
  for await (const line of readline.createInterface({ input: process.stdin })) {
    const [file, count] = line.trim().split(' ');
    const base64 = fs.readFileSync(file).toString('base64');
    const times = await page.evaluate((data, n) => new Promise((resolve) => {
      const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
      window.decodeWorker.onmessage = (event) => resolve(event.data);
      window.decodeWorker.postMessage({ bytes: bytes.buffer, count: n }, [bytes.buffer]);
    }), base64, Number(count));
    process.stdout.write(times.join(' ') + '\n');
  }
} finally {
  await browser.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
