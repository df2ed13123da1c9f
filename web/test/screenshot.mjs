// The README's pictures of the page: a fixture archive open, in light and
// dark, wide and at phone width. `node test/screenshot.mjs [FOLDER]`
// (default: docs/ at the top of the repository).
import { join } from 'node:path';
import { mkdirSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { launch, openViewer, openFiles, settled, root } from './browser.mjs';
import { cliFixtures, makeFolder, zorv } from './fixtures.mjs';

// A small archive worth looking at: pictures drawn by Pillow and packed by
// zorv pack, a chirp coded by zorv build, and a note in code page 932.
function gallery() {
  const dir = makeFolder('gallery');
  const folder = join(dir, 'GALLERY');
  mkdirSync(folder);
  execFileSync('/usr/bin/python3', ['-c', `
import math, struct, sys, wave
from PIL import Image, ImageDraw
out = sys.argv[1]
w, h = 320, 240
m = Image.effect_mandelbrot((w, h), (-2.2, -1.2, 0.8, 1.2), 80)
Image.merge("RGB", (m, m.point(lambda v: (v * 3) % 256), m.point(lambda v: 255 - v))).save(out + "/a.png")
g = Image.linear_gradient("L").resize((w, h))
Image.merge("RGB", (g, g.rotate(90), Image.radial_gradient("L").resize((w, h)))).save(out + "/b.png")
sky = Image.new("RGB", (w, h), (40, 60, 120)); d = ImageDraw.Draw(sky)
for i in range(12): d.ellipse((20 * i, 100 - 6 * i, 20 * i + 80, 180 - 6 * i), fill=(255 - 15 * i, 120 + 10 * i, 60 + 12 * i))
sky.save(out + "/c.png")
Image.effect_noise((w, h), 60).convert("P", palette=Image.ADAPTIVE, colors=16).save(out + "/d.png")
with wave.open(out + "/CHIRP.WAV", "wb") as f:
    f.setnchannels(1); f.setsampwidth(2); f.setframerate(22050)
    f.writeframes(b"".join(struct.pack("<h", int(9000 * math.sin(2 * math.pi * (200 + 300 * t / 22050) * t / 22050) * (1 - t / 33075))) for t in range(33075)))
open(out + "/README.TXT", "wb").write("ZORVAN 画像と音声\\r\\n".encode("cp932"))
`, folder]);
  const names = { 'a.png': 'CG01.BMP', 'b.png': 'CG02.BMP', 'c.png': 'BG01.BMP', 'd.png': 'CG03.BMP' };
  for (const [png, bmp] of Object.entries(names)) {
    zorv(['pack', '-q', join(folder, png), '-o', join(folder, bmp)]);
    execFileSync('rm', [join(folder, png)]);
  }
  zorv(['build', '-q', '--encode-audio', folder, '-o', join(dir, 'GALLERY.DAT')]);
  return join(dir, 'GALLERY.DAT');
}

const out = process.argv[2] ?? join(root, 'docs');
mkdirSync(out, { recursive: true });
const cli = cliFixtures();
const galleryFile = gallery();
const browser = await launch();
const shots = [
  { name: 'viewer-light.png', width: 1100, height: 700, dark: false, open: null },
  { name: 'viewer-dark.png', width: 1100, height: 700, dark: true, open: 'GALLERY.DAT' },
  { name: 'viewer-phone.png', width: 390, height: 760, dark: false, open: null },
  { name: 'viewer-audio.png', width: 900, height: 520, dark: false, open: 'GALLERY.DAT', kind: 'audio' },
];
try {
  for (const shot of shots) {
    const { page } = await openViewer(browser, shot);
    await openFiles(page, [galleryFile, join(cli, 'odd.dat'), join(cli, 'notes.txt')]);
    await settled(page, 3);
    await page.waitForFunction(() => [...document.querySelectorAll('.thumb img')].filter((i) => i.complete).length >= 2, { timeout: 10_000 }).catch(() => {});
    if (shot.open) {
      await page.click(`[data-file="${shot.open}"] [data-entry][data-kind=${shot.kind ?? 'picture'}]`);
      await page.waitForSelector('[data-viewer] canvas[data-picture], [data-viewer] audio[data-audio]');
    }
    await new Promise((resolve) => setTimeout(resolve, 300));
    await page.screenshot({ path: join(out, shot.name) });
    await page.close();
    console.log(join(out, shot.name));
  }
} finally {
  await browser.close();
}
