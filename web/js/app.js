// The workbench: databases, the editor, the preview and the offer, on one
// page, one module a screen (screens/). Everything the page sends goes
// through protocol.js and api.js; the database file goes through format.js
// as bytes. Nothing runs on import: index.html calls start().
//
// A new screen: a <section id="NAME"> in index.html with a tab button
// data-screen="NAME", a module in screens/ that exports `screen` ({ enter })
// and `init`, and a line in SCREENS below.

import { KEY_SIZE } from './protocol.js';
import { dirty, readOnly, state } from './state.js';
import { forget, remember, remembered } from './list.js';
import { $, addScreen, say, showScreen } from './ui.js';
import { chooseLanguage, loadFallback, startLanguage } from './lang.js';
import { tr } from './i18n.js';
import * as databases from './screens/databases.js';
import * as editor from './screens/editor.js';
import * as preview from './screens/preview.js';
import * as offer from './screens/offer.js';
import * as sheet from './screens/sheet.js';
import * as register from './screens/register.js';
import * as settings from './screens/settings.js';
import * as history from './screens/history.js';

const SCREENS = { databases, editor, preview, offer, sheet, history, register, settings };

export async function start(config) {
  const lang = await startLanguage();
  state.program = new URL(config.program || 'talvenplan.cgi', location.href);
  state.directory = new URLSearchParams(location.search).get('dir') ?? config.directory ?? '';
  $('directory').value = state.directory;
  $('create-key-label').textContent = tr('Key (at most {{size}} bytes)', { size: KEY_SIZE });
  // Changes to save come first: the page loads again in the new language.
  $('language').addEventListener('change', (event) => {
    if (!(state.open && !readOnly() && dirty())) return chooseLanguage(event.target.value);
    event.target.value = lang;
    say('note', tr('Save or discard your changes first, then choose the language.'));
  });

  for (const [name, module] of Object.entries(SCREENS)) {
    addScreen(name, module.screen);
    module.init();
  }
  for (const button of document.querySelectorAll('.tabs button')) {
    button.addEventListener('click', () => {
      showScreen(button.dataset.screen);
      if (state.open) remember(button.dataset.screen);
    });
  }
  // A refusal speaks of the fields as they were: once they change, a "Not
  // saved: 2 lines need attention" with nothing marked any more misleads.
  document.querySelector('main').addEventListener('input', () => {
    if ($('message').querySelector('.refused')) $('message').replaceChildren();
  });
  window.addEventListener('beforeunload', (event) => {
    if (state.open && !readOnly() && dirty()) event.preventDefault();
  });

  if (state.directory) await databases.refreshList();
  else say('note', tr('Enter the data directory to begin.'));
  // A reload opens the list this tab had open, on the screen it showed.
  const was = remembered();
  if (was && was.directory === state.directory) {
    if (await databases.openDatabase(was.name, was.key)) forget();
    else if (was.screen !== 'editor' && SCREENS[was.screen]) showScreen(was.screen);
  }
  document.body.dataset.ready = 'yes';
  window.talvenplanReadyMs = performance.now();
  loadFallback();
}
