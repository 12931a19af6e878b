// The editor screen: the open list's lines, their checks, save and discard.
//
// The price lines live in a windowed table (grid.js): only the rows in view
// are in the document. An edit changes its row and the counts; adding,
// removing or moving a line renders the rows in view again, no more. The
// other parts of a list are short and render whole.

import { UTF8 } from '../bytes.js';
import { isEdited, newRow, readDatabase } from '../format.js';
import { KEY_SIZE, storedKey } from '../protocol.js';
import { decimalCommaFix, placeholderRows, rowProblems } from '../checks.js';
import { ORDERS, sortRows, viewOf } from '../view.js';
import { Grid } from '../grid.js';
import { dirty, readOnly, setOpen, show, state, useDb } from '../state.js';
import { badRows, forget, saveBytes, saveList } from '../list.js';
import { $, enableListTabs, h, num, say } from '../ui.js';

// Shows the list `state.open` holds (after it was opened).
export function showList() {
  enableListTabs(true);
  $('open-name').textContent = 'Open: ' + show(state.open.name);
  view.query = '';
  view.order = 'file';
  renderEditor();
}

export function closeList() {
  setOpen(null);
  forget();
  enableListTabs(false);
  $('open-name').textContent = '';
  $('editor-body').replaceChildren();
  grid = null;
}

// The price lines' view: filter, order and the rows shown. Each price row
// knows its place in the list as `row.at` (placeRows).
const view = { query: '', order: 'file', rows: [] };
const lineOf = (row) => row.at;
let grid = null;

const FIELD_LABELS = {
  factor: [['name', 'Name'], ['value', 'Factor']],
  price: [['description', 'Description'], ['price', 'Price']],
  trailing: [['text', 'Note']],
};
const SHORT = new Set(['value', 'price']);
// The short parts: [part, kind, caption, add button, noun in labels].
const SECTIONS = {
  factors: ['factors', 'factor', 'Price factors', 'Add a factor', 'factor'],
  trailing: ['trailing', 'trailing', 'Notes after the prices', 'Add a note', 'note'],
};

const sentence = (text) => text[0].toUpperCase() + text.slice(1) + '.';

// What a row's check says, as the note beside a field: an error where the
// person edited the row, a warning where the file holds it so.
function noteText(text, edited) {
  return !text ? '' : edited ? sentence(text) : 'In the file: ' + text + '.';
}

// Shows a row's problems on its fields and returns them.
function markRow(el, row) {
  const found = rowProblems(row, state.open.db);
  const edited = isEdited(row);
  for (const input of el.querySelectorAll('input[data-field]')) {
    const text = found[input.dataset.field] || '';
    const note = el.querySelector('#' + input.getAttribute('aria-describedby'));
    if (note) {
      note.textContent = noteText(text, edited);
      note.classList.toggle('warning', !edited);
    }
    if (text && edited) input.setAttribute('aria-invalid', 'true');
    else input.removeAttribute('aria-invalid');
    input.classList.toggle('odd', !!text && !edited);
  }
  el.classList.toggle('edited', edited || !!row.moved);
  return found;
}

// The rendered rows of the short parts, [element, row], for remark().
let marked = [];

// After a save: every row shown is marked again, nothing rendered anew.
function remark() {
  marked = marked.filter(([el]) => el.isConnected);
  for (const [el, row] of marked) markRow(el, row);
  for (const tr of grid.rows) markPriceRow(tr, tr.row);
  renderChecks();
  updateDirty();
}

let uid = 0;
function fieldInput(row, field, label, focusId, el) {
  const note = 'p' + ++uid;
  const input = h('input', {
    value: row[field], 'aria-label': label, 'aria-describedby': note, 'data-field': field,
    'data-focus': focusId, spellcheck: 'false', autocomplete: 'off', readOnly: readOnly(),
    oninput: () => {
      row[field] = input.value;
      markRow(el(), row);
      if (field === 'text' && row.kind === 'key') keyHelp();
      // A new name may end or start a clash with a later factor's.
      if (row.kind === 'factor') state.open.db.factors.forEach((f, i) => markRow(document.querySelector(`[data-row="factors-${i}"]`), f));
      if (row.kind === 'header') renderPlaceholders();
      updateDirty();
    },
  });
  return [input, h('p', { id: note, class: 'problem', 'aria-live': 'polite' })];
}

// A short part of the list, rendered whole.
function renderSection([list, kind, title, addLabel, noun]) {
  const rows = state.open.db[list];
  const locked = readOnly();
  const fields = FIELD_LABELS[kind];
  const move = (i, to, focusField) => {
    // An arrow button that moved its row to the end of the list is disabled
    // there and cannot hold the focus: the other arrow takes it.
    if (focusField === 'up' && to === 0) focusField = 'down';
    if (focusField === 'down' && to === rows.length - 1) focusField = 'up';
    const [row] = rows.splice(i, 1);
    rows.splice(to, 0, row);
    row.moved = true;
    rerender(list, `${list}-${to}-${focusField}`);
  };
  const body = rows.map((row, i) => {
    const n = i + 1;
    const tr = h('tr', { 'data-row': `${list}-${i}` });
    const cells = fields.map(([field, label]) => h('td', { class: SHORT.has(field) ? 'short' : null }, fieldInput(row, field, `${label}, ${noun} ${n}`, `${list}-${i}-${field}`, () => tr)));
    const actions = locked ? null : h('td', { class: 'actions' },
      h('button', { type: 'button', class: 'icon', disabled: i === 0, 'aria-label': `Move ${noun} ${n} up`, title: 'Move up (Alt+↑)', 'data-focus': `${list}-${i}-up`, onclick: () => move(i, i - 1, 'up') }, '↑'),
      h('button', { type: 'button', class: 'icon', disabled: i === rows.length - 1, 'aria-label': `Move ${noun} ${n} down`, title: 'Move down (Alt+↓)', 'data-focus': `${list}-${i}-down`, onclick: () => move(i, i + 1, 'down') }, '↓'),
      h('button', { type: 'button', class: 'icon', 'aria-label': `Remove ${noun} ${n}`, title: 'Remove', 'data-focus': `${list}-${i}-remove`, onclick: () => {
        rows.splice(i, 1);
        rerender(list, rows.length ? `${list}-${Math.min(i, rows.length - 1)}-remove` : `${list}-add`);
      } }, '✕'));
    tr.append(...cells, actions || '');
    tr.addEventListener('keydown', (event) => {
      if (locked || !event.altKey || (event.key !== 'ArrowUp' && event.key !== 'ArrowDown')) return;
      const to = event.key === 'ArrowUp' ? i - 1 : i + 1;
      if (to < 0 || to >= rows.length) return;
      event.preventDefault();
      move(i, to, event.target.dataset.field || event.target.dataset.focus.split('-').pop());
    });
    markRow(tr, row);
    marked.push([tr, row]);
    return tr;
  });
  const head = h('tr', {}, fields.map(([field, label]) => h('th', { scope: 'col', class: SHORT.has(field) ? 'short' : null, text: label })), locked ? null : h('th', {}, h('span', { class: 'muted', text: 'Order' })));
  const add = locked ? null : h('button', { type: 'button', 'data-focus': `${list}-add`, onclick: () => {
    rows.push(newRow(kind));
    rerender(list, `${list}-${rows.length - 1}-${fields[0][0]}`);
  } }, addLabel);
  const parts = [h('table', {}, h('caption', { text: title }), h('thead', {}, head), h('tbody', {}, body)),
    rows.length ? null : h('p', { class: 'muted', text: 'None.' }),
    add ? h('p', {}, add) : null];
  // Many factors would push the price lines out of view: they fold away.
  if (list === 'factors' && rows.length > FOLD) {
    const details = h('details', { class: 'fold', ontoggle: () => { factorsOpen = details.open; } },
      h('summary', { text: `${title} (${rows.length})` }), ...parts);
    details.open = factorsOpen;
    return h('div', { class: 'wide', id: 'section-' + list }, details);
  }
  return h('div', { class: 'wide', id: 'section-' + list }, ...parts);
}
const FOLD = 8;
let factorsOpen = false;

function rerender(list, focusId) {
  $('section-' + list).replaceWith(renderSection(SECTIONS[list]));
  document.querySelector(`[data-focus="${focusId}"]`)?.focus();
  if (list === 'trailing') renderPlaceholders();
  updateDirty();
}

function singleField(row, label, id) {
  let wrap;
  const [input, note] = fieldInput(row, 'text', label, id, () => wrap);
  input.id = id;
  wrap = h('div', { class: 'single' }, h('label', { for: id, text: label }), input, note);
  markRow(wrap, row);
  marked.push([wrap, row]);
  return wrap;
}

function keyHelp() {
  const { db } = state.open;
  const key = storedKey(db.encoding.encode(db.key.text + '\n'));
  $('key-help').textContent = key && key.length
    ? `The key is “${db.encoding.decode(key)}”: the server uses at most the first ${KEY_SIZE} bytes of this line, less blanks at their end.`
    : 'This key line leaves no key.';
}

// The lines create writes, shown as what they are, with a way to clear them.
function renderPlaceholders() {
  const box = $('placeholders');
  if (!box) return;
  const { db } = state.open;
  const rows = readOnly() ? [] : placeholderRows(db);
  for (const [row, id] of [[db.headerA, 'header-a'], [db.headerB, 'header-b']]) {
    $(id).classList.toggle('placeholder', rows.includes(row));
  }
  if (!rows.length) return box.replaceChildren();
  const notes = rows.filter((row) => row.kind === 'trailing').length;
  box.replaceChildren(h('p', { class: 'note' },
    'This list still has the placeholder lines a new list starts with (title “0”, second title “""”' +
    (notes ? `, ${notes} note${notes === 1 ? '' : 's'} “0” after the prices` : '') +
    '). They mean nothing to a customer. ',
    h('button', { type: 'button', id: 'clear-placeholders', onclick: clearPlaceholders }, 'Clear the placeholders')));
}

function clearPlaceholders() {
  const { db } = state.open;
  for (const row of placeholderRows(db)) {
    if (row.kind === 'trailing') db.trailing.splice(db.trailing.indexOf(row), 1);
    else row.text = '';
  }
  renderEditor();
  $('header-a').focus();
  say('ok', 'Placeholders cleared: the title lines are empty and the notes “0” are gone. Save to keep it.');
}

// The price lines: a filter, an order, the windowed table and its checks.
function renderPrices() {
  const locked = readOnly();
  // Enter in the find box goes to the price of the first line found.
  const filter = h('input', {
    id: 'price-filter', type: 'search', value: view.query, placeholder: 'Description or price',
    spellcheck: 'false', autocomplete: 'off', 'aria-describedby': 'price-count',
    oninput: () => { view.query = filter.value; reView(); },
    onkeydown: (event) => {
      if (event.key !== 'Enter' || !view.rows.length) return;
      event.preventDefault();
      focusRow(0, 'price');
    },
  });
  const order = h('select', { id: 'price-order', onchange: () => { view.order = order.value; reView(); } },
    Object.entries(ORDERS).map(([value, text]) => h('option', { value, text, selected: value === view.order })));
  const sortList = locked ? null : h('button', {
    type: 'button', id: 'sort-list', disabled: view.order === 'file', onclick: sortTheList,
    title: 'Reorder the price lines in the list itself, as shown',
  }, 'Sort the list this way');
  const tbody = h('tbody', {});
  const scroller = h('div', { class: 'grid', id: 'price-grid', tabindex: '-1' },
    h('table', { class: 'grid-table', 'aria-label': 'Price lines' },
      h('colgroup', {}, h('col', { class: 'c-line' }), h('col', {}), h('col', { class: 'c-price' }), locked ? null : h('col', { class: 'c-actions' })),
      h('thead', {}, h('tr', {},
        h('th', { scope: 'col', class: 'num', text: 'Line' }), h('th', { scope: 'col', text: 'Description' }),
        h('th', { scope: 'col', text: 'Price' }), locked ? null : h('th', { scope: 'col' }, h('span', { class: 'muted', text: 'Order' })))),
      tbody));
  tbody.addEventListener('input', onPriceInput);
  tbody.addEventListener('keydown', onPriceKey);
  tbody.addEventListener('click', onPriceClick);
  const add = locked ? null : h('button', { type: 'button', 'data-focus': 'prices-add', onclick: () => addPrice(state.open.db.prices.length) }, 'Add a price line');
  // The find box comes last, so that Tab goes from it into the lines found.
  const section = h('div', { id: 'section-prices' },
    h('div', { class: 'toolbar' },
      h('h2', { text: 'Price lines' }),
      h('div', {}, h('label', { for: 'price-order', text: 'Show' }), order),
      sortList,
      h('div', { class: 'find' }, h('label', { for: 'price-filter' }, 'Find a price line ', h('span', { class: 'muted', text: '(Ctrl+F)' })), filter)),
    h('p', { id: 'price-count', class: 'muted', 'aria-live': 'polite' }),
    scroller,
    add ? h('p', {}, add) : null,
    h('div', { id: 'price-checks' }));
  placeRows();
  computeView();
  return [section, () => {
    grid = new Grid(scroller, tbody, { rowHeight: 41, count: () => view.rows.length, render: priceRow });
    showCount();
    // The checks of every line wait until the list is on screen.
    const db = state.open.db;
    checks.clear();
    checksFound = false;
    requestAnimationFrame(() => setTimeout(() => {
      if (state.open?.db !== db) return;
      findChecks();
      renderChecks();
    }));
  }];
}

function computeView() {
  const { db } = state.open;
  view.rows = viewOf(db.prices, view, (text) => db.encoding.encode(text));
}
// Each row's place in the list, for its line number and label, from list
// position `from` on (where rows were added, removed or moved).
function placeRows(from = 0) {
  const { prices } = state.open.db;
  for (let i = from; i < prices.length; i++) prices[i].at = i;
}

// A new filter or order: the view starts at its top. Everything is written
// before the scroll, which lays the page out once; nothing is read before.
function reView() {
  computeView();
  $('sort-list') && ($('sort-list').disabled = view.order === 'file');
  grid.refresh(0, 0);
  showCount();
  $('price-grid').scrollTop = 0;
}

function showCount() {
  const all = state.open.db.prices.length;
  const shown = view.rows.length;
  $('price-count').textContent = shown === all
    ? `${num(all)} price line${all === 1 ? '' : 's'}.`
    : `Showing ${num(shown)} of ${num(all)} price lines.`;
}

// One row of the price table, for view position `p`: a new <tr>, or `tr`
// (a row the table no longer shows) filled again. A row filled again keeps
// its elements; only what differs from the row it showed before is written.
function priceRow(p, tr = null) {
  const locked = readOnly();
  if (!tr) {
    tr = document.createElement('tr');
    tr.className = 'row';
    const cells = [h('td', { class: 'num line' })];
    tr.fields = [];
    for (const [field, label] of FIELD_LABELS.price) {
      const input = h('input', { 'data-field': field, spellcheck: 'false', autocomplete: 'off', readOnly: locked });
      const note = h('span', { class: 'sr-only' });
      tr.fields.push({ field, label, input, note, shown: null });
      cells.push(h('td', {}, input, note));
    }
    if (!locked) {
      tr.buttons = [
        h('button', { type: 'button', class: 'icon', 'data-act': 'up', title: 'Move up (Alt+↑)' }, '↑'),
        h('button', { type: 'button', class: 'icon', 'data-act': 'down', title: 'Move down (Alt+↓)' }, '↓'),
        h('button', { type: 'button', class: 'icon', 'data-act': 'remove', title: 'Remove' }, '✕')];
      cells.push(h('td', { class: 'actions' }, ...tr.buttons));
    }
    tr.append(...cells);
  }
  const row = view.rows[p];
  const n = lineOf(row) + 1;
  tr.row = row;
  if (tr.p !== p) {
    tr.p = p;
    tr.dataset.p = p;
    tr.setAttribute('aria-rowindex', String(p + 2));
  }
  if (tr.line !== n) {
    tr.line = n;
    tr.firstChild.textContent = String(n);
    for (const { field, label, input, note } of tr.fields) {
      const id = `pn-${n}-${field}`;
      input.setAttribute('aria-label', `${label}, line ${n}`);
      input.setAttribute('aria-describedby', id);
      input.dataset.focus = `prices-${n - 1}-${field}`;
      note.id = id;
    }
    if (!locked) {
      const [up, down, remove] = tr.buttons;
      up.setAttribute('aria-label', `Move line ${n} up`);
      down.setAttribute('aria-label', `Move line ${n} down`);
      remove.setAttribute('aria-label', `Remove line ${n}`);
    }
  }
  for (const f of tr.fields) if (f.input.value !== row[f.field]) f.input.value = row[f.field];
  if (!locked) {
    const ordered = view.order === 'file';
    tr.buttons[0].disabled = p === 0 || !ordered;
    tr.buttons[1].disabled = p === view.rows.length - 1 || !ordered;
  }
  markPriceRow(tr, row);
  return tr;
}

// markRow for a row of the price table, writing only what changes. A line
// the file holds has the problems found for it (checks), kept up to date
// edit by edit; a new line's are found here.
function markPriceRow(tr, row, found = checksFound && row.orig !== null ? checks.get(row) || NONE : rowProblems(row, state.open.db)) {
  const edited = isEdited(row);
  for (const f of tr.fields) {
    const text = found[f.field] || '';
    const shown = text + (edited ? '\u0001' : '\u0002');
    if (f.shown === shown) continue;
    f.shown = shown;
    f.note.textContent = noteText(text, edited);
    f.note.classList.toggle('warning', !edited);
    if (text && edited) f.input.setAttribute('aria-invalid', 'true');
    else f.input.removeAttribute('aria-invalid');
    f.input.classList.toggle('odd', !!text && !edited);
  }
  tr.classList.toggle('edited', edited || !!row.moved);
  return found;
}
const NONE = {};

// The problems of price lines, found once and kept up to date edit by edit.
const checks = new Map();  // row -> { field: text }
let checksFound = false;   // checks holds every line's problems
function findChecks() {
  checks.clear();
  checksFound = true;
  const { db } = state.open;
  for (const row of db.prices) {
    const found = rowProblems(row, db);
    if (found.description || found.price) checks.set(row, found);
  }
}
function recheck(row, found) {
  const had = checks.has(row);
  if (found.description || found.price) checks.set(row, found);
  else checks.delete(row);
  if (had || checks.has(row)) renderChecks();
}

const SHOWN_CHECKS = 20;
function renderChecks() {
  const box = $('price-checks');
  if (!box) return;
  const rows = [...checks.keys()];
  if (!rows.length) return box.replaceChildren();
  rows.sort((a, b) => (isEdited(b) - isEdited(a)) || lineOf(a) - lineOf(b));
  const commas = readOnly() ? [] : rows.filter((row) => decimalCommaFix(row.price) !== null);
  const items = rows.slice(0, SHOWN_CHECKS).map((row) => {
    const n = lineOf(row) + 1;
    const found = checks.get(row);
    const fix = readOnly() ? null : decimalCommaFix(row.price);
    const what = ['description', 'price'].filter((f) => found[f]).map((f) => noteText(found[f], isEdited(row))).join(' ');
    return h('li', { class: isEdited(row) ? 'problem' : 'problem warning' },
      h('button', { type: 'button', class: 'link', onclick: () => goTo(row, found.price ? 'price' : 'description') },
        `Line ${n}${row.description ? ` “${row.description}”` : ''}`), ': ', what, ' ',
      fix !== null ? h('button', { type: 'button', onclick: () => setPrice(row, fix) }, `Use ${fix.trim()}`) : null);
  });
  box.replaceChildren(h('h3', { text: `${num(rows.length)} price line${rows.length === 1 ? '' : 's'} to look at` }),
    commas.length > 1 ? h('p', {}, h('button', { type: 'button', onclick: () => commas.forEach((row) => setPrice(row, decimalCommaFix(row.price), true)) },
      `Write all ${num(commas.length)} decimal commas as points`)) : null,
    h('ul', {}, items),
    rows.length > SHOWN_CHECKS ? h('p', { class: 'muted', text: `And ${num(rows.length - SHOWN_CHECKS)} more.` }) : null);
}

// A price set by a button (the decimal comma fix), as if typed.
function setPrice(row, text, quiet) {
  row.price = text;
  const p = view.rows.indexOf(row);
  const tr = grid.rowAt(p);
  const found = rowProblems(row, state.open.db);
  if (tr) {
    tr.querySelector('[data-field="price"]').value = text;
    markPriceRow(tr, row, found);
  }
  recheck(row, found);
  updateDirty();
  if (!quiet) goTo(row, 'price');
}

function goTo(row, field) {
  const p = view.rows.indexOf(row);
  if (p < 0) return;
  grid.reveal(p)?.querySelector(`[data-field="${field}"]`)?.focus();
}

// Focus on `field` ('description', 'price', or a button's act) of view row p.
function focusRow(p, field) {
  const tr = grid.reveal(Math.max(0, Math.min(p, view.rows.length - 1)));
  if (!tr) return $('section-prices').querySelector('[data-focus="prices-add"]')?.focus();
  let el = tr.querySelector(`[data-field="${field}"], [data-act="${field}"]`);
  if (el?.disabled) el = tr.querySelector(`[data-act="${field === 'up' ? 'down' : 'up'}"]`);
  (el && !el.disabled ? el : tr.querySelector('input')).focus();
}

function onPriceInput(event) {
  const input = event.target;
  const tr = input.closest('tr');
  const row = tr.row;
  row[input.dataset.field] = input.value;
  const found = rowProblems(row, state.open.db);
  markPriceRow(tr, row, found);
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
  grid.refresh(p - 1);
  showCount();
  focusRow(view.rows.indexOf(row), 'description');
  updateDirty();
}

function removePrice(p) {
  const { db } = state.open;
  const row = view.rows[p];
  const at = lineOf(row);
  db.prices.splice(at, 1);
  if (view.rows !== db.prices) view.rows.splice(p, 1);
  if (checks.delete(row)) renderChecks();
  placeRows(at);
  grid.refresh(p - 1);
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
  const i = lineOf(a);
  const j = lineOf(b);
  db.prices[i] = b;
  db.prices[j] = a;
  if (view.rows !== db.prices) [view.rows[p], view.rows[q]] = [b, a];
  a.moved = b.moved = true;
  a.at = j;
  b.at = i;
  grid.refresh(Math.min(p, q) - 1);
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
  const order = ORDERS[view.order];
  view.order = 'file';
  $('price-order').value = 'file';
  reView();
  renderChecks();
  updateDirty();
  say('ok', `Sorted the price lines ${order}: ${num(moved)} moved. Save to keep the new order.`);
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
  const tr = el.closest('tr');
  if (!tr?.row) return;
  const p = Number(tr.dataset.p);
  const field = el.dataset.field || el.dataset.act;
  const locked = readOnly();
  if (event.altKey && (event.key === 'ArrowUp' || event.key === 'ArrowDown')) {
    if (locked) return;
    event.preventDefault();
    movePrice(p, event.key === 'ArrowUp' ? -1 : 1, field);
  } else if (event.key === 'Enter' && el.dataset.field && !locked) {
    // Enter in a price line starts a new line below it.
    event.preventDefault();
    addPrice(lineOf(tr.row) + 1, p + 1);
  } else if ((event.key === 'ArrowUp' || event.key === 'ArrowDown') && el.dataset.field && !event.shiftKey) {
    const q = p + (event.key === 'ArrowUp' ? -1 : 1);
    if (q < 0 || q >= view.rows.length) return;
    event.preventDefault();
    focusRow(q, field);
  } else if (event.key === 'Tab') {
    // The next row may not be in the document yet: Tab goes there anyway.
    const controls = [...tr.querySelectorAll('input, button:not(:disabled)')];
    const q = event.shiftKey ? p - 1 : p + 1;
    const edge = event.shiftKey ? controls[0] : controls[controls.length - 1];
    if (el !== edge || q < 0 || q >= view.rows.length || grid.rowAt(q)) return;
    event.preventDefault();
    const next = grid.reveal(q);
    const into = [...next.querySelectorAll('input, button:not(:disabled)')];
    (event.shiftKey ? into[into.length - 1] : into[0]).focus();
  }
}

export function renderEditor() {
  const { db, reasons, name } = state.open;
  $('editor-title').textContent = 'Editor: ' + show(name);
  const notes = [];
  if (reasons.length) notes.push(h('p', { class: 'note lock', text: 'Read-only: ' + reasons.join('; ') + '.' }));
  if (db.encoding !== UTF8) {
    notes.push(h('p', { class: 'note', text: 'This file is not UTF-8. The page shows it as Windows-1252 and writes your changes in it.' }));
  }
  for (const text of db.notes) notes.push(h('p', { class: 'note', text }));
  $('editor-notes').replaceChildren(...notes);
  marked = [];
  const keyField = singleField(db.key, 'Key line', 'key-line');
  keyField.append(h('p', { id: 'key-help', class: 'muted small' }));
  const [prices, mount] = renderPrices();
  // The key and the title lines share a row, so that the price lines start
  // high on the screen.
  $('editor-body').replaceChildren(
    h('div', { class: 'heads' }, keyField,
      singleField(db.headerA, 'Title line 1', 'header-a'),
      singleField(db.headerB, 'Title line 2', 'header-b')),
    h('div', { id: 'placeholders' }),
    renderSection(SECTIONS.factors),
    prices,
    renderSection(SECTIONS.trailing));
  mount();
  keyHelp();
  renderPlaceholders();
  $('save').disabled = readOnly();
  $('discard').disabled = readOnly();
  $('undo').hidden = readOnly() || !state.open.undo;
  updateDirty();
}

function updateDirty() {
  if (!state.open || readOnly()) {
    $('dirty').textContent = state.open ? 'Read-only.' : '';
    return;
  }
  const { db } = state.open;
  const m = db.prices.length;
  const n = db.factors.length;
  // The bar stays in view, the message line may not: it says "Saved" too.
  const changed = dirty();
  const saved = !changed && savedFile === state.open.file;
  $('dirty').textContent = (saved ? 'Saved. ' : '') + (changed ? 'Unsaved changes. ' : 'No unsaved changes. ') +
    `${n} factor${n === 1 ? '' : 's'}, ${num(m)} price line${m === 1 ? '' : 's'}.`;
  $('dirty').classList.toggle('saved', saved);
}
let savedFile = null;  // the file the last save here wrote

// Where the focus is, as a place that outlives a render: a price line's
// field by the line's place in the list, or another element's data-focus.
function focusPlace() {
  const el = document.activeElement;
  const tr = el?.closest?.('#price-grid tr');
  if (tr?.row) return { line: lineOf(tr.row), field: el.dataset.field || el.dataset.act, top: $('price-grid').scrollTop };
  return { focus: el?.dataset?.focus || el?.id, top: $('price-grid')?.scrollTop };
}
function restoreFocus(place) {
  if (place.top != null && $('price-grid')) {
    $('price-grid').scrollTop = place.top;
    grid.update();
  }
  if (place.line != null) {
    const row = state.open.db.prices[Math.min(place.line, state.open.db.prices.length - 1)];
    const p = view.rows.indexOf(row);
    if (p >= 0) return focusRow(p, place.field);
  }
  const el = place.focus && (document.querySelector(`[data-focus="${place.focus}"]`) || $(place.focus));
  el?.focus();
}

// Runs a save; where someone else changed the same lines, asks which to
// keep, and saves once the person has chosen (or nothing, on cancel).
export async function saved(result) {
  while (result?.conflict) {
    const { merge, base, slipped } = result.conflict;
    const { showMerge } = await import('../merge_dialog.js');
    const picks = await showMerge(merge, slipped);
    if (!picks) {
      say('refused', slipped
        ? 'Your save is in, and the one that came at the same moment is in the history: nothing more was saved.'
        : 'Not saved: the lines someone else changed are still to be chosen.');
      return false;
    }
    result = await saveBytes(merge.choose(picks), base);
  }
  return result;
}

// The check that runs after "Saved" (see saveBytes), followed until it is
// done: a save that slipped in is merged, and where it changed the same lines,
// chosen in the merge dialog. Resolves with the last save's result, or null
// when a later save or another list took over.
export async function settled(result) {
  for (;;) {
    const open = state.open;
    const check = result === true ? open.checked : null;
    if (!check) return result;
    const after = await check;
    if (after === null || state.open !== open) return null;
    if (after === true) return true;
    result = await saved(after);
  }
}

// The editor once a save answered: the rows on screen are the saved ones,
// unless a merge brought others.
function shown(rows, place) {
  savedFile = state.open.file;
  if (state.open.db === rows) {
    remark();
    $('undo').hidden = !state.open.undo;
  } else {
    renderEditor();
    restoreFocus(place);
  }
}

async function save() {
  if (!state.open || readOnly()) return;
  const place = focusPlace();
  const rows = state.open.db;
  const result = await saved(await saveList());
  if (result) {
    shown(rows, place);
    const { db } = state.open;
    const open = state.open;
    if (await settled(result) && state.open === open) shown(db, focusPlace());
    return;
  }
  if (!badRows().length) return;
  // The first edited line that stops the save.
  const bad = badRows();
  const price = bad.find((row) => row.kind === 'price');
  if (price && (!bad.length || bad[0] === price)) {
    const found = rowProblems(price, state.open.db);
    if (view.rows.indexOf(price) < 0) {
      view.query = '';
      $('price-filter').value = '';
      reView();
    }
    goTo(price, found.description ? 'description' : 'price');
  } else {
    document.querySelector('#editor-body [aria-invalid="true"]')?.focus();
  }
}

// Puts back what the last save replaced, keeping what others saved since.
async function undo() {
  const { undo: was } = state.open;
  if (!was || (dirty() && !confirm('Undo the save and drop the unsaved changes?'))) return;
  if (await settled(await saved(await saveBytes(was.file, state.open.file)))) {
    state.open.undo = null;
    renderEditor();
    say('ok', `Undone: “${show(state.open.name)}” is as it was before that save, which is kept in the history.`);
  }
}

export function init() {
  $('save').addEventListener('click', save);
  $('undo').addEventListener('click', undo);
  $('discard').addEventListener('click', () => {
    if (!dirty() || confirm('Discard all unsaved changes?')) {
      const place = focusPlace();
      useDb(state.open, readDatabase(state.open.file));
      renderEditor();
      restoreFocus(place);
      say('ok', 'Changes discarded.');
    }
  });
  document.addEventListener('keydown', (event) => {
    if (!(event.ctrlKey || event.metaKey) || !state.open || $('editor').hidden) return;
    if (event.key === 's') {
      event.preventDefault();
      save();
    } else if (event.key === 'f' && document.activeElement !== $('price-filter')) {
      // The browser's own find sees only the lines in view, and no text in
      // fields: Ctrl+F finds in the whole list. Pressed again, it is the
      // browser's.
      event.preventDefault();
      $('price-filter').focus();
      $('price-filter').select();
    }
  });
}

// The price lines changed outside the table (an import, a paste, a change
// of many prices): the table shows them again. `added` rows stay in view
// after `after` even where the filter would hide them; the focus goes to
// `focus`'s `field`.
export function pricesChanged({ added = [], after = null, focus = null, field = 'description' } = {}) {
  placeRows();
  computeView();
  if (view.rows !== state.open.db.prices && added.length) {
    const shown = new Set(view.rows);
    const hidden = added.filter((row) => !shown.has(row));
    view.rows.splice(after ? view.rows.indexOf(after) + 1 : view.rows.length, 0, ...hidden);
  }
  findChecks();  // before the rows in view are marked from them
  grid.refresh();
  showCount();
  renderChecks();
  updateDirty();
  if (focus) goTo(focus, field);
}

// The price lines in the order the table shows them, as filtered.
export const shownPrices = () => view.rows;

export const screen = { enter() {} };
