// The offer screen. Its work (offer_tools.js), the offer's HTML and the
// offer's words load the first time it is shown.

import { unsavedNote } from '../saved_view.js';
import { $ } from '../ui.js';

export function init() {}

export const screen = {
  async enter() {
    unsavedNote($('offer-note'));
    await (await import('./offer_tools.js')).enter();
  },
};
