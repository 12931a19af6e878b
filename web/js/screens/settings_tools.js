// The shop settings screen's work (screens/settings.js loads it when the
// screen is first shown): the settings every person working in the data
// directory shares, in a form made from their table (settings.js), read
// from and saved to the file there.

import { readShared, writeShared } from '../datafile.js';
import { moneyFormat } from '../money.js';
import { KINDS, SETTINGS, SETTINGS_KEY, SETTINGS_NAME, settingsFile, settingsProblems } from '../settings.js';
import { state } from '../state.js';
import { loadShop } from '../shop.js';
import { $, h, say, sayOutcome } from '../ui.js';
import { tr } from '../i18n.js';

// The form, made from the table of settings: fields with a size or
// choices share lines, the others take the form's width.
function renderForm() {
  const parts = [];
  let line = null;
  let notes = [];
  const endLine = () => {
    parts.push(...notes);
    line = null;
    notes = [];
  };
  for (const setting of SETTINGS) {
    const label = h('label', { for: 'set-' + setting.name, text: setting.label });
    if (!setting.size && !setting.choices) {
      endLine();
      parts.push(label, control(setting));
      continue;
    }
    if (!line) parts.push((line = h('div', { class: 'fields' })));
    line.append(h('div', {}, label, control(setting)));
    // `code` in a note is code.
    if (setting.note) notes.push(h('p', { class: 'muted' }, setting.note.split('`').map((text, i) => (i % 2 ? h('code', { text }) : text))));
  }
  endLine();
  $('settings-fields').replaceChildren(...parts);
}

function control({ name, kind, size, rows, choices }) {
  const attrs = { id: 'set-' + name, 'data-field': name };
  if (rows) return h('textarea', { ...attrs, rows: String(rows) });
  if (choices) return h('select', attrs, choices.map(([value, text, lang]) => h('option', { value, text, lang })));
  if (kind === 'days') return h('input', { ...attrs, type: 'number', min: '1', size: String(size) });
  return h('input', { ...attrs, size: size ? String(size) : null });
}

const fields = () => document.querySelectorAll('#settings-form [data-field]');
const kindOf = (name) => KINDS[SETTINGS.find((setting) => setting.name === name).kind];

function fill(s) {
  for (const el of fields()) el.value = kindOf(el.dataset.field).shown(s[el.dataset.field]);
  example();
}

function fromForm() {
  const s = {};
  for (const el of fields()) s[el.dataset.field] = kindOf(el.dataset.field).typed(el.value);
  return s;
}

// Marks the fields with problems; gives the first, or ''.
function check(s) {
  const found = settingsProblems(s);
  for (const el of fields()) {
    if (found[el.dataset.field]) el.setAttribute('aria-invalid', 'true');
    else el.removeAttribute('aria-invalid');
  }
  const first = SETTINGS.find((setting) => found[setting.name]);
  let text = first ? `${first.label}: ${found[first.name]}.` : '';
  if (!text && s.validityDays > s.offerDays) {
    text = tr('Note: the clean-up removes unopened offers after {{cleanup}} days, before an offer valid for {{valid}} days ends.', { cleanup: s.offerDays, valid: s.validityDays });
  }
  $('settings-problem').textContent = text;
  return first ? text : '';
}

// How an amount looks with these settings.
function example() {
  const s = fromForm();
  let shown = '';
  try {
    if (!check(s)) shown = tr('An amount shows as {{amount}}.', { amount: moneyFormat(s.locale, s.currency).format(123450n) });
  } catch {
    shown = tr('This locale or currency is not known to the browser.');
  }
  $('settings-example').textContent = shown;
}

async function save(event) {
  event.preventDefault();
  const s = fromForm();
  const problem = check(s);
  if (problem) return say('refused', tr('Not saved: {{problem}}', { problem }));
  const read = await readShared(state.program, state.directory, SETTINGS_NAME, SETTINGS_KEY);
  if (read.outcome) return sayOutcome(read.outcome, '');
  const failed = await writeShared(state.program, state.directory, SETTINGS_NAME, SETTINGS_KEY, settingsFile(s), read.missing);
  if (failed) return sayOutcome(failed, tr('the settings file has another key'));
  state.shop = s;
  state.shopDirectory = state.directory;
  state.offerStale = true;
  say('ok', tr('Saved the shop settings for {{dir}}.', { dir: state.directory }));
}

// The form the first time, once there is something to show in it: the
// settings read, or no directory to read them from.
function renderOnce() {
  if ($('settings-fields').childElementCount) return;
  renderForm();
  $('settings-form').addEventListener('submit', save);
  $('settings-form').addEventListener('input', example);
}

export async function enter() {
  if (!state.directory) {
    renderOnce();
    return say('note', tr('Enter the data directory first: the settings are kept there.'));
  }
  state.shop = null;  // someone else may have changed them
  const shop = await loadShop();
  renderOnce();
  fill(shop);
}
