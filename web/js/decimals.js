// Amounts as people and spreadsheets write them, read into the form the
// server reads (digits, a point, digits: "1234.50"), and exact decimal
// arithmetic on that form for changing many prices at once.

import { tr } from './i18n.js';

// Currency signs and codes that may stand before or after an amount.
const CURRENCY = '€|\\$|£|¥|EUR|USD|GBP|CHF|SEK|NOK|DKK|kr\\.?|:-';
const LEADING = new RegExp(`^(?:${CURRENCY})\\s*`, 'i');
const TRAILING = new RegExp(`\\s*(?:${CURRENCY})$`, 'i');
// Blanks that group thousands: space, no-break space, thin and narrow no-break
// spaces (Finnish and French spreadsheets), and the Swiss apostrophe.
const GROUP = /^[ \u00a0\u2009\u202f'’]$/;

// Reads one written amount. `decimal` is the decimal separator the rest of
// the file shows (',' or '.'), or null when nothing does. Returns one of
//   { value: '1234.50', decimal, grouping }  decimal and grouping are the
//                                            separators the text used, or null
//   { ambiguous: ['1234', '1.234'] }          '1,234' without a hint
//   { problem: 'why it cannot be read' }
//   { empty: true }
// The digits after the decimal separator stay as written: '12,5' is '12.5'.
export function readAmount(written, decimal = null) {
  const simple = SIMPLE.exec(written);
  if (simple) return readSimple(simple, decimal);
  const grouped = BLANK_GROUPED.exec(written);
  if (grouped) return readBlankGrouped(grouped);
  const trimmed = written.trim();
  if (trimmed === '') return { empty: true };
  const read = readWritten(trimmed, decimal);
  return read.why ? { problem: read.why(trimmed) } : read;
}

// The general way: the sign and currency signs taken off, the digit groups
// and the separators between them, and which separator marks the decimals.
// Returns what readAmount does, or { why } it is no amount.
function readWritten(trimmed, decimal) {
  const { text, negative } = unsigned(trimmed);
  if (!/^[0-9.,]/.test(text) || !/^[0-9., \u00a0\u2009\u202f'’]*$/.test(text) || !/[0-9]/.test(text)) {
    return { why: (text) => tr('the price “{{text}}” is not an amount', { text }) };
  }
  const groups = text.split(/[^0-9]/);
  const seps = text.replace(/[0-9]+/g, '').split('');
  if (groups.slice(1, -1).some((g) => g === '') || (groups[0] === '' && seps.length > 1)) {
    return { why: (text) => tr('the price “{{text}}” has separators next to each other', { text }) };
  }
  const point = decimalPoint(groups, seps, decimal);
  if (typeof point !== 'number') return point;
  // Every group left of the decimal separator but the first has three digits.
  const whole = point < 0 ? groups : groups.slice(0, point + 1);
  const fraction = point < 0 ? '' : groups.slice(point + 1).join('');
  if (point >= 0 && point !== seps.length - 1) return { why: (text) => tr('the price “{{text}}” has a separator after its decimals', { text }) };
  if (whole.length > 1 && (whole[0].length > 3 || whole.slice(1).some((g) => g.length !== 3))) {
    return { why: (text) => tr('the price “{{text}}” is not grouped in thousands', { text }) };
  }
  const digits = strip(whole.join('') || '0');
  const decimalMark = point >= 0 ? seps[point] : null;
  return {
    value: (negative && /[1-9]/.test(digits + fraction) ? '-' : '') + digits + (fraction ? '.' + fraction : ''),
    decimal: decimalMark,
    grouping: seps.find((c) => (c === ',' || c === '.') && c !== decimalMark) ?? null,
  };
}

// The amount without its sign and currency ('€ -12,50', '-12,50 €', '12,-'),
// and whether it is negative.
function unsigned(trimmed) {
  let text = trimmed;
  let negative = false;
  if (/^[-−+]/.test(text)) {
    negative = text[0] !== '+';
    text = text.slice(1).trimStart();
  }
  if (/[^0-9\s.,'’]/.test(text)) text = text.replace(LEADING, '').replace(TRAILING, '');
  if (!negative && /^[-−]/.test(text)) {  // '€ -12,50'
    negative = true;
    text = text.slice(1).trimStart();
  }
  return { text: text.replace(/([.,])-$/, '$1'), negative };  // '12,-' is 12 whole
}

// Where the decimal separator is among `seps`: its index, -1 for none, or
// { why } or { ambiguous } where it cannot be told.
function decimalPoint(groups, seps, decimal) {
  const marks = seps.filter((c) => c === ',' || c === '.');
  if (!marks.length) return -1;
  const last = marks[marks.length - 1];
  const lastAt = seps.lastIndexOf(last);
  if (marks.some((c) => c !== last)) {
    // '1.234,50': the last kind of mark is the decimal one, and only once.
    return marks.filter((c) => c === last).length > 1 ? { why: (text) => tr('the price “{{text}}” mixes its separators', { text }) } : lastAt;
  }
  if (marks.length > 1) return -1;  // '1,234,567': grouping only
  const before = groups[lastAt];
  const after = groups[lastAt + 1];
  const grouped = after.length === 3 && before.length >= 1 && before.length <= 3 && before !== '0' &&
    !seps.some((c) => GROUP.test(c));
  if (!grouped || decimal === last) return lastAt;
  if (decimal) return -1;
  return { ambiguous: [strip(groups.join('')), strip(before) + '.' + after] };
}

// Thousands grouped by blanks, and perhaps decimals: '1 234,50'.
function readBlankGrouped([, minus, before, mark, after]) {
  const digits = before.replace(/[^0-9]/g, '');
  const value = strip(digits) + (mark ? '.' + after : '');
  return { value: (minus && /[1-9]/.test(digits + (after || '')) ? '-' : '') + value, decimal: mark ?? null, grouping: null };
}

const strip = (digits) => digits.replace(/^0+(?=[0-9])/, '');

// Most cells are digits with at most one mark ('12,50', '1234.5', '1,234'),
// or thousands grouped by blanks ('1 234,50'): read without the general
// way's splitting, to the same result.
const SIMPLE = /^(-?)([0-9]+)(?:([.,])([0-9]+))?$/;
const BLANK_GROUPED = /^(-?)([0-9]{1,3}(?:[ \u00a0\u2009\u202f][0-9]{3})+)(?:([.,])([0-9]+))?$/;
function readSimple([, minus, before, mark, after], decimal) {
  const signed = (digits, fraction = '') =>
    (minus && /[1-9]/.test(digits + fraction) ? '-' : '') + strip(digits) + (fraction ? '.' + fraction : '');
  if (!mark) return { value: signed(before), decimal: null, grouping: null };
  const grouped = after.length === 3 && before.length <= 3 && before !== '0';
  if (!grouped || decimal === mark) return { value: signed(before, after), decimal: mark, grouping: null };
  if (decimal) return { value: signed(before + after), decimal: null, grouping: mark };
  return { ambiguous: [strip(before + after), strip(before) + '.' + after] };
}

// The decimal separator `locale` writes: ',' for fi-FI, sv-FI and de-DE.
export function localeDecimal(locale) {
  try {
    return new Intl.NumberFormat(locale).formatToParts(1.5).find((p) => p.type === 'decimal')?.value ?? '.';
  } catch {
    return '.';
  }
}

// A price typed in the editor where the shop's locale writes `decimal`.
// With decimal commas: { price } in the form the server reads ('21,90' is
// 21.90), { ambiguous } where the text could be read either way ('1,234',
// '1.234'), or null where the text is kept as typed for the checks to judge
// (it already is the server's form, or uses a point as its decimals, or is
// no amount). With decimal points, always null: the text is the server's.
export function typedPrice(text, decimal) {
  if (decimal !== ',') return null;
  const read = readAmount(text);
  if (read.ambiguous) return { ambiguous: read.ambiguous };
  if (!read.value || read.decimal === '.' || read.grouping === ',') return null;
  return read.value === text ? null : { price: read.value };
}

// The decimal separator a column of amounts shows, or null where it shows
// none or both: '12,50' shows ',', '1,234.50' shows '.'.
export function columnDecimal(cells) {
  const seen = new Set();
  for (const cell of cells) {
    const read = readAmount(cell);
    if (!read.value) continue;
    if (read.decimal) seen.add(read.decimal);
    else if (read.grouping) seen.add(read.grouping === ',' ? '.' : ',');
  }
  return seen.size === 1 ? [...seen][0] : null;
}

// Exact decimals: { n, scale } is n / 10^scale, n a BigInt.
const PLAIN = /^([-+]?)([0-9]*)(?:\.([0-9]*))?$/;
export function parseDecimal(text) {
  const m = PLAIN.exec(text);
  if (!m || (m[2] + (m[3] || '')) === '') return null;
  const fraction = m[3] || '';
  const n = BigInt(m[2] + fraction || '0');
  return { n: m[1] === '-' ? -n : n, scale: fraction.length };
}

// a / b rounded to the nearest integer, halves away from zero (b > 0).
function roundDiv(a, b) {
  const negative = a < 0n;
  const q = (2n * (negative ? -a : a) + b) / (2n * b);
  return negative ? -q : q;
}
const TEN = (k) => 10n ** BigInt(k);

// Cents as a price text: 1234 -> '12.34'.
function centsText(cents) {
  const negative = cents < 0n;
  const digits = (negative ? -cents : cents).toString().padStart(3, '0');
  return (negative ? '-' : '') + digits.slice(0, -2) + '.' + digits.slice(-2);
}

export const ROUNDINGS = {
  get cents() { return tr('to cents'); },
  get '0.05'() { return tr('to 0.05'); },
  get '.99'() { return tr('to endings .99'); },
  get '.90'() { return tr('to endings .90'); },
};

// A price changed by a percentage or by an amount, then rounded. `price`,
// `by` are plain decimal texts; `how` is 'percent' or 'amount'; `rounding` a
// key of ROUNDINGS. Returns { price } or { problem }. An ending rounds to the
// nearest price with it, never turning a rise into a cut or a cut into a
// rise, nor going below zero.
export function changePrice(price, how, by, rounding) {
  const old = parseDecimal(price);
  const step = parseDecimal(by);
  if (!old) return { problem: tr('the price “{{price}}” is not a plain number', { price }) };
  if (!step) return { problem: tr('the change “{{by}}” is not a plain number', { by }) };
  // The exact new value as num / den.
  let num;
  let den;
  if (how === 'percent') {
    num = old.n * (100n * TEN(step.scale) + step.n);
    den = TEN(old.scale + step.scale + 2);
  } else {
    const scale = Math.max(old.scale, step.scale);
    num = old.n * TEN(scale - old.scale) + step.n * TEN(scale - step.scale);
    den = TEN(scale);
  }
  const cents = (n, d) => roundDiv(n * 100n, d);
  if (rounding === 'cents') return { price: centsText(cents(num, den)) };
  if (rounding === '0.05') return { price: centsText(roundDiv(num * 20n, den) * 5n) };
  const ending = rounding === '.99' ? 99n : 90n;
  // Candidates k*100 + ending around the value in cents (x = num*100/den).
  const x = num * 100n;  // the value in cents, times den
  const below = floorDiv(x - ending * den, 100n * den) * 100n + ending;
  const above = below + 100n;
  // below <= value < above: the nearer, a tie going up.
  let pick = above * den - x <= x - below * den ? above : below;
  const was = old.n * 100n;  // the old price in cents, times 10^scale
  const now = num * TEN(old.scale) * 100n;  // the new value likewise, times den
  const at = (cents) => cents * TEN(old.scale);
  if (now > was * den && at(pick) < was) pick = above;
  if (now < was * den && at(pick) > was) pick = below;
  if (pick < 0n) pick = above;
  if (now < was * den && at(pick) > was) {
    return { problem: tr('no price ending in {{ending}} fits: the new price {{price}} is too small', { ending: rounding, price: centsText(cents(num, den)) }) };
  }
  return { price: centsText(pick) };
}

function floorDiv(a, b) {
  const q = a / b;
  return (a % b !== 0n && (a < 0n) !== (b < 0n)) ? q - 1n : q;
}
