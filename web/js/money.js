// Money as a person reads it: two decimals. The server's figures (such as
// 44.200001) stay available beside it; this only rounds what is shown.

// A price text as the server wrote or stores it, with two decimals; the text
// itself where it is not a plain number.
export function moneyText(text) {
  const value = Number(text);
  return text.trim() !== '' && Number.isFinite(value) ? value.toFixed(2) : text;
}

// A whole number of cents as money text.
export const centsText = (cents) => (cents < 0 ? '-' : '') + (Math.abs(cents) / 100).toFixed(2);
