// The offer line: the first line of every offer the workbench stages,
//   <!--talvenplan-offer key=KEY until=YYYY-MM-DD answer=1-->
// (without " until=..." for an offer with no validity; " answer=1" where
// the customer may answer it online: the program then keeps a slot for the
// answer and the hash of what the customer will see). The server reads its
// key: a get with it tells whether the offer still waits, a remove with it
// withdraws the offer. The clean-up reads until=, the offer's last valid
// day. The offer link's page leaves the line out, so the customer never sees
// the key. Pure: node tests import it.

const KEY_CHARS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-';
const OFFER_KEY_LENGTH = 22;

const KEY = /^[A-Za-z0-9_-]{16,64}$/;
export const isOfferKey = (key) => typeof key === 'string' && KEY.test(key);

// A new offer key. 64 characters, so the low six bits of each random byte
// pick one evenly: 22 of them are 132 random bits.
export function newOfferKey(random = (bytes) => crypto.getRandomValues(bytes)) {
  return Array.from(random(new Uint8Array(OFFER_KEY_LENGTH)), (b) => KEY_CHARS[b & 63]).join('');
}

// "2026-12-16" for a day the calendar has.
export function isCalendarDate(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(text ?? '');
  if (!m) return false;
  const day = new Date(Date.UTC(Number(m[1]), Number(m[2]) - 1, Number(m[3])));
  return day.toISOString().slice(0, 10) === text;
}

// The line, its newline included. `until`: the last valid day, or '' for
// none; `answer`: whether the customer may answer online.
export function offerLine(key, until = '', answer = false) {
  if (!isOfferKey(key)) throw new RangeError('not an offer key');
  if (until && !isCalendarDate(until)) throw new RangeError('not a calendar date: ' + until);
  return `<!--talvenplan-offer key=${key}${until ? ' until=' + until : ''}${answer ? ' answer=1' : ''}-->\n`;
}

// The offer line at the start of `text`: { key, until, answer } (until ''
// when the offer has no validity), or null when the text does not begin
// with one.
export function readOfferLine(text) {
  const m = /^<!--talvenplan-offer key=([A-Za-z0-9_-]{16,64})(?: until=(\d{4}-\d{2}-\d{2}))?( answer=1)?-->\n/.exec(text);
  if (!m || (m[2] && !isCalendarDate(m[2]))) return null;
  return { key: m[1], until: m[2] ?? '', answer: !!m[3] };
}
