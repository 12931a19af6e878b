// The offer screen: lines of the saved list, priced by the server, staged
// as an offer page the customer opens once. The offer's HTML is built in
// ../offer.js.

import { latin1Bytes } from '../bytes.js';
import { isOfferName, offerLinkQuery, offerTextProblem, storeBody } from '../protocol.js';
import { send } from '../api.js';
import { offerHtml, offerPage } from '../offer.js';
import { moneyText } from '../money.js';
import { viewOf } from '../view.js';
import { gridTable } from '../grid.js';
import { savedList, state } from '../state.js';
import { repriced } from '../list.js';
import { $, h, num, say, sayOutcome } from '../ui.js';
import { renderFactorChoice, unsavedNote } from './preview.js';

// The lines chosen for the offer, by their place in the saved list:
// { checked, quantity } as typed. Choices made under another factor stay.
const choices = new Map();
const shown = { rows: [], at: new Map() };

const choiceOf = (i) => choices.get(i) || { checked: false, quantity: '1' };

export async function renderOfferLines() {
  const select = $('offer-factor');
  if (!state.open || select.value === '') {
    $('offer-lines').replaceChildren(h('p', { class: 'muted', text: 'Choose a factor to price the lines.' }));
    $('offer-count').textContent = '';
    return updateOffer();
  }
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  state.offerStale = false;
  const saved = savedList();
  shown.at = new Map(saved.prices.map((row, i) => [row, i]));
  shown.rows = viewOf(saved.prices, { query: $('offer-filter').value }, (t) => saved.encoding.encode(t));
  gridTable($('offer-lines'), {
    label: 'Lines to offer',
    columns: [['Offer', 'c-check'], ['Description'], ['Unit price', 'c-money', 1], ['Quantity', 'c-qty']],
    count: () => shown.rows.length,
    render: (p) => {
      const row = shown.rows[p];
      const i = shown.at.get(row);
      const label = row.description || `line ${i + 1}`;
      const was = choiceOf(i);
      const tr = h('tr', { class: 'row', 'data-line': String(i) },
        h('td', {}, h('input', { type: 'checkbox', checked: was.checked, 'aria-label': 'Offer ' + label })),
        h('td', { text: row.description, title: row.description }),
        // Rounded to cents as the offer shows it; the server's figure on hover.
        h('td', { class: 'num', text: moneyText(texts[i] ?? ''), title: texts[i] ?? '' }),
        h('td', { class: 'qty' }, h('input', { type: 'number', min: '0', step: 'any', value: was.quantity, 'aria-label': 'Quantity of ' + label })));
      markQuantity(tr.querySelector('input[type="number"]'));
      return tr;
    },
  });
  showCount();
  updateOffer();
}

function markQuantity(input) {
  const q = Number(input.value);
  if (input.value === '' || !(q >= 0)) input.setAttribute('aria-invalid', 'true');
  else input.removeAttribute('aria-invalid');
}

function showCount() {
  const all = savedList().prices.length;
  const chosen = [...choices.values()].filter((c) => c.checked).length;
  $('offer-count').textContent = (shown.rows.length < all ? `Showing ${num(shown.rows.length)} of ${num(all)} lines. ` : '') +
    `${chosen} line${chosen === 1 ? '' : 's'} chosen.`;
}

// A change of a box or a quantity in the table.
function onChoice(event) {
  const tr = event.target.closest('tr[data-line]');
  if (!tr) return;
  const i = Number(tr.dataset.line);
  const [check, quantity] = tr.querySelectorAll('input');
  choices.set(i, { checked: check.checked, quantity: quantity.value });
  markQuantity(quantity);
  showCount();
  updateOffer();
}

function chosenLines() {
  const texts = state.prices.get(Number($('offer-factor').value)) || [];
  const lines = [];
  for (const [i, { checked, quantity }] of [...choices].sort((a, b) => a[0] - b[0])) {
    if (!checked || i >= savedList().prices.length) continue;
    const q = Number(quantity);
    const bad = quantity === '' || !(q >= 0);
    lines.push({ description: savedList().prices[i].description, quantity: bad ? NaN : q, unit: Number(texts[i]) });
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
  $('offer-filter').addEventListener('input', renderOfferLines);
  $('offer-lines').addEventListener('input', onChoice);
  $('offer-lines').addEventListener('change', onChoice);
  $('offer-intro').addEventListener('input', updateOffer);
  $('stage').addEventListener('click', stage);
  $('copy').addEventListener('click', copyLink);
}

// A new list, or a new save of it: the choices were made for other lines.
export function forgetChoices() {
  choices.clear();
}

export const screen = {
  enter() {
    unsavedNote($('offer-note'));
    if (!state.offerStale) return;
    renderFactorChoice($('offer-factor'));
    renderOfferLines();
  },
};
