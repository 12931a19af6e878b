// The history screen: the versions the server keeps of the open list. Its
// work, and the line diff it shows, load the first time it is shown.

export function init() {}

export const screen = {
  async enter() {
    (await import('./history_tools.js')).renderHistory();
  },
};
