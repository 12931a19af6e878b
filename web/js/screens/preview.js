// The preview screen: the server's repricing of the saved list.

import { nameProblem } from '../protocol.js';
import { dirty, state } from '../state.js';
import { repriced } from '../list.js';
import { $, h, say } from '../ui.js';

// Fills a factor <select> with the saved list's factors, keeping the choice.
export function renderFactorChoice(select) {
  const { saved } = state.open;
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

async function renderPreview() {
  const select = $('preview-factor');
  if (select.value === '') return $('preview-table').replaceChildren();
  const texts = await repriced(Number(select.value));
  if (!texts) return;
  const { saved } = state.open;
  const factor = saved.factors[Number(select.value)];
  $('preview-table').replaceChildren(h('div', { class: 'wide' }, h('table', {},
    h('caption', { text: `${saved.headerA.text} — ${saved.headerB.text}` }),
    h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Description' }), h('th', { scope: 'col', class: 'num', text: 'Stored price' }),
      h('th', { scope: 'col', class: 'num', text: `With “${factor.name}”` }))),
    h('tbody', {}, saved.prices.map((row, i) => h('tr', {}, h('td', { text: row.description }), h('td', { class: 'num', text: row.price }),
      h('td', { class: 'num', text: texts[i] ?? '(missing)' })))))));
  say('ok', `Prices with the factor “${factor.name}”, as the server computes them.`);
}

export function init() {
  $('preview-factor').addEventListener('change', renderPreview);
}

export const screen = {
  enter() {
    renderFactorChoice($('preview-factor'));
    $('preview-note').hidden = !dirty();
    $('preview-note').textContent = 'The editor has unsaved changes: this shows the saved list.';
    renderPreview();
  },
};
