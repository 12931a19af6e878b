// The web workbench in a real browser: Chromium, driven by Playwright,
// against talvenplan.cgi and the page as lighttpd serves them (server.sh).
// Saves a screenshot of each screen as DIR/web-*.png, and README's picture
// as doc/workbench.png, and reports how soon the page is ready and how big
// its files are.
// Usage: node tests/e2e/web_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { existsSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';
import { base, browser, data, dir, made, openList, put } from './browser.mjs';
import { shopList } from '../../bench/web_list.mjs';
import { offerLinkQuery } from '../../web/js/protocol.js';


async function open(width = 1200) {
  const page = await browser.newPage({ viewport: { width, height: 900 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.errors = errors;
  await page.goto(base);
  await page.waitForSelector('body[data-ready="yes"]');
  return page;
}

const file = (name) => readFileSync(join(data, name));
const shot = (page, name) => page.screenshot({ path: join(dir, `web-${name}.png`) });
const message = (page) => page.locator('#message').innerText();

// README's picture, of the page as it is now. The data directory field shows
// a server's path instead of this machine's; nothing else may show one. The
// file is written only when the picture changed, so a checkout stays clean.
async function picture(page) {
  const field = page.locator('#directory');
  const real = await field.inputValue();
  await field.evaluate((input) => { input.value = '/srv/talvenplan/shop'; });
  const shown = await page.evaluate(() => document.body.innerText +
    [...document.querySelectorAll('input, textarea')].map((input) => input.value).join('\n'));
  assert.ok(!shown.includes(dir), 'the picture shows a path of this machine');
  const png = await page.screenshot();
  await field.evaluate((input, value) => { input.value = value; }, real);
  const path = fileURLToPath(new URL('../../doc/workbench.png', import.meta.url));
  if (!existsSync(path) || !readFileSync(path).equals(png)) writeFileSync(path, png);
}
// What the page says of a field, in the note its aria-describedby names.
const noteOf = (field) => field.evaluate((el) => {
  const note = document.getElementById(el.getAttribute('aria-describedby'));
  return { invalid: el.getAttribute('aria-invalid') === 'true', said: note.textContent !== '', warning: note.classList.contains('warning') };
});

test('from a new database to an offer opened twice', async () => {
  // A shop that writes decimal commas.
  put('.talvenplan-shop', 'shop\n{ "locale": "fi-FI" }\n');
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
  await page.getByLabel('Title line 1').fill('Winter prices');
  // Two price lines, the second with a decimal comma as the shop writes
  // them, but one that could be read two ways: the page marks it and will
  // not save.
  for (const [description, price] of [['Oak chair', '10'], ['Table <b>', '9,950']]) {
    await page.getByRole('button', { name: 'Add a price line' }).click();
    await page.keyboard.type(description);
    await page.keyboard.press('Tab');
    await page.keyboard.type(price);
  }
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  assert.match(await message(page), /Not saved/);
  assert.deepEqual(await noteOf(page.getByLabel('Price, line 1')), { invalid: false, said: false, warning: false });
  assert.deepEqual(await noteOf(page.getByLabel('Price, line 2')), { invalid: true, said: true, warning: false });
  const checks = page.locator('#price-checks');
  assert.deepEqual(await checks.locator('li').evaluateAll((lis) => lis.map((li) => li.dataset.line)), ['2']);
  assert.deepEqual(await checks.locator('[data-use]').evaluateAll((bs) => bs.map((b) => b.dataset.use)), ['9950', '9.950']);
  assert.ok(!(await checks.innerText()).includes('null'));
  await shot(page, 'editor');
  // Written plainly, the comma saves as the point the server reads, and
  // stays on screen as typed.
  await page.getByLabel('Price, line 2').fill('99,5');
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(await page.getByLabel('Price, line 2').inputValue(), '99,5');
  assert.equal(await checks.innerText(), '');
  // The two lines create wrote after the counts stay as trailing lines.
  assert.equal(file('web-shop').toString(),
    'k1\n2\nretail 1.0\nhalf 0.5\nWinter prices\n""\n2\nOak chair 10\nTable <b> 99.5\n0\n0\n');

  await page.getByRole('button', { name: 'Preview' }).click();
  await page.locator('#preview-factor').selectOption({ label: 'half (0.5)' });
  await page.waitForSelector('#preview-table tr.row');
  // Money with two decimals; the server's own figures on request.
  assert.match(await page.locator('#preview-table').innerText(), /1\s+Oak chair\s+10\.00\s+5\.00[\s\S]*99\.50\s+49\.75/);
  await page.getByLabel("The server's exact figures").check();
  assert.match(await page.locator('#preview-table').innerText(), /Oak chair\s+10\s+5\.000000[\s\S]*99\.5\s+49\.750000/);
  await shot(page, 'preview');

  // The shop's settings, kept in the data directory for everyone.
  made.add('.talvenplan-shop');
  made.add('.talvenplan-offers');
  await page.getByRole('button', { name: 'Shop settings' }).click();
  await page.getByLabel('Shop name').fill('Talvi <Oy>');
  await page.getByLabel('Contact (mail, phone)').fill('myynti@talvi.example');
  await page.getByLabel('VAT rates in percent').fill('25.5, 14');
  await page.getByLabel('Language of offers').selectOption('en');
  assert.match(await page.locator('#settings-example').innerText(), /1\s234,50\s€/);
  await page.getByRole('button', { name: 'Save the settings' }).click();
  await page.waitForFunction(() => /Saved the shop settings/.test(document.querySelector('#message').innerText));
  const settings = file('.talvenplan-shop').toString();
  assert.ok(settings.startsWith('shop\n'), settings);
  assert.equal(JSON.parse(settings.slice(5)).name, 'Talvi <Oy>');
  await shot(page, 'settings');

  await page.getByRole('button', { name: 'Offer', exact: true }).click();
  await page.locator('#offer-factor').selectOption({ label: 'half (0.5)' });
  await page.getByLabel('Offer Oak chair').check();
  await page.getByLabel('Quantity of Oak chair').fill('3');
  await page.getByLabel('Offer Table <b>').check();
  await page.getByLabel('VAT rate of Table <b>').selectOption('14');
  // Rates as the shop's locale writes them, as the offer does.
  const rates = await page.getByLabel('VAT rate of Table <b>').locator('option').allInnerTexts();
  assert.deepEqual(rates.map((r) => r.replace(/\s/g, ' ')), ['25,5 %', '14 %']);
  await page.getByLabel('Customer', { exact: true }).fill('Kahvila Kuura');
  await page.getByLabel('Introduction').fill('Dear Ms <i>Virtanen</i> & co,\n\nhere is our offer.');
  await page.getByRole('button', { name: 'Stage the offer' }).click();
  await page.waitForSelector('#offer-link:not([hidden])');
  await shot(page, 'offer');
  const link = await page.locator('#link').inputValue();
  assert.ok(link.startsWith(base + 'offer.html#TALVENPLAN_FILE='), link);
  // What the preview shows is what the customer gets.
  const preview = await page.frameLocator('#offer-view').locator('body').innerText();

  const customer = await browser.newPage();
  await customer.goto(link);
  await customer.getByRole('button', { name: 'Open the offer' }).click();
  await customer.waitForSelector('#shown:not([hidden])');
  const shown = await customer.frameLocator('#frame').locator('body').innerText();
  assert.equal(shown, preview);
  assert.match(shown, /Dear Ms <i>Virtanen<\/i> & co,/);
  assert.match(shown, /Oak chair\s+3\s+5,00\s€\s+25,5\s%\s+15,00\s€/);
  assert.match(shown, /Table <b>\s+1\s+49,75\s€\s+14\s%\s+49,75\s€/);
  assert.match(shown, /Net total\s+64,75\s€[\s\S]*VAT 14\s% of 49,75\s€\s+6,97\s€[\s\S]*Total\s+75,55\s€/);
  assert.equal(await customer.frameLocator('#frame').locator('i, b').count(), 0, 'typed markup is escaped');
  await customer.close();

  // A change after staging takes the old link, with its old prices, away.
  await page.getByLabel('Quantity of Oak chair').fill('4');
  assert.ok(await page.locator('#offer-link').isHidden());
  assert.equal(await page.locator('#link').inputValue(), '');
  await page.getByRole('button', { name: 'Stage the offer' }).click();
  await page.waitForSelector('#offer-link:not([hidden])');
  const second = /TALVENPLAN_FILE=([a-p]*)z/.exec(await page.locator('#link').inputValue())[1];
  const secondName = String.fromCharCode(...second.match(/../g).map((p) => (p.charCodeAt(0) - 97) + 16 * (p.charCodeAt(1) - 97)));
  made.add(secondName);

  // The register: the first offer opened, the second waiting, and asking
  // used neither up.
  let links = 0;
  page.on('request', (request) => { if (request.url().includes('TALVENPLAN_FILE=')) links++; });
  await page.getByRole('button', { name: 'Offers sent' }).click();
  await page.waitForSelector('#register[data-checked="yes"]');
  const rows = await page.locator('#register-list tbody tr').allInnerTexts();
  assert.equal(rows.length, 2);
  assert.match(rows[0], /Kahvila Kuura\s+81,82\s€/);
  assert.match(rows[1], /Kahvila Kuura\s+75,55\s€/);
  // Staged when, in the shop's locale (fi-FI: 9.12.2026), not the browser's.
  assert.match(rows[0], /€\s+\d{1,2}\.\d{1,2}\.\d{4}/);
  assert.deepEqual(await page.locator('#register-list tbody tr').evaluateAll((trs) => trs.map((tr) => tr.dataset.state)), ['waiting', 'opened']);
  await page.getByRole('button', { name: 'Check again' }).click();
  await page.waitForSelector('#register[data-checked="yes"]');
  assert.ok(existsSync(join(data, secondName)), 'the waiting offer is still there');
  assert.equal(links, 0);
  assert.match(file('.talvenplan-offers').toString(), /"gone":/);
  await shot(page, 'register');

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
  await openList(page, 'web-keep');
  await page.getByLabel('Price, line 1').fill('12');

  // Someone changes the key meanwhile: the server refuses the key.
  put('web-keep', 'k2\n0\nA\nB\n1\nChair 10\n');
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Refused/.test(document.querySelector('#message').innerText));
  assert.match(await message(page), /Refused: wrong key/);

  // A login the web server asks for, and no server at all.
  await page.route('**/talvenplan.cgi', (route) => route.fulfill({ status: 401, body: '' }));
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Login needed/.test(document.querySelector('#message').innerText));
  await page.unroute('**/talvenplan.cgi');
  await page.route('**/talvenplan.cgi', (route) => route.abort('connectionrefused'));
  await page.getByRole('button', { name: 'Save', exact: true }).click();
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

test('a save says so when the list read back right after is another', async () => {
  put('web-after', 'k1\n0\nA\nB\n1\nChair 10\n');
  const page = await open();
  await openList(page, 'web-after');
  // A colleague's save lands between this put and the get of the list that
  // follows it (the read before the put, and the versions, are the real ones).
  let afterPut = false;
  await page.route('**/talvenplan.cgi', (route) => {
    const body = route.request().postDataBuffer()?.toString('latin1') ?? '';
    afterPut ||= body.startsWith('p\n');
    return afterPut && body.startsWith('g\n') && body.includes('\nk1 web-after\n')
      ? route.fulfill({ status: 200, body: 'sk1\n0\nA\nB\n1\nChair 99\n' }) : route.continue();
  });
  await page.getByLabel('Price, line 1').fill('12');
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /someone may have changed it/.test(document.querySelector('#message').innerText));
  assert.equal(file('web-after').toString(), 'k1\n0\nA\nB\n1\nChair 12\n');
  await page.close();
});

test('a DEMO_ list opens read-only, from its name', async () => {
  put('DEMO_web', 'demo\n1\nretail 1.0\nDemo\n""\n1\nSample 10.00\n');
  const page = await open();
  await page.getByRole('button', { name: 'DEMO_web', exact: true }).click();
  await page.locator('#open-key').fill('demo');
  await page.locator('#open-dialog').getByRole('button', { name: 'Open', exact: true }).click();
  await page.waitForSelector('#editor:not([hidden])');
  assert.match(await page.locator('#editor-notes').innerText(), /Read-only: .*DEMO_/);
  assert.equal(await page.getByLabel('Price, line 1').getAttribute('readonly'), '');
  assert.ok(await page.getByRole('button', { name: 'Save', exact: true }).isDisabled());
  assert.equal(await page.getByRole('button', { name: 'Add a price line' }).count(), 0);
  await shot(page, 'demo');
  await page.close();
});

test('odd files survive open and save unchanged', async () => {
  const long = 'x'.repeat(100000);
  const odd = Buffer.from(`k1\r\n1\r\nH\xe4ndler 0.8\r\nWinter\r\n"B"\r\n2\r\nT\xe4ble 199\r\nChair 10\r\n${long}\ntail`, 'latin1');
  put('web-odd', odd);
  const page = await open();
  await openList(page, 'web-odd');
  assert.match(await page.locator('#editor-notes').innerText(), /Windows-1252/);
  assert.equal(await page.getByLabel('Description, line 1').inputValue(), 'Täble');
  // Shown as a person reads it, flagged as the server reads it.
  // Flagged, as the file holds it, not as an error of the person's.
  assert.deepEqual(await noteOf(page.getByLabel('Name, factor 1')), { invalid: false, said: true, warning: true });
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.ok(file('web-odd').equals(odd), 'saved unchanged');

  await page.getByLabel('Price, line 2').fill('12');
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText) &&
    !/Unsaved/.test(document.querySelector('#dirty').innerText));
  assert.ok(file('web-odd').equals(Buffer.from(odd.toString('latin1').replace('Chair 10', 'Chair 12'), 'latin1')));

  // A price line longer than the server reads at once: shown, not saved.
  put('web-long', `k1\n0\nA\nB\n1\nChair ${long} 10\n`);
  await page.getByRole('button', { name: 'Databases', exact: true }).click();
  await page.getByRole('button', { name: 'Show databases' }).click();
  await openList(page, 'web-long');
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
  // Enter starts the next line below; a price that could be read two ways
  // gets a button for each.
  await press('Enter');
  assert.equal(await focused(), 'Description, line 4');
  await page.keyboard.type('Stool');
  await press('Tab');
  await page.keyboard.type('3,500');
  await tabTo('Use 3.500');
  await press('Enter');
  assert.equal(await focused(), 'Price, line 4');
  await tabTo('Remove note 1');
  await press('Enter');
  await shot(page, 'editor-400');
  await press('Shift+Tab');
  const before = await focused();
  await press('Control+s');
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(await focused(), before, 'Ctrl+S keeps the focus');
  assert.equal(file('web-keys').toString(), 'k1\n0\nA\nB\n4\nTable 205\nChair 10\nLamp 7.5\nStool 3.500\n');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a new list shows its placeholders, and one click clears them', async () => {
  put('web-new', 'k1\n0\n0\n""\n0\n0\n0\n');  // as create writes it
  const page = await open();
  await openList(page, 'web-new');
  assert.ok(await page.getByRole('button', { name: 'Clear the placeholders' }).isVisible());
  assert.equal(await page.getByLabel('Title line 1').inputValue(), '0');
  assert.match(await page.locator('#dirty').innerText(), /No unsaved changes/);
  await page.getByRole('button', { name: 'Clear the placeholders' }).click();
  assert.equal(await page.getByLabel('Title line 1').inputValue(), '');
  assert.equal(await page.locator('#placeholders').innerText(), '');
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(file('web-new').toString(), 'k1\n0\n\n\n0\n');
  await page.close();
});

test('sorting the list reorders its lines and keeps their bytes', async () => {
  put('web-sort', Buffer.from('k1\r\n1\r\nretail 1\r\nA\r\nB\r\n4\r\nStool 9.5\r\nb\xe4nk 20\r\nChair 10,00\r\nLamp 2\r\nend', 'latin1'));
  const page = await open();
  await openList(page, 'web-sort');
  await page.locator('#price-order').selectOption('price-up');
  const shown = () => page.locator('#price-grid input[data-field="description"]').evaluateAll((inputs) => inputs.map((i) => i.value));
  assert.deepEqual(await shown(), ['Lamp', 'Stool', 'Chair', 'b\xe4nk']);
  assert.match(await page.locator('#dirty').innerText(), /No unsaved changes/, 'a view changes nothing');
  await page.getByRole('button', { name: 'Sort the list this way' }).click();
  assert.equal(await page.locator('#message p[data-outcome="sorted"]').getAttribute('data-moved'), '3');
  await page.getByRole('button', { name: 'Offer', exact: true }).click();
  assert.match(await page.locator('#offer-note').innerText(), /unsaved changes/);
  await page.getByRole('button', { name: 'Editor' }).click();
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(file('web-sort').toString('latin1'), 'k1\r\n1\r\nretail 1\r\nA\r\nB\r\n4\r\nLamp 2\r\nStool 9.5\r\nChair 10,00\r\nb\xe4nk 20\r\nend');
  await page.close();
});

test('a reload reopens the list, for this tab only', async () => {
  put('web-reload', 'k1\n1\nretail 1\nA\nB\n1\nChair 10\n');
  const page = await open();
  await openList(page, 'web-reload');
  await page.getByRole('button', { name: 'Preview' }).click();
  await page.reload();
  await page.waitForSelector('body[data-ready="yes"]');
  await page.waitForSelector('#preview:not([hidden])');
  assert.equal(await page.locator('#open-name').innerText(), 'Open: web-reload');
  const other = await open();
  assert.equal(await other.locator('#open-name').innerText(), '');
  await other.close();
  // Closing the list (another directory) forgets it.
  await page.getByRole('button', { name: 'Show databases' }).click();
  await page.reload();
  await page.waitForSelector('body[data-ready="yes"]');
  assert.equal(await page.locator('#open-name').innerText(), '');
  await page.close();
});

test('10,000 lines: find, edit a line far down, save; only that line changes', async () => {
  const list = shopList(10000, 50);
  put('web-big', list);
  const page = await open();
  await page.locator('#list-filter').fill('big');
  await shot(page, 'big-databases');
  await openList(page, 'web-big');
  await page.waitForSelector('#price-grid tr.row');
  // Only the rows in view are in the page.
  assert.ok(await page.locator('#price-grid tr.row').count() < 100);
  await shot(page, 'big-editor');
  await picture(page);
  const line = list.split('\n').find((l) => l.includes('no. 09876'));
  await page.getByLabel('Find a price line').fill('no. 09876');
  await page.waitForFunction(() => /Showing 1 of 10,000/.test(document.querySelector('#price-count').innerText));
  const price = page.getByLabel('Price, line 9876', { exact: true });
  await price.fill('12.34');
  await shot(page, 'big-editor-found');
  await price.press('Control+s');
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Price, line 9876');
  const want = list.replace(line, line.slice(0, line.lastIndexOf(' ') + 1) + '12.34');
  assert.notEqual(want, list);
  assert.equal(file('web-big').toString(), want);

  // A line scrolled to without a filter, then the other screens.
  await page.getByLabel('Find a price line').fill('');
  await page.locator('#price-grid').evaluate((el) => { el.scrollTop = el.scrollHeight; });
  await page.getByLabel('Description, line 10000', { exact: true }).waitFor();
  await page.getByRole('button', { name: 'Preview' }).click();
  await page.locator('#preview-factor').selectOption({ label: 'f50 (0.99)' });
  await page.waitForSelector('#preview-table tr.row');
  await shot(page, 'big-preview');
  await page.getByRole('button', { name: 'Offer', exact: true }).click();
  await page.locator('#offer-factor').selectOption({ label: 'f1 (0.50)' });
  await page.locator('#offer-filter').fill('oak chair');
  await page.locator('#offer-lines input[type="checkbox"]').first().check();
  await shot(page, 'big-offer');
  assert.match(await page.locator('#offer-count').innerText(), /1 line chosen/);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a newcomer finds a line among 10,000 and saves its new price, by keyboard alone', async () => {
  const list = shopList(10000, 50);
  put('web-find', list);
  put('.talvenplan-shop', 'shop\n{ "locale": "fi-FI" }\n');
  const page = await open(400);
  await openList(page, 'web-find');
  await page.waitForSelector('#price-grid tr.row');
  const focused = () => page.evaluate(() => document.activeElement.id || document.activeElement.getAttribute('aria-label'));
  // Ctrl+F finds in the whole list (the browser's own find sees only the
  // lines in view); Tab goes from the find box into the lines found.
  await page.keyboard.press('Control+f');
  assert.equal(await focused(), 'price-filter');
  await page.keyboard.type('walnut desk 70x60');
  await page.waitForFunction(() => /Showing 1 of 10,000/.test(document.querySelector('#price-count').innerText));
  await page.keyboard.press('Tab');
  await page.keyboard.press('Tab');
  assert.equal(await focused(), 'Price, line 3212');
  // In view, and not under the save bar.
  assert.ok(await page.evaluate(() => {
    const box = document.activeElement.getBoundingClientRect();
    return document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2) === document.activeElement;
  }));
  // At 400 px the description has the room to show whole.
  assert.ok(await page.getByLabel('Description, line 3212').evaluate((el) => el.value.length > 25 && el.scrollWidth <= el.clientWidth));
  // A decimal comma, as a Finnish shop types it.
  await page.keyboard.type('21,90');
  await page.keyboard.press('Control+s');
  // "Saved" where the person is: the bar at the bottom of the view.
  await page.waitForFunction(() => /^Saved\. No unsaved changes/.test(document.querySelector('#dirty').innerText));
  assert.ok(await page.locator('#dirty').evaluate((el) => el.getBoundingClientRect().bottom <= innerHeight));
  await shot(page, 'find-saved-400');
  const line = list.split('\n').find((l) => l.includes('no. 03212'));
  assert.equal(file('web-find').toString(), list.replace(line, line.slice(0, line.lastIndexOf(' ') + 1) + '21.90'));
  assert.equal(await page.getByLabel('Price, line 3212').inputValue(), '21,90');
  assert.ok(!(await page.locator('#price-checks').innerText()).includes('null'));
  // Enter in the find box goes to the first line found; an edit takes the
  // "Saved" away again.
  await page.keyboard.press('Control+f');
  await page.keyboard.type('no. 00002');
  await page.keyboard.press('Enter');
  assert.equal(await focused(), 'Price, line 2');
  await page.keyboard.type('1');
  assert.match(await page.locator('#dirty').innerText(), /^Unsaved changes/);
  // Widened, a line takes one row again: the table measures its rows anew,
  // and rows fill the view wherever it is scrolled to.
  await page.setViewportSize({ width: 1200, height: 900 });
  await page.locator('#price-filter').fill('');
  await page.locator('#price-grid').evaluate((el) => { el.scrollTop = el.scrollHeight / 2; });
  await page.waitForFunction(() => {
    const grid = document.querySelector('#price-grid');
    const rows = grid.querySelectorAll('tr.row');
    return rows.length > 0 && rows[rows.length - 1].getBoundingClientRect().bottom >= grid.getBoundingClientRect().bottom;
  });
  assert.deepEqual(page.errors, []);
  await page.close();
});

// The accessibility faults axe-core finds on the page as it is, serious
// or critical only, as "rule: where" lines. axe-core comes with
// @axe-core/playwright, whose AxeBuilder waits for ever on the offer
// screen's sandboxed frame, where no script runs; so the page runs axe
// itself, frames left out (the offer's document is checked on the
// customer's pages).
const axe = readFileSync(fileURLToPath(import.meta.resolve('axe-core/axe.min.js')), 'utf8');
async function faults(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.evaluate(axe);
  const { violations } = await page.evaluate(() => window.axe.run(document, { iframes: false }));
  return violations.filter((v) => ['serious', 'critical'].includes(v.impact))
    .flatMap((v) => v.nodes.map((node) => `${v.id}: ${node.target.join(' ')}`));
}
const catalog = (lang) => JSON.parse(readFileSync(new URL(`../../web/i18n/${lang}.json`, import.meta.url), 'utf8'));

test('a person switches the workbench to Finnish; every screen and the landing page pass axe-core in each language', async () => {
  put('web-kieli', 'k1\n1\nretail 1\nA\nB\n1\nChair 10\n');
  // axe-core works in a context of the test's own.
  const context = await browser.newContext({ viewport: { width: 1200, height: 900 } });
  context.setDefaultTimeout(20000);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(base);
  const reloaded = async (action) => {
    await Promise.all([page.waitForEvent('load'), action()]);
    await page.waitForSelector('body[data-ready="yes"]');
  };
  await page.locator('button[aria-label="Open web-kieli"]').click();
  await page.locator('#open-key').fill('k1');
  await page.locator('#open-dialog button[value="open"]').click();
  await page.waitForSelector('#editor:not([hidden])');
  // The list stays open: the page loads again in Finnish, and stays in
  // Finnish when it loads again after.
  await reloaded(() => page.locator('#language').selectOption('fi'));
  await page.waitForSelector('#editor:not([hidden])');
  await reloaded(() => page.reload());
  const fi = catalog('fi');
  const said = (key) => page.locator(`[data-t="${key}"]`).first().textContent();
  assert.equal(await page.evaluate(() => document.documentElement.lang), 'fi');
  assert.equal(await page.locator('#language').inputValue(), 'fi');
  for (const key of ['app.directory', 'tabs.editor', 'editor.save']) assert.equal(await said(key), fi[key], key);
  // What the screens build speaks Finnish too; a price typed with a decimal
  // comma is saved as the server reads it.
  const work = JSON.parse(readFileSync(new URL('../../web/i18n/work/fi.json', import.meta.url), 'utf8'));
  assert.deepEqual(await page.locator('#price-grid thead th').evaluateAll((ths) => ths.slice(0, 3).map((th) => th.textContent)),
    [work.Line, work.Description, work.Price]);
  const price = page.locator('#price-grid input[data-field="price"]').first();
  await price.fill('21,90');
  await page.keyboard.press('Control+s');
  await page.waitForFunction((saved) => document.querySelector('#dirty').innerText.startsWith(saved), work['Saved.']);
  assert.equal(file('web-kieli').toString(), 'k1\n1\nretail 1\nA\nB\n1\nChair 21.90\n');
  assert.equal(await price.inputValue(), '21,90');
  await shot(page, 'finnish-editor');

  const staged = await (await fetch(base + 'talvenplan.cgi', { method: 'POST', body: `s\n${data}\n<p>Tuoli</p>` })).text();
  made.add(staged.slice(1));
  const landing = `${base}offer.html#${offerLinkQuery(staged.slice(1), data)}`;
  const found = [];
  for (const lang of ['fi', 'sv', 'en', 'de']) {
    if (lang !== 'fi') await reloaded(() => page.locator('#language').selectOption(lang));
    assert.equal(await page.evaluate(() => document.documentElement.lang), lang);
    for (const name of ['databases', 'editor', 'preview', 'offer', 'history', 'sheet', 'register', 'settings']) {
      await page.locator(`.tabs button[data-screen="${name}"]`).click();
      await page.waitForSelector(`#${name}:not([hidden])`);
      found.push(...(await faults(page)).map((fault) => `${lang} ${name} ${fault}`));
    }
    const customer = await context.newPage();
    await customer.goto(`${landing}&lang=${lang}`);
    await customer.waitForSelector(`html[lang="${lang}"]`);
    found.push(...(await faults(customer)).map((fault) => `${lang} landing ${fault}`));
    await customer.close();
  }
  assert.deepEqual(found, []);
  assert.deepEqual(errors, []);
  await context.close();
});

test('speed and size', async (t) => {
  const page = await browser.newPage();
  const times = [];
  let loaded = [];
  for (let i = 0; i < 6; i++) {
    await page.goto(base);
    await page.waitForSelector('body[data-ready="yes"]');
    times.push(await page.evaluate(() => window.talvenplanReadyMs));
    // The files the page loads to be ready; what it loads later, when a
    // person first uses it (the spreadsheet tools), does not count.
    if (i === 0) loaded = await page.evaluate(() => performance.getEntriesByType('resource').map((e) => new URL(e.name).pathname));
  }
  await page.close();
  let size = statSync(join(dir, 'www', 'index.html')).size;
  for (const path of new Set(loaded)) if (!path.endsWith('.cgi')) size += statSync(join(dir, 'www', path)).size;
  const warm = times.slice(1).sort((a, b) => a - b);
  // Saves that merge and see a colleague's save took the page from about
  // 157 KB to 170 KB; the merge itself, its choice and the history load
  // when first used. The offer screen and its languages took it to 184 KB;
  // its work, and the settings', now load when first shown: about 153 KB.
  // The workbench's own words (a catalog, and the module that reads it) and
  // the editor's reading of decimal commas as people type them: about 191 KB.
  // Who saved what took it to 206 KB; the check after a save, now loaded
  // with the first save, brought it back to about 197 KB.
  t.diagnostic(`page files loaded to be ready: ${size} bytes (goal: under 200 KB)`);
  t.diagnostic(`ready after ${times[0].toFixed(0)} ms on first load, ${warm[2].toFixed(0)} ms median of ${warm.length} loads after (goal: under 200 ms)`);
  assert.ok(size < 200 * 1024, `${size} bytes`);
});
