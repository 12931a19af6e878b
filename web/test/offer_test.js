// The offer's HTML and the checks the page makes before it sends anything.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { offerHtml, offerPage, OFFER_PAGE_HEAD, OFFER_PAGE_TAIL } from '../js/offer.js';
import { moneyText } from '../js/money.js';
import { text, vectors } from './vectors.js';

test("the preview frame wraps the offer as the server's page does", (t) => {
  const rows = vectors('offer_page.tsv');
  if (!rows) return t.skip('no offer page vector yet');
  const [[before, after]] = rows;
  assert.equal(OFFER_PAGE_HEAD, text(before));
  assert.equal(OFFER_PAGE_TAIL, text(after));
  assert.equal(offerPage('x'), text(before) + 'x' + text(after));
});

test('typed text is escaped, and nothing beyond ASCII is sent raw', () => {
  const html = offerHtml('Dear <i>Ms</i> & "co",\n\nKöln\u{1F600}', [{ description: "Table <b>'", quantity: 3, unit: 5 }]);
  assert.match(html, /^<p>Dear &lt;i&gt;Ms&lt;\/i&gt; &amp; &quot;co&quot;,<\/p>\n<p>K&#246;ln&#128512;<\/p>\n/);
  assert.match(html, /<td>Table &lt;b&gt;&#39;<\/td><td align="right">3<\/td><td align="right">5.00<\/td><td align="right">15.00<\/td>/);
  assert.match(html, /Total<\/th><th align="right">15.00</);
  assert.doesNotMatch(html, /[^\x09\x0a\x0d\x20-\x7e]/);
});

test('money is shown with two decimals, other texts as they are', () => {
  for (const [server, shown] of [['44.200001', '44.20'], ['169.575005', '169.58'], ['-0.000000', '0.00'], ['12,50', '12,50'], ['', ''], ['nan', 'nan']]) {
    assert.equal(moneyText(server), shown, server);
  }
});
