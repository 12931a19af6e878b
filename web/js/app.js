// The workbench: databases, the editor, the preview and the offer, on one
// page. Everything the page sends goes through protocol.js and api.js; the
// database file goes through format.js as bytes.

import { UTF8, encodingOf, equalBytes, latin1Bytes } from './bytes.js';
import { factorEntry, isEdited, newRow, readDatabase, writeDatabase } from './format.js';
import { scanDouble } from './number.js';
import {
  commandBody, crlfDatabaseFromGet, databaseFromGet, directoryProblem, isOfferName, isPutTempName, keyProblem, listBody,
  nameProblem, offerLinkQuery, offerTextProblem, putTextProblem, storeBody, storedKey,
} from './protocol.js';
import { describe, send } from './api.js';
import config from '../config.js';

const $ = (id) => document.getElementById(id);
const utf8 = (text) => UTF8.encode(text);
const show = (bytes) => encodingOf(bytes).decode(bytes);
const PROPS = new Set(['value', 'checked', 'disabled', 'readOnly', 'hidden', 'selected']);

function h(tag, attrs = {}, ...kids) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v == null || v === false) continue;
    if (k.startsWith('on')) el.addEventListener(k.slice(2), v);
    else if (k === 'text') el.textContent = v;
    else if (PROPS.has(k)) el[k] = v;
    else el.setAttribute(k, v === true ? '' : v);
  }
  for (const kid of kids.flat()) if (kid != null && kid !== false) el.append(kid);
  return el;
}

const state = {
  program: null,  // URL of talvenplan.cgi
  directory: '',
  names: [],      // the last listing, as bytes
  open: null,     // { name, key, db, saved, reasons }
  prices: new Map(),  // factor index -> the server's repriced price texts
};

// Messages: one line that says what the last action came to.
function say(level, text) {
  $('message').replaceChildren(h('p', { class: level, text }));
}
function sayOutcome(outcome, refusal) {
  const { level, text } = describe(outcome, refusal);
  say(level, text);
  return text;
}

// Screens.
function showScreen(name, focus = true) {
  for (const button of document.querySelectorAll('.tabs button')) {
    if (button.dataset.screen === name) button.setAttribute('aria-current', 'page');
    else button.removeAttribute('aria-current');
  }
  for (const id of ['databases', 'editor', 'preview', 'offer']) $(id).hidden = id !== name;
  $('message').replaceChildren();  // it spoke of the screen before
  if (name === 'preview') {
    renderFactorChoice($('preview-factor'));
    renderPreview();
  }
  if (name === 'offer' && state.offerStale) {
    renderFactorChoice($('offer-factor'));
    renderOfferLines();
  }
  if (focus) focusTitle();
}

// Puts the focus on the title of the screen in view.
function focusTitle() {
  const section = document.querySelector('main > section:not([hidden])');
  const title = section.querySelector('h1');
  title.tabIndex = -1;
  title.focus();
}

function setOpen(open) {
  state.open = open;
  state.prices.clear();
  state.offerStale = true;
  for (const button of document.querySelectorAll('.tabs button')) {
    if (button.dataset.screen !== 'databases') button.disabled = !open;
  }
  $('open-name').textContent = open ? 'Open: ' + show(open.name) : '';
  if (open) renderEditor();
}

// Databases.
async function refreshList() {
  const dir = state.directory;
  $('list-where').textContent = dir ? 'In ' + dir : '';
  const problem = directoryProblem(dir);
  if (problem) {
    $('list').replaceChildren(h('p', { class: 'problem', text: 'Cannot list: ' + problem + '.' }));
    return false;
  }
  const outcome = await send(state.program, listBody(dir));
  if (outcome.kind !== 'done') {
    $('list').replaceChildren(h('p', { class: 'problem', text: sayOutcome(outcome, 'the listing was refused') }));
    return false;
  }
  const names = [];
  let at = 0;
  for (let nl; (nl = outcome.payload.indexOf(0x0a, at)) >= 0; at = nl + 1) {
    if (nl > at) names.push(outcome.payload.slice(at, nl));
  }
  state.names = names;
  renderList();
  return true;
}

const isDemo = (name) => show(name).startsWith('DEMO_');
const listed = (name) => state.names.some((n) => equalBytes(n, name));

function renderList() {
  if (!state.names.length) {
    $('list').replaceChildren(h('p', { class: 'muted', text: 'No databases here yet.' }));
    return;
  }
  const rows = state.names.map((name) => {
    const label = show(name);
    const problem = nameProblem(name);
    return h('tr', {},
      h('td', {}, label, isDemo(name) ? h('span', { class: 'muted', text: ' (demo: cannot be saved)' }) : null,
        problem ? h('div', { class: 'problem warning', text: 'Cannot be opened from here: ' + problem + '.' }) : null),
      h('td', { class: 'list-actions' },
        h('button', { type: 'button', disabled: !!problem, 'aria-label': 'Open ' + label, onclick: () => askOpen(name) }, 'Open'),
        ' ',
        h('button', { type: 'button', disabled: !!problem, 'aria-label': 'Remove ' + label, onclick: () => askRemove(name) }, 'Remove')));
  });
  $('list').replaceChildren(h('table', {},
    h('thead', {}, h('tr', {}, h('th', { text: 'Name' }), h('th', {}, h('span', { class: 'muted', text: 'Actions' })))),
    h('tbody', {}, rows)));
}

// A dialog whose form asks for a key; `act` runs on submit and returns a
// problem to show, or '' to close.
function keyDialog(dialog, title, key, act) {
  const form = dialog.querySelector('form');
  const input = dialog.querySelector('input');
  const problem = dialog.querySelector('.problem');
  dialog.querySelector('h2').textContent = title;
  input.value = key;
  problem.textContent = '';
  form.onsubmit = async (event) => {
    event.preventDefault();
    if (event.submitter?.value === 'cancel') return dialog.close();
    const text = await act(utf8(input.value));
    if (text) {
      problem.textContent = text;
      input.focus();
    } else {
      dialog.close();
      // The dialog hands the focus back to the button that opened it, which
      // the action may have hidden (a new screen) or removed (a new listing).
      const back = document.activeElement;
      if (!back || back === document.body || !back.getClientRects().length) focusTitle();
    }
  };
  dialog.showModal();
  input.focus();
}

function askOpen(name) {
  keyDialog($('open-dialog'), `Open “${show(name)}”`, '', (key) => openDatabase(name, key));
}

function askRemove(name) {
  const known = state.open && equalBytes(state.open.name, name) ? show(state.open.key) : '';
  keyDialog($('remove-dialog'), `Remove “${show(name)}”?`, known, async (key) => {
    const problem = keyProblem(key);
    if (problem) return 'The key: ' + problem + '.';
    const outcome = await send(state.program, commandBody('r', state.directory, key, name));
    if (outcome.kind !== 'done') return sayOutcome(outcome, 'wrong key');
    say('ok', `Removed “${show(name)}”.`);
    if (state.open && equalBytes(state.open.name, name)) setOpen(null);
    await refreshList();
    return '';
  });
}

// Opens a database: get, the file rebuilt from get's answer, and read.
// Returns a problem for the dialog, or ''.
async function openDatabase(name, key) {
  if (state.open && dirty() && !confirm('Discard the unsaved changes to the open database?')) return 'Not opened.';
  const problem = keyProblem(key);
  if (problem) return 'The key: ' + problem + '.';
  const outcome = await send(state.program, commandBody('g', state.directory, key, name));
  if (outcome.kind === 'refused') {
    await refreshList();
    return sayOutcome(outcome, listed(name) ? 'wrong key' : 'no such database');
  }
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  const reasons = [];
  const crlf = crlfDatabaseFromGet(outcome.payload);
  let file = crlf || databaseFromGet(outcome.payload);
  if (!file) {
    file = outcome.payload;
    reasons.push('the server trimmed blanks from the end of its key line, so where that line ends cannot be told');
  }
  if (isDemo(name)) {
    reasons.push('its name begins with DEMO_: the server never writes such a list, and a save would only seem to work');
  }
  const db = readDatabase(file);
  if (db.readOnly) reasons.push(db.readOnly);
  if (crlf) db.notes.push('The server does not send back how the key line ends; like the next line, it is taken to end in CR LF.');
  setOpen({ name, key, file, db, saved: readDatabase(file), reasons });
  showScreen('editor');
  say('ok', `Opened “${show(name)}”.`);
  return '';
}

// The editor.
const readOnly = () => state.open.reasons.length > 0;
function dirty() {
  const { db } = state.open;
  return !equalBytes(writeDatabase(db), state.open.file);
}

// What is wrong with a row, field by field: errors where the person edited
// it (they stop a save), warnings where the file already holds it so.
function problems(row, db) {
  const found = {};
  const add = (field, text) => { found[field] = found[field] || text; };
  const { encoding } = db;
  for (const field of ['text', 'name', 'value', 'description', 'price']) {
    if (typeof row[field] !== 'string') continue;
    const bad = encoding.badChar(row[field]);
    if (bad) add(field, `“${bad}” cannot be written in ${encoding.name}, the encoding of this file`);
  }
  const number = (field, what) => {
    const bytes = encoding.encode(row[field]);
    const { value, end } = scanDouble(bytes);
    const rest = encoding.decode(bytes.subarray(end)).trim();
    if (end === 0) add(field, `the server reads this ${what} as 0`);
    else if (rest) add(field, `the server reads this ${what} as ${value} and ignores “${rest}”`);
  };
  if (row.kind === 'key') {
    const text = putTextProblem(encoding.encode(row.text + '\n'));
    if (text) add('text', text);
  } else if (row.kind === 'factor') {
    const bytes = encoding.encode(row.name);
    const entry = factorEntry(encoding.encode(row.name + (row.sep || ' ') + row.value));
    if (!bytes.length) add('name', 'the factor name is empty');
    else if (entry.name.length < bytes.length) {
      add('name', `a blank or a byte from 0x80 up ends a name: the server reads the name “${encoding.decode(entry.name)}” ` +
        `with the factor ${entry.factor}, and a query cannot send this name`);
    } else if (db.factors.find((f) => f.name === row.name) !== row) {
      add('name', 'an earlier factor has this name: the server only ever finds that one');
    }
    number('value', 'factor');
  } else if (row.kind === 'price') {
    if (row.price.includes(' ')) add('price', 'a price cannot hold a space: the price is what follows the last space');
    else number('price', 'price');
  }
  return found;
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
  const db = state.open.db;
  const found = problems(row, db);
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
    ? `The key is “${db.encoding.decode(key)}”: the server uses at most the first 8 bytes of this line, less blanks at their end.`
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
  const { db, name } = state.open;
  const rows = [db.key, ...db.factors, db.headerA, db.headerB, ...db.prices, ...db.trailing];
  const bad = rows.filter((row) => isEdited(row) && Object.keys(problems(row, db)).length);
  if (bad.length) {
    say('refused', `Not saved: ${bad.length} edited line${bad.length === 1 ? '' : 's'} need${bad.length === 1 ? 's' : ''} attention (marked in red).`);
    document.querySelector('#editor-body [aria-invalid="true"]')?.focus();
    return;
  }
  const bytes = writeDatabase(db);
  const problem = putTextProblem(bytes);
  if (problem) return say('refused', 'Not saved: ' + problem + '.');
  const outcome = await send(state.program, commandBody('p', state.directory, state.open.key, name, bytes));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, 'wrong key (the key line may have been changed since the list was opened)');
    return;
  }
  // The key line may have changed the key. Read the list back to show what
  // the server now holds.
  const key = storedKey(bytes);
  state.open.key = key;
  const check = await send(state.program, commandBody('g', state.directory, key, name));
  const file = check.kind === 'done' ? crlfDatabaseFromGet(check.payload) || databaseFromGet(check.payload) : null;
  if (!file || !equalBytes(file, bytes)) {
    say('refused', 'Saved, but reading the list back gave something else: someone may have changed it at the same time. Open it again to see.');
    return;
  }
  Object.assign(state.open, { file: bytes, db: readDatabase(bytes), saved: readDatabase(bytes) });
  state.prices.clear();
  state.offerStale = true;
  renderEditor();
  say('ok', `Saved “${show(name)}” (${bytes.length.toLocaleString('en')} bytes).`);
}

// Preview and offer: the server's repricing of the saved list.
function renderFactorChoice(select) {
  const { saved } = state.open;
  const chosen = select.value;
  const seen = new Set();
  select.replaceChildren(h('option', { value: '', text: saved.factors.length ? 'Choose a factor' : 'The list has no factors' }),
    ...saved.factors.map((f, i) => {
      const unusable = nameProblem(saved.encoding.encode(f.name)) || seen.has(f.name);
      seen.add(f.name);
      return h('option', { value: String(i), disabled: !!unusable, text: `${f.name} (${f.value})` });
    }));
  select.value = chosen;
  if (select.selectedIndex < 0) select.value = '';
  $('preview-note').hidden = !dirty();
  $('preview-note').textContent = 'The editor has unsaved changes: this shows the saved list.';
}

async function repriced(index) {
  if (state.prices.has(index)) return state.prices.get(index);
  const { saved } = state.open;
  const factor = saved.encoding.encode(saved.factors[index].name);
  const outcome = await send(state.program, commandBody('q', state.directory, factor, state.open.name));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, 'no such database, or no such factor in the saved list');
    return null;
  }
  // Header lines A and B, the count line, then the price lines.
  const lines = [];
  let at = 0;
  for (let nl; lines.length < saved.prices.length + 3 && (nl = outcome.payload.indexOf(0x0a, at)) >= 0; at = nl + 1) {
    lines.push(outcome.payload.subarray(at, nl));
  }
  if (lines.length < saved.prices.length + 3 && at < outcome.payload.length) lines.push(outcome.payload.subarray(at));
  const texts = lines.slice(3).map((line) => {
    const text = line.subarray(line.lastIndexOf(0x20) + 1);
    return saved.encoding.decode(text);
  });
  state.prices.set(index, texts);
  return texts;
}

async function renderPreview() {
  const select = $('preview-factor');
  if (select.value === '') return $('preview-table').replaceChildren();
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  const { saved } = state.open;
  const factor = saved.factors[Number(select.value)];
  $('preview-table').replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('caption', { text: `${saved.headerA.text} — ${saved.headerB.text}` }),
    h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Description' }), h('th', { scope: 'col', class: 'num', text: 'Stored price' }),
      h('th', { scope: 'col', class: 'num', text: `With “${factor.name}”` }))),
    h('tbody', {}, saved.prices.map((row, i) => h('tr', {}, h('td', { text: row.description }), h('td', { class: 'num', text: row.price }),
      h('td', { class: 'num', text: texts[i] ?? '(missing)' })))))));
  say('ok', `Prices with the factor “${factor.name}”, as the server computes them.`);
}

// The offer's HTML: everything typed or read from the list is escaped, and
// characters beyond ASCII are written as references, so the page reads
// right whatever character set the browser assumes.
const escapeHtml = (text) => text
  .replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c])
  .replace(/[^\x09\x0a\x0d\x20-\x7e]/gu, (c) => `&#${c.codePointAt(0)};`);
const money = (cents) => (cents / 100).toFixed(2);

function offerHtml(intro, lines) {
  const paragraphs = intro.trim().split(/\n\s*\n/).filter(Boolean)
    .map((p) => '<p>' + escapeHtml(p.trim()).replace(/\n/g, '<br>\n') + '</p>\n');
  let total = 0;
  const rows = lines.map(({ description, quantity, unit }) => {
    const cents = Math.round(unit * quantity * 100);
    total += cents;
    return `<tr><td>${escapeHtml(description)}</td><td align="right">${escapeHtml(String(quantity))}</td>` +
      `<td align="right">${unit.toFixed(2)}</td><td align="right">${money(cents)}</td></tr>\n`;
  });
  return paragraphs.join('') +
    '<table border="1" cellpadding="6" cellspacing="0">\n' +
    '<tr><th align="left">Item</th><th align="right">Quantity</th><th align="right">Unit price</th><th align="right">Amount</th></tr>\n' +
    rows.join('') +
    `<tr><th align="left" colspan="3">Total</th><th align="right">${money(total)}</th></tr>\n</table>\n`;
}

// The page the program wraps an offer in.
const offerPage = (text) => '<html><head><title>Offer</title></head><body>\n<h1 align="center">Offer</h1>\n' + text + '</body></html>\n';

async function renderOfferLines() {
  const select = $('offer-factor');
  if (select.value === '') {
    $('offer-lines').replaceChildren(h('p', { class: 'muted', text: 'Choose a factor to price the lines.' }));
    return updateOffer();
  }
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  state.offerStale = false;
  // Choices made under another factor stay.
  const before = new Map();
  for (const tr of document.querySelectorAll('#offer-lines tr[data-line]')) {
    const [check, quantity] = tr.querySelectorAll('input');
    before.set(tr.dataset.line, { checked: check.checked, quantity: quantity.value });
  }
  const { saved } = state.open;
  $('offer-lines').replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('caption', { text: 'Lines to offer' }),
    h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Offer' }), h('th', { scope: 'col', text: 'Description' }),
      h('th', { scope: 'col', class: 'num', text: 'Unit price' }), h('th', { scope: 'col', text: 'Quantity' }))),
    h('tbody', {}, saved.prices.map((row, i) => {
      const label = row.description || `line ${i + 1}`;
      const was = before.get(String(i)) || { checked: false, quantity: '1' };
      return h('tr', { 'data-line': String(i) },
        h('td', {}, h('input', { type: 'checkbox', checked: was.checked, 'aria-label': 'Offer ' + label, onchange: updateOffer })),
        h('td', { text: row.description }),
        // Rounded to cents as the offer shows it, not the server's 39.920001.
        h('td', { class: 'num', text: Number.isFinite(Number(texts[i])) ? Number(texts[i]).toFixed(2) : texts[i] ?? '' }),
        h('td', { class: 'qty' }, h('input', { type: 'number', min: '0', step: 'any', value: was.quantity, 'aria-label': 'Quantity of ' + label, oninput: updateOffer })));
    })))));
  updateOffer();
}

function chosenLines() {
  const texts = state.prices.get(Number($('offer-factor').value)) || [];
  const lines = [];
  for (const tr of document.querySelectorAll('#offer-lines tr[data-line]')) {
    const [check, quantity] = tr.querySelectorAll('input');
    const q = Number(quantity.value);
    const bad = quantity.value === '' || !(q >= 0);
    if (bad) quantity.setAttribute('aria-invalid', 'true');
    else quantity.removeAttribute('aria-invalid');
    if (!check.checked) continue;
    const i = Number(tr.dataset.line);
    lines.push({ description: state.open.saved.prices[i].description, quantity: bad ? NaN : q, unit: Number(texts[i]) });
  }
  return lines;
}

function updateOffer() {
  const lines = chosenLines().filter((l) => Number.isFinite(l.quantity) && Number.isFinite(l.unit));
  $('offer-view').srcdoc = offerPage(offerHtml($('offer-intro').value, lines));
}

async function stage() {
  const lines = chosenLines();
  if (!lines.length) return say('refused', 'Not staged: choose at least one line to offer.');
  if (lines.some((l) => !Number.isFinite(l.quantity))) return say('refused', 'Not staged: a quantity is not a number.');
  if (lines.some((l) => !Number.isFinite(l.unit))) return say('refused', 'Not staged: a line has no price the page can total.');
  const text = latin1Bytes(offerHtml($('offer-intro').value, lines));
  const problem = offerTextProblem(text);
  if (problem) return say('refused', 'Not staged: ' + problem + '.');
  const outcome = await send(state.program, storeBody(state.directory, text));
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  if (!isOfferName(outcome.payload)) return sayOutcome({ kind: 'unexpected', text: 'an offer name of another form' }, '');
  const link = state.program.href.replace(/[?#].*$/, '') + '?' + offerLinkQuery(outcome.payload, state.directory);
  $('link').value = link;
  $('open-link').href = link;
  $('offer-link').hidden = false;
  say('ok', 'The offer is staged. Send the link to the customer: it shows the offer once.');
  $('link').focus();
  $('link').select();
}

async function copyLink() {
  const input = $('link');
  try {
    await navigator.clipboard.writeText(input.value);
  } catch {
    input.select();
    if (!document.execCommand('copy')) return say('refused', 'Could not copy: select the link and copy it by hand.');
  }
  say('ok', 'Link copied.');
}

async function changeDirectory(dir) {
  if (state.open && dirty() && !confirm('Discard the unsaved changes to the open database?')) return;
  state.directory = dir;
  const url = new URL(location.href);
  url.searchParams.set('dir', dir);
  history.replaceState(null, '', url);
  setOpen(null);
  showScreen('databases', false);
  if (await refreshList()) $('message').replaceChildren();
}

async function start() {
  state.program = new URL(config.program || 'talvenplan.cgi', location.href);
  state.directory = new URLSearchParams(location.search).get('dir') ?? config.directory ?? '';
  $('directory').value = state.directory;

  for (const button of document.querySelectorAll('.tabs button')) {
    button.addEventListener('click', () => showScreen(button.dataset.screen));
  }
  $('dir-form').addEventListener('submit', (event) => {
    event.preventDefault();
    changeDirectory($('directory').value);
  });
  $('create-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const name = utf8($('create-name').value);
    const key = utf8($('create-key').value);
    const problem = directoryProblem(state.directory) || nameProblem(name) ||
      (isOfferName(name) ? 'names of a full stop and six letters or digits belong to offers' : '') ||
      (isPutTempName(name) ? 'names of ".put-" and six letters or digits belong to unfinished saves' : '') ||
      keyProblem(key);
    $('create-problem').textContent = problem ? 'Not created: ' + problem + '.' : '';
    if (problem) return;
    const outcome = await send(state.program, commandBody('c', state.directory, key, name));
    if (outcome.kind !== 'done') {
      $('create-problem').textContent = sayOutcome(outcome, 'the name is taken');
      return;
    }
    $('create-name').value = '';
    $('create-key').value = '';
    await refreshList();
    await openDatabase(name, key);
    say('ok', `Created “${show(name)}”. It is open in the editor.`);
  });
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
  // A refusal speaks of the fields as they were: once they change, a "Not
  // saved: 2 lines need attention" with nothing marked any more misleads.
  document.querySelector('main').addEventListener('input', () => {
    if ($('message').querySelector('.refused')) $('message').replaceChildren();
  });
  $('preview-factor').addEventListener('change', renderPreview);
  $('offer-factor').addEventListener('change', renderOfferLines);
  $('offer-intro').addEventListener('input', updateOffer);
  $('stage').addEventListener('click', stage);
  $('copy').addEventListener('click', copyLink);
  window.addEventListener('beforeunload', (event) => {
    if (state.open && !readOnly() && dirty()) event.preventDefault();
  });

  if (state.directory) await refreshList();
  else say('note', 'Enter the data directory to begin.');
  renderOfferLines();
  document.body.dataset.ready = 'yes';
  window.talvenplanReadyMs = performance.now();
}

start();
