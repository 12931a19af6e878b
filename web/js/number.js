// Numbers as the server reads them from a database file: atoi for the factor
// count, atof (strtod's grammar, POSIX locale) for factors, the price count
// and prices. The page checks what a person types against these, so that a
// price the server would read as 0 is caught before it is saved.

const isSpace = (b) => b === 0x20 || (b >= 0x09 && b <= 0x0d);
const isDigit = (b) => b >= 0x30 && b <= 0x39;
const hexValue = (b) => {
  if (isDigit(b)) return b - 0x30;
  const lower = b | 0x20;
  return lower >= 0x61 && lower <= 0x66 ? lower - 0x61 + 10 : -1;
};

// atoi: (int)strtol(text, NULL, 10). strtol sticks at the ends of a 64-bit
// long; the conversion to int keeps the low 32 bits.
export function atoi(bytes) {
  let i = 0;
  while (i < bytes.length && isSpace(bytes[i])) i++;
  let negative = false;
  if (bytes[i] === 0x2b || bytes[i] === 0x2d) negative = bytes[i++] === 0x2d;
  let value = 0n;
  const limit = negative ? 1n << 63n : (1n << 63n) - 1n;
  for (; i < bytes.length && isDigit(bytes[i]); i++) {
    value = value * 10n + BigInt(bytes[i] - 0x30);
    if (value > limit) value = limit;
  }
  return Number(BigInt.asIntN(32, negative ? -value : value));
}

// The double nearest to mantissa * 2^exponent (mantissa a positive BigInt),
// rounding once, to even, as strtod does, subnormals included.
function scaleBinary(mantissa, exponent) {
  const bits = mantissa.toString(2).length;
  const top = bits - 1 + exponent;  // exponent of the leading bit
  if (top > 1023) return Infinity;
  const keep = top >= -1022 ? 53 : 53 - (-1022 - top);
  if (keep <= 0) {
    // Below half the smallest subnormal, or exactly half (ties to 0).
    const half = keep === 0 && mantissa > 1n << BigInt(bits - 1);
    return half ? 2 ** -1074 : 0;
  }
  let drop = bits - keep;
  if (drop > 0) {
    const rest = mantissa & ((1n << BigInt(drop)) - 1n);
    const halfway = 1n << BigInt(drop - 1);
    mantissa >>= BigInt(drop);
    if (rest > halfway || (rest === halfway && (mantissa & 1n))) mantissa += 1n;
    exponent += drop;
  }
  // Exact from here: at most 54 bits, scaled in two steps.
  const half = Math.trunc(exponent / 2);
  const value = Number(mantissa) * 2 ** half * 2 ** (exponent - half);
  return value;
}

// strtod: reads the longest number at the start of `bytes`. Returns the value
// and the index after the number (0 when there is none, value 0).
export function scanDouble(bytes) {
  let i = 0;
  while (i < bytes.length && isSpace(bytes[i])) i++;
  let sign = 1;
  if (bytes[i] === 0x2b || bytes[i] === 0x2d) sign = bytes[i++] === 0x2d ? -1 : 1;
  const word = (w, at) => {
    for (let k = 0; k < w.length; k++) {
      if ((bytes[at + k] | 0x20) !== w.charCodeAt(k)) return false;
    }
    return true;
  };
  if (word('inf', i)) {
    return { value: sign * Infinity, end: word('inity', i + 3) ? i + 8 : i + 3 };
  }
  if (word('nan', i)) {
    let end = i + 3;
    if (bytes[end] === 0x28) {
      let k = end + 1;
      while (k < bytes.length && (isDigit(bytes[k]) || hexValue(bytes[k]) >= 0 ||
             ((bytes[k] | 0x20) >= 0x61 && (bytes[k] | 0x20) <= 0x7a) || bytes[k] === 0x5f)) k++;
      if (bytes[k] === 0x29) end = k + 1;
    }
    return { value: NaN, end };
  }
  if (bytes[i] === 0x30 && (bytes[i + 1] | 0x20) === 0x78) {
    const hex = scanHex(bytes, i + 2, sign);
    if (hex) return hex;
  }
  const start = i;
  let digits = 0;
  while (isDigit(bytes[i])) i++, digits++;
  if (bytes[i] === 0x2e) {
    i++;
    while (isDigit(bytes[i])) i++, digits++;
  }
  if (digits === 0) return { value: 0, end: 0 };
  let end = i;
  if ((bytes[i] | 0x20) === 0x65) {
    let k = i + 1;
    if (bytes[k] === 0x2b || bytes[k] === 0x2d) k++;
    if (isDigit(bytes[k])) {
      while (isDigit(bytes[k])) k++;
      end = k;
    }
  }
  let text = '';
  for (let k = start; k < end; k++) text += String.fromCharCode(bytes[k]);
  return { value: sign * Number(text), end };
}

// A hexadecimal float after "0x": digits, a point, digits, then "p" and a
// decimal exponent. Null when no hex digit follows (then "0" alone is read).
function scanHex(bytes, i, sign) {
  let mantissa = 0n;
  let digits = 0;
  let fraction = 0;
  while (hexValue(bytes[i]) >= 0) mantissa = mantissa * 16n + BigInt(hexValue(bytes[i++])), digits++;
  if (bytes[i] === 0x2e) {
    i++;
    while (hexValue(bytes[i]) >= 0) {
      mantissa = mantissa * 16n + BigInt(hexValue(bytes[i++]));
      digits++;
      fraction++;
    }
  }
  if (digits === 0) return null;
  let end = i;
  let exponent = 0;
  if ((bytes[i] | 0x20) === 0x70) {
    let k = i + 1;
    let negative = false;
    if (bytes[k] === 0x2b || bytes[k] === 0x2d) negative = bytes[k++] === 0x2d;
    if (isDigit(bytes[k])) {
      while (isDigit(bytes[k])) {
        exponent = Math.min(exponent * 10 + bytes[k++] - 0x30, 1e6);
      }
      if (negative) exponent = -exponent;
      end = k;
    }
  }
  const value = mantissa === 0n ? 0 : scaleBinary(mantissa, exponent - 4 * fraction);
  return { value: sign * value, end };
}

export const atof = (bytes) => scanDouble(bytes).value;

// The price count: atof truncated toward zero; what does not fit a 32-bit
// int counts as none.
export function priceCount(bytes) {
  const count = atof(bytes);
  return count > -2147483649 && count < 2147483648 ? Math.trunc(count) : 0;
}
