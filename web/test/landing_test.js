// The landing page: what it takes from its link, and the words for each
// answer the program can give.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { words } from '../js/i18n.js';
import { PAGE_START, answerWords, frameDocument, offerLanguage, target } from '../js/landing.js';
import { buildOffer, offerPage } from '../js/offer.js';

const catalog = (lang) => JSON.parse(readFileSync(new URL(`../i18n/${lang}.json`, import.meta.url), 'utf8'));
const english = words('en', catalog('en'));

const QUERY = 'TALVENPLAN_FILE=ocbgbgbgbgbgbgzcfbcfbcz';

test('a link gives the offer link, the program and a language code, and no words', () => {
  const page = 'https://shop.example/talvenplan/offer.html';
  const words = '&shop=Contoso&contact=pay%20the%20deposit%20to%20IBAN%20FI00';
  for (const [url, link, program, lang = ''] of [
    [`${page}#${QUERY}${words}`, QUERY, `https://shop.example/talvenplan/talvenplan.cgi?${QUERY}`],
    [`${page}#${QUERY}&lang=fi&program=/cgi/tp.cgi`, QUERY, `https://shop.example/cgi/tp.cgi?${QUERY}`, 'fi'],
    // Another site's program is not asked.
    [`${page}#${QUERY}&program=https://evil.example/tp.cgi`, QUERY, `https://shop.example/talvenplan/talvenplan.cgi?${QUERY}`],
    [`${page}#TALVENPLAN_FILE=ocbg${words}`, '', 'https://shop.example/talvenplan/talvenplan.cgi'],
    [`${page}?${QUERY}&lang=sv`, QUERY, `https://shop.example/talvenplan/talvenplan.cgi?${QUERY}`, 'sv'],
  ]) {
    const got = target(new URL(url));
    assert.deepEqual([got.link, got.program.href, got.lang], [link, program, lang], url);
  }
});

test("the frame's document is in the offer's own language", () => {
  const shop = { name: 'Talvi Oy', locale: 'fi-FI', currency: 'EUR' };
  const page = offerPage(buildOffer(shop, {}, [{ description: 'Tuoli', quantity: '1', unit: '10', rate: '25.5' }],
    words('fi', catalog('fi'), catalog('en'))).html);
  assert.equal(offerLanguage(page), 'fi');
  assert.equal(offerLanguage(offerPage('<p>Dear customer,</p>')), '', 'an offer made before says none');
  assert.ok(frameDocument(page, 'fi').startsWith('<html lang="fi"><meta http-equiv="Content-Security-Policy"'));
  assert.ok(frameDocument(page, '"><script>').startsWith('<html><meta '));
});

test('each answer has words of its own, and an offer none', () => {
  const shown = offerPage('<p>Dear customer,</p>');
  assert.ok(shown.startsWith(PAGE_START));
  assert.equal(answerWords(shown, english), null);
  const rows = [
    ["error on server: can't open temp file", 'used'],
    ['error on server: offer withdrawn', 'withdrawn'],
    ["error on server:can't change directory on server", 'gone'],
    ['error on server: offer withdrawn.', 'gone'],
  ];
  for (const [answer, state] of rows) assert.equal(answerWords(answer, english).state, state, answer);
  const titles = rows.map(([answer]) => answerWords(answer, english).title);
  assert.match(titles[1], /withdrawn/);
  assert.doesNotMatch(titles[0] + titles[2], /withdrawn/);
});
