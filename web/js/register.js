// The register of offers staged from a data directory, shared by everyone
// who works there: a database file the listing hides, key line `offers`,
// then one offer a line as JSON. Pure: screens/register.js reads and
// writes it through datafile.js.
//
// Whether an offer still waits is asked without using it up: a get of the
// offer file with the offer's first line as the key (OFFER_KEY). get reads
// and answers; it never removes, unlike an offer link. "s" and the offer
// means it waits, "s!" that no such file is there any more.

import { OFFER_KEY } from './offer.js';
import { commandBody } from './protocol.js';

export const REGISTER_NAME = '.talvenplan-offers';
export const REGISTER_KEY = 'offers';
// The register keeps the newest offers; older ones drop off the end.
export const REGISTER_SIZE = 2000;

// Entries: { name, reference, customer, total, date, validUntil, link,
// gone? } with `date` the moment of staging and `gone` the moment the
// page first found the offer gone, both as ISO texts.
export function readRegister(text) {
  const entries = [];
  for (const line of text.split('\n')) {
    try {
      const e = JSON.parse(line);
      if (e && typeof e.name === 'string' && typeof e.date === 'string') entries.push(e);
    } catch {
      // create's new-file lines, or a line cut short: not an entry.
    }
  }
  return entries;
}

export const registerFile = (entries) =>
  REGISTER_KEY + '\n' + entries.slice(-REGISTER_SIZE).map((e) => JSON.stringify(e) + '\n').join('');

// The request that asks for an offer file without using it up.
export const probeBody = (directory, name) => commandBody('g', directory, OFFER_KEY, name);

// What get's answer says of the offer: true (still there), false (gone), or
// null (no answer that tells).
export function probeResult(outcome) {
  if (outcome.kind === 'done') return true;
  if (outcome.kind === 'refused') return false;
  return null;
}

const DAY = 24 * 60 * 60 * 1000;

// An offer's state: 'waiting' while its file is there; once gone, 'opened'
// if it went before the clean-up could have taken it (offerDays after
// staging), else 'expired' (opened late, or removed unopened). The moment it
// was first found gone is kept in the register as `gone`.
export function offerState(entry, exists, now, offerDays) {
  if (exists) return 'waiting';
  const staged = Date.parse(entry.date);
  const seen = entry.gone ? Date.parse(entry.gone) : now;
  return seen - staged < offerDays * DAY ? 'opened' : 'expired';
}
