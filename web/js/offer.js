// The offer's HTML, as the workbench stages it and shows it before staging.
// Pure: node's tests call these directly.
//
// Everything typed or read from the list is escaped, and characters beyond
// ASCII are written as references, so the page reads right whatever
// character set the browser assumes.

import { centsText } from './money.js';

export const escapeHtml = (text) => text
  .replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c])
  .replace(/[^\x09\x0a\x0d\x20-\x7e]/gu, (c) => `&#${c.codePointAt(0)};`);

// The offer text: the introduction's paragraphs, then a table of `lines`
// ({ description, quantity, unit }) with a total.
export function offerHtml(intro, lines) {
  const paragraphs = intro.trim().split(/\n\s*\n/).filter(Boolean)
    .map((p) => '<p>' + escapeHtml(p.trim()).replace(/\n/g, '<br>\n') + '</p>\n');
  let total = 0;
  const rows = lines.map(({ description, quantity, unit }) => {
    const cents = Math.round(unit * quantity * 100);
    total += cents;
    return `<tr><td>${escapeHtml(description)}</td><td align="right">${escapeHtml(String(quantity))}</td>` +
      `<td align="right">${unit.toFixed(2)}</td><td align="right">${centsText(cents)}</td></tr>\n`;
  });
  return paragraphs.join('') +
    '<table border="1" cellpadding="6" cellspacing="0">\n' +
    '<tr><th align="left">Item</th><th align="right">Quantity</th><th align="right">Unit price</th><th align="right">Amount</th></tr>\n' +
    rows.join('') +
    `<tr><th align="left" colspan="3">Total</th><th align="right">${centsText(total)}</th></tr>\n</table>\n`;
}

// The page the program wraps an offer text in, for the preview frame.
export const OFFER_PAGE_HEAD = '<html><head><title>Offer</title></head><body>\n<h1 align="center">Offer</h1>\n';
export const OFFER_PAGE_TAIL = '</body></html>\n';
export const offerPage = (text) => OFFER_PAGE_HEAD + text + OFFER_PAGE_TAIL;
