// The WebAssembly half of bench/web_decode_bench.py: answers "PATH COUNT"
// lines on stdin with the processor seconds of each of COUNT GetPicture calls of the
// picture module (node build, the V8 engine of Chromium) on that file's
// bytes in memory, one line of numbers each.
import fs from 'node:fs';
import readline from 'node:readline';
import { createEngine } from '../web/test/node-engine.mjs';

const engine = await createEngine();
const cache = new Map();
for await (const line of readline.createInterface({ input: process.stdin })) {
  const [file, count] = line.trim().split(' ');
  if (!cache.has(file)) cache.set(file, new Uint8Array(fs.readFileSync(file)));
  const bytes = cache.get(file);
  const times = [];
  for (let i = 0; i < Number(count); ++i) {
    const start = process.cpuUsage();
    engine.decodeInMemory(bytes);
    const used = process.cpuUsage(start);
    times.push((used.user + used.system) / 1e6);
  }
  process.stdout.write(times.join(' ') + '\n');
}
