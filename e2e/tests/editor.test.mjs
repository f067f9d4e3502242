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

test('saving unchanged text asks first; closing asks only after a change', async () => {
  const { dir, template, ini } = siteWithTemplate();
  const app = await startPelotest(ini, dir);
  const browser = await launchBrowser();
  try {
    const context = await browser.newContext();
    const opener = await context.newPage();
    await opener.goto(`${app.url}/$int/styles.css`);
    const site = encodeURIComponent(template.replaceAll('/', '?'));
    // The editor as the site log opens it: a window of its own, which its script may close.
    const openEditor = async () => {
      const [editor] = await Promise.all([
        context.waitForEvent('page'),
        opener.evaluate((url) => { window.open(url, '_blank', 'width=600,height=450'); },
          `${app.url}/$int/SiteEdit.html?site=${site}`),
      ]);
      await editor.waitForLoadState();
      return editor;
    };
    const original = '<html><head><title>Start</title></head>\n<body>old text</body></html>\n';

    // A click whose script closes the window may end before the click has returned; that is
    // the expected end here, not a failure.
    const clickToClose = (page, selector) =>
      page.click(selector).catch((error) => { if (!page.isClosed()) throw error; });

    let editor = await openEditor();
    const dialogs = [];
    editor.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
    await editor.click('input[type=SUBMIT]');
    assert.deepEqual(dialogs, ['Die Datei wurde nicht ver\u00e4ndert!\n\nWollen Sie die Datei dennoch speichern?']);
    assert.match(editor.url(), /SiteEdit\.html/);
    editor.removeAllListeners('dialog');
    editor.on('dialog', (d) => d.accept());
    await Promise.all([editor.waitForURL(/SiteSave\.html/), editor.click('input[type=SUBMIT]')]);
    assert.equal(readFileSync(template, 'latin1'), original.replaceAll('\n', '\r\n'));

    // Close with the text unchanged: no question, the window goes.
    editor = await openEditor();
    editor.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
    await Promise.all([editor.waitForEvent('close'), clickToClose(editor, 'input[value=" Schliessen"]')]);
    assert.equal(dialogs.length, 1);

    // Close after a change: asks; Cancel closes without saving.
    editor = await openEditor();
    editor.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
    await editor.fill('textarea[name=SITE]', 'changed');
    await Promise.all([editor.waitForEvent('close'), clickToClose(editor, 'input[value=" Schliessen"]')]);
    assert.deepEqual(dialogs.slice(1), ['Wollen Sie die \u00c4nderungen Speichern?']);
    assert.equal(readFileSync(template, 'latin1'), original.replaceAll('\n', '\r\n'));
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
