// The shop settings screen: the settings every person working in the data
// directory shares, read from and saved to the file there (settings.js).

import { readShared, writeShared } from '../datafile.js';
import { moneyFormat } from '../money.js';
import { DEFAULT_SETTINGS, SETTINGS_KEY, SETTINGS_NAME, settingsFile, settingsProblems } from '../settings.js';
import { state } from '../state.js';
import { loadShop } from '../shop.js';
import { $, say, sayOutcome } from '../ui.js';

const fields = () => document.querySelectorAll('#settings-form [data-field]');

function fill(s) {
  for (const el of fields()) {
    const k = el.dataset.field;
    if (k === 'vatRates') el.value = s.vatRates.join(', ');
    else if (k === 'included') el.value = s.included ? 'yes' : 'no';
    else el.value = String(s[k]);
  }
  example();
}

function fromForm() {
  const s = { ...DEFAULT_SETTINGS };
  for (const el of fields()) {
    const k = el.dataset.field;
    if (k === 'vatRates') s.vatRates = el.value.split(/[\s,;]+/).filter(Boolean).map((r) => r.replace(/%$/, ''));
    else if (k === 'included') s.included = el.value === 'yes';
    else if (k === 'validityDays' || k === 'offerDays') s[k] = el.value.trim() === '' ? NaN : Number(el.value);
    else s[k] = el.value.trim();
  }
  return s;
}

// Marks the fields with problems; gives the first, or ''.
function check(s) {
  const found = settingsProblems(s);
  for (const el of fields()) {
    if (found[el.dataset.field]) el.setAttribute('aria-invalid', 'true');
    else el.removeAttribute('aria-invalid');
  }
  const [k] = Object.keys(found);
  let text = k ? `${$('set-' + k).labels[0].textContent}: ${found[k]}.` : '';
  if (!text && s.validityDays > s.offerDays) {
    text = `Note: the clean-up removes unopened offers after ${s.offerDays} days, before an offer valid for ${s.validityDays} days ends.`;
  }
  $('settings-problem').textContent = text;
  return k ? text : '';
}

// How an amount looks with these settings.
function example() {
  const s = fromForm();
  let shown = '';
  try {
    if (!check(s)) shown = `An amount shows as ${moneyFormat(s.locale, s.currency).format(123450n)}.`;
  } catch {
    shown = 'This locale or currency is not known to the browser.';
  }
  $('settings-example').textContent = shown;
}

async function save(event) {
  event.preventDefault();
  const s = fromForm();
  const problem = check(s);
  if (problem) return say('refused', 'Not saved: ' + problem);
  const read = await readShared(state.program, state.directory, SETTINGS_NAME, SETTINGS_KEY);
  if (read.outcome) return sayOutcome(read.outcome, '');
  const failed = await writeShared(state.program, state.directory, SETTINGS_NAME, SETTINGS_KEY, settingsFile(s), read.missing);
  if (failed) return sayOutcome(failed, 'the settings file has another key');
  state.shop = s;
  state.shopDirectory = state.directory;
  state.offerStale = true;
  say('ok', `Saved the shop settings for ${state.directory}.`);
}

export function init() {
  $('settings-form').addEventListener('submit', save);
  $('settings-form').addEventListener('input', example);
}

export const screen = {
  async enter() {
    if (!state.directory) return say('note', 'Enter the data directory first: the settings are kept there.');
    state.shop = null;  // someone else may have changed them
    fill(await loadShop());
  },
};
