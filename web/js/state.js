// The page's state, declared in one place. Screens read it and change it
// through the functions here and in their own modules; nothing else holds
// data that outlives a render.

import { encodingOf } from './bytes.js';
import { isEdited, readDatabase } from './format.js';

export const state = {
  program: null,      // URL of talvenplan.cgi
  directory: '',      // the data directory, as typed
  names: [],          // the last listing, names as bytes
  // The open list, or null:
  //   name, key      bytes, as sent
  //   file           the bytes the list was opened (or last saved) with
  //   db             the list as the editor changes it (format.js's model)
  //   orig           the rows of each part of `db` as `file` holds them, and
  //                  `completes`: saving `file` unedited would change it
  //   saved          the list as `file` holds it, for preview and offer:
  //                  read when first needed (savedList())
  //   reasons        why the list is read-only ([] when it is not)
  open: null,
  prices: new Map(),  // factor index -> the server's repriced price texts
  offerStale: true,   // the offer screen shows another list or older prices
  // 'on' where the server keeps versions in this directory, 'off' once a
  // save showed that it keeps none, null while neither is known.
  history: null,
  // The shop's settings of `directory` (settings.js), once read, and the
  // directory they were read from.
  shop: null,
  shopDirectory: null,
};

// A name or other bytes as a person reads them.
export const show = (bytes) => encodingOf(bytes).decode(bytes);

export function setOpen(open) {
  state.open = open;
  state.prices.clear();
  state.offerStale = true;
  if (open) useDb(open, open.db);
}

// Makes `db`, read from `open.file`, the list the editor changes.
export function useDb(open, db) {
  open.db = db;
  open.orig = {
    factors: db.factors.slice(), prices: db.prices.slice(), trailing: db.trailing.slice(),
    completes: db.ended,
  };
}

export function savedList() {
  state.open.saved ??= readDatabase(state.open.file);
  return state.open.saved;
}

export const readOnly = () => state.open.reasons.length > 0;

// The editor holds edits the file does not: a row edited, added, removed or
// moved. One pass over the rows, without writing the file.
export function isDirty(open) {
  const { db, orig } = open;
  if (orig.completes || isEdited(db.key) || isEdited(db.headerA) || isEdited(db.headerB)) return true;
  for (const part of ['factors', 'prices', 'trailing']) {
    const now = db[part];
    const was = orig[part];
    if (now.length !== was.length) return true;
    for (let i = 0; i < now.length; i++) if (now[i] !== was[i] || isEdited(now[i])) return true;
  }
  return false;
}
export const dirty = () => isDirty(state.open);
