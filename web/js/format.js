// The database file as the server reads it, and written back so that every
// byte the person did not edit stays as it was.
//
// The server reads a database in line pieces of at most 59999 bytes, each
// counted as a line: the key line, the factor count N (atoi), N factor
// entries, header lines A and B, the price count M (atof, truncated), M price
// lines, then trailing lines that it copies through unread. The reader cuts
// the file the same way; a row keeps the bytes it was read from, and the
// writer sends those bytes again for every row the person left alone.

import { concat, encodingOf, isSeparator, latin1Bytes, latin1Text } from './bytes.js';
import { atoi, priceCount, scanDouble } from './number.js';
import { tr } from './i18n.js';

const MAX_PIECE = 59999;

// A line's ending: CR LF, LF, or none (the file's last line).
function cutEnding(bytes) {
  const n = bytes.length;
  if (n && bytes[n - 1] === 0x0a) {
    const cr = n > 1 && bytes[n - 2] === 0x0d;
    return [bytes.subarray(0, n - (cr ? 2 : 1)), cr ? '\r\n' : '\n'];
  }
  return [bytes, ''];
}

// Characters an input field cannot show and give back unchanged.
const UNSHOWABLE = /[\x00-\x08\x0a-\x1f\x7f]/;

// The kinds of row and the text fields each holds.
const FIELDS = {
  key: ['text'],
  header: ['text'],
  trailing: ['text'],
  factor: ['name', 'value'],
  price: ['description', 'price'],
};

function snapshot(row) {
  switch (row.kind) {
    case 'price': return row.description + '\u0000' + row.price;
    case 'factor': return row.name + '\u0000' + row.value;
    default: return row.text;
  }
}

// A new row, as the person adds it: it has no bytes of its own yet.
export function newRow(kind, fields = {}) {
  const row = { kind, orig: null, ending: '', base: null };
  for (const f of FIELDS[kind]) row[f] = fields[f] ?? '';
  if (kind === 'factor') row.sep = ' ';
  if (kind === 'price') row.spaced = true;
  return row;
}

// What a row held when read or last saved: `base` as one text, and its
// fields apart, so that the dirty check, which passes every row of a big
// list, compares them without building a text for each.
function setBase(row) {
  const [a, b] = FIELDS[row.kind];
  row.base = snapshot(row);
  row.base0 = row[a];
  row.base1 = b === undefined ? undefined : row[b];
}

export function isEdited(row) {
  if (row.orig === null) return true;
  const [a, b] = FIELDS[row.kind];
  return row[a] !== row.base0 || (b !== undefined && row[b] !== row.base1);
}

// Reads a database file. Returns the model the editor works on:
//   { bytes, encoding, eol, key, factors, headerA, headerB, prices, trailing,
//     factorCountRow, priceCountRow, readOnly, notes, ended }
// `readOnly` is null or the reason the file cannot be edited without losing
// bytes; `notes` are things the person should know (a file that ends early);
// `ended` is true where the file ends before its parts do, so that writing
// it back unedited adds the missing lines (else it gives `bytes` again).
export function readDatabase(bytes) {
  const nl = bytes.indexOf(0x0a);
  const file = new Lines(bytes);
  const db = { bytes, encoding: file.encoding, eol: nl > 0 && bytes[nl - 1] === 0x0d ? '\r\n' : '\n' };
  db.key = file.next('key', 'its key line') || newRow('key');
  db.factorCountRow = file.next('count', 'its factor count');
  const n = db.factorCountRow ? atoi(db.factorCountRow.content) : 0;
  db.factors = file.some('factor', n, 'its factors');
  db.headerA = file.next('header', 'header line A') || newRow('header');
  db.headerB = file.next('header', 'header line B') || newRow('header');
  db.priceCountRow = file.next('count', 'its price count');
  const m = db.priceCountRow ? priceCount(db.priceCountRow.content) : 0;
  db.prices = file.some('price', m, 'its price lines');
  db.factorCount = Math.max(n, 0);
  db.priceCount = Math.max(m, 0);
  db.trailing = file.rest();
  db.readOnly = file.readOnly;
  db.notes = file.ended ? [endedNote(file.ended)] : [];
  db.ended = !!file.ended;
  return db;
}

// What a file that ends before `what` means, in the person's words.
function endedNote(what) {
  switch (what) {
    case 'its key line': return tr('The file ends before its key line. Saving writes the missing lines.');
    case 'its factor count': return tr('The file ends before its factor count. Saving writes the missing lines.');
    case 'its factors': return tr('The file ends before its factors. Saving writes the missing lines.');
    case 'header line A': return tr('The file ends before header line A. Saving writes the missing lines.');
    case 'header line B': return tr('The file ends before header line B. Saving writes the missing lines.');
    case 'its price count': return tr('The file ends before its price count. Saving writes the missing lines.');
    default: return tr('The file ends before its price lines. Saving writes the missing lines.');
  }
}

// A file cut into rows as the server reads it, from the start on. It keeps
// the first reason the page cannot edit the file without losing bytes
// (`readOnly`), and what the file ended before, if it ends early (`ended`).
class Lines {
  constructor(bytes) {
    Object.assign(this, { bytes, encoding: encodingOf(bytes), at: 0, lineNo: 0, readOnly: null, ended: null });
  }

  // The next piece of at most MAX_PIECE bytes, a line as the server counts
  // lines, as a row of `kind`; null at the end of the file, which ends
  // before `what`.
  next(kind, what) {
    const { bytes, at } = this;
    if (at >= bytes.length) {
      this.ended ||= what;
      return null;
    }
    const limit = Math.min(bytes.length, at + MAX_PIECE);
    let end = bytes.indexOf(0x0a, at);
    end = end < 0 || end >= limit ? limit : end + 1;
    this.lineNo++;
    if (bytes[end - 1] !== 0x0a && end < bytes.length) {
      this.readOnly ||= tr('line {{n}} is longer than the {{max}} bytes the server reads as one line, so the server splits it',
        { n: this.lineNo, max: MAX_PIECE });
    }
    return this.row(kind, end);
  }

  // Up to `count` rows of `kind`: fewer where the file ends.
  some(kind, count, what) {
    const rows = [];
    for (let row; rows.length < count && (row = this.next(kind, what));) rows.push(row);
    return rows;
  }

  // The trailing lines, copied through whole, whatever their length.
  rest() {
    const rows = [];
    while (this.at < this.bytes.length) {
      const end = this.bytes.indexOf(0x0a, this.at);
      this.lineNo++;
      rows.push(this.row('trailing', end < 0 ? this.bytes.length : end + 1));
    }
    return rows;
  }

  // The bytes up to `end` as a row of `kind`.
  row(kind, end) {
    const orig = this.bytes.subarray(this.at, end);
    this.at = end;
    const [content, ending] = cutEnding(orig);
    const row = { kind, orig, ending, content };
    const text = this.encoding.decode(content);
    if (UNSHOWABLE.test(text)) this.readOnly ||= tr('line {{n}} holds control bytes that the page cannot show', { n: String(this.lineNo) });
    if (kind === 'factor') splitFactor(row, content, this.encoding);
    else if (kind === 'price') splitPrice(row, content, this.encoding, text);
    else row.text = text;
    if (kind !== 'count') setBase(row);
    return row;
  }
}

// A factor entry: the server's name runs to the first separator byte, but a
// byte from 0x80 up may be part of a letter, so the page cuts at the first
// ASCII blank or control byte and warns where the server cuts sooner.
function splitFactor(row, content, encoding) {
  let cut = content.findIndex((b) => b <= 0x20);
  if (cut < 0) cut = content.length;
  row.name = encoding.decode(content.subarray(0, cut));
  row.sep = cut < content.length ? String.fromCharCode(content[cut]) : '';
  row.value = encoding.decode(content.subarray(cut + 1));
  if (cut >= content.length) row.value = '';
}

// A price line: the price follows the last space; a line without one is a
// price alone. `text` is the line decoded; where it has a character a byte
// (most lines), it is cut where the bytes are.
function splitPrice(row, content, encoding, text) {
  const space = content.lastIndexOf(0x20);
  row.spaced = space >= 0;
  if (text.length === content.length) {
    row.description = text.slice(0, Math.max(space, 0));
    row.price = text.slice(space + 1);
    return;
  }
  row.description = encoding.decode(content.subarray(0, Math.max(space, 0)));
  row.price = encoding.decode(content.subarray(space + 1));
}

// What the server reads from a factor entry line: the name up to the first
// separator byte, the factor from the text after that byte.
export function factorEntry(line) {
  let cut = line.findIndex(isSeparator);
  if (cut < 0) cut = line.length;
  return { name: line.subarray(0, cut), factor: scanDouble(line.subarray(cut + 1)).value };
}

// The price text of a price line, as the server cuts it: what follows the
// last space, or the whole line when it has none.
export function priceText(line) {
  return line.subarray(line.lastIndexOf(0x20) + 1);
}

// A price query's answer: header lines A and B and the count line, then one
// repriced line for each of `count` price lines. Returns the price texts of
// those lines, as the server wrote them, decoded in `encoding`.
export function repricedTexts(payload, count, encoding) {
  const lines = [];
  let at = 0;
  for (let nl; lines.length < count + 3 && (nl = payload.indexOf(0x0a, at)) >= 0; at = nl + 1) {
    lines.push(payload.subarray(at, nl));
  }
  if (lines.length < count + 3 && at < payload.length) lines.push(payload.subarray(at));
  return lines.slice(3).map((line) => encoding.decode(priceText(line)));
}

// The bytes of one row: its own bytes where it is unchanged, else its fields
// encoded in the file's encoding.
function rowBytes(row, encoding) {
  if (!isEdited(row)) return row.orig;
  const enc = (text) => encoding.encode(text);
  switch (row.kind) {
    case 'factor': {
      const sep = row.sep || ' ';
      return concat([enc(row.name), enc(row.value === '' && !row.sep ? '' : sep), enc(row.value)]);
    }
    case 'price':
      return row.spaced || row.description !== ''
        ? concat([enc(row.description), enc(' '), enc(row.price)])
        : enc(row.price);
    default:
      return enc(row.text);
  }
}

function countRow(row, count, was, eol) {
  if (row && count === was) return { bytes: row.orig, ending: null };
  return { bytes: latin1Bytes(String(count)), ending: row ? row.ending : eol, row };
}

// The file's bytes after the person's edits. The counts follow the rows;
// a count line is rewritten only where its number changed.
//
// `spans`, where given, receives { row, start, end } for each row written
// from its fields (and each count line rewritten): where its bytes are.
export function writeDatabase(db, spans = null) {
  // {bytes, ending, row}: ending null where `bytes` are a row's own, whole;
  // `row` where the row is written anew.
  const parts = [];
  const add = (row) => {
    if (!isEdited(row)) parts.push({ bytes: row.orig, ending: null });
    else parts.push({ bytes: rowBytes(row, db.encoding), ending: row.orig ? row.ending : db.eol, row });
  };
  add(db.key);
  parts.push(countRow(db.factorCountRow, db.factors.length, db.factorCount, db.eol));
  db.factors.forEach(add);
  add(db.headerA);
  add(db.headerB);
  parts.push(countRow(db.priceCountRow, db.prices.length, db.priceCount, db.eol));
  db.prices.forEach(add);
  db.trailing.forEach(add);

  // Every line but the file's last needs its line end: a row that was the
  // last line, without one, and is not the last any more gets the file's.
  const eol = latin1Bytes(db.eol);
  const out = [];
  let size = 0;
  const put = (bytes) => {
    out.push(bytes);
    size += bytes.length;
  };
  parts.forEach((part, i) => {
    const last = i === parts.length - 1;
    const start = size;
    put(part.bytes);
    if (part.ending) put(part.ending === db.eol ? eol : latin1Bytes(part.ending));
    else if (!last && (part.ending === '' || part.bytes[part.bytes.length - 1] !== 0x0a)) put(eol);
    if (spans && part.row) spans.push({ row: part.row, start, end: size });
  });
  return concat(out);
}

// After the file `bytes`, written from `db` with `spans`, was saved: the
// rows written from their fields take their bytes from it, and every row
// counts as unedited and unmoved again. The rows stay the same objects, so
// that what shows them stays valid; unedited rows keep their own bytes,
// which are the file's too.
export function adoptWritten(db, bytes, spans) {
  for (const { row, start, end } of spans) {
    row.orig = bytes.subarray(start, end);
    [row.content, row.ending] = cutEnding(row.orig);
    if (row.kind === 'price') row.spaced = row.content.lastIndexOf(0x20) >= 0;
    if (row.kind !== 'count') setBase(row);
  }
  for (const part of ['factors', 'prices', 'trailing']) for (const row of db[part]) if (row.moved) row.moved = false;
  db.factorCount = db.factors.length;
  db.priceCount = db.prices.length;
  db.bytes = bytes;
  db.ended = false;
}

// For messages: a short quotation of bytes.
export function quote(bytes, longest = 40) {
  const text = latin1Text(bytes.subarray(0, longest))
    .replace(/[\\"]/g, '\\$&')
    .replace(/[^\x20-\x7e]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
  return '"' + text + (bytes.length > longest ? '"...' : '"');
}
