// What the landing page (offer.html) reads from its own URL and from the
// program's answer, and the words it then shows. Pure: node tests it.
//
// The URL is the one part of the page anyone can write, and the page
// speaks from the shop's own site: it takes the offer link's query and the
// program's path from it, and no words. Links made before carried the
// shop's name and contact after the query; they open as before, and those
// words are not shown.

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

// target(URL): { link, program }. link is the offer link's query
// (TALVENPLAN_FILE=, the name, z, the directory, z), after "#" or "?", or
// "" where the URL holds none; program is the URL to fetch with it: the
// program beside the page, or the path a "program" parameter names on the
// page's own site.
export function target(url) {
  const given = url.hash.slice(1) || url.search.slice(1);
  const link = /^TALVENPLAN_FILE=[a-z]*z[a-z]*z/.exec(given)?.[0] || '';
  let program = new URL('talvenplan.cgi', url);
  const asked = new URLSearchParams(given).get('program');
  if (asked) {
    const named = new URL(asked, url);
    if (named.origin === url.origin) program = named;
  }
  program.search = link;
  program.hash = '';
  return { link, program };
}

// The offer's page as the frame shows it: its policy first, so that it
// holds before anything in the offer is read. (A <meta> before <html> is
// parsed into the head.)
export const frameDocument = (page) =>
  `<meta http-equiv="Content-Security-Policy" content="${FRAME_POLICY}">` + page;

const ASK = 'Ask the shop that sent you the link for a new one.';

// answerWords(TEXT): null where the answer is an offer to show, else the
// page's { state, title, lead } for it; `state` ('withdrawn', 'used' or
// 'gone') is for whatever reads the page's outcome rather than its words.
export function answerWords(answer) {
  if (answer.startsWith(PAGE_START)) return null;
  if (answer === WITHDRAWN) {
    return {
      state: 'withdrawn',
      title: 'This offer has been withdrawn',
      lead: 'The shop has withdrawn this offer, so the link does not show it any more. ' +
        'If you still need an offer, ask the shop that sent you the link.',
    };
  }
  const title = 'This offer cannot be shown again';
  if (answer.startsWith(USED)) {
    return { state: 'used', title, lead: 'Each link shows its offer once, and this one has been opened already, or the offer has expired. ' + ASK };
  }
  return { state: 'gone', title, lead: 'This link does not lead to an offer any more. ' + ASK };
}

export const INCOMPLETE = 'This link is not complete: part of it may have been lost when it was copied. ' + ASK;
export const unreachable = (reason) => `The offer could not be reached just now (${reason}). ` +
  'Try again in a moment. If it keeps failing, ask the shop that sent you the link for a new one.';
