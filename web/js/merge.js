// Line diffs and the three-way merge of a list: what it was when opened
// (base), what this page has made of it (mine) and what the server holds
// now (theirs). Pure: lines in, lines out; lines are compared whole, with
// their line ends, so joining the result gives the file byte for byte. The
// page loads it when a save has something to merge, or the history a diff
// to show.

import { latin1Bytes, latin1Text } from './bytes.js';

// A text cut after each newline; a last line without one is kept as it is.
export function splitLines(text) {
  const lines = [];
  let start = 0;
  for (;;) {
    const end = text.indexOf('\n', start);
    if (end < 0) break;
    lines.push(text.slice(start, end + 1));
    start = end + 1;
  }
  if (start < text.length) lines.push(text.slice(start));
  return lines;
}

// Past this many differing lines the diff stops looking for a shortest
// script and calls the rest of the middle one change: memory stays bounded
// on a list rewritten from end to end.
const MAX_EDITS = 2000;

// The changes that turn `a` into `b`, in order: { aStart, aEnd, bStart,
// bEnd }, each the lines a[aStart..aEnd) replaced by b[bStart..bEnd).
// Myers' O(ND) search, after the common head and tail are set aside.
export function diffLines(a, b) {
  let head = 0;
  while (head < a.length && head < b.length && a[head] === b[head]) head++;
  let tail = 0;
  while (tail < a.length - head && tail < b.length - head && a[a.length - 1 - tail] === b[b.length - 1 - tail]) tail++;
  const n = a.length - head - tail;
  const m = b.length - head - tail;
  const hunks = [];
  if (n === 0 && m === 0) return hunks;
  const same = (x, y) => a[head + x] === b[head + y];
  const offset = n + m + 1;
  const v = new Int32Array(2 * offset + 1);
  const trace = [];
  let found = -1;
  for (let d = 0; d <= n + m && d <= MAX_EDITS; d++) {
    trace.push(v.slice(offset - d, offset + d + 1));
    for (let k = -d; k <= d; k += 2) {
      let x = k === -d || (k !== d && v[offset + k - 1] < v[offset + k + 1]) ? v[offset + k + 1] : v[offset + k - 1] + 1;
      let y = x - k;
      while (x < n && y < m && same(x, y)) { x++; y++; }
      v[offset + k] = x;
      if (x >= n && y >= m) { found = d; break; }
    }
    if (found >= 0) break;
  }
  if (found < 0) return [{ aStart: head, aEnd: head + n, bStart: head, bEnd: head + m }];
  // Walk back from the end: each step of the trace is one line deleted or
  // inserted; the diagonal runs between them are lines in common.
  const edits = [];
  let x = n;
  let y = m;
  for (let d = found; d > 0; d--) {
    const prev = trace[d];
    const at = (k) => prev[k + d];
    const k = x - y;
    const down = k === -d || (k !== d && at(k - 1) < at(k + 1));
    const pk = down ? k + 1 : k - 1;
    const px = at(pk);
    const py = px - pk;
    while (x > px + (down ? 0 : 1) && y > py + (down ? 1 : 0)) { x--; y--; }
    edits.push({ x: px, y: py, del: !down });
    x = px;
    y = py;
  }
  edits.reverse();
  // Deletions and insertions that touch become one change.
  for (const e of edits) {
    const last = hunks[hunks.length - 1];
    if (!last || last.aEnd !== head + e.x || last.bEnd !== head + e.y) {
      hunks.push({ aStart: head + e.x, aEnd: head + e.x, bStart: head + e.y, bEnd: head + e.y });
    }
    if (e.del) hunks[hunks.length - 1].aEnd++;
    else hunks[hunks.length - 1].bEnd++;
  }
  return hunks;
}

// Two changes of the base touch the same lines: ranges that overlap, an
// insertion inside a replaced range, or two insertions at one place. Changes
// to neighbouring lines do not: a price list's lines stand alone.
function overlaps(s1, e1, s2, e2) {
  if (s1 === e1 && s2 === e2) return s1 === s2;
  if (s1 === e1) return s2 < s1 && s1 < e2;
  if (s2 === e2) return s1 < s2 && s2 < e1;
  return s1 < e2 && s2 < e1;
}

// The lines of `side` over base[start..end), its changes in that range applied.
function sideText(base, side, changes, start, end) {
  const out = [];
  let at = start;
  for (const c of changes) {
    out.push(...base.slice(at, c.aStart), ...side.slice(c.bStart, c.bEnd));
    at = c.aEnd;
  }
  out.push(...base.slice(at, end));
  return out;
}

const sameLines = (x, y) => x.length === y.length && x.every((line, i) => line === y[i]);

// The merge, as chunks in order: { lines } agreed, or { mine, theirs, base }
// where both sides changed the same lines differently. `theirs` counts the
// lines taken from theirs alone (the changes someone else saved);
// `conflicts` the chunks left to choose.
export function merge3(base, mine, theirs) {
  const changes = [
    ...diffLines(base, mine).map((c) => ({ ...c, side: 'mine' })),
    ...diffLines(base, theirs).map((c) => ({ ...c, side: 'theirs' })),
  ].sort((x, y) => x.aStart - y.aStart || x.aEnd - y.aEnd || (x.side === 'mine' ? -1 : 1));
  const chunks = [];
  const keep = (lines) => {
    if (!lines.length) return;
    const last = chunks[chunks.length - 1];
    if (last && last.lines) last.lines.push(...lines);
    else chunks.push({ lines: lines.slice() });
  };
  let at = 0;
  let taken = 0;
  let conflicts = 0;
  for (let i = 0; i < changes.length;) {
    const group = [changes[i]];
    let start = changes[i].aStart;
    let end = changes[i].aEnd;
    for (i++; i < changes.length; i++) {
      const c = changes[i];
      if (!group.some((g) => g.side !== c.side && overlaps(g.aStart, g.aEnd, c.aStart, c.aEnd))
        && !(c.aStart < end && start < c.aEnd)) break;
      group.push(c);
      end = Math.max(end, c.aEnd);
    }
    keep(base.slice(at, start));
    const ofMine = group.filter((c) => c.side === 'mine');
    const ofTheirs = group.filter((c) => c.side === 'theirs');
    const mineText = sideText(base, mine, ofMine, start, end);
    const theirText = sideText(base, theirs, ofTheirs, start, end);
    if (!ofTheirs.length) keep(mineText);
    else if (!ofMine.length) {
      keep(theirText);
      for (const c of ofTheirs) taken += Math.max(c.aEnd - c.aStart, c.bEnd - c.bStart);
    } else if (sameLines(mineText, theirText)) keep(mineText);
    else {
      chunks.push({ mine: mineText, theirs: theirText, base: base.slice(start, end) });
      conflicts++;
    }
    at = end;
  }
  keep(base.slice(at));
  return { chunks, theirs: taken, conflicts };
}

// The merged lines once every conflict has a choice: `choose(chunk, index)`
// gives the lines to keep for the index-th conflict.
export function resolved(merge, choose) {
  const out = [];
  let n = 0;
  for (const chunk of merge.chunks) out.push(...(chunk.lines ?? choose(chunk, n++)));
  return out;
}

// A three-way merge of database files (bytes): what was opened, what this
// page has made of it, what the server holds now. Lines are compared as
// bytes. { bytes } when it merged cleanly, else { conflicts: [{ mine,
// theirs }] as text for a person, choose(picks) -> bytes }; `theirs` counts
// the lines taken from the server's side.
export function mergeFiles(base, mine, theirs) {
  const lines = (b) => splitLines(latin1Text(b));
  const merge = merge3(lines(base), lines(mine), lines(theirs));
  const join = (parts) => latin1Bytes(parts.join(''));
  if (!merge.conflicts) return { bytes: join(resolved(merge)), theirs: merge.theirs };
  const conflicts = merge.chunks.filter((c) => !c.lines)
    .map((c) => ({ mine: latin1Bytes(c.mine.join('')), theirs: latin1Bytes(c.theirs.join('')) }));
  return {
    conflicts,
    theirs: merge.theirs,
    // picks[i]: 'mine' or 'theirs' for the i-th conflict.
    choose: (picks) => join(resolved(merge, (c, i) => (picks[i] === 'theirs' ? c.theirs : c.mine))),
  };
}

// What changed from `from` to `to`, line by line, for a person: a list of
// { removed: [lines], added: [lines], at } with `at` the first line's number
// in `from` (from 1).
export function changes(from, to) {
  const a = splitLines(latin1Text(from));
  const b = splitLines(latin1Text(to));
  return diffLines(a, b).map((h) => ({
    at: h.aStart + 1,
    removed: a.slice(h.aStart, h.aEnd).map((l) => latin1Bytes(l.replace(/\n$/, ''))),
    added: b.slice(h.bStart, h.bEnd).map((l) => latin1Bytes(l.replace(/\n$/, ''))),
  }));
}

// The lines a save wrote of its own: the indices (from 0) of the lines of
// `put` that differ from `others`, the list it was merged with (what the
// server held), so that what the put took from others is not counted.
export function ownLines(others, put) {
  const lines = [];
  for (const h of diffLines(others, put)) for (let j = h.bStart; j < h.bEnd; j++) lines.push(j);
  return lines;
}

// For each line of `a` that a change to `b` touched: the index of the line
// of `b` in its place, or -1 where the change has fewer lines (removed).
function movedTo(a, b) {
  const to = new Map();
  for (const h of diffLines(a, b)) {
    for (let i = h.aStart; i < h.aEnd; i++) to.set(i, h.bStart + i - h.aStart < h.bEnd ? h.bStart + i - h.aStart : -1);
  }
  return to;
}

// The lines this page saved (`own` of the lines `saved`, as ownLines gives
// them) that someone else's save (`theirs`) replaced or removed, where the
// merged list (`merged`) keeps what they did: { at, was, now }, `at` the
// line's number in `merged` (from 1, null for a line removed), `was` the
// line this page saved, `now` the line in its place (null where removed).
// Where the page chose its own line again, it was not lost: not told.
export function replacedOwn(saved, own, theirs, merged) {
  const byThem = movedTo(saved, theirs);
  const inMerged = movedTo(saved, merged);
  const out = [];
  for (const i of own) {
    if (!byThem.has(i) || !inMerged.has(i)) continue;
    const t = byThem.get(i);
    const m = inMerged.get(i);
    if (t < 0 && m < 0) out.push({ at: null, was: saved[i], now: null });
    else if (t >= 0 && m >= 0 && theirs[t] === merged[m]) out.push({ at: m + 1, was: saved[i], now: merged[m] });
  }
  return out;
}
