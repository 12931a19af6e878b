// The page's state, declared in one place: what the page knows of the
// server and the open list, and each screen's own state that outlives a
// render. Screens read it and change it through the functions here and in
// their own modules. Other modules hold no data of their own: constants, the
// screens ui.js registers at start, caches of what can be worked out again
// (view.js's sort orders), and the elements on screen, which are the render.

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
  //   undo           { file } the last save replaced, for "Undo this save"
  //   own            { file, from } the last put of this page, and the list
  //                  it was merged with: the lines where they differ are
  //                  the page's own, which a later save says were replaced
  //                  when someone else's save changed them (list.js)
  //   saving,        the save in progress, and the check that follows its
  //   checked        "Saved" (list.js)
  //   where, list    for a version opened read-only: the directory it is
  //                  read from, and { name, key, file } of its list
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

  // Each screen's own. The editor's:
  editor: {
    view: { query: '', order: 'file', rows: [] },  // the price table's filter, order and the rows it shows
    grid: null,           // the price table on screen (grid.js), or null
    checks: new Map(),    // price row -> its problems ({ field: text }), for rows that have any
    checksFound: false,   // `checks` holds every line's (found once the list is on screen)
    factorsOpen: false,   // many factors fold away: whether the person unfolded them
    savedFile: null,      // the file the editor's last save wrote
  },
  offer: {
    choices: new Map(),   // line of the saved list -> { checked, quantity, rate } as typed
    rows: [],             // the saved list's price rows the table shows, as filtered
    staged: null,         // { html } of the offer whose link is shown
    catalogs: new Map(),  // language -> its words (i18n.js) as they load, each read once
    words: { lang: '', t: null },  // the chosen language's; t null until read, or where they cannot be
  },
  sheet: {
    // The import in progress: the file as read, and the person's choices.
    import: {
      list: null,         // the open list it was read for
      name: '', encoding: '', text: '', sep: ',', detected: ',', rows: [], problem: null, shown: null,
      mapping: null, guess: null, mode: 'update', removeRest: false, plan: null, read: null,
    },
    // A change of many prices: the person's choices and its plan.
    bulk: { query: '', how: 'percent', by: '', rounding: 'cents', plan: null },
  },
  register: {
    showAll: false,       // older offers shown too
  },
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
