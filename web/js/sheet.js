// A price list to and from a spreadsheet: which columns hold what, the rows
// read into price lines, the plan of an import (what it adds, changes and
// leaves), the rows of an export with the server's repriced prices, and a
// change of many prices at once. Rows are arrays of cell texts (csv.js).

import { changePrice, columnDecimal, readAmount } from './decimals.js';
import { factorEntry, isEdited, newRow, priceText } from './format.js';
import { scanDouble } from './number.js';
import { tr } from './i18n.js';

const DESCRIPTION_WORDS = ['description', 'product', 'item', 'article', 'name', 'title', 'kuvaus', 'tuote', 'nimike',
  'nimi', 'artikkeli', 'beskrivning', 'benämning', 'produkt', 'artikel', 'bezeichnung', 'beschreibung', 'désignation',
  'designation', 'libellé', 'produit'];
const PRICE_WORDS = ['price', 'hinta', 'pris', 'preis', 'prix', 'precio', 'prezzo', 'cost', 'amount'];
const names = (cell, words) => {
  const text = cell.trim().toLowerCase();
  return text !== '' && words.some((w) => text.includes(w));
};
const blank = (row) => row.every((cell) => cell.trim() === '');
// A cell that reads as an amount, or could (an ambiguous one).
const amountLike = (cell) => {
  const read = readAmount(cell);
  return !!(read.value || read.ambiguous);
};

// The likely mapping of a sheet's rows: { description, price, skip,
// decimal }, columns counted from 0, `skip` the rows above the first price
// line (titles and a header row), `decimal` the decimal separator the price
// column shows (or null). Header words win; otherwise the price column is
// the one with the most amounts, the description the one with the most text.
export function guessColumns(rows) {
  const sample = rows.slice(0, 200);
  const width = Math.max(1, ...sample.map((row) => row.length));
  let header = -1;
  let description = -1;
  let price = -1;
  for (let r = 0; r < Math.min(sample.length, 6) && header < 0; r++) {
    const row = sample[r];
    // A title has one cell; a header names a column and holds no amount.
    if (row.filter((cell) => cell.trim()).length < 2) continue;
    const p = row.findIndex((cell) => names(cell, PRICE_WORDS) && !amountLike(cell));
    const d = row.findIndex((cell, i) => i !== p && names(cell, DESCRIPTION_WORDS));
    if ((p >= 0 || d >= 0) && !row.some(amountLike)) {
      header = r;
      price = p;
      description = d;
    }
  }
  const body = sample.slice(header + 1).filter((row) => !blank(row));
  const count = (test) => Array.from({ length: width }, (_, c) => body.filter((row) => test(row[c] ?? '')).length);
  if (price < 0) {
    const amounts = count(amountLike);
    const decimals = count((cell) => !!readAmount(cell).decimal);
    price = amounts.reduce((best, n, c) => (c !== description && (n > amounts[best] ||
      (n === amounts[best] && decimals[c] > decimals[best])) ? c : best), description === 0 ? Math.min(1, width - 1) : 0);
  }
  if (description < 0) {
    const texts = count((cell) => cell.trim() !== '' && !amountLike(cell));
    const length = Array.from({ length: width }, (_, c) => body.reduce((sum, row) => sum + (row[c] ?? '').length, 0));
    description = -1;
    for (let c = 0; c < width; c++) {
      if (c === price) continue;
      if (description < 0 || texts[c] > texts[description] || (texts[c] === texts[description] && length[c] > length[description])) description = c;
    }
    if (description < 0) description = price === 0 ? 1 : 0;
  }
  // Without a header row, the rows above the first amount in the price
  // column are titles.
  let skip = header + 1;
  if (header < 0) {
    while (skip < Math.min(sample.length, 10) && !amountLike(sample[skip][price] ?? '')) skip++;
    if (skip === Math.min(sample.length, 10)) skip = 0;
  }
  const decimal = columnDecimal(rows.slice(skip).map((row) => row[price] ?? ''));
  return { description, price, skip, decimal };
}

// A description as a price line can hold it: line breaks and other control
// characters inside a cell become a space, and blanks at either end go. A
// blank at the end would sit before the space that the server takes as the
// start of the price.
export function cleanDescription(text) {
  return (/[\x00-\x1f\x7f]/.test(text) ? text.replace(/[\x00-\x1f\x7f]+/g, ' ') : text).trim();
}

// The price lines a sheet holds under `mapping`, for a list in `encoding`
// (bytes.js). Returns { lines, skipped }: lines are { row, description,
// price } with `row` the sheet row's number as a person counts (from 1), and
// skipped rows are { row, reason, ambiguous? } (ambiguous: the two readings).
export function readSheet(rows, mapping, encoding) {
  const lines = [];
  const skipped = [];
  const { description: dc, price: pc, skip, decimal } = mapping;
  for (let r = skip; r < rows.length; r++) {
    const row = rows[r];
    const at = r + 1;
    if (blank(row)) {
      skipped.push({ row: at, reason: tr('the row is empty') });
      continue;
    }
    const description = cleanDescription(unguardText(row[dc] ?? ''));
    const written = (row[pc] ?? '').trim();
    const read = readAmount(written, decimal);
    let reason = '';
    if (description === '') reason = tr('it has no description');
    else if (encoding.badChar(description)) {
      reason = tr('“{{char}}” cannot be written in {{encoding}}, the encoding of this list', { char: encoding.badChar(description), encoding: encoding.name });
    } else if (read.empty) reason = tr('it has no price');
    else if (read.problem) reason = read.problem;
    else if (read.ambiguous) {
      skipped.push({ row: at, description, written, ambiguous: read.ambiguous,
        reason: tr('the price “{{price}}” may be {{one}} or {{other}}: say which separator marks decimals', { price: written, one: read.ambiguous[0], other: read.ambiguous[1] }) });
      continue;
    }
    if (reason) skipped.push({ row: at, description, written, reason });
    else lines.push({ row: at, description, price: read.value });
  }
  return { lines, skipped };
}

// Descriptions match whatever blanks they are written with.
const sameKey = (text) => (/\s\s|[^\S ]|^ | $/.test(text) ? text.replace(/\s+/g, ' ').trim() : text);
// Prices are the same where both are plain decimals of one value ('10' and
// '10.00'); a price the server misreads ('12,50') is never the same.
const PLAIN = /^([-+]?)0*([0-9]*?)(?:\.([0-9]*?)0*)?$/;
function plainValue(text) {
  const m = PLAIN.exec(text);
  if (!m || !/[0-9]/.test(text)) return null;
  const digits = (m[2] || '0') + '.' + (m[3] || '');
  return (m[1] === '-' && /[1-9]/.test(digits) ? '-' : '') + digits;
}
function samePrice(a, b) {
  if (a === b) return true;
  if (Number(a) !== Number(b)) return false;  // quick: different values
  const x = plainValue(a);
  return x !== null && x === plainValue(b);
}

// What an import does to `prices` (the list's price rows). `mode` is
// 'replace' (the file's lines become the price lines, in the file's order)
// or 'update' (matching descriptions get the file's price, new ones are
// added at the end, and the rest stay, or go where `removeRest`). Nothing
// is changed here; applyImport carries the plan out. Returns
//   { result: [{ row, price? } | { add }], added, changed, missing, removed,
//     unchanged, duplicates }
// where `changed` holds { description, old, price }, `missing` the rows the
// file does not name, and `duplicates` lines skipped for repeating a
// description the file named before (update mode matches one line each).
export function planImport(prices, lines, mode, removeRest = false) {
  const plan = new ImportPlan(prices);
  if (mode === 'replace') plan.replace(lines);
  else plan.update(prices, lines, removeRest);
  const { result, added, changed, used, unchanged, duplicates } = plan;
  const missing = prices.filter((row) => !used.has(row));
  return { result, added, changed, missing, removed: mode === 'replace' || removeRest, unchanged, duplicates };
}

class ImportPlan {
  constructor(prices) {
    Object.assign(this, { byKey: new Map(), used: new Set(), result: [], added: [], changed: [], duplicates: [], unchanged: 0 });
    for (const row of prices) {
      const key = sameKey(row.description);
      if (!this.byKey.has(key)) this.byKey.set(key, []);
      this.byKey.get(key).push(row);
    }
  }

  // The rows of the list a file line's description names.
  named(line) {
    return this.byKey.get(sameKey(line.description)) || [];
  }

  // A file line matched to a row: the row kept, with the file's price where
  // it differs.
  keep(row, line) {
    this.used.add(row);
    if (samePrice(row.price, line.price)) {
      this.result.push({ row });
      this.unchanged++;
    } else {
      this.result.push({ row, price: line.price });
      this.changed.push({ description: row.description, old: row.price, price: line.price, line: line.row });
    }
  }

  // The file's lines, in its order: each takes the next list row of its
  // description not taken yet, or is added.
  replace(lines) {
    for (const line of lines) {
      const row = this.named(line).find((r) => !this.used.has(r));
      if (row) {
        this.keep(row, line);
      } else {
        this.result.push({ add: line });
        this.added.push(line);
      }
    }
  }

  // The list's rows, in its order: every row a file line names takes its
  // price; then the file's other lines, added.
  update(prices, lines, removeRest) {
    const lineOf = new Map();
    const first = new Map();
    for (const line of lines) {
      const key = sameKey(line.description);
      if (first.has(key)) {
        this.duplicates.push({ row: line.row, description: line.description,
          reason: tr('row {{row}} has the same description, and only the first is used', { row: first.get(key) }) });
        continue;
      }
      first.set(key, line.row);
      const rows = this.named(line);
      if (!rows.length) this.added.push(line);
      for (const row of rows) lineOf.set(row, line);
    }
    for (const row of prices) {
      const line = lineOf.get(row);
      if (line) this.keep(row, line);
      else if (!removeRest) this.result.push({ row });
    }
    for (const line of this.added) this.result.push({ add: line });
  }
}

// The price rows after the plan: rows the plan leaves alone are the same
// objects, so their bytes stay; changed ones take the new price.
export function applyImport(plan) {
  return plan.result.map((step) => {
    if (step.add) return newRow('price', { description: step.add.description, price: step.add.price });
    if (step.price !== undefined) step.row.price = step.price;
    return step.row;
  });
}

// The line a price row becomes in the file, as text (format.js writes it
// so): the price follows the last space.
const lineText = (row) => (row.spaced || row.description !== '' ? row.description + ' ' + row.price : row.price);

// The factor a query uses for a factor row, as the server reads the entry.
export function factorOf(row, encoding) {
  const bytes = isEdited(row) ? encoding.encode(row.name + (row.sep || ' ') + row.value) : row.orig;
  return Math.fround(factorEntry(bytes).factor);
}

// A price line's price as the query answers it: the line's price times the
// factor, in double precision, written as printf's "%f" writes it.
export function repriced(row, factor, encoding) {
  const text = priceText(encoding.encode(lineText(row)));
  const price = scanDouble(text).value;
  const product = price * factor;
  if (Number.isNaN(product)) {
    // A NaN keeps the sign of the NaN it came from; 0 times infinity gives
    // the processor's default NaN, which x86 makes negative.
    const negative = Number.isNaN(price) ? /^\s*-/.test(new TextDecoder().decode(text)) : !Number.isNaN(factor);
    return negative ? '-nan' : 'nan';
  }
  return fixed6(product);
}

// printf("%f"): the exact value of the double, rounded to six decimals,
// halves to even, as glibc does.
export function fixed6(x) {
  if (x === Infinity) return 'inf';
  if (x === -Infinity) return '-inf';
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, x);
  const hi = view.getUint32(0);
  const negative = hi >>> 31 === 1;
  const biased = (hi >>> 20) & 0x7ff;
  let mantissa = (BigInt(hi & 0xfffff) << 32n) | BigInt(view.getUint32(4));
  let exponent = biased - 1075;
  if (biased === 0) exponent = -1074;
  else mantissa |= 1n << 52n;
  let scaled;  // round(|x| * 10^6)
  if (exponent >= 0) scaled = (mantissa << BigInt(exponent)) * 1000000n;
  else {
    const num = mantissa * 1000000n;
    const den = 1n << BigInt(-exponent);
    scaled = num / den;
    const rest = (num % den) * 2n;
    if (rest > den || (rest === den && (scaled & 1n))) scaled += 1n;
  }
  const digits = scaled.toString().padStart(7, '0');
  return (negative ? '-' : '') + digits.slice(0, -6) + '.' + digits.slice(-6);
}

// A decimal text in the file's convention: '12.50' -> '12,50' for ','.
// Texts that are not plain decimals stay as they are.
const localDecimal = (text, decimal) => (decimal === ',' && /^-?[0-9]*\.[0-9]+$/.test(text) ? text.replace('.', ',') : text);

// Spreadsheets run a cell that begins with = + - @ as a formula. A leading
// apostrophe keeps such a text a text; reading a sheet takes one off again
// (so a text that began with apostrophes before such a sign gets one more).
const FORMULA = /^'*[=+\-@\t\r]/;
const guardText = (text) => (FORMULA.test(text) ? "'" + text : text);
export const unguardText = (text) => (/^'+[=+\-@\t\r]/.test(text) ? text.slice(1) : text);

// The rows of an export: optionally the list's two title lines, a header,
// then one row a price line: its description, its price and its price with
// each factor chosen (indexes into db.factors), as the query computes it.
// `decimal` is ',' for comma-decimal spreadsheets, else '.'.
export function exportRows(db, { factors = [], titles = false, decimal = '.' } = {}) {
  const rows = [];
  if (titles) rows.push([guardText(db.headerA.text)], [guardText(db.headerB.text)]);
  const chosen = factors.map((i) => ({ name: db.factors[i].name, factor: factorOf(db.factors[i], db.encoding) }));
  rows.push(['Description', 'Price', ...chosen.map((f) => guardText(f.name))]);
  for (const row of db.prices) {
    const price = /^-?[0-9]*\.?[0-9]+$/.test(row.price) ? localDecimal(row.price, decimal) : guardText(row.price);
    rows.push([guardText(row.description), price,
      ...chosen.map((f) => localDecimal(repriced(row, f.factor, db.encoding), decimal))]);
  }
  return rows;
}

// Which price rows a bulk change touches and what each becomes. `indexes`
// are the rows in view (a filter) or all of them; `how`, `by` and
// `rounding` as changePrice takes them. Returns { changes: [{ index, old,
// price }], unchanged, skipped: [{ index, reason }] }.
export function planBulk(prices, indexes, how, by, rounding) {
  const changes = [];
  const skipped = [];
  let unchanged = 0;
  for (const index of indexes) {
    const old = prices[index].price;
    const { price, problem } = changePrice(old, how, by, rounding);
    if (problem) skipped.push({ index, reason: problem });
    else if (price === old) unchanged++;
    else changes.push({ index, old, price });
  }
  return { changes, unchanged, skipped };
}
