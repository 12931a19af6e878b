// The price lines in the editor: a filter, an order, and the windowed table
// (grid.js), of which only the rows in view are in the document. An edit
// changes its row and the counts; adding, removing or moving a line renders
// the rows in view again, no more. The filter, the order and the rows shown
// are state.editor.view; each price row knows its place in the list as
// `row.at` (placeRows).

import { newRow } from '../format.js';
import { rowProblems } from '../checks.js';
import { localeDecimal, typedPrice } from '../decimals.js';
import { shopLocale } from '../shop.js';
import { ORDERS, sortRows, viewOf } from '../view.js';
import { Grid } from '../grid.js';
import { readOnly, state } from '../state.js';
import { $, h, num, say } from '../ui.js';
import { findChecks, markPriceRow, recheck, renderChecks, updateDirty } from './marks.js';
import { tr } from '../i18n.js';

const FIELDS = () => [['description', tr('Description')], ['price', tr('Price')]];
// The orders of view.js in the person's words.
const orderWords = () => ({
  file: tr('as in the list'), description: tr('by description, A to Z'),
  'price-up': tr('by price, lowest first'), 'price-down': tr('by price, highest first'),
});
const view = state.editor.view;

// The price lines' part of the editor, and a function that starts the table
// once that part is in the document.
export function renderPrices() {
  const locked = readOnly();
  // Enter in the find box goes to the price of the first line found.
  const filter = h('input', {
    id: 'price-filter', type: 'search', value: view.query, placeholder: tr('Description or price'),
    spellcheck: 'false', autocomplete: 'off', 'aria-describedby': 'price-count',
    oninput: () => { view.query = filter.value; reView(); },
    onkeydown: (event) => {
      if (event.key !== 'Enter' || !view.rows.length) return;
      event.preventDefault();
      focusRow(0, 'price');
    },
  });
  const order = h('select', { id: 'price-order', onchange: () => { view.order = order.value; reView(); } },
    Object.keys(ORDERS).map((value) => h('option', { value, text: orderWords()[value], selected: value === view.order })));
  const sortList = locked ? null : h('button', {
    type: 'button', id: 'sort-list', disabled: view.order === 'file', onclick: sortTheList,
    title: tr('Reorder the price lines in the list itself, as shown'),
  }, tr('Sort the list this way'));
  const tbody = h('tbody', {});
  const scroller = h('div', { class: 'grid', id: 'price-grid', tabindex: '-1' },
    h('table', { class: 'grid-table', 'aria-label': tr('Price lines') },
      h('colgroup', {}, h('col', { class: 'c-line' }), h('col', {}), h('col', { class: 'c-price' }), locked ? null : h('col', { class: 'c-actions' })),
      h('thead', {}, h('tr', {},
        h('th', { scope: 'col', class: 'num', text: tr('Line') }), h('th', { scope: 'col', text: tr('Description') }),
        h('th', { scope: 'col', text: tr('Price') }), locked ? null : h('th', { scope: 'col' }, h('span', { class: 'muted', text: tr('Order') })))),
      tbody));
  tbody.addEventListener('input', onPriceInput);
  tbody.addEventListener('keydown', onPriceKey);
  tbody.addEventListener('click', onPriceClick);
  const add = locked ? null : h('button', { type: 'button', 'data-focus': 'prices-add', onclick: () => addPrice(state.open.db.prices.length) }, tr('Add a price line'));
  // The find box comes last, so that Tab goes from it into the lines found.
  // The toolbar and the table are forms of their own, which nothing
  // submits: Chromium's autofill looks again at every field outside a form
  // that the page changes, and a big list's table changes its fields on
  // every key; inside forms it looks only at the form that changed.
  const noSubmit = (event) => event.preventDefault();
  const section = h('div', { id: 'section-prices' },
    h('form', { class: 'toolbar', onsubmit: noSubmit },
      h('h2', { text: tr('Price lines') }),
      h('div', {}, h('label', { for: 'price-order', text: tr('Show') }), order),
      sortList,
      h('div', { class: 'find' }, h('label', { for: 'price-filter' }, tr('Find a price line') + ' ', h('span', { class: 'muted', text: '(Ctrl+F)' })), filter)),
    h('p', { id: 'price-count', class: 'muted', 'aria-live': 'polite' }),
    h('form', { onsubmit: noSubmit }, scroller),
    add ? h('p', {}, add) : null,
    h('div', { id: 'price-checks' }));
  placeRows();
  computeView();
  return [section, () => {
    state.editor.grid = new Grid(scroller, tbody, { rowHeight: 41, count: () => view.rows.length, render: priceRow });
    showCount();
    // The checks of every line wait until the list is on screen.
    const db = state.open.db;
    state.editor.checks.clear();
    state.editor.checksFound = false;
    requestAnimationFrame(() => setTimeout(() => {
      if (state.open?.db !== db) return;
      findChecks();
      renderChecks();
    }));
  }];
}

export function computeView() {
  const { db } = state.open;
  view.rows = viewOf(db.prices, view, (text) => db.encoding.encode(text));
}

// Each row's place in the list, for its line number and label, from list
// position `from` on (where rows were added, removed or moved).
export function placeRows(from = 0) {
  const { prices } = state.open.db;
  for (let i = from; i < prices.length; i++) prices[i].at = i;
}

// A new filter or order: the view starts at its top. Everything is written
// before the scroll, which lays the page out once; nothing is read before.
export function reView() {
  computeView();
  $('sort-list') && ($('sort-list').disabled = view.order === 'file');
  state.editor.grid.refresh(0, 0);
  showCount();
  $('price-grid').scrollTop = 0;
}

// The price lines changed outside the table: the rows in view, the count
// and the checks shown again.
export function redrawPrices() {
  findChecks();  // before the rows in view are marked from them
  state.editor.grid.refresh();
  showCount();
  renderChecks();
  updateDirty();
}

function showCount() {
  const all = state.open.db.prices.length;
  const shown = view.rows.length;
  $('price-count').textContent = shown === all
    ? tr(['{{all}} price line.', '{{all}} price lines.'], { count: all, all: num(all) })
    : tr(['Showing {{shown}} of {{all}} price line.', 'Showing {{shown}} of {{all}} price lines.'], { count: all, shown: num(shown), all: num(all) });
}

// One row of the price table, for view position `p`: a new <tr>, or `tr`
// (a row the table no longer shows) filled again. A row filled again keeps
// its elements; only what differs from the row it showed before is written.
function priceRow(p, rowEl) {
  rowEl ??= newPriceRow();
  const locked = readOnly();
  const row = view.rows[p];
  const n = row.at + 1;
  rowEl.row = row;
  if (rowEl.p !== p) {
    rowEl.p = p;
    rowEl.dataset.p = p;
    rowEl.setAttribute('aria-rowindex', String(p + 2));
  }
  if (rowEl.line !== n) labelRow(rowEl, n);
  for (const f of rowEl.fields) {
    const text = shownText(row, f.field);
    if (f.input.value !== text) f.input.value = text;
  }
  if (!locked) {
    const ordered = view.order === 'file';
    rowEl.buttons[0].disabled = p === 0 || !ordered;
    rowEl.buttons[1].disabled = p === view.rows.length - 1 || !ordered;
  }
  markPriceRow(rowEl, row);
  return rowEl;
}

function newPriceRow() {
  const locked = readOnly();
  const rowEl = document.createElement('tr');
  rowEl.className = 'row';
  const cells = [h('td', { class: 'num line' })];
  rowEl.fields = [];
  for (const [field, label] of FIELDS()) {
    const input = h('input', { 'data-field': field, spellcheck: 'false', autocomplete: 'off', readOnly: locked });
    const note = h('span', { class: 'sr-only' });
    rowEl.fields.push({ field, label, input, note, shown: null });
    cells.push(h('td', {}, input, note));
  }
  if (!locked) {
    rowEl.buttons = [
      h('button', { type: 'button', class: 'icon', 'data-act': 'up', title: tr('Move up (Alt+↑)') }, '↑'),
      h('button', { type: 'button', class: 'icon', 'data-act': 'down', title: tr('Move down (Alt+↓)') }, '↓'),
      h('button', { type: 'button', class: 'icon', 'data-act': 'remove', title: tr('Remove') }, '✕')];
    cells.push(h('td', { class: 'actions' }, ...rowEl.buttons));
  }
  rowEl.append(...cells);
  return rowEl;
}

// A row's number, and the labels that name it, for line `n`.
function labelRow(rowEl, n) {
  rowEl.line = n;
  rowEl.firstChild.textContent = String(n);
  for (const { field, label, input, note } of rowEl.fields) {
    const id = `pn-${n}-${field}`;
    input.setAttribute('aria-label', tr('{{label}}, line {{n}}', { label, n: String(n) }));
    input.setAttribute('aria-describedby', id);
    input.dataset.focus = `prices-${n - 1}-${field}`;
    note.id = id;
  }
  if (rowEl.buttons) {
    const [up, down, remove] = rowEl.buttons;
    up.setAttribute('aria-label', tr('Move line {{n}} up', { n: String(n) }));
    down.setAttribute('aria-label', tr('Move line {{n}} down', { n: String(n) }));
    remove.setAttribute('aria-label', tr('Remove line {{n}}', { n: String(n) }));
  }
}

// Focus on `field` ('description', 'price', or a button's act) of view row p.
export function focusRow(p, field) {
  const rowEl = state.editor.grid.reveal(Math.max(0, Math.min(p, view.rows.length - 1)));
  if (!rowEl) return $('section-prices').querySelector('[data-focus="prices-add"]')?.focus();
  let el = rowEl.querySelector(`[data-field="${field}"], [data-act="${field}"]`);
  if (el?.disabled) el = rowEl.querySelector(`[data-act="${field === 'up' ? 'down' : 'up'}"]`);
  (el && !el.disabled ? el : rowEl.querySelector('input')).focus();
}

// A price as the person types it. Where the shop's locale writes decimal
// commas, "21,90" stays on screen and the line holds 21.90, the form the
// server reads; text that could be read either way is kept and marked until
// the person picks a reading.
export function typePrice(row, text) {
  const read = typedPrice(text, localeDecimal(shopLocale()));
  row.price = read?.price ?? text;
  row.typed = read?.price ? { text, price: read.price } : null;
  row.unsure = read?.ambiguous ? { text, readings: read.ambiguous } : null;
}
// What a field of a price line shows: the price as typed while the line
// still holds what it was read as.
const shownText = (row, field) => (field === 'price' && row.typed?.price === row.price ? row.typed.text : row[field]);

function onPriceInput(event) {
  const input = event.target;
  const rowEl = input.closest('tr');
  const row = rowEl.row;
  if (input.dataset.field === 'price') typePrice(row, input.value);
  else row[input.dataset.field] = input.value;
  const found = rowProblems(row, state.open.db);
  markPriceRow(rowEl, row, found);
  recheck(row, found);
  updateDirty();
}

// Structure changes: each renders the rows in view again and puts the focus
// where the keyboard user goes on.
function addPrice(at, p = view.rows.length) {
  const { db } = state.open;
  const row = newRow('price');
  db.prices.splice(at, 0, row);
  if (view.rows !== db.prices) view.rows.splice(p, 0, row);
  placeRows(at);
  state.editor.grid.refresh(p - 1);
  showCount();
  focusRow(view.rows.indexOf(row), 'description');
  updateDirty();
}

function removePrice(p) {
  const { db } = state.open;
  const row = view.rows[p];
  const at = row.at;
  db.prices.splice(at, 1);
  if (view.rows !== db.prices) view.rows.splice(p, 1);
  if (state.editor.checks.delete(row)) renderChecks();
  placeRows(at);
  state.editor.grid.refresh(p - 1);
  showCount();
  if (view.rows.length) focusRow(Math.min(p, view.rows.length - 1), 'remove');
  else $('section-prices').querySelector('[data-focus="prices-add"]')?.focus();
  updateDirty();
}

// Swaps view row p with its neighbour p + by, in the view and in the list.
function movePrice(p, by, focus) {
  const q = p + by;
  if (view.order !== 'file' || q < 0 || q >= view.rows.length) return;
  const { db } = state.open;
  const a = view.rows[p];
  const b = view.rows[q];
  const i = a.at;
  const j = b.at;
  db.prices[i] = b;
  db.prices[j] = a;
  if (view.rows !== db.prices) [view.rows[p], view.rows[q]] = [b, a];
  a.moved = b.moved = true;
  a.at = j;
  b.at = i;
  // Nothing else in view changes: no other row's place, number or buttons.
  state.editor.grid.redraw(p, q);
  focusRow(q, focus);
  updateDirty();
}

function sortTheList() {
  const { db } = state.open;
  sortRows(db.prices, view.order, (text) => db.encoding.encode(text));
  let moved = 0;
  db.prices.forEach((row, i) => {
    if (row.at !== i) {
      row.moved = true;
      row.at = i;
      moved++;
    }
  });
  const order = orderWords()[view.order];
  view.order = 'file';
  $('price-order').value = 'file';
  reView();
  renderChecks();
  updateDirty();
  say('ok', tr('Sorted the price lines {{order}}: {{moved}} moved. Save to keep the new order.', { order, moved: num(moved) }), { outcome: 'sorted', moved });
}

function onPriceClick(event) {
  const button = event.target.closest('button[data-act]');
  if (!button) return;
  const p = Number(button.closest('tr').dataset.p);
  if (button.dataset.act === 'remove') removePrice(p);
  else movePrice(p, button.dataset.act === 'up' ? -1 : 1, button.dataset.act);
}

function onPriceKey(event) {
  const el = event.target;
  const rowEl = el.closest('tr');
  if (!rowEl?.row) return;
  const p = Number(rowEl.dataset.p);
  const field = el.dataset.field || el.dataset.act;
  const locked = readOnly();
  if (event.altKey && (event.key === 'ArrowUp' || event.key === 'ArrowDown')) {
    if (locked) return;
    event.preventDefault();
    movePrice(p, event.key === 'ArrowUp' ? -1 : 1, field);
  } else if (event.key === 'Enter' && el.dataset.field && !locked) {
    // Enter in a price line starts a new line below it.
    event.preventDefault();
    addPrice(rowEl.row.at + 1, p + 1);
  } else if ((event.key === 'ArrowUp' || event.key === 'ArrowDown') && el.dataset.field && !event.shiftKey) {
    const q = p + (event.key === 'ArrowUp' ? -1 : 1);
    if (q < 0 || q >= view.rows.length) return;
    event.preventDefault();
    focusRow(q, field);
  } else if (event.key === 'Tab') {
    tabOn(event, rowEl, p);
  }
}

// Tab from the last control of a row (Shift+Tab from the first) goes to the
// next row even where it is not in the document yet.
function tabOn(event, rowEl, p) {
  const { grid } = state.editor;
  const controls = [...rowEl.querySelectorAll('input, button:not(:disabled)')];
  const q = event.shiftKey ? p - 1 : p + 1;
  const edge = event.shiftKey ? controls[0] : controls[controls.length - 1];
  if (event.target !== edge || q < 0 || q >= view.rows.length || grid.rowAt(q)) return;
  event.preventDefault();
  const next = grid.reveal(q);
  const into = [...next.querySelectorAll('input, button:not(:disabled)')];
  (event.shiftKey ? into[into.length - 1] : into[0]).focus();
}
