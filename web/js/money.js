// Money as an offer shows it. Amounts are whole minor units of the currency
// (cents), held as BigInt, so rounding and sums are exact: a unit price is
// rounded to cents first, a line's amount is the quantity times that rounded
// price, rounded, and every total is a sum of amounts the customer sees.
// Halves round away from zero. Numbers come in as decimal text (the server
// writes prices as "0.952000") and are never put through binary floating
// point.

const TEN = 10n;
const pow10 = (n) => TEN ** BigInt(n);

// A decimal text ("12", "-0.952000", "2.5", ".5") as units × 10^-scale, or
// null for anything else (an empty field, "1e3", "12,50", "abc").
export function parseDecimal(text) {
  const m = /^\s*([+-]?)(\d*)(?:\.(\d*))?\s*$/.exec(String(text));
  if (!m || (m[2] === '' && !m[3])) return null;
  const fraction = m[3] || '';
  const units = BigInt((m[2] || '0') + fraction);
  return { units: m[1] === '-' ? -units : units, scale: fraction.length };
}

// n / d rounded to the nearest whole number, halves away from zero.
function divRound(n, d) {
  if (d < 0n) return divRound(-n, -d);
  const q = n / d;
  const r = n % d;
  if (2n * (r < 0n ? -r : r) >= d) return n < 0n ? q - 1n : q + 1n;
  return q;
}

// A decimal rounded to minor units, or null where it is no decimal.
export function toMinor(text, digits = 2) {
  const d = parseDecimal(text);
  return d && divRound(d.units * pow10(digits), pow10(d.scale));
}

// A line's amount: the quantity (decimal text) times the rounded unit price
// (minor units), less its discount in percent (decimal text, '' for none),
// rounded once. Null where a number is none, or the discount is not from 0
// to 100.
export function lineAmount(quantity, unitMinor, discount = '') {
  const q = parseDecimal(quantity);
  const d = String(discount).trim() === '' ? { units: 0n, scale: 0 } : parseDecimal(discount);
  if (!q || !d) return null;
  const hundred = 100n * pow10(d.scale);
  if (d.units < 0n || d.units > hundred) return null;
  return divRound(q.units * unitMinor * (hundred - d.units), pow10(q.scale) * hundred);
}

// The VAT in an amount at a rate in percent (decimal text): on top of a net
// amount, or the share of a gross amount that includes it.
export function vatOf(amountMinor, rate, included) {
  const r = parseDecimal(rate);
  if (!r) return null;
  const hundred = 100n * pow10(r.scale);
  return divRound(amountMinor * r.units, included ? hundred + r.units : hundred);
}

// A rate as the locale writes a percentage: "25,5 %" in Finnish.
export function formatRate(rate, locale) {
  const r = parseDecimal(rate);
  const fraction = r ? decimalText(r.units, r.scale + 2) : 'NaN';
  return new Intl.NumberFormat(locale, { style: 'percent', maximumFractionDigits: 4 }).format(fraction);
}

// Minor units as decimal text, for Intl to format without rounding them
// through a float.
function decimalText(minor, digits) {
  const sign = minor < 0n ? '-' : '';
  const abs = (minor < 0n ? -minor : minor).toString().padStart(digits + 1, '0');
  return digits ? `${sign}${abs.slice(0, -digits)}.${abs.slice(-digits)}` : sign + abs;
}

// A formatter for the shop's currency in its locale: a Finnish shop's
// 123450n is "1 234,50 €" (with no-break spaces).
export function moneyFormat(locale, currency) {
  const format = new Intl.NumberFormat(locale, { style: 'currency', currency });
  const digits = format.resolvedOptions().maximumFractionDigits;
  return { digits, format: (minor) => format.format(decimalText(minor, digits)) };
}

// The lines and totals of an offer. Each line is { quantity, unit, rate }
// with the quantity and the unit price as decimal text and the VAT rate in
// percent; `included` says whether prices include VAT. Gives each line's
// rounded unit price and amount, then per rate (in the order the lines
// first use it) the base, the VAT and the gross, and the offer's net, VAT
// and gross totals. Null where a quantity, price or rate is no number.
export function offerTotals(lines, { included = false, digits = 2 } = {}) {
  const rows = [];
  const rates = new Map();
  for (const line of lines) {
    const unit = toMinor(line.unit, digits);
    const amount = unit === null ? null : lineAmount(line.quantity, unit, line.discount ?? '');
    const rate = parseDecimal(line.rate);
    if (amount === null || rate === null) return null;
    rows.push({ unit, amount });
    const key = normalRate(rate);
    const group = rates.get(key) || { rate: key, amount: 0n };
    group.amount += amount;
    rates.set(key, group);
  }
  let net = 0n;
  let vat = 0n;
  let gross = 0n;
  const perRate = [...rates.values()].map(({ rate, amount }) => {
    const tax = vatOf(amount, rate, included);
    const row = included ? { rate, net: amount - tax, vat: tax, gross: amount } : { rate, net: amount, vat: tax, gross: amount + tax };
    net += row.net;
    vat += row.vat;
    gross += row.gross;
    return row;
  });
  return { lines: rows, perRate, net, vat, gross };
}

// "24", "24.0" and "24.00" are one rate.
function normalRate({ units, scale }) {
  let s = scale;
  let u = units;
  while (s > 0 && u % TEN === 0n) {
    u /= TEN;
    s--;
  }
  return decimalText(u, s);
}

// A price text as the server wrote or stores it, with two decimals; the text
// itself where it is not a plain number. For the workbench's own tables: the
// offer itself rounds with toMinor.
export function moneyText(text) {
  const value = Number(text);
  return text.trim() !== '' && Number.isFinite(value) ? value.toFixed(2) : text;
}
