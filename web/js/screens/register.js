// The register screen ("Offers sent"). Its work, the register's module and
// the offer line's load the first time they are needed: the screen shown,
// or an offer staged.

import { updateShared } from '../datafile.js';
import { state } from '../state.js';
import { $ } from '../ui.js';

const tools = () => import('./register_tools.js');

// Adds a staged offer to the register; null when done, else the outcome.
export async function registerOffer(entry) {
  const { REGISTER_KEY, REGISTER_NAME, readRegister, registerFile } = await import('../register.js');
  return updateShared(state.program, state.directory, REGISTER_NAME, REGISTER_KEY,
    (text) => registerFile([...readRegister(text), entry]),
    (text) => readRegister(text).some((e) => e.name === entry.name));
}

export function init() {
  $('register-check').addEventListener('click', async () => (await tools()).refresh());
}

export const screen = {
  async enter() {
    (await tools()).enter();
  },
};
