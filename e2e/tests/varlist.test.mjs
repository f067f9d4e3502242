// The variables pop-up: edit a value through the prompt, delete with @Delete and the
// confirmation, sort by both columns, switch auto-sort off and on.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, startPelotest, tempDir } from '../lib.mjs';

async function until(condition, what) {
  for (let i = 0; i < 100; ++i) {
    if (await condition()) return;
    await new Promise((ok) => setTimeout(ok, 50));
  }
  assert.fail(`timed out waiting for ${what}`);
}

test('variables are edited, deleted and sorted from the browser', async () => {
  const dir = tempDir();
  mkdirSync(join(dir, 'site'));
  const app = await startPelotest(`[Settings]\nStaticPath=${dir}/site\nVirtualPath=app\n`, dir);
  const browser = await launchBrowser();
  const request = async (query) => assert.ok((await fetch(`${app.url}/x.htm?${query}`)).status > 0);
  try {
    const context = await browser.newContext();
    const page = await context.newPage();
    await request('alpha=zeta&Beta=Eta&gamma=theta'); // every parameter becomes a variable

    await page.goto(`${app.url}/$int`);
    const [popup] = await Promise.all([context.waitForEvent('page'), page.click('input[value=" Variablen"]')]);
    await popup.waitForLoadState();
    // Answers for the prompts and confirmations, in order: text (OK with it), true (OK),
    // false or null (Cancel).
    const answers = [];
    const asked = [];
    popup.on('dialog', async (d) => {
      asked.push(d.type());
      const answer = answers.shift();
      if (answer === null || answer === false) await d.dismiss();
      else await d.accept(answer === true ? undefined : answer);
    });
    let list = popup.frame({ name: 'VARLIST' });
    await list.waitForLoadState();
    const rows = async () => {
      const cells = await list.locator('tr td').allTextContents();
      const out = [];
      for (let i = 2; i + 1 < cells.length; i += 2) out.push([cells[i].trim(), cells[i + 1].trim()]);
      return out;
    };
    const names = async () => (await rows()).map(([n]) => n);
    const reloaded = (action) => Promise.all([list.waitForNavigation(), action]);
    assert.deepEqual((await names()).sort(), ['Beta', 'alpha', 'gamma']);

    // Edit: the answer may hold characters that mean something in a query.
    answers.push('x & y + 50%');
    await reloaded(list.click('a.file:has-text("alpha") >> nth=0'));
    assert.deepEqual((await rows()).find(([n]) => n === 'alpha'), ['alpha', 'x & y + 50%']);

    // Cancel changes nothing; @Delete asks first and deletes only on OK.
    answers.push(null);
    await list.click('a.file:has-text("Beta") >> nth=0');
    answers.push('@DELETE', false);
    await list.click('a.file:has-text("Beta") >> nth=0');
    await until(() => asked.length === 4, 'the prompts');
    assert.ok((await names()).includes('Beta'));
    answers.push('@Delete', true);
    await reloaded(list.click('a.file:has-text("Beta") >> nth=0'));
    assert.deepEqual((await names()).sort(), ['alpha', 'gamma']);
    assert.deepEqual(asked, ['prompt', 'prompt', 'prompt', 'confirm', 'prompt', 'confirm']);

    // Sort by value, again (reversed), then by name.
    await request('Delta=a');
    await reloaded(list.click('a.file:text-is("Wert")'));
    assert.deepEqual(await rows(), [['Delta', 'a'], ['gamma', 'theta'], ['alpha', 'x & y + 50%']]);
    await reloaded(list.click('a.file:text-is("Wert")'));
    assert.deepEqual(await names(), ['alpha', 'gamma', 'Delta']);
    await reloaded(list.click('a.file:text-is("Variable")'));
    assert.deepEqual(await names(), ['alpha', 'Delta', 'gamma']);

    // A request marks its parameter; auto-sort off shows every row plain again.
    await request('gamma=new');
    await reloaded(popup.click('input[value=" Aktualisieren"]'));
    await list.waitForSelector('img[src="/$int/Img6.gif"]');
    assert.equal(await popup.isChecked('input[name=AUTOSORT]'), true);
    await Promise.all([popup.waitForURL(/CHECK=false$/), popup.click('input[name=AUTOSORT]')]);
    assert.equal(await popup.isChecked('input[name=AUTOSORT]'), false);
    list = popup.frame({ name: 'VARLIST' });
    await list.waitForLoadState();
    const pictures = await list.locator('a.file img').evaluateAll((imgs) => imgs.map((i) => i.getAttribute('src')));
    assert.deepEqual(pictures, ['/$int/Img5.gif', '/$int/Img5.gif', '/$int/Img5.gif']);
    await Promise.all([popup.waitForURL(/CHECK=true$/), popup.click('a.checkbox')]);
    assert.equal(await popup.isChecked('input[name=AUTOSORT]'), true);
  } finally {
    await browser.close();
    await app.stop();
    app.cleanup();
  }
});
