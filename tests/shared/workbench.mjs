// The workbench served by one web server sees what another server, over the
// same shared file system, saved a moment before, and the other way round:
// Chromium on server A's workbench, plain requests through server B.
// Usage: node tests/shared/workbench.mjs WORKBENCH_A PROGRAM_B USER:PASSWORD DIR OUT
// (OUT receives a screenshot, workbench-across.png).
import assert from 'node:assert/strict';
import { join } from 'node:path';

import { launch, openList } from '../chromium.mjs';

const [workbench, programB, login, dir, out] = process.argv.slice(2);
const [username, password] = [login.slice(0, login.indexOf(':')), login.slice(login.indexOf(':') + 1)];
const name = 'across';
const nl = '\n';


async function throughB(body) {
  const response = await fetch(programB, {
    method: 'POST',
    headers: { Authorization: `Basic ${Buffer.from(login).toString('base64')}` },
    body,
  });
  assert.equal(response.status, 200);
  return response.text();
}
const list = (header) => `k1${nl}1${nl}retail 1.0${nl}${header}${nl}""${nl}1${nl}Chair 10${nl}`;

const browser = await launch();
try {
  const context = await browser.newContext({ httpCredentials: { username, password } });
  const errors = [];
  // A new tab each time (a tab reopens the list it had open on reload).
  const openOnA = async () => {
    const page = await context.newPage();
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(`${workbench}?dir=${encodeURIComponent(dir)}`);
    return openList(page, name);
  };

  // Made and saved through B; listed and opened on A's workbench.
  assert.equal(await throughB(`c${nl}${dir}${nl}k1 ${name}${nl}`), 's');
  assert.equal(await throughB(`p${nl}${dir}${nl}k1 ${name}${nl}${list('saved through B')}`), 's');
  let page = await openOnA();
  assert.equal(await page.getByLabel('Title line 1').inputValue(), 'saved through B');

  // Saved on A's workbench; B's get has it.
  await page.getByLabel('Title line 1').fill('saved on A');
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.waitForFunction(() => /Saved/.test(document.querySelector('#message').innerText));
  assert.equal(await throughB(`g${nl}${dir}${nl}k1 ${name}${nl}`), `s${list('saved on A')}`);

  // Replaced through B again; A's workbench opens the new one.
  assert.equal(await throughB(`p${nl}${dir}${nl}k1 ${name}${nl}${list('saved through B again')}`), 's');
  page = await openOnA();
  assert.equal(await page.getByLabel('Title line 1').inputValue(), 'saved through B again');
  await page.screenshot({ path: join(out, 'workbench-across.png') });

  assert.equal(await throughB(`r${nl}${dir}${nl}k1 ${name}${nl}`), 's');
  assert.deepEqual(errors, []);
  console.log('A lists and opens what B saved, twice; B gets what A saved');
} catch (error) {
  for (const page of browser.contexts().flatMap((context) => context.pages())) {
    await page.screenshot({ path: join(out, 'workbench-failed.png') }).catch(() => {});
  }
  throw error;
} finally {
  await browser.close();
}
