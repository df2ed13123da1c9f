// The viewer end to end in Chromium: files given to the page as a person
// gives them, and what it shows and saves compared with what zorv makes of
// the same files.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readdirSync } from 'node:fs';
import { basename, join } from 'node:path';
import { launch, openViewer, openFiles, settled, downloaded, canvasPixels, thumbnailPixels } from './browser.mjs';
import { cliFixtures, fuzzSeeds, pixelFixtures, filesBelow, makeFolder, pngPixels, zipFiles, zorv, zorvStatus, readFileSync, root } from './fixtures.mjs';

let browser;
const sessions = [];
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser?.close();
});

// A fresh page; at the end of its test it must have made no request and
// thrown nothing.
async function session(options) {
  const s = await openViewer(browser, options);
  sessions.push(s);
  return s;
}
async function finish(s) {
  assert.deepEqual(s.requests, [], 'the page made network requests');
  assert.deepEqual(s.errors, [], 'the page reported errors');
  await s.page.close();
}

async function openEntry(page, file, index) {
  await page.click(`[data-file="${file}"] [data-entry][data-index="${index}"]`);
  await page.waitForSelector('[data-viewer] canvas[data-picture], [data-viewer] audio[data-audio], [data-viewer] [data-preview], [data-viewer] [role=alert]');
}

async function closeViewer(page) {
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.querySelector('[data-viewer]'));
}

// Canvas pixels hold colour premultiplied by alpha: where alpha is partial
// the colour read back may differ by the rounding of that; fully
// transparent pixels keep no colour at all.
function assertSamePixels(actual, expected, what) {
  assert.equal(actual.width, expected.width, `${what}: width`);
  assert.equal(actual.height, expected.height, `${what}: height`);
  const a = actual.rgba;
  const e = expected.rgba;
  for (let i = 0; i < e.length; i += 4) {
    const alpha = e[i + 3];
    const slack = alpha === 255 ? 0 : alpha === 0 ? 255 : Math.ceil(255 / alpha);
    const off = [0, 1, 2].some((c) => Math.abs(a[i + c] - e[i + c]) > slack) || a[i + 3] !== alpha;
    if (off) {
      const pixel = i / 4;
      assert.fail(`${what}: pixel (${pixel % expected.width}, ${Math.floor(pixel / expected.width)}) is ${[...a.subarray(i, i + 4)]}, zorv convert gives ${[...e.subarray(i, i + 4)]}`);
    }
  }
}

describe('pictures', () => {
  test('every kind of packed picture: canvas, saved PNG and thumbnail equal zorv convert, pixel for pixel', async () => {
    const fixtures = pixelFixtures();
    const cli = cliFixtures();
    const pictures = [
      ...readdirSync(join(fixtures, 'packed')).map((name) => join(fixtures, 'packed', name)),
      ...['CG24.BMP', 'PAL8.BMP', 'SHORT24.BMP', 'TOP24.BMP'].map((name) => join(cli, name)),
    ];
    const expected = makeFolder('expected-png');
    const s = await session();
    await openFiles(s.page, pictures);
    const states = await settled(s.page, pictures.length);
    const drawn = [];
    for (const path of pictures) {
      const name = basename(path);
      const png = join(expected, `${name}.png`);
      const { code } = zorvStatus(['convert', '-q', path, '-o', png]);
      const state = states.find((f) => f.name === name);
      if (!existsSync(png)) {
        // zorv refuses it: the page says so, by the file's name.
        if (state.state === 'ready') {
          await openEntry(s.page, name, 0);
          const alert = await s.page.$eval('[data-viewer] [role=alert]', (e) => e.textContent);
          assert.ok(alert.length > 0, `${name}: refused without a message`);
          await closeViewer(s.page);
        } else {
          const alert = await s.page.$eval(`[data-file="${name}"] [role=alert]`, (e) => e.textContent);
          assert.ok(alert.includes(name), `${name}: the alert does not name the file: ${alert}`);
        }
        continue;
      }
      assert.equal(state.state, 'ready', `${name}: zorv converts it but the page did not open it`);
      assert.equal(state.entries, '1');
      const kind = await s.page.$eval(`[data-file="${name}"] [data-entry]`, (e) => e.dataset.kind);
      assert.equal(kind, 'picture');
      const thumbnail = await thumbnailPixels(s.page, name);
      await openEntry(s.page, name, 0);
      const canvas = await canvasPixels(s.page);
      if (code !== 0) {
        const notice = await s.page.$eval('[data-viewer] .notice', (e) => e.textContent);
        assert.match(notice, /end/i, `${name}: no notice that its bits end early`);
      }
      await s.page.click('[data-viewer] [data-download="png"]');
      const saved = await downloaded(s.downloads, name.replace(/\.[^.]*$/, '.png'));
      await closeViewer(s.page);
      drawn.push({ name, canvas, png, saved, thumbnail });
    }
    // Pillow reads zorv's PNGs and the saved ones, all in one run.
    const read = pngPixels(drawn.flatMap((d) => [d.png, d.saved]));
    let thumbnailsCompared = 0;
    drawn.forEach((d, i) => {
      assertSamePixels(d.canvas, read[2 * i], `${d.name} on the canvas`);
      assertSamePixels(read[2 * i + 1], read[2 * i], `${d.name} saved as PNG`);
      // A thumbnail fits 100 x 100; a picture that fits already is never
      // enlarged or resampled: its own pixels.
      const { width, height } = read[2 * i];
      assert.ok(d.thumbnail.width <= 100 && d.thumbnail.height <= 100, `${d.name}: thumbnail ${d.thumbnail.width}x${d.thumbnail.height}`);
      if (width <= 100 && height <= 100) {
        assertSamePixels(d.thumbnail, read[2 * i], `${d.name} as a thumbnail`);
        thumbnailsCompared++;
      }
    });
    assert.ok(thumbnailsCompared >= 10, `only ${thumbnailsCompared} thumbnails compared`);
    assert.ok(drawn.length >= 20, `only ${drawn.length} pictures drawn`);
    await finish(s);
  });

  test('keyboard alone: into the list, open, next picture, zoom, close, focus back; a dropped file opens', async () => {
    const cli = cliFixtures();
    const s = await session();
    await openFiles(s.page, [join(cli, 'odd.dat')]);
    await settled(s.page, 1);
    const pictures = await s.page.$$eval('[data-file="odd.dat"] [data-entry][data-kind=picture]', (all) => all.map((e) => Number(e.dataset.index)));
    assert.ok(pictures.length >= 2);
    // Tab from the picker reaches the list's current entry.
    await s.page.focus('input[type=file]');
    for (let i = 0; i < 12; i++) {
      await s.page.keyboard.press('Tab');
      if (await s.page.evaluate(() => document.activeElement?.hasAttribute('data-entry'))) break;
    }
    assert.equal(await s.page.evaluate(() => document.activeElement?.dataset.index), '0');
    const visibleFocus = await s.page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
    assert.notEqual(visibleFocus, 'none', 'the focused entry shows no focus');
    await s.page.focus(`[data-file="odd.dat"] [data-index="${pictures[0]}"]`);
    await s.page.keyboard.press('Enter');
    await s.page.waitForSelector('[data-viewer] canvas[data-picture]');
    // The next picture only looks like one: the viewer says so, in place.
    await s.page.keyboard.press('ArrowRight');
    await s.page.waitForFunction((name) => document.querySelector('[data-viewer] h2')?.textContent === name, {},
      await s.page.$eval(`[data-index="${pictures[1]}"]`, (e) => e.dataset.name));
    await s.page.waitForSelector('[data-viewer] [role=alert]');
    await s.page.keyboard.press('ArrowLeft');
    await s.page.waitForSelector('[data-viewer] canvas[data-picture]');
    await s.page.keyboard.press('+');
    const transform = await s.page.$eval('canvas[data-picture]', (c) => c.style.transform);
    assert.match(transform, /scale/);
    await closeViewer(s.page);
    assert.equal(await s.page.evaluate(() => document.activeElement?.dataset.index), String(pictures[0]));

    // Dropped anywhere on the page, a picture opens as one entry.
    const bytes = [...readFileSync(join(cli, 'CG24.BMP'))];
    await s.page.evaluate((data) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(data)], 'DROPPED.BMP'));
      document.querySelector('main').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, bytes);
    const dropped = (await settled(s.page, 2)).find((f) => f.name === 'DROPPED.BMP');
    assert.deepEqual(dropped, { name: 'DROPPED.BMP', state: 'ready', entries: '1' });
    await finish(s);
  });
});

describe('archives', () => {
  test('audio plays from the WAVE zorv extract writes; entries save as zorv extract writes them', async () => {
    const cli = cliFixtures();
    const out = makeFolder('extract');
    zorv(['extract', '-q', '-o', out, join(cli, 'plain.dat')]);
    const listing = JSON.parse(zorv(['list', '--json', join(cli, 'plain.dat')]));
    const { entries } = listing[0];
    const s = await session();
    await openFiles(s.page, [join(cli, 'plain.dat')]);
    const [state] = await settled(s.page, 1);
    assert.equal(state.entries, String(entries.length));
    for (const entry of entries.filter((e) => e.kind === 'audio')) {
      await openEntry(s.page, 'plain.dat', entry.index);
      const audio = await s.page.$eval('[data-viewer] audio[data-audio]', async (element) => {
        const bytes = new Uint8Array(await (await fetch(element.src)).arrayBuffer());
        if (!(element.duration > 0)) await new Promise((resolve, reject) => {
          element.addEventListener('loadedmetadata', resolve, { once: true });
          element.addEventListener('error', () => reject(new Error('the audio element cannot play it')), { once: true });
        });
        return { bytes: Array.from(bytes), duration: element.duration };
      });
      const wave = readFileSync(join(out, entry.output));
      assert.ok(Buffer.from(audio.bytes).equals(wave), `${entry.name}: the audio's WAVE differs from zorv extract's`);
      const rate = wave.readUInt32LE(24);
      const bytesPerSecond = wave.readUInt32LE(28);
      const dataBytes = wave.length - 44;
      assert.ok(Math.abs(audio.duration - dataBytes / bytesPerSecond) < 0.05, `${entry.name}: duration ${audio.duration}`);
      assert.ok(rate > 0);
      await s.page.click('[data-viewer] [data-download="entry"]');
      assert.ok(readFileSync(await downloaded(s.downloads, entry.output)).equals(wave));
      await closeViewer(s.page);
    }
    const text = entries.find((e) => e.name === 'README.TXT');
    await openEntry(s.page, 'plain.dat', text.index);
    const preview = await s.page.$eval('[data-viewer] [data-preview]', (e) => e.textContent);
    assert.equal(preview, readFileSync(join(out, 'README.TXT'), 'latin1'));
    await closeViewer(s.page);
    await finish(s);
  });

  test('names as zorv list shows them, and the ZIP holds what zorv extract writes', async () => {
    const cli = cliFixtures();
    const s = await session();
    const archives = ['hostile.dat', 'odd.dat', 'plain.dat'];
    await openFiles(s.page, archives.map((name) => join(cli, name)));
    await settled(s.page, archives.length);
    for (const archive of archives) {
      const listing = JSON.parse(zorv(['list', '--json', join(cli, archive)]));
      const { entries } = listing[0];
      await s.page.click(`[data-file="${archive}"] [data-view=table]`);
      // The paths zorv extract writes follow the first rows (→ where they differ from the name).
      const expected = entries.map((e) => ({ index: e.index, kind: e.kind, name: e.name, output: e.output }));
      let shown;
      for (let tries = 0; tries < 50; tries++) {
        shown = await everyEntry(s.page, archive);
        if (shown.every((e, i) => e.output === expected[i]?.output)) break;
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
      assert.deepEqual(shown, expected, `${archive}: names and the paths zorv extract writes`);

      const out = makeFolder('extract');
      zorvStatus(['extract', '-q', '-o', out, join(cli, archive)]);
      await s.page.click(`[data-file="${archive}"] [data-download="zip"]`);
      const zip = zipFiles(await downloaded(s.downloads, archive.replace(/\.dat$/, '.zip')));
      // zorv-manifest.json (what zorv build needs for a byte-for-byte
      // rebuild) must match where the ZIP carries it.
      const written = filesBelow(out).filter((path) => path !== 'zorv-manifest.json' || path in zip);
      assert.deepEqual(Object.keys(zip).sort(), written.sort(), `${archive}: the ZIP's paths`);
      for (const path of written) assert.ok(zip[path].equals(readFileSync(join(out, path))), `${archive}: ${path} differs`);
    }
    // The filter takes zorv's patterns, letter case ignored.
    await s.page.type('[data-file="plain.dat"] [data-filter]', '*.pw');
    await s.page.waitForFunction(() => document.querySelectorAll('[data-file="plain.dat"] [data-entry]').length === 3);
    // ... and by kind: of those, the coded audio.
    await s.page.select('[data-file="plain.dat"] [data-kind-filter]', 'audio');
    await s.page.waitForFunction(() => [...document.querySelectorAll('[data-file="plain.dat"] [data-entry]')]
      .map((e) => e.dataset.name).join() === 'SE01.PW,BGM02.PW');
    await finish(s);
  });

  test('hostile and damaged files: an alert naming each, no hang, the page still works', async () => {
    const cli = cliFixtures();
    const seeds = fuzzSeeds();
    const hostile = [join(cli, 'broken.dat'), join(cli, 'hostile.dat'), join(cli, 'notes.txt')];
    for (const target of ['fuzz_archive', 'fuzz_picture']) {
      for (const dir of [join(seeds, target), join(root, 'fuzz/regressions', target)]) {
        if (existsSync(dir)) hostile.push(...readdirSync(dir).map((name) => join(dir, name)));
      }
    }
    const s = await session();
    await openFiles(s.page, hostile);
    const states = await settled(s.page, hostile.length, 60_000);
    for (const file of states) {
      if (file.state === 'failed') {
        const alert = await s.page.$eval(`[data-file="${CSS_escape(file.name)}"] [role=alert]`, (e) => e.textContent);
        assert.ok(alert.includes(file.name), `the alert does not name ${file.name}: ${alert}`);
      }
    }
    // Every entry of every file that opened answers, one way or the other.
    for (const file of states.filter((f) => f.state === 'ready')) {
      const indices = await s.page.$$eval(`[data-file="${CSS_escape(file.name)}"] [data-entry]`, (all) => all.slice(0, 8).map((e) => e.dataset.index));
      for (const index of indices) {
        await s.page.click(`[data-file="${CSS_escape(file.name)}"] [data-entry][data-index="${index}"]`);
        await s.page.waitForSelector('[data-viewer] canvas[data-picture], [data-viewer] audio[data-audio], [data-viewer] [data-preview], [data-viewer] [role=alert]', { timeout: 10_000 });
        await closeViewer(s.page);
      }
    }
    await openFiles(s.page, [join(cli, 'plain.dat')]);
    const again = await settled(s.page, hostile.length + 1);
    assert.equal(again.at(-1).state, 'ready');
    await finish(s);
  });

  test('65,535 entries: lists, scrolls to the end, fewer than 2,000 entry elements', async () => {
    const dir = cliFixtures('tiny');
    const s = await session();
    await openFiles(s.page, [join(dir, 'tiny.dat')]);
    const [state] = await settled(s.page, 1);
    assert.equal(state.entries, '65535');
    const list = '[data-file="tiny.dat"] [role=grid]';
    for (const fraction of [0.25, 0.5, 0.75, 1]) {
      await s.page.$eval(list, (e, f) => { e.scrollTop = f * e.scrollHeight; }, fraction);
      await new Promise((resolve) => setTimeout(resolve, 100));
      assert.ok(await s.page.$$eval('[data-entry]', (all) => all.length) < 2000);
    }
    await s.page.waitForSelector('[data-file="tiny.dat"] [data-entry][data-index="65534"]');
    // The keyboard reaches the end too.
    await s.page.focus('[data-file="tiny.dat"] [data-entry]');
    await s.page.keyboard.press('Home');
    await s.page.keyboard.press('End');
    assert.equal(await s.page.evaluate(() => document.activeElement?.dataset.index), '65534');
    assert.ok(await s.page.$$eval('[data-entry]', (all) => all.length) < 2000);
    await finish(s);
  });
});

// Every entry of a file's list, gathered by scrolling it from top to end.
async function everyEntry(page, file) {
  const list = `[data-file="${CSS_escape(file)}"] [role=grid]`;
  const seen = new Map();
  for (let top = 0; ; top += 200) {
    const { entries, end } = await page.$eval(list, async (element, at) => {
      element.scrollTop = at;
      await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
      return {
        entries: [...element.querySelectorAll('[data-entry]')].map((e) => ({
          index: Number(e.dataset.index), kind: e.dataset.kind, name: e.dataset.name,
          output: e.querySelector('.output')?.textContent.replace(/^ → /, '') ?? e.dataset.name,
        })),
        end: element.scrollTop + element.clientHeight >= element.scrollHeight - 1,
      };
    }, top);
    for (const entry of entries) seen.set(entry.index, entry);
    if (end) break;
  }
  return [...seen.values()].sort((a, b) => a.index - b.index);
}

// Names from hostile files hold quotes and backslashes.
function CSS_escape(name) {
  return name.replace(/["\\]/g, '\\$&');
}
