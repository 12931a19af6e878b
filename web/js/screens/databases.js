// The databases screen: the directory's listing, open, remove and create.

import { equalBytes, latin1Bytes, latin1Text, UTF8 } from '../bytes.js';
import { commandBody, directoryProblem, keyProblem, listBody, nameProblem, storedKey } from '../protocol.js';
import { removedLists, stampTime, versionsDir } from '../versions.js';
import { send } from '../api.js';
import { createProblem } from '../checks.js';
import { dirty, show, state } from '../state.js';
import { closeList, isDemo, listed, openList, showList } from '../list.js';
import { $, focusTitle, h, say, sayOutcome, showScreen } from '../ui.js';
import { shopTime } from '../shop.js';
import { tr } from '../i18n.js';

const utf8 = (text) => UTF8.encode(text);

export async function refreshList() {
  const dir = state.directory;
  $('list-where').textContent = dir ? tr('In {{dir}}', { dir }) : '';
  const problem = directoryProblem(dir);
  if (problem) {
    $('list').replaceChildren(h('p', { class: 'problem', text: tr('Cannot list: {{problem}}.', { problem }) }));
    return false;
  }
  const outcome = await send(state.program, listBody(dir));
  if (outcome.kind !== 'done') {
    $('list').replaceChildren(h('p', { class: 'problem', text: sayOutcome(outcome, tr('the listing was refused')) }));
    return false;
  }
  const names = [];
  let at = 0;
  for (let nl; (nl = outcome.payload.indexOf(0x0a, at)) >= 0; at = nl + 1) {
    if (nl > at) names.push(outcome.payload.slice(at, nl));
  }
  state.names = names;
  renderList();
  await renderRemoved();
  return true;
}

// Lists removed from this directory whose versions the server still keeps:
// each removal of a list, newest first under each name, and lists removed
// before removes kept their versions apart.
async function renderRemoved() {
  const dir = state.directory;
  const outcome = await send(state.program, listBody(versionsDir(dir)));
  if (dir !== state.directory) return;
  if (outcome.kind !== 'done') return $('removed').replaceChildren();
  state.history = 'on';
  const gone = removedLists(outcome.payload, state.names.map(latin1Text))
    .map((entry) => ({ ...entry, label: show(latin1Bytes(entry.name)) }))
    .sort((a, b) => collator.compare(a.label, b.label) || (b.stamp ?? '').localeCompare(a.stamp ?? ''));
  $('removed').replaceChildren(...(gone.length ? [h('h2', { text: tr('Recently removed') }),
    h('p', { class: 'muted', text: tr('Removed lists whose versions the server still keeps. Restore one to make it a list again, as it was when removed. Each removal stays here, restored or not, until the server’s clean-up takes its versions away.') }),
    h('table', {}, h('tbody', {}, gone.map((entry) => h('tr', {},
      h('td', { text: entry.label }),
      h('td', { class: 'muted', text: entry.stamp ? tr('Removed {{when}}', { when: removedAt(entry) }) : '' }),
      h('td', { class: 'list-actions' }, h('button', {
        type: 'button', onclick: () => askRestore(entry),
        'aria-label': entry.stamp ? tr('Restore {{name}}, removed {{when}}', { name: entry.label, when: removedAt(entry) })
          : tr('Restore {{name}}', { name: entry.label }),
      }, tr('Restore')))))))] : []));
}

const removedAt = (entry) => shopTime(stampTime(entry.stamp), 'medium');

// Makes a removed list a list again from its newest version: under its own
// name, or, where a list of that name was made since, under a name the
// person gives. Only the list is written (create, then put): never anything
// under .versions.
function askRestore(entry) {
  const name = latin1Bytes(entry.name);
  const as = $('restore-as');
  const elsewhere = (yes) => {
    as.hidden = !yes;
    $('restore-what').textContent = yes
      ? tr('A list named “{{name}}” was made since this one was removed. Give a name to restore the removed list under; the list named “{{name}}” stays as it is.', { name: entry.label })
      : entry.stamp ? tr('The list comes back as it was when it was removed, {{when}}.', { when: removedAt(entry) })
        : tr('The list comes back as it was when it was removed.');
  };
  elsewhere(entry.stamp !== null && listed(name));
  $('restore-name').value = '';
  keyDialog($('restore-dialog'), tr('Restore “{{name}}”', { name: entry.label }), '', async (key) => {
    const problem = keyProblem(key);
    if (problem) return tr('The key: {{problem}}.', { problem });
    const target = as.hidden ? name : utf8($('restore-name').value.trim());
    const badName = as.hidden ? '' : createProblem(state.directory, target, key);
    if (badName) return tr('The name: {{problem}}.', { problem: badName });
    const { newestVersion } = await import('../after_save.js');
    const newest = await newestVersion(latin1Bytes(entry.dir), key);
    if (!newest?.file) return newest?.stamp ? tr('Wrong key: it is not the key the list had.') : tr('No version of it is left.');
    const made = await send(state.program, commandBody('c', state.directory, key, target));
    if (made.kind === 'refused') {
      if (entry.stamp === null) return tr('A list of that name is there again: open it from the list above.');
      elsewhere(true);
      return tr('A list named “{{name}}” is there now: give another name to restore it under.', { name: show(target) });
    }
    if (made.kind !== 'done') return sayOutcome(made, '');
    const put = await send(state.program, commandBody('p', state.directory, key, target, newest.file));
    if (put.kind !== 'done') return sayOutcome(put, tr('wrong key'));
    await refreshList();
    const opened = await openDatabase(target, storedKey(newest.file));
    if (!opened) {
      say('ok', equalBytes(target, name)
        ? tr('Restored “{{name}}” as it was when it was removed. It is open in the editor.', { name: entry.label })
        : tr('Restored “{{name}}” as it was when it was removed, as “{{as}}”. It is open in the editor.', { name: entry.label, as: show(target) }),
      { outcome: 'restored', as: show(target) });
    }
    return '';
  }, tr('Restore'));
}

const collator = new Intl.Collator('en', { numeric: true, sensitivity: 'base' });

// The listing by name, as a person reads names, filtered by the find box.
function renderList() {
  if (!state.names.length) {
    $('list').replaceChildren(h('p', { class: 'muted', text: tr('No databases here yet.') }));
    return;
  }
  const words = $('list-filter').value.toLowerCase().split(/\s+/).filter(Boolean);
  const names = state.names.map((name) => [show(name), name])
    .filter(([label]) => words.every((w) => label.toLowerCase().includes(w)))
    .sort((a, b) => collator.compare(a[0], b[0]) || (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
  if (!names.length) {
    $('list').replaceChildren(h('p', { class: 'muted', text: tr('No database here has “{{words}}” in its name.', { words: $('list-filter').value.trim() }) }));
    return;
  }
  const rows = names.map(([, name]) => {
    const label = show(name);
    const problem = nameProblem(name);
    // The name opens the list too, for the mouse: the keyboard has Open.
    return h('tr', {},
      h('td', {}, problem ? label : h('button', { type: 'button', class: 'link', tabindex: '-1', onclick: () => askOpen(name) }, label),
        isDemo(name) ? h('span', { class: 'muted', text: ' ' + tr('(demo: cannot be saved)') }) : null,
        problem ? h('div', { class: 'problem warning', text: tr('Cannot be opened from here: {{problem}}.', { problem }) }) : null),
      h('td', { class: 'list-actions' },
        h('button', { type: 'button', disabled: !!problem, 'aria-label': tr('Open {{name}}', { name: label }), onclick: () => askOpen(name) }, tr('Open')),
        ' ',
        h('button', { type: 'button', disabled: !!problem, 'aria-label': tr('Remove {{name}}', { name: label }), onclick: () => askRemove(name) }, tr('Remove'))));
  });
  $('list').replaceChildren(h('table', {},
    h('thead', {}, h('tr', {}, h('th', { text: tr('Name') }), h('th', {}, h('span', { class: 'muted', text: tr('Actions') })))),
    h('tbody', {}, rows)));
}

// A dialog whose form asks for a key; `act` runs on submit and returns a
// problem to show, or '' to close.
function keyDialog(dialog, title, key, act, label) {
  const form = dialog.querySelector('form');
  const button = form.querySelector('button:not([value="cancel"])');
  button.dataset.label ??= button.textContent;
  button.textContent = label ?? button.dataset.label;
  const input = dialog.querySelector('input[type="password"]');
  const problem = dialog.querySelector('.problem');
  // The first field in view that is still empty, else the key.
  const focus = () => ([...dialog.querySelectorAll('input')].find((i) => !i.value && i.getClientRects().length) ?? input).focus();
  dialog.querySelector('h2').textContent = title;
  input.value = key;
  problem.textContent = '';
  form.onsubmit = async (event) => {
    event.preventDefault();
    if (event.submitter?.value === 'cancel') return dialog.close();
    const text = await act(utf8(input.value));
    if (text) {
      problem.textContent = text;
      focus();
    } else {
      dialog.close();
      // The dialog hands the focus back to the button that opened it, which
      // the action may have hidden (a new screen) or removed (a new listing).
      const back = document.activeElement;
      if (!back || back === document.body || !back.getClientRects().length) focusTitle();
    }
  };
  dialog.showModal();
  focus();
}

// Opens a list and shows it in the editor. Returns a problem, or ''.
export async function openDatabase(name, key) {
  if (state.open && dirty() && !confirm(tr('Discard the unsaved changes to the open database?'))) return tr('Not opened.');
  const result = await openList(name, key);
  if (result.refused) {
    await refreshList();
    return sayOutcome(result.refused, listed(name) ? tr('wrong key') : tr('no such database'));
  }
  if (result) return result;
  state.offer.choices.clear();  // they were made for another list's lines
  showList();
  showScreen('editor');
  say('ok', tr('Opened “{{name}}”.', { name: show(name) }));
  return '';
}

function askOpen(name) {
  keyDialog($('open-dialog'), tr('Open “{{name}}”', { name: show(name) }), '', (key) => openDatabase(name, key));
}

function askRemove(name) {
  const known = state.open && equalBytes(state.open.name, name) ? show(state.open.key) : '';
  $('remove-what').textContent = state.history === 'on'
    ? tr('The list moves to “Recently removed” below, where it can be restored as long as the server keeps its versions.')
    : tr('This deletes the database for good.');
  keyDialog($('remove-dialog'), tr('Remove “{{name}}”?', { name: show(name) }), known, async (key) => {
    const problem = keyProblem(key);
    if (problem) return tr('The key: {{problem}}.', { problem });
    const outcome = await send(state.program, commandBody('r', state.directory, key, name));
    if (outcome.kind !== 'done') return sayOutcome(outcome, tr('wrong key'));
    say('ok', state.history === 'on' ? tr('Removed “{{name}}”. It can be restored under “Recently removed”.', { name: show(name) })
      : tr('Removed “{{name}}”.', { name: show(name) }));
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
  $('create-problem').textContent = problem ? tr('Not created: {{problem}}.', { problem }) : '';
  if (problem) return;
  const outcome = await send(state.program, commandBody('c', state.directory, key, name));
  if (outcome.kind !== 'done') {
    $('create-problem').textContent = sayOutcome(outcome, tr('the name is taken'));
    return;
  }
  $('create-name').value = '';
  $('create-key').value = '';
  await refreshList();
  await openDatabase(name, key);
  say('ok', tr('Created “{{name}}”. It is open in the editor.', { name: show(name) }));
}

async function changeDirectory(dir) {
  if (state.open && dirty() && !confirm(tr('Discard the unsaved changes to the open database?'))) return;
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
