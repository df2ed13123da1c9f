// Shared by the browser tests, the screenshot and the benchmarks: Debian's
// Chromium, headless, through puppeteer-core, on a fresh profile, with
// every request the page makes recorded (there must be none).
import puppeteer from 'puppeteer-core';
import { mkdtempSync, rmSync, readdirSync, readFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve, dirname } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const root = resolve(here, '../..');
export const page_ = resolve(process.env.ZORV_VIEWER ?? join(root, 'dist/zorv-viewer.html'));

export async function launch() {
  const profile = mkdtempSync(join(tmpdir(), 'zorv-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${profile}`],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// A page with the viewer open. `requests` lists every request after the
// page itself (blob: and data: URLs stay in memory and are not requests),
// `errors` every uncaught error, `downloads` the folder downloads go to.
export async function openViewer(browser, { width = 1280, height = 900, dark = false } = {}) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  if (dark) await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  const requests = [];
  const errors = [];
  const url = pathToFileURL(page_).href;
  page.on('request', (request) => {
    const u = request.url();
    if (u !== url && !u.startsWith('blob:') && !u.startsWith('data:')) requests.push(u);
  });
  page.on('pageerror', (error) => errors.push(String(error)));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  const downloads = mkdtempSync(join(tmpdir(), 'zorv-downloads-'));
  page.once('close', () => rmSync(downloads, { recursive: true, force: true }));
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.goto(url, { waitUntil: 'load' });
  return { page, requests, errors, downloads };
}

// Gives files to the picker, as a person choosing them would.
export async function openFiles(page, paths) {
  const input = await page.$('input[type=file]');
  await input.uploadFile(...paths);
}

// Waits until every file section has settled; returns their states.
export async function settled(page, count, timeout = 30_000) {
  await page.waitForFunction(
    (n) => {
      const files = document.querySelectorAll('[data-file]');
      return files.length >= n && [...files].every((f) => f.dataset.state !== 'loading');
    },
    { timeout, polling: 50 },
    count,
  );
  return page.$$eval('[data-file]', (files) => files.map((f) => ({ name: f.dataset.file, state: f.dataset.state, entries: f.dataset.entries })));
}

// Waits for a file to arrive in the downloads folder and returns its path.
export async function downloaded(folder, name, timeout = 20_000) {
  const path = join(folder, name);
  const until = Date.now() + timeout;
  while (Date.now() < until) {
    if (existsSync(path) && !readdirSync(folder).some((f) => f.endsWith('.crdownload'))) return path;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`no download named ${name}; the folder holds: ${readdirSync(folder).join(', ')}`);
}

// The picture on the viewer's canvas, as RGBA bytes.
export async function canvasPixels(page) {
  return page.$eval('[data-viewer] canvas[data-picture]', (canvas) => {
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return { width: canvas.width, height: canvas.height, base64: btoa(text) };
  }).then(({ width, height, base64 }) => ({ width, height, rgba: Buffer.from(base64, 'base64') }));
}

// The thumbnail of a file's first entry at its own size (the image the
// worker made, not as enlarged on the page), once it has loaded.
export async function thumbnailPixels(page, name) {
  const selector = `[data-file="${name}"] .thumb img`;
  await page.waitForFunction((s) => document.querySelector(s)?.complete, { timeout: 10_000 }, selector);
  return page.$eval(selector, (img) => {
    const canvas = document.createElement('canvas');
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return { width: canvas.width, height: canvas.height, base64: btoa(text) };
  }).then(({ width, height, base64 }) => ({ width, height, rgba: Buffer.from(base64, 'base64') }));
}

export { readFileSync };
