// Folders whose names hold the characters that end or change a query value ('+', '&', '#', '%'):
// the control page's frames open exactly those folders, and so do the file list's own links.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

test('frames open folders named with + & # %', async () => {
  const dir = tempDir();
  const site = join(dir, 'st+a&t#ic%41');
  const tmpl = join(dir, 'tp l+&#%');
  mkdirSync(join(site, 'sub+1&2'), { recursive: true });
  mkdirSync(tmpl);
  // Decoys: where a wrongly encoded address would lead instead.
  mkdirSync(join(dir, 'st a'));
  writeFileSync(join(dir, 'st a', 'decoy.htm'), 'x');
  writeFileSync(join(site, 'in-static.htm'), 'x');
  writeFileSync(join(site, 'sub+1&2', 'deeper.htm'), 'x');
  writeFileSync(join(tmpl, 'in-templates.htm'), 'x');
  const app = await startPelotest(
    `[Settings]\nDynamicPath=${tmpl}\nStaticPath=${site}/\nVirtualPath=app\n`, dir);
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    await page.goto(`${app.url}/$int/`);
    const frameOf = (type) => page.frames().find((f) => f.url().includes(`TYPE=${type}`));
    const names = async (frame) =>
      (await frame.locator('a.file').allTextContents()).map((t) => t.trim());

    const files = frameOf(1);
    const templates = frameOf(0);
    assert.ok(files && templates, 'both folder frames');
    await files.waitForLoadState();
    await templates.waitForLoadState();
    assert.deepEqual(await names(files), ['in-static.htm', 'sub+1&2']);
    assert.deepEqual(await names(templates), ['in-templates.htm']);

    // The file list's own folder links carry such names too.
    await Promise.all([files.waitForURL(/sub%2B1%262/), files.click('a.file:has-text("sub+1&2")')]);
    assert.deepEqual(await names(files), ['..', 'deeper.htm']);
    assert.equal(await page.textContent('#path'), `${site}/sub+1&2`);
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});
