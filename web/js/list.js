// The open list: reading it (get), writing it (put, then a look at what the
// put replaced and what the server holds), its repricing (query), and its
// life on the page: shown, saved (the merge dialog asks where someone else
// changed the same lines), its prices changed from elsewhere, closed.

import { equalBytes, latin1Bytes, latin1Text } from './bytes.js';
import { adoptWritten, readDatabase, repricedTexts, writeDatabase, isEdited } from './format.js';
import { commandBody, crlfDatabaseFromGet, databaseFromGet, keyProblem, listBody, putTextProblem, storedKey } from './protocol.js';
import { savedBy } from './versions.js';
import { send } from './api.js';
import { rowProblems } from './checks.js';
import { loadShop } from './shop.js';
import { savedList, setOpen, show, state, useDb } from './state.js';
import { $, enableListTabs, num, say, sayOutcome } from './ui.js';
import { renderEditor } from './editor/body.js';
import { goTo } from './editor/marks.js';
import { computeView, placeRows, redrawPrices } from './editor/prices.js';
import { tr } from './i18n.js';

// The merge, loaded when a save first has something to merge.
export const mergeFiles = async (...files) => (await import('./merge.js')).mergeFiles(...files);

// What a save says of the lines this page saved (`own`) that someone else
// replaced since (replaced.js): the sentences, naming `who()`, the login
// asked for only when there is something to say. [] where there is nothing.
export async function replacedNote(own, now, merged, who) {
  if (!own || equalBytes(now, own.file)) return [];
  const { replacedLines, sentences } = await import('./replaced.js');
  const replaced = replacedLines(own, now, merged);
  return replaced.length ? sentences(replaced, await who()) : [];
}

// The login that saved list `name` as the server holds it now, from a
// listing `by` of the directory: '' where none is recorded or the listing
// fails (then the page says "someone else").
async function savedNowBy(name) {
  const listing = await send(state.program, listBody(state.directory, { by: true }));
  return listing.kind === 'done' ? savedBy(listing.payload, latin1Text(name)) : '';
}

export const isDemo = (name) => show(name).startsWith('DEMO_');
export const listed = (name) => state.names.some((n) => equalBytes(n, name));

// The file get's answer stands for: { file, crlf } or { file, trimmed }.
export function fileFromGet(payload) {
  const crlf = crlfDatabaseFromGet(payload);
  if (crlf) return { file: crlf, crlf: true };
  const file = databaseFromGet(payload);
  return file ? { file } : { file: payload, trimmed: true };
}

// Shows the open list in the editor, from the top of its price lines.
export function showList() {
  enableListTabs(true);
  $('open-name').textContent = tr('Open: {{name}}', { name: show(state.open.name) });
  Object.assign(state.editor.view, { query: '', order: 'file' });
  renderEditor();
}

export function closeList() {
  setOpen(null);
  forget();
  enableListTabs(false);
  $('open-name').textContent = '';
  $('editor-body').replaceChildren();
  state.editor.grid = null;
}

// The price lines changed outside the table (an import, a paste, a change
// of many prices): the table shows them again. `added` rows stay in view
// after `after` even where the filter would hide them; the focus goes to
// `focus`'s `field`.
export function pricesChanged({ added = [], after = null, focus = null, field = 'description' } = {}) {
  const { view } = state.editor;
  placeRows();
  computeView();
  if (view.rows !== state.open.db.prices && added.length) {
    const shown = new Set(view.rows);
    const hidden = added.filter((row) => !shown.has(row));
    view.rows.splice(after ? view.rows.indexOf(after) + 1 : view.rows.length, 0, ...hidden);
  }
  redrawPrices();
  if (focus) goTo(focus, field);
}

// Opens a database: get, the file rebuilt from get's answer, and read.
// Returns a problem to show, or '' once the list is open.
export async function openList(name, key) {
  const problem = keyProblem(key);
  if (problem) return tr('The key: {{problem}}.', { problem });
  const outcome = await send(state.program, commandBody('g', state.directory, key, name));
  if (outcome.kind === 'refused') return { refused: outcome };
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  const reasons = [];
  const { file, crlf, trimmed } = fileFromGet(outcome.payload);
  if (trimmed) reasons.push(tr('the server trimmed blanks from the end of its key line, so where that line ends cannot be told'));
  if (isDemo(name)) {
    reasons.push(tr('its name begins with DEMO_: the server never writes such a list, and a save would only seem to work'));
  }
  const db = readDatabase(file);
  if (db.readOnly) reasons.push(db.readOnly);
  if (crlf) db.notes.push(tr('The server does not send back how the key line ends; like the next line, it is taken to end in CR LF.'));
  setOpen({ name, key, file, db, saved: null, reasons });
  // The editor reads typed prices in the shop's locale.
  await loadShop();
  remember();
  return '';
}

// The rows of the open list that are edited and have a problem.
export function badRows() {
  const { db } = state.open;
  const bad = [];
  for (const rows of [[db.key], db.factors, [db.headerA, db.headerB], db.prices, db.trailing]) {
    for (const row of rows) if (isEdited(row) && Object.keys(rowProblems(row, db)).length) bad.push(row);
  }
  return bad;
}

// Saves the open list. Returns true when the server holds what the page
// wrote, { conflict } when someone else changed the same lines (nothing is
// saved until the person chooses), else false once it has said why.
export async function saveList() {
  const { db } = state.open;
  const bad = badRows();
  if (bad.length) {
    say('refused', tr(['Not saved: {{n}} edited line needs attention (marked in red).', 'Not saved: {{n}} edited lines need attention (marked in red).'], { count: bad.length, n: bad.length }));
    return false;
  }
  const spans = [];
  const bytes = writeDatabase(db, spans);
  const problem = putTextProblem(bytes);
  if (problem) {
    say('refused', tr('Not saved: {{problem}}.', { problem }));
    return false;
  }
  return saveBytes(bytes, state.open.file, { db, spans, bytes });
}


// The open list as the server holds it now: { file }, or { outcome } when
// get did not answer with it.
async function readNow(key) {
  const outcome = await send(state.program, commandBody('g', state.directory, key, state.open.name));
  return outcome.kind === 'done' ? { file: fileFromGet(outcome.payload).file } : { outcome };
}

// One read, merge and put of `mine`, made from `base`, for list `open`:
// { mine, base, theirs, replaced, before } once the put answered "s"
// (theirs: the changes merged in; replaced: what to say of lines this page
// saved before that someone else replaced; before: `open.own` as it was),
// else { result } for the save to return (false once the page has said
// why, or { conflict }). `others`: where `mine` holds someone else's lines
// that `base` lacks, the list they came from, so that they are not taken
// for this page's own.
export async function readMergePut(open, mine, base, others = null) {
  const now = await readNow(open.key);
  if (now.outcome) {
    sayOutcome(now.outcome, tr('wrong key (someone may have changed the key line since you opened the list, or removed the list)'));
    return { result: false };
  }
  let theirs = 0;
  if (!equalBytes(now.file, base)) {
    const merge = await mergeFiles(base, mine, now.file);
    if (merge.conflicts) return { result: { conflict: { merge, base: now.file } } };
    mine = merge.bytes;
    theirs = merge.theirs;
    base = now.file;
  }
  // Asked before the put, while the list is the colleague's save.
  const replaced = await replacedNote(open.own, now.file, mine, () => savedNowBy(open.name));
  const outcome = await send(state.program, commandBody('p', state.directory, open.key, open.name, mine));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, tr('wrong key (the key line may have been changed since the list was opened)'));
    return { result: false };
  }
  open.key = storedKey(mine);
  const before = open.own;
  // The lines of this put that are the page's own are found only when a
  // later save has something to merge.
  open.own = { file: mine, from: others ?? base };
  return { mine, base, theirs, replaced, before };
}

// `mine` is what the server holds now: it becomes the list's file, and the
// rows on screen the saved rows (the editor's own, unless a merge changed
// them).
export function adopt(open, mine, written) {
  Object.assign(open, { file: mine, saved: null });
  if (written && equalBytes(mine, written.bytes)) {
    adoptWritten(written.db, mine, written.spans);
    useDb(open, written.db);
  } else {
    useDb(open, readDatabase(mine));
  }
  remember();
  state.prices.clear();
  state.offerStale = true;
}

// Saves `mine`, which this page made from `base`. The list is read first:
// what someone else saved since `base` is merged in, line by line. The page
// says "Saved" as soon as the put answers; the check that follows
// (`open.checked`, which resolves like this function) looks at the version
// the put replaced, to catch a save that came between the read and the put.
// `written`: the editor's rows `mine` was written from, to keep as the saved
// rows when no merge changed them.
export async function saveBytes(mine, base, written = null) {
  const open = state.open;
  const token = {};  // this save; a later one makes its check stale
  open.saving = token;
  const oldKey = open.key;
  const put = await readMergePut(open, mine, base);
  if ('result' in put) return put.result;
  if (state.open !== open) return true;  // another list was opened meanwhile
  open.undo = null;
  adopt(open, put.mine, written);
  const told = put.theirs ? [tr(['Merged with {{n}} change saved by someone else since you opened this list.', 'Merged with {{n}} changes saved by someone else since you opened this list.'], { count: put.theirs, n: put.theirs })] : [];
  told.push(...put.replaced);
  const saved = { outcome: 'saved', merged: put.theirs, replaced: put.replaced.length };
  say(told.length ? 'note' : 'ok', [...told, tr('Saved “{{name}}” ({{bytes}} bytes).', { name: show(open.name), bytes: num(put.mine.length) })].join(' '), saved);
  // The check is loaded with the first save: a page that only reads lists
  // never needs it.
  open.checked = import('./after_save.js').then((m) => m.checkAfterPut(open, token, oldKey, put, told, saved));
  return true;
}

// Runs a save; where someone else changed the same lines, asks which to
// keep, and saves once the person has chosen (or nothing, on cancel).
export async function saved(result) {
  while (result?.conflict) {
    const { merge, base, slipped } = result.conflict;
    const { showMerge } = await import('./merge_dialog.js');
    const picks = await showMerge(merge, slipped);
    if (!picks) {
      say('refused', slipped
        ? tr('Your save is in, and the one that came at the same moment is in the history: nothing more was saved.')
        : tr('Not saved: the lines someone else changed are still to be chosen.'));
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

// The server's price texts for the saved list under factor `index`, or null
// when the query failed (and the page has said so).
export async function repriced(index) {
  if (state.prices.has(index)) return state.prices.get(index);
  const saved = savedList();
  const factor = saved.encoding.encode(saved.factors[index].name);
  const outcome = await send(state.program, commandBody('q', state.open.where ?? state.directory, factor, state.open.name));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, tr('no such database, or no such factor in the saved list'));
    return null;
  }
  const texts = repricedTexts(outcome.payload, saved.prices.length, saved.encoding);
  state.prices.set(index, texts);
  return texts;
}

// The open list, for a reload of this tab to open it again. The key stays
// in the tab's session storage: gone when the tab closes, never kept longer.
const SESSION = 'talvenplan.open';
export function remember(screen) {
  if (state.open.where) return;  // a version: the list itself is opened again
  const was = remembered();
  sessionStorage.setItem(SESSION, JSON.stringify({
    directory: state.directory, name: latin1Text(state.open.name), key: latin1Text(state.open.key),
    screen: screen || was?.screen || 'editor',
  }));
}
export function forget() {
  sessionStorage.removeItem(SESSION);
}
// { directory, name, key, screen } as bytes where they are, or null.
export function remembered() {
  try {
    const was = JSON.parse(sessionStorage.getItem(SESSION));
    if (!was || typeof was.name !== 'string' || typeof was.key !== 'string') return null;
    return { ...was, name: latin1Bytes(was.name), key: latin1Bytes(was.key) };
  } catch {
    return null;
  }
}
