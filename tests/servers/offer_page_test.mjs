// An offer is the HTML of its page, served on the workbench's site, where a
// staff member's browser sends the login by itself. A script in an offer
// must run nothing: in Chromium, logged in, the offer's script would create
// a database by a synchronous request before the page has loaded, and its
// image would be fetched from the program. Through the lighttpd snippet the
// script must not have run, and no request but the link may reach the
// program. The same offer served without the snippet's headers
// shows that the script does run where it may. Saves the page as
// STATE/offer-page.png.
// The landing page a customer opens without a login shows no words its link
// carries, and neither it nor the offer in its frame loads anything from
// elsewhere: a second server on another port counts what is asked of it.
// Saves STATE/landing-*.png.
// Usage: node tests/servers/offer_page_test.mjs STATE   (from server.sh start)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { existsSync, readFileSync, rmSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, test } from 'node:test';

import { launch } from '../chromium.mjs';

const state = process.argv[2];
const read = (name) => readFileSync(join(state, name), 'utf8').trim();
const url = read('url');
const data = read('datadir');
const [username, password] = read('login').split(':');
const offerLink = join(dirname(fileURLToPath(import.meta.url)), '../../scripts/offer-link');

// offer(NAME): an offer whose script marks the page and creates NAME, and
// whose image is fetched from the program.
const offer = (name) => `<p id="intro">Dear customer,</p><table><tr><td>Oak chair</td>
<td>39.92</td></tr></table><img src="talvenplan.cgi?image" alt=""><script>
document.getElementById('intro').textContent = 'a script ran';
const request = new XMLHttpRequest();
request.open('POST', 'talvenplan.cgi', false);
request.send('c\\n${data}\\nk1 ${name}\\n');
</script>`;

async function stage(text) {
  const answer = await (await fetch(url, {
    method: 'POST',
    headers: { authorization: `Basic ${btoa(`${username}:${password}`)}` },
    body: `s\n${data}\n${text}`,
  })).text();
  assert.match(answer, /^s\.[A-Za-z0-9]{6}$/);
  const name = answer.slice(1);
  return `${url}?${execFileSync(offerLink, [name, data], { encoding: 'utf8' }).trim()}`;
}

let browser;
let context;
before(async () => {
  browser = await launch();
  // A staff member's browser: it answers the login's challenge itself.
  context = await browser.newContext({ httpCredentials: { username, password } });
});
after(async () => {
  await browser?.close();
  for (const name of ['offer-script', 'offer-control']) rmSync(join(data, name), { force: true });
});

// open(LINK): the page, and every request to the program besides the link
// itself that got an answer. (Chromium reports a request that the page's
// policy then blocks, too, as one that failed.)
async function open(link, route) {
  const page = await context.newPage();
  const sent = [];
  page.on('requestfinished', (request) => {
    if (new URL(request.url()).pathname === new URL(url).pathname && request.url() !== link) {
      sent.push(`${request.method()} ${request.url()}`);
    }
  });
  if (route) await page.route(link, route);
  await page.goto(link);
  return { page, sent };
}

test('a script in an offer runs nothing', async () => {
  const link = await stage(offer('offer-script'));
  const { page, sent } = await open(link);
  await page.screenshot({ path: join(state, 'offer-page.png') });
  assert.equal(await page.locator('td').first().innerText(), 'Oak chair');
  assert.equal(await page.locator('#intro').innerText(), 'Dear customer,');
  assert.equal(existsSync(join(data, 'offer-script')), false, 'the script created a database');
  assert.deepEqual(sent, []);
  await page.close();
});

test('without the headers, the same script runs', async () => {
  // The page as the program answers it, with the server's headers left out.
  const link = await stage(offer('offer-control'));
  const { page, sent } = await open(link, async (route) => {
    const response = await route.fetch();
    await route.fulfill({ status: 200, contentType: 'text/html', body: await response.text() });
  });
  assert.equal(await page.locator('#intro').innerText(), 'a script ran');
  assert.equal(existsSync(join(data, 'offer-control')), true);
  assert.deepEqual(sent.map((request) => request.split(' ')[0]).sort(), ['GET', 'POST']);
  await page.close();
});

test('the landing page shows no words from its link and loads nothing from elsewhere', async (t) => {
  let asked = 0;
  const elsewhere = createServer((request, response) => {
    asked++;
    response.end();
  });
  await new Promise((resolve) => elsewhere.listen(0, '127.0.0.1', resolve));
  const remote = `http://127.0.0.1:${elsewhere.address().port}`;
  const text = `<link rel="stylesheet" href="${remote}/sheet.css"><style>@import "${remote}/import.css";
@font-face { font-family: f; src: url(${remote}/font.woff) } p { font-family: f; background: url(${remote}/bg.png) }</style>
<p id="intro">Dear customer,</p><img src="${remote}/image.png" alt="">`;
  const words = `&shop=Contoso&contact=${encodeURIComponent('pay the deposit to IBAN FI00 1234')}`;
  // A customer: no login. The page the test's route answers for has no
  // address, which Chromium would keep from loopback ones by itself.
  const customer = await browser.newContext({ permissions: ['local-network-access'] });
  t.after(async () => {
    await customer.close();
    elsewhere.closeAllConnections();
    elsewhere.close();
  });
  // As served, after "#"; and after "?", with neither the server's policy
  // nor the page's own, where the frame's alone must hold.
  for (const [mark, served] of [['#', true], ['?', false]]) {
    const link = (await stage(text)).split('?')[1];
    const page = await customer.newPage();
    if (!served) {
      await page.route((address) => address.pathname.endsWith('/offer.html'), async (route) => {
        const response = await route.fetch();
        const headers = response.headers();
        delete headers['content-security-policy'];
        const body = (await response.text()).replace(/<meta http-equiv="Content-Security-Policy"[^>]*>/, '');
        await route.fulfill({ response, headers, body });
      });
    }
    const shown = async () => await page.title() + await page.locator('body').innerText();
    await page.goto(new URL('offer.html', url) + mark + link + words);
    await page.waitForSelector('html.ready');  // its words are in place
    assert.equal(await page.locator('head > meta[http-equiv]').count(), served ? 1 : 0);
    assert.equal(await page.locator('h1').innerText(), 'An offer for you');
    assert.doesNotMatch(await shown(), /Contoso|IBAN|deposit/);
    await page.screenshot({ path: join(state, `landing-${served ? 'served' : 'bare'}.png`) });
    await page.getByRole('button', { name: 'Open the offer' }).click();
    const frame = page.frameLocator('#frame');
    assert.equal(await frame.locator('#intro').innerText(), 'Dear customer,');
    await page.waitForFunction(() => document.getElementById('frame').contentDocument.readyState === 'complete');
    await page.screenshot({ path: join(state, `landing-${served ? 'served' : 'bare'}-open.png`) });
    assert.doesNotMatch(await shown(), /Contoso|IBAN|deposit/);
    await page.close();
  }
  assert.equal(asked, 0, 'the offer loaded something from elsewhere');
  // The same text in a page of the site without any policy does.
  const control = await customer.newPage();
  const plain = new URL('control.html', url).href;
  await control.route(plain, (route) => route.fulfill({ contentType: 'text/html', body: text }));
  await control.goto(plain, { waitUntil: 'load' });
  assert.ok(asked > 0);
});
