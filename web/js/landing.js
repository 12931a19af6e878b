// What the landing page (offer.html) reads from its own URL and from the
// program's answer, and the words it then shows. Pure: node tests it.
//
// The URL is the one part of the page anyone can write, and the page
// speaks from the shop's own site: it takes the offer link's query, the
// program's path and a language code from it, and no words. Links made
// before carried the shop's name and contact after the query; they open as
// before, and those words are not shown.
//
// It imports nothing: a web server set up before the catalogs and
// i18n.js were public still serves this and the page, which then speaks
// the English it holds.

// How the program's page for an offer begins (offer.js, OFFER_PAGE_HEAD).
export const PAGE_START = '<html><head><title>Offer</title></head>';
// The program's whole answer, after its header, where a link shows nothing:
// the offer was opened already, expired and was cleaned away, or never was;
// or the shop withdrew it.
export const USED = "error on server: can't open temp file";
export const WITHDRAWN = 'error on server: offer withdrawn';

// The offer link's own policy (conf/), for the document inside the frame:
// it then fetches nothing from anywhere, whatever headers offer.html itself
// was served with. The frame's sandbox stops scripts and forms.
export const FRAME_POLICY = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";

// target(URL): { link, program, lang }. link is the offer link's query
// (TALVENPLAN_FILE=, the name, z, the directory, z), after "#" or "?", or
// "" where the URL holds none; program is the URL to fetch with it: the
// program beside the page, or the path a "program" parameter names on the
// page's own site. lang is the "lang" parameter as written, or '': a code
// to look up among the catalogs (i18n.js pickLanguage), never to show.
export function target(url) {
  const given = url.hash.slice(1) || url.search.slice(1);
  const link = /^TALVENPLAN_FILE=[a-z]*z[a-z]*z/.exec(given)?.[0] || '';
  const params = new URLSearchParams(given);
  let program = new URL('talvenplan.cgi', url);
  const asked = params.get('program');
  if (asked) {
    const named = new URL(asked, url);
    if (named.origin === url.origin) program = named;
  }
  program.search = link;
  program.hash = '';
  return { link, program, lang: params.get('lang') ?? '' };
}

// The language code an offer's page gives (offer.js), or '' where it gives
// none (offers made before).
export const offerLanguage = (page) => /<article class="tp-offer" lang="([a-z]{2,3})">/.exec(page)?.[1] ?? '';

// The offer's page as the frame shows it, its document in LANG (a language
// code): its policy first, so that it holds before anything in the offer is
// read. (A <meta> before <html> is parsed into the head, and the page's own
// <html> adds nothing to the one begun here.)
export const frameDocument = (page, lang) =>
  `<html${/^[a-z]{2,3}$/.test(lang) ? ` lang="${lang}"` : ''}><meta http-equiv="Content-Security-Policy" content="${FRAME_POLICY}">` + page;

// answerWords(TEXT, t): null where the answer is an offer to show, else
// the page's { state, title, lead } for it in the words of `t` (i18n.js);
// `state` ('withdrawn', 'used' or 'gone') is for whatever reads the page's
// outcome rather than its words.
export function answerWords(answer, t) {
  if (answer.startsWith(PAGE_START)) return null;
  if (answer === WITHDRAWN) {
    return { state: 'withdrawn', title: t('landing.withdrawnTitle'), lead: t('landing.withdrawnLead') };
  }
  const title = t('landing.goneTitle');
  if (answer.startsWith(USED)) return { state: 'used', title, lead: `${t('landing.usedLead')} ${t('landing.ask')}` };
  return { state: 'gone', title, lead: `${t('landing.goneLead')} ${t('landing.ask')}` };
}

// t(key, values) over CATALOG alone: the page's own English, for when
// i18n.js or the catalogs cannot be read.
export function plainWords(catalog) {
  const t = (key, values = {}) => (catalog[key] ?? key)
    .replace(/\{\{(\w+)\}\}/g, (whole, name) => (Object.hasOwn(values, name) ? String(values[name]) : whole));
  t.lang = 'en';
  return t;
}

export const incomplete = (t) => `${t('landing.incomplete')} ${t('landing.ask')}`;
// STATUS: the web server's answer, or 0 where none came.
export const unreachable = (status, t) => t('landing.unreachable',
  { reason: status ? t('landing.status', { status: String(status) }) : t('landing.noAnswer') });

// SHA-256 of bytes, as lowercase hex. The answer carries that of the offer
// the page showed. Here rather than from crypto.subtle, which browsers give
// only to pages served over HTTPS or from localhost, and in this file
// because it is public, as the page is, where web servers were set up so.
const K = new Uint32Array([
  0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
  0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
  0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
  0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
  0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
  0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
  0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
  0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
]);

const rotr = (x, n) => (x >>> n) | (x << (32 - n));

export function sha256Hex(bytes) {
  // The message, a 0x80 byte, zeros, and its length in bits as 64 bits
  // big-endian, to a multiple of 64 bytes.
  const size = bytes.length;
  const padded = new Uint8Array((((size + 8) >> 6) + 1) << 6);
  padded.set(bytes);
  padded[size] = 0x80;
  const view = new DataView(padded.buffer);
  view.setUint32(padded.length - 8, Math.floor(size / 0x20000000));
  view.setUint32(padded.length - 4, (size << 3) >>> 0);

  const h = new Uint32Array([0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19]);
  const w = new Uint32Array(64);
  for (let block = 0; block < padded.length; block += 64) {
    for (let i = 0; i < 16; i++) w[i] = view.getUint32(block + 4 * i);
    for (let i = 16; i < 64; i++) {
      const s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >>> 3);
      const s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >>> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    let [a, b, c, d, e, f, g, k] = h;
    for (let i = 0; i < 64; i++) {
      const t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
      const t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      k = g; g = f; f = e; e = (d + t1) >>> 0;
      d = c; c = b; b = a; a = (t1 + t2) >>> 0;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += k;
  }
  return Array.from(h, (x) => x.toString(16).padStart(8, '0')).join('');
}

// The customer's answer. The program takes it at the offer link's address
// under a key of its own, once, and only for an offer staged to take one:
// offer.js marks such an offer's article with data-answer="1".
export const ANSWER_KEY = 'TALVENPLAN_ANSWER=';
export const takesAnswer = (page) => /<article class="tp-offer"[^>]* data-answer="1"/.test(page);
export const answerUrl = (program, link) => {
  const url = new URL(program);
  url.search = link.replace(/^TALVENPLAN_FILE=/, ANSWER_KEY);
  return url;
};

// The offer's number, as the receipt and the shop's register name it: its
// file name, without the leading dot, read from the link's letter pairs.
export function offerNumber(link) {
  const pairs = /^TALVENPLAN_FILE=([a-p]*)z/.exec(link)?.[1] ?? '';
  let name = '';
  for (let i = 0; i + 1 < pairs.length; i += 2) {
    name += String.fromCharCode((pairs.charCodeAt(i) - 97) | ((pairs.charCodeAt(i + 1) - 97) << 4));
  }
  return /^\.[A-Za-z0-9]{6}$/.test(name) ? name.slice(1) : '';
}

// The bytes of the offer itself in the program's page for it: what the
// shop staged, after the line only the shop reads. The program recorded
// their SHA-256 when the offer was staged; the answer carries the page's.
const PAGE_HEAD = PAGE_START + '<body>\n<h1 align="center">Offer</h1>\n';
const PAGE_TAIL = '</body></html>\n';
export function offerBytes(page) {
  const bytes = page instanceof Uint8Array ? page : new TextEncoder().encode(page);
  const end = bytes.length - PAGE_TAIL.length;
  return bytes.subarray(PAGE_HEAD.length, end >= PAGE_HEAD.length ? end : PAGE_HEAD.length);
}

export const MESSAGE_MAX = 1000;
export const NAME_MAX = 200;

// What is wrong with a form's NAME and MESSAGE, as a catalog key, or ''.
export function answerProblem(name, message) {
  const own = name.trim();
  if (!own) return 'landing.answer.nameMissing';
  if ([...own].length > NAME_MAX) return 'landing.answer.nameLong';
  if ([...message].length > MESSAGE_MAX) return 'landing.answer.messageLong';
  return '';
}

export const answerBody = ({ decision, name, message, sha256 }) =>
  new URLSearchParams({ decision, name: name.trim(), message, sha256 }).toString();

// The program's words for an answer it did not take, each the state the
// page then shows. Any other text is a failure to try again.
const REFUSALS = [
  ['offer already answered', 'answered'],
  ['offer expired', 'expired'],
  ['offer takes no answer', 'noslot'],
  ['offer not opened', 'unopened'],
];

// readAnswer(TEXT): { receipt: { decision, at, sha256, matched } } where
// the program took the answer, else { state } (a REFUSALS state, or
// 'failed').
export function readAnswer(text) {
  if (text.startsWith('s\n')) {
    const fields = Object.fromEntries(text.slice(2).split('\n').filter(Boolean).map((line) => {
      const space = line.indexOf(' ');
      return [line.slice(0, space), line.slice(space + 1)];
    }));
    if (/^(accept|decline)$/.test(fields.decision) && fields.at && /^[0-9a-f]{64}$/.test(fields.sha256 ?? '')) {
      return { receipt: { decision: fields.decision, at: fields.at, sha256: fields.sha256, matched: fields.matched === 'yes' } };
    }
  }
  const refused = REFUSALS.find(([words]) => text.endsWith('error on server: ' + words));
  return { state: refused ? refused[1] : 'failed' };
}

// The receipt's lines as [label key, value] in the words of `t`.
export const receiptLines = (receipt, number, t, locale) => [
  ['landing.receipt.number', number],
  ['landing.receipt.decision', t(receipt.decision === 'accept' ? 'landing.receipt.accepted' : 'landing.receipt.declined')],
  ['landing.receipt.at', new Date(receipt.at).toLocaleString(locale, { dateStyle: 'long', timeStyle: 'short' })],
  ['landing.receipt.hash', receipt.sha256.slice(0, 16)],
];

// The customer's copy: the offer as one HTML file that opens anywhere,
// with the receipt below it once there is one.
export function copyDocument(page, lang, receiptHtml = '') {
  const body = new TextDecoder().decode(offerBytes(page));
  return `<!doctype html>\n<html${/^[a-z]{2,3}$/.test(lang) ? ` lang="${lang}"` : ''}><head><meta charset="utf-8">` +
    `<meta http-equiv="Content-Security-Policy" content="${FRAME_POLICY}"><title>Offer</title></head><body>\n` +
    body + receiptHtml + '</body></html>\n';
}
