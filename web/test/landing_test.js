// The landing page: what it takes from its link, and the words for each
// answer the program can give.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { PAGE_START, answerWords, target } from '../js/landing.js';
import { offerPage } from '../js/offer.js';

const QUERY = 'TALVENPLAN_FILE=ocbgbgbgbgbgbgzcfbcfbcz';

test('a link gives the offer link and the program, and no words', () => {
  const page = 'https://shop.example/talvenplan/offer.html';
  const words = '&shop=Contoso&contact=pay%20the%20deposit%20to%20IBAN%20FI00';
  for (const [url, link, program] of [
    [`${page}#${QUERY}${words}`, QUERY, `https://shop.example/talvenplan/talvenplan.cgi?${QUERY}`],
    [`${page}#${QUERY}&program=/cgi/tp.cgi`, QUERY, `https://shop.example/cgi/tp.cgi?${QUERY}`],
    // Another site's program is not asked.
    [`${page}#${QUERY}&program=https://evil.example/tp.cgi`, QUERY, `https://shop.example/talvenplan/talvenplan.cgi?${QUERY}`],
    [`${page}#TALVENPLAN_FILE=ocbg${words}`, '', 'https://shop.example/talvenplan/talvenplan.cgi'],
  ]) {
    const got = target(new URL(url));
    assert.deepEqual([got.link, got.program.href], [link, program], url);
  }
});

test('each answer has words of its own, and an offer none', () => {
  const shown = offerPage('<p>Dear customer,</p>');
  assert.ok(shown.startsWith(PAGE_START));
  assert.equal(answerWords(shown), null);
  const rows = [
    ["error on server: can't open temp file", 'used'],
    ['error on server: offer withdrawn', 'withdrawn'],
    ["error on server:can't change directory on server", 'gone'],
    ['error on server: offer withdrawn.', 'gone'],
  ];
  for (const [answer, state] of rows) assert.equal(answerWords(answer).state, state, answer);
  const titles = rows.map(([answer]) => answerWords(answer).title);
  assert.match(titles[1], /withdrawn/);
  assert.doesNotMatch(titles[0] + titles[2], /withdrawn/);
});
