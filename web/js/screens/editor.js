// The editor screen: the open list's lines, their checks, save and discard.

import { UTF8 } from '../bytes.js';
import { isEdited, newRow, readDatabase } from '../format.js';
import { KEY_SIZE, storedKey } from '../protocol.js';
import { rowProblems } from '../checks.js';
import { dirty, readOnly, setOpen, show, state } from '../state.js';
import { saveList } from '../list.js';
import { $, enableListTabs, h, say } from '../ui.js';

// Shows the list `state.open` holds (after it was opened or saved).
export function showList() {
  enableListTabs(true);
  $('open-name').textContent = 'Open: ' + show(state.open.name);
  renderEditor();
}

export function closeList() {
  setOpen(null);
  enableListTabs(false);
  $('open-name').textContent = '';
}

const FIELD_LABELS = {
  factor: [['name', 'Name'], ['value', 'Factor']],
  price: [['description', 'Description'], ['price', 'Price']],
  trailing: [['text', 'Text']],
};
const SHORT = new Set(['value', 'price']);
const SECTIONS = [
  ['factors', 'factor', 'Factors', 'Add a factor', 'factor'],
  ['prices', 'price', 'Price lines', 'Add a price line', 'line'],
  ['trailing', 'trailing', 'Trailing lines', 'Add a trailing line', 'trailing line'],
];

// Shows a row's problems beside its fields.
function markRow(el, row) {
  const found = rowProblems(row, state.open.db);
  const edited = isEdited(row);
  for (const input of el.querySelectorAll('input[data-field]')) {
    const text = found[input.dataset.field] || '';
    const note = el.querySelector('#' + input.getAttribute('aria-describedby'));
    note.textContent = !text ? '' : edited ? text[0].toUpperCase() + text.slice(1) + '.' : 'In the file: ' + text + '.';
    note.className = 'problem' + (edited ? '' : ' warning');
    if (text && edited) input.setAttribute('aria-invalid', 'true');
    else input.removeAttribute('aria-invalid');
  }
  el.classList.toggle('edited', edited);
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
      updateDirty();
    },
  });
  return [input, h('p', { id: note, class: 'problem', 'aria-live': 'polite' })];
}

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
    return tr;
  });
  const head = h('tr', {}, fields.map(([field, label]) => h('th', { scope: 'col', class: SHORT.has(field) ? 'short' : null, text: label })), locked ? null : h('th', {}, h('span', { class: 'muted', text: 'Order' })));
  const add = locked ? null : h('button', { type: 'button', 'data-focus': `${list}-add`, onclick: () => {
    rows.push(newRow(kind));
    rerender(list, `${list}-${rows.length - 1}-${fields[0][0]}`);
  } }, addLabel);
  return h('div', { class: 'wide', id: 'section-' + list },
    h('table', {}, h('caption', { text: title }), h('thead', {}, head), h('tbody', {}, body)),
    rows.length ? null : h('p', { class: 'muted', text: 'None.' }),
    add ? h('p', {}, add) : null);
}

function rerender(list, focusId) {
  const section = SECTIONS.find((s) => s[0] === list);
  $('section-' + list).replaceWith(renderSection(section));
  document.querySelector(`[data-focus="${focusId}"]`)?.focus();
  updateDirty();
}

function singleField(row, label, id) {
  let wrap;
  const [input, note] = fieldInput(row, 'text', label, id, () => wrap);
  input.id = id;
  wrap = h('div', { class: 'single' }, h('label', { for: id, text: label }), input, note);
  markRow(wrap, row);
  return wrap;
}

function keyHelp() {
  const { db } = state.open;
  const key = storedKey(db.encoding.encode(db.key.text + '\n'));
  $('key-help').textContent = key && key.length
    ? `The key is “${db.encoding.decode(key)}”: the server uses at most the first ${KEY_SIZE} bytes of this line, less blanks at their end.`
    : 'This key line leaves no key.';
}

function renderEditor() {
  const { db, reasons, name } = state.open;
  $('editor-title').textContent = 'Editor: ' + show(name);
  const notes = [];
  if (reasons.length) notes.push(h('p', { class: 'note lock', text: 'Read-only: ' + reasons.join('; ') + '.' }));
  if (db.encoding !== UTF8) {
    notes.push(h('p', { class: 'note', text: 'This file is not UTF-8. The page shows it as Windows-1252 and writes your changes in it.' }));
  }
  for (const text of db.notes) notes.push(h('p', { class: 'note', text }));
  $('editor-notes').replaceChildren(...notes);
  const keyField = singleField(db.key, 'Key line', 'key-line');
  keyField.append(h('p', { id: 'key-help', class: 'muted' }));
  $('editor-body').replaceChildren(
    keyField,
    renderSection(SECTIONS[0]),
    h('h2', { text: 'Header lines' }),
    singleField(db.headerA, 'Header line A', 'header-a'),
    singleField(db.headerB, 'Header line B', 'header-b'),
    renderSection(SECTIONS[1]),
    renderSection(SECTIONS[2]));
  keyHelp();
  $('save').disabled = readOnly();
  $('discard').disabled = readOnly();
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
  $('dirty').textContent = (dirty() ? 'Unsaved changes. ' : 'No unsaved changes. ') +
    `${n} factor${n === 1 ? '' : 's'}, ${m} price line${m === 1 ? '' : 's'}.`;
}

async function save() {
  if (!state.open || readOnly()) return;
  if (await saveList()) renderEditor();
  else document.querySelector('#editor-body [aria-invalid="true"]')?.focus();
}

export function init() {
  $('save').addEventListener('click', save);
  $('discard').addEventListener('click', () => {
    if (!dirty() || confirm('Discard all unsaved changes?')) {
      state.open.db = readDatabase(state.open.file);
      renderEditor();
      say('ok', 'Changes discarded.');
    }
  });
  document.addEventListener('keydown', (event) => {
    if ((event.ctrlKey || event.metaKey) && event.key === 's' && state.open && !$('editor').hidden) {
      event.preventDefault();
      save();
    }
  });
}

// The price lines changed outside the table (an import, a paste, a change
// of many prices): show them again, the focus on `row`'s `field` if given.
export function pricesChanged(row, field = 'description') {
  renderEditor();
  const i = row ? state.open.db.prices.indexOf(row) : -1;
  if (i >= 0) document.querySelector(`[data-focus="prices-${i}-${field}"]`)?.focus();
}

export const screen = { enter() {} };
