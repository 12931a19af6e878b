// The page's request encoder and its refusals, against the protocol vectors.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  commandBody, crlfDatabaseFromGet, databaseFromGet, directoryProblem, isOfferName, keyProblem,
  listBody, nameProblem, offerLinkQuery, offerTextProblem, putTextProblem, storeBody, storedKey,
} from '../js/protocol.js';
import { createProblem } from '../js/checks.js';
import { bytes, text, vectors } from './vectors.js';

test('bodies are built as the server cuts them', () => {
  let built = 0;
  for (const [body, letter, directory, key, name, payload, yes] of vectors('bodies.tsv')) {
    if (text(yes) !== 'yes') continue;
    const l = text(letter);
    const got = l === 'l' ? listBody(directory)
      : l === 's' ? storeBody(directory, payload)
        : commandBody(l, directory, key, name, payload);
    assert.deepEqual(got, body);
    built++;
  }
  assert.ok(built >= 5);
});

test('offer links and offer names', () => {
  for (const [name, directory, query] of vectors('links.tsv')) assert.equal(offerLinkQuery(name, directory), text(query));
  for (const [name, offer] of vectors('offer_names.tsv')) assert.equal(isOfferName(name), text(offer) === 'yes', text(name));
});

// The key the server keeps for a file, which a request's key must equal.
test('the key check', () => {
  for (const [file, key, outcome, stored] of vectors('keys.tsv')) {
    const got = storedKey(file);
    const verdict = got === null ? 'unreadable' : text(got) === text(key) ? 'match' : 'mismatch';
    assert.equal(verdict, text(outcome), text(file));
    assert.deepEqual(got ?? new Uint8Array(), stored);
  }
});

test('what a client refuses to send', () => {
  const checks = {
    directory: directoryProblem, name: nameProblem, factor: (v) => nameProblem(v, 'factor name'),
    key: keyProblem, offer_text: offerTextProblem, put_text: putTextProblem,
    create_name: (v) => createProblem('/d', v, 'k'),
  };
  for (const [what, value, verdict] of vectors('client.tsv')) {
    const problem = checks[text(what)](value);
    assert.equal(problem ? 'refused' : 'ok', text(verdict), `${text(what)} ${JSON.stringify(text(value))}: ${problem}`);
  }
});

test("get's answer becomes the file put sends back", () => {
  // A key of 8 bytes: the newline after it is get's, not the file's.
  assert.equal(text(databaseFromGet(bytes('ABCDEFGH\nIJ\n0\n'))), 'ABCDEFGHIJ\n0\n');
  assert.equal(text(databaseFromGet(bytes('ABCDEFGH\n\n0\n'))), 'ABCDEFGH\n0\n');
  assert.equal(text(databaseFromGet(bytes('k1\n0\n'))), 'k1\n0\n');
  // Blanks trimmed from a longer key line: where it ended is lost.
  assert.equal(databaseFromGet(bytes('ABCDEF\n \n0\n')), null);
});

test('a CR LF file keeps the CR LF of its key line', () => {
  assert.equal(text(crlfDatabaseFromGet(bytes('k1\n0\r\nA\r\n'))), 'k1\r\n0\r\nA\r\n');
  assert.equal(text(crlfDatabaseFromGet(bytes('ABCDEFG\n\n0\r\n'))), 'ABCDEFG\r\n0\r\n');
  assert.equal(crlfDatabaseFromGet(bytes('k1\n0\nA\r\n')), null);
  assert.equal(crlfDatabaseFromGet(bytes('ABCDEFGH\nIJ\r\n0\r\n')), null);
});
