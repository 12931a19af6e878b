// What Preview and Offer share: both show the saved list, not the editor's.

import { nameProblem } from './protocol.js';
import { dirty, savedList } from './state.js';
import { h } from './ui.js';
import { tr } from './i18n.js';

// Fills a factor <select> with the saved list's factors, keeping the choice.
export function renderFactorChoice(select) {
  const saved = savedList();
  const chosen = select.value;
  const seen = new Set();
  const why = [];
  select.replaceChildren(h('option', { value: '', text: saved.factors.length ? tr('Choose a factor') : tr('The list has no factors') }),
    ...saved.factors.map((f, i) => {
      const unusable = nameProblem(saved.encoding.encode(f.name), 'factor name') ||
        (seen.has(f.name) ? tr('an earlier factor has this name: the server only ever finds that one') : '');
      seen.add(f.name);
      if (unusable) why.push(tr('“{{name}}” cannot be chosen: {{problem}}.', { name: f.name, problem: unusable }));
      return h('option', { value: String(i), disabled: !!unusable, text: `${f.name} (${f.value})` });
    }));
  select.value = chosen;
  if (select.selectedIndex < 0) select.value = '';
  explainGreyed(select, why);
}

// Says below the <select> why its greyed factors cannot be chosen, which a
// disabled option cannot say itself; the editor offers the rename.
function explainGreyed(select, why) {
  const id = select.id + '-greyed';
  let note = document.getElementById(id);
  if (!note) {
    note = h('div', { id, class: 'note small' });
    (select.closest('.toolbar') ?? select).after(note);
  }
  note.hidden = !why.length;
  note.dataset.greyed = String(why.length);
  note.replaceChildren(...why.map((text) => h('p', { text })),
    why.length ? h('p', { text: tr('Rename such a factor in the editor, and save.') }) : '');
  if (why.length) select.setAttribute('aria-describedby', id);
  else select.removeAttribute('aria-describedby');
}

// The warning Preview and Offer give while the editor holds unsaved edits.
export function unsavedNote(note) {
  note.hidden = !dirty();
  note.textContent = tr('The editor has unsaved changes: this shows the saved list. Save to see them here.');
}
