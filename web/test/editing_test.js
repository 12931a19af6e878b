// What the editor's model keeps through edits and saves, and the views and
// fixes it offers: against the vectors' files and a shop-sized list.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { adoptWritten, isEdited, newRow, readDatabase, writeDatabase } from '../js/format.js';
import { isDirty } from '../js/state.js';
import { decimalCommaFix, placeholderRows, rowProblems, serverFactorName } from '../js/checks.js';
import { nameProblem } from '../js/protocol.js';
import { viewOf } from '../js/view.js';
import { bytes, text, vectors } from './vectors.js';
import { shopList } from '../../bench/web_list.mjs';

const open = (file) => {
  const db = readDatabase(file);
  return { db, file, orig: { factors: db.factors.slice(), prices: db.prices.slice(), trailing: db.trailing.slice(), completes: db.ended } };
};
const files = () => [
  ...vectors('query.tsv').map(([file]) => file),
  bytes('k1\r\n1\r\nH\xe4ndler 0.8\r\nWinter\r\n"B"\r\n2.9\r\nChair 12,50\r\nT\xe4ble 199\r\nend'),
  bytes('k\n3\na 1\n'),  // ends early
  bytes('k\n0\n0\n""\n0\n0\n0\n'),
];

test('dirty is exactly "saving would change the file", edit by edit', () => {
  for (const file of files()) {
    const o = open(file);
    const { db } = o;
    const same = () => text(writeDatabase(db)) === text(file);
    assert.equal(isDirty(o), !same(), 'as opened: ' + text(file));
    if (db.ended) continue;
    const steps = [
      () => { db.headerA.text += 'x'; },
      () => { db.headerA.text = db.headerA.text.slice(0, -1); },
      () => db.prices.length > 1 && db.prices.reverse(),
      () => db.prices.length > 1 && db.prices.reverse(),
      () => db.trailing.push(newRow('trailing', { text: 'n' })),
      () => db.trailing.pop(),
    ];
    for (const step of steps) {
      step();
      assert.equal(isDirty(o), !same(), text(file));
    }
  }
});

test('after a save the rows are the saved file\'s rows, in place', () => {
  for (const file of files()) {
    const db = readDatabase(file);
    const rows = [db.key, ...db.prices];
    if (db.prices[0]) db.prices[0].price = '1,5';
    db.prices.push(newRow('price', { description: 'New', price: '2' }));
    db.factors.push(newRow('factor', { name: 'vip', value: '0.7' }));
    db.trailing.reverse();
    const spans = [];
    const saved = writeDatabase(db, spans);
    adoptWritten(db, saved, spans);
    const fresh = readDatabase(saved);
    assert.deepEqual(writeDatabase(db), saved);
    assert.ok(rows.every((row, i) => row === [db.key, ...db.prices][i]), 'the same row objects');
    for (const part of ['factors', 'prices', 'trailing']) {
      assert.equal(db[part].length, fresh[part].length);
      db[part].forEach((row, i) => {
        assert.ok(!isEdited(row));
        assert.equal(text(row.orig).replace(/\r?\n$/, ''), text(fresh[part][i].orig).replace(/\r?\n$/, ''));
      });
    }
  }
});

test('the checks say what the server would read, and offer the point form', () => {
  const db = readDatabase(bytes('k\n1\nH\xe4ndler 1.2\nA\nB\n3\nChair 12,50\nTable 1.234,50\nLamp 1\n'));
  const [chair, table, lamp] = db.prices;
  lamp.price = '12 50';
  assert.match(rowProblems(chair, db).price, /reads this price as 12 and ignores “,50”/);
  assert.match(rowProblems(db.factors[0], db).name, /reads its name as “H”, with the factor 0/);
  assert.match(rowProblems(lamp, db).price, /cannot hold a space/);
  assert.deepEqual([chair, table, lamp].map((row) => decimalCommaFix(row.price)), ['12.50', '1234.50', null]);
  for (const [typed, fixed] of [['199,5', '199.5'], ['-0,99', '-0.99'], ['12.50', null], ['1,234,5', null], ['12,', null], [',5', null]]) {
    assert.equal(decimalCommaFix(typed), fixed, typed);
  }
});

test('a factor name the server cannot read whole gets one it can', () => {
  for (const [name, renamed] of [
    ['vähittäis', 'vahittais'], ['Händler', 'Handler'], ['Großhandel', 'Grosshandel'], ['Ørsted', 'Orsted'],
    ['iso asiakas', 'iso-asiakas'], ['café-2%', 'cafe-2'], ['net_1.5+', 'net_1.5+'], ['日本', ''],
  ]) {
    assert.equal(serverFactorName(name), renamed, name);
    if (renamed) assert.equal(nameProblem(renamed), '', renamed);
  }
});

test('placeholders are only the lines a new list starts with, as it has them', () => {
  const fresh = readDatabase(bytes('k\n0\n0\n""\n0\n0\n0\n'));
  assert.deepEqual(placeholderRows(fresh), [fresh.headerA, fresh.headerB, ...fresh.trailing]);
  fresh.headerA.text = 'Winter';
  assert.deepEqual(placeholderRows(fresh), [fresh.headerB, ...fresh.trailing]);
  fresh.headerB.text = 'EUR';
  assert.deepEqual(placeholderRows(fresh), []);
  const real = readDatabase(bytes('k\n0\nWinter\nEUR\n1\nChair 10\n0\n'));
  assert.deepEqual(placeholderRows(real), [], 'a note "0" under real titles is the shop\'s');
});

test('views filter and sort without changing the list', () => {
  const db = readDatabase(bytes(shopList(300, 2)));
  const before = db.prices.slice();
  const encode = (t) => db.encoding.encode(t);
  const oak = viewOf(db.prices, { query: 'OAK  chair' }, encode);
  assert.ok(oak.length > 0 && oak.every((row) => /oak chair/i.test(row.description)));
  assert.equal(viewOf(db.prices, {}, encode), db.prices, 'the list itself when nothing is filtered');
  const up = viewOf(db.prices, { order: 'price-up' }, encode).map((row) => Number(row.price));
  assert.deepEqual(up, [...up].sort((a, b) => a - b));
  const names = viewOf(db.prices, { order: 'description', query: 'no. 0000' }, encode).map((row) => row.description.split(' ')[0]);
  assert.deepEqual(names, [...names].sort((a, b) => a.localeCompare(b)));
  assert.deepEqual(db.prices, before);
  // An order found before is found again after the list changes: an edited
  // text, a row that moved (rows that compare equal keep the list's order).
  db.prices[7].description = '000 first';
  db.prices[9].price = '-1';
  assert.equal(viewOf(db.prices, { order: 'description' }, encode)[0], db.prices[7]);
  assert.equal(viewOf(db.prices, { order: 'price-up' }, encode)[0], db.prices[9]);
  db.prices[3].description = db.prices[4].description = '000 first';
  assert.deepEqual(viewOf(db.prices, { order: 'description', query: 'first' }, encode), [db.prices[3], db.prices[4], db.prices[7]]);
  [db.prices[3], db.prices[7]] = [db.prices[7], db.prices[3]];
  assert.deepEqual(viewOf(db.prices, { order: 'description', query: 'first' }, encode), [db.prices[3], db.prices[4], db.prices[7]]);
  // Numbers within descriptions by their value; prices that are no number last.
  const rows = ['no. 10 5', 'no. 9 x', 'No. 009b 1e1'].map((line) => ({ description: line.slice(0, line.lastIndexOf(' ')), price: line.slice(line.lastIndexOf(' ') + 1) }));
  assert.deepEqual(viewOf(rows, { order: 'description' }, encode).map((r) => r.description), ['no. 9', 'No. 009b', 'no. 10']);
  assert.deepEqual(viewOf(rows, { order: 'price-down' }, encode).map((r) => r.price), ['1e1', '5', 'x']);
});
