// Which price lines a screen shows, and in what order: a filter over
// descriptions and prices, and a sort by description or price. A view never
// changes the list; "sort the list" applies a view's order to it. Pure.

import { atof } from './number.js';

export const ORDERS = {
  file: 'as in the list',
  description: 'by description, A to Z',
  'price-up': 'by price, lowest first',
  'price-down': 'by price, highest first',
};

// The words of a filter: every one must be found in the description or the
// price, in any case.
export function filterWords(query) {
  return query.toLowerCase().split(/\s+/).filter(Boolean);
}

export function matches(row, words) {
  // A row keeps the text it is searched in until its fields change.
  if (row.foundIn !== row.description || row.foundAt !== row.price) {
    row.foundIn = row.description;
    row.foundAt = row.price;
    row.hay = (row.description + ' ' + row.price).toLowerCase();
  }
  const { hay } = row;
  for (let i = 0; i < words.length; i++) if (!hay.includes(words[i])) return false;
  return true;
}

// The rows that match `words`, in one pass with no call per row beyond the
// match: a filter key passes every row of a big list.
function filtered(rows, words) {
  const out = [];
  for (let i = 0; i < rows.length; i++) if (matches(rows[i], words)) out.push(rows[i]);
  return out;
}

// Sorts `rows` in place by `order`; rows that compare equal keep their order.
// `encode` gives the bytes the server would read a price from. Descriptions
// sort as strings by the engine's own sort (each key ends in its row's
// index, which keeps the sort stable); prices by their value.
export function sortRows(rows, order, encode) {
  const n = rows.length;
  const was = rows.slice();
  if (order === 'description') {
    const keys = new Array(n);
    for (let i = 0; i < n; i++) keys[i] = textKey(rows[i]) + '\u0000' + i.toString(36).padStart(4, '0');
    keys.sort();
    for (let i = 0; i < n; i++) rows[i] = was[parseInt(keys[i].slice(keys[i].lastIndexOf('\u0000') + 1), 36)];
    return rows;
  }
  const values = new Float64Array(n);
  for (let i = 0; i < n; i++) values[i] = priceValue(rows[i], encode);
  const sign = order === 'price-down' ? -1 : 1;
  const index = Array.from({ length: n }, (_, i) => i);
  // Prices that are not numbers go last, whichever way.
  index.sort((a, b) => {
    const x = values[a];
    const y = values[b];
    if (x === y) return a - b;
    if (x !== x) return y !== y ? a - b : 1;
    if (y !== y) return -1;
    return x < y ? -sign : sign;
  });
  for (let i = 0; i < n; i++) rows[i] = was[index[i]];
  return rows;
}

// A description as it sorts: case left aside, and numbers by their value
// ("no. 9" before "no. 10"), as a person orders them.
// A row keeps its key until its description changes.
function textKey(row) {
  if (row.sortedAs !== row.description) {
    row.sortedAs = row.description;
    row.sortKey = row.description.toLowerCase().replace(/\d+/g, (d) => d.replace(/^0+(?=\d)/, '').padStart(12, '0'));
  }
  return row.sortKey;
}

// A row's price as the server reads it (the plain forms without the byte
// reader), kept until the price changes.
function priceValue(row, encode) {
  if (row.valuedAs !== row.price) {
    const text = row.price;
    row.valuedAs = text;
    row.priceValue = /^\s*[-+]?\d+(\.\d+)?\s*$/.test(text) ? Number(text) : atof(encode(text));
  }
  return row.priceValue;
}

// The orders found before, for each list: kept while the list holds the same
// rows in the same places with the same texts, so that going back to an
// order, or filtering a sorted view, sorts nothing again. A filtered view
// is the sorted list filtered, which is the same as the filtered rows sorted:
// rows that compare equal keep their order either way.
const sorted = new WeakMap();  // rows -> { [order]: { rows, texts, out } }

function sortedList(rows, order, encode) {
  let orders = sorted.get(rows);
  if (!orders) sorted.set(rows, (orders = {}));
  const field = order === 'description' ? 'description' : 'price';
  const kept = orders[order];
  if (kept && kept.rows.length === rows.length) {
    let same = true;
    for (let i = 0; i < rows.length && same; i++) same = kept.rows[i] === rows[i] && kept.texts[i] === rows[i][field];
    if (same) return kept.out;
  }
  const out = sortRows(rows.slice(), order, encode);
  orders[order] = { rows: rows.slice(), texts: rows.map((row) => row[field]), out };
  return out;
}

// The rows of `rows` a view shows: `rows` itself when it shows them all in
// their own order, else a new array.
export function viewOf(rows, { query = '', order = 'file' }, encode) {
  const words = filterWords(query);
  if (order === 'file') return words.length ? filtered(rows, words) : rows;
  const all = sortedList(rows, order, encode);
  return words.length ? filtered(all, words) : all.slice();
}
