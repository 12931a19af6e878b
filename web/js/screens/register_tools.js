// The register screen's work (screens/register.js loads it when the screen
// is first shown): the offers staged from this data directory, and whether
// each still waits, was opened, expired or was withdrawn; a waiting offer
// can be withdrawn. Asking uses none up (register.js says how).

import { describe, send } from '../api.js';
import { readShared, updateShared } from '../datafile.js';
import {
  REGISTER_KEY, REGISTER_NAME, changeEntry, hasKey, offerState, probeBody, probeResult, readRegister, registerFile,
  withdrawBody, withdrawResult,
} from '../register.js';
import { state } from '../state.js';
import { $, h, say, sayOutcome } from '../ui.js';
import { loadShop, shopTime } from '../shop.js';

const WORDS = {
  waiting: 'Waiting',
  opened: 'Opened',
  expired: 'Expired or opened late',
  withdrawn: 'Withdrawn',
  unknown: 'Could not be checked',
  keyless: 'Not known: staged before the register kept offer keys',
};

const when = (iso) => shopTime(new Date(iso));
const label = (e) => e.reference || e.name;

// Who withdrew an offer: there is no login name the page can read (the web
// server keeps the login to itself), so it is the name the person types at
// their first withdrawal, which this browser remembers.
const NAME_KEY = 'talvenplan-your-name';
function yourName() {
  try {
    return localStorage.getItem(NAME_KEY) || '';
  } catch {
    return '';
  }
}
function rememberName(name) {
  try {
    localStorage.setItem(NAME_KEY, name);
  } catch {
    // A browser that keeps nothing asks again next time.
  }
}

// The newest offers first; older ones on request (state.register.showAll),
// so a long register does not make a long page.
const SHOWN = 200;

export async function refresh() {
  if (!state.directory) return say('note', 'Enter the data directory first: the register is kept there.');
  const list = $('register-list');
  const read = await readShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY);
  if (read.outcome) return sayOutcome(read.outcome, '');
  const all = readRegister(read.text).reverse();
  if (!all.length) return list.replaceChildren(h('p', { class: 'muted', text: 'No offers staged from this directory yet.' }));
  const entries = state.register.showAll ? all : all.slice(0, SHOWN);
  const { offerDays } = await loadShop();
  const now = Date.now();
  const rows = new Map();
  list.replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('thead', {}, h('tr', {}, ['Offer', 'Customer', 'Total', 'Staged', 'State', 'Link']
      .map((t) => h('th', { scope: 'col', class: t === 'Total' ? 'num' : null, text: t })),
    h('th', { scope: 'col' }, h('span', { class: 'muted', text: 'Actions' })))),
    h('tbody', {}, entries.map((e) => {
      const row = h('tr', { 'data-offer': e.name },
        h('td', { text: label(e) }), h('td', { text: e.customer || '' }),
        h('td', { class: 'num', text: e.total || '' }), h('td', { text: when(e.date) }), h('td', { text: 'Checking…' }),
        h('td', {}, h('input', { readOnly: true, value: e.link || '', 'aria-label': 'Link of ' + label(e), class: 'reglink' })),
        h('td', { class: 'list-actions' }));
      rows.set(e.name, row);
      return row;
    })))),
  ...(entries.length < all.length ? [h('p', {}, h('button', { type: 'button', onclick: () => { state.register.showAll = true; refresh(); } },
    `Show all ${all.length} offers`))] : []));

  // The register tells of offers withdrawn or found gone, and of offers it
  // has no key for; ask for each of the others, a few at a time.
  const ask = [];
  for (const e of entries) {
    if (e.gone || e.withdrawn || !hasKey(e)) showState(rows.get(e.name), e, offerState(e, null, now, offerDays));
    else ask.push(e);
  }
  const gone = [];
  const next = async () => {
    for (let e; (e = ask.shift());) {
      const waits = probeResult(await send(state.program, probeBody(state.directory, e)));
      showState(rows.get(e.name), e, offerState(e, waits, now, offerDays));
      if (waits === false) gone.push(e.name);
    }
  };
  await Promise.all([next(), next(), next()]);
  // When an offer was first found gone is what tells opened from expired
  // later: keep it in the register.
  if (gone.length) {
    const seen = new Date(now).toISOString();
    const failed = await updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
      (text) => registerFile(readRegister(text).map((e) => (gone.includes(e.name) && !e.gone ? { ...e, gone: seen } : e))),
      (text) => readRegister(text).every((e) => !gone.includes(e.name) || e.gone));
    if (failed) sayOutcome(failed, 'the register file has another key');
  }
  $('register').dataset.checked = 'yes';
}

// An offer's state in its row, and Withdraw while it waits. The key stays
// in the register: nothing on the page shows it.
function showState(row, e, s) {
  const [cell, actions] = [row.cells[4], row.cells[6]];
  cell.className = 'state-' + s;
  row.dataset.state = s;
  cell.replaceChildren(WORDS[s],
    ...(s === 'withdrawn' ? [h('div', { class: 'muted small', text: `by ${e.withdrawnBy || 'someone'}, ${when(e.withdrawn)}` })] : []));
  actions.replaceChildren(...(s === 'waiting'
    ? [h('button', { type: 'button', 'aria-label': 'Withdraw ' + label(e), onclick: () => askWithdraw(e) }, 'Withdraw')] : []));
}

// Withdraws a waiting offer after asking, with the name of who does it.
function askWithdraw(e) {
  const dialog = $('withdraw-dialog');
  const form = dialog.querySelector('form');
  const go = form.querySelector('button[value="withdraw"]');
  $('withdraw-title').textContent = `Withdraw the offer ${label(e)}?`;
  $('withdraw-what').textContent = (e.customer ? `The offer to ${e.customer}. ` : '') +
    'Its link stops working: a customer who opens it is told that the offer was withdrawn. This cannot be undone.';
  $('withdraw-by').value = yourName();
  $('withdraw-problem').textContent = '';
  form.onsubmit = async (event) => {
    event.preventDefault();
    if (event.submitter?.value === 'cancel') return dialog.close();
    const by = $('withdraw-by').value.trim();
    if (!by) {
      $('withdraw-problem').textContent = 'Give your name: the register keeps who withdrew the offer.';
      return $('withdraw-by').focus();
    }
    rememberName(by);
    go.disabled = true;
    const problem = await withdraw(e, by);
    go.disabled = false;
    if (problem) {
      $('withdraw-problem').textContent = problem;
      return;
    }
    dialog.close();
    refresh();
  };
  dialog.showModal();
  (yourName() ? go : $('withdraw-by')).focus();
}

// Sends the withdrawal and records it. Returns a problem to show in the
// dialog, or '' once the page has said what came of it.
async function withdraw(e, by) {
  const outcome = await send(state.program, withdrawBody(state.directory, e));
  const result = withdrawResult(outcome);
  if (result === 'gone') {
    say('refused', `Not withdrawn: the offer ${label(e)} is not there any more. It was opened or cleaned away first.`);
    return '';
  }
  if (result === 'refused') return 'Not withdrawn: the offer under this name does not take the key the register kept for it.';
  if (!result) return describe(outcome, '').text;
  const at = new Date().toISOString();
  const failed = await updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => changeEntry(text, e.name, { withdrawn: at, withdrawnBy: by }),
    (text) => readRegister(text).every((x) => x.name !== e.name || x.withdrawn));
  if (failed) {
    say('failed', `The offer ${label(e)} is withdrawn and its link no longer shows it, but the register could not record that: ` +
      describe(failed, 'the register file has another key').text);
  } else {
    say('ok', `Withdrew the offer ${label(e)}. Its link now tells the customer that the offer was withdrawn.`);
  }
  return '';
}

export function enter() {
  state.register.showAll = false;
  delete $('register').dataset.checked;
  refresh();
}
