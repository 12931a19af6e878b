// The line diff and the three-way merge that a save runs when someone else
// saved the list since it was opened.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { diffLines, merge3, resolved, splitLines } from '../js/merge.js';

const L = (text) => splitLines(text.replace(/\|/g, '\n'));
const mineFirst = (merge) => resolved(merge, (c) => c.mine).join('');

// base | mine | theirs | merged (a conflict takes mine) | lines taken from theirs | conflicts
const CASES = [
  ['k|Chair 50|Lamp 20|', 'k|Chair 57|Lamp 20|', 'k|Chair 50|Lamp 29.90|', 'k|Chair 57|Lamp 29.90|', 1, 0],
  ['k|Chair 50|Lamp 20|', 'k|Chair 57|Lamp 20|', 'k|Chair 58|Lamp 20|', 'k|Chair 57|Lamp 20|', 0, 1],
  ['k|Chair 50|Lamp 20|', 'k|Chair 57|Lamp 20|', 'k|Chair 57|Lamp 20|', 'k|Chair 57|Lamp 20|', 0, 0],
  ['a|b|c|', 'a|b|c|', 'a|x|c|', 'a|x|c|', 1, 0],
  ['a|b|c|', 'a|c|', 'a|b|c|d|e|', 'a|c|d|e|', 2, 0],
  ['a|b|c|', 'a|b|B|c|', 'a|b|T|c|', 'a|b|B|c|', 0, 1],
  ['a|b|c|', 'a|c|', 'a|B|c|', 'a|c|', 0, 1],
  ['a|b|c|', 'M|a|b|c|', 'a|b|c|T|', 'M|a|b|c|T|', 1, 0],
  ['a|b|c|d|', 'a|B|c|d|', 'a|b|C|d|', 'a|B|C|d|', 1, 0],
  ['a|b', 'a|b|', 'a|b', 'a|b|', 0, 0],
  ['', 'x|', 'y|', 'x|', 0, 1],
];

test('a merge keeps both sides where they changed different lines', () => {
  for (const [base, mine, theirs, merged, taken, conflicts] of CASES) {
    const m = merge3(L(base), L(mine), L(theirs));
    const what = `${base} / ${mine} / ${theirs}`;
    assert.equal(mineFirst(m), merged.replace(/\|/g, '\n'), what);
    assert.equal(m.theirs, taken, what + ': taken');
    assert.equal(m.conflicts, conflicts, what + ': conflicts');
  }
  const m = merge3(L('k|Chair 50|Lamp 20|'), L('k|Chair 57|Lamp 20|'), L('k|Chair 58|Lamp 20|'));
  assert.deepEqual(m.chunks[1], { mine: ['Chair 57\n'], theirs: ['Chair 58\n'], base: ['Chair 50\n'] });
  assert.equal(resolved(m, (c) => c.theirs).join(''), 'k\nChair 58\nLamp 20\n');
});

function apply(a, b, hunks) {
  const out = [];
  let at = 0;
  for (const h of hunks) {
    assert.ok(h.aStart >= at && (h.aEnd > h.aStart || h.bEnd > h.bStart), 'in order, and a change changes');
    out.push(...a.slice(at, h.aStart), ...b.slice(h.bStart, h.bEnd));
    at = h.aEnd;
  }
  return [...out, ...a.slice(at)];
}

// A small generator, seeded, so a failure repeats.
function random(seed) {
  return () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
}

test('the diff turns one list into the other, and the merge of one side is that side', () => {
  const r = random(7);
  const list = (n) => Array.from({ length: n }, () => 'abcd'[Math.floor(r() * 4)] + '\n');
  for (let i = 0; i < 300; i++) {
    const a = list(Math.floor(r() * 12));
    const b = list(Math.floor(r() * 12));
    const hunks = diffLines(a, b);
    assert.deepEqual(apply(a, b, hunks), b);
    for (let j = 1; j < hunks.length; j++) assert.ok(hunks[j].aStart > hunks[j - 1].aEnd, 'changes do not touch');
    assert.deepEqual(resolved(merge3(a, b, a), () => assert.fail()), b);
    assert.deepEqual(resolved(merge3(a, a, b), () => assert.fail()), b);
    assert.deepEqual(resolved(merge3(a, b, b), () => assert.fail()), b);
  }
});

test('a list of 10,000 lines: three changes found, and a rewrite from end to end still diffs right', () => {
  const base = Array.from({ length: 10000 }, (_, i) => `Item ${i} ${i % 97}.50\n`);
  const mine = base.slice();
  mine[10] = 'Item 10 1.00\n';
  const theirs = base.slice();
  theirs[5000] = 'Item 5000 2.00\n';
  theirs.splice(9000, 1);
  theirs.push('New 1\n');
  const m = merge3(base, mine, theirs);
  assert.equal(m.conflicts, 0);
  assert.equal(m.theirs, 3);
  const all = base.map((line) => line.toUpperCase());
  assert.deepEqual(apply(base, all, diffLines(base, all)), all);
});

test('database files merge as bytes, and versions read as the server names them', async () => {
  const { changes, mergeFiles } = await import('../js/merge.js');
  const { removedLists, stampsOf, stampTime, versionsDir } = await import('../js/versions.js');
  const b = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
  const s = (bytes) => String.fromCharCode(...bytes);
  // Bytes beyond ASCII (a Windows-1252 list, an 'ä' in UTF-8) pass through.
  const base = b('k\nTuoli\xe4 50\nLamp 20\n');
  const merged = mergeFiles(base, b('k\nTuoli\xe4 57\nLamp 20\n'), b('k\nTuoli\xe4 50\nLamp \xc3\xa4 20\n'));
  assert.equal(s(merged.bytes), 'k\nTuoli\xe4 57\nLamp \xc3\xa4 20\n');
  const clash = mergeFiles(base, b('k\nTuoli\xe4 57\nLamp 20\n'), b('k\nTuoli\xe4 58\nLamp 21\n'));
  assert.deepEqual(clash.conflicts.map((c) => [s(c.mine), s(c.theirs)]), [['Tuoli\xe4 57\nLamp 20\n', 'Tuoli\xe4 58\nLamp 21\n']]);
  assert.equal(s(clash.choose(['theirs'])), 'k\nTuoli\xe4 58\nLamp 21\n');

  assert.deepEqual(changes(base, b('k\nLamp 20\nDesk 9')).map((c) => [c.at, c.removed.map(s), c.added.map(s)]),
    [[2, ['Tuoli\xe4 50'], []], [4, [], ['Desk 9']]]);
  // Only names of the stamp form are versions, whatever else sorts after them.
  assert.deepEqual(stampsOf(b('20261209T045512.123457Z\nnotes\nzz\n20261209T045512.123456Zx\n20261209T045512.12345Z\n' +
    '20261209T045512.123456Z\n20261209t045512.123458Z\n')), ['20261209T045512.123456Z', '20261209T045512.123457Z']);
  assert.equal(stampTime('20261209T045512.123456Z').toISOString(), '2026-12-09T04:55:12.123Z');
  assert.equal(s(versionsDir('/srv/shop/', b('prices'))), '/srv/shop/.versions/prices');
  assert.equal(s(versionsDir('/srv/shop')), '/srv/shop/.versions');
  assert.equal(s(versionsDir('/srv/shop', b('prices 20261209T045512.123456Z'))), '/srv/shop/.versions/prices 20261209T045512.123456Z');

  // Removed lists in a listing of .versions, beside the lists 'prices' and
  // 'winter': [name there, what it stands for, or null].
  const at = '20261209T045512.123456Z';
  const rows = [
    ['prices', null],
    [`prices ${at}`, { dir: `prices ${at}`, name: 'prices', stamp: at }],
    [`old-list ${at}`, { dir: `old-list ${at}`, name: 'old-list', stamp: at }],
    ['gone', { dir: 'gone', name: 'gone', stamp: null }],
    [`prices  ${at}`, null],
    [`a b ${at}`, null],
    [` ${at}`, null],
    [`prices ${at}x`, null],
    ['prices 2026', null],
    ['prices notes', null],
  ];
  const found = removedLists(b(rows.map(([n]) => n + '\n').join('')), ['prices', 'winter']);
  assert.deepEqual(found, rows.map(([, r]) => r).filter(Boolean));
});

test('who saved what: listings with logins, and the lines of this page a colleague replaced', async () => {
  const { listedEntries, removedLists, savedBy, stampsOf } = await import('../js/versions.js');
  const { replacedLines, sentences } = await import('../js/replaced.js');
  const { listBody } = await import('../js/protocol.js');
  const b = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
  const s = (bytes) => String.fromCharCode(...bytes);
  assert.equal(s(listBody('/d', { by: true })), 'l\n/d\nby\n');
  assert.equal(s(listBody('/d')), 'l\n/d\n');

  // [listing line, { name, by }]: the name runs to the last tab; a line with
  // no tab is from a server that records no logins.
  const at = '20261209T045512.123456Z';
  const rows = [
    [`${at}\talice`, { name: at, by: 'alice' }],
    ['20261209T045513.000000Z\t', { name: '20261209T045513.000000Z', by: '' }],
    [`prices ${at}\tb%C3%A4rbel%20k`, { name: `prices ${at}`, by: 'bärbel k' }],
    ['odd\tname\tbob%40shop', { name: 'odd\tname', by: 'bob@shop' }],
    ['Tuoli\xe4', { name: 'Tuoli\xe4', by: '' }],
    ['x\t%E4', { name: 'x', by: '%E4' }],
  ];
  const listing = b(rows.map(([line]) => line + '\n').join(''));
  assert.deepEqual(listedEntries(listing), rows.map(([, entry]) => entry));
  assert.equal(savedBy(listing, `prices ${at}`), 'bärbel k');
  assert.deepEqual(listedEntries(b('\n')), []);
  // The older readers see names only, either form.
  assert.deepEqual(stampsOf(listing), [at, '20261209T045513.000000Z']);
  assert.deepEqual(removedLists(b(`gone\tbob\nprices ${at}\t\nprices\talice\n`), ['prices']),
    [{ dir: 'gone', name: 'gone', stamp: null }, { dir: `prices ${at}`, name: 'prices', stamp: at }]);

  // This page saved Chair 22.22 over 50.00 (and merged in Lamp from someone
  // else); a colleague replaced it. [their list, what this save writes, what
  // the page is told]: nothing where the page chose its own line again.
  const head = 'k1\n1\nretail 1.0\nWinter\n""\n3\n';
  const own = { file: b(head + 'Chair 22.22\nLamp 29.90\nTable 99.00\n'), from: b(head + 'Chair 50.00\nLamp 29.90\nTable 99.00\n') };
  const cases = [
    [head + 'Chair 33.33\nLamp 29.90\nTable 99.00\n', head + 'Chair 33.33\nLamp 29.90\nTable 95.00\n',
      ['Price line 1 “Chair”: the price you saved, 22.22, was replaced by 33.33, saved by bob.']],
    [head + 'Chair 33.33\nLamp 29.90\nTable 99.00\n', head + 'Chair 25.00\nLamp 29.90\nTable 99.00\n', []],
    [head + 'Lamp 1.00\nLamp 29.90\nTable 99.00\n', head + 'Lamp 1.00\nLamp 29.90\nTable 99.00\n',
      ['Line 7 of the file: the line you saved, “Chair 22.22”, was replaced by “Lamp 1.00”, saved by bob.']],
    ['k1\n1\nretail 1.0\nWinter\n""\n2\nLamp 29.90\nTable 99.00\n', 'k1\n1\nretail 1.0\nWinter\n""\n2\nLamp 29.90\nTable 95.00\n',
      ['The line you saved, “Chair 22.22”, was removed in a save by bob.']],
    // Lamp came from someone else: a later change to it is not this page's loss.
    [head + 'Chair 22.22\nLamp 1.00\nTable 99.00\n', head + 'Chair 22.22\nLamp 1.00\nTable 99.00\n', []],
  ];
  for (const [theirs, merged, told] of cases) {
    assert.deepEqual(sentences(replacedLines(own, b(theirs), b(merged)), 'bob'), told, theirs);
  }
  assert.deepEqual(sentences(replacedLines(own, b(cases[0][0]), b(cases[0][1])), ''),
    ['Price line 1 “Chair”: the price you saved, 22.22, was replaced by 33.33, saved by someone else.']);
});
