// The offer a shop sends: its HTML, built from the shop's settings, the
// offer's facts and its lines. The program shows the text inside its own
// fixed page (`offerPage`), whose head has no character set and no viewport:
// so the text is plain ASCII, every other character written as a reference,
// and it brings its own style and viewport. Everything typed is escaped.
// What is stored begins with the offer line (offer_line.js) before this
// HTML; the program leaves that line out of the page. Its words are the
// offer's language's (i18n.js), and it says which language that is.

import { formatRate, moneyFormat, offerTotals, parseDecimal } from './money.js';
import { SETTINGS } from './settings.js';

// The page the program wraps an offer in.
export const OFFER_PAGE_HEAD = '<html><head><title>Offer</title></head><body>\n<h1 align="center">Offer</h1>\n';
export const OFFER_PAGE_TAIL = '</body></html>\n';
export const offerPage = (text) => OFFER_PAGE_HEAD + text + OFFER_PAGE_TAIL;

const escapeHtml = (text) => String(text)
  .replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c])
  .replace(/\r\n?/g, '\n')
  .replace(/[^\x0a\x20-\x7e]/gu, (c) => (c === '\t' ? ' ' : `&#${c.codePointAt(0)};`));

// Lines of text as HTML: blank lines part paragraphs, single newlines break.
function paragraphs(text, cls) {
  const parts = String(text || '').trim().split(/\n\s*\n/).map((p) => p.trim()).filter(Boolean);
  return parts.map((p) => `<p class="${cls}">${escapeHtml(p).replace(/\n/g, '<br>')}</p>\n`).join('');
}
const lineBreaks = (text) => escapeHtml(String(text || '').trim()).replace(/\n/g, '<br>');

// The letterhead's `side`: the shop's settings the table puts there, each
// after its word in the offer's language where it has one.
const letterhead = (shop, side, say) => SETTINGS.filter((s) => s.letterhead === side && shop[s.name])
  .map((s) => `<p>${s.word ? say(s.word) + ' ' : ''}${lineBreaks(shop[s.name])}</p>`).join('');

// A date "2026-12-09" as the locale writes it; anything else as typed.
function formatDate(iso, locale) {
  const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(iso || '');
  if (!m) return String(iso || '');
  const date = new Date(Date.UTC(Number(m[1]), Number(m[2]) - 1, Number(m[3])));
  return new Intl.DateTimeFormat(locale, { year: 'numeric', month: 'numeric', day: 'numeric', timeZone: 'UTC' }).format(date);
}

// The style inside the offer: a letter on screen, readable at 390 px, and
// up to 25 lines on one A4 page in print. The program's page comes with
// the English heading "Offer" before the offer: it is hidden, and the
// offer carries its own in its language, below the shop's letterhead.
const STYLE = `<style>
body{max-width:50rem;margin:0 auto;padding:1.2rem 1rem 2rem;
font:16px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;color:#1b1f24;background:#fff}
body>h1{display:none}
.tp-title{font-size:1.7rem;letter-spacing:.04em;margin:.8rem 0 .4rem}
.tp-shop{display:flex;flex-wrap:wrap;justify-content:space-between;gap:.2rem 2rem;
border-bottom:3px solid #12355b;padding-bottom:.6rem}
.tp-shop p{margin:0}.tp-shopname{font-size:1.35rem;font-weight:700;color:#12355b}
.tp-contact{text-align:right}
.tp-facts{display:grid;grid-template-columns:max-content 1fr;gap:.1rem 1rem;margin:0 0 1rem}
.tp-facts dt{color:#57606a}.tp-facts dd{margin:0;font-weight:600}
table{border-collapse:collapse;width:100%;margin:.8rem 0;font-size:inherit;line-height:inherit}
th,td{padding:.35rem .4rem;border-bottom:1px solid #d0d7de;vertical-align:top;text-align:left}
thead th{font-size:.85em;color:#57606a;border-bottom:2px solid #1b1f24}
.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
.tp-sum td{border-bottom:none;padding-top:.2rem;padding-bottom:.2rem}
.tp-sum tr:first-child td{border-top:2px solid #1b1f24;padding-top:.4rem}
.tp-sum .tp-gross td{font-weight:700;font-size:1.1em;border-top:1px solid #1b1f24}
.tp-note{color:#57606a;font-size:.9em}
.tp-notes,.tp-terms{margin:.6rem 0}
.tp-terms{font-size:.9em}
@media screen and (max-width:34rem){
body{padding:.8rem .7rem 1.5rem}
.tp-contact{text-align:left}
thead{display:none}
table,tbody{display:block}
tr{display:grid;grid-template-columns:auto auto 1fr auto;column-gap:.6rem;border-bottom:1px solid #d0d7de;padding:.35rem 0}
td{border:none;padding:0}
.tp-lines td:first-child{grid-column:1/-1;font-weight:600}
.tp-lines .tp-unit::before{content:"\\00d7  "}
.tp-lines .tp-vat{color:#57606a}
.tp-sum tr{grid-template-columns:1fr auto;border:none;padding:.15rem 0}
.tp-sum tr:first-child{border-top:2px solid #1b1f24;padding-top:.4rem}
.tp-sum tr:first-child td{border:none;padding-top:0}
.tp-sum .tp-gross{border-top:1px solid #1b1f24}
.tp-sum .tp-gross td{border:none}
}
@page{size:A4;margin:12mm 14mm}
@media print{
body{max-width:none;padding:0;font-size:9.5pt;line-height:1.3}
.tp-title{font-size:16pt;margin:3mm 0 2mm}
p{margin:1.5mm 0}
.tp-shopname{font-size:13pt}
th,td{padding:.7mm 1.5mm}
table{margin:2mm 0}
tr{break-inside:avoid}
.tp-contact{text-align:right}
.tp-facts{margin-bottom:2mm}
.tp-notes,.tp-terms{margin:2mm 0}
}
</style>
<meta name="viewport" content="width=device-width, initial-scale=1">
`;

// The offer's HTML. `shop`: the shop's settings (settings.js: name,
// locale, currency, included, terms, and what the letterhead shows);
// `offer`: { reference, date, validUntil, customer, intro, notes, answer }
// (dates as "2026-12-09"; answer: the customer may answer it online, which
// the landing page reads from the article); `lines`: [{ description, quantity, unit, rate, discount }] with
// decimal texts; `t`: the words of the offer's
// language (i18n.js). Numbers and dates follow the shop's locale. Returns
// { html, totals }, or { problem } where a number cannot be used.
export function buildOffer(shop, offer, lines, t) {
  let money;
  try {
    money = moneyFormat(shop.locale || 'en', shop.currency || 'EUR');
  } catch {
    return { problem: `the locale “${shop.locale}” or the currency “${shop.currency}” is not known` };
  }
  if (!lines.length) return { problem: 'the offer has no lines' };
  const totals = offerTotals(lines, { included: !!shop.included, digits: money.digits });
  if (!totals) return { problem: 'a quantity, a price or a VAT rate is not a number' };
  const m = (minor) => escapeHtml(money.format(minor));
  const locale = shop.locale || 'en';
  const rate = (r) => escapeHtml(formatRate(r, locale));
  const manyRates = totals.perRate.length > 1;
  const number = (text) => escapeHtml(/^\s*[+-]?(\d+\.?\d*|\.\d+)\s*$/.test(text)
    ? new Intl.NumberFormat(locale, { maximumFractionDigits: 6 }).format(String(text).trim()) : text);
  const say = (key, values) => escapeHtml(t(key, values));

  const facts = [
    ['offer.reference', offer.reference],
    ['offer.date', formatDate(offer.date, locale)],
    ['offer.validUntil', formatDate(offer.validUntil, locale)],
    ['offer.customer', offer.customer],
  ].filter(([, v]) => v && String(v).trim());
  // A discount column only where a line has a discount.
  const hasDiscount = (line) => (parseDecimal(line.discount ?? '')?.units ?? 0n) !== 0n;
  const discounts = lines.some(hasDiscount);
  const rows = lines.map((line, i) => {
    const { unit, amount } = totals.lines[i];
    return `<tr><td>${escapeHtml(line.description)}</td><td class="n">${number(line.quantity)}</td><td class="n tp-unit">${m(unit)}</td>` +
      (discounts ? `<td class="n tp-discount">${hasDiscount(line) ? rate(line.discount) : ''}</td>` : '') +
      (manyRates ? `<td class="n tp-vat">${rate(line.rate)}</td>` : '') + `<td class="n">${m(amount)}</td></tr>\n`;
  });
  const span = 3 + (manyRates ? 1 : 0) + (discounts ? 1 : 0);
  const foot = (label, value, cls = '') =>
    `<tr${cls ? ` class="${cls}"` : ''}><td colspan="${span}">${label}</td><td class="n">${value}</td></tr>\n`;
  // With several rates, each names the amount it is on, or, where the
  // prices include VAT, the amount it is in.
  const vatRows = totals.perRate.map((r) => foot(manyRates
    ? say(shop.included ? 'offer.vatIn' : 'offer.vatOn', {
      rate: formatRate(r.rate, locale), base: money.format(shop.included ? r.gross : r.net),
    })
    : say('offer.vat', { rate: formatRate(r.rate, locale) }), m(r.vat)));
  const head = (key, cls = '') => `<th${cls ? ` class="${cls}"` : ''}>${say(key)}</th>`;

  const html = STYLE +
    `<article class="tp-offer" lang="${escapeHtml(t.lang)}"${offer.answer ? ' data-answer="1"' : ''}>\n` +
    '<header class="tp-shop"><div>' +
    `<p class="tp-shopname">${escapeHtml(shop.name || '')}</p>` + letterhead(shop, 'left', say) +
    '</div><div class="tp-contact">' + letterhead(shop, 'right', say) + '</div></header>\n' +
    `<h1 class="tp-title">${say('offer.heading')}</h1>\n` +
    '<div class="tp-rest">\n' +
    (facts.length ? '<dl class="tp-facts">' + facts.map(([k, v]) => `<dt>${say(k)}</dt><dd>${escapeHtml(v)}</dd>`).join('') + '</dl>\n' : '') +
    paragraphs(offer.intro, 'tp-intro') +
    '<table>\n<thead><tr>' + head('offer.description') + head('offer.quantity', 'n') + head('offer.unitPrice', 'n') + (discounts ? head('offer.discount', 'n') : '') +
    (manyRates ? head('offer.vatColumn', 'n') : '') + head('offer.amount', 'n') + '</tr></thead>\n<tbody class="tp-lines">\n' + rows.join('') +
    '</tbody>\n<tbody class="tp-sum">\n' + foot(say('offer.netTotal'), m(totals.net)) + vatRows.join('') +
    foot(say('offer.total'), m(totals.gross), 'tp-gross') + '</tbody>\n</table>\n' +
    `<p class="tp-note">${say(shop.included ? 'offer.pricesInclude' : 'offer.pricesExclude')} ` +
    `${say('offer.currency', { currency: shop.currency || 'EUR' })}</p>\n` +
    (offer.notes && offer.notes.trim() ? '<div class="tp-notes">' + paragraphs(offer.notes, 'tp-p') + '</div>\n' : '') +
    (shop.terms && shop.terms.trim() ? '<div class="tp-terms">' + paragraphs(shop.terms, 'tp-p') + '</div>\n' : '') +
    '</div>\n</article>\n';
  return { html, totals };
}

// The mail that carries an offer's link to the customer, as a mailto: URL
// for the person's own mail program, in the offer's words `t`. `to` is the
// customer's address ('' leaves it for the person to fill in); `until` a
// date as "2026-12-16" or ''.
export function offerMail({ to, reference, shop, link, until, locale }, t) {
  const values = { reference: reference || '', shop: shop || '', link, until: until ? formatDate(until, locale || 'en') : '' };
  const subject = t(reference ? 'offer.mailSubject' : 'offer.mailSubjectPlain', values);
  const body = [t('offer.mailBody', values), ...(until ? [t('offer.mailUntil', values)] : []), t('offer.mailAnswer'), t('offer.mailEnd', values)]
    .join('\n\n');
  // Only an address: anything that would add headers or recipients is left out.
  const address = /^[^\s@?&#%,;<>"]+@[^\s@?&#%,;<>"]+$/.test(to || '') ? to : '';
  return `mailto:${address}?subject=${encodeURIComponent(subject)}&body=${encodeURIComponent(body)}`;
}
