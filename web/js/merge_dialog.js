// The choice a save waits for when this page and someone else changed the
// same lines: both values side by side, one to keep for each, and nothing
// saved until each has its choice.

import { show } from './state.js';
import { $, h, num } from './ui.js';

const lines = (bytes) => show(bytes).replace(/\n$/, '').split('\n');

function side(name, i, value, label, bytes) {
  const text = lines(bytes);
  return h('label', { class: 'merge-side' },
    h('input', { type: 'radio', name, value }),
    h('span', { class: 'merge-label', text: label }),
    h('span', { class: 'merge-lines' },
      ...(bytes.length ? text.map((line) => h('code', { text: line || ' ' })) : [h('em', { text: '(the line removed)' })])));
}

// Resolves with the picks ('mine' or 'theirs' for each conflict), or null
// when the person cancels.
export function showMerge(merge, slipped) {
  const dialog = $('merge-dialog');
  const count = merge.conflicts.length;
  $('merge-intro').textContent = (slipped
    ? 'Someone else saved this list while this page was saving. Your save is in, and theirs is kept in the history. '
    : 'Someone else saved this list since you opened it. Nothing is saved yet. ') +
    `You and they changed the same ${count === 1 ? 'line' : `lines in ${num(count)} places`}: choose what to keep.` +
    (merge.theirs ? ` Their ${num(merge.theirs)} other change${merge.theirs === 1 ? '' : 's'} will be kept as well.` : '');
  const list = $('merge-list');
  list.replaceChildren(...merge.conflicts.map((c, i) => h('fieldset', { class: 'merge-choice' },
    h('legend', { text: `Change ${i + 1} of ${count}` }),
    side('pick-' + i, i, 'mine', 'Yours', c.mine),
    side('pick-' + i, i, 'theirs', 'Saved by someone else', c.theirs))));
  const saveButton = $('merge-save');
  const picks = () => merge.conflicts.map((_, i) => list.querySelector(`input[name="pick-${i}"]:checked`)?.value);
  const update = () => {
    const chosen = picks().filter(Boolean).length;
    saveButton.disabled = chosen < count;
    $('merge-count').textContent = `${num(chosen)} of ${num(count)} chosen.`;
  };
  list.onchange = update;
  update();
  return new Promise((resolve) => {
    dialog.querySelector('form').onsubmit = (event) => {
      event.preventDefault();
      const ok = event.submitter?.value === 'save';
      dialog.close();
      resolve(ok ? picks() : null);
    };
    dialog.oncancel = () => resolve(null);
    dialog.showModal();
    list.querySelector('input')?.focus();
  });
}
