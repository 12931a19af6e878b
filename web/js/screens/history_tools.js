// The history screen's work (screens/history.js loads it when the screen is
// first shown): the versions the server keeps of the open list, what
// changed since each, and opening one read-only or making it the list again.

import { latin1Bytes, latin1Text } from '../bytes.js';
import { readDatabase } from '../format.js';
import { commandBody, listBody } from '../protocol.js';
import { send } from '../api.js';
import { changes } from '../merge.js';
import { HISTORY_OFF, listedEntries, savedBy, stampsOf, stampTime, versionsDir } from '../versions.js';
import { dirty, setOpen, show, state } from '../state.js';
import { fileFromGet, openList, saveBytes, saved, settled, showList } from '../list.js';
import { $, h, num, say, showScreen } from '../ui.js';
import { shopTime } from '../shop.js';
import { tr } from '../i18n.js';

// The list the history is of: the open list, or the list of an open version.
const listOf = () => state.open.list ?? state.open;
const when = (stamp) => shopTime(stampTime(stamp), 'medium');
// A login as the screen shows it: a dash where the save recorded none.
const who = (login) => login || '—';

// A version's file, read with the list's key: { file }, or { problem }.
async function readVersion(stamp) {
  const { name, key } = listOf();
  const got = await send(state.program, commandBody('g', versionsDir(state.directory, name), key, latin1Bytes(stamp)));
  if (got.kind === 'done') return { file: fileFromGet(got.payload).file };
  return { problem: got.kind === 'refused' ? tr('It is guarded by another key: the key line was changed since.') : tr('It could not be read.') };
}

export async function renderHistory() {
  const { name } = listOf();
  $('history-changes').replaceChildren();
  const back = state.open.list
    ? h('p', {}, h('button', { type: 'button', onclick: () => backToList() }, tr('Back to the current list')))
    : null;
  // The versions, and who saved the list as it is now: both listings at once.
  const [listing, lists] = await Promise.all([
    send(state.program, listBody(versionsDir(state.directory, name), { by: true })),
    send(state.program, listBody(state.directory, { by: true }))]);
  const now = lists.kind === 'done'
    ? h('p', { id: 'history-now', text: tr('The list as it is now was saved by {{name}}.', { name: who(savedBy(lists.payload, latin1Text(name))) }) })
    : null;
  if (listing.kind !== 'done') {
    // No versions directory: versions are off, or this list was never
    // replaced or removed since they were turned on.
    const any = state.history === 'off' ? null : await send(state.program, listBody(versionsDir(state.directory)));
    const off = state.history === 'off' || any?.kind !== 'done';
    $('history-note').textContent = off ? HISTORY_OFF() : tr('No versions of this list yet: each save keeps the list it replaces.');
    $('history-list').replaceChildren(...[back, now].filter(Boolean));
    return;
  }
  state.history = 'on';
  const stamps = stampsOf(listing.payload).reverse();
  // Each version carries the login of the save that made what it holds.
  const savers = new Map(listedEntries(listing.payload).map((e) => [e.name, e.by]));
  $('history-note').textContent = tr(['{{n}} version of “{{name}}”, newest first. Each is the list as it was until a save replaced it or it was removed.',
    '{{n}} versions of “{{name}}”, newest first. Each is the list as it was until a save replaced it or it was removed.'], { count: stamps.length, n: num(stamps.length), name: show(name) });
  $('history-list').replaceChildren(...[back, now].filter(Boolean), h('table', { class: 'history' },
    h('thead', {}, h('tr', {}, h('th', { text: tr('Replaced') }), h('th', { text: tr('Saved by') }),
      h('th', {}, h('span', { class: 'muted', text: tr('Actions') })))),
    h('tbody', {}, stamps.map((stamp) => h('tr', {},
      h('td', {}, when(stamp), h('div', { class: 'muted small', text: stamp })),
      h('td', { class: 'saved-by', text: who(savers.get(stamp)) }),
      h('td', { class: 'list-actions' },
        h('button', { type: 'button', 'aria-label': tr('Changes since {{stamp}}', { stamp }), onclick: () => showChanges(stamp) }, tr('Changes')), ' ',
        h('button', { type: 'button', 'aria-label': tr('Open {{name}}', { name: stamp }), onclick: () => openVersion(stamp) }, tr('Open read-only')), ' ',
        h('button', { type: 'button', 'aria-label': tr('Restore {{name}}', { name: stamp }), onclick: () => restore(stamp) }, tr('Restore'))))))));
}

// What changed from a version to the list as this page last read it.
async function showChanges(stamp) {
  const got = await readVersion(stamp);
  const out = $('history-changes');
  if (got.problem) return out.replaceChildren(h('p', { class: 'problem', text: got.problem }));
  const diff = changes(got.file, listOf().file);
  const line = (cls, sign, bytes) => h('div', { class: cls }, h('span', { class: 'sign', text: sign }), show(bytes));
  out.replaceChildren(h('h2', { text: tr('From the version of {{when}} to the list now', { when: when(stamp) }) }),
    diff.length
      ? h('div', { class: 'diff' }, diff.flatMap((c) => [
        h('div', { class: 'at muted', text: tr('Line {{n}} of the file', { n: num(c.at) }) }),
        ...c.removed.map((b) => line('del', '−', b)),
        ...c.added.map((b) => line('add', '+', b))]))
      : h('p', { class: 'muted', text: tr('The same as the list now.') }));
}

async function openVersion(stamp) {
  if (!state.open.list && dirty() && !confirm(tr('Discard the unsaved changes to the open database?'))) return;
  const got = await readVersion(stamp);
  if (got.problem) return say('refused', got.problem);
  const list = listOf();
  setOpen({
    name: latin1Bytes(stamp), key: list.key, file: got.file, db: readDatabase(got.file), saved: null,
    reasons: [tr('it is the version of {{when}}: restore it from the History to make it the list again', { when: when(stamp) })],
    where: versionsDir(state.directory, list.name), list: { name: list.name, key: list.key, file: list.file },
  });
  showList();
  $('open-name').textContent = tr('Open: {{name}}, the version of {{when}}', { name: show(list.name), when: when(stamp) });
  showScreen('editor');
  say('note', tr('A version, read-only. Preview shows its prices as the server computes them.'));
}

async function backToList() {
  const { name, key } = state.open.list;
  const problem = await openList(name, key);
  if (problem) return say('refused', typeof problem === 'string' ? problem : tr('The list could not be opened again.'));
  showList();
  showScreen('history');
}

// A restore is a save of the version's bytes: the list as it is becomes a
// version in turn, and "Undo this save" takes the restore back.
async function restore(stamp) {
  if (!confirm(tr('Make the version of {{when}} the list again? The list as it is now is kept in the history.', { when: when(stamp) }))) return;
  if (!state.open.list && dirty() && !confirm(tr('Drop the unsaved changes in the editor?'))) return;
  const got = await readVersion(stamp);
  if (got.problem) return say('refused', got.problem);
  if (state.open.list) {
    const { name, key } = state.open.list;
    if (await openList(name, key)) return say('refused', tr('The list could not be opened again.'));
  }
  if (await settled(await saved(await saveBytes(got.file, state.open.file)))) {
    showList();
    showScreen('editor');
    say('ok', tr('Restored the version of {{when}}. The list as it was is kept in the history; “Undo this save” takes the restore back.', { when: when(stamp) }));
  }
}
