// The offer screen's work (screens/offer.js loads it when the screen is
// first shown): lines of the saved list, priced by the server, with the
// shop's settings, staged as an offer and sent as a link to the landing page
// (offer.html). The preview frame shows the very page the customer gets.
// Staging follows the choices: once they change, the staged link goes.
// The offer and the landing page speak the language chosen here, the
// shop's by default.

import { latin1Bytes } from '../bytes.js';
import { isOfferName, offerLinkQuery, offerTextProblem, storeBody } from '../protocol.js';
import { send } from '../api.js';
import { updateShared } from '../datafile.js';
import { yourName } from '../person.js';
import { tr } from '../i18n.js';
import { buildOffer, offerMail, offerPage } from '../offer.js';
import { formatRate, moneyFormat, toMinor } from '../money.js';
import { addDays } from '../settings.js';
import { viewOf } from '../view.js';
import { gridTable } from '../grid.js';
import { savedList, state } from '../state.js';
import { repriced } from '../list.js';
import { renderFactorChoice } from '../saved_view.js';
import { loadShop } from '../shop.js';
import { $, h, num, say, sayOutcome } from '../ui.js';

// The day as the shop's calendar has it (the browser's time zone), not UTC's:
// just after midnight in Helsinki, UTC is still at yesterday.
const two = (n) => String(n).padStart(2, '0');
const today = (d = new Date()) => `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}`;

// The lines chosen for the offer are kept by their place in the saved list
// (state.offer.choices); choices made under another factor stay.
const { catalogs, choices } = state.offer;
const choiceOf = (i) => choices.get(i) || { checked: false, quantity: '1', discount: '', rate: state.shop?.vatRates[0] ?? '0' };

async function renderOfferLines() {
  const select = $('offer-factor');
  if (!state.open || select.value === '') {
    $('offer-lines').replaceChildren(h('p', { class: 'muted', text: tr('Choose a factor to price the lines.') }));
    $('offer-count').textContent = '';
    return updateOffer();
  }
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  state.offerStale = false;
  const shop = state.shop || (await loadShop());
  let money = null;
  try {
    money = moneyFormat(shop.locale, shop.currency);
  } catch {
    // Unknown settings: the offer says so when it is built.
  }
  const saved = savedList();
  const at = new Map(saved.prices.map((row, i) => [row, i]));
  const rows = viewOf(saved.prices, { query: $('offer-filter').value }, (t) => saved.encoding.encode(t));
  state.offer.rows = rows;
  gridTable($('offer-lines'), {
    label: tr('Lines to offer'),
    columns: [[tr('Offer'), 'c-check'], [tr('Description')], [shop.included ? tr('Unit price incl. VAT') : tr('Unit price excl. VAT'), 'c-money', 1],
      [tr('Quantity'), 'c-qty'], [tr('Discount %'), 'c-qty'], [tr('VAT %'), 'c-vat']],
    count: () => rows.length,
    render: (p) => {
      const row = rows[p];
      const i = at.get(row);
      const label = row.description || tr('line {{n}}', { n: String(i + 1) });
      const was = choiceOf(i);
      const cents = toMinor(texts[i] ?? '', money?.digits ?? 2);
      const rowEl = h('tr', { class: 'row', 'data-line': String(i) },
        h('td', {}, h('input', { type: 'checkbox', checked: was.checked, 'aria-label': tr('Offer {{line}}', { line: label }) })),
        h('td', { text: row.description, title: row.description }),
        // Rounded to cents as the offer shows it; the server's figure on hover.
        h('td', { class: 'num', text: money && cents !== null ? money.format(cents) : texts[i] ?? '', title: texts[i] ?? '' }),
        h('td', { class: 'qty' }, h('input', { type: 'number', min: '0', step: 'any', value: was.quantity, 'aria-label': tr('Quantity of {{line}}', { line: label }) })),
        h('td', { class: 'qty' }, h('input', {
          type: 'number', min: '0', max: '100', step: 'any', value: was.discount ?? '', placeholder: '0', 'data-discount': '',
          'aria-label': tr('Discount in percent on {{line}}', { line: label }),
        })),
        h('td', {}, h('select', { 'aria-label': tr('VAT rate of {{line}}', { line: label }) },
          shop.vatRates.map((r) => h('option', { value: r, text: formatRate(r, shop.locale), selected: r === was.rate })))));
      markQuantity(rowEl.querySelector('input[type="number"]'));
      return rowEl;
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
  const shown = state.offer.rows.length;
  const chosen = [...choices.values()].filter((c) => c.checked).length;
  $('offer-count').textContent = (shown < all ? tr('Showing {{shown}} of {{all}} lines.', { shown: num(shown), all: num(all) }) + ' ' : '') +
    tr(['{{n}} line chosen.', '{{n}} lines chosen.'], { count: chosen, n: num(chosen) });
}

// A change of a box, a quantity or a rate in the table.
function onChoice(event) {
  const rowEl = event.target.closest('tr[data-line]');
  if (!rowEl) return;
  const i = Number(rowEl.dataset.line);
  const [check, quantity, discount] = rowEl.querySelectorAll('input');
  choices.set(i, { checked: check.checked, quantity: quantity.value, discount: discount.value, rate: rowEl.querySelector('select').value });
  markQuantity(quantity);
  const off = Number(discount.value);
  if (discount.value !== '' && !(off >= 0 && off <= 100)) discount.setAttribute('aria-invalid', 'true');
  else discount.removeAttribute('aria-invalid');
  showCount();
  updateOffer();
}

// The language chosen: its words, and the introduction in them where it
// is still the one the last language gave.
async function chooseLanguage() {
  const lang = $('offer-language').value;
  const { loadWords } = await import('../i18n.js');
  if (!catalogs.has(lang)) catalogs.set(lang, loadWords(lang));
  const t = await catalogs.get(lang);
  if (!t) catalogs.delete(lang);
  if ($('offer-language').value !== lang) return;
  const intro = $('offer-intro');
  const { words } = state.offer;
  if (t && intro.value === (words.t ? words.t('offer.intro') : intro.defaultValue)) intro.value = t('offer.intro');
  state.offer.words = { lang, t };
  updateOffer();
}

function chosenLines() {
  if (!state.open) return [];
  const texts = state.prices.get(Number($('offer-factor').value)) || [];
  const { prices } = savedList();
  return [...choices].sort((a, b) => a[0] - b[0])
    .filter(([i, c]) => c.checked && i < prices.length)
    .map(([i, c]) => ({ description: prices[i].description, quantity: c.quantity, discount: c.discount ?? '', unit: texts[i] ?? '', rate: c.rate }));
}

// The offer as the choices make it: { html, totals, lang } or { problem }.
function currentOffer() {
  const shop = state.shop;
  if (!shop) return { problem: tr('the shop settings are not read yet') };
  const { value: lang, selectedOptions: [name] } = $('offer-language');
  const { words } = state.offer;
  if (words.lang !== lang) return { problem: tr('the words for an offer in {{language}} are not read yet', { language: name.text }) };
  if (!words.t) return { problem: tr('the words for an offer in {{language}} could not be read from the server', { language: name.text }) };
  const facts = {
    reference: $('offer-reference').value.trim(), customer: $('offer-customer').value.trim(),
    date: today(), validUntil: $('offer-valid').value, intro: $('offer-intro').value, notes: $('offer-notes').value,
    // Every staged offer can be answered online: the landing page offers it.
    answer: true,
  };
  return { ...buildOffer(shop, facts, chosenLines(), words.t), facts, lang };
}

function takeLinkAway() {
  if (!state.offer.staged) return;
  state.offer.staged = null;
  $('link').value = '';
  $('offer-link').hidden = true;
  say('note', tr('The offer changed since it was staged, so its link is gone: stage it again for a link to this offer.'));
}

function updateOffer() {
  const offer = currentOffer();
  $('offer-problem').textContent = offer.problem && chosenLines().length ? tr('Cannot be staged yet: {{problem}}.', { problem: offer.problem }) : '';
  if (offer.html) $('offer-view').srcdoc = offerPage(offer.html);
  if (state.offer.staged && offer.html !== state.offer.staged.html) takeLinkAway();
}

// The link staff send: the landing page beside the workbench, with the
// offer link's query after "#": a browser sends none of it to a server,
// so the link's secret stays out of logs and Referers. It carries no
// words, only the offer's language code: the page shows none from its
// link, which anyone can write.
function landingLink(query, lang) {
  const landing = new URL('offer.html', location.href);
  const params = new URLSearchParams({ lang });
  const program = state.program.href.replace(/[?#].*$/, '');
  if (program !== new URL('talvenplan.cgi', landing).href) params.set('program', program);
  return landing.href.replace(/[?#].*$/, '') + '#' + query + '&' + params;
}

async function stage() {
  if (!state.offer.words.t) await chooseLanguage();
  if (!chosenLines().length) return say('refused', tr('Not staged: choose at least one line to offer.'));
  const offer = currentOffer();
  if (offer.problem) return say('refused', tr('Not staged: {{problem}}.', { problem: offer.problem }));
  // The offer line first: the register asks with its key whether the offer
  // waits, and withdraws it with that key; the program leaves the line out
  // of the page the customer sees, and the clean-up reads "valid until".
  const { isCalendarDate, newOfferKey, offerLine } = await import('../offer_line.js');
  const { validUntil } = offer.facts;
  if (validUntil && !isCalendarDate(validUntil)) return say('refused', tr('Not staged: “Valid until” is not a date.'));
  const key = newOfferKey();
  const text = latin1Bytes(offerLine(key, validUntil, true) + offer.html);
  const problem = offerTextProblem(text);
  if (problem) return say('refused', tr('Not staged: {{problem}}.', { problem }));
  const outcome = await send(state.program, storeBody(state.directory, text));
  if (outcome.kind !== 'done') return sayOutcome(outcome, '');
  if (!isOfferName(outcome.payload)) return sayOutcome({ kind: 'unexpected', text: tr('an offer name of another form') }, '');
  const name = String.fromCharCode(...outcome.payload);
  const link = landingLink(offerLinkQuery(outcome.payload, state.directory), offer.lang);
  state.offer.staged = { html: offer.html, name, reference: offer.facts.reference, until: offer.facts.validUntil, link, t: state.offer.words.t };
  $('link').value = link;
  mailLink();
  $('offer-link').hidden = false;
  // Choices changed while the offer was on its way: not this link, then.
  if (currentOffer().html !== offer.html) takeLinkAway();
  const total = moneyFormat(state.shop.locale, state.shop.currency).format(offer.totals.gross);
  const failed = await registerOffer({
    name, key, reference: offer.facts.reference, customer: offer.facts.customer, total,
    date: new Date().toISOString(), validUntil: offer.facts.validUntil, link,
  });
  if (failed) sayOutcome(failed, tr('the register file has another key'));
  else say('ok', tr('The offer is staged and in the register. Send the link to the customer: it shows the offer once, on a click.'), { outcome: 'staged' });
  $('link').focus();
  $('link').select();
}

// Adds a staged offer to the register; null when done, else the outcome.
async function registerOffer(entry) {
  const { REGISTER_KEY, REGISTER_NAME, readRegister, registerFile } = await import('../register.js');
  return updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => registerFile([...readRegister(text), entry]),
    (text) => readRegister(text).some((e) => e.name === entry.name));
}

// "Email to customer": the person's own mail program, with the link in the
// offer's words; the register records who sent it and when.
function mailLink() {
  const staged = state.offer.staged;
  if (!staged) return;
  $('mail').href = offerMail({
    to: $('offer-email').value.trim(), reference: staged.reference, shop: state.shop?.name, link: staged.link, until: staged.until,
    locale: state.shop?.locale,
  }, staged.t);
}

async function recordMail() {
  const staged = state.offer.staged;
  if (!staged) return;
  const { REGISTER_KEY, REGISTER_NAME, changeEntry, readRegister } = await import('../register.js');
  const change = { mailed: new Date().toISOString(), mailedBy: yourName() };
  const failed = await updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => changeEntry(text, staged.name, change),
    (text) => readRegister(text).every((e) => e.name !== staged.name || e.mailed));
  if (failed) sayOutcome(failed, tr('the register file has another key'));
}

async function copyLink() {
  const input = $('link');
  try {
    await navigator.clipboard.writeText(input.value);
  } catch {
    input.select();
    if (!document.execCommand('copy')) return say('refused', tr('Could not copy: select the link and copy it by hand.'));
  }
  say('ok', tr('Link copied.'));
}

function wire() {
  // The preview takes the offer's whole height, as the landing page does.
  // Measured in a frame of no height, so that it shrinks with the offer.
  $('offer-view').addEventListener('load', () => {
    const frame = $('offer-view');
    const doc = frame.contentDocument;
    if (!doc?.documentElement) return;
    frame.style.height = '0';
    frame.style.height = doc.documentElement.scrollHeight + 'px';
  });
  $('offer-factor').addEventListener('change', renderOfferLines);
  $('offer-filter').addEventListener('input', renderOfferLines);
  $('offer-lines').addEventListener('input', onChoice);
  $('offer-lines').addEventListener('change', onChoice);
  for (const el of document.querySelectorAll('#offer [data-offer]')) el.addEventListener('input', updateOffer);
  $('offer-language').addEventListener('change', () => {
    $('offer-language').dataset.chosen = 'yes';
    chooseLanguage();
  });
  $('stage').addEventListener('click', stage);
  $('copy').addEventListener('click', copyLink);
  $('offer-email').addEventListener('input', mailLink);
  // The link opens the mail program itself: recording it waits for nothing.
  $('mail').addEventListener('click', () => { recordMail(); });
}

export async function enter() {
  if (!$('offer').dataset.wired) {
    wire();
    $('offer').dataset.wired = 'yes';
  }
  const shop = await loadShop();
  // The shop's language until someone chooses one here.
  const language = $('offer-language');
  const { pickLanguage } = await import('../i18n.js');
  if (!language.dataset.chosen) language.value = pickLanguage(shop.language, [shop.locale]);
  const { words } = state.offer;
  if (words.lang !== language.value || !words.t) await chooseLanguage();
  if (!$('offer-valid').value) $('offer-valid').value = addDays(today(), shop.validityDays);
  const now = new Date();
  if (!$('offer-reference').value) $('offer-reference').value = `T${today(now).replace(/-/g, '')}-${two(now.getHours())}${two(now.getMinutes())}`;
  if (!state.offerStale) return updateOffer();
  renderFactorChoice($('offer-factor'));
  await renderOfferLines();
}
