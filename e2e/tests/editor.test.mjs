// The remote editor in the browser: from the control page's site log into the editor of a served
// template, save, and see the change on disk and in the next answer; a form posted from another
// site changes nothing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { freePort, launchBrowser, startPelotest, tempDir } from '../lib.mjs';

function siteWithTemplate() {
  const dir = tempDir();
  mkdirSync(join(dir, 'tmpl'));
  mkdirSync(join(dir, 'site'));
  const template = join(dir, 'tmpl', 'start.htm');
  writeFileSync(template, '<html><head><title>Start</title></head>\n<body>old text</body></html>\n');
  const ini = `[Settings]\nDynamicPath=${dir}/tmpl\nVirtualPath=app\nStaticPath=${dir}/site/\n` +
    `RemoteEditReload=600\n[Tree]\nNode0=start.htm\n`;
  return { dir, template, ini };
}

test('a served template is edited from the site log and saved with CR LF', async () => {
  const { dir, template, ini } = siteWithTemplate();
  const app = await startPelotest(ini, dir);
  const browser = await launchBrowser();
  try {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(`${app.url}/app/`);
    assert.match(await page.content(), /old text/);

    await page.goto(`${app.url}/$int`);
    const [log] = await Promise.all([context.waitForEvent('page'), page.click('input[value=" Log"]')]);
    await log.waitForLoadState();
    assert.equal(await log.title(), 'Log');

    const [editor] = await Promise.all([
      context.waitForEvent('page'),
      log.click('a.file:has-text("start.htm")'),
    ]);
    await editor.waitForLoadState();
    assert.equal(await editor.title(), `${template} - Template bearbeiten`);
    assert.equal(await editor.inputValue('textarea[name=SITE]'),
      '<html><head><title>Start</title></head>\n<body>old text</body></html>\n');
    assert.match(await editor.textContent('span.note'), /Byte$/);

    await editor.fill('textarea[name=SITE]', '<html><head><title>Start</title></head>\n<body>new text</body></html>');
    await Promise.all([editor.waitForURL(/SiteSave\.html/), editor.click('input[type=SUBMIT]')]);
    assert.equal(await editor.title(), 'start.htm - Gespeichert');
    assert.match(await editor.textContent('body'), /wurde gespeichert\./);

    assert.equal(readFileSync(template, 'latin1'),
      '<html><head><title>Start</title></head>\r\n<body>new text</body></html>\r\n');
    await page.goto(`${app.url}/app/`);
    assert.match(await page.content(), /new text/);
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});

test('saving unchanged text asks first; closing unchanged text does not', async () => {
  const { dir, template, ini } = siteWithTemplate();
  const app = await startPelotest(ini, dir);
  const browser = await launchBrowser();
  try {
    const context = await browser.newContext();
    const page = await context.newPage();
    const site = encodeURIComponent(template.replaceAll('/', '?'));
    const dialogs = [];
    page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
    await page.goto(`${app.url}/$int/SiteEdit.html?site=${site}`);
    await page.click('input[type=SUBMIT]');
    assert.deepEqual(dialogs, ['Die Datei wurde nicht ver\u00e4ndert!\n\nWollen Sie die Datei dennoch speichern?']);
    assert.match(page.url(), /SiteEdit\.html/);

    page.removeAllListeners('dialog');
    page.on('dialog', (d) => d.accept());
    await Promise.all([page.waitForURL(/SiteSave\.html/), page.click('input[type=SUBMIT]')]);
    assert.equal(readFileSync(template, 'latin1'),
      '<html><head><title>Start</title></head>\r\n<body>old text</body></html>\r\n');
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});

test('a form posted to SiteSave.html from another site changes nothing', async () => {
  const { dir, template, ini } = siteWithTemplate();
  const app = await startPelotest(ini, dir);
  const evilPort = await freePort();
  const evil = createServer((req, res) => {
    res.setHeader('Content-Type', 'text/html');
    res.end(`<form method="POST" action="${app.url}/$int/SiteSave.html">` +
      `<input name="FILE" value="${template}"><input name="SITE" value="pwned"></form>` +
      '<script>document.forms[0].submit();</script>');
  });
  await new Promise((ok) => evil.listen(evilPort, '127.0.0.1', ok));
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    const refused = page.waitForResponse((r) => r.url().endsWith('/$int/SiteSave.html'));
    await page.goto(`http://127.0.0.1:${evilPort}/`);
    assert.equal((await refused).status(), 403);
    assert.equal(readFileSync(template, 'latin1'),
      '<html><head><title>Start</title></head>\n<body>old text</body></html>\n');
  } finally {
    await browser.close();
    evil.close();
    await app.stop();
    app.cleanup();
  }
});
