// Offers as the customer meets them, in Chromium against lighttpd
// (server.sh): the landing page that mail scanners may load any number of
// times, the offer at phone width and on paper, and an offer withdrawn from
// the register; a Finnish offer in Finnish words. Saves DIR/offer-*.png
// and DIR/offer-print.pdf with its page as DIR/offer-print-1.png.
// Usage: node tests/e2e/offers_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { base, browser, data, dir, made, openList, put } from './browser.mjs';
import { words } from '../../web/js/i18n.js';
import { buildOffer } from '../../web/js/offer.js';
import { readOfferLine } from '../../web/js/offer_line.js';
import { offerLinkQuery } from '../../web/js/protocol.js';
import { readRegister } from '../../web/js/register.js';

const catalog = (lang) => JSON.parse(readFileSync(new URL(`../../web/i18n/${lang}.json`, import.meta.url), 'utf8'));
const fi = catalog('fi');

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

// Stages an offer of `n` lines in LANG; gives the offer file's path and
// its link (the landing page's, in LANG's words where LANG is given).
async function stage(n = 3, lang = '') {
  const t = words(lang || 'en', catalog(lang || 'en'), catalog('en'));
  // What staff type, in Finnish for a Finnish customer.
  const typed = lang === 'fi'
    ? [{ ...shop, terms: 'Toimitus kahden viikon kuluessa tilauksesta. Maksuehto 14 päivää netto.' },
      { ...facts, intro: fi['offer.intro'], notes: 'Toimitus osoitteeseen Kauppatori 1.' }]
    : [shop, facts];
  const { html } = buildOffer(...typed, lines(n), t);
  const answer = await (await fetch(base + 'talvenplan.cgi', { method: 'POST', body: `s\n${data}\n${html}` })).text();
  assert.match(answer, /^s\.[A-Za-z0-9]{6}$/);
  const query = offerLinkQuery(answer.slice(1), data);
  return {
    file: join(data, answer.slice(1)),
    bare: `${base}talvenplan.cgi?${query}`,
    landing: `${base}offer.html#${query}${lang && '&lang=' + lang}&shop=${encodeURIComponent(shop.name)}&contact=${encodeURIComponent('myynti@talvi.example')}`,
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
    assert.equal(await page.locator('#intro noscript').count(), 1);
    await scanner.close();
  }
  assert.ok(existsSync(offer.file), 'the offer is still there');

  const customer = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
  const page = await tab(customer);
  await page.goto(offer.landing);
  await page.waitForSelector('html.ready');  // its words are in place
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

  // Another tab, or a second visit after a scanner clicked, through a web
  // server set up before i18n.js and the catalogs were public: the page
  // speaks the English it holds, whatever language the link asks for.
  const later = await tab(await browser.newContext());
  await later.route(/\/js\/i18n\.js$/, (route) => route.fulfill({ status: 401 }));
  await later.goto(offer.landing + '&lang=fi');
  await later.waitForSelector('html[lang="en"].ready');
  await later.getByRole('button', { name: 'Open the offer' }).click();
  await later.waitForSelector('body[data-offer="used"]');
  assert.doesNotMatch(await later.locator('main').innerText(), /error on server|Talvi/);
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

  // A Finnish offer, printed from the landing page, which shows it in its
  // frame: the link's language before it opens, the offer's after, and
  // Finnish on paper. (The line descriptions are the shop's own.)
  const printed = await stage(25, 'fi');
  const desk = await browser.newPage();
  await desk.goto(printed.landing);
  await desk.waitForSelector('html[lang="fi"].ready');
  assert.equal(await desk.locator('h1').innerText(), fi['landing.title']);
  await desk.screenshot({ path: join(dir, 'offer-landing-fi.png') });
  await desk.getByRole('button', { name: fi['landing.open'] }).click();
  await desk.waitForFunction(() => document.body.classList.contains('one-page'));
  assert.deepEqual(await desk.evaluate(() => {
    const offer = document.getElementById('frame').contentDocument;
    return [document.documentElement.lang, offer.documentElement.lang, offer.querySelector('article').lang];
  }), ['fi', 'fi', 'fi']);
  assert.equal(await desk.title(), `Tarjous – ${shop.name}`);
  await desk.screenshot({ path: join(dir, 'offer-landing-fi-open.png'), fullPage: true });
  const pdf = join(dir, 'offer-print.pdf');
  await desk.pdf({ path: pdf, format: 'A4' });
  await desk.close();
  const pages = /Pages:\s+(\d+)/.exec(execFileSync('pdfinfo', [pdf], { encoding: 'utf8' }))[1];
  assert.equal(pages, '1');
  execFileSync('pdftoppm', ['-png', '-r', '60', pdf, join(dir, 'offer-print')]);
  const text = execFileSync('pdftotext', ['-layout', pdf, '-'], { encoding: 'utf8' });
  assert.match(text, /Oak chair, model 25, oiled/);
  assert.match(text, /Yhteensä\s+[\d\s]+,\d\d €/);
  assert.match(text, /Y-tunnus FI12345678[\s\S]*Tarjous\s[\s\S]*ALV 25,5 %, veron peruste/);
  assert.doesNotMatch(text, /\b(Offer|Valid until|Customer|Quantity|Unit price|VAT|Net total|Total|Amounts in|Print)\b/);

  // Opened again, the link says so in Finnish.
  const again = await browser.newPage();
  await again.goto(printed.landing);
  await again.getByRole('button', { name: fi['landing.open'] }).click();
  await again.waitForSelector('body[data-offer="used"]');
  assert.equal(await again.locator('h1').innerText(), fi['landing.goneTitle']);
  await again.screenshot({ path: join(dir, 'offer-landing-fi-used.png') });
  await again.close();
});

test('the register learns an offer waits by its key, and withdraws it', async () => {
  put('o-withdraw', 'k1\n1\nretail 1.0\nWinter\n""\n2\nOak chair 49.90\nLamp 20.00\n');
  // An offer staged before the register kept keys: its state is not guessed.
  put('.talvenplan-offers', 'offers\n' + JSON.stringify({ name: '.old001', reference: 'T-OLD', customer: 'Earlier customer',
    total: '1,00 €', date: new Date().toISOString(), link: '' }) + '\n');
  const page = await browser.newPage({ viewport: { width: 1300, height: 800 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(base);
  await openList(page, 'o-withdraw');
  await page.getByRole('button', { name: 'Offer', exact: true }).click();
  await page.locator('#offer-factor').selectOption({ label: 'retail (1.0)' });
  await page.getByLabel('Offer Oak chair').check();
  await page.getByLabel('Customer', { exact: true }).fill('Kahvila Kuura');
  await page.getByRole('button', { name: 'Stage the offer' }).click();
  // The register is written after the link is shown.
  await page.waitForFunction(() => /The offer is staged and in the register/.test(document.querySelector('#message').innerText));
  const landing = await page.locator('#link').inputValue();
  const registered = () => readRegister(readFileSync(join(data, '.talvenplan-offers'), 'utf8'));
  const offer = registered().find((e) => e.customer === 'Kahvila Kuura');
  made.add(offer.name).add(offer.name + '.withdrawn');
  assert.deepEqual(readOfferLine(readFileSync(join(data, offer.name), 'latin1')),
    { key: offer.key, until: await page.locator('#offer-valid').inputValue(), answer: true });

  await page.getByRole('button', { name: 'Offers sent' }).click();
  await page.waitForSelector('#register[data-checked="yes"]');
  const rows = page.locator('#register-list tbody tr');
  assert.match(await rows.nth(0).innerText(), /Kahvila Kuura\s+62,62\s€/);
  assert.match(await rows.nth(1).innerText(), /Earlier customer/);
  assert.deepEqual(await rows.evaluateAll((trs) => trs.map((tr) => tr.dataset.state)), ['waiting', 'keyless']);
  const onPage = await page.evaluate(() => document.body.innerText + [...document.querySelectorAll('input')].map((i) => i.value).join(' '));
  assert.ok(!onPage.includes(offer.key), 'the key is never shown');

  // The first withdrawal asks for a name, and asks again while there is none.
  await rows.nth(0).getByRole('button', { name: /^Withdraw / }).click();
  const dialog = page.locator('#withdraw-dialog');
  await dialog.getByRole('button', { name: 'Withdraw the offer' }).click();
  assert.match(await page.locator('#withdraw-problem').innerText(), /Give your name/);
  assert.ok(existsSync(join(data, offer.name)), 'nothing sent without a name');
  await page.getByLabel('Your name').fill('Anna Virtanen');
  await dialog.getByRole('button', { name: 'Withdraw the offer' }).click();
  await rows.nth(0).and(page.locator('[data-state="withdrawn"]', { hasText: 'by Anna Virtanen' })).waitFor();
  assert.match(await page.locator('#message').innerText(), /^Withdrew the offer T\d{8}-\d{4}\./);
  assert.ok(!existsSync(join(data, offer.name)) && existsSync(join(data, offer.name + '.withdrawn')));
  assert.equal(registered().find((e) => e.name === offer.name).withdrawnBy, 'Anna Virtanen');
  assert.equal(await rows.nth(0).getByRole('button').count(), 0, 'no withdraw once withdrawn');
  await page.screenshot({ path: join(dir, 'offer-register-withdrawn.png') });

  // The customer's link says so, in the shop's language (its locale's).
  const customer = await browser.newPage();
  await customer.goto(landing);
  await customer.locator('#open').click();
  await customer.waitForSelector('html[lang="fi"] body[data-offer="withdrawn"]');
  await customer.close();
  assert.deepEqual(errors, []);
  await page.close();
});

test('the customer answers once, keeps a copy with a receipt, and the register shows the answer', async () => {
  put('o-answer', 'k1\n1\nretail 1.0\nWinter\n""\n2\nOak chair 49.90\nLamp 20.00\n');
  const staff = await browser.newPage({ viewport: { width: 1300, height: 800 } });
  const errors = [];
  staff.on('pageerror', (error) => errors.push(error.message));
  await staff.goto(base);
  await openList(staff, 'o-answer');
  await staff.locator('[data-screen="offer"]').click();
  await staff.locator('#offer-factor').selectOption({ index: 1 });
  await staff.locator('#offer-lines input[type="checkbox"]').first().check();
  await staff.locator('#offer-lines input[data-discount]').first().fill('10');
  await staff.locator('#offer-customer').fill('Kahvila Kide');
  await staff.locator('#offer-email').fill('anna@kuura.example');
  await staff.locator('#stage').click();
  await staff.waitForFunction(() => /The offer is staged and in the register/.test(document.querySelector('#message').innerText));
  const landing = await staff.locator('#link').inputValue();
  // The mail program gets the address, and the link in the offer's words.
  const mail = new URL(await staff.locator('#mail').getAttribute('href'));
  assert.equal(mail.pathname, 'anna@kuura.example');
  assert.ok(mail.searchParams.get('body').includes(landing));
  await staff.locator('#mail').evaluate((a) => {
    a.addEventListener('click', (event) => event.preventDefault());  // no mail program here
    a.click();
  });
  const registered = () => readRegister(readFileSync(join(data, '.talvenplan-offers'), 'utf8')).find((e) => e.customer === 'Kahvila Kide');
  const offer = registered();
  for (const end of ['', '.slot', '.opened', '.answer', '.told']) made.add(offer.name + end);
  // A line's discount: its own column, and the amount less it (49.90 less 10 %).
  assert.match(readFileSync(join(data, offer.name), 'latin1'), /<td class="n tp-discount">10&#160;%<\/td><td class="n">44,91&#160;&#8364;/);

  const customer = await browser.newContext({ acceptDownloads: true });
  const page = await customer.newPage();
  await page.goto(landing);
  await page.locator('#open').click();
  await page.locator('#answer').waitFor();
  // A name is asked for before anything is sent.
  await page.locator('#answer-form button[value="accept"]').click();
  assert.equal(await page.locator('#answer-name').getAttribute('aria-invalid'), 'true');
  assert.ok(!existsSync(join(data, offer.name + '.answer')));
  await page.locator('#answer-name').fill('Anna Virtanen');
  await page.locator('#answer-message').fill('Kiitos! Toimitus maanantaina.\nTerveisin Anna');
  await page.locator('#answer-form button[value="accept"]').click();
  await page.waitForSelector('body[data-answer="accept"] #receipt:not([hidden])');
  const receipt = await page.locator('#receipt-lines').innerText();
  assert.ok(receipt.includes(offer.name.slice(1)), 'the offer number: ' + receipt);
  const slot = readFileSync(join(data, offer.name + '.slot'), 'latin1');
  const hash = /^sha256 ([0-9a-f]{64})$/m.exec(slot)[1];
  assert.ok(receipt.includes(hash.slice(0, 16)), 'the first characters of the hash');
  assert.match(readFileSync(join(data, offer.name + '.answer'), 'latin1'), /^decision accept$[\s\S]*^name Anna%20Virtanen$[\s\S]*^matched yes$/m);
  await page.screenshot({ path: join(dir, 'offer-answered.png'), fullPage: true });
  // The copy is the offer and the receipt, in one file that opens anywhere.
  const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#save').click()]);
  const copy = readFileSync(await download.path(), 'utf8');
  assert.ok(copy.includes('Kahvila Kide') && copy.includes(hash.slice(0, 16)) && !copy.includes(offer.key));
  // A reload keeps the receipt; a second answer is refused and changes nothing.
  await page.reload();
  await page.waitForSelector('body[data-answer="accept"] #receipt:not([hidden])');
  const before = readFileSync(join(data, offer.name + '.answer'));
  const second = await page.evaluate(async (url) => (await fetch(url, { method: 'POST', body: 'decision=decline&name=Mallory&message=&sha256=' + '0'.repeat(64) })).text(),
    landing.replace(/offer\.html#TALVENPLAN_FILE=([a-z]+)&.*/, 'talvenplan.cgi?TALVENPLAN_ANSWER=$1'));
  assert.match(second, /already answered/);
  assert.deepEqual(readFileSync(join(data, offer.name + '.answer')), before);
  await customer.close();

  await staff.locator('[data-screen="register"]').click();
  await staff.waitForSelector('#register[data-checked="yes"]');
  const row = staff.locator(`#register-list tr[data-offer="${offer.name}"]`);
  assert.equal(await row.getAttribute('data-state'), 'accepted');
  assert.match(await row.innerText(), /Anna Virtanen[\s\S]*Kiitos! Toimitus maanantaina/);
  // Verified: the hash the page showed is the one staged.
  assert.match(await row.innerText(), /The offer answered is the one staged\./);
  assert.equal(registered().answer.name, 'Anna Virtanen');
  assert.ok(registered().mailed, 'the register knows it was mailed');
  await staff.screenshot({ path: join(dir, 'offer-register-answered.png') });
  assert.deepEqual(errors, []);
  await staff.close();
});
