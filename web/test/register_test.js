// The register of offers sent: its file, and what an offer's state is from
// whether its file is still there and when it was first found gone.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { OFFER_KEY } from '../js/offer.js';
import { offerState, probeBody, probeResult, readRegister, registerFile } from '../js/register.js';
import { readSettings, settingsFile, settingsProblems } from '../js/settings.js';
import { isOfferName, isPutTempName, putTextProblem, storedKey } from '../js/protocol.js';

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

test('asking for an offer is a get with its first line as the key', () => {
  assert.equal(new TextDecoder().decode(probeBody('/srv/shop', '.aB3xY9')), `g\n/srv/shop\n${OFFER_KEY} .aB3xY9\n`);
  assert.equal(new TextDecoder().decode(storedKey(new TextEncoder().encode(OFFER_KEY + '\nbody{}'))), OFFER_KEY);
  assert.deepEqual([{ kind: 'done' }, { kind: 'refused' }, { kind: 'failed' }].map(probeResult), [true, false, null]);
  const day = 24 * 3600 * 1000;
  const staged = { name: '.aB3xY9', date: '2026-12-01T10:00:00.000Z' };
  const at = (days) => Date.parse(staged.date) + days * day;
  assert.equal(offerState(staged, true, at(30), 7), 'waiting');
  assert.equal(offerState(staged, false, at(6.9), 7), 'opened');
  assert.equal(offerState(staged, false, at(7), 7), 'expired');
  // Found gone early, it stays opened however late the page looks again.
  assert.equal(offerState({ ...staged, gone: new Date(at(2)).toISOString() }, false, at(30), 7), 'opened');
});
