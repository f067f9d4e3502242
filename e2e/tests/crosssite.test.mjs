// What a page of another site can do to PeloTest in a real browser: its refreshes never lead
// off the server, however the start page or the return address is written; a page served from
// another origin (127.0.0.2) can neither frame the editor nor change variables, the start page
// or the templates with <img> or form requests; the control page's own frames and a typed
// address keep working.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

function smallSite() {
  const dir = tempDir();
  mkdirSync(join(dir, 'site'));
  mkdirSync(join(dir, 'tmpl'));
  writeFileSync(join(dir, 'site', 'index.htm'), '<html><head><title>Start</title></head><body>home</body></html>\n');
  const template = join(dir, 'tmpl', 'start.htm');
  writeFileSync(template, '<html><head><title>T</title></head>\n<body>secret template</body></html>\n');
  const ini = `[Settings]\nStaticPath=${dir}/site/\nDynamicPath=${dir}/tmpl\nVirtualPath=app\n` +
    `[Tree]\nNode0=start.htm\n`;
  return { dir, template, ini };
}

// Another site: an HTTP server on 127.0.0.2 answering every request with html (or a plain text),
// recording the paths it was asked for.
async function otherSite(html = () => 'other site') {
  const asked = [];
  const server = createServer((req, res) => {
    asked.push(req.url);
    res.setHeader('Content-Type', 'text/html');
    res.end(html(req));
  });
  await new Promise((ok) => server.listen(0, '127.0.0.2', ok));
  const origin = `http://127.0.0.2:${server.address().port}`;
  return { origin, asked, close: () => server.close() };
}

// The variables as the list page shows them, in its order (asked without any browser headers).
async function variables(app) {
  const body = await (await fetch(`${app.url}/$int/VarList.html?INT=true`)).text();
  // Both cells of a row link to the same editing call.
  return [...new Set([...body.matchAll(/EditVar\('([^']*)','([^']*)'\)/g)].map((m) => `${m[1]}=${m[2]}`))];
}

async function settingsOf(app) {
  const control = await (await fetch(`${app.url}/$int`)).text();
  return { choosesStartPage: control.includes('<SELECT NAME="SITES">') };
}

test('refreshes built from a start page or a return address stay on this server', async () => {
  const site = smallSite();
  const app = await startPelotest(site.ini, site.dir);
  const other = await otherSite();
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    const host = other.origin.slice('http://'.length);
    const leftSetter = (u) => !u.pathname.startsWith('/$int/Set');
    // A return address of SetTemplate; the start page stored by a GET, then the site root (last:
    // once it is set, a refresh to "/" goes on to the start page).
    for (const start of [
      `/$int/SetTemplate.html?EVENT=E&URL=%2F%2F${host}%2Fx`,
      `/$int/SetTemplate.html?EVENT=E&URL=%2F%09%2F${host}%2Fx`,
      `/$int/SetTemplate.html?EVENT=E&URL=http%3A%2F%2F${host}%2Fx`,
      `/$int/SetStartSite.html?SITE=%2F${host}%2Fpage`,
      `/$int/SetStartSite.html?SITE=%5C${host}%2Fpage`,
    ]) {
      await page.goto(`${app.url}${start}`);
      await page.waitForURL(leftSetter);
      await page.waitForLoadState();
      assert.equal(new URL(page.url()).origin, app.url, `${start} led to ${page.url()}`);
      if (start.includes('SetStartSite')) {
        await page.goto(`${app.url}/`);
        await page.waitForURL((u) => u.pathname !== '/');
        assert.equal(new URL(page.url()).origin, app.url, `the root after ${start} led to ${page.url()}`);
      }
    }
    // The legitimate cases still arrive: a start page and a return address on this server.
    await page.goto(`${app.url}/$int/SetStartSite.html?SITE=index.htm`);
    await page.waitForURL(leftSetter);
    await page.goto(`${app.url}/`);
    await page.waitForURL(/\/index\.htm$/);
    assert.equal(await page.title(), 'Start');
    assert.deepEqual(other.asked, []);
  } finally {
    await browser.close();
    other.close();
    await app.stop();
    app.cleanup();
  }
});

test('another site can neither frame the editor nor change the state through GET requests', async () => {
  const site = smallSite();
  const app = await startPelotest(site.ini, site.dir);
  const editorAddress = `${app.url}/$int/SiteEdit.html?site=${encodeURIComponent(site.template.replaceAll('/', '?'))}`;
  const other = await otherSite((req) => (req.url === '/form'
    ? `<form method="GET" action="${app.url}/$int/SetTemplate.html">` +
      '<input name="TEMPLATE" value="evil.htm"><input name="URL" value="/x"></form>' +
      '<script>document.forms[0].submit();</script>'
    : `<iframe id="editor" src="${editorAddress}"></iframe>` +
      `<iframe id="control" src="${app.url}/$int"></iframe>` +
      `<img src="${app.url}/$int/VarList.html?INT=true&NAME=alpha&VALUE=evil">` +
      `<img src="${app.url}/$int/VarList.html?INT=true&DELETE=beta">` +
      `<img src="${app.url}/$int/VarList.html?INT=true&COLUMN=2">` +
      `<img src="${app.url}/$int/SetStartSite.html?SITE=evil.htm">`));
  const browser = await launchBrowser();
  try {
    await fetch(`${app.url}/x.htm?beta=1&alpha=2`); // every parameter becomes a variable
    const before = await variables(app);
    assert.deepEqual([...before].sort(), ['alpha=2', 'beta=1']);

    const page = await browser.newPage();
    const sent = [];
    page.on('request', (r) => { if (r.url().startsWith(app.url)) sent.push(new URL(r.url()).pathname); });
    await page.goto(`${other.origin}/`);
    await page.waitForLoadState('load');

    // The frames stay empty: the browser refused to show the built-in pages inside another site.
    for (const id of ['editor', 'control']) {
      const frame = await (await page.$(`#${id}`)).contentFrame();
      assert.ok(frame, id);
      assert.equal(await frame.locator('textarea, input, iframe').count(), 0, `the ${id} frame shows the page`);
      assert.doesNotMatch(await frame.content(), /secret template/);
    }
    // The browser sent each state-changing request (their answers are opaque to the page; that
    // they changed nothing is checked below).
    assert.deepEqual(sent.filter((path) => path !== '/$int/SiteEdit.html' && path !== '/$int').sort(),
      ['/$int/SetStartSite.html', '/$int/VarList.html', '/$int/VarList.html', '/$int/VarList.html']);

    // A form of the other site, sent by GET as a top-level navigation, is refused too.
    const formAnswer = page.waitForResponse((r) => r.url().startsWith(`${app.url}/$int/SetTemplate.html`));
    await page.goto(`${other.origin}/form`);
    assert.equal((await formAnswer).status(), 403);

    assert.deepEqual(await variables(app), before);
    assert.deepEqual(await settingsOf(app), { choosesStartPage: true });
    const app1 = await (await fetch(`${app.url}/app/`)).text();
    assert.match(app1, /secret template/); // the entry template is still start.htm

    // This server's own pages and a typed address keep working.
    await page.goto(`${app.url}/$int`);
    const fileList = page.frames().find((f) => f.url().includes('/$int/FileList.html'));
    assert.ok(fileList);
    await fileList.waitForLoadState();
    assert.ok((await fileList.locator('a').count()) > 0);
    await page.goto(`${app.url}/$int/VarList.html?INT=true&NAME=alpha&VALUE=typed`);
    assert.ok((await variables(app)).includes('alpha=typed'));
    const editor = await page.goto(editorAddress);
    assert.equal(editor.status(), 200);
    assert.match(await page.inputValue('textarea[name=SITE]'), /secret template/);
  } finally {
    await browser.close();
    other.close();
    await app.stop();
    app.cleanup();
  }
});
