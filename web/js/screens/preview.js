// The preview screen: the server's repricing of the saved list, in money
// with two decimals, or the server's exact figures.

import { nameProblem } from '../protocol.js';
import { moneyText } from '../money.js';
import { viewOf } from '../view.js';
import { gridTable } from '../grid.js';
import { dirty, savedList, state } from '../state.js';
import { repriced } from '../list.js';
import { $, h, num, say } from '../ui.js';

// Fills a factor <select> with the saved list's factors, keeping the choice.
export function renderFactorChoice(select) {
  const saved = savedList();
  const chosen = select.value;
  const seen = new Set();
  select.replaceChildren(h('option', { value: '', text: saved.factors.length ? 'Choose a factor' : 'The list has no factors' }),
    ...saved.factors.map((f, i) => {
      const unusable = nameProblem(saved.encoding.encode(f.name)) || seen.has(f.name);
      seen.add(f.name);
      return h('option', { value: String(i), disabled: !!unusable, text: `${f.name} (${f.value})` });
    }));
  select.value = chosen;
  if (select.selectedIndex < 0) select.value = '';
}

// The warning Preview and Offer give while the editor holds unsaved edits.
export function unsavedNote(note) {
  note.hidden = !dirty();
  note.textContent = 'The editor has unsaved changes: this shows the saved list. Save to see them here.';
}

const shown = { rows: [], at: new Map(), texts: [] };

// A figure as money, the exact text on hover, or the exact text itself.
function figure(text) {
  const exact = $('preview-exact').checked;
  return h('td', { class: 'num', text: exact ? text : moneyText(text), title: exact ? null : text });
}

async function renderPreview() {
  const select = $('preview-factor');
  if (select.value === '') {
    $('preview-caption').textContent = '';
    return $('preview-table').replaceChildren();
  }
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  const saved = savedList();
  const factor = saved.factors[Number(select.value)];
  shown.texts = texts;
  shown.at = new Map(saved.prices.map((row, i) => [row, i]));
  shown.rows = viewOf(saved.prices, { query: $('preview-filter').value }, (t) => saved.encoding.encode(t));
  $('preview-caption').textContent = `${saved.headerA.text} — ${saved.headerB.text}` +
    (shown.rows.length < saved.prices.length ? ` (${num(shown.rows.length)} of ${num(saved.prices.length)} lines)` : '');
  gridTable($('preview-table'), {
    label: 'Prices with ' + factor.name,
    columns: [['Line', 'c-line', 1], ['Description'], ['Stored price', 'c-money', 1], [`With “${factor.name}”`, 'c-money', 1]],
    count: () => shown.rows.length,
    render: (p) => {
      const row = shown.rows[p];
      const i = shown.at.get(row);
      const tr = h('tr', { class: 'row' }, h('td', { class: 'num line', text: String(i + 1) }), h('td', { text: row.description, title: row.description }),
        figure(row.price), figure(shown.texts[i] ?? '(missing)'));
      return tr;
    },
  });
  say('ok', `Prices with the factor “${factor.name}”, as the server computes them.`);
}

export function init() {
  $('preview-factor').addEventListener('change', renderPreview);
  $('preview-filter').addEventListener('input', renderPreview);
  $('preview-exact').addEventListener('change', renderPreview);
}

export const screen = {
  enter() {
    renderFactorChoice($('preview-factor'));
    unsavedNote($('preview-note'));
    renderPreview();
  },
};
