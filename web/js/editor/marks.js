// What the editor marks on the list it shows: each row's problems beside
// its fields, the price lines to look at below the table (the checks shown),
// and the save bar's line. The editor's other parts call these after every
// edit. A price row knows its place in the list as `row.at`.

import { decimalCommaFix, rowProblems, unsureReadings } from '../checks.js';
import { isEdited } from '../format.js';
import { dirty, readOnly, state } from '../state.js';
import { $, h, num } from '../ui.js';
import { tr } from '../i18n.js';

const sentence = (text) => text[0].toUpperCase() + text.slice(1) + '.';

// What a row's check says, as the note beside a field: an error where the
// person edited the row, a warning where the file holds it so.
function noteText(text, edited) {
  return !text ? '' : edited ? sentence(text) : tr('In the file: {{problem}}.', { problem: text });
}

// Shows a row's problems on the fields in `el` and returns them.
export function markRow(el, row) {
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

// Marks `el` from `row` now, and again after each save (remark).
export function marked(el, row) {
  el.row = row;
  el.dataset.marked = '';
  markRow(el, row);
  return el;
}

// markRow for a row of the price table, writing only what changes. A line
// the file holds has the problems found for it (state.editor.checks), kept
// up to date edit by edit; a new line's are found here.
export function markPriceRow(rowEl, row, found = problemsOf(row)) {
  const edited = isEdited(row);
  for (const f of rowEl.fields) {
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
  rowEl.classList.toggle('edited', edited || !!row.moved);
  return found;
}
const NONE = {};
const problemsOf = (row) => {
  const { checks, checksFound } = state.editor;
  return checksFound && row.orig !== null ? checks.get(row) || NONE : rowProblems(row, state.open.db);
};

// The problems of every price line, found once; recheck keeps them up to
// date edit by edit.
export function findChecks() {
  const { checks } = state.editor;
  checks.clear();
  state.editor.checksFound = true;
  const { db } = state.open;
  for (const row of db.prices) {
    const found = rowProblems(row, db);
    if (found.description || found.price) checks.set(row, found);
  }
}
export function recheck(row, found) {
  const { checks } = state.editor;
  const had = checks.has(row);
  if (found.description || found.price) checks.set(row, found);
  else checks.delete(row);
  if (had || checks.has(row)) renderChecks();
}

const SHOWN_CHECKS = 20;
export function renderChecks() {
  const box = $('price-checks');
  if (!box) return;
  const { checks } = state.editor;
  const rows = [...checks.keys()];
  if (!rows.length) return box.replaceChildren();
  rows.sort((a, b) => (isEdited(b) - isEdited(a)) || a.at - b.at);
  const commas = readOnly() ? [] : rows.filter((row) => !unsureReadings(row) && decimalCommaFix(row.price) !== null);
  const items = rows.slice(0, SHOWN_CHECKS).map((row) => {
    const found = checks.get(row);
    const readings = unsureReadings(row);
    const fixes = readOnly() ? [] : readings ?? [decimalCommaFix(row.price)].filter((fix) => fix !== null);
    const what = ['description', 'price'].filter((f) => found[f]).map((f) => noteText(found[f], isEdited(row))).join(' ');
    return h('li', { class: isEdited(row) ? 'problem' : 'problem warning', 'data-line': row.at + 1 },
      h('button', { type: 'button', class: 'link', onclick: () => goTo(row, found.price ? 'price' : 'description') },
        row.description ? tr('Line {{n}} “{{description}}”', { n: String(row.at + 1), description: row.description }) : tr('Line {{n}}', { n: String(row.at + 1) })), ': ', what,
      fixes.flatMap((fix) => [' ', h('button', { type: 'button', 'data-use': fix.trim(), onclick: () => setPrice(row, fix) }, tr('Use {{price}}', { price: fix.trim() }))]));
  });
  // replaceChildren writes a null child as the word "null": the parts left
  // out are dropped first.
  box.replaceChildren(...[h('h3', { text: tr(['{{n}} price line to look at', '{{n}} price lines to look at'], { count: rows.length, n: num(rows.length) }) }),
    commas.length > 1 ? h('p', {}, h('button', { type: 'button', onclick: () => commas.forEach((row) => setPrice(row, decimalCommaFix(row.price), true)) },
      tr('Write all {{n}} decimal commas as points', { n: num(commas.length) }))) : null,
    h('ul', {}, items),
    rows.length > SHOWN_CHECKS ? h('p', { class: 'muted', text: tr('And {{n}} more.', { n: num(rows.length - SHOWN_CHECKS) }) }) : null].filter(Boolean));
}

// A price set by a button (the decimal comma fix), as if typed.
function setPrice(row, text, quiet) {
  row.price = text;
  row.typed = row.unsure = null;
  const rowEl = state.editor.grid.rowAt(state.editor.view.rows.indexOf(row));
  const found = rowProblems(row, state.open.db);
  if (rowEl) {
    rowEl.querySelector('[data-field="price"]').value = text;
    markPriceRow(rowEl, row, found);
  }
  recheck(row, found);
  updateDirty();
  if (!quiet) goTo(row, 'price');
}

// Puts the focus on a price row's field, scrolled into view.
export function goTo(row, field) {
  const p = state.editor.view.rows.indexOf(row);
  if (p < 0) return;
  state.editor.grid.reveal(p)?.querySelector(`[data-field="${field}"]`)?.focus();
}

// After a save: every row shown is marked again, nothing rendered anew.
export function remark() {
  for (const el of $('editor-body').querySelectorAll('[data-marked]')) markRow(el, el.row);
  for (const rowEl of state.editor.grid.rows) markPriceRow(rowEl, rowEl.row);
  renderChecks();
  updateDirty();
}

// The save bar stays in view, the message line may not: it says "Saved"
// too, and what the list holds.
export function updateDirty() {
  if (!state.open || readOnly()) {
    $('dirty').textContent = state.open ? tr('Read-only.') : '';
    return;
  }
  const { db } = state.open;
  const m = db.prices.length;
  const n = db.factors.length;
  const changed = dirty();
  const saved = !changed && state.editor.savedFile === state.open.file;
  $('dirty').textContent = [saved ? tr('Saved.') : '', changed ? tr('Unsaved changes.') : tr('No unsaved changes.'),
    tr(['{{n}} factor,', '{{n}} factors,'], { count: n, n: num(n) }), tr(['{{n}} price line.', '{{n}} price lines.'], { count: m, n: num(m) })]
    .filter(Boolean).join(' ');
  $('dirty').classList.toggle('saved', saved);
}
