// The shop settings screen. Its work loads the first time it is shown.

export function init() {}

export const screen = {
  async enter() {
    await (await import('./settings_tools.js')).enter();
  },
};
