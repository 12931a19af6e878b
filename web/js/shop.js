// The shop's settings of the data directory (settings.js), as the screens
// use them: read once, then kept in `state.shop` until the directory
// changes or they are saved.

import { readShared } from './datafile.js';
import { SETTINGS_KEY, SETTINGS_NAME, readSettings } from './settings.js';
import { state } from './state.js';
import { sayOutcome } from './ui.js';

// The settings of the current directory; the defaults where the server
// gives no answer, with a message.
export async function loadShop() {
  if (state.shop && state.shopDirectory === state.directory) return state.shop;
  const read = await readShared(state.program, state.directory, SETTINGS_NAME, SETTINGS_KEY);
  if (read.outcome) {
    sayOutcome(read.outcome, '');
    return readSettings('');
  }
  state.shop = readSettings(read.text);
  state.shopDirectory = state.directory;
  return state.shop;
}

// The locale the shop writes numbers and dates in: the settings' once read,
// else the default.
export const shopLocale = () => (state.shop ?? readSettings('')).locale;

// A moment as the shop writes it: "9.12.2026 klo 17.13" in fi-FI, as the
// offers it sends do, not in the browser's own way.
export const shopTime = (date, timeStyle = 'short') =>
  date.toLocaleString(shopLocale(), { dateStyle: 'medium', timeStyle });
