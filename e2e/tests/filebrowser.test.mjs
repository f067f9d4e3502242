// The file browser in the control page's static-folder frame: into a subfolder (the heading
// follows), back up with "..", and a file into the editor.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

test('folders open in the frame, ".." leads back, files open in the editor', async () => {
  const dir = tempDir();
  const site = join(dir, 'site');
  mkdirSync(join(site, 'shop'), { recursive: true });
  mkdirSync(join(dir, 'tmpl'));
  writeFileSync(join(site, 'index.htm'), '<title>Home</title>\n');
  writeFileSync(join(site, 'logo.gif'), 'GIF89a');
  writeFileSync(join(site, 'shop', 'cart.htm'), '<p>cart</p>\n');
  writeFileSync(join(dir, 'tmpl', 'start.htm'), 'x');
  const app = await startPelotest(
    `[Settings]\nDynamicPath=${dir}/tmpl\nStaticPath=${site}/\nVirtualPath=app\n`, dir);
  const browser = await launchBrowser();
  try {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(`${app.url}/$int/`);
    const frame = page.frames().find((f) => f.url().includes('TYPE=1'));
    assert.ok(frame, 'the static-folder frame');
    await frame.waitForLoadState();
    const names = async () => (await frame.locator('a.file').allTextContents()).map((t) => t.trim());
    assert.deepEqual(await names(), ['index.htm', 'shop']);

    await Promise.all([frame.waitForURL(/shop&TYPE=1$/), frame.click('a.file:has-text("shop")')]);
    assert.deepEqual(await names(), ['..', 'cart.htm']);
    assert.equal(await page.textContent('#path'), `${site}/shop`);
    // The part below the static folder is drawn in the grey-text colour.
    assert.equal(await page.locator('#path font').nth(1).textContent(), '/shop');

    await Promise.all([frame.waitForURL(/PATH=.*site\/&TYPE=1$/), frame.click('a.file:has-text("..")')]);
    assert.deepEqual(await names(), ['index.htm', 'shop']);
    assert.equal(await page.textContent('#path'), site);

    const [editor] = await Promise.all([
      context.waitForEvent('page'),
      frame.click('a.file:has-text("index.htm")'),
    ]);
    await editor.waitForLoadState();
    assert.equal(await editor.title(), `${site}/index.htm - Seite bearbeiten`);
    assert.equal(await editor.inputValue('textarea[name=SITE]'), '<title>Home</title>\n');

    // The templates frame lists with the template picture and keeps TYPE=0 in folder links.
    const templates = page.frames().find((f) => f.url().includes('TYPE=0'));
    assert.equal(await templates.getAttribute('a.file:has-text("start.htm") img', 'src'), '/$int/Img3.gif');
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});
