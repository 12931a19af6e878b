// The web workbench in a real browser: Chromium, driven by Playwright,
// against talvenplan.cgi and the page as lighttpd serves them (server.sh).
// Saves a screenshot of each screen as DIR/web-*.png and reports how soon
// the page is ready and how big its files are.
// Usage: node tests/e2e/web_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { text, vectors } from '../../web/test/vectors.js';

const dir = process.argv[2];
const data = join(dir, 'data');
const base = `http://127.0.0.1:${readFileSync(join(dir, 'port'), 'utf8').trim()}/`;
const made = new Set();  // files this test leaves in the data directory

let playwright;
try {
  playwright = await import('playwright-core');
} catch {
  console.error('the browser tests need playwright-core: run npm ci in the repository');
  process.exit(1);
}

let browser;
before(async () => {
  browser = await playwright.chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});
after(async () => {
  await browser?.close();
  for (const name of made) rmSync(join(data, name), { force: true });
});

async function open(width = 1200) {
  const page = await browser.newPage({ viewport: { width, height: 900 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.errors = errors;
  await page.goto(base);
  await page.waitForSelector('body[data-ready="yes"]');
  return page;
}

function put(name, content) {
  writeFileSync(join(data, name), content);
  made.add(name);
}
const file = (name) => readFileSync(join(data, name));
const shot = (page, name) => page.screenshot({ path: join(dir, `web-${name}.png`) });
const message = (page) => page.locator('#message').innerText();

async function openList(page, name, key) {
  await page.getByRole('button', { name: `Open ${name}`, exact: true }).click();
  await page.locator('#open-key').fill(key);
  await page.locator('#open-dialog').getByRole('button', { name: 'Open', exact: true }).click();
  await page.waitForSelector('#editor:not([hidden])');
}

test('from a new database to an offer opened twice', async () => {
  const page = await open();
  made.add('web-shop');
  await page.locator('#create-name').fill('web-shop');
  await page.locator('#create-key').fill('k1');
  await page.getByRole('button', { name: 'Create' }).click();
  await page.waitForSelector('#editor:not([hidden])');
  assert.match(await message(page), /Created/);

  for (const [name, value] of [['retail', '1.0'], ['half', '0.5']]) {
    await page.getByRole('button', { name: 'Add a factor' }).click();
    await page.keyboard.type(name);
    await page.keyboard.press('Tab');
    await page.keyboard.type(value);
  }
  await page.getByLabel('Header line A').fill('Winter prices');
  // Two price lines, the second with a decimal comma, which the page flags
  // and will not save.
  for (const [description, price] of [['Oak chair', '10'], ['Table <b>', '99,5']]) {
    await page.getByRole('button', { name: 'Add a price line' }).click();
    await page.keyboard.type(description);
    await page.keyboard.press('Tab');
    await page.keyboard.type(price);
  }
  await page.getByRole('button', { name: 'Save' }).click();
  assert.match(await message(page), /Not saved/);
  assert.match(await page.locator('#editor-body').innerText(), /The server reads this price as 99 and ignores “,5”/);
  await page.getByLabel('Price, line 2').fill('99.5');
  await shot(page, 'editor');
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  // The two lines create wrote after the counts stay as trailing lines.
  assert.equal(file('web-shop').toString(),
    'k1\n2\nretail 1.0\nhalf 0.5\nWinter prices\n""\n2\nOak chair 10\nTable <b> 99.5\n0\n0\n');

  await page.getByRole('button', { name: 'Preview' }).click();
  await page.locator('#preview-factor').selectOption({ label: 'half (0.5)' });
  await page.waitForSelector('#preview-table td');
  assert.match(await page.locator('#preview-table').innerText(), /Oak chair\s+10\s+5\.000000[\s\S]*99\.5\s+49\.750000/);
  await shot(page, 'preview');

  await page.getByRole('button', { name: 'Offer', exact: true }).click();
  await page.locator('#offer-factor').selectOption({ label: 'half (0.5)' });
  await page.getByLabel('Offer Oak chair').check();
  await page.getByLabel('Quantity of Oak chair').fill('3');
  await page.getByLabel('Offer Table <b>').check();
  await page.getByLabel('Introduction').fill('Dear Ms <i>Virtanen</i> & co,\n\nhere is our offer.');
  await page.getByRole('button', { name: 'Stage the offer' }).click();
  await page.waitForSelector('#offer-link:not([hidden])');
  await shot(page, 'offer');
  const link = await page.locator('#link').inputValue();
  assert.ok(link.startsWith(base + 'talvenplan.cgi?TALVENPLAN_FILE='), link);

  // The customer gets the preview's page, byte for byte, in the server's frame.
  const [[pageBefore, pageAfter]] = vectors('offer_page.tsv');
  const preview = await page.locator('#offer-view').getAttribute('srcdoc');
  const customer = await browser.newPage();
  const served = await (await customer.goto(link)).text();
  assert.equal(served, preview);
  assert.ok(served.startsWith(text(pageBefore)) && served.endsWith(text(pageAfter)), served);
  assert.equal(await customer.title(), 'Offer');
  const shown = await customer.locator('body').innerText();
  assert.match(shown, /Dear Ms <i>Virtanen<\/i> & co,/);
  assert.match(shown, /Oak chair\s+3\s+5\.00\s+15\.00/);
  assert.match(shown, /Table <b>\s+1\s+49\.75\s+49\.75/);
  assert.match(shown, /Total\s+64\.75/);
  assert.equal(await customer.locator('i, b').count(), 0, 'typed markup is escaped');
  await customer.screenshot({ path: join(dir, 'web-offer-page.png') });
  await customer.reload();
  assert.match(await customer.locator('body').innerText(), /error on server: can't open temp file/);
  await customer.close();

  await page.getByRole('button', { name: 'Databases', exact: true }).click();
  await shot(page, 'databases');
  await page.getByRole('button', { name: 'Remove web-shop' }).click();
  await page.getByRole('button', { name: 'Remove the database' }).click();
  await page.waitForFunction(() => /Removed/.test(document.querySelector('#message').innerText));
  assert.ok(!existsSync(join(data, 'web-shop')));
  assert.deepEqual(page.errors, []);
});

test('a save that fails keeps the edits, and says why', async () => {
  put('web-keep', 'k1\n0\nA\nB\n1\nChair 10\n');
  const page = await open();
  await openList(page, 'web-keep', 'k1');
  await page.getByLabel('Price, line 1').fill('12');

  // Someone changes the key meanwhile: the server refuses the key.
  put('web-keep', 'k2\n0\nA\nB\n1\nChair 10\n');
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Refused/.test(document.querySelector('#message').innerText));
  assert.match(await message(page), /Refused: wrong key/);

  // A login the web server asks for, and no server at all.
  await page.route('**/talvenplan.cgi', (route) => route.fulfill({ status: 401, body: '' }));
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Login needed/.test(document.querySelector('#message').innerText));
  await page.unroute('**/talvenplan.cgi');
  await page.route('**/talvenplan.cgi', (route) => route.abort('connectionrefused'));
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Network failure/.test(document.querySelector('#message').innerText));
  await page.unroute('**/talvenplan.cgi');

  assert.equal(await page.getByLabel('Price, line 1').inputValue(), '12');
  assert.match(await page.locator('#dirty').innerText(), /Unsaved changes/);
  assert.equal(file('web-keep').toString(), 'k2\n0\nA\nB\n1\nChair 10\n');

  // Opening with a wrong key, and a list that is gone, are told apart.
  const other = await open();
  for (const [remove, refusal] of [[false, 'Refused: wrong key.'], [true, 'Refused: no such database.']]) {
    if (remove) rmSync(join(data, 'web-keep'));
    await other.getByRole('button', { name: 'Open web-keep', exact: true }).click();
    await other.locator('#open-key').fill('k1');
    await other.locator('#open-dialog').getByRole('button', { name: 'Open', exact: true }).click();
    await other.waitForFunction((text) => document.querySelector('#open-problem').innerText === text, refusal);
    await other.keyboard.press('Escape');
  }
  await other.close();
  await page.close();
});

test('a DEMO_ list opens read-only', async () => {
  put('DEMO_web', 'demo\n1\nretail 1.0\nDemo\n""\n1\nSample 10.00\n');
  const page = await open();
  await openList(page, 'DEMO_web', 'demo');
  assert.match(await page.locator('#editor-notes').innerText(), /Read-only: .*DEMO_/);
  assert.equal(await page.getByLabel('Price, line 1').getAttribute('readonly'), '');
  assert.ok(await page.getByRole('button', { name: 'Save' }).isDisabled());
  assert.equal(await page.getByRole('button', { name: 'Add a price line' }).count(), 0);
  await shot(page, 'demo');
  await page.close();
});

test('odd files survive open and save unchanged', async () => {
  const long = 'x'.repeat(100000);
  const odd = Buffer.from(`k1\r\n1\r\nH\xe4ndler 0.8\r\nWinter\r\n"B"\r\n2\r\nT\xe4ble 199\r\nChair 10\r\n${long}\ntail`, 'latin1');
  put('web-odd', odd);
  const page = await open();
  await openList(page, 'web-odd', 'k1');
  assert.match(await page.locator('#editor-notes').innerText(), /Windows-1252/);
  assert.equal(await page.getByLabel('Description, line 1').inputValue(), 'Täble');
  // Shown as a person reads it, flagged as the server reads it.
  assert.match(await page.locator('#section-factors').innerText(), /In the file: .*the server reads the name “H” with the factor 0/);
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.ok(file('web-odd').equals(odd), 'saved unchanged');

  await page.getByLabel('Price, line 2').fill('12');
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText) &&
    !/Unsaved/.test(document.querySelector('#dirty').innerText));
  assert.ok(file('web-odd').equals(Buffer.from(odd.toString('latin1').replace('Chair 10', 'Chair 12'), 'latin1')));

  // A price line longer than the server reads at once: shown, not saved.
  put('web-long', `k1\n0\nA\nB\n1\nChair ${long} 10\n`);
  await page.getByRole('button', { name: 'Databases', exact: true }).click();
  await page.getByRole('button', { name: 'Show databases' }).click();
  await openList(page, 'web-long', 'k1');
  assert.match(await page.locator('#editor-notes').innerText(), /Read-only: line 6 is longer than/);
  await page.close();
});

test('the editor works by keyboard alone', async () => {
  put('web-keys', 'k1\n0\nA\nB\n2\nChair 10\nTable 20\nend\n');
  const page = await open(400);
  const press = (key, times = 1) => Array.from({ length: times }).reduce((p) => p.then(() => page.keyboard.press(key)), Promise.resolve());
  // Tab until the element named `label` has the focus.
  async function tabTo(label) {
    for (let i = 0; i < 80; i++) {
      await press('Tab');
      const name = await page.evaluate(() => {
        const el = document.activeElement;
        return el.getAttribute('aria-label') || el.labels?.[0]?.innerText || el.innerText;
      });
      if (name === label) return;
    }
    throw new Error('no focus on ' + label);
  }
  const focused = () => page.evaluate(() => document.activeElement.id || document.activeElement.getAttribute('aria-label'));
  await tabTo('Open web-keys');
  await press('Enter');
  await page.keyboard.type('k1');
  await press('Enter');
  await page.waitForSelector('#editor:not([hidden])');
  // The closing dialog must not drop the focus onto the hidden list.
  assert.equal(await focused(), 'editor-title');
  await tabTo('Price, line 2');
  await press('End');
  await page.keyboard.type('5');  // 205
  await press('Alt+ArrowUp');     // Table first
  // An arrow that takes its row to the end is disabled there: the other
  // arrow keeps the focus, so a second press moves the row back.
  await tabTo('Move line 2 up');
  await press('Space');           // Chair first
  assert.equal(await focused(), 'Move line 1 down');
  await press('Space');           // Table first again
  assert.equal(await focused(), 'Move line 2 up');
  await tabTo('Add a price line');
  await press('Enter');
  await page.keyboard.type('Lamp');
  await press('Tab');
  await page.keyboard.type('7.5');
  await tabTo('Remove trailing line 1');
  await press('Enter');
  await shot(page, 'editor-400');
  await press('Control+s');
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(file('web-keys').toString(), 'k1\n0\nA\nB\n3\nTable 205\nChair 10\nLamp 7.5\n');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('speed and size', async (t) => {
  let size = 0;
  const walk = (path) => {
    for (const name of readdirSync(path)) {
      const full = join(path, name);
      if (statSync(full).isDirectory()) walk(full);
      else if (name !== 'talvenplan.cgi') size += statSync(full).size;
    }
  };
  walk(join(dir, 'www'));
  const page = await browser.newPage();
  const times = [];
  for (let i = 0; i < 6; i++) {
    await page.goto(base);
    await page.waitForSelector('body[data-ready="yes"]');
    times.push(await page.evaluate(() => window.talvenplanReadyMs));
  }
  await page.close();
  const warm = times.slice(1).sort((a, b) => a - b);
  t.diagnostic(`page files: ${size} bytes in all (goal: under 100 KB)`);
  t.diagnostic(`ready after ${times[0].toFixed(0)} ms on first load, ${warm[2].toFixed(0)} ms median of ${warm.length} loads after (goal: under 200 ms)`);
  assert.ok(size < 100 * 1024, `${size} bytes`);
});
