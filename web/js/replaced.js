// What a save tells of the lines this page saved before that someone else
// replaced since: a colleague who chose their own value in the merge dialog
// leaves no trace on this page until its next save merges their list in,
// and a count of "changes saved by someone else" would not say that the
// price this person typed is gone. Loaded with the merge. Pure: node tests
// import it.

import { latin1Bytes, latin1Text } from './bytes.js';
import { readDatabase } from './format.js';
import { ownLines, replacedOwn, splitLines } from './merge.js';
import { tr } from './i18n.js';

const lines = (bytes) => splitLines(latin1Text(bytes));
const bare = (line) => line.replace(/\r?\n$/, '');

// A line of the file as a person reads it, in the file's encoding.
const shown = (db, line) => db.encoding.decode(latin1Bytes(bare(line)));

// A price line's description and price, as the file's reader cuts them.
function cut(text) {
  const space = text.lastIndexOf(' ');
  return { description: text.slice(0, Math.max(space, 0)), price: text.slice(space + 1) };
}

// `own`: { file, from }, this page's last put and the list it was merged
// with, whose lines were not the page's. `now`: the list someone else saved
// since; `merged`: what this save writes. The lines this page saved that
// are gone, as `sentences(who)` words them: { at, description, was, now }
// for a price line whose price changed (`at` its line number), else
// { at, was, now } with the lines whole (`at` and `now` null where the line
// was removed).
export function replacedLines(own, now, merged) {
  const saved = lines(own.file);
  const lost = replacedOwn(saved, ownLines(lines(own.from), saved), lines(now), lines(merged));
  if (!lost.length) return [];
  const db = readDatabase(merged);
  const firstPrice = db.factors.length + 6;
  // The count lines follow the lines added or removed: not the person's.
  const isCount = (at) => at === 2 || at === firstPrice - 1;
  return lost.filter(({ at }) => !isCount(at)).map(({ at, was, now: line }) => {
    const before = shown(db, was);
    const row = at >= firstPrice && at < firstPrice + db.prices.length ? db.prices[at - firstPrice] : null;
    const old = cut(before);
    if (row && old.description === row.description) return { at, description: row.description, was: old.price, now: row.price };
    return { at, was: before, now: line === null ? null : shown(db, line) };
  });
}

// One sentence a line in `replaced` (replacedLines), `who` the login that
// saved the list that replaced them ('' where unknown).
export function sentences(replaced, who) {
  const by = who || tr('someone else');
  return replaced.map(({ at, description, was, now }) => {
    if (now === null) return tr('The line you saved, “{{line}}”, was removed in a save by {{who}}.', { line: was, who: by });
    if (description !== undefined) {
      return tr('Line {{n}} “{{description}}”: the price you saved, {{was}}, was replaced by {{now}}, saved by {{who}}.',
        { n: String(at), description, was, now, who: by });
    }
    return tr('Line {{n}}: the line you saved, “{{was}}”, was replaced by “{{now}}”, saved by {{who}}.', { n: String(at), was, now, who: by });
  });
}
