// What the browser tests share: the fixture server.sh started (its
// directory is the test's first argument), and Debian's Chromium driven by
// playwright-core (npm ci) with the flags these machines need, started
// before the file's tests and closed after them, when the data files the
// tests made (`made`) are removed too, with the versions the server kept
// (those of a removed list included, shelved as "NAME STAMP").
import { existsSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before } from 'node:test';

export const dir = process.argv[2];
export const data = join(dir, 'data');
export const base = `http://127.0.0.1:${readFileSync(join(dir, 'port'), 'utf8').trim()}/`;

import { launch } from '../chromium.mjs';

export { launch, openList } from '../chromium.mjs';

export const made = new Set();
// Writes a data file, removed after the tests.
export function put(name, content) {
  writeFileSync(join(data, name), content);
  made.add(name);
}

export let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser?.close();
  const versions = join(data, '.versions');
  const kept = existsSync(versions) ? readdirSync(versions) : [];
  for (const name of made) {
    rmSync(join(data, name), { force: true });
    for (const v of kept.filter((n) => n === name || n.startsWith(name + ' '))) rmSync(join(versions, v), { recursive: true, force: true });
  }
});
