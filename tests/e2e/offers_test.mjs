// Offers as the customer meets them, in Chromium against lighttpd
// (server.sh): the landing page that mail scanners may load any number of
// times, the offer at phone width and on paper. Saves DIR/offer-*.png and
// DIR/offer-print.pdf with its page as DIR/offer-print-1.png.
// Usage: node tests/e2e/offers_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { base, browser, data, dir } from './browser.mjs';
import { buildOffer } from '../../web/js/offer.js';
import { offerLinkQuery } from '../../web/js/protocol.js';


const shop = {
  name: 'Talvi & Kumppanit Oy', address: 'Rantakatu 12 B\n00100 Helsinki', contact: 'myynti@talvi.example\n+358 40 123 4567',
  vatNumber: 'FI12345678', locale: 'fi-FI', currency: 'EUR', included: false,
  terms: 'Delivery within two weeks of the order. Payment 14 days net.\n\nPrices are valid until the date above.',
};
const facts = { reference: 'T20261209-1', date: '2026-12-09', validUntil: '2026-12-16', customer: 'Kahvila Kuura, Anna Virtanen',
  intro: 'Dear Anna,\n\nthank you for your enquiry. We are pleased to offer:', notes: 'Delivery to Kauppatori 1.' };
const lines = (n) => Array.from({ length: n }, (_, i) => (i === 0
  ? { description: 'Milk 1l', quantity: '24', unit: '0.952000', rate: '14' }
  : { description: `Oak chair, model ${i + 1}, oiled`, quantity: String(i), unit: (1234.5 / i).toFixed(6), rate: '25.5' }));

// Stages an offer of `n` lines; gives the offer file's path and its link.
async function stage(n = 3) {
  const { html } = buildOffer(shop, facts, lines(n));
  const answer = await (await fetch(base + 'talvenplan.cgi', { method: 'POST', body: `s\n${data}\n${html}` })).text();
  assert.match(answer, /^s\.[A-Za-z0-9]{6}$/);
  const query = offerLinkQuery(answer.slice(1), data);
  return {
    file: join(data, answer.slice(1)),
    bare: `${base}talvenplan.cgi?${query}`,
    landing: `${base}offer.html#${query}&shop=${encodeURIComponent(shop.name)}&contact=${encodeURIComponent('myynti@talvi.example')}`,
  };
}

// A page that counts its requests to the program.
async function tab(context) {
  const page = await context.newPage();
  page.programRequests = 0;
  page.on('request', (request) => {
    if (request.url().includes('talvenplan.cgi')) page.programRequests++;
  });
  return page;
}

test('the landing page uses nothing up until a person clicks, then keeps the offer in the tab', async () => {
  const offer = await stage();
  // A scanner that runs no script, one that does, and curl (tests/e2e/http_test.sh).
  for (const javaScriptEnabled of [false, true]) {
    const scanner = await browser.newContext({ javaScriptEnabled });
    const page = await tab(scanner);
    for (let i = 0; i < 2; i++) await page.goto(offer.landing, { waitUntil: 'networkidle' });
    assert.equal(page.programRequests, 0);
    assert.equal(await page.locator('noscript').count(), 1);
    await scanner.close();
  }
  assert.ok(existsSync(offer.file), 'the offer is still there');

  const customer = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
  const page = await tab(customer);
  await page.goto(offer.landing);
  // Links made before carry the shop's name and contact: words anyone could
  // have written, which the page does not show.
  assert.equal(await page.locator('h1').innerText(), 'An offer for you');
  assert.doesNotMatch(await page.locator('body').innerText(), /Talvi|myynti/);
  await page.getByRole('button', { name: 'Open the offer' }).click();
  await page.waitForSelector('#shown:not([hidden])');
  assert.equal(page.programRequests, 1);
  assert.ok(!existsSync(offer.file), 'the click used the offer up');
  const frame = page.locator('#frame');
  assert.equal(await frame.getAttribute('sandbox'), 'allow-same-origin', 'no script runs in the offer');
  const inside = page.frameLocator('#frame');
  assert.match(await inside.locator('body').innerText(), /Milk 1l\s+24\s+0,95\s€\s+14\s%\s+22,80\s€/);
  assert.equal(await page.title(), 'Offer from Talvi & Kumppanit Oy');
  assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 390, 'nothing wider than the phone');
  await page.screenshot({ path: join(dir, 'offer-landing-390.png') });

  await page.reload();
  await page.waitForSelector('#shown:not([hidden])');
  assert.equal(page.programRequests, 1, 'a reload shows the offer the tab keeps');
  assert.match(await page.frameLocator('#frame').locator('body').innerText(), /Kahvila Kuura/);

  // Another tab, or a second visit after a scanner clicked.
  const later = await tab(await browser.newContext());
  await later.goto(offer.landing);
  await later.getByRole('button', { name: 'Open the offer' }).click();
  await later.waitForSelector('text=This offer cannot be shown again');
  const words = await later.locator('main').innerText();
  assert.match(words, /opened already, or the offer has expired\. Ask the shop that sent you the link for a new one\./);
  assert.doesNotMatch(words, /error on server|Talvi/);
  await later.screenshot({ path: join(dir, 'offer-landing-used.png') });
  await customer.close();
});

test('a 25-line offer reads at 390 px and prints on one A4 page', async () => {
  // The bare link, as every other client opens it: the viewport comes from
  // inside the body, as the program's page has none in its head.
  const offer = await stage(25);
  const phone = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true, deviceScaleFactor: 2 });
  const page = await phone.newPage();
  await page.goto(offer.bare);
  assert.equal(await page.title(), 'Offer');
  assert.deepEqual(await page.evaluate(() => [innerWidth, document.documentElement.scrollWidth]), [390, 390]);
  await page.screenshot({ path: join(dir, 'offer-390.png') });
  await page.evaluate(() => scrollTo(0, document.body.scrollHeight));
  await page.screenshot({ path: join(dir, 'offer-390-end.png') });
  await phone.close();

  // Printed from the landing page, which shows the offer in its frame.
  const printed = await stage(25);
  const desk = await browser.newPage();
  await desk.goto(printed.landing);
  await desk.getByRole('button', { name: 'Open the offer' }).click();
  await desk.waitForFunction(() => document.body.classList.contains('one-page'));
  const pdf = join(dir, 'offer-print.pdf');
  await desk.pdf({ path: pdf, format: 'A4' });
  await desk.close();
  const pages = /Pages:\s+(\d+)/.exec(execFileSync('pdfinfo', [pdf], { encoding: 'utf8' }))[1];
  assert.equal(pages, '1');
  execFileSync('pdftoppm', ['-png', '-r', '60', pdf, join(dir, 'offer-print')]);
  const text = execFileSync('pdftotext', ['-layout', pdf, '-'], { encoding: 'utf8' });
  assert.match(text, /Oak chair, model 25, oiled/);
  assert.match(text, /Total\s+[\d\s]+,\d\d €/);
});
