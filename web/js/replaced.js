// What a save tells of the lines this page saved before that someone else
// replaced since: a colleague who chose their own value in the merge dialog
// leaves no trace on this page until its next save merges their list in,
// and a count of "changes saved by someone else" would not say that the
// price this person typed is gone. Loaded with the merge. Pure: node tests
// import it.

import { encodingOf, latin1Bytes, latin1Text } from './bytes.js';
import { ownLines, replacedOwn, splitLines } from './merge.js';
import { atoi, priceCount } from './number.js';
import { tr } from './i18n.js';

const lines = (bytes) => splitLines(latin1Text(bytes));
const bare = (line) => line.replace(/\r?\n$/, '');

// A line of the file as a person reads it, in the file's encoding.
const shown = (encoding, line) => encoding.decode(latin1Bytes(bare(line)));

// Where the price lines of a file's `lines` are: [first, end), numbers of
// lines from 1, read from the two count lines as the server reads them.
// (Reading the whole list would cost a big list's save a tenth of a second.)
function priceLines(lines) {
  const factors = Math.max(Number(atoi(latin1Bytes(lines[1] ?? ''))), 0);
  const first = factors + 6;
  return [first, first + Math.max(priceCount(latin1Bytes(lines[first - 2] ?? '')), 0)];
}

// A price line's description and price, as the file's reader cuts them.
function cut(text) {
  const space = text.lastIndexOf(' ');
  return { description: text.slice(0, Math.max(space, 0)), price: text.slice(space + 1) };
}

// `own`: { file, from }, this page's last put and the list it was merged
// with, whose lines were not the page's. `now`: the list someone else saved
// since; `merged`: what this save writes. The lines this page saved that
// are gone, as `sentences(who)` words them: { line, description, was, now }
// for a price line whose price changed (`line` its number in the editor's
// price table, where the person finds it), else { at, was, now } with the
// lines whole (`at` the line's number in the file; `at` and `now` null
// where the line was removed).
export function replacedLines(own, now, merged) {
  const saved = lines(own.file);
  const result = lines(merged);
  const lost = replacedOwn(saved, ownLines(lines(own.from), saved), lines(now), result);
  if (!lost.length) return [];
  const encoding = encodingOf(merged);
  const [firstPrice, endPrice] = priceLines(result);
  // The count lines follow the lines added or removed: not the person's.
  const isCount = (at) => at === 2 || at === firstPrice - 1;
  return lost.filter(({ at }) => !isCount(at)).map(({ at, was, now: line }) => {
    const before = shown(encoding, was);
    const after = line === null ? null : shown(encoding, line);
    const [old, row] = [cut(before), after === null ? null : cut(after)];
    if (at >= firstPrice && at < endPrice && old.description === row.description) {
      return { line: at - firstPrice + 1, description: row.description, was: old.price, now: row.price };
    }
    return { at, was: before, now: after };
  });
}

// One sentence a line in `replaced` (replacedLines), `who` the login that
// saved the list that replaced them ('' where unknown).
export function sentences(replaced, who) {
  const by = who || tr('someone else');
  return replaced.map(({ at, line, description, was, now }) => {
    if (now === null) return tr('The line you saved, “{{line}}”, was removed in a save by {{who}}.', { line: was, who: by });
    if (description !== undefined) {
      return tr('Price line {{n}} “{{description}}”: the price you saved, {{was}}, was replaced by {{now}}, saved by {{who}}.',
        { n: String(line), description, was, now, who: by });
    }
    return tr('Line {{n}} of the file: the line you saved, “{{was}}”, was replaced by “{{now}}”, saved by {{who}}.', { n: String(at), was, now, who: by });
  });
}
