// The offer's money and its HTML: rounding and VAT by the case tables in
// tests/vectors/, the shop's locale, totals that add up, and escaping.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { words } from '../js/i18n.js';
import { lineAmount, moneyFormat, moneyText, offerTotals, toMinor, vatOf } from '../js/money.js';
import { OFFER_PAGE_HEAD, OFFER_PAGE_TAIL, buildOffer, offerPage } from '../js/offer.js';
import { isOfferKey, newOfferKey, offerLine, readOfferLine } from '../js/offer_line.js';
import { text, vectors } from './vectors.js';

const english = words('en', JSON.parse(readFileSync(new URL('../i18n/en.json', import.meta.url), 'utf8')));
const minor = (field) => (text(field) === '-' ? null : BigInt(text(field)));

test('a unit price is rounded to cents first, and the amount from it', () => {
  for (const [quantity, unit, digits, unitMinor, amount] of vectors('amounts.tsv')) {
    const label = `${text(quantity)} × ${text(unit)}`;
    const rounded = toMinor(text(unit), Number(text(digits)));
    assert.equal(rounded, minor(unitMinor), label);
    assert.equal(rounded === null ? null : lineAmount(text(quantity), rounded), minor(amount), label);
  }
  // A discount is taken off the line's amount, rounded once; one out of 0 to
  // 100 makes no amount.
  for (const [quantity, unitMinor, discount, amount] of [
    ['3', 1999n, '', 5997n], ['3', 1999n, '10', 5397n], ['3', 1999n, '12.5', 5247n], ['0.5', 999n, '33.3', 333n],
    ['2', 1000n, '100', 0n], ['2', 1000n, '0', 2000n], ['2', 1000n, '100.01', null], ['2', 1000n, '-5', null], ['2', 1000n, 'ten', null],
  ]) assert.equal(lineAmount(quantity, unitMinor, discount), amount, `${quantity} × ${unitMinor} - ${discount} %`);
  for (const [amount, rate, included, vat] of vectors('vat.tsv')) {
    assert.equal(vatOf(BigInt(text(amount)), text(rate), text(included) === 'yes'), BigInt(text(vat)), text(rate));
  }
});

test("the preview frame wraps the offer as the server's page does", () => {
  const [[before, after]] = vectors('offer_page.tsv');
  assert.equal(OFFER_PAGE_HEAD, text(before));
  assert.equal(OFFER_PAGE_TAIL, text(after));
  assert.equal(offerPage('x'), text(before) + 'x' + text(after));
});

test('amounts are written as the shop\'s locale writes them; the workbench shows two decimals', () => {
  for (const [server, shown] of [['44.200001', '44.20'], ['169.575005', '169.58'], ['-0.000000', '0.00'], ['12,50', '12,50'], ['', ''], ['nan', 'nan']]) {
    assert.equal(moneyText(server), shown, server);
  }
  for (const [locale, currency, minor, shown] of [['fi-FI', 'EUR', 123450n, '1 234,50 €'], ['en-GB', 'GBP', -5n, '-£0.05'], ['ja-JP', 'JPY', 1234n, '￥1,234']]) {
    assert.equal(moneyFormat(locale, currency).format(minor).replace(/[\u00a0\u202f]/g, ' '), shown, locale);
  }
});

test('the totals are sums of the amounts shown, with or without VAT in the prices', () => {
  const lines = [
    { quantity: '24', unit: '0.952000', rate: '14' },
    { quantity: '3', unit: '39.920001', rate: '25.5' },
    { quantity: '1', unit: '0.99', rate: '25.50' },
  ];
  for (const included of [false, true]) {
    const t = offerTotals(lines, { included });
    assert.deepEqual(t.lines.map((l) => l.amount), [2280n, 11976n, 99n]);
    assert.deepEqual(t.perRate.map((r) => r.rate), ['14', '25.5'], 'one row a rate');
    const shown = t.lines.reduce((sum, l) => sum + l.amount, 0n);
    assert.equal(included ? t.gross : t.net, shown);
    assert.equal(t.net + t.vat, t.gross);
    for (const r of t.perRate) assert.equal(r.net + r.vat, r.gross);
    assert.deepEqual(t.perRate.map((r) => r.vat), included ? [280n, 2453n] : [319n, 3079n]);
  }
  assert.equal(offerTotals([{ quantity: '1', unit: '12,50', rate: '24' }]), null);
  const discounted = buildOffer({ locale: 'fi-FI', currency: 'EUR' }, {}, [...lines.slice(0, 2), { ...lines[2], discount: '10' }], english);
  assert.deepEqual(discounted.totals.lines.map((l) => l.amount), [2280n, 11976n, 89n]);
  assert.match(discounted.html, /<th class="n">Discount<\/th>/);
  assert.match(discounted.html, /<td class="n tp-discount"><\/td>.*\n.*<td class="n tp-discount">10&#160;%<\/td>/);
  assert.doesNotMatch(buildOffer({ locale: 'fi-FI' }, {}, lines, english).html, /Discount/, 'no column without discounts');
});

test('the offer is ASCII and escapes everything typed', () => {
  const evil = '<script>alert("x")</script> & \'ä\' €';
  const shop = { name: evil, address: 'Rantakatu 1\n00100 Helsinki', contact: evil, vatNumber: evil, locale: 'fi-FI',
    currency: 'EUR', included: false, terms: evil };
  const offer = { reference: evil, date: '2026-12-09', validUntil: '2026-12-16', customer: evil, intro: evil, notes: evil };
  const { html, totals } = buildOffer(shop, offer, [{ description: evil, quantity: '24', unit: '0.952000', rate: '24' }], english);
  assert.equal(totals.gross, 2827n);
  assert.match(html, /^[\x09\x0a\x20-\x7e]*$/, 'plain ASCII');
  assert.doesNotMatch(html, /<script|alert\("/);
  assert.equal((html.match(/&lt;script&gt;alert\(&quot;x&quot;\)&lt;\/script&gt; &amp; &#39;&#228;&#39; &#8364;/g) || []).length, 9);
  assert.match(html, /Rantakatu 1<br>00100 Helsinki/);
  assert.match(html, /<dt>Valid until<\/dt><dd>16\.12\.2026<\/dd>/);
  assert.match(html, /0,95&#160;&#8364;<\/td><td class="n">22,80&#160;&#8364;/);
  assert.match(html, /VAT 24&#160;%<\/td><td class="n">5,47&#160;&#8364;/);
  assert.ok(offerPage(html).includes('<meta name="viewport"'));
  assert.deepEqual(buildOffer(shop, offer, [{ description: 'x', quantity: 'two', unit: '1', rate: '24' }], english),
    { problem: 'a quantity, a price or a VAT rate is not a number' });
});

test('the offer line carries a fresh key and the last valid day, and reads back', () => {
  const key = newOfferKey();
  assert.match(key, /^[A-Za-z0-9_-]{22}$/);
  assert.notEqual(newOfferKey(), key);
  // Each byte's low six bits pick a character: every one can come up.
  assert.equal(newOfferKey((b) => b.map((_, i) => i * 3 + 192)), 'ADGJMPSVYbehknqtwz258-');
  assert.equal(offerLine(key, '2026-12-16'), `<!--talvenplan-offer key=${key} until=2026-12-16-->\n`);
  assert.equal(offerLine(key, ''), `<!--talvenplan-offer key=${key}-->\n`);
  for (const until of ['2026-02-30', '16.12.2026']) assert.throws(() => offerLine(key, until), RangeError, until);
  for (const bad of ['x'.repeat(15), 'a'.repeat(65), 'a key with spaces in it', 'ä'.repeat(22), undefined]) {
    assert.ok(!isOfferKey(bad), String(bad));
    assert.throws(() => offerLine(bad), RangeError);
  }
  const k16 = 'k'.repeat(16);
  const k64 = '-_'.repeat(32);
  // [text, what it reads as]
  for (const [text, read] of [
    [offerLine(key, '2028-02-29') + '<style>', { key, until: '2028-02-29', answer: false }],
    [offerLine(key, '2028-02-29', true), { key, until: '2028-02-29', answer: true }],
    [offerLine(k16, '', true), { key: k16, until: '', answer: true }],
    [`<!--talvenplan-offer key=${k16}-->\n`, { key: k16, until: '', answer: false }],
    [`<!--talvenplan-offer key=${k64}-->\n`, { key: k64, until: '', answer: false }],
    [`<!--talvenplan-offer key=${k16} answer=1 until=2027-02-28-->\n`, null],
    [`<!--talvenplan-offer key=${k16} answer=yes-->\n`, null],
    [`<!--talvenplan-offer key=${k16} until=2027-02-29-->\n`, null],
    [`<!--talvenplan-offer key=${k16}-->`, null],
    [`<!--talvenplan-offer key=${k16}-->\r\n`, null],
    [`<!--talvenplan-offer key=${'k'.repeat(15)}-->\n`, null],
    [`<!--talvenplan-offer key=${k64}k-->\n`, null],
    [`<!--talvenplan-offer  key=${k16}-->\n`, null],
    [`<style>\n<!--talvenplan-offer key=${k16}-->\n`, null],
  ]) assert.deepEqual(readOfferLine(text), read, text);
  // The key the server reads from a line, the page reads too.
  for (const [line, key, answer] of vectors('offer_lines.tsv')) {
    assert.equal(readOfferLine(text(line))?.key ?? '', text(key), text(line));
    assert.equal(readOfferLine(text(line))?.answer ?? false, text(answer) === '1', text(line));
  }
});
