// The landing page: what it takes from its link, and the words for each
// answer the program can give.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { words } from '../js/i18n.js';
import { createHash, randomBytes } from 'node:crypto';
import {
  PAGE_START, answerProblem, answerUrl, answerWords, frameDocument, offerBytes, offerLanguage, offerNumber, readAnswer,
  sha256Hex, takesAnswer, target,
} from '../js/landing.js';
import { buildOffer, offerPage } from '../js/offer.js';
import { text, vectors } from './vectors.js';

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

test("the page's SHA-256 is the program's, and the one everybody computes", () => {
  for (const [bytes, digest] of vectors('sha256.tsv')) assert.equal(sha256Hex(bytes), text(digest), text(bytes));
  for (const size of [0, 1, 55, 56, 63, 64, 65, 119, 120, 4096, 100003]) {
    const bytes = randomBytes(size);
    assert.equal(sha256Hex(new Uint8Array(bytes)), createHash('sha256').update(bytes).digest('hex'), String(size));
  }
});

test('an answer names the offer the page showed, and each reply of the program reads as one state', () => {
  const offer = buildOffer({ locale: 'fi-FI', currency: 'EUR' }, { answer: true },
    [{ description: 'Tuoli', quantity: '1', unit: '10', rate: '25.5' }], english).html;
  const page = offerPage(offer);
  // The hash is of the staged bytes after the offer line: the page's own
  // start and end are the program's, not the shop's.
  assert.equal(sha256Hex(offerBytes(page)), createHash('sha256').update(offer).digest('hex'));
  assert.ok(takesAnswer(page));
  assert.ok(!takesAnswer(offerPage(buildOffer({}, {}, [{ description: 'x', quantity: '1', unit: '1', rate: '0' }], english).html)));
  assert.equal(offerNumber(QUERY), 'aaaaaa');
  assert.equal(offerNumber('TALVENPLAN_FILE=ocbgbgzz'), '', 'no offer name');
  const link = 'TALVENPLAN_FILE=ocbgbgbgbgbgbgzcfz';
  assert.equal(offerNumber('TALVENPLAN_FILE=oclgcgdgmgngdgzcfz'), 'kbclmc');
  assert.equal(answerUrl(new URL('https://shop.example/tp.cgi?' + link), link).search, '?TALVENPLAN_ANSWER=ocbgbgbgbgbgbgzcfz');
  const hash = 'ab'.repeat(32);
  for (const [text, read] of [
    [`s\ndecision accept\nat 2026-12-09T17:13:05.123456Z\nsha256 ${hash}\nmatched yes\n`,
      { receipt: { decision: 'accept', at: '2026-12-09T17:13:05.123456Z', sha256: hash, matched: true } }],
    [`s\ndecision decline\nat 2026-12-09T17:13:05Z\nsha256 ${hash}\nmatched no\n`,
      { receipt: { decision: 'decline', at: '2026-12-09T17:13:05Z', sha256: hash, matched: false } }],
    [`s\ndecision maybe\nat 2026-12-09T17:13:05Z\nsha256 ${hash}\n`, { state: 'failed' }],
    ['error on server: offer already answered', { state: 'answered' }],
    ['fserror on server: offer expired', { state: 'expired' }],
    ['error on server: offer takes no answer', { state: 'noslot' }],
    ['error on server: offer not opened', { state: 'unopened' }],
    ['fsinvalid CONTENTT_LENGTH', { state: 'failed' }],
    ['<html>', { state: 'failed' }],
  ]) assert.deepEqual(readAnswer(text), read, text);
  for (const [name, message, problem] of [
    ['  ', '', 'landing.answer.nameMissing'],
    ['Anna Virtanen', 'ä'.repeat(1000), ''],
    ['Anna Virtanen', 'ä'.repeat(1001), 'landing.answer.messageLong'],
    ['x'.repeat(201), '', 'landing.answer.nameLong'],
  ]) assert.equal(answerProblem(name, message), problem, name + message.length);
});
