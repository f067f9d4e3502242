// A language library that tries to run script in the server's origin through texts that stand in
// a script: the control page's information link (a javascript: link, where the browser turns
// "%27" into a quote) and the welcome page's link to the vendor (where a "javascript:" address
// would run). Clicked in Chromium, both do what the built-in texts do.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

const hostileLibrary = process.env.PELOTEST_HOSTILE_LIBRARY ??
  resolve(import.meta.dirname, '../../build/tests/lang/lang_hostile.dll');

// Starts PeloTest headless with the hostile library as its language.
async function startWithHostileLibrary(settings) {
  const dir = tempDir();
  const languages = join(dir, 'data', 'pelotest', 'languages');
  mkdirSync(languages, { recursive: true });
  copyFileSync(hostileLibrary, join(languages, 'hostile.dll'));
  const previous = process.env.XDG_DATA_HOME;
  process.env.XDG_DATA_HOME = join(dir, 'data');
  try {
    return await startPelotest(`[Settings]\nLanguageDll=hostile.dll\n${settings(dir)}`, dir);
  } finally {
    if (previous === undefined) delete process.env.XDG_DATA_HOME;
    else process.env.XDG_DATA_HOME = previous;
  }
}

test('a library text cannot run script from the control or the welcome page', async () => {
  // A template folder with a variable in it: the control page shows its information link.
  const control = await startWithHostileLibrary(
    (dir) => `DynamicPath=${dir}/t/(Sub)\n[Variables]\nSub=mpl\n`);
  // With a virtual folder the site root is the welcome page.
  const welcome = await startWithHostileLibrary(
    (dir) => `StaticPath=${dir}/\nVirtualPath=app\n`);
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    const alerts = [];
    page.on('dialog', (dialog) => { alerts.push(dialog.message()); dialog.dismiss(); });

    await page.goto(`${control.url}/$int`);
    const title = await page.title();
    await page.click('a[href^="JavaScript:alert"]');
    await page.waitForTimeout(300);
    assert.equal(await page.title(), title);
    assert.equal(alerts.length, 1);
    assert.match(alerts[0], /^Der angezeigte Pfad ist nicht statisch/);

    await page.goto(`${welcome.url}/`);
    await page.click('a[target="PELORIN"]', { noWaitAfter: true });
    await page.waitForTimeout(300);
    assert.equal(await page.getAttribute('a[target="PELORIN"]', 'href'),
      'https://www.pelorin.example/');
    assert.notEqual(await page.title(), '127.0.0.1');
  } finally {
    await browser.close();
    for (const app of [control, welcome]) {
      await app.stop();
      app.cleanup();
    }
  }
});
