// What is wrong with what a person typed or a file holds, said before
// anything is sent. Pure: node's tests call these directly.

import { factorEntry } from './format.js';
import { scanDouble } from './number.js';
import { directoryProblem, isOfferName, isPutTempName, keyProblem, nameProblem, putTextProblem } from './protocol.js';
import { tr } from './i18n.js';

// What is wrong with a row of `db`, field by field ({} when nothing is).
// The caller decides what a finding means: an error where the person edited
// the row (it stops a save), a warning where the file already holds it so.
export function rowProblems(row, db) {
  const found = {};
  const add = (field, text) => { found[field] = found[field] || text; };
  const { encoding } = db;
  for (const field of ['text', 'name', 'value', 'description', 'price']) {
    if (typeof row[field] !== 'string') continue;
    const bad = encoding.badChar(row[field]);
    if (bad) add(field, tr('“{{char}}” cannot be written in {{encoding}}, the encoding of this file', { char: bad, encoding: encoding.name }));
  }
  const number = (field) => {
    const bytes = encoding.encode(row[field]);
    const { value, end } = scanDouble(bytes);
    const rest = encoding.decode(bytes.subarray(end)).trim();
    const factor = field === 'value';
    if (end === 0) add(field, factor ? tr('the server reads this factor as 0') : tr('the server reads this price as 0'));
    else if (rest) {
      add(field, factor ? tr('the server reads this factor as {{value}} and ignores “{{rest}}”', { value, rest })
        : tr('the server reads this price as {{value}} and ignores “{{rest}}”', { value, rest }));
    }
  };
  if (row.kind === 'key') {
    const text = putTextProblem(encoding.encode(row.text + '\n'));
    if (text) add('text', text);
  } else if (row.kind === 'factor') {
    const bytes = encoding.encode(row.name);
    const entry = factorEntry(encoding.encode(row.name + (row.sep || ' ') + row.value));
    if (!bytes.length) add('name', tr('the factor name is empty'));
    else if (entry.name.length < bytes.length) {
      add('name', tr('previews and offers cannot use this factor: the server reads its name as “{{name}}”, with the factor {{factor}} (a name ends at its first space, tab or letter beyond plain ASCII, such as ä)',
        { name: encoding.decode(entry.name), factor: entry.factor }));
    } else if (db.factors.find((f) => f.name === row.name) !== row) {
      add('name', tr('an earlier factor has this name: the server only ever finds that one'));
    }
    number('value');
  } else if (row.kind === 'price') {
    const readings = unsureReadings(row);
    if (readings) add('price', tr('“{{price}}” could be {{one}} or {{other}}: choose the one you mean', { price: row.price, one: readings[0], other: readings[1] }));
    else if (row.price.includes(' ')) add('price', tr('a price cannot hold a space: the price is what follows the last space'));
    else number('price');
  }
  return found;
}

// A factor name the server reads whole, for a name it cannot ("vähittäis"
// becomes "vahittais"): accents taken off, letters NFD does not split
// spelled out, blanks joined by "-", and what is left beyond ASCII letters,
// digits and - _ . + dropped. '' where nothing is left.
const SPELLED = { ß: 'ss', æ: 'ae', Æ: 'AE', ø: 'o', Ø: 'O', œ: 'oe', Œ: 'OE', ł: 'l', Ł: 'L', đ: 'd', Đ: 'D', þ: 'th', Þ: 'TH' };
export function serverFactorName(name) {
  return name.normalize('NFD').replace(/\p{M}/gu, '').replace(/[ßæÆøØœŒłŁđĐþÞ]/g, (c) => SPELLED[c])
    .trim().replace(/\s+/g, '-').replace(/[^A-Za-z0-9\-_.+]/g, '');
}

// Why a database cannot be created under `name` in `directory` with `key`
// (all bytes or text), or ''.
export function createProblem(directory, name, key) {
  return directoryProblem(directory) || nameProblem(name) ||
    (isOfferName(name) ? tr('names of a full stop and six letters or digits belong to offers') : '') ||
    (isPutTempName(name) ? tr('names of “.put-” and six letters or digits belong to unfinished saves') : '') ||
    keyProblem(key);
}

// The two readings of a price the person typed that could be read either
// way ("1,234" where the shop writes decimal commas), while the line still
// holds that text; else null. The editor sets row.unsure as it is typed.
export const unsureReadings = (row) => (row.unsure && row.unsure.text === row.price ? row.unsure.readings : null);

// A price written with a decimal comma, as many shops write it ("199,50",
// "1.234,50"): the point form the server reads, or null where the text is
// not such a number.
export function decimalCommaFix(text) {
  const m = /^(\s*[-+]?)(\d{1,3}(?:\.\d{3})+|\d+),(\d+)(\s*)$/.exec(text);
  return m ? m[1] + m[2].replace(/\./g, '') + '.' + m[3] + m[4] : null;
}

// The lines create writes that mean nothing to a shop: title lines "0" and
// '""', and notes "0" after the prices while a title line is still such a
// placeholder. Only lines as the file holds them count.
export function placeholderRows(db) {
  const same = (row, text) => row && row.orig && row.text === text && row.base === text;
  const rows = [];
  if (same(db.headerA, '0')) rows.push(db.headerA);
  if (same(db.headerB, '""')) rows.push(db.headerB);
  if (rows.length) for (const row of db.trailing) if (same(row, '0')) rows.push(row);
  return rows;
}
