// The open list and the server: reading it (get), writing it (put, then get
// again to see what the server holds) and its repricing (query). These talk
// to the server and change `state`; the screens show the outcome.

import { equalBytes, latin1Bytes, latin1Text } from './bytes.js';
import { adoptWritten, readDatabase, repricedTexts, writeDatabase, isEdited } from './format.js';
import { commandBody, crlfDatabaseFromGet, databaseFromGet, keyProblem, putTextProblem, storedKey } from './protocol.js';
import { send } from './api.js';
import { rowProblems } from './checks.js';
import { readOnly, savedList, setOpen, show, state, useDb } from './state.js';
import { num, say, sayOutcome } from './ui.js';

export const isDemo = (name) => show(name).startsWith('DEMO_');
export const listed = (name) => state.names.some((n) => equalBytes(n, name));

// The file get's answer stands for: { file, crlf } or { file, trimmed }.
function fileFromGet(payload) {
  const crlf = crlfDatabaseFromGet(payload);
  if (crlf) return { file: crlf, crlf: true };
  const file = databaseFromGet(payload);
  return file ? { file } : { file: payload, trimmed: true };
}

// Opens a database: get, the file rebuilt from get's answer, and read.
// Returns a problem to show, or '' once the list is open.
export async function openList(name, key) {
  const problem = keyProblem(key);
  if (problem) return 'The key: ' + problem + '.';
  const outcome = await send(state.program, commandBody('g', state.directory, key, name));
  if (outcome.kind === 'refused') return { refused: outcome };
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  const reasons = [];
  const { file, crlf, trimmed } = fileFromGet(outcome.payload);
  if (trimmed) reasons.push('the server trimmed blanks from the end of its key line, so where that line ends cannot be told');
  if (isDemo(name)) {
    reasons.push('its name begins with DEMO_: the server never writes such a list, and a save would only seem to work');
  }
  const db = readDatabase(file);
  if (db.readOnly) reasons.push(db.readOnly);
  if (crlf) db.notes.push('The server does not send back how the key line ends; like the next line, it is taken to end in CR LF.');
  setOpen({ name, key, file, db, saved: null, reasons });
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
// wrote; else it has said why.
export async function saveList() {
  const { db, name } = state.open;
  const bad = badRows();
  if (bad.length) {
    say('refused', `Not saved: ${bad.length} edited line${bad.length === 1 ? '' : 's'} need${bad.length === 1 ? 's' : ''} attention (marked in red).`);
    return false;
  }
  const spans = [];
  const bytes = writeDatabase(db, spans);
  const problem = putTextProblem(bytes);
  if (problem) {
    say('refused', 'Not saved: ' + problem + '.');
    return false;
  }
  const outcome = await send(state.program, commandBody('p', state.directory, state.open.key, name, bytes));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, 'wrong key (the key line may have been changed since the list was opened)');
    return false;
  }
  // The key line may have changed the key.
  const key = storedKey(bytes);
  state.open.key = key;
  Object.assign(state.open, { file: bytes, saved: null });
  // The rows on screen become the saved rows.
  adoptWritten(db, bytes, spans);
  useDb(state.open, db);
  remember();
  state.prices.clear();
  state.offerStale = true;
  say('ok', `Saved “${show(name)}” (${num(bytes.length)} bytes).`);
  readBack(state.open, bytes);
  return true;
}

// After "Saved": the list read back, to tell the person when the server
// holds something else already (someone saved right after). The save does
// not wait for it.
async function readBack(open, bytes) {
  const check = await send(state.program, commandBody('g', state.directory, open.key, open.name));
  const file = check.kind === 'done' ? fileFromGet(check.payload).file : null;
  if (state.open !== open || open.file !== bytes) return;  // another list, or a later save
  if (!file || !equalBytes(file, bytes)) {
    say('refused', 'Saved, but reading the list back gave something else: someone may have changed it at the same time. Open it again to see.');
  }
}

// The server's price texts for the saved list under factor `index`, or null
// when the query failed (and the page has said so).
export async function repriced(index) {
  if (state.prices.has(index)) return state.prices.get(index);
  const saved = savedList();
  const factor = saved.encoding.encode(saved.factors[index].name);
  const outcome = await send(state.program, commandBody('q', state.directory, factor, state.open.name));
  if (outcome.kind !== 'done') {
    sayOutcome(outcome, 'no such database, or no such factor in the saved list');
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

export { readOnly };
