// Spreadsheets in a real browser: a LibreOffice file imported, previewed,
// applied and saved; the list exported in both conventions and imported
// again; rows pasted from a spreadsheet; a bulk change on some lines. Saves
// screenshots as DIR/sheet-*.png.
// Usage: node tests/e2e/sheet_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { base, browser, data, dir, openList as openListIn, put } from './browser.mjs';

const fixture = (name) => new URL(`../fixtures/${name}`, import.meta.url).pathname;

const stored = (name) => readFileSync(join(data, name), 'utf8');
const shot = (page, name) => page.screenshot({ path: join(dir, `sheet-${name}.png`), fullPage: true });

async function openList(name, key) {
  const page = await browser.newPage({ viewport: { width: 1200, height: 900 }, acceptDownloads: true });
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.goto(base);
  return openListIn(page, name, key);
}

async function save(page) {
  await page.evaluate(() => document.querySelector('#message').replaceChildren());
  await page.getByRole('button', { name: 'Save' }).click();
  await page.waitForFunction(() => /^Saved/.test(document.querySelector('#message').innerText));
}

async function importFile(page, path) {
  await page.getByRole('button', { name: 'Spreadsheet', exact: true }).click();
  await page.locator('#import-file').setInputFiles(path);
  await page.waitForSelector('#import-summary');
}
// What an element says in its data-* attributes.
const dataOf = (page, selector) => page.locator(selector).evaluate((el) => ({ ...el.dataset }));
// What the import would do: lines added, prices changed, lines of the list
// the file misses (and whether the rest are kept or removed), lines the
// same, rows of the file skipped.
const summary = (page) => dataOf(page, '#import-summary');
const plan = (added, changed, missing, rest, same, skipped) => ({ added, changed, missing, rest, same, skipped });

async function exportFile(page, style, titles) {
  await page.getByRole('button', { name: 'Spreadsheet', exact: true }).click();
  await page.locator(`input[name="export-style"][value="${style}"]`).check();
  await page.locator('#export-titles').setChecked(titles);
  await page.getByLabel(/retail/).check();
  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Download the file' }).click()]);
  const path = join(dir, `sheet-export-${style}.csv`);
  await download.saveAs(path);
  return path;
}

const LIST = 'k1\n1\nretail 1.25\nWinter prices\nValid until March\n3\nOak chair 45.00\nLamp 10.00\nSofa 899.00\nnote\n';

test('import, preview, apply, save; then export and import the export again', async () => {
  put('sheet-shop', LIST);
  const page = await openList('sheet-shop', 'k1');
  await importFile(page, fixture('prices-fi.csv'));
  assert.deepEqual(await dataOf(page, '#import-read'), { rows: '11', encoding: 'UTF-8', sep: ';', detected: ';' });
  assert.deepEqual(await summary(page), plan('7', '1', '2', 'kept', '0', '0'));
  assert.match(await page.locator('#import-preview').innerText(), /Oak chair\s+45\.00\s+49\.90/);
  await page.locator('#import-remove-rest').check();
  assert.deepEqual(await summary(page), plan('7', '1', '2', 'removed', '0', '0'));
  await shot(page, 'import');
  assert.equal(stored('sheet-shop'), LIST, 'the preview changes nothing');
  await page.getByRole('button', { name: 'Apply to the list' }).click();
  await page.waitForSelector('#editor:not([hidden])');
  assert.deepEqual(await dataOf(page, '#message p'), { outcome: 'imported', added: '7', changed: '1', removed: '2' });
  await save(page);
  const imported = 'k1\n1\nretail 1.25\nWinter prices\nValid until March\n8\nOak chair 49.90\nDining table, extendable 1234.50\n' +
    'Lamp; brass 29.95\nSofa "Helsinki" 12999.00\nShelf two boards 0.50\nPöytä käsinveistetty 899.00\nCafé stool 1000000.00\n' +
    'Rug wool 12.05\nnote\n';
  assert.equal(stored('sheet-shop'), imported);

  for (const [style, titles] of [['excel', true], ['point', false]]) {
    const path = await exportFile(page, style, titles);
    const bytes = readFileSync(path);
    const text = bytes.toString('utf8');
    if (style === 'excel') {
      assert.deepEqual([...bytes.subarray(0, 3)], [0xef, 0xbb, 0xbf]);
      assert.ok(text.startsWith('\ufeffWinter prices\r\nValid until March\r\nDescription;Price;retail\r\nOak chair;49,90;62,375000\r\n'), text);
    } else {
      assert.ok(text.startsWith('Description,Price,retail\r\nOak chair,49.90,62.375000\r\n"Dining table, extendable",1234.50,1543.125000\r\n'), text);
    }
    await importFile(page, path);
    await page.locator('input[name="import-mode"][value="replace"]').check();
    assert.deepEqual(await summary(page), plan('0', '0', '0', 'removed', '8', '0'));
    assert.ok(await page.locator('#import-apply').isDisabled());
  }
  // A quote that never closes would swallow the rest of the file.
  const broken = join(dir, 'sheet-broken.csv');
  writeFileSync(broken, 'Item;Price\n"Oak chair;12\nLamp;3\n');
  await importFile(page, broken);
  assert.equal(await page.locator('#import-apply').innerText(), 'Not applied: the file is not well formed');
  assert.ok(await page.locator('#import-apply').isDisabled());
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('three rows pasted from a spreadsheet become three price lines', async () => {
  put('sheet-paste', LIST);
  const page = await openList('sheet-paste', 'k1');
  const at = page.getByLabel('Description, line 2');
  await at.focus();
  await at.evaluate((input) => {
    const clipboard = new DataTransfer();
    clipboard.setData('text/plain', 'Stool\t1 234,50\r\nBench, oak\t€ 89,90\r\nMirror\t1,234\r\n');
    input.dispatchEvent(new ClipboardEvent('paste', { clipboardData: clipboard, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => /Pasted 3 rows/.test(document.querySelector('#message').innerText));
  assert.equal(await page.getByLabel('Description, line 3').inputValue(), 'Stool');
  assert.equal(await page.getByLabel('Price, line 4').inputValue(), '89.90');
  // With a decimal comma beside it, 1,234 reads as 1.234.
  assert.equal(await page.getByLabel('Price, line 5').inputValue(), '1.234');
  await shot(page, 'paste');
  await save(page);
  assert.equal(stored('sheet-paste'), 'k1\n1\nretail 1.25\nWinter prices\nValid until March\n6\nOak chair 45.00\nLamp 10.00\n' +
    'Stool 1234.50\nBench, oak 89.90\nMirror 1.234\nSofa 899.00\nnote\n');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a bulk +2% with .99 endings changes only the lines the filter finds', async () => {
  put('sheet-bulk', 'k1\n0\nA\nB\n5\nOak chair 45.00\nLamp 10.00\nPine chair 19.90\nChair cushion 4.20\nSofa 899.00\n');
  const page = await openList('sheet-bulk', 'k1');
  // The lines the editor's filter shows are the ones chosen.
  await page.locator('#price-filter').fill('chair');
  await page.getByRole('button', { name: 'Spreadsheet', exact: true }).click();
  assert.equal(await page.locator('#bulk-filter').inputValue(), 'chair');
  await page.locator('#bulk-by').fill('2');
  await page.locator('#bulk-rounding').selectOption('.99');
  assert.deepEqual(await dataOf(page, '#bulk-summary'), { chosen: '3', changes: '3', same: '0', skipped: '0' });
  assert.match(await page.locator('#bulk-preview').innerText(), /Oak chair\s+45\.00\s+45\.99[\s\S]*Pine chair\s+19\.90\s+19\.99[\s\S]*Chair cushion\s+4\.20\s+4\.99/);
  await shot(page, 'bulk');
  await page.getByRole('button', { name: 'Change 3 prices' }).click();
  await page.waitForSelector('#editor:not([hidden])');
  await save(page);
  assert.equal(stored('sheet-bulk'), 'k1\n0\nA\nB\n5\nOak chair 45.99\nLamp 10.00\nPine chair 19.99\nChair cushion 4.99\nSofa 899.00\n');
  assert.deepEqual(page.errors, []);
  await page.close();
});
