// Bundles the page into one self-contained HTML file: the worker (with its
// WebAssembly modules inline) becomes a string that the page starts from a
// Blob URL; script and style go inline, and a Content-Security-Policy
// allows exactly them (by hash) and nothing that reaches the network.
//
//   node build.mjs OUT.html [--worker FILE]   (--worker: a stand-in, for UI work)
import { build } from 'esbuild';
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync, mkdirSync } from 'node:fs';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const out = resolve(args[0] ?? resolve(here, '../dist/zorv-viewer.html'));
const workerAt = args.indexOf('--worker');
const workerEntry = workerAt >= 0 ? resolve(args[workerAt + 1]) : resolve(here, 'src/worker.js');
const LIMIT = 1024 * 1024;

const common = { bundle: true, minify: !process.env.ZORV_UNMINIFIED, write: false, target: 'es2022', legalComments: 'none', logLevel: 'warning' };

const worker = await build({
  ...common,
  entryPoints: [workerEntry],
  format: 'iife',
  platform: 'browser',
  loader: { '.wasm': 'binary' },
  // Emscripten's glue names node's modules behind checks that never pass
  // in a worker.
  external: ['fs', 'path', 'crypto', 'url', 'module', 'worker_threads'],
});
const workerSource = worker.outputFiles[0].text;

const workerPlugin = {
  name: 'zorv-worker',
  setup(b) {
    b.onResolve({ filter: /^zorv:worker$/ }, () => ({ path: 'worker', namespace: 'zorv' }));
    b.onLoad({ filter: /.*/, namespace: 'zorv' }, () => ({ contents: workerSource, loader: 'text' }));
  },
};
const page = await build({
  ...common,
  entryPoints: [resolve(here, 'src/main.js')],
  format: 'iife',
  plugins: [workerPlugin],
});
// esbuild escapes "</script" inside strings; this guards the rest.
const script = page.outputFiles[0].text.replaceAll('</script', '<\\/script');
const style = (await build({ ...common, entryPoints: [resolve(here, 'src/style.css')], loader: { '.css': 'css' } })).outputFiles[0].text;

const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;
// No fetch but of the page's own Blob URLs, no connection, no form, no
// frame; the worker from a Blob URL, its WebAssembly compiled from bytes;
// pictures, audio and downloads from Blob URLs the page makes.
const csp = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  'worker-src blob:',
  'img-src blob: data:',
  'media-src blob:',
  'connect-src blob:',
  "form-action 'none'",
  "base-uri 'none'",
].join('; ');

const html = readFileSync(resolve(here, 'src/index.html'), 'utf8')
  .replace('<!--CSP-->', () => `<meta http-equiv="Content-Security-Policy" content="${csp}">`)
  .replace('<!--STYLE-->', () => `<style>${style}</style>`)
  .replace('<!--SCRIPT-->', () => `<script>${script}</script>`);

mkdirSync(dirname(out), { recursive: true });
writeFileSync(out, html);
const bytes = Buffer.byteLength(html);
console.log(`${out}: ${bytes} bytes (worker ${Buffer.byteLength(workerSource)}, page ${Buffer.byteLength(script)}, style ${Buffer.byteLength(style)})`);
if (bytes > LIMIT) {
  console.error(`${out} is ${bytes} bytes, over the limit of ${LIMIT}`);
  process.exit(1);
}
