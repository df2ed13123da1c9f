// The README's pictures of the page: a fixture archive open, in light and
// dark, wide and at phone width. `node test/screenshot.mjs [FOLDER]`
// (default: docs/ at the top of the repository).
import { join } from 'node:path';
import { mkdirSync } from 'node:fs';
import { launch, openViewer, openFiles, settled, root } from './browser.mjs';
import { cliFixtures } from './fixtures.mjs';

const out = process.argv[2] ?? join(root, 'docs');
mkdirSync(out, { recursive: true });
const cli = cliFixtures();
const browser = await launch();
const shots = [
  { name: 'viewer-light.png', width: 1100, height: 700, dark: false, open: null },
  { name: 'viewer-dark.png', width: 1100, height: 700, dark: true, open: 'odd.dat' },
  { name: 'viewer-phone.png', width: 390, height: 760, dark: false, open: null },
];
try {
  for (const shot of shots) {
    const { page } = await openViewer(browser, shot);
    await openFiles(page, [join(cli, 'odd.dat'), join(cli, 'plain.dat'), join(cli, 'notes.txt')]);
    await settled(page, 3);
    await page.waitForFunction(() => document.querySelectorAll('.thumb canvas').length >= 2, { timeout: 10_000 }).catch(() => {});
    if (shot.open) {
      await page.click(`[data-file="${shot.open}"] [data-entry][data-kind=picture]`);
      await page.waitForSelector('[data-viewer] canvas[data-picture]');
    }
    await new Promise((resolve) => setTimeout(resolve, 300));
    await page.screenshot({ path: join(out, shot.name) });
    await page.close();
    console.log(join(out, shot.name));
  }
} finally {
  await browser.close();
}
