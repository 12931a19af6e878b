// The workbench's own files in the data directory (the shop's settings and
// the register of offers): read with get, written whole with put under
// their fixed keys, made with create the first time.

import { commandBody } from './protocol.js';
import { send } from './api.js';
import { tr } from './i18n.js';

const utf8 = (text) => new TextEncoder().encode(text);

// { text } (what follows the key line; '' for a file not made yet), or
// { outcome } when the server gave no answer that can be read.
export async function readShared(program, directory, name, key) {
  const outcome = await send(program, commandBody('g', directory, utf8(key), utf8(name)));
  if (outcome.kind === 'refused') return { text: '', missing: true };
  if (outcome.kind !== 'done') return { outcome };
  const text = new TextDecoder().decode(outcome.payload);
  return { text: text.slice(text.indexOf('\n') + 1) };
}

// Writes the file whole; `file` begins with the key line. Null when done,
// else the outcome to put in words.
export async function writeShared(program, directory, name, key, file, missing) {
  if (missing) {
    const made = await send(program, commandBody('c', directory, utf8(key), utf8(name)));
    // "s!": someone made it meanwhile, which serves as well.
    if (made.kind !== 'done' && made.kind !== 'refused') return made;
  }
  const outcome = await send(program, commandBody('p', directory, utf8(key), utf8(name), utf8(file)));
  return outcome.kind === 'done' ? null : outcome;
}

// Changes a shared file: reads it, applies `change` to its text, writes
// the result, and reads it back to see that `check` holds (another person's
// write in between would have lost ours: then once more from the start).
export async function updateShared(program, directory, name, key, change, check) {
  for (let attempt = 0; attempt < 3; attempt++) {
    const read = await readShared(program, directory, name, key);
    if (read.outcome) return read.outcome;
    const failed = await writeShared(program, directory, name, key, change(read.text), read.missing);
    if (failed) return failed;
    const back = await readShared(program, directory, name, key);
    if (back.outcome) return back.outcome;
    if (check(back.text)) return null;
  }
  return { kind: 'unexpected', text: tr('the file kept changing under other writers') };
}
