// The test files, made by the project's own builders (tests/cli,
// tests/host/pixels, fuzz/make_seeds), and what zorv makes of them: the
// page must show and save exactly that.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { root } from './browser.mjs';

const build = process.env.ZORV_BUILD ?? join(root, 'build/native');

function tool(path) {
  const full = join(build, path);
  if (!existsSync(full)) throw new Error(`${full} is missing: run tools/build.sh first`);
  return full;
}

export const zorvPath = tool('cli/zorv');

export function zorv(args, cwd) {
  return execFileSync(zorvPath, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 1 << 28 });
}

// Runs zorv, and gives its exit code and output whatever the code.
export function zorvStatus(args, cwd) {
  try {
    return { code: 0, stdout: zorv(args, cwd) };
  } catch (error) {
    return { code: error.status, stdout: error.stdout };
  }
}

// Folders made for a run go when it ends.
const made = [];
process.on('exit', () => {
  for (const dir of made) rmSync(dir, { recursive: true, force: true });
});

export function makeFolder(prefix) {
  const dir = mkdtempSync(join(tmpdir(), `zorv-web-${prefix}-`));
  made.push(dir);
  return dir;
}

export function cliFixtures(kind = 'fixtures', ...args) {
  const dir = makeFolder(kind);
  execFileSync(tool('tests/zorv_cli_fixtures'), [kind, dir, ...args]);
  // The tiny archive's 65,535 files on their own are not needed here.
  if (kind === 'tiny') rmSync(join(dir, 'tiny-files'), { recursive: true, force: true });
  return dir;
}

export function pixelFixtures() {
  const dir = makeFolder('pixels');
  execFileSync(tool('tests/pixel_driver'), ['fixtures', dir]);
  return dir;
}

export function fuzzSeeds() {
  const dir = makeFolder('seeds');
  execFileSync(tool('fuzz/make_fuzz_seeds'), [dir]);
  return dir;
}

// Every regular file below a folder, as paths relative to it.
export function filesBelow(dir, prefix = '') {
  const found = [];
  for (const name of readdirSync(join(dir, prefix)).sort()) {
    const relative = prefix ? `${prefix}/${name}` : name;
    if (statSync(join(dir, relative)).isDirectory()) found.push(...filesBelow(dir, relative));
    else found.push(relative);
  }
  return found;
}

// PNGs' pixels as RGBA, read by Pillow (a reader of our own), all in one
// run of it.
export function pngPixels(paths) {
  const out = execFileSync('/usr/bin/python3', ['-c',
    'import sys,struct\nfrom PIL import Image\nfor p in sys.argv[1:]:\n im=Image.open(p).convert("RGBA")\n' +
    ' sys.stdout.buffer.write(struct.pack("<III",*im.size,len(im.tobytes()))+im.tobytes())', ...paths], { maxBuffer: 1 << 28 });
  const pictures = [];
  for (let at = 0; at < out.length;) {
    const [width, height, length] = [out.readUInt32LE(at), out.readUInt32LE(at + 4), out.readUInt32LE(at + 8)];
    pictures.push({ width, height, rgba: out.subarray(at + 12, at + 12 + length) });
    at += 12 + length;
  }
  return pictures;
}

// A ZIP's files as {path: bytes}, read by Python's zipfile.
export function zipFiles(path) {
  const out = execFileSync('/usr/bin/python3', ['-c',
    'import sys,json,base64,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n' +
    'print(json.dumps({i.filename: base64.b64encode(z.read(i)).decode() for i in z.infolist() if not i.is_dir()}))', path],
  { maxBuffer: 1 << 28 });
  return Object.fromEntries(Object.entries(JSON.parse(out)).map(([name, data]) => [name, Buffer.from(data, 'base64')]));
}

export { readFileSync, mkdirSync, join, root };
