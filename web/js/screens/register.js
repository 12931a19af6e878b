// The register screen ("Offers sent"). Its work, and the register's
// module, load the first time the screen is shown (the offer screen loads
// the register's module when it stages an offer).

import { $ } from '../ui.js';

const tools = () => import('./register_tools.js');

export function init() {
  $('register-check').addEventListener('click', async () => (await tools()).refresh());
}

export const screen = {
  async enter() {
    (await tools()).enter();
  },
};
