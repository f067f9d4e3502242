// A UTF-8 site in the browser: a title and a value from the address are shown as written, the
// variables page shows the value, and a value typed into its prompt reaches the template and is
// stored as the same UTF-8 bytes in the settings file.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

test('a UTF-8 site round-trips titles and typed values', async () => {
  const dir = tempDir();
  mkdirSync(join(dir, 'templates'));
  writeFileSync(join(dir, 'templates', 'show.htm'),
    '<html><head><meta charset="utf-8"><title>Übersicht – Größen</title></head>' +
    '<body><p id="v">/(Wert)</p></body></html>');
  const app = await startPelotest('[Settings]\nVirtualPath=app\n' +
    `DynamicPath=${dir}/templates\n[Tree]\nNode0=show.htm (Show)\n[Const]\nSiteEncoding=utf-8\n`, dir);
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    await page.goto(`${app.url}/app/?PELO_EVENT=Show&Wert=日本`);
    assert.equal(await page.title(), 'Übersicht – Größen');
    assert.equal(await page.textContent('#v'), '日本');

    await page.goto(`${app.url}/$int/VarList.html?INT=true`);
    assert.match(await page.textContent('body'), /Wert\s*日本/);
    page.once('dialog', (d) => d.accept('Größe – 日本'));
    await Promise.all([page.waitForNavigation(), page.click('a.file:has-text("日本")')]);
    assert.match(await page.textContent('body'), /Wert\s*Größe – 日本/);

    await page.goto(`${app.url}/app/?PELO_EVENT=Show`);
    assert.equal(await page.textContent('#v'), 'Größe – 日本');
  } finally {
    await browser.close();
    assert.equal(await app.stop(), 0);
  }
  const stored = readFileSync(app.settings);
  assert.ok(stored.includes(Buffer.from('Wert=Größe – 日本\n', 'utf8')) ||
            stored.includes(Buffer.from('Wert=Größe – 日本\r\n', 'utf8')));
  app.cleanup();
});
