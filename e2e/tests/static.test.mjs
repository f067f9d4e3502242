// A static site in headless Chromium: a standards-mode page with its style sheet, an SVG picture,
// a JavaScript module and a video that seeks; the welcome page of the site root; and requests
// that try to leave the static folder.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, symlinkSync, writeFileSync } from 'node:fs';
import { connect } from 'node:net';
import { join, resolve } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

const fixtures = resolve(import.meta.dirname, '../fixtures');
const secret = 'TOPSECRET-e2e-51c3';

let server;
let browser;

before(async () => {
  const dir = tempDir();
  const site = join(dir, 'site');
  mkdirSync(join(site, 'js'), { recursive: true });
  writeFileSync(join(site, 'index.htm'), `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Static site</title>
<link rel="stylesheet" href="style.css">
<script type="module" src="js/main.js"></script>
</head>
<body>
<h1 id="heading">Static site</h1>
<img id="picture" src="picture.svg" alt="">
<video id="clip" src="clip.webm" preload="auto" muted></video>
</body>
</html>
`);
  writeFileSync(join(site, 'style.css'), 'h1 { color: rgb(1, 2, 3); }\n#picture { width: 40px; }\n');
  writeFileSync(join(site, 'js', 'main.js'), "import { mark } from './util.js';\ndocument.body.dataset.module = mark;\n");
  writeFileSync(join(site, 'js', 'util.js'), "export const mark = 'loaded';\n");
  writeFileSync(join(site, 'picture.svg'),
    '<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10"><rect width="20" height="10" fill="#c00"/></svg>');
  copyFileSync(join(fixtures, 'clip.webm'), join(site, 'clip.webm'));
  writeFileSync(join(dir, 'secret.txt'), secret);
  symlinkSync(join(dir, 'secret.txt'), join(site, 'link-out.txt'));

  // The remote editor is off so that no popup opens; the virtual folder makes "/" the site root.
  server = await startPelotest(`[Settings]\nStaticPath=${site}/\nVirtualPath=app\nRemoteEdit=0\n`, dir);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await server?.stop();
  server?.cleanup();
});

test('a standards-mode page renders with its style sheet, SVG, module and video', async () => {
  const page = await browser.newPage();
  const seen = [];
  page.on('response', (r) => seen.push({ url: r.url(), status: r.status(), type: r.headers()['content-type'] }));
  await page.goto(`${server.url}/index.htm`);

  assert.equal(await page.evaluate(() => document.compatMode), 'CSS1Compat');
  assert.equal(await page.$eval('#heading', (e) => getComputedStyle(e).color), 'rgb(1, 2, 3)');
  await page.waitForFunction(() => document.body.dataset.module === 'loaded', null, { timeout: 5000 });
  await page.waitForFunction(() => {
    const img = document.getElementById('picture');
    return img.complete && img.naturalWidth === 20;
  }, null, { timeout: 5000 });

  const video = await page.evaluate(async () => {
    const v = document.getElementById('clip');
    const event = (name) => new Promise((ok, fail) => {
      v.addEventListener(name, ok, { once: true });
      v.addEventListener('error', () => fail(new Error(`video error ${v.error?.code}`)), { once: true });
      setTimeout(() => fail(new Error(`no ${name}`)), 10000);
    });
    if (v.readyState < 1) await event('loadedmetadata');
    const duration = v.duration;
    const seeked = event('seeked');
    v.currentTime = 3;
    await seeked;
    return { duration, time: v.currentTime, seekable: v.seekable.length ? v.seekable.end(0) : 0 };
  });
  assert.ok(Math.abs(video.duration - 4) < 0.2, `duration ${video.duration}`);
  assert.ok(Math.abs(video.time - 3) < 0.2, `time after seek ${video.time}`);
  assert.ok(video.seekable > 3.5, `seekable up to ${video.seekable}`);

  const typeOf = (name) => seen.find((r) => r.url.endsWith(name))?.type;
  assert.equal(typeOf('/style.css'), 'text/css');
  assert.equal(typeOf('/js/main.js'), 'text/javascript');
  assert.equal(typeOf('/picture.svg'), 'image/svg+xml');
  assert.ok(seen.some((r) => r.url.endsWith('/clip.webm') && r.status === 206), 'the video is fetched by ranges');

  // A reload revalidates: the unchanged style sheet comes back as 304.
  seen.length = 0;
  await page.reload();
  assert.equal(await page.$eval('#heading', (e) => getComputedStyle(e).color), 'rgb(1, 2, 3)');
  assert.equal(seen.find((r) => r.url.endsWith('/style.css'))?.status, 304);
  await page.close();
});

test('the welcome page of the site root lists the start-page choices', async () => {
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  const response = await page.goto(`${server.url}/`);
  assert.equal(response.status(), 200);
  assert.equal(response.headers()['cache-control'], 'no-store');
  const options = await page.$$eval('select[name=SITE] option', (all) => all.map((o) => o.value));
  assert.deepEqual(options, ['clip.webm', 'index.htm', 'link-out.txt', 'picture.svg', 'style.css']);
  assert.match(await page.textContent('body'), /Dunmere/);
  const shot = await page.screenshot({ fullPage: true });
  assert.ok(shot.length > 5000, 'the screenshot shows a rendered page');
  if (process.env.PELOTEST_SCREENSHOTS) writeFileSync(resolve(import.meta.dirname, '../../docs/welcome.png'), shot);
  await page.close();
});

// One request sent as raw bytes, so that no client tidies the path; resolves with the answer.
function rawGet(port, target) {
  return new Promise((ok, fail) => {
    const socket = connect(port, '127.0.0.1', () => {
      socket.write(`GET ${target} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n`);
    });
    let data = '';
    socket.setEncoding('latin1');
    socket.on('data', (d) => { data += d; });
    socket.on('end', () => ok(data));
    socket.on('error', fail);
    socket.setTimeout(5000, () => { socket.destroy(); fail(new Error(`timeout on ${target}`)); });
  });
}

test('nothing outside the static folder is sent', async () => {
  const targets = ['/../secret.txt', '/%2e%2e/secret.txt', '/..%2fsecret.txt', '/..%5csecret.txt',
    '/..\\secret.txt', '//../secret.txt', '/secret.txt%00.htm', '/link-out.txt', '/js/..%2f..%2f..%2fsecret.txt'];
  for (const target of targets) {
    const answer = await rawGet(server.port, target);
    assert.ok(!answer.includes(secret), `${target} leaked the file`);
    assert.match(answer, /^HTTP\/1\.1 4\d\d /, `${target}: ${answer.slice(0, 80)}`);
  }
  assert.match(await rawGet(server.port, '/index.htm'), /^HTTP\/1\.1 200 /);
});
