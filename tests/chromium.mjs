// Debian's Chromium, driven by playwright-core (npm ci), with the flags these
// machines need (no sandbox as root, no calls home on a closed network); and
// the workbench's own steps that several browser tests take.
const playwright = await import('playwright-core').catch(() => {
  console.error('the browser tests need playwright-core: run npm ci in the repository');
  process.exit(1);
});

export const launch = () => playwright.chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

// Opens the list `name` with `key` from the databases screen of `page`,
// already at the workbench, and waits for the editor.
export async function openList(page, name, key = 'k1') {
  await page.waitForSelector('body[data-ready="yes"]');
  await page.getByRole('button', { name: `Open ${name}`, exact: true }).click();
  await page.locator('#open-key').fill(key);
  await page.locator('#open-dialog').getByRole('button', { name: 'Open', exact: true }).click();
  await page.waitForSelector('#editor:not([hidden])');
  return page;
}
