// Two people on one list, in two browser contexts, against the lighttpd
// fixture (server.sh), which keeps versions as every shipped configuration
// does: saves that meet, a save that slips in between the page's read and
// its put, history, undo, a removed list brought back, one restored beside
// a new list of its name, and who saved what, with logins. Screenshots go
// to DIR/versions-*.png.
// Usage: node tests/e2e/versions_test.mjs DIR   (DIR as given to server.sh start)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { base, browser, data, dir, made, openList } from './browser.mjs';

const LIST = 'k1\n1\nretail 1.0\nWinter\n""\n3\nChair 50.00\nLamp 20.00\nTable 99.00\nend\n';
const file = (name) => readFileSync(join(data, name), 'latin1');
const versions = (name) => {
  const at = join(data, '.versions', name);
  return existsSync(at) ? readdirSync(at).sort().map((stamp) => readFileSync(join(at, stamp), 'latin1')) : [];
};
const message = (page) => page.locator('#message').innerText();
const shot = (page, name) => page.screenshot({ path: join(dir, `versions-${name}.png`) });

// A person: a browser context of their own, at the workbench; with a
// `login`, at /staff/, where the fixture asks for one (its password is the
// same word) and the program learns who saves.
async function visitor(login = null) {
  const context = await browser.newContext({ viewport: { width: 1200, height: 900 },
    ...(login ? { httpCredentials: { username: login, password: login } } : {}) });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.goto(login ? base + 'staff/' : base);
  await page.waitForSelector('body[data-ready="yes"]');
  return page;
}
const person = async (name, login = null) => openList(await visitor(login), name);
function list(name, content = LIST) {
  writeFileSync(join(data, name), content);
  made.add(name);
}
// Two people with the list `name` open, each in a context of their own:
// `act` runs with both, and neither page may throw.
async function twoPeople(name, act) {
  list(name);
  const people = [await person(name), await person(name)];
  await act(...people);
  assert.deepEqual(people.flatMap((page) => page.errors), []);
  for (const page of people) await page.context().close();
}
// Saves, and waits for the answer to this save (the message line is emptied
// first, so that the last save's answer is not taken for it).
async function save(page) {
  await page.evaluate(() => document.querySelector('#message').replaceChildren());
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved|Not saved|Undone/.test(document.querySelector('#message').innerText));
}
// What the message line says as data: { outcome, merged, ... }.
const said = (page) => page.locator('#message p').evaluate((p) => ({ ...p.dataset }));
const price = (page, line) => page.getByLabel(`Price, line ${line}`);
// A server that keeps no versions has no .versions directory to list.
const noVersions = (page) => page.route('**/talvenplan.cgi', async (route) => {
  const body = route.request().postDataBuffer()?.toString('latin1') ?? '';
  if (body.startsWith('l\n') && body.split('\n')[1].includes('/.versions')) {
    await route.fulfill({ status: 200, contentType: 'text/html', body: "fscan't change directory on server" });
  } else {
    await route.continue();
  }
});

// [list, the server keeps versions, what the History screen says then]
for (const [name, kept, history] of [['v-two', true, /^2 versions of “v-two”/], ['v-off', false, /^History is off/]]) {
  test(`saves to different lines keep both, and the page says so (versions ${kept ? 'kept' : 'off'})`, () => twoPeople(name, async (a, b) => {
    if (!kept) await Promise.all([a, b].map(noVersions));
    await price(a, 1).fill('57.00');
    await save(a);
    if (!kept) {
      await a.locator('#message p[data-history="off"]').waitFor();
      assert.ok(await a.locator('#undo').isHidden(), 'no undo without versions');
    }
    await price(b, 2).fill('29.90');
    await save(b);
    assert.equal((await said(b)).merged, '1');
    assert.equal(file(name), LIST.replace('Chair 50.00', 'Chair 57.00').replace('Lamp 20.00', 'Lamp 29.90'));
    // The editor shows what was saved, the colleague's price included.
    assert.equal(await price(b, 1).inputValue(), '57.00');
    // (Without versions is the page's view only: the server here keeps them.)
    if (kept) assert.deepEqual(versions(name), [LIST, LIST.replace('Chair 50.00', 'Chair 57.00')]);
    await b.getByRole('button', { name: 'History', exact: true }).click();
    await b.waitForFunction((pattern) => new RegExp(pattern).test(document.querySelector('#history-note').innerText), history.source);
    await shot(b, kept ? 'merged' : 'off');
  }));
}

test('saves to the same line: both shown, nothing saved until one is chosen', () => twoPeople('v-same', async (a, b) => {
  await price(a, 1).fill('57.00');
  await save(a);
  await price(b, 1).fill('58.00');
  await price(b, 3).fill('95.00');
  await b.getByRole('button', { name: 'Save', exact: true }).click();
  const dialog = b.locator('#merge-dialog');
  await dialog.waitFor();
  const sides = await dialog.locator('.merge-side').evaluateAll((labels) => labels.map((label) =>
    [label.querySelector('input').value, label.querySelector('.merge-lines').innerText.trim()]));
  assert.deepEqual(sides, [['mine', 'Chair 58.00'], ['theirs', 'Chair 57.00']]);
  assert.ok(await b.locator('#merge-save').isDisabled(), 'nothing to save before a choice');
  assert.equal(file('v-same'), LIST.replace('Chair 50.00', 'Chair 57.00'));
  await shot(b, 'choose');
  await dialog.locator('input[value="theirs"]').check();
  await b.locator('#merge-save').click();
  await b.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(file('v-same'), LIST.replace('Chair 50.00', 'Chair 57.00').replace('Table 99.00', 'Table 95.00'));
}));

test('who saved what: a colleague who replaced my price is named at my next save, and in the History', async () => {
  list('v-who');
  const [alice, bob] = [await person('v-who', 'alice'), await person('v-who', 'bob')];
  await price(alice, 1).fill('22.22');
  await save(alice);
  // Bob changed the same price: he keeps his own in the merge dialog.
  await price(bob, 1).fill('33.33');
  await bob.getByRole('button', { name: 'Save', exact: true }).click();
  await bob.locator('#merge-dialog input[value="mine"]').check();
  await bob.locator('#merge-save').click();
  await bob.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  // Alice's page still shows her price; her next save tells her.
  assert.equal(await price(alice, 1).inputValue(), '22.22');
  await price(alice, 3).fill('95.00');
  await save(alice);
  assert.match(await message(alice), /Merged with 1 change .* Price line 1 “Chair”: the price you saved, 22\.22, was replaced by 33\.33, saved by bob\. Saved/);
  assert.equal((await said(alice)).replaced, '1');
  assert.equal(await price(alice, 1).inputValue(), '33.33');
  await alice.locator('#message').scrollIntoViewIfNeeded();
  await shot(alice, 'who-told');
  // Each version is named by who saved what it holds; the test wrote the
  // first, with no login.
  assert.deepEqual(versions('v-who'), [LIST, LIST.replace('50.00', '22.22'), LIST.replace('50.00', '33.33')]);
  await alice.getByRole('button', { name: 'History', exact: true }).click();
  await alice.waitForSelector('#history-list table');
  assert.deepEqual(await alice.locator('#history-list td.saved-by').allInnerTexts(), ['bob', 'alice', '—']);
  assert.equal(await alice.locator('#history-now').innerText(), 'The list as it is now was saved by alice.');
  await shot(alice, 'who-history');
  assert.deepEqual([...alice.errors, ...bob.errors], []);
  for (const page of [alice, bob]) await page.context().close();
});

test('a save that slips in between the read and the put survives, and the page says so', async () => {
  list('v-slip');
  const page = await person('v-slip');
  await price(page, 3).fill('95.00');
  // The page's first put waits until a colleague's save, by curl, has
  // landed: after the page read the list, before its put replaces it.
  const theirs = LIST.replace('Lamp 20.00', 'Lamp 29.90');
  let slipped = false;
  await page.route('**/talvenplan.cgi', async (route) => {
    const body = route.request().postDataBuffer();
    // "Saved" is said before the look at the versions: the listing waits for it.
    if (body?.toString('latin1').startsWith(`l\n${data}/.versions/v-slip\n`)) {
      await page.waitForFunction(() => /^Saved “v-slip”/.test(document.querySelector('#message').innerText));
    }
    if (!slipped && body?.subarray(0, 2).toString() === 'p\n') {
      slipped = true;
      const put = `p\n${data}\nk1 v-slip\n${theirs}`;
      assert.equal(execFileSync('curl', ['-s', '--data-binary', '@-', base + 'talvenplan.cgi'], { input: put }).toString(), 's');
    }
    await route.continue();
  });
  await save(page);
  assert.ok(slipped);
  // "Saved" comes with the put; the check after it finds the colleague's save.
  await page.locator('#message p[data-again="1"]').waitFor();
  const both = LIST.replace('Lamp 20.00', 'Lamp 29.90').replace('Table 99.00', 'Table 95.00');
  assert.equal(file('v-slip'), both);
  // Nothing anyone saved is lost: the colleague's save, and the page's own
  // first put, are versions.
  assert.deepEqual(versions('v-slip'), [LIST, theirs, LIST.replace('Table 99.00', 'Table 95.00')]);
  await shot(page, 'slipped');
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('history, undo, and a removed list brought back', async () => {
  list('v-hist');
  const page = await person('v-hist');
  assert.ok(await page.locator('#undo').isHidden());
  await price(page, 1).fill('51.00');
  await save(page);
  await price(page, 1).fill('52.00');
  await save(page);
  // Undo takes back the last save only.
  await page.evaluate(() => document.querySelector('#message').replaceChildren());
  await page.getByRole('button', { name: 'Undo this save' }).click();
  await page.waitForFunction(() => /Undone/.test(document.querySelector('#message').innerText));
  assert.equal(file('v-hist'), LIST.replace('Chair 50.00', 'Chair 51.00'));
  assert.ok(await page.locator('#undo').isHidden());

  await page.getByRole('button', { name: 'History', exact: true }).click();
  await page.waitForSelector('#history-list table');
  assert.match(await page.locator('#history-note').innerText(), /^3 versions of “v-hist”, newest first/);
  // The oldest: the list as it was before any save.
  await page.locator('#history-list button', { hasText: 'Changes' }).last().click();
  // The changes come from a read of the version: wait for them to be shown.
  await page.locator('#history-changes .diff').waitFor();
  assert.match(await page.locator('#history-changes').innerText(), /Line 7 of the file\s+−\s*Chair 50\.00\s+\+\s*Chair 51\.00/);
  await shot(page, 'history');

  // A version opens read-only, and Preview shows its prices.
  await page.locator('#history-list button', { hasText: 'Open read-only' }).last().click();
  await page.waitForSelector('#editor:not([hidden])');
  assert.equal(await price(page, 1).inputValue(), '50.00');
  assert.ok(await page.getByRole('button', { name: 'Save', exact: true }).isDisabled());
  await page.getByRole('button', { name: 'Preview', exact: true }).click();
  await page.locator('#preview-factor').selectOption({ label: 'retail (1.0)' });
  await page.waitForSelector('#preview-table tr.row');
  assert.match(await page.locator('#preview-table').innerText(), /Chair\s+50\.00\s+50\.00/);

  // Restore: a put of the old bytes.
  page.on('dialog', (d) => d.accept());
  await page.getByRole('button', { name: 'History', exact: true }).click();
  await page.waitForSelector('#history-list table');
  await page.locator('#history-list button', { hasText: 'Restore' }).last().click();
  await page.waitForFunction(() => /Restored the version/.test(document.querySelector('#message').innerText));
  assert.equal(file('v-hist'), LIST);
  assert.equal(versions('v-hist').length, 4);

  // Removed, then restored from the databases screen.
  await page.getByRole('button', { name: 'Databases', exact: true }).click();
  await page.getByRole('button', { name: 'Remove v-hist', exact: true }).click();
  assert.match(await page.locator('#remove-what').innerText(), /Recently removed/);
  await page.locator('#remove-dialog').getByRole('button', { name: 'Remove the database' }).click();
  await page.getByRole('button', { name: 'Restore v-hist' }).waitFor();
  assert.ok(!existsSync(join(data, 'v-hist')));
  await shot(page, 'removed');
  await page.getByRole('button', { name: 'Restore v-hist' }).click();
  await page.locator('#restore-key').fill('k1');
  await page.locator('#restore-dialog').getByRole('button', { name: 'Restore', exact: true }).click();
  await page.locator('#message p[data-outcome="restored"]').waitFor();
  assert.equal((await said(page)).as, 'v-hist');
  assert.equal(file('v-hist'), LIST);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a removed list whose name was taken again is restored under another name', async () => {
  list('v-shelf');
  made.add('v-shelf-old');
  const page = await visitor();
  await page.getByRole('button', { name: 'Remove v-shelf', exact: true }).click();
  await page.locator('#remove-key').fill('k1');
  await page.locator('#remove-dialog').getByRole('button', { name: 'Remove the database' }).click();
  await page.locator('#remove-dialog').waitFor({ state: 'hidden' });
  assert.match(await message(page), /^Removed “v-shelf”/);
  // The server shelved its versions under the name and the removal's stamp.
  const shelves = () => readdirSync(join(data, '.versions')).filter((n) => n.startsWith('v-shelf ')).sort();
  const [shelf] = shelves();
  assert.match(shelf, /^v-shelf \d{8}T\d{6}\.\d{6}Z$/);
  const inShelf = () => readdirSync(join(data, '.versions', shelf)).sort().map((n) => [n, readFileSync(join(data, '.versions', shelf, n), 'latin1')]);
  // A name after the versions, which is not one, is passed over.
  writeFileSync(join(data, '.versions', shelf, 'zz-notes'), 'k1\nnot a version\n');
  const before = inShelf();

  // A colleague makes a new list of the same name.
  await page.locator('#create-name').fill('v-shelf');
  await page.locator('#create-key').fill('k2');
  await page.getByRole('button', { name: 'Create', exact: true }).click();
  await page.waitForFunction(() => /Created “v-shelf”/.test(document.querySelector('#message').innerText));
  await page.getByRole('button', { name: 'Databases', exact: true }).click();
  await page.getByRole('button', { name: /^Restore v-shelf, removed / }).click();
  assert.ok(await page.locator('#restore-name').isVisible(), 'it asks for another name');
  await page.locator('#restore-name').fill('v-shelf-old');
  await page.locator('#restore-key').fill('k1');
  await shot(page, 'restore-as');
  await page.locator('#restore-dialog').getByRole('button', { name: 'Restore', exact: true }).click();
  await page.locator('#message p[data-outcome="restored"]').waitFor();
  assert.equal((await said(page)).as, 'v-shelf-old');
  assert.equal(await page.locator('#open-name').innerText(), 'Open: v-shelf-old');
  assert.equal(file('v-shelf-old'), LIST);
  assert.ok(file('v-shelf').startsWith('k2\n'), 'the new list stays as it is');
  assert.deepEqual([shelves(), inShelf()], [[shelf], before], 'nothing under .versions changed');
  assert.deepEqual(page.errors, []);
  await page.context().close();
});
