// The databases screen: the directory's listing, open, remove and create.

import { equalBytes, UTF8 } from '../bytes.js';
import { commandBody, directoryProblem, keyProblem, listBody, nameProblem } from '../protocol.js';
import { send } from '../api.js';
import { createProblem } from '../checks.js';
import { dirty, show, state } from '../state.js';
import { isDemo, listed, openList } from '../list.js';
import { $, focusTitle, h, say, sayOutcome, showScreen } from '../ui.js';
import { closeList, showList } from './editor.js';
import { forgetChoices } from './offer.js';

const utf8 = (text) => UTF8.encode(text);

export async function refreshList() {
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

const collator = new Intl.Collator('en', { numeric: true, sensitivity: 'base' });

// The listing by name, as a person reads names, filtered by the find box.
function renderList() {
  if (!state.names.length) {
    $('list').replaceChildren(h('p', { class: 'muted', text: 'No databases here yet.' }));
    return;
  }
  const words = $('list-filter').value.toLowerCase().split(/\s+/).filter(Boolean);
  const names = state.names.map((name) => [show(name), name])
    .filter(([label]) => words.every((w) => label.toLowerCase().includes(w)))
    .sort((a, b) => collator.compare(a[0], b[0]) || (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
  if (!names.length) {
    $('list').replaceChildren(h('p', { class: 'muted', text: `No database here has “${$('list-filter').value.trim()}” in its name.` }));
    return;
  }
  const rows = names.map(([, name]) => {
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

// Opens a list and shows it in the editor. Returns a problem, or ''.
export async function openDatabase(name, key) {
  if (state.open && dirty() && !confirm('Discard the unsaved changes to the open database?')) return 'Not opened.';
  const result = await openList(name, key);
  if (result.refused) {
    await refreshList();
    return sayOutcome(result.refused, listed(name) ? 'wrong key' : 'no such database');
  }
  if (result) return result;
  forgetChoices();
  showList();
  showScreen('editor');
  say('ok', `Opened “${show(name)}”.`);
  return '';
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
    if (state.open && equalBytes(state.open.name, name)) closeList();
    await refreshList();
    return '';
  });
}

async function create(event) {
  event.preventDefault();
  const name = utf8($('create-name').value);
  const key = utf8($('create-key').value);
  const problem = createProblem(state.directory, name, key);
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
}

export async function changeDirectory(dir) {
  if (state.open && dirty() && !confirm('Discard the unsaved changes to the open database?')) return;
  state.directory = dir;
  const url = new URL(location.href);
  url.searchParams.set('dir', dir);
  history.replaceState(null, '', url);
  closeList();
  showScreen('databases', false);
  if (await refreshList()) $('message').replaceChildren();
}

export function init() {
  $('dir-form').addEventListener('submit', (event) => {
    event.preventDefault();
    changeDirectory($('directory').value);
  });
  $('create-form').addEventListener('submit', create);
  $('list-filter').addEventListener('input', renderList);
}

export const screen = { enter() {} };
