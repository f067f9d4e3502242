// The demo site of examples/: a browser clicks from the static start page into the shop's entry
// template and through its events; every template shows its variables, the tree saved at exit
// holds the events learnt from the rendered templates, and the saved log lists the answers.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { launchBrowser, startPelotest } from '../lib.mjs';

const examples = resolve(import.meta.dirname, '../../examples');
const staticFolder = resolve(examples, 'demo/static');
const templateFolder = resolve(examples, 'demo/templates');

// examples/demo.ini with absolute folders (the shipped file is relative to the repository root)
// and without its port (startPelotest adds a free one).
function demoSettings() {
  return readFileSync(resolve(examples, 'demo.ini'), 'latin1')
    .replace(/^Port=.*\r?\n/m, '')
    .replace(/^StaticPath=.*$/m, `StaticPath=${staticFolder}`)
    .replace(/^DynamicPath=.*$/m, `DynamicPath=${templateFolder}`);
}

// The values of one section of a saved settings file, in file order.
function section(iniText, name) {
  const lines = iniText.split(/\r?\n/);
  const start = lines.findIndex((l) => l.trim().toLowerCase() === `[${name.toLowerCase()}]`);
  if (start < 0) return [];
  const entries = [];
  for (const line of lines.slice(start + 1)) {
    if (line.startsWith('[')) break;
    const eq = line.indexOf('=');
    if (eq > 0) entries.push([line.slice(0, eq), line.slice(eq + 1)]);
  }
  return entries;
}

test('demo shop: templates, events and variables from the first click', async () => {
  const server = await startPelotest(demoSettings());
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();

    await page.goto(`${server.url}/`);
    await page.waitForURL('**/index.htm'); // the root's refresh leads to the start page
    assert.equal(await page.title(), 'PeloTest Demo - Startseite');

    await page.click('#enter');
    assert.equal(await page.textContent('#shop'), 'PeloTest Demo-Shop');
    assert.equal(await page.inputValue('#user'), '');

    await page.fill('#user', 'Erika');
    await page.click('#login');
    assert.equal(await page.textContent('#greeting'), 'Hallo Erika!');

    await page.click('#products');
    assert.equal(await page.textContent('h1'), 'Produkte f\u00fcr Erika');

    await page.click('#item2');
    assert.equal(await page.textContent('#item'), 'Artikel 2');

    await page.fill('#qty', '3');
    await page.click('#add'); // a form-encoded POST
    assert.equal(await page.textContent('#cart'), '3 x Artikel 2');
    assert.match(await page.textContent('h1'), /^Warenkorb von Erika$/);

    await page.click('#help');
    await page.waitForSelector('form[name="SetTemplate"]');
    assert.match(await page.content(), /Dem Event <b>Help<\/b> ist kein Template zugeordnet!/);
    const offered = await page.$$eval('select[name="TEMPLATE"] option', (os) => os.map((o) => o.value));
    assert.deepEqual(offered, ['cart.htm', 'item.htm', 'list.htm', 'start.htm', 'welcome.htm']);
    assert.equal(await page.inputValue('input[name="EVENT"]'), 'Help');
  } finally {
    await browser.close();
    assert.equal(await server.stop(), 0);
  }

  const saved = readFileSync(server.settings, 'latin1');
  server.cleanup();

  assert.deepEqual(section(saved, 'Tree').map(([, v]) => v), [
    'start.htm',
    '#welcome.htm (Login)',
    '##list.htm (ShowList)',
    '###item.htm (ShowItem)',
    '####cart.htm (AddToCart)',
    '#####ShowList',
    '#####Help',
    '####ShowList',
    '####Help',
    '###Help',
    '##Help',
    '#Help',
  ]);

  const variables = Object.fromEntries(section(saved, 'Variables').map(([k, v]) => [k.toLowerCase(), v]));
  assert.equal(variables.user, 'Erika');
  assert.equal(variables.item, '2');
  assert.equal(variables.qty, '3');
  assert.equal(variables.voucher, '', 'a reference to an unknown variable creates it');

  const log = section(saved, 'Log').map(([, v]) => v);
  const templateRows = log.filter((row) => /^[23];/.test(row));
  assert.deepEqual(templateRows, [
    '2;;Help;kein Template zugeordnet;',
    `3;cart.htm;AddToCart;Warenkorb;${templateFolder}/cart.htm`,
    `3;item.htm;ShowItem;Artikel;${templateFolder}/item.htm`,
    `3;list.htm;ShowList;Produkte;${templateFolder}/list.htm`,
    `3;welcome.htm;Login;Gr\u00fc\u00dfe und Willkommen;${templateFolder}/welcome.htm`,
    `3;start.htm;;PeloTest Demo-Shop;${templateFolder}/start.htm`,
  ]);
  assert.ok(
    log.includes(`8;index.htm;;PeloTest Demo - Startseite;${staticFolder}/index.htm`),
    `the start page is logged: ${log.join(' | ')}`,
  );
});
