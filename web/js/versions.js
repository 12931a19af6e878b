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

// A login as a listing `by` writes it (percent-encoded, as
// encodeURIComponent does), or '' where the file records none. A login the
// server encoded some other way is shown as it came rather than lost.
function login(text) {
  try {
    return decodeURIComponent(text);
  } catch {
    return text;
  }
}

// The entries a listing answered, in its order: { name, by }, the name as
// text, `by` the login that saved the file or ''. A listing `by` writes
// NAME, a tab and the login; the name is all before the last tab. A line
// with no tab (a server from before logins) is a name with no login.
export function listedEntries(payload) {
  return latin1Text(payload).split('\n').filter(Boolean).map((line) => {
    const tab = line.lastIndexOf('\t');
    return tab < 0 ? { name: line, by: '' } : { name: line.slice(0, tab), by: login(line.slice(tab + 1)) };
  });
}

// The names a listing answered, as text, with or without logins.
const listedNames = (payload) => listedEntries(payload).map((e) => e.name).filter(Boolean);

// The login that saved `name` (text) by a listing `by`: '' where none.
export const savedBy = (payload, name) => listedEntries(payload).find((e) => e.name === name)?.by ?? '';

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
