// The README's quick start in headless Chromium: a folder named with --static alone (no templates
// folder anywhere) is served as a plain file server serves it, and the settings file is left as
// it was (here: it never comes to exist).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { freePort, launchBrowser, startPelotest, tempDir } from '../lib.mjs';

let server;
let browser;

before(async () => {
  const dir = tempDir();
  const site = join(dir, 'site');
  mkdirSync(join(site, 'docs'), { recursive: true });
  writeFileSync(join(site, 'index.htm'), `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Home</title><link rel="stylesheet" href="site.css"></head>
<body><h1>Home</h1><a id="docs" href="docs/">Docs</a> <a id="gone" href="gone.htm">Gone</a></body></html>
`);
  writeFileSync(join(site, 'site.css'), 'h1 { color: rgb(7, 8, 9); }\n');
  writeFileSync(join(site, 'docs', 'index.html'), `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Docs</title><link rel="stylesheet" href="../site.css"></head>
<body><h1>Docs</h1><a id="home" href="../">Home</a></body></html>
`);
  const port = await freePort();
  server = await startPelotest(null, dir, ['--static', site, '--port', String(port)]);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await server?.stop();
  server?.cleanup();
});

test('the folder answers with its index pages, folders too, and a missing page is not found', async () => {
  const page = await browser.newPage();
  const home = await page.goto(`${server.url}/?from=readme`);
  assert.equal(home.status(), 200);
  assert.equal(await page.title(), 'Home');
  assert.equal(await page.$eval('h1', (h) => getComputedStyle(h).color), 'rgb(7, 8, 9)');

  await Promise.all([page.waitForURL(`${server.url}/docs/`), page.click('#docs')]);
  assert.equal(await page.title(), 'Docs');
  assert.equal(await page.$eval('h1', (h) => getComputedStyle(h).color), 'rgb(7, 8, 9)');

  // A folder without its closing '/' is sent on to it, so its relative links still resolve.
  await page.goto(`${server.url}/docs`);
  assert.equal(page.url(), `${server.url}/docs/`);
  await Promise.all([page.waitForURL(`${server.url}/`), page.click('#home')]);
  assert.equal(await page.title(), 'Home');

  const [missing] = await Promise.all([page.waitForResponse(/gone\.htm$/), page.click('#gone')]);
  assert.equal(missing.status(), 404);
  await page.close();
});

test('the settings file is left as it was', async () => {
  assert.equal(await server.stop(), 0);
  assert.equal(existsSync(server.settings), false);
});
