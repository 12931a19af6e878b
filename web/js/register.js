// The register of offers staged from a data directory, shared by everyone
// who works there: a database file the listing hides, key line `offers`,
// then one offer a line as JSON. Pure: screens/register.js reads and
// writes it through datafile.js.
//
// Each entry keeps its offer's key, the key= of the offer line the offer
// begins with (offer_line.js), and never shows it. Whether an offer still
// waits is asked with a get of the offer under that key: the server answers
// exactly "s" while it waits and "s!" once it is not there to wait (opened,
// cleaned away or withdrawn), reading nothing out and using nothing up. A
// remove under that key withdraws the offer. Entries staged before the
// register kept keys cannot be asked: their state is not known.

import { isOfferKey } from './offer_line.js';
import { commandBody, isOfferName } from './protocol.js';

export const REGISTER_NAME = '.talvenplan-offers';
export const REGISTER_KEY = 'offers';
// The register keeps the newest offers; older ones drop off the end.
const REGISTER_SIZE = 2000;

// Entries: { name, key, reference, customer, total, date, validUntil, link,
// gone?, withdrawn?, withdrawnBy? } with `date` the moment of staging,
// `gone` the moment the page first found the offer gone and `withdrawn` the
// moment it was withdrawn, all as ISO texts, and `withdrawnBy` the name the
// person who withdrew it gave. Entries from before keys have no `key`.
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

// An entry the server can be asked about: an offer's name and key. Only
// those reach a request, whatever else a hand-edited register holds.
export const hasKey = (entry) => isOfferKey(entry.key) && isOfferName(entry.name);

// The request that asks whether an offer waits, without using it up, and
// the one that withdraws it; null for an entry without a key.
export const probeBody = (directory, entry) => (hasKey(entry) ? commandBody('g', directory, entry.key, entry.name) : null);
export const withdrawBody = (directory, entry) => (hasKey(entry) ? commandBody('r', directory, entry.key, entry.name) : null);

// What get's answer says of the offer: true (it waits), false (it does
// not), or null (no answer that tells).
export function probeResult(outcome) {
  if (outcome.kind === 'done') return outcome.payload.length === 0 ? true : null;
  if (outcome.kind === 'refused') return false;
  return null;
}

// What remove's answer says of a withdrawal: 'withdrawn'; 'gone' (no such
// offer any more: opened or cleaned away first); 'refused' (the offer there
// does not take this key); or null (no answer that tells).
export function withdrawResult(outcome) {
  if (outcome.kind === 'done') return 'withdrawn';
  if (outcome.kind === 'refused') return 'refused';
  if (outcome.kind === 'failed' && outcome.text === "can't open database on server") return 'gone';
  return null;
}

// An offer staged to take an answer has a slot beside it, NAME.slot, that
// the same key reads: when the link showed the offer, and the customer's
// answer once given. readSlot(outcome) gives { opened, answer } (each null
// until it happened; answer { decision, name, message, at, matched,
// address }), or null where the answer tells nothing (no slot: an offer
// from before, or one cleaned away).
export const slotBody = (directory, entry) => (hasKey(entry) ? commandBody('g', directory, entry.key, entry.name + '.slot') : null);
export function readSlot(outcome) {
  if (outcome.kind !== 'done') return null;
  const fields = {};
  for (const line of new TextDecoder().decode(outcome.payload).split('\n')) {
    const space = line.indexOf(' ');
    if (space > 0) fields[line.slice(0, space)] = line.slice(space + 1);
  }
  const decoded = (text) => {
    try {
      return decodeURIComponent(text ?? '');
    } catch {
      return text;
    }
  };
  const answer = /^(accept|decline)$/.test(fields.decision ?? '') ? {
    decision: fields.decision, name: decoded(fields.name), message: decoded(fields.message), at: fields.at ?? '',
    matched: fields.matched === 'yes', ...(fields.address ? { address: fields.address } : {}),
  } : null;
  return { opened: fields.opened ?? null, answer, by: fields.by ? decoded(fields.by) : null };
}

const DAY = 24 * 60 * 60 * 1000;

// An offer's state, from the register and `waits`, what asking the server
// found (true, false, or null for not asked or no answer): 'withdrawn';
// 'accepted' or 'declined' and 'opened' where the offer's slot told so;
// 'waiting'; once gone, 'opened' if it went before the clean-up could have
// taken it (offerDays after staging), else 'expired' (opened late, or
// removed unopened), the moment it was first found gone being kept as
// `gone`; 'keyless' for an entry from before keys that was never found
// gone; else 'unknown'.
export function offerState(entry, waits, now, offerDays) {
  if (entry.withdrawn) return 'withdrawn';
  // What the slot told, kept in the register: it outlives the slot.
  if (entry.answer) return entry.answer.decision === 'accept' ? 'accepted' : 'declined';
  if (entry.opened) return 'opened';
  if (waits === true) return 'waiting';
  if (waits === false || entry.gone) {
    const staged = Date.parse(entry.date);
    const seen = entry.gone ? Date.parse(entry.gone) : now;
    return seen - staged < offerDays * DAY ? 'opened' : 'expired';
  }
  return hasKey(entry) ? 'unknown' : 'keyless';
}

// The register with `change` made to the entry of offer `name`.
export const changeEntry = (text, name, change) =>
  registerFile(readRegister(text).map((e) => (e.name === name ? { ...e, ...change } : e)));
