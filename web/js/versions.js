// The server's versions of a list, as the page reads them. Pure: node tests
// import it.
//
// Beside a list NAME, the server keeps DIR/.versions/NAME, one file a
// version, named by the UTC time it was replaced (20261209T045512.123456Z):
// names sort oldest first. They are read with the commands there are: list
// the directory, get a version with the key it had.

import { concat, latin1Bytes, latin1Text } from './bytes.js';

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
