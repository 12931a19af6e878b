// The words the customer reads, in the customer's language: one catalog a
// language, web/i18n/LANG.json, a flat JSON object of "key": "text" that
// any translation tool opens. A text may hold {{name}} for a value. A text
// that depends on a count has one entry a plural category of its language
// (key_one, key_other; key_few and key_many where the language has them),
// picked by Intl.PluralRules. An entry a catalog lacks is taken from
// English, so a new text shows in English until it is translated, never as
// its key. Pure: node tests import it; loadWords fetches only when called.

// The languages there are catalogs for, each by its own name.
export const LANGUAGES = Object.freeze({ fi: 'suomi', sv: 'svenska', en: 'English', de: 'Deutsch' });
export const FALLBACK = 'en';

export const isLanguage = (code) => typeof code === 'string' && Object.hasOwn(LANGUAGES, code);

// The first of `tags` ("sv-FI", "de") whose language there is a catalog
// for, else English.
export function languageOf(tags) {
  for (const tag of tags ?? []) {
    const code = String(tag ?? '').toLowerCase().split(/[-_]/)[0];
    if (isLanguage(code)) return code;
  }
  return FALLBACK;
}

// The language for a page whose link asks for ASKED (free text from a
// URL): ASKED where there is a catalog for it, else languageOf(BROWSER).
export const pickLanguage = (asked, browser) => (isLanguage(asked) ? asked : languageOf(browser));

const entry = (catalog, key) => (typeof catalog?.[key] === 'string' ? catalog[key] : undefined);

// words(LANG, CATALOG, ENGLISH): t(key, values), the text of `key` with
// each {{name}} replaced by values[name] (numbers as LANG writes them); a
// number values.count picks the plural form. t.lang is LANG.
export function words(lang, catalog, english = catalog) {
  const plural = new Intl.PluralRules(lang);
  const englishPlural = new Intl.PluralRules(FALLBACK);
  const numbers = new Intl.NumberFormat(lang);
  const t = (key, values = {}) => {
    const count = values.count;
    const text = (typeof count === 'number'
      ? entry(catalog, `${key}_${plural.select(count)}`) ?? entry(english, `${key}_${englishPlural.select(count)}`)
      : undefined) ?? entry(catalog, key) ?? entry(english, key) ?? key;
    return text.replace(/\{\{(\w+)\}\}/g, (whole, name) => {
      if (!Object.hasOwn(values, name)) return whole;
      return typeof values[name] === 'number' ? numbers.format(values[name]) : String(values[name]);
    });
  };
  t.lang = lang;
  return t;
}

async function fetchCatalog(lang) {
  const response = await fetch(new URL(`../i18n/${lang}.json`, import.meta.url));
  if (!response.ok) throw new Error(`the catalog ${lang}.json: ${response.status}`);
  const catalog = await response.json();
  if (!catalog || typeof catalog !== 'object' || Array.isArray(catalog)) throw new Error(`${lang}.json is no catalog`);
  return catalog;
}

// The words of LANG, from the catalogs beside this module (English too,
// for what LANG lacks); null where LANG has no catalog or one cannot be
// read. `read(lang)` gives a catalog; tests pass their own.
export async function loadWords(lang, read = fetchCatalog) {
  if (!isLanguage(lang)) return null;
  try {
    const [english, own] = await Promise.all([read(FALLBACK), lang === FALLBACK ? null : read(lang)]);
    return words(lang, own ?? english, english);
  } catch {
    return null;
  }
}

// The workbench's screens write their texts in English where they build
// them, as tr('Opened “{{name}}”.', { name }), and each other language has
// one catalog of translations keyed by that English (web/i18n/work/LANG.json,
// as gettext's catalogs are), loaded at start with the page's own. A text
// that depends on a count is given as [one, other], its entry keyed by the
// `other` form and holding { one, other } (and the language's other plural
// categories). A text a catalog lacks shows in English. The screens' English
// costs no catalog, so the page everyone opens stays small.
let work = { lang: FALLBACK, catalog: {} };

export function setWorkWords(lang, catalog) {
  work = { lang, catalog: catalog && typeof catalog === 'object' ? catalog : {} };
}

export function tr(text, values = {}) {
  const forms = Array.isArray(text) ? text : null;
  const key = forms ? forms[1] : text;
  const count = values.count;
  let own = work.catalog[key];
  if (own && typeof own === 'object') {
    own = typeof count === 'number' ? own[new Intl.PluralRules(work.lang).select(count)] ?? own.other : own.other;
  }
  const english = forms ? (count === 1 ? forms[0] : forms[1]) : text;
  const chosen = typeof own === 'string' ? own : english;
  return chosen.replace(/\{\{(\w+)\}\}/g, (whole, name) => {
    if (!Object.hasOwn(values, name)) return whole;
    const value = values[name];
    return typeof value === 'number' ? new Intl.NumberFormat(work.lang).format(value) : String(value);
  });
}
