// A packed picture to PNG in the viewer's host module, as the page's "Save
// PNG" makes it (decoding, RenderDib, the PNG encoder), in two builds of
// the node modules side by side: processor time, medians of interleaved
// rounds, on the 2048x2048 benchmark pictures.
//
//   node bench/web_png_bench.mjs --also web/build/wasm-nosse2/node [--rounds 7] [--count 3]
//
// ZORV_WASM_SSE2= web/build-wasm.sh web/build/wasm-nosse2 builds the host
// without its SSE2 PNG filters (as WebAssembly SIMD; web/build-wasm.sh says
// what they gave). Each build runs in a child process of its own (this
// script, with --child), as a module is loaded once per process.
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import readline from 'node:readline';

const option = (name, fallback) => (process.argv.includes(name) ? process.argv[process.argv.indexOf(name) + 1] : fallback);

if (process.argv.includes('--child')) {
  const { createEngine } = await import('../web/test/node-engine.mjs');
  const { PictureMode } = await import('../web/src/engine.js');
  const engine = await createEngine();
  const opened = new Map();
  for await (const line of readline.createInterface({ input: process.stdin })) {
    const [file, count] = line.trim().split(' ');
    if (!opened.has(file)) opened.set(file, engine.open(file, file).fileId);
    const times = [];
    for (let i = 0; i < Number(count); ++i) {
      const start = process.cpuUsage();
      engine.picture(opened.get(file), 0, PictureMode.png);
      const used = process.cpuUsage(start);
      times.push((used.user + used.system) / 1e6);
    }
    process.stdout.write(times.join(' ') + '\n');
  }
} else {
  const rounds = Number(option('--rounds', 7));
  const count = Number(option('--count', 3));
  const also = option('--also');
  if (!also) throw new Error('--also FOLDER: the other build of the node modules');
  const build = resolve(option('--build', 'build/native'));
  const folder = mkdtempSync('/dev/shm/zorv-png-');
  execFileSync(join(build, 'tests', 'zorv_cli_fixtures'), ['pictures', folder]);
  const child = (modules) => {
    const env = { ...process.env, ...(modules ? { ZORV_WASM_NODE: resolve(modules) } : {}) };
    const proc = spawn(process.execPath, [process.argv[1], '--child'], { env, stdio: ['pipe', 'pipe', 'inherit'] });
    const lines = readline.createInterface({ input: proc.stdout })[Symbol.asyncIterator]();
    return {
      proc,
      async time(path) {
        proc.stdin.write(`${path} ${count}\n`);
        return (await lines.next()).value.split(' ').map(Number);
      },
    };
  };
  const children = [child(null), child(also)];
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
  console.log(`${'picture'.padEnd(16)} ${'default ms'.padStart(10)} ${'also ms'.padStart(10)} ${'also/default'.padStart(13)}`);
  try {
    for (const name of ['TRUECOLOR.BMP', 'PALETTE.BMP']) {
      const times = [[], []];
      for (let round = 0; round < rounds; round++) {
        for (const [i, c] of children.entries()) times[i].push(...(await c.time(join(folder, name))));
      }
      const [a, b] = times.map((t) => median(t) * 1000);
      console.log(`${name.padEnd(16)} ${a.toFixed(0).padStart(10)} ${b.toFixed(0).padStart(10)} ${(b / a).toFixed(2).padStart(12)}x`);
    }
  } finally {
    for (const c of children) c.proc.stdin.end();
    rmSync(folder, { recursive: true, force: true });
  }
}
