// What every screen shares: building elements, the message line, and moving
// between screens. A screen registers itself with `addScreen`; `showScreen`
// shows its section and calls its `enter`.

import { describe } from './api.js';

export const $ = (id) => document.getElementById(id);
const PROPS = new Set(['value', 'checked', 'disabled', 'readOnly', 'hidden', 'selected']);

// h('td', { class: 'num', text: '10' }, ...children): an element.
export function h(tag, attrs = {}, ...kids) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v == null || v === false) continue;
    if (k.startsWith('on')) el.addEventListener(k.slice(2), v);
    else if (k === 'text') el.textContent = v;
    else if (PROPS.has(k)) el[k] = v;
    else el.setAttribute(k, v === true ? '' : v);
  }
  for (const kid of kids.flat()) if (kid != null && kid !== false) el.append(kid);
  return el;
}

// A count as the person reads it, in the page's language: 10,000 in
// English, 10 000 in Finnish.
let counts = null;
export function num(n) {
  const lang = document.documentElement.lang || 'en';
  if (counts?.lang !== lang) counts = { lang, format: new Intl.NumberFormat(lang).format };
  return counts.format(n);
}

// Messages: one line that says what the last action came to, and as
// data-* attributes what tests read ({ outcome: 'saved', merged: 1 }).
export function say(level, text, data = {}) {
  const p = h('p', { class: level, text });
  Object.assign(p.dataset, data);
  $('message').replaceChildren(p);
}
export function sayOutcome(outcome, refusal) {
  const { level, text } = describe(outcome, refusal);
  say(level, text);
  return text;
}

// Screens: name -> { enter(): called each time the screen is shown }.
const screens = new Map();
export function addScreen(name, screen) {
  screens.set(name, screen);
}

export function showScreen(name, focus = true) {
  for (const button of document.querySelectorAll('.tabs button')) {
    if (button.dataset.screen === name) button.setAttribute('aria-current', 'page');
    else button.removeAttribute('aria-current');
  }
  for (const id of screens.keys()) $(id).hidden = id !== name;
  $('message').replaceChildren();  // it spoke of the screen before
  screens.get(name).enter?.();
  if (focus) focusTitle();
}

// Puts the focus on the title of the screen in view.
export function focusTitle() {
  const section = document.querySelector('main > section:not([hidden])');
  const title = section.querySelector('h1');
  title.tabIndex = -1;
  title.focus();
}

// The tabs of the screens that need an open list.
export function enableListTabs(open) {
  for (const button of document.querySelectorAll('.tabs button')) {
    if (button.dataset.screen !== 'databases' && !('always' in button.dataset)) button.disabled = !open;
  }
}
