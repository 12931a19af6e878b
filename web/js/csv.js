// Spreadsheet files as Excel, LibreOffice Calc and Google Sheets write them:
// CSV with a comma or a semicolon, or TSV; UTF-8 with or without a byte order
// mark, UTF-16 (Excel's "Unicode text"), or Windows-1252. Cells may be quoted,
// and a quoted cell may hold separators, quotes ("" for one) and line breaks.

import { CP1252, UTF8, concat, isUtf8 } from './bytes.js';

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
  const s = sep.charCodeAt(0);
  const n = text.length;
  const rows = [];
  const lines = [];
  let problem = null;
  let line = 1;
  let at = 0;
  while (at < n && rows.length < limit) {
    const row = [];
    lines.push(line);
    for (;;) {
      let cell;
      if (text.charCodeAt(at) === QUOTE) {
        // A quoted cell: up to a quote that no second quote follows. Text
        // between the closing quote and the separator is kept as it is.
        const start = line;
        cell = '';
        let from = at + 1;
        for (;;) {
          const q = text.indexOf('"', from);
          const end = q < 0 ? n : q;
          const part = text.slice(from, end);
          line += countLines(part);
          cell += part;
          if (q < 0) {
            problem = problem || { line: start, text: `the quoted cell that begins on line ${start} is never closed` };
            at = n;
            break;
          }
          if (text.charCodeAt(q + 1) === QUOTE) {
            cell += '"';
            from = q + 2;
            continue;
          }
          at = q + 1;
          break;
        }
        let k = at;
        while (k < n && !ends(text.charCodeAt(k), s)) k++;
        cell += text.slice(at, k);
        at = k;
      } else {
        let k = at;
        while (k < n && !ends(text.charCodeAt(k), s)) k++;
        cell = text.slice(at, k);
        at = k;
      }
      row.push(cell);
      if (at < n && text.charCodeAt(at) === s) {
        at++;
        continue;
      }
      break;
    }
    // The row's line end.
    if (text.charCodeAt(at) === CR) at++;
    if (text.charCodeAt(at) === LF) at++;
    line++;
    rows.push(row);
  }
  return { rows, lines, problem };
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
