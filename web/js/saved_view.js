// What Preview and Offer share: both show the saved list, not the editor's.

import { nameProblem } from './protocol.js';
import { dirty, savedList } from './state.js';
import { h } from './ui.js';

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
