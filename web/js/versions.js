// The server's versions of a list, as the page reads them. Pure: node tests
// import it.
//
// Beside a list NAME, the server keeps DIR/.versions/NAME, one file a
// version, named by the UTC time it was replaced (20261209T045512.123456Z):
// names sort oldest first, and only names of that form are versions. They
// are read with the commands there are: list the directory, get a version
// with the key it had. The page never writes there (the server refuses).
//
// A remove shelves the list's versions as DIR/.versions/"NAME STAMP", STAMP
// the time of the removal, the removed list its newest version. Lists
// removed before removes shelved left DIR/.versions/NAME with no list NAME.

import { concat, latin1Bytes, latin1Text } from './bytes.js';

// What a server without versions means for the people who use it.
import { tr } from './i18n.js';

export const HISTORY_OFF = () => tr('History is off on this server: a save replaces the list for good, and a removed list cannot be brought back. Saving still merges what others saved since you opened the list. (The web server’s configuration turns history on with TALVEN_VERSIONS.)');

const asBytes = (v) => (typeof v === 'string' ? new TextEncoder().encode(v) : v);

// The directory of the versions of `name` in `directory`; without a name,
// the one that holds every name's.
export function versionsDir(directory, name) {
  const dir = asBytes(directory);
  const slash = dir[dir.length - 1] === 0x2f ? '' : '/';
  return concat([dir, latin1Bytes(slash + '.versions'), ...(name ? [latin1Bytes('/'), asBytes(name)] : [])]);
}

const STAMP = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})\.(\d{6})Z$/;
const isStamp = (text) => STAMP.test(text);

// A version's time, or null for another name.
export function stampTime(text) {
  const m = STAMP.exec(text);
  if (!m) return null;
  const [, y, mo, d, h, mi, s, us] = m.map(Number);
  return new Date(Date.UTC(y, mo - 1, d, h, mi, s, Math.floor(us / 1000)));
}

// The names a listing answered, as text, one a line.
function listedNames(payload) {
  return latin1Text(payload).split('\n').filter(Boolean);
}

// The versions in a listing, oldest first.
export const stampsOf = (payload) => listedNames(payload).filter(isStamp).sort();

// "NAME STAMP", the shelved versions of a list removed at STAMP: { name,
// stamp }, or null for another name. A list's name holds no space.
function shelfOf(entry) {
  const at = entry.lastIndexOf(' ');
  const name = entry.slice(0, at);
  const stamp = entry.slice(at + 1);
  return at > 0 && !name.includes(' ') && isStamp(stamp) ? { name, stamp } : null;
}

// The removed lists a listing of DIR/.versions tells of, `live` being the
// names of the lists there now: { dir, name, stamp }, `dir` the name under
// .versions, `stamp` the removal's (null for the old form). Other names
// with a space are not the server's: passed over.
export function removedLists(payload, live) {
  const here = new Set(live);
  const removed = [];
  for (const entry of listedNames(payload)) {
    const shelf = shelfOf(entry);
    if (shelf) removed.push({ dir: entry, ...shelf });
    else if (!entry.includes(' ') && !here.has(entry)) removed.push({ dir: entry, name: entry, stamp: null });
  }
  return removed;
}
