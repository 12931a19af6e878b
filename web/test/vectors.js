// Reads the protocol vectors in tests/vectors/: one vector a line, fields
// separated by TAB, '#' lines are comments, fields escaped with \n \r \t \\
// and \xNN.
import { readFileSync } from 'node:fs';

const dir = new URL('../../tests/vectors/', import.meta.url);

export function unescape(field) {
  const out = [];
  for (let i = 0; i < field.length; i++) {
    const c = field[i];
    if (c !== '\\') {
      out.push(c.charCodeAt(0));
      continue;
    }
    const e = field[++i];
    if (e === 'x') {
      out.push(parseInt(field.slice(i + 1, i + 3), 16));
      i += 2;
    } else {
      out.push({ n: 0x0a, r: 0x0d, t: 0x09, '\\': 0x5c }[e]);
    }
  }
  return Uint8Array.from(out);
}

// The vectors of `file` as arrays of byte strings. A missing file throws:
// a test must not pass on no vectors.
export function vectors(file) {
  return readFileSync(new URL(file, dir), 'latin1').split('\n')
    .filter((line) => line !== '' && !line.startsWith('#'))
    .map((line) => line.split('\t').map(unescape));
}

export const bytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
export const text = (b) => String.fromCharCode(...b);
