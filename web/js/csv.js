// Spreadsheet files as Excel, LibreOffice Calc and Google Sheets write them:
// CSV with a comma or a semicolon, or TSV; UTF-8 with or without a byte order
// mark, UTF-16 (Excel's "Unicode text"), or Windows-1252. Cells may be quoted,
// and a quoted cell may hold separators, quotes ("" for one) and line breaks.

import { CP1252, UTF8, concat, isUtf8 } from './bytes.js';
import { tr } from './i18n.js';

const lenient = (label) => new TextDecoder(label, { ignoreBOM: true });

// The text of a file and the name of the encoding it was read in.
export function decodeFile(bytes) {
  const [a, b, c] = bytes;
  if (a === 0xef && b === 0xbb && c === 0xbf) {
    return { text: lenient('utf-8').decode(bytes.subarray(3)), encoding: 'UTF-8 with a byte order mark' };
  }
  if (a === 0xff && b === 0xfe) return { text: lenient('utf-16le').decode(bytes.subarray(2)), encoding: 'UTF-16' };
  if (a === 0xfe && b === 0xff) return { text: lenient('utf-16be').decode(bytes.subarray(2)), encoding: 'UTF-16' };
  if (isUtf8(bytes)) return { text: UTF8.decode(bytes), encoding: 'UTF-8' };
  return { text: CP1252.decode(bytes), encoding: 'Windows-1252' };
}

const QUOTE = 0x22;
const CR = 0x0d;
const LF = 0x0a;

// Cuts text into rows of cells. A row ends at CR LF, LF or a lone CR (old
// Mac files), except inside quotes; a last line without a line end is a row,
// an empty text has none. Returns { rows, lines, problem }: `lines[i]` is the
// line row i begins on (counting from 1), and `problem` says where a quoted
// cell is never closed (it then runs to the end of the text). `limit` stops
// after that many rows.
export function parseCsv(text, sep, limit = Infinity) {
  const cut = { text, sep: sep.charCodeAt(0), at: 0, line: 1, problem: null };
  const rows = [];
  const lines = [];
  while (cut.at < text.length && rows.length < limit) {
    lines.push(cut.line);
    rows.push(readRow(cut));
  }
  return { rows, lines, problem: cut.problem };
}

// The row at `cut.at`, and its line end.
function readRow(cut) {
  const { text } = cut;
  const row = [];
  for (;;) {
    row.push(text.charCodeAt(cut.at) === QUOTE ? quotedCell(cut) : plainCell(cut));
    if (text.charCodeAt(cut.at) !== cut.sep) break;
    cut.at++;
  }
  if (text.charCodeAt(cut.at) === CR) cut.at++;
  if (text.charCodeAt(cut.at) === LF) cut.at++;
  cut.line++;
  return row;
}

// A cell up to the separator or the line's end.
function plainCell(cut) {
  const { text, sep } = cut;
  let k = cut.at;
  while (k < text.length && !ends(text.charCodeAt(k), sep)) k++;
  const cell = text.slice(cut.at, k);
  cut.at = k;
  return cell;
}

// A quoted cell: up to a quote that no second quote follows. Text between
// the closing quote and the separator is kept as it is.
function quotedCell(cut) {
  const { text } = cut;
  const start = cut.line;
  let cell = '';
  for (let from = cut.at + 1; ;) {
    const q = text.indexOf('"', from);
    const part = text.slice(from, q < 0 ? text.length : q);
    cut.line += countLines(part);
    cell += part;
    if (q < 0) {
      cut.problem ||= { line: start, text: tr('the quoted cell that begins on line {{line}} is never closed', { line: start }) };
      cut.at = text.length;
      return cell;
    }
    if (text.charCodeAt(q + 1) !== QUOTE) {
      cut.at = q + 1;
      return cell + plainCell(cut);
    }
    cell += '"';
    from = q + 2;
  }
}

const ends = (c, s) => c === s || c === LF || c === CR;

function countLines(text) {
  let count = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text.charCodeAt(i);
    if (c === LF || (c === CR && text.charCodeAt(i + 1) !== LF)) count++;
  }
  return count;
}

export const SEPARATORS = [
  ['\t', 'tab'],
  [';', 'semicolon'],
  [',', 'comma'],
];

// The separator a file most likely uses: the one that cuts the first rows
// into the same number of cells (more than one) most often. On a tie a tab
// comes before a semicolon, and a semicolon before a comma, since a comma is
// also a decimal separator inside cells of a semicolon file. A first line
// "sep=X" names it.
export function detectSeparator(text) {
  // Excel writes and honours a first line "sep=;".
  const named = /^sep=([,;\t])(?:\r\n|\n|\r|$)/i.exec(text);
  if (named) return named[1];
  const sample = text.slice(0, 65536);
  let best = { sep: ',', score: 0 };
  for (const [sep] of SEPARATORS) {
    const rows = parseCsv(sample, sep, 50).rows.filter((row) => row.length > 1 || row[0] !== '');
    const counts = new Map();
    for (const row of rows) counts.set(row.length, (counts.get(row.length) || 0) + 1);
    let score = 0;
    for (const [cells, times] of counts) if (cells > 1) score = Math.max(score, times / rows.length);
    if (score > best.score) best = { sep, score };
  }
  return best.sep;
}

// Rows as a spreadsheet file. A cell is quoted where it holds the separator,
// a quote or a line break, or begins or ends with a blank that a reader
// could drop. `bom` puts a byte order mark first: Excel reads a file as
// UTF-8 only with one.
export function writeCsv(rows, { sep = ',', bom = false, eol = '\r\n' } = {}) {
  const special = new RegExp(`[${sep === '\t' ? '\\t' : sep}"\\r\\n]|^\\s|\\s$`);
  const text = rows.map((row) => row.map((cell) => (special.test(cell) ? `"${cell.replace(/"/g, '""')}"` : cell)).join(sep))
    .join(eol) + (rows.length ? eol : '');
  const bytes = UTF8.encode(text);
  return bom ? concat([Uint8Array.of(0xef, 0xbb, 0xbf), bytes]) : bytes;
}
