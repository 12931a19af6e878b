// The editor screen: the open list's lines (editor/body.js, with the price
// table in editor/prices.js and the checks shown in editor/marks.js), saved,
// undone and discarded from the bar below them.

import { readDatabase } from '../format.js';
import { rowProblems } from '../checks.js';
import { dirty, readOnly, show, state, useDb } from '../state.js';
import { badRows, saveBytes, saveList, saved, settled } from '../list.js';
import { $, say } from '../ui.js';
import { tr } from '../i18n.js';
import { renderEditor } from '../editor/body.js';
import { goTo, remark } from '../editor/marks.js';
import { focusRow, reView } from '../editor/prices.js';

// Where the focus is, as a place that outlives a render: a price line's
// field by the line's place in the list, or another element's data-focus.
function focusPlace() {
  const el = document.activeElement;
  const rowEl = el?.closest?.('#price-grid tr');
  if (rowEl?.row) return { line: rowEl.row.at, field: el.dataset.field || el.dataset.act, top: $('price-grid').scrollTop };
  return { focus: el?.dataset?.focus || el?.id, top: $('price-grid')?.scrollTop };
}
function restoreFocus(place) {
  if (place.top != null && $('price-grid')) {
    $('price-grid').scrollTop = place.top;
    state.editor.grid.update();
  }
  if (place.line != null) {
    const { prices } = state.open.db;
    const p = state.editor.view.rows.indexOf(prices[Math.min(place.line, prices.length - 1)]);
    if (p >= 0) return focusRow(p, place.field);
  }
  const el = place.focus && (document.querySelector(`[data-focus="${place.focus}"]`) || $(place.focus));
  el?.focus();
}

// The editor once a save answered: the rows on screen are the saved ones,
// unless a merge brought others.
function shown(rows, place) {
  state.editor.savedFile = state.open.file;
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
  const bad = badRows();
  if (bad.length) showBad(bad);
}

// The first edited line that stops the save, with the focus on its field.
function showBad(bad) {
  const price = bad.find((row) => row.kind === 'price');
  if (price && bad[0] === price) {
    const found = rowProblems(price, state.open.db);
    if (state.editor.view.rows.indexOf(price) < 0) {
      state.editor.view.query = '';
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
  if (!was || (dirty() && !confirm(tr('Undo the save and drop the unsaved changes?')))) return;
  if (await settled(await saved(await saveBytes(was.file, state.open.file)))) {
    state.open.undo = null;
    renderEditor();
    say('ok', tr('Undone: “{{name}}” is as it was before that save, which is kept in the history.', { name: show(state.open.name) }));
  }
}

function discard() {
  if (dirty() && !confirm(tr('Discard all unsaved changes?'))) return;
  const place = focusPlace();
  useDb(state.open, readDatabase(state.open.file));
  renderEditor();
  restoreFocus(place);
  say('ok', tr('Changes discarded.'));
}

export function init() {
  $('save').addEventListener('click', save);
  $('undo').addEventListener('click', undo);
  $('discard').addEventListener('click', discard);
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

export const screen = { enter() {} };
