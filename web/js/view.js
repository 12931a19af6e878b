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
  if (!words.length) return true;
  // A row keeps the text it is searched in until its fields change.
  if (row.foundIn !== row.description || row.foundAt !== row.price) {
    row.foundIn = row.description;
    row.foundAt = row.price;
    row.hay = (row.description + ' ' + row.price).toLowerCase();
  }
  return words.every((w) => row.hay.includes(w));
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

// The rows of `rows` a view shows: `rows` itself when it shows them all in
// their own order, else a new array.
export function viewOf(rows, { query = '', order = 'file' }, encode) {
  const words = filterWords(query);
  let out = words.length ? rows.filter((row) => matches(row, words)) : rows;
  if (order === 'file') return out;
  if (out === rows) out = rows.slice();
  return sortRows(out, order, encode);
}
