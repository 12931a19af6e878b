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
import { tr } from './i18n.js';

export const SETTINGS_NAME = '.talvenplan-shop';
export const SETTINGS_KEY = 'shop';

// One row a setting: its name in the file, its kind, its default, what is
// wrong with a value (check: '' when nothing is), and its label in the
// form. `size` and `rows` size its field, and `choices` ([value, text,
// lang]) make it a list; `note` is said below the line of fields it is on,
// `code` in backquotes. `letterhead` puts it on the offer's letterhead
// (offer.js), at the left or the right, after the offer's `word` for it
// where it has one. The clean-up removes offers nobody opened after
// TALVENPLAN_OFFER_DAYS (7 unless /etc/default/talvenplan says otherwise);
// an offer is valid as long.
export const SETTINGS = [
  { name: 'name', kind: 'text', default: '', get label() { return tr('Shop name'); } },
  { name: 'address', kind: 'text', default: '', get label() { return tr('Address'); }, rows: 3, letterhead: 'left' },
  { name: 'contact', kind: 'text', default: '', get label() { return tr('Contact (mail, phone)'); }, rows: 2, letterhead: 'right' },
  { name: 'vatNumber', kind: 'text', default: '', get label() { return tr('VAT number'); }, letterhead: 'right', word: 'offer.businessId' },
  { name: 'currency', kind: 'text', default: 'EUR', get label() { return tr('Currency'); }, size: 5, check: currencyProblem },
  { name: 'locale', kind: 'text', default: 'fi-FI', get label() { return tr('Locale'); }, size: 8, check: localeProblem },
  // The language offers are in by default, or '' for the locale's (i18n.js pickLanguage).
  { name: 'language', kind: 'text', default: '', get label() { return tr('Language of offers'); },
    get choices() { return [['', tr('the locale’s')], ['fi', 'suomi', 'fi'], ['sv', 'svenska', 'sv'], ['en', 'English', 'en'], ['de', 'Deutsch', 'de']]; } },
  { name: 'vatRates', kind: 'rates', default: ['25.5'], get label() { return tr('VAT rates in percent'); }, size: 14, check: ratesProblem },
  { name: 'included', kind: 'yes/no', default: false, get label() { return tr('Prices in the lists'); }, get choices() { return [['no', tr('exclude VAT')], ['yes', tr('include VAT')]]; } },
  { name: 'validityDays', kind: 'days', default: 7, get label() { return tr('Offers valid for (days)'); }, size: 4, check: daysProblem },
  { name: 'offerDays', kind: 'days', default: 7, get label() { return tr('Clean-up removes unopened offers after (days)'); }, size: 4, check: daysProblem,
    get note() { return tr('The last is the server’s `TALVENPLAN_OFFER_DAYS` (7 unless /etc/default/talvenplan says otherwise).'); } },
  { name: 'terms', kind: 'text', default: '', get label() { return tr('Terms'); }, rows: 4 },
  // Where talvenplan-notify mails news of offers: opened, answered, or about
  // to expire unanswered. '' for no mail.
  { name: 'mail', kind: 'text', default: '', get label() { return tr('Mail news of offers to'); }, size: 30, check: mailProblem,
    get note() { return tr('Opened, accepted or declined offers, and offers that expire in 2 days unanswered. The server mails them every few minutes.'); } },
];

// Each kind: the values a file may hold, and a value as a field shows it
// and as read back from what is typed.
export const KINDS = {
  text: { holds: (v) => typeof v === 'string', shown: (v) => v, typed: (t) => t.trim() },
  rates: {
    holds: (v) => Array.isArray(v) && v.every((r) => typeof r === 'string'),
    shown: (v) => v.join(', '),
    typed: (t) => t.split(/[\s,;]+/).filter(Boolean).map((r) => r.replace(/%$/, '')),
  },
  'yes/no': { holds: (v) => typeof v === 'boolean', shown: (v) => (v ? 'yes' : 'no'), typed: (t) => t === 'yes' },
  days: { holds: Number.isInteger, shown: String, typed: (t) => (t.trim() === '' ? NaN : Number(t)) },
};

function currencyProblem(currency) {
  return /^[A-Z]{3}$/.test(currency) ? '' : tr('not a currency code: three capital letters, such as EUR or SEK');
}
function localeProblem(locale) {
  try {
    Intl.getCanonicalLocales(locale);
    if (locale) return '';
  } catch {
    // Not a language tag.
  }
  return tr('not a locale: write it as a language tag, such as fi-FI or sv-SE');
}
function ratesProblem(rates) {
  const bad = rates.findLast((r) => {
    const d = parseDecimal(r);
    return !d || d.units < 0n || Number(r) > 100;
  });
  if (bad !== undefined) return tr('“{{rate}}” is not a rate in percent, such as 25.5', { rate: bad });
  return rates.length ? '' : tr('give at least one VAT rate (0 where there is none)');
}
function mailProblem(mail) {
  return mail === '' || /^[^\s@<>,;"]+@[^\s@<>,;"]+\.[^\s@<>,;"]+$/.test(mail) ? '' : tr('not a mail address, such as sales@shop.example');
}
function daysProblem(days) {
  return Number.isInteger(days) && days >= 1 && days <= 3650 ? '' : tr('a whole number of days, at least 1');
}

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
  return Object.fromEntries(SETTINGS.map(({ name, kind, default: value }) =>
    [name, KINDS[kind].holds(stored[name]) ? stored[name] : structuredClone(value)]));
}

// The whole file for put: the key line, then the settings.
export const settingsFile = (s) => SETTINGS_KEY + '\n' + JSON.stringify(s, null, 2) + '\n';

// What is wrong with settings, field by field ({} when nothing is).
export function settingsProblems(s) {
  const found = {};
  for (const { name, check } of SETTINGS) {
    const problem = check?.(s[name]) ?? '';
    if (problem) found[name] = problem;
  }
  return found;
}

// A date `days` after `iso` ("2026-12-09"), in the same form.
export function addDays(iso, days) {
  const [y, m, d] = iso.split('-').map(Number);
  return new Date(Date.UTC(y, m - 1, d + days)).toISOString().slice(0, 10);
}
