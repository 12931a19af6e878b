// The choice a save waits for when this page and someone else changed the
// same lines: both values side by side, one to keep for each, and nothing
// saved until each has its choice.

import { show } from './state.js';
import { $, h, num } from './ui.js';
import { tr } from './i18n.js';

const lines = (bytes) => show(bytes).replace(/\n$/, '').split('\n');

function side(name, i, value, label, bytes) {
  const text = lines(bytes);
  return h('label', { class: 'merge-side' },
    h('input', { type: 'radio', name, value }),
    h('span', { class: 'merge-label', text: label }),
    h('span', { class: 'merge-lines' },
      ...(bytes.length ? text.map((line) => h('code', { text: line || ' ' })) : [h('em', { text: tr('(the line removed)') })])));
}

// Resolves with the picks ('mine' or 'theirs' for each conflict), or null
// when the person cancels.
export function showMerge(merge, slipped) {
  const dialog = $('merge-dialog');
  const count = merge.conflicts.length;
  $('merge-intro').textContent = [slipped
    ? tr('Someone else saved this list while this page was saving. Your save is in, and theirs is kept in the history.')
    : tr('Someone else saved this list since you opened it. Nothing is saved yet.'),
  tr(['You and they changed the same line: choose what to keep.', 'You and they changed the same lines in {{n}} places: choose what to keep.'], { count, n: num(count) }),
  merge.theirs ? tr(['Their {{n}} other change will be kept as well.', 'Their {{n}} other changes will be kept as well.'], { count: merge.theirs, n: num(merge.theirs) }) : '']
    .filter(Boolean).join(' ');
  const list = $('merge-list');
  list.replaceChildren(...merge.conflicts.map((c, i) => h('fieldset', { class: 'merge-choice' },
    h('legend', { text: tr('Change {{n}} of {{count}}', { n: i + 1, count }) }),
    side('pick-' + i, i, 'mine', tr('Yours'), c.mine),
    side('pick-' + i, i, 'theirs', tr('Saved by someone else'), c.theirs))));
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
