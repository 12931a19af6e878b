// The spreadsheet screen: import, export and changing many prices at once,
// and rows pasted from a spreadsheet into the price table. The work lives in
// sheet_tools.js, loaded the first time a person uses any of it, so the page
// everyone opens stays small.

import { $ } from '../ui.js';

const load = () => import('./sheet_tools.js');

// Where a paste lands: the price row and field of the input it is in, or null.
function pasteTarget(target) {
  const field = target?.dataset?.field;
  const row = target?.closest?.('tr')?.row;
  return row?.kind === 'price' && (field === 'description' || field === 'price') ? { row, field } : null;
}

export function init() {
  // One cell pastes as usual; several (a tab or a line break inside) become
  // rows of the price table.
  $('editor-body').addEventListener('paste', (event) => {
    const at = pasteTarget(event.target);
    const text = event.clipboardData?.getData('text/plain') ?? '';
    if (!at || event.target.readOnly || !/[\t\r\n]/.test(text.replace(/[\r\n]+$/, ''))) return;
    event.preventDefault();
    load().then((t) => t.pasteRows(text, at.row, at.field));
  });
}

export const screen = {
  enter() {
    load().then((t) => t.enter());
  },
};
