// The server's versions of a list, as the page reads them, and the merge of
// database files. Pure: node tests import it.
//
// Beside a list NAME, the server keeps DIR/.versions/NAME, one file a
// version, named by the UTC time it was replaced (20261209T045512.123456Z):
// names sort oldest first. They are read with the commands there are: list
// the directory, get a version with the key it had.

import { concat, latin1Bytes, latin1Text } from './bytes.js';
import { diffLines, merge3, resolved, splitLines } from './merge.js';

// What a server without versions means for the people who use it.
export const HISTORY_OFF = 'History is off on this server: a save replaces the list for good, and a removed list cannot be brought back. ' +
  'Saving still merges what others saved since you opened the list. (The web server\'s configuration turns history on with TALVEN_VERSIONS.)';

const asBytes = (v) => (typeof v === 'string' ? new TextEncoder().encode(v) : v);

// The directory of the versions of `name` in `directory`; without a name,
// the one that holds every name's.
export function versionsDir(directory, name) {
  const dir = asBytes(directory);
  const slash = dir[dir.length - 1] === 0x2f ? '' : '/';
  return concat([dir, latin1Bytes(slash + '.versions'), ...(name ? [latin1Bytes('/'), asBytes(name)] : [])]);
}

const STAMP = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})\.(\d{6})Z$/;
export const isStamp = (text) => STAMP.test(text);

// A version's time, or null for another name.
export function stampTime(text) {
  const m = STAMP.exec(text);
  if (!m) return null;
  const [, y, mo, d, h, mi, s, us] = m.map(Number);
  return new Date(Date.UTC(y, mo - 1, d, h, mi, s, Math.floor(us / 1000)));
}

// The names a listing answered, as text, one a line.
export function listedNames(payload) {
  return latin1Text(payload).split('\n').filter(Boolean);
}

// The versions in a listing, oldest first.
export const stampsOf = (payload) => listedNames(payload).filter(isStamp).sort();

// A three-way merge of database files (bytes): what was opened, what this
// page has made of it, what the server holds now. Lines are compared as
// bytes. { bytes } when it merged cleanly, else { conflicts: [{ mine,
// theirs }] as text for a person, choose(picks) -> bytes }; `theirs` counts
// the lines taken from the server's side.
export function mergeFiles(base, mine, theirs) {
  const lines = (b) => splitLines(latin1Text(b));
  const merge = merge3(lines(base), lines(mine), lines(theirs));
  const join = (parts) => latin1Bytes(parts.join(''));
  if (!merge.conflicts) return { bytes: join(resolved(merge)), theirs: merge.theirs };
  const conflicts = merge.chunks.filter((c) => !c.lines)
    .map((c) => ({ mine: latin1Bytes(c.mine.join('')), theirs: latin1Bytes(c.theirs.join('')) }));
  return {
    conflicts,
    theirs: merge.theirs,
    // picks[i]: 'mine' or 'theirs' for the i-th conflict.
    choose: (picks) => join(resolved(merge, (c, i) => (picks[i] === 'theirs' ? c.theirs : c.mine))),
  };
}

// What changed from `from` to `to`, line by line, for a person: a list of
// { removed: [lines], added: [lines], at } with `at` the first line's number
// in `from` (from 1).
export function changes(from, to) {
  const a = splitLines(latin1Text(from));
  const b = splitLines(latin1Text(to));
  return diffLines(a, b).map((h) => ({
    at: h.aStart + 1,
    removed: a.slice(h.aStart, h.aEnd).map((l) => latin1Bytes(l.replace(/\n$/, ''))),
    added: b.slice(h.bStart, h.bEnd).map((l) => latin1Bytes(l.replace(/\n$/, ''))),
  }));
}
