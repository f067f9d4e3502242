// Live reload in headless Chromium: a template changed on disk shows in the open page by itself,
// and a changed style sheet applies without reloading the page (a typed value stays), asked for
// with the live script's own parameter, which sets no variable of the site.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { freePort, launchBrowser, startPelotest, tempDir } from '../lib.mjs';

let server;
let browser;
let site;
let templates;
let settingsText;

before(async () => {
  const dir = tempDir();
  site = join(dir, 'site');
  templates = join(dir, 'tmpl');
  mkdirSync(site);
  mkdirSync(templates);
  writeFileSync(join(templates, 'page.htm'), '<html><body><p id="text">first version</p></body></html>\n');
  writeFileSync(join(site, 'form.htm'), `<!DOCTYPE html>
<html>
<head><title>Form</title><link rel="stylesheet" href="style.css"></head>
<body>
<h1 id="heading">Form</h1>
<input id="field">
</body>
</html>
`);
  writeFileSync(join(site, 'style.css'), 'h1 { color: rgb(200, 0, 0); }\n');
  settingsText = `[Settings]\nPort=${await freePort()}\nStaticPath=${site}/\nDynamicPath=${templates}\n`
    + 'VirtualPath=app\nRemoteEdit=0\nLiveReload=1\n[Tree]\nNode0=page.htm\n';
  server = await startPelotest(settingsText, dir);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await server?.stop();
  server?.cleanup();
});

// Opens url and waits until its page listens for changes.
async function openListening(url) {
  const page = await browser.newPage();
  const listening = page.waitForResponse((r) => r.url().endsWith('/$int/live'));
  await page.goto(url);
  assert.equal((await listening).headers()['content-type'], 'text/event-stream');
  return page;
}

test('a template changed on disk shows in the open page within one second', async () => {
  const page = await openListening(`${server.url}/app/`);
  assert.equal(await page.textContent('#text'), 'first version');
  writeFileSync(join(templates, 'page.htm'), '<html><body><p id="text">second version</p></body></html>\n');
  await page.waitForFunction(() => document.getElementById('text')?.textContent === 'second version',
    null, { timeout: 1000 });
  await page.close();
});

test('a changed style sheet applies in place and a typed value stays', async () => {
  const page = await openListening(`${server.url}/form.htm`);
  const colour = () => page.$eval('#heading', (h) => getComputedStyle(h).color);
  assert.equal(await colour(), 'rgb(200, 0, 0)');
  await page.fill('#field', 'typed text');
  await page.evaluate(() => { window.sameDocument = true; });
  const swap = page.waitForRequest((r) => new URL(r.url()).pathname === '/style.css');
  writeFileSync(join(site, 'style.css'), 'h1 { color: rgb(0, 120, 0); }\n');
  const swapped = new URL((await swap).url());
  assert.deepEqual([...swapped.searchParams.keys()], ['$live']);
  await page.waitForFunction(() => getComputedStyle(document.getElementById('heading')).color === 'rgb(0, 120, 0)',
    null, { timeout: 1000 });
  assert.equal(await page.inputValue('#field'), 'typed text');
  assert.equal(await page.evaluate(() => window.sameDocument), true);
  const variables = await (await fetch(`${server.url}/$int/VarList.html`)).text();
  assert.ok(!variables.includes('$live'), 'the swap set a variable');
  await page.close();
});

test('an open page reloads once the server it listens to has been restarted', async () => {
  const page = await openListening(`${server.url}/app/`);
  await server.stop();
  writeFileSync(join(templates, 'page.htm'), '<html><body><p id="text">after restart</p></body></html>\n');
  server = await startPelotest(settingsText, server.dir);
  await page.waitForFunction(() => document.getElementById('text')?.textContent === 'after restart',
    null, { timeout: 5000 });
  await page.close();
});
