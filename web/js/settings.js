// The shop's settings, shared by everyone who works in a data directory:
// kept there as a database file that the listing hides, read with get and
// written with put. Its key line is `shop`, the rest JSON. Pure: the screen
// (screens/settings.js) reads and writes it through datafile.js.
//
// The name begins with "." so the listing passes over it, and is not of the
// offer form ("." and six letters or digits) nor a put's temporary file
// (".put-" and six), which create refuses and which offer links and the
// clean-up reach.

import { parseDecimal } from './money.js';

export const SETTINGS_NAME = '.talvenplan-shop';
export const SETTINGS_KEY = 'shop';

// The clean-up removes offers nobody opened after TALVENPLAN_OFFER_DAYS (7
// unless /etc/default/talvenplan says otherwise); an offer is valid as long.
export const DEFAULT_SETTINGS = Object.freeze({
  name: '', address: '', contact: '', vatNumber: '',
  currency: 'EUR', locale: 'fi-FI', language: '', vatRates: ['25.5'], included: false,
  validityDays: 7, offerDays: 7, terms: '',
});

// language: the code of the language offers are in by default ("fi"), or
// '' for the locale's (i18n.js pickLanguage).
const TEXTS = ['name', 'address', 'contact', 'vatNumber', 'currency', 'locale', 'language', 'terms'];

// The settings a file's text holds (what follows get's key line), every
// field that is missing or of the wrong kind taken from the defaults: a
// file just created, or written by an older page, still gives settings.
export function readSettings(text) {
  let stored = {};
  try {
    const parsed = JSON.parse(text);
    if (parsed && typeof parsed === 'object' && !Array.isArray(parsed)) stored = parsed;
  } catch {
    // Not ours yet (create's new-file lines): the defaults.
  }
  const s = { ...DEFAULT_SETTINGS, vatRates: [...DEFAULT_SETTINGS.vatRates] };
  for (const k of TEXTS) if (typeof stored[k] === 'string') s[k] = stored[k];
  if (typeof stored.included === 'boolean') s.included = stored.included;
  for (const k of ['validityDays', 'offerDays']) if (Number.isInteger(stored[k])) s[k] = stored[k];
  if (Array.isArray(stored.vatRates) && stored.vatRates.every((r) => typeof r === 'string')) s.vatRates = stored.vatRates;
  return s;
}

// The whole file for put: the key line, then the settings.
export const settingsFile = (s) => SETTINGS_KEY + '\n' + JSON.stringify(s, null, 2) + '\n';

// What is wrong with settings, field by field ({} when nothing is).
export function settingsProblems(s) {
  const found = {};
  try {
    Intl.getCanonicalLocales(s.locale);
    if (!s.locale) throw new RangeError();
  } catch {
    found.locale = 'not a locale: write it as a language tag, such as fi-FI or sv-SE';
  }
  if (!/^[A-Z]{3}$/.test(s.currency)) found.currency = 'not a currency code: three capital letters, such as EUR or SEK';
  if (!s.vatRates.length) found.vatRates = 'give at least one VAT rate (0 where there is none)';
  for (const r of s.vatRates) {
    const d = parseDecimal(r);
    if (!d || d.units < 0n || Number(r) > 100) found.vatRates = `“${r}” is not a rate in percent, such as 25.5`;
  }
  for (const k of ['validityDays', 'offerDays']) {
    if (!Number.isInteger(s[k]) || s[k] < 1 || s[k] > 3650) found[k] = 'a whole number of days, at least 1';
  }
  return found;
}

// A date `days` after `iso` ("2026-12-09"), in the same form.
export function addDays(iso, days) {
  const [y, m, d] = iso.split('-').map(Number);
  return new Date(Date.UTC(y, m - 1, d + days)).toISOString().slice(0, 10);
}
