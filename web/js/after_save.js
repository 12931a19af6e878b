// What follows a save: the check that the version the put replaced is the
// list this page read before it (a colleague's save may have slipped in
// between), and the list read back. Loaded with the first save (list.js).

import { equalBytes, latin1Bytes } from './bytes.js';
import { commandBody, listBody } from './protocol.js';
import { HISTORY_OFF, savedBy, stampsOf, versionsDir } from './versions.js';
import { send } from './api.js';
import { isDirty, show, state } from './state.js';
import { num, say } from './ui.js';
import { adopt, fileFromGet, mergeFiles, readMergePut, replacedNote } from './list.js';
import { tr } from './i18n.js';

// The newest version of list `name`, read with `key`: { stamp, file, by },
// {} when there is none or it cannot be read, or null when the server keeps
// no versions here (history is off); `by` the login that saved what the
// version holds, or ''. When the newest is `own` (this page's put, replaced
// already by a save right after it), the one before it.
export async function newestVersion(name, key, own = null) {
  const dir = versionsDir(state.directory, name);
  const listing = await send(state.program, listBody(dir, { by: true }));
  if (listing.kind !== 'done') return null;
  const stamps = stampsOf(listing.payload);
  for (let i = stamps.length - 1; i >= 0 && i >= stamps.length - 2; i--) {
    const stamp = stamps[i];
    const got = await send(state.program, commandBody('g', dir, key, latin1Bytes(stamp)));
    if (got.kind !== 'done') return { stamp };
    const { file } = fileFromGet(got.payload);
    if (!own || !equalBytes(file, own)) return { stamp, file, by: savedBy(listing.payload, stamp) };
  }
  return {};
}

// After "Saved": the newest version is what the put replaced. When it is not
// the list this page read before the put, a colleague's save slipped in
// between: it is merged in, and saved again. It resolves with true, false or
// { conflict } as a save does, or null when a later save or another list
// made it stale (the versions keep everything either way).
export async function checkAfterPut(open, token, key, put, told, saved) {
  const stale = () => state.open !== open || open.saving !== token;
  let { mine, base, before } = put;
  let again = 0;
  const lostSince = [];  // lines of this page's that the slipped saves replaced
  let learnedOff = false;
  for (let round = 1; ; round++) {
    const replaced = await newestVersion(open.name, key, mine);
    if (stale()) return null;
    if (!replaced && state.history !== 'off') learnedOff = true;
    state.history = replaced ? 'on' : 'off';
    if (round === 1) open.undo = replaced?.file ? { file: replaced.file } : null;
    if (!replaced?.file || equalBytes(replaced.file, base)) break;
    const merge = await mergeFiles(base, mine, replaced.file);
    if (stale()) return null;
    if (merge.conflicts) return { conflict: { merge, base: mine, slipped: true } };
    again += merge.theirs;
    // The slipped save may have replaced lines this page saved before.
    const lost = await replacedNote(before, replaced.file, merge.bytes, async () => replaced.by);
    if (stale()) return null;
    lostSince.push(...lost);
    if (round === 4) {
      say('failed', tr('Not saved: the list kept changing under other saves. Open it again to see.'));
      return false;
    }
    // Edits made since "Saved" stay on screen: their base stays the list
    // they were made on, so that the next save merges this one in.
    const edited = isDirty(open);
    key = open.key;
    const next = await readMergePut(open, merge.bytes, mine, replaced.file);
    if ('result' in next) return stale() ? null : next.result;
    again += next.theirs;
    lostSince.push(...next.replaced);
    ({ mine, base, before } = next);
    if (stale()) return null;
    if (!edited) adopt(open, mine, null);
  }
  if (again) {
    told.push(tr(['Someone else saved this list while this page was saving: merged again with their {{n}} change; their save is kept in the history too.', 'Someone else saved this list while this page was saving: merged again with their {{n}} changes; their save is kept in the history too.'], { count: again, n: again }), ...lostSince);
  }
  if (again || learnedOff) {
    say(told.length ? 'note' : 'ok', [...told, tr('Saved “{{name}}” ({{bytes}} bytes).', { name: show(open.name), bytes: num(mine.length) })].join(' ') +
      (learnedOff ? ' ' + HISTORY_OFF() : ''), { ...saved, again, history: state.history });
  }
  readBack(open, token, mine);
  return true;
}

// After the check: the list read back, to tell the person when the server
// holds something else already (someone saved right after).
async function readBack(open, token, bytes) {
  const check = await send(state.program, commandBody('g', state.directory, open.key, open.name));
  const file = check.kind === 'done' ? fileFromGet(check.payload).file : null;
  if (state.open !== open || open.saving !== token) return;  // another list, or a later save
  if (!file || !equalBytes(file, bytes)) {
    say('refused', tr('Saved, but reading the list back gave something else: someone may have changed it at the same time. Open it again to see.'));
  }
}
