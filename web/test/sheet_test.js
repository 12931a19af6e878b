// Price lists to and from spreadsheets: amounts as people write them, files
// as LibreOffice writes them, the plan of an import, exports that import
// back unchanged and reprice as the server does, and bulk changes.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { changePrice, localeDecimal, readAmount, typedPrice } from '../js/decimals.js';
import { UTF8, CP1252 } from '../js/bytes.js';
import { decodeFile, detectSeparator, parseCsv, writeCsv } from '../js/csv.js';
import { readDatabase, writeDatabase } from '../js/format.js';
import { applyImport, exportRows, factorOf, fixed6, guessColumns, planBulk, planImport, readSheet, repriced } from '../js/sheet.js';
import { bytes, text, vectors } from './vectors.js';

const utf8 = (b) => new TextDecoder().decode(b);
const readFile = (file, encoding = UTF8) => {
  const { text: content } = decodeFile(file);
  const sep = detectSeparator(content);
  const { rows } = parseCsv(content, sep);
  const mapping = guessColumns(rows);
  return { sep, mapping, ...readSheet(rows, mapping, encoding) };
};
const pairs = (lines) => lines.map((l) => [l.description, l.price]);

test('prices written in every common form read as the server reads them', () => {
  for (const [written, decimal, want, typed] of vectors('price_forms.tsv')) {
    const read = readAmount(utf8(written), text(decimal) || null);
    const got = read.value ?? (read.ambiguous ? 'ambiguous' : read.empty ? 'empty' : 'unreadable');
    assert.equal(got, text(want), JSON.stringify(utf8(written)));
    if (read.problem) assert.match(read.problem, /“/);
    if (!typed) continue;
    // The price editor: a decimal comma where the shop writes them, never
    // where it writes points.
    const kept = typedPrice(utf8(written), localeDecimal('fi-FI'));
    assert.equal(kept ? kept.price ?? 'ambiguous' : 'as typed', text(typed), 'typed ' + JSON.stringify(utf8(written)));
    assert.equal(typedPrice(utf8(written), localeDecimal('en-GB')), null);
  }
});

test('bulk changes of one price', () => {
  for (const [price, how, by, rounding, want] of vectors('bulk_changes.tsv')) {
    const got = changePrice(text(price), text(how), text(by), text(rounding));
    assert.equal(got.price ?? 'refused', text(want), `${text(price)} ${text(how)} ${text(by)} ${text(rounding)}`);
  }
});

test('the same sheet written by LibreOffice in four conventions reads as the same lines', () => {
  const want = [
    ['Oak chair', '49.90'], ['Dining table, extendable', '1234.50'], ['Lamp; brass', '29.95'],
    ['Sofa "Helsinki"', '12999.00'], ['Shelf two boards', '0.50'], ['Pöytä käsinveistetty', '899.00'],
    ['Café stool', '1000000.00'], ['Rug wool', '12.05'],
  ];
  for (const [name, sep] of [['prices-fi.csv', ';'], ['prices-us.csv', ','], ['prices-de-1252.csv', ';'], ['prices-us.tsv', '\t']]) {
    const file = readFileSync(new URL(`../../tests/fixtures/${name}`, import.meta.url));
    const got = readFile(file);
    assert.equal(got.sep, sep, name);
    assert.deepEqual(got.mapping, { description: 0, price: 1, skip: 3, decimal: name.includes('us') ? '.' : ',' }, name);
    assert.deepEqual(pairs(got.lines), want, name);
    assert.deepEqual(got.skipped, [], name);
  }
  // Without header words: amounts with decimals beat article numbers, and
  // a description that holds a header word is still a description.
  for (const [rows, want] of [
    [[['1001', 'Oak chair', '49,90'], ['1002', 'Lamp', '10,00']], { description: 1, price: 2, skip: 0, decimal: ',' }],
    [[['Item holder', '12.50'], ['Lamp', '10']], { description: 0, price: 1, skip: 0, decimal: '.' }],
    [[['Qty', 'Item', 'Price'], ['2', 'Lamp', '1,234.00']], { description: 1, price: 2, skip: 1, decimal: '.' }],
    [[['Art.nr', 'Bez.', 'VK'], ['A-1', 'Lamp', '10'], ['A-2', 'Oak chair', '1.234']], { description: 1, price: 2, skip: 1, decimal: null }],
  ]) assert.deepEqual(guessColumns(rows), want, JSON.stringify(rows));
  // A list kept in Windows-1252 cannot take every letter a sheet holds.
  const rows = [['Price', 'Item'], ['1,234', 'Chair →'], ['2', '']];
  const { lines, skipped } = readSheet(rows, guessColumns(rows), CP1252);
  assert.deepEqual(lines, []);
  assert.deepEqual(skipped.map((s) => s.reason), [
    '“→” cannot be written in Windows-1252, the encoding of this list', 'it has no description']);
});

const list = () => readDatabase(bytes('k1\n2\nretail 1.0\nvip 0.9\nWinter prices\nValid until March\n4\n' +
  'Oak chair 49.90\nLamp 10\nSofa 899.00\nLamp 10\nnote\n'));

test('an import shows every change before it makes it, and makes only those', () => {
  const rows = [['Item', 'Price'], ['Sofa', '949,00'], ['Lamp', '10,00'], ['Stool', '1 234,50'], ['Rug', '1,234'],
    ['Sofa', '1,00'], ['', '5'], ['Desk', 'call us']];
  const mapping = guessColumns(rows);
  const { lines, skipped } = readSheet(rows, mapping, UTF8);
  assert.deepEqual(mapping, { description: 0, price: 1, skip: 1, decimal: ',' });
  assert.deepEqual(pairs(lines), [['Sofa', '949.00'], ['Lamp', '10.00'], ['Stool', '1234.50'], ['Rug', '1.234'], ['Sofa', '1.00']]);
  assert.deepEqual(skipped.map((s) => [s.row, s.reason]), [[7, 'it has no description'], [8, 'the price “call us” is not an amount']]);
  // Without the hint of the other prices, 1,234 is flagged, not guessed.
  const alone = readSheet([['Rug', '1,234']], { description: 0, price: 1, skip: 0, decimal: null }, UTF8);
  assert.deepEqual(alone.skipped[0].ambiguous, ['1234', '1.234']);

  // Update by description: both Lamps match and keep their bytes.
  const db = list();
  const original = writeDatabase(db);
  const update = planImport(db.prices, lines, 'update', false);
  assert.deepEqual(update.changed.map((c) => [c.description, c.old, c.price]), [['Sofa', '899.00', '949.00']]);
  assert.deepEqual(pairs(update.added), [['Stool', '1234.50'], ['Rug', '1.234']]);
  assert.deepEqual(update.missing.map((r) => r.description), ['Oak chair']);
  assert.equal(update.unchanged, 2);
  assert.deepEqual(update.duplicates.map((d) => d.row), [6]);
  assert.deepEqual(writeDatabase(db), original, 'a plan changes nothing');
  db.prices = applyImport(update);
  assert.equal(text(writeDatabase(db)), 'k1\n2\nretail 1.0\nvip 0.9\nWinter prices\nValid until March\n6\n' +
    'Oak chair 49.90\nLamp 10\nSofa 949.00\nLamp 10\nStool 1234.50\nRug 1.234\nnote\n');

  // Only plain decimals of one value are the same price: '' and 0x10 are
  // what the server reads as 0 and 16, but not what a person wrote.
  const odd = readDatabase(bytes('k\n0\nA\nB\n2\nx \ny 0x10\n')).prices;
  assert.equal(planImport(odd, [{ row: 1, description: 'x', price: '0' }, { row: 2, description: 'y', price: '16' }], 'update').changed.length, 2);
  const rest = planImport(list().prices, lines, 'update', true);
  assert.equal(rest.removed, true);
  assert.deepEqual(applyImport(rest).map((r) => r.description), ['Lamp', 'Sofa', 'Lamp', 'Stool', 'Rug']);

  // Replace: the file's lines in the file's order, one list line each.
  const replace = planImport(list().prices, lines, 'replace');
  assert.deepEqual(replace.missing.map((r) => r.description), ['Oak chair', 'Lamp']);
  assert.deepEqual(replace.changed.map((c) => [c.description, c.old, c.price]), [['Sofa', '899.00', '949.00']]);
  assert.deepEqual(pairs(replace.added), [['Stool', '1234.50'], ['Rug', '1.234'], ['Sofa', '1.00']]);
  assert.deepEqual(pairs(applyImport(replace)), [['Sofa', '949.00'], ['Lamp', '10'], ['Stool', '1234.50'], ['Rug', '1.234'], ['Sofa', '1.00']]);
});

test('an export in either convention imports back as the same lines', () => {
  const db = list();
  db.prices[0].description = '=HYPERLINK("x")';
  db.prices[1].description = 'Lamp; brass, "new"';
  db.prices[3].description = "'+ spare legs";
  for (const [sep, decimal, bom] of [[';', ',', true], [',', '.', false]]) {
    const file = writeCsv(exportRows(db, { factors: [1], titles: true, decimal }), { sep, bom });
    const content = decodeFile(file).text;
    if (bom) {
      assert.deepEqual([...file.subarray(0, 3)], [0xef, 0xbb, 0xbf]);
      assert.ok(content.startsWith('Winter prices\r\nValid until March\r\nDescription;Price;vip\r\n' +
        `"'=HYPERLINK(""x"")";49,90;44,909999\r\n"Lamp; brass, ""new""";10;9,000000\r\n`), content);
    }
    const got = readFile(file);
    assert.equal(got.sep, sep);
    assert.deepEqual(pairs(got.lines), db.prices.map((r) => [r.description, r.price]));
    const plan = planImport(db.prices, got.lines, 'replace');
    assert.equal(plan.unchanged, 4);
    assert.equal(plan.changed.length + plan.added.length + plan.missing.length, 0);
  }
  const rows = exportRows(db, { factors: [0, 1], decimal: ',' });
  assert.deepEqual(rows.slice(0, 2), [['Description', 'Price', 'retail', 'vip'], ["'=HYPERLINK(\"x\")", '49,90', '49,900000', '44,909999']]);
});

// The repricing of an export, checked against the server's own answers.
test('exported prices with a factor are what the price query answers', () => {
  let checked = 0;
  for (const [file, name, answer] of vectors('query.tsv')) {
    const db = readDatabase(file);
    const index = db.factors.findIndex((f) => text(f.orig).split(/[\s\x80-\xff]/)[0] === text(name));
    if (index < 0 || text(answer) === 's!') continue;
    const factor = factorOf(db.factors[index], db.encoding);
    const lines = text(answer).split('\n').slice(3, 3 + db.prices.length);
    db.prices.forEach((row, i) => {
      const got = repriced(row, factor, db.encoding);
      assert.equal(got, lines[i].slice(lines[i].lastIndexOf(' ') + 1), lines[i]);
      checked++;
    });
  }
  assert.ok(checked > 20);
  // Exact halves round to even, as printf rounds them.
  assert.deepEqual([0.0078125, 0.0234375, -1e-9, 2.5e-7].map(fixed6), ['0.007812', '0.023438', '-0.000000', '0.000000']);
});

test('a bulk change touches only the lines it names', () => {
  const db = list();
  db.prices[2].price = '12,50';
  const plan = planBulk(db.prices, [0, 2, 3], 'percent', '2', '.99');
  assert.deepEqual(plan.changes, [{ index: 0, old: '49.90', price: '50.99' }, { index: 3, old: '10', price: '10.99' }]);
  assert.deepEqual(plan.skipped, [{ index: 2, reason: 'the price “12,50” is not a plain number' }]);
});
