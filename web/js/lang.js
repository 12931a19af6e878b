// The workbench's own language, which belongs to the person at this
// browser: the one they chose here (kept in localStorage), else the first of
// the browser's languages there is a catalog for. The page loads that one
// catalog at start; English, behind it for any entry it lacks, loads only
// when the page is ready, so the page everyone opens stays small. Texts in
// index.html name their entry in data-t (data-t-placeholder,
// data-t-aria-label, data-t-title for attributes) and keep their English,
// so a text no catalog has still reads as English.

import { FALLBACK, LANGUAGES, isLanguage, languageOf, setWorkWords, words } from './i18n.js';

const KEY = 'talvenplan.language';
const english = {};

// t(key, values): the text of `key` in the workbench's language.
export let t = words(FALLBACK, english);

export function chosenLanguage() {
  let stored = null;
  try {
    stored = localStorage.getItem(KEY);
  } catch {
    // Storage may be off: the browser's language then.
  }
  return isLanguage(stored) ? stored : languageOf(navigator.languages);
}

async function readCatalog(lang, part = '') {
  const response = await fetch(new URL(`../i18n/${part}${lang}.json`, import.meta.url));
  if (!response.ok) throw new Error(String(response.status));
  return response.json();
}

// Loads the chosen language's catalog and puts its texts on the page. A
// catalog that cannot be read leaves the page in English. English needs
// none to start: index.html holds it, and the screens say theirs (tr).
export async function startLanguage() {
  const lang = chosenLanguage();
  if (lang === FALLBACK) {
    document.documentElement.lang = lang;
    languageChoice(lang);
    return lang;
  }
  let own = {};
  // The screens' own words (i18n.js tr) come beside the page's; English
  // needs no catalog for them.
  const screens = lang === FALLBACK ? null : readCatalog(lang, 'work/').catch(() => ({}));
  try {
    own = await readCatalog(lang);
  } catch {
    // English, from index.html and the catalog behind.
  }
  setWorkWords(lang, await screens);
  if (lang === FALLBACK) Object.assign(english, own);
  t = words(lang, own, english);
  document.documentElement.lang = lang;
  translate(document);
  languageChoice(lang);
  return lang;
}

function languageChoice(lang) {
  document.getElementById('language').replaceChildren(...Object.entries(LANGUAGES).map(([code, name]) => {
    const option = new Option(name, code, false, code === lang);
    option.lang = code;
    return option;
  }));
}

// English behind the chosen catalog, once the page is ready.
export function loadFallback() {
  if (t.lang !== FALLBACK) readCatalog(FALLBACK).then((en) => Object.assign(english, en), () => {});
}

const ATTRIBUTES = { tPlaceholder: 'placeholder', tAriaLabel: 'aria-label', tTitle: 'title' };

export function translate(root) {
  for (const el of root.querySelectorAll('[data-t], [data-t-placeholder], [data-t-aria-label], [data-t-title]')) {
    if (el.dataset.t) el.textContent = t(el.dataset.t);
    for (const [name, attribute] of Object.entries(ATTRIBUTES)) {
      if (el.dataset[name]) el.setAttribute(attribute, t(el.dataset[name]));
    }
  }
}

// Keeps LANG as this person's choice and loads the page again in it, as
// it will be when they come back.
export function chooseLanguage(lang) {
  if (!isLanguage(lang)) return;
  try {
    localStorage.setItem(KEY, lang);
  } catch {
    // Not kept: chosen for this load only.
  }
  location.reload();
}
