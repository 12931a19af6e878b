// The register screen: the offers staged from this data directory, and
// whether each still waits, was opened or expired. Asking uses none up
// (register.js says how).

import { send } from '../api.js';
import { readShared, updateShared } from '../datafile.js';
import { REGISTER_KEY, REGISTER_NAME, offerState, probeBody, probeResult, readRegister, registerFile } from '../register.js';
import { state } from '../state.js';
import { $, h, say, sayOutcome } from '../ui.js';
import { loadShop } from './settings.js';

const WORDS = {
  waiting: 'Waiting',
  opened: 'Opened',
  expired: 'Expired or opened late',
  unknown: 'Could not be checked',
};

const when = (iso) => new Date(iso).toLocaleString(undefined, { dateStyle: 'medium', timeStyle: 'short' });

// Adds a staged offer to the register; null when done, else the outcome.
export function registerOffer(entry) {
  return updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => registerFile([...readRegister(text), entry]),
    (text) => readRegister(text).some((e) => e.name === entry.name));
}

// The newest offers first; older ones on request, so a long register does
// not make a long page.
const SHOWN = 200;
let showAll = false;

async function refresh() {
  if (!state.directory) return say('note', 'Enter the data directory first: the register is kept there.');
  const list = $('register-list');
  const read = await readShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY);
  if (read.outcome) return sayOutcome(read.outcome, '');
  const all = readRegister(read.text).reverse();
  if (!all.length) return list.replaceChildren(h('p', { class: 'muted', text: 'No offers staged from this directory yet.' }));
  const entries = showAll ? all : all.slice(0, SHOWN);
  const { offerDays } = await loadShop();
  const now = Date.now();
  const cells = new Map();
  list.replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('thead', {}, h('tr', {}, ['Offer', 'Customer', 'Total', 'Staged', 'State', 'Link']
      .map((t) => h('th', { scope: 'col', class: t === 'Total' ? 'num' : null, text: t })))),
    h('tbody', {}, entries.map((e) => {
      const cell = h('td', { text: e.gone ? WORDS[offerState(e, false, now, offerDays)] : 'Checking…' });
      cells.set(e.name, cell);
      return h('tr', { 'data-offer': e.name },
        h('td', { text: e.reference || e.name }), h('td', { text: e.customer || '' }),
        h('td', { class: 'num', text: e.total || '' }), h('td', { text: when(e.date) }), cell,
        h('td', {}, h('input', { readOnly: true, value: e.link || '', 'aria-label': 'Link of ' + (e.reference || e.name), class: 'reglink' })));
    })))),
  ...(entries.length < all.length ? [h('p', {}, h('button', { type: 'button', onclick: () => { showAll = true; refresh(); } },
    `Show all ${all.length} offers`))] : []));

  // Ask for each offer not yet known to be gone, a few at a time.
  const ask = entries.filter((e) => !e.gone);
  const gone = [];
  const next = async () => {
    for (let e; (e = ask.shift());) {
      const exists = probeResult(await send(state.program, probeBody(state.directory, e.name)));
      const s = exists === null ? 'unknown' : offerState(e, exists, now, offerDays);
      cells.get(e.name).textContent = WORDS[s];
      cells.get(e.name).className = 'state-' + s;
      if (exists === false) gone.push(e.name);
    }
  };
  await Promise.all([next(), next(), next()]);
  for (const e of entries.filter((x) => x.gone)) cells.get(e.name).className = 'state-' + offerState(e, false, now, offerDays);
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

export function init() {
  $('register-check').addEventListener('click', refresh);
}

export const screen = {
  enter() {
    showAll = false;
    delete $('register').dataset.checked;
    refresh();
  },
};
