// The register screen's work (screens/register.js loads it when the screen
// is first shown): the offers staged from this data directory, and whether
// each still waits, was opened, expired or was withdrawn; a waiting offer
// can be withdrawn. Asking uses none up (register.js says how).

import { describe, send } from '../api.js';
import { readShared, updateShared } from '../datafile.js';
import {
  REGISTER_KEY, REGISTER_NAME, changeEntry, hasKey, offerState, probeBody, probeResult, readRegister, readSlot, registerFile,
  slotBody, withdrawBody, withdrawResult,
} from '../register.js';
import { rememberName, yourName } from '../person.js';
import { tr } from '../i18n.js';
import { state } from '../state.js';
import { $, h, say, sayOutcome } from '../ui.js';
import { loadShop, shopTime } from '../shop.js';

const WORDS = () => ({
  waiting: tr('Waiting'),
  opened: tr('Opened'),
  expired: tr('Expired or opened late'),
  withdrawn: tr('Withdrawn'),
  accepted: tr('Accepted'),
  declined: tr('Declined'),
  unknown: tr('Could not be checked'),
  keyless: tr('Not known: staged before the register kept offer keys'),
});

const when = (iso) => shopTime(new Date(iso));
const label = (e) => e.reference || e.name;

// The newest offers first; older ones on request (state.register.showAll),
// so a long register does not make a long page.
const SHOWN = 200;

export async function refresh() {
  if (!state.directory) return say('note', tr('Enter the data directory first: the register is kept there.'));
  const list = $('register-list');
  const read = await readShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY);
  if (read.outcome) return sayOutcome(read.outcome, '');
  const all = readRegister(read.text).reverse();
  if (!all.length) return list.replaceChildren(h('p', { class: 'muted', text: tr('No offers staged from this directory yet.') }));
  const entries = state.register.showAll ? all : all.slice(0, SHOWN);
  const { offerDays } = await loadShop();
  const now = Date.now();
  const rows = new Map();
  list.replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('thead', {}, h('tr', {}, [tr('Offer'), tr('Customer'), tr('Total'), tr('Staged'), tr('State'), tr('Link')]
      .map((text, i) => h('th', { scope: 'col', class: i === 2 ? 'num' : null, text })),
    h('th', { scope: 'col' }, h('span', { class: 'muted', text: tr('Actions') })))),
    h('tbody', {}, entries.map((e) => {
      const row = h('tr', { 'data-offer': e.name },
        h('td', { text: label(e) }), h('td', { text: e.customer || '' }),
        h('td', { class: 'num', text: e.total || '' }), h('td', {}, when(e.date), ...sentDetails(e)), h('td', { text: tr('Checking…') }),
        h('td', {}, h('input', { readOnly: true, value: e.link || '', 'aria-label': tr('Link of {{offer}}', { offer: label(e) }), class: 'reglink' })),
        h('td', { class: 'list-actions' }));
      rows.set(e.name, row);
      return row;
    })))),
  ...(entries.length < all.length ? [h('p', {}, h('button', { type: 'button', onclick: () => { state.register.showAll = true; refresh(); } },
    tr('Show all {{n}} offers', { n: all.length })))] : []));

  // The register tells of offers withdrawn or answered, and of offers it
  // has no key for; ask for each of the others, a few at a time: whether
  // it waits, and once it does not, what its answer slot knows.
  const ask = [];
  for (const e of entries) {
    if (e.withdrawn || e.answer || !hasKey(e)) showState(rows.get(e.name), e, offerState(e, null, now, offerDays));
    else ask.push(e);
  }
  const learned = new Map();  // name: what to keep of it in the register
  const next = async () => {
    for (let e; (e = ask.shift());) {
      const waits = e.gone ? false : probeResult(await send(state.program, probeBody(state.directory, e)));
      const change = {};
      // When an offer was first found gone is what tells opened from
      // expired later, where there is no slot to say.
      if (waits === false && !e.gone) change.gone = new Date(now).toISOString();
      // The slot also says who staged the offer: asked once while it waits.
      if (waits === false || !('stagedBy' in e)) {
        const slot = readSlot(await send(state.program, slotBody(state.directory, e)));
        if (slot?.opened && !e.opened) change.opened = slot.opened;
        if (slot?.answer) change.answer = slot.answer;
        if (slot && !('stagedBy' in e)) change.stagedBy = slot.by ?? '';
      }
      Object.assign(e, change);
      if (Object.keys(change).length) learned.set(e.name, change);
      showState(rows.get(e.name), e, offerState(e, waits, now, offerDays));
    }
  };
  await Promise.all([next(), next(), next()]);
  // The slot goes with the clean-up: keep what it told in the register.
  if (learned.size) {
    const failed = await updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
      (text) => registerFile(readRegister(text).map((e) => (learned.has(e.name) ? { ...learned.get(e.name), ...e, ...answered(learned.get(e.name)) } : e))),
      (text) => readRegister(text).every((e) => !learned.has(e.name) || Object.keys(learned.get(e.name)).every((k) => k in e)));
    if (failed) sayOutcome(failed, tr('the register file has another key'));
  }
  $('register').dataset.checked = 'yes';
}

// An offer's state in its row, and Withdraw while it waits. The key stays
// in the register: nothing on the page shows it.
function showState(row, e, s) {
  const [cell, actions] = [row.cells[4], row.cells[6]];
  cell.className = 'state-' + s;
  row.dataset.state = s;
  cell.replaceChildren(WORDS()[s], ...stateDetails(e, s));
  actions.replaceChildren(...(s === 'waiting'
    ? [h('button', { type: 'button', 'aria-label': tr('Withdraw {{offer}}', { offer: label(e) }), onclick: () => askWithdraw(e) }, tr('Withdraw'))] : []));
}

// Who staged an offer (the login the web server gave the program, where
// there is one) and who mailed it from here.
function sentDetails(e) {
  return [h('div', { class: 'muted small', text: tr('by {{name}}', { name: e.stagedBy || '—' }) }),
    ...(e.mailed ? [h('div', { class: 'muted small', text: tr('mailed {{when}} by {{name}}', { when: when(e.mailed), name: e.mailedBy || '—' }) })] : [])];
}

// An answer found replaces none; what else was found keeps what another
// page recorded first.
const answered = (change) => (change.answer ? { answer: change.answer } : {});

// Who and when, under the state: the customer's answer with its message,
// and whether the offer they answered is the one staged.
function stateDetails(e, s) {
  const small = (text) => h('div', { class: 'muted small', text });
  if (s === 'withdrawn') return [small(tr('by {{name}}, {{when}}', { name: e.withdrawnBy || '—', when: when(e.withdrawn) }))];
  if (s === 'opened' && e.opened) return [small(when(e.opened))];
  if (s !== 'accepted' && s !== 'declined') return [];
  const { name, message, at, matched } = e.answer;
  return [small(tr('by {{name}}, {{when}}', { name, when: when(at) })), ...(message ? [h('div', { class: 'answer-message', text: message })] : []),
    matched ? small(tr('The offer answered is the one staged.'))
      : h('div', { class: 'problem small', text: tr('The offer answered differs from the one staged: check with the customer.') })];
}

// Withdraws a waiting offer after asking, with the name of who does it.
function askWithdraw(e) {
  const dialog = $('withdraw-dialog');
  const form = dialog.querySelector('form');
  const go = form.querySelector('button[value="withdraw"]');
  $('withdraw-title').textContent = tr('Withdraw the offer {{offer}}?', { offer: label(e) });
  $('withdraw-what').textContent = (e.customer ? tr('The offer to {{customer}}.', { customer: e.customer }) + ' ' : '') +
    tr('Its link stops working: a customer who opens it is told that the offer was withdrawn. This cannot be undone.');
  $('withdraw-by').value = yourName();
  $('withdraw-problem').textContent = '';
  form.onsubmit = async (event) => {
    event.preventDefault();
    if (event.submitter?.value === 'cancel') return dialog.close();
    const by = $('withdraw-by').value.trim();
    if (!by) {
      $('withdraw-problem').textContent = tr('Give your name: the register keeps who withdrew the offer.');
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
    say('refused', tr('Not withdrawn: the offer {{offer}} is not there any more. It was opened or cleaned away first.', { offer: label(e) }));
    return '';
  }
  if (result === 'refused') return tr('Not withdrawn: the offer under this name does not take the key the register kept for it.');
  if (!result) return describe(outcome, '').text;
  const at = new Date().toISOString();
  const failed = await updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => changeEntry(text, e.name, { withdrawn: at, withdrawnBy: by }),
    (text) => readRegister(text).every((x) => x.name !== e.name || x.withdrawn));
  if (failed) {
    say('failed', tr('The offer {{offer}} is withdrawn and its link no longer shows it, but the register could not record that: {{reason}}', {
      offer: label(e), reason: describe(failed, tr('the register file has another key')).text }));
  } else {
    say('ok', tr('Withdrew the offer {{offer}}. Its link now tells the customer that the offer was withdrawn.', { offer: label(e) }));
  }
  return '';
}

export function enter() {
  state.register.showAll = false;
  delete $('register').dataset.checked;
  refresh();
}
