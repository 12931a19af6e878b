// The preview screen: the server's repricing of the saved list, in money
// with two decimals, or the server's exact figures.

import { moneyText } from '../money.js';
import { viewOf } from '../view.js';
import { gridTable } from '../grid.js';
import { savedList } from '../state.js';
import { repriced } from '../list.js';
import { renderFactorChoice, unsavedNote } from '../saved_view.js';
import { $, h, num, say } from '../ui.js';
import { tr } from '../i18n.js';

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
  const at = new Map(saved.prices.map((row, i) => [row, i]));
  const rows = viewOf(saved.prices, { query: $('preview-filter').value }, (t) => saved.encoding.encode(t));
  $('preview-caption').textContent = `${saved.headerA.text} — ${saved.headerB.text}` +
    (rows.length < saved.prices.length ? ` (${num(rows.length)} of ${num(saved.prices.length)} lines)` : '');
  gridTable($('preview-table'), {
    label: tr('Prices with {{factor}}', { factor: factor.name }),
    columns: [[tr('Line'), 'c-line', 1], [tr('Description')], [tr('Stored price'), 'c-money', 1], [tr('With “{{factor}}”', { factor: factor.name }), 'c-money', 1]],
    count: () => rows.length,
    render: (p) => {
      const row = rows[p];
      const i = at.get(row);
      return h('tr', { class: 'row' }, h('td', { class: 'num line', text: String(i + 1) }), h('td', { text: row.description, title: row.description }),
        figure(row.price), figure(texts[i] ?? '(missing)'));
    },
  });
  say('ok', tr('Prices with the factor “{{factor}}”, as the server computes them.', { factor: factor.name }));
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
