// The site log pop-up: the pages served last, the countdown and its reload.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

test('the log lists served pages newest first and counts down to a reload', async () => {
  const dir = tempDir();
  const site = join(dir, 'site');
  mkdirSync(site);
  mkdirSync(join(dir, 'tmpl'));
  writeFileSync(join(site, 'a.htm'), '<title>A</title>\n');
  writeFileSync(join(dir, 'tmpl', 'start.htm'), '<title>Start</title>\n');
  const app = await startPelotest(`[Settings]\nDynamicPath=${dir}/tmpl\nStaticPath=${site}\n` +
    `VirtualPath=app\nRemoteEditReload=3\n[Tree]\nNode0=start.htm\n`, dir);
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    await page.goto(`${app.url}/a.htm`);
    await page.goto(`${app.url}/app/`);
    await page.goto(`${app.url}/missing.htm`); // not found: not listed

    await page.goto(`${app.url}/$int/SiteLog.html`);
    const entries = await page.locator('a.file').allTextContents();
    assert.deepEqual(entries.map((t) => t.trim()), ['start.htm', 'a.htm']);
    assert.equal(await page.locator('img[src="/$int/blank.gif"][width="16"]').count(), 13);
    assert.equal(await page.textContent('#count'), '3\u00a0Sek.');

    await page.waitForFunction(() => document.getElementById('count').textContent.startsWith('2'));
    await page.waitForURL(/SiteLog\.html\?Reload=\d{17}a$/, { timeout: 5000 });
    assert.equal((await fetch(`${app.url}/a.htm`)).status, 200); // served meanwhile
    await page.click('input[value=" Aktualisieren"]');
    await page.waitForURL(/Reload=\d{17}b$/);
    assert.equal((await page.locator('a.file').allTextContents()).map((t) => t.trim())[0], 'a.htm');
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});
