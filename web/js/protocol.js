// What the page and the server share on the wire: request bodies, the
// checks that keep a request from arriving changed, answers, offer links,
// and get's answer turned back into the database file. The same rules as
// talvenplan-client's, read from the same protocol vectors in the tests.

import { byteName, concat, isLineEnd, isSeparator, latin1Bytes, latin1Text } from './bytes.js';
import { quote } from './format.js';
import { tr } from './i18n.js';

const NL = 0x0a;
const asBytes = (v) => (typeof v === 'string' ? new TextEncoder().encode(v) : v);

// The server compares at most this many bytes of a key.
export const KEY_SIZE = 8;

// Request bodies: the letter, a newline, the directory, a newline, then the
// command's fields. The key field carries the factor's name for a query.
// A listing `by` asks for the login that saved each file as well (a server
// from before logins ignores the line and lists names only).
export function listBody(directory, { by = false } = {}) {
  return concat([latin1Bytes('l\n'), asBytes(directory), latin1Bytes(by ? '\nby\n' : '\n')]);
}
export function commandBody(letter, directory, key, name, text = new Uint8Array()) {
  return concat([latin1Bytes(letter + '\n'), asBytes(directory), latin1Bytes('\n'), asBytes(key),
    latin1Bytes(' '), asBytes(name), latin1Bytes('\n'), asBytes(text)]);
}
export function storeBody(directory, text) {
  return concat([latin1Bytes('s\n'), asBytes(directory), latin1Bytes('\n'), asBytes(text)]);
}

// Checks of what a request carries. Each returns '' when the value passes,
// else a sentence that says what is wrong.
export function directoryProblem(directory) {
  const bytes = asBytes(directory);
  if (!bytes.length) return tr('the directory is empty');
  for (const b of bytes) {
    if (isLineEnd(b)) return tr('the directory holds the byte {{byte}}, which would end it early', { byte: byteName(b) });
  }
  return '';
}

// A database name, or a factor name for a query (`what` says which).
export function nameProblem(name, what = 'name') {
  const bytes = asBytes(name);
  const factor = what === 'factor name';
  if (!bytes.length) return factor ? tr('the factor name is empty') : tr('the name is empty');
  for (const b of bytes) {
    // Spaces and letters such as ä are what people type; name them plainly.
    if (b === 0x20) return factor ? tr('a factor name cannot hold a space: the server would end it there') : tr('a name cannot hold a space: the server would end it there');
    if (b >= 0x80) {
      return factor ? tr('a factor name can hold only plain ASCII (no letters such as ä or é): the server would end it there')
        : tr('a name can hold only plain ASCII (no letters such as ä or é): the server would end it there');
    }
    if (isSeparator(b)) {
      return factor ? tr('the factor name holds the byte {{byte}}, which would end it early', { byte: byteName(b) })
        : tr('the name holds the byte {{byte}}, which would end it early', { byte: byteName(b) });
    }
  }
  return '';
}

export function keyProblem(key) {
  const bytes = asBytes(key);
  if (!bytes.length) return tr('the key is empty');
  for (const b of bytes) {
    if (b === 0x20) return tr('a key cannot hold a space: it ends the key');
    if (b < 0x20) return tr('the key holds the control byte {{byte}}', { byte: byteName(b) });
  }
  if (bytes.length > KEY_SIZE) return tr('a key has at most {{size}} bytes: the server compares no more of it', { size: KEY_SIZE });
  if (bytes[0] >= 0x80) return tr('a key cannot begin with a letter beyond plain ASCII (such as ä): the server skips it');
  if (bytes[bytes.length - 1] >= 0x80) {
    return tr('a key cannot end with a letter beyond plain ASCII (such as ä): the server drops it from the stored key, so it would never match');
  }
  return '';
}

export function offerTextProblem(text) {
  const bytes = asBytes(text);
  if (!bytes.length) return 'the offer text is empty';
  if (isSeparator(bytes[0])) {
    return `the offer text begins with the byte ${byteName(bytes[0])}; the server drops blank, ` +
      'control and non-ASCII bytes at the start of an offer';
  }
  return '';
}

// The stored key the server's key check compares for a file that begins
// with `bytes`: at most 8 bytes, up to and including a newline, cut at a
// NUL, separator bytes trimmed from its end. Null for an empty file.
export function storedKey(bytes) {
  if (!bytes.length) return null;
  let piece = bytes.subarray(0, KEY_SIZE);
  const nl = piece.indexOf(NL);
  if (nl >= 0) piece = piece.subarray(0, nl + 1);
  const nul = piece.indexOf(0);
  if (nul >= 0) piece = piece.subarray(0, nul);
  let size = piece.length;
  while (size > 0 && isSeparator(piece[size - 1])) size--;
  return piece.subarray(0, size);
}

// A put text becomes the whole database; its first line is the new key line,
// and the key it leaves must be one the page could send again.
export function putTextProblem(text) {
  const bytes = asBytes(text);
  if (!bytes.length) {
    return tr('the text is empty: it would leave an empty database that could never be read or removed again');
  }
  const piece = bytes.subarray(0, KEY_SIZE);
  if (piece.length === KEY_SIZE && piece.indexOf(NL) < 0 && (piece.indexOf(0) >= 0 || isSeparator(piece[KEY_SIZE - 1]))) {
    return tr('the key line’s first {{size}} bytes end in a blank, control or non-ASCII byte or hold a NUL byte: the database could not be read back whole', { size: KEY_SIZE });
  }
  const key = storedKey(bytes);
  const problem = keyProblem(key);
  return problem ? tr('the key line leaves the key {{key}}, which could not be sent again ({{problem}})', { key: quote(key), problem }) : '';
}

// An answer, its header already gone: 'done' with the payload, 'refused'
// ("s!" alone), 'failed' with the server's message, or 'unexpected'.
export function readAnswer(bytes) {
  if (bytes.length === 2 && bytes[0] === 0x73 && bytes[1] === 0x21) return { status: 'refused', payload: new Uint8Array() };
  if (bytes[0] === 0x73) return { status: 'done', payload: bytes.subarray(1) };
  if (bytes[0] === 0x66 && bytes[1] === 0x73) return { status: 'failed', payload: bytes.subarray(2) };
  return { status: 'unexpected', payload: bytes };
}

// The letter-pair encoding: each byte as 'a' plus its low four bits, then
// 'a' plus its high four bits.
function encodeLetterPairs(bytes) {
  let letters = '';
  for (const b of asBytes(bytes)) letters += String.fromCharCode(97 + (b & 15), 97 + (b >> 4));
  return letters;
}
export function offerLinkQuery(name, directory) {
  return 'TALVENPLAN_FILE=' + encodeLetterPairs(name) + 'z' + encodeLetterPairs(directory) + 'z';
}

// The form of the names store makes: "." and six letters or digits.
export const isOfferName = (bytes) => /^\.[A-Za-z0-9]{6}$/.test(latin1Text(asBytes(bytes)));
// A put's temporary file, which the clean-up deletes.
export const isPutTempName = (bytes) => /^\.put-[A-Za-z0-9]{6}$/.test(latin1Text(asBytes(bytes)));

// get's payload as the database file, for put to send back unchanged, or
// null where that file cannot be told. get answers the stored key and a
// newline, then the file from where the key check stopped reading: after a
// stored key of 8 bytes that is the rest of the key line (often just its
// newline), so the newline after the key is not the file's. A shorter key
// followed by a blank line may come from a key line whose first 8 bytes
// ended in blanks that the key check trimmed, and where that line ended is
// lost.
export function databaseFromGet(payload) {
  const keyEnd = payload.indexOf(NL);
  if (keyEnd === KEY_SIZE) return concat([payload.subarray(0, KEY_SIZE), payload.subarray(KEY_SIZE + 1)]);
  if (keyEnd < 0) return payload;
  let next = payload.subarray(keyEnd + 1);
  const nl = next.indexOf(NL);
  if (nl >= 0) next = next.subarray(0, nl);
  return next.every(isSeparator) ? null : payload;
}

// get does not give back the blanks the key check trimmed from the end of a
// short key line, a carriage return among them. Where the next line ends in
// CR LF, the key line is taken to have ended so too: the file with that key
// line, or null where the next line does not end so.
export function crlfDatabaseFromGet(payload) {
  const keyEnd = payload.indexOf(NL);
  let rest;
  if (keyEnd >= 0 && keyEnd < KEY_SIZE - 1) rest = payload.subarray(keyEnd + 1);
  // A key of 7 bytes and a CR fill the 8 bytes the key check reads: the key
  // line's newline comes next.
  else if (keyEnd === KEY_SIZE - 1 && payload[KEY_SIZE] === NL) rest = payload.subarray(KEY_SIZE + 1);
  else return null;
  const next = rest.indexOf(NL);
  if (next < 1 || rest[next - 1] !== 0x0d) return null;
  return concat([payload.subarray(0, keyEnd), latin1Bytes('\r\n'), rest]);
}
