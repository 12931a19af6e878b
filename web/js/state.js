// The page's state, declared in one place. Screens read it and change it
// through the functions here and in their own modules; nothing else holds
// data that outlives a render.

import { encodingOf, equalBytes } from './bytes.js';
import { writeDatabase } from './format.js';

export const state = {
  program: null,      // URL of talvenplan.cgi
  directory: '',      // the data directory, as typed
  names: [],          // the last listing, names as bytes
  // The open list, or null:
  //   name, key      bytes, as sent
  //   file           the bytes the list was opened (or last saved) with
  //   db             the list as the editor changes it (format.js's model)
  //   saved          the list as `file` holds it, for preview and offer
  //   reasons        why the list is read-only ([] when it is not)
  open: null,
  prices: new Map(),  // factor index -> the server's repriced price texts
  offerStale: true,   // the offer screen shows another list or older prices
};

// A name or other bytes as a person reads them.
export const show = (bytes) => encodingOf(bytes).decode(bytes);

export function setOpen(open) {
  state.open = open;
  state.prices.clear();
  state.offerStale = true;
}

export const readOnly = () => state.open.reasons.length > 0;

// The editor holds edits the file does not.
export function dirty() {
  return !equalBytes(writeDatabase(state.open.db), state.open.file);
}
