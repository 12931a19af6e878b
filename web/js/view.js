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

const collator = new Intl.Collator('en', { numeric: true, sensitivity: 'base' });

// The words of a filter: every one must be found in the description or the
// price, in any case.
export function filterWords(query) {
  return query.toLowerCase().split(/\s+/).filter(Boolean);
}

export function matches(row, words) {
  if (!words.length) return true;
  const hay = (row.description + ' ' + row.price).toLowerCase();
  return words.every((w) => hay.includes(w));
}

// The value a row sorts by under `order`: its price as the server reads it
// (`encode` gives the bytes the server would read), or its description.
const priceValue = (row, encode) => {
  const value = atof(encode(row.price));
  return Number.isNaN(value) ? Infinity : value;
};

// The rows of `rows` a view shows: `rows` itself when it shows them all in
// their own order, else a new array.
export function viewOf(rows, { query = '', order = 'file' }, encode) {
  const words = filterWords(query);
  let out = words.length ? rows.filter((row) => matches(row, words)) : rows;
  if (order === 'file') return out;
  if (out === rows) out = rows.slice();
  return sortRows(out, order, encode);
}

// Sorts `rows` in place by `order`; rows that compare equal keep their order.
export function sortRows(rows, order, encode) {
  if (order === 'description') {
    const at = new Map(rows.map((row, i) => [row, i]));
    return rows.sort((a, b) => collator.compare(a.description, b.description) || at.get(a) - at.get(b));
  }
  const sign = order === 'price-down' ? -1 : 1;
  const keyed = rows.map((row, i) => ({ row, i, v: priceValue(row, encode) }));
  keyed.sort((a, b) => (a.v === b.v ? a.i - b.i : a.v === Infinity ? 1 : b.v === Infinity ? -1 : sign * (a.v - b.v)));
  keyed.forEach((k, i) => { rows[i] = k.row; });
  return rows;
}
