// The editor's page: the notes above, the key and title lines, the factors
// and the notes after the prices (short parts, each rendered whole), and the
// price lines between them (prices.js).

import { UTF8 } from '../bytes.js';
import { newRow } from '../format.js';
import { KEY_SIZE, storedKey } from '../protocol.js';
import { placeholderRows, serverFactorName } from '../checks.js';
import { readOnly, show, state } from '../state.js';
import { $, h, say } from '../ui.js';
import { markRow, marked, updateDirty } from './marks.js';
import { renderPrices } from './prices.js';
import { tr } from '../i18n.js';

// The short parts: [part, kind, caption, add button, label of a row's
// field (with its number), and of its moves and removal], and their
// fields, [field, label]; in the person's words once those are read.
const SECTIONS = {
  factors: () => ['factors', 'factor', tr('Price factors'), tr('Add a factor'), {
    up: (n) => tr('Move factor {{n}} up', { n }), down: (n) => tr('Move factor {{n}} down', { n }),
    remove: (n) => tr('Remove factor {{n}}', { n }), field: (label, n) => tr('{{label}}, factor {{n}}', { label, n }),
  }],
  trailing: () => ['trailing', 'trailing', tr('Notes after the prices'), tr('Add a note'), {
    up: (n) => tr('Move note {{n}} up', { n }), down: (n) => tr('Move note {{n}} down', { n }),
    remove: (n) => tr('Remove note {{n}}', { n }), field: (label, n) => tr('{{label}}, note {{n}}', { label, n }),
  }],
};
const FIELDS = {
  factor: () => [['name', tr('Name')], ['value', tr('Factor')]],
  trailing: () => [['text', tr('Note')]],
};
const SHORT = new Set(['value']);
// Many factors would push the price lines out of view: they fold away.
const FOLD = 8;

// A field of a row of a short part, and the note that says its problems.
// `focusId` names it for the focus to come back to after a render; `el`
// gives the element that holds the row's fields.
function fieldInput(row, field, label, focusId, el) {
  const note = 'note-' + focusId;
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
      if (rename) offerRename(rename, row);
      updateDirty();
    },
  });
  // A factor name the server cannot read whole gets a button that renames
  // it to one it can.
  const rename = row.kind === 'factor' && field === 'name' && !readOnly() ? h('button', {
    type: 'button', class: 'rename', onclick: () => {
      row.name = rename.dataset.rename;
      input.value = row.name;
      input.dispatchEvent(new Event('input'));
      input.focus();
    },
  }) : null;
  if (rename) offerRename(rename, row);
  return [input, h('p', { id: note, class: 'problem', 'aria-live': 'polite' }), rename];
}

function offerRename(button, row) {
  const name = /[^\x21-\x7e]/.test(row.name) ? serverFactorName(row.name) : '';
  button.hidden = !name || name === row.name;
  button.dataset.rename = name;
  button.textContent = tr('Rename to “{{name}}”', { name });
}

// A short part of the list, rendered whole.
function renderSection([list, kind, title, addLabel, noun]) {
  const rows = state.open.db[list];
  const locked = readOnly();
  const fields = FIELDS[kind]();
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
    const rowEl = h('tr', { 'data-row': `${list}-${i}` });
    const cells = fields.map(([field, label]) => h('td', { class: SHORT.has(field) ? 'short' : null }, fieldInput(row, field, noun.field(label, n), `${list}-${i}-${field}`, () => rowEl)));
    const actions = locked ? null : h('td', { class: 'actions' },
      h('button', { type: 'button', class: 'icon', disabled: i === 0, 'aria-label': noun.up(n), title: tr('Move up (Alt+↑)'), 'data-focus': `${list}-${i}-up`, onclick: () => move(i, i - 1, 'up') }, '↑'),
      h('button', { type: 'button', class: 'icon', disabled: i === rows.length - 1, 'aria-label': noun.down(n), title: tr('Move down (Alt+↓)'), 'data-focus': `${list}-${i}-down`, onclick: () => move(i, i + 1, 'down') }, '↓'),
      h('button', { type: 'button', class: 'icon', 'aria-label': noun.remove(n), title: tr('Remove'), 'data-focus': `${list}-${i}-remove`, onclick: () => {
        rows.splice(i, 1);
        rerender(list, rows.length ? `${list}-${Math.min(i, rows.length - 1)}-remove` : `${list}-add`);
      } }, '✕'));
    rowEl.append(...cells, actions || '');
    rowEl.addEventListener('keydown', (event) => {
      if (locked || !event.altKey || (event.key !== 'ArrowUp' && event.key !== 'ArrowDown')) return;
      const to = event.key === 'ArrowUp' ? i - 1 : i + 1;
      if (to < 0 || to >= rows.length) return;
      event.preventDefault();
      move(i, to, event.target.dataset.field || event.target.dataset.focus.split('-').pop());
    });
    return marked(rowEl, row);
  });
  const head = h('tr', {}, fields.map(([field, label]) => h('th', { scope: 'col', class: SHORT.has(field) ? 'short' : null, text: label })), locked ? null : h('th', {}, h('span', { class: 'muted', text: tr('Order') })));
  const add = locked ? null : h('button', { type: 'button', 'data-focus': `${list}-add`, onclick: () => {
    rows.push(newRow(kind));
    rerender(list, `${list}-${rows.length - 1}-${fields[0][0]}`);
  } }, addLabel);
  const parts = [h('table', {}, h('caption', { text: title }), h('thead', {}, head), h('tbody', {}, body)),
    rows.length ? null : h('p', { class: 'muted', text: tr('None.') }),
    add ? h('p', {}, add) : null];
  if (list === 'factors' && rows.length > FOLD) {
    const details = h('details', { class: 'fold', ontoggle: () => { state.editor.factorsOpen = details.open; } },
      h('summary', { text: `${title} (${rows.length})` }), ...parts);
    details.open = state.editor.factorsOpen;
    return h('div', { class: 'wide', id: 'section-' + list }, details);
  }
  return h('div', { class: 'wide', id: 'section-' + list }, ...parts);
}

function rerender(list, focusId) {
  $('section-' + list).replaceWith(renderSection(SECTIONS[list]()));
  document.querySelector(`[data-focus="${focusId}"]`)?.focus();
  if (list === 'trailing') renderPlaceholders();
  updateDirty();
}

// The key line or a title line: one field with its label.
function singleField(row, label, id) {
  let wrap;
  const [input, note] = fieldInput(row, 'text', label, id, () => wrap);
  input.id = id;
  wrap = h('div', { class: 'single' }, h('label', { for: id, text: label }), input, note);
  return marked(wrap, row);
}

function keyHelp() {
  const { db } = state.open;
  const key = storedKey(db.encoding.encode(db.key.text + '\n'));
  $('key-help').textContent = key && key.length
    ? tr('The key is “{{key}}”: the server uses at most the first {{size}} bytes of this line, less blanks at their end.', { key: db.encoding.decode(key), size: KEY_SIZE })
    : tr('This key line leaves no key.');
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
    (notes ? tr(['This list still has the placeholder lines a new list starts with (title “0”, second title “""”, {{count}} note “0” after the prices). They mean nothing to a customer.',
      'This list still has the placeholder lines a new list starts with (title “0”, second title “""”, {{count}} notes “0” after the prices). They mean nothing to a customer.'], { count: notes })
      : tr('This list still has the placeholder lines a new list starts with (title “0”, second title “""”). They mean nothing to a customer.')) + ' ',
    h('button', { type: 'button', id: 'clear-placeholders', onclick: clearPlaceholders }, tr('Clear the placeholders'))));
}

function clearPlaceholders() {
  const { db } = state.open;
  for (const row of placeholderRows(db)) {
    if (row.kind === 'trailing') db.trailing.splice(db.trailing.indexOf(row), 1);
    else row.text = '';
  }
  renderEditor();
  $('header-a').focus();
  say('ok', tr('Placeholders cleared: the title lines are empty and the notes “0” are gone. Save to keep it.'));
}

// The whole editor, for the list `state.open` holds.
export function renderEditor() {
  const { db, reasons, name } = state.open;
  $('editor-title').textContent = tr('Editor: {{name}}', { name: show(name) });
  const notes = [];
  if (reasons.length) notes.push(h('p', { class: 'note lock', text: tr('Read-only: {{reasons}}.', { reasons: reasons.join('; ') }) }));
  if (db.encoding !== UTF8) {
    notes.push(h('p', { class: 'note', text: tr('This file is not UTF-8. The page shows it as Windows-1252 and writes your changes in it.') }));
  }
  for (const text of db.notes) notes.push(h('p', { class: 'note', text }));
  $('editor-notes').replaceChildren(...notes);
  const keyField = singleField(db.key, tr('Key line'), 'key-line');
  keyField.append(h('p', { id: 'key-help', class: 'muted small' }));
  const [prices, mount] = renderPrices();
  // The key and the title lines share a row, so that the price lines start
  // high on the screen.
  $('editor-body').replaceChildren(
    h('div', { class: 'heads' }, keyField,
      singleField(db.headerA, tr('Title line 1'), 'header-a'),
      singleField(db.headerB, tr('Title line 2'), 'header-b')),
    h('div', { id: 'placeholders' }),
    renderSection(SECTIONS.factors()),
    prices,
    renderSection(SECTIONS.trailing()));
  mount();
  keyHelp();
  renderPlaceholders();
  $('save').disabled = readOnly();
  $('discard').disabled = readOnly();
  $('undo').hidden = readOnly() || !state.open.undo;
  updateDirty();
}
