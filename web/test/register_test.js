// The register of offers sent: its file, and what an offer's state is from
// whether its file is still there and when it was first found gone.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  changeEntry, offerState, probeBody, probeResult, readRegister, readSlot, registerFile, slotBody, withdrawBody, withdrawResult,
} from '../js/register.js';
import { readSettings, settingsFile, settingsProblems } from '../js/settings.js';
import { isOfferName, isPutTempName, putTextProblem } from '../js/protocol.js';

test('the register and the settings are files put can write and get read back', () => {
  const entries = [{ name: '.aB3xY9', date: '2026-12-01T10:00:00.000Z', customer: 'Kuura\n"Oy"', total: '1 234,50 €' }];
  const file = registerFile(entries);
  assert.equal(putTextProblem(new TextEncoder().encode(file)), '');
  assert.deepEqual(readRegister(file.slice(file.indexOf('\n') + 1)), entries);
  // A file create just made holds no entries, and default settings.
  assert.deepEqual(readRegister('0\n0\n""\n0\n0\n0\n'), []);
  const settings = readSettings('0\n0\n""\n0\n0\n0\n');
  assert.equal(settings.validityDays, 7);
  assert.deepEqual(readSettings(settingsFile(settings).slice(5)), settings);
  assert.deepEqual(settingsProblems({ ...settings, locale: 'x_y', currency: 'eur', vatRates: ['25,5'], validityDays: 0 }),
    { locale: 'not a locale: write it as a language tag, such as fi-FI or sv-SE', currency: 'not a currency code: three capital letters, such as EUR or SEK',
      vatRates: '“25,5” is not a rate in percent, such as 25.5', validityDays: 'a whole number of days, at least 1' });
  // Hidden from the listing, and of neither form that create refuses and
  // that offer links and the clean-up reach.
  for (const name of ['.talvenplan-shop', '.talvenplan-offers']) assert.ok(!isOfferName(name) && !isPutTempName(name));
});

test("an offer is asked after, and withdrawn, under its own key, which old entries lack", () => {
  const key = 'Zq0_-9aB3xY9kLmN0pQrSt';
  const staged = { name: '.aB3xY9', key, date: '2026-12-01T10:00:00.000Z' };
  const text = (b) => b && new TextDecoder().decode(b);
  assert.equal(text(probeBody('/srv/shop', staged)), `g\n/srv/shop\n${key} .aB3xY9\n`);
  assert.equal(text(withdrawBody('/srv/shop', staged)), `r\n/srv/shop\n${key} .aB3xY9\n`);
  // No request for an entry without a key, nor for what a hand-edited
  // register holds in place of an offer's name or key.
  for (const e of [{ name: '.aB3xY9' }, { ...staged, key: 'offers' }, { ...staged, key: key + ' x' }, { ...staged, name: 'prices' }]) {
    assert.equal(probeBody('/srv/shop', e), null, JSON.stringify(e));
    assert.equal(withdrawBody('/srv/shop', e), null, JSON.stringify(e));
  }
  const none = new Uint8Array();
  // [answer, get says it waits, remove says]
  for (const [outcome, waits, withdrawn] of [
    [{ kind: 'done', payload: none }, true, 'withdrawn'],
    [{ kind: 'done', payload: Uint8Array.of(0x6b) }, null, 'withdrawn'],
    [{ kind: 'refused', payload: none }, false, 'refused'],
    [{ kind: 'failed', text: "can't open database on server" }, null, 'gone'],
    [{ kind: 'failed', text: "can't read database on server" }, null, null],
    [{ kind: 'network', text: 'down' }, null, null],
  ]) {
    assert.equal(probeResult(outcome), waits, JSON.stringify(outcome));
    assert.equal(withdrawResult(outcome), withdrawn, JSON.stringify(outcome));
  }

  const day = 24 * 3600 * 1000;
  const at = (days) => Date.parse(staged.date) + days * day;
  const withdrawn = changeEntry(registerFile([staged, { name: '.other1', date: staged.date }]), staged.name,
    { withdrawn: new Date(at(1)).toISOString(), withdrawnBy: 'Anna' });
  const [gone] = readRegister(withdrawn);
  assert.deepEqual(gone, { ...staged, withdrawn: '2026-12-02T10:00:00.000Z', withdrawnBy: 'Anna' });
  const old = { name: '.aB3xY9', date: staged.date };
  // [entry, what asking found, days after staging, state]
  for (const [entry, waits, days, state] of [
    [staged, true, 30, 'waiting'],
    [staged, false, 6.9, 'opened'],
    [staged, false, 7, 'expired'],
    [staged, null, 1, 'unknown'],
    [gone, null, 2, 'withdrawn'],
    [gone, false, 2, 'withdrawn'],
    // Found gone early, it stays opened however late the page looks again.
    [{ ...staged, gone: new Date(at(2)).toISOString() }, null, 30, 'opened'],
    [old, null, 1, 'keyless'],
    [{ ...old, gone: new Date(at(8)).toISOString() }, null, 9, 'expired'],
    // The slot knows: opened at once is opened however late; answered is answered.
    [{ ...staged, opened: new Date(at(9)).toISOString() }, false, 30, 'opened'],
    [{ ...staged, answer: { decision: 'accept' } }, false, 30, 'accepted'],
    [{ ...staged, answer: { decision: 'decline' } }, null, 1, 'declined'],
  ]) assert.equal(offerState(entry, waits, at(days), 7), state, JSON.stringify([entry, waits, days]));
});

test("an offer's slot tells when it was opened and how it was answered", () => {
  const key = 'aB3_-dE9fG0hIjKlMnOpQr';
  assert.equal(new TextDecoder().decode(slotBody('/srv/shop', { name: '.aB3xY9', key })), `g\n/srv/shop\n${key} .aB3xY9.slot\n`);
  const done = (text) => ({ kind: 'done', payload: new TextEncoder().encode(text) });
  const slot = `talvenplan-slot 1\nuntil 2026-12-23\nsha256 ${'a'.repeat(64)}\nstaged 2026-12-09T10:00:00.000000Z\nby anna%20k\n`;
  const opened = 'opened 2026-12-10T08:00:00.000000Z\n';
  const answer = `decision accept\nname Matti%20M%C3%A4kinen\nmessage Kiitos!%0AToimitus%20ma\nat 2026-12-10T08:05:00.000000Z\nsha256 ${'a'.repeat(64)}\nmatched no\n`;
  for (const [outcome, read] of [
    [done(slot), { opened: null, answer: null, by: 'anna k' }],
    [done(slot + opened), { opened: '2026-12-10T08:00:00.000000Z', answer: null, by: 'anna k' }],
    [done(slot + opened + answer), {
      opened: '2026-12-10T08:00:00.000000Z', by: 'anna k',
      answer: { decision: 'accept', name: 'Matti Mäkinen', message: 'Kiitos!\nToimitus ma', at: '2026-12-10T08:05:00.000000Z', matched: false },
    }],
    [done(slot + 'decision maybe\n'), { opened: null, answer: null, by: 'anna k' }],
    [{ kind: 'refused', payload: new Uint8Array() }, null],
  ]) assert.deepEqual(readSlot(outcome), read);
});
