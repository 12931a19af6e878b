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
