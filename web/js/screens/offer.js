// The offer screen: lines of the saved list, priced by the server, staged
// as an offer page the customer opens once. The offer's HTML is built in
// ../offer.js.

import { latin1Bytes } from '../bytes.js';
import { isOfferName, offerLinkQuery, offerTextProblem, storeBody } from '../protocol.js';
import { send } from '../api.js';
import { offerHtml, offerPage } from '../offer.js';
import { moneyText } from '../money.js';
import { state } from '../state.js';
import { repriced } from '../list.js';
import { $, h, say, sayOutcome } from '../ui.js';
import { renderFactorChoice } from './preview.js';

export async function renderOfferLines() {
  const select = $('offer-factor');
  if (select.value === '') {
    $('offer-lines').replaceChildren(h('p', { class: 'muted', text: 'Choose a factor to price the lines.' }));
    return updateOffer();
  }
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  state.offerStale = false;
  // Choices made under another factor stay.
  const before = new Map();
  for (const tr of document.querySelectorAll('#offer-lines tr[data-line]')) {
    const [check, quantity] = tr.querySelectorAll('input');
    before.set(tr.dataset.line, { checked: check.checked, quantity: quantity.value });
  }
  const { saved } = state.open;
  $('offer-lines').replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('caption', { text: 'Lines to offer' }),
    h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Offer' }), h('th', { scope: 'col', text: 'Description' }),
      h('th', { scope: 'col', class: 'num', text: 'Unit price' }), h('th', { scope: 'col', text: 'Quantity' }))),
    h('tbody', {}, saved.prices.map((row, i) => {
      const label = row.description || `line ${i + 1}`;
      const was = before.get(String(i)) || { checked: false, quantity: '1' };
      return h('tr', { 'data-line': String(i) },
        h('td', {}, h('input', { type: 'checkbox', checked: was.checked, 'aria-label': 'Offer ' + label, onchange: updateOffer })),
        h('td', { text: row.description }),
        // Rounded to cents as the offer shows it, not the server's 39.920001.
        h('td', { class: 'num', text: moneyText(texts[i] ?? '') }),
        h('td', { class: 'qty' }, h('input', { type: 'number', min: '0', step: 'any', value: was.quantity, 'aria-label': 'Quantity of ' + label, oninput: updateOffer })));
    })))));
  updateOffer();
}

function chosenLines() {
  const texts = state.prices.get(Number($('offer-factor').value)) || [];
  const lines = [];
  for (const tr of document.querySelectorAll('#offer-lines tr[data-line]')) {
    const [check, quantity] = tr.querySelectorAll('input');
    const q = Number(quantity.value);
    const bad = quantity.value === '' || !(q >= 0);
    if (bad) quantity.setAttribute('aria-invalid', 'true');
    else quantity.removeAttribute('aria-invalid');
    if (!check.checked) continue;
    const i = Number(tr.dataset.line);
    lines.push({ description: state.open.saved.prices[i].description, quantity: bad ? NaN : q, unit: Number(texts[i]) });
  }
  return lines;
}

function updateOffer() {
  const lines = chosenLines().filter((l) => Number.isFinite(l.quantity) && Number.isFinite(l.unit));
  $('offer-view').srcdoc = offerPage(offerHtml($('offer-intro').value, lines));
}

async function stage() {
  const lines = chosenLines();
  if (!lines.length) return say('refused', 'Not staged: choose at least one line to offer.');
  if (lines.some((l) => !Number.isFinite(l.quantity))) return say('refused', 'Not staged: a quantity is not a number.');
  if (lines.some((l) => !Number.isFinite(l.unit))) return say('refused', 'Not staged: a line has no price the page can total.');
  const text = latin1Bytes(offerHtml($('offer-intro').value, lines));
  const problem = offerTextProblem(text);
  if (problem) return say('refused', 'Not staged: ' + problem + '.');
  const outcome = await send(state.program, storeBody(state.directory, text));
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  if (!isOfferName(outcome.payload)) return sayOutcome({ kind: 'unexpected', text: 'an offer name of another form' }, '');
  const link = state.program.href.replace(/[?#].*$/, '') + '?' + offerLinkQuery(outcome.payload, state.directory);
  $('link').value = link;
  $('open-link').href = link;
  $('offer-link').hidden = false;
  say('ok', 'The offer is staged. Send the link to the customer: it shows the offer once.');
  $('link').focus();
  $('link').select();
}

async function copyLink() {
  const input = $('link');
  try {
    await navigator.clipboard.writeText(input.value);
  } catch {
    input.select();
    if (!document.execCommand('copy')) return say('refused', 'Could not copy: select the link and copy it by hand.');
  }
  say('ok', 'Link copied.');
}

export function init() {
  $('offer-factor').addEventListener('change', renderOfferLines);
  $('offer-intro').addEventListener('input', updateOffer);
  $('stage').addEventListener('click', stage);
  $('copy').addEventListener('click', copyLink);
}

export const screen = {
  enter() {
    if (!state.offerStale) return;
    renderFactorChoice($('offer-factor'));
    renderOfferLines();
  },
};
