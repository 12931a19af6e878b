// The page's reader and writer of database files, against the protocol
// vectors and the odd files a shop may hold.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { concat } from '../js/bytes.js';
import { factorEntry, newRow, priceText, readDatabase, repricedTexts, writeDatabase } from '../js/format.js';
import { atoi, atof } from '../js/number.js';
import { bytes, text, vectors } from './vectors.js';

test('numbers read as atoi and atof read them', () => {
  for (const [input, int, float] of vectors('numbers.tsv')) {
    assert.equal(atoi(input), Number(text(int)), `atoi ${text(input)}`);
    const want = { inf: Infinity, '-inf': -Infinity, nan: NaN }[text(float)] ?? Number(text(float));
    assert.ok(Object.is(atof(input), want), `atof ${text(input)}: ${atof(input)} != ${want}`);
  }
});

test('the price of a price line follows its last space', () => {
  for (const [line, price] of vectors('prices.tsv')) assert.deepEqual(priceText(line), price);
  // And so the page reads the repriced lines of a query's answer.
  for (const [file, , answer] of vectors('query.tsv')) {
    if (text(answer) === 's!') continue;
    const db = readDatabase(file);
    const lines = text(answer).slice(1).split('\n').slice(3, 3 + db.prices.length);
    assert.deepEqual(repricedTexts(answer.subarray(1), db.prices.length, db.encoding), lines.map((l) => l.slice(l.lastIndexOf(' ') + 1)));
  }
});

// The server's answer to a query, rebuilt from the page's reading of the
// file: the same lines cut the same way, prices multiplied by the factor.
test('the file is cut into parts as the price query cuts it', () => {
  for (const [file, name, answer] of vectors('query.tsv')) {
    const db = readDatabase(file);
    if (db.notes.length) continue;  // ends early: the page completes it (below)
    assert.deepEqual(writeDatabase(db), file, 'written back unchanged');
    const entry = db.factors.map((row) => factorEntry(row.orig)).find((e) => text(e.name) === text(name));
    if (!entry) {
      assert.equal(text(answer), 's!');
      continue;
    }
    const factor = Math.fround(entry.factor);
    let rest = text(answer);
    const take = (row) => {
      assert.ok(rest.startsWith(text(row.orig)), `${JSON.stringify(rest)} starts with ${JSON.stringify(text(row.orig))}`);
      rest = rest.slice(row.orig.length);
    };
    assert.equal(rest[0], 's');
    rest = rest.slice(1);
    [db.headerA, db.headerB, db.priceCountRow].forEach(take);
    for (const row of db.prices) {
      const line = rest.slice(0, rest.indexOf('\n'));
      const space = row.orig.lastIndexOf(0x20);
      assert.equal(line.slice(0, space + 1), text(row.orig.subarray(0, space + 1)));
      const got = Number(line.slice(space + 1).replace(/^-?nan$/, 'NaN').replace('inf', 'Infinity'));
      const want = atof(priceText(row.orig)) * factor;
      assert.ok(Object.is(got, want) || Math.abs(got - want) <= 5e-7 * Math.max(1, Math.abs(want)), `${line}: ${want}`);
      rest = rest.slice(line.length + 1);
    }
    assert.equal(rest, text(concat(db.trailing.map((row) => row.orig))));
  }
});

test('odd files come back byte for byte, edits change only their lines', () => {
  const long = 'x'.repeat(100000);
  const file = bytes(`k1\r\n2\r\nretail 1.0\r\nH\xe4ndler 0.8\r\nWinter\r\n"B"\r\n2.9\r\nChair 12,50\r\nT\xe4ble 199\r\n${long}\nend`);
  const db = readDatabase(file);
  assert.equal(db.encoding.name, 'Windows-1252');
  assert.equal(db.readOnly, null);
  assert.deepEqual(writeDatabase(db), file);
  assert.deepEqual(db.prices.map((row) => [row.description, row.price]), [['Chair', '12,50'], ['Täble', '199']]);

  db.prices[0].price = '12.50';
  db.prices[1].description = 'Tisch ä';
  db.trailing.reverse();  // the last line, without a line end, moves up
  db.factors.push(newRow('factor', { name: 'vip', value: '0.7' }));
  const want = `k1\r\n3\r\nretail 1.0\r\nH\xe4ndler 0.8\r\nvip 0.7\r\nWinter\r\n"B"\r\n2.9\r\nChair 12.50\r\nTisch \xe4 199\r\nend\r\n${long}\n`;
  assert.equal(text(writeDatabase(db)), want);
});

test('what the page cannot keep whole is read-only, a short file is completed', () => {
  const piece = 'y'.repeat(70000);
  assert.match(readDatabase(bytes(`k\n1\na ${piece}\nA\nB\n0\n`)).readOnly, /longer than/);
  assert.match(readDatabase(bytes('k\n0\nA\x00\nB\n0\n')).readOnly, /control bytes/);
  assert.equal(readDatabase(bytes(`k\n0\nA\nB\n0\n${piece}\n`)).readOnly, null);

  const short = readDatabase(bytes('k\n3\na 1\n'));
  assert.equal(short.notes.length, 1);
  assert.equal(text(writeDatabase(short)), 'k\n1\na 1\n\n\n0\n');
});
