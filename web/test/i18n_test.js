// The catalogs and the words they give: every catalog has every text
// English has, and an offer and the landing page rendered in Finnish,
// Swedish or German keep no English label.
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { test } from 'node:test';
import { LANGUAGES, loadWords, pickLanguage, words } from '../js/i18n.js';
import { answerWords, incomplete, unreachable } from '../js/landing.js';
import { buildOffer } from '../js/offer.js';
import { SETTINGS, readSettings } from '../js/settings.js';

const web = new URL('../', import.meta.url);
const read = (path) => readFileSync(new URL(path, web), 'utf8');
const catalog = (lang, dir = 'i18n/') => JSON.parse(read(`${dir}${lang}.json`));
const english = catalog('en');
const wordsOf = (lang) => words(lang, catalog(lang), english);
const PLURAL = /^(.+)_(zero|one|two|few|many|other)$/;
const placeholders = (text) => [...text.matchAll(/\{\{(\w+)\}\}/g)].map((m) => m[1]).sort();

// The page's catalogs, and the mail job's (talvenplan-notify) in mail/.
test('every catalog has the texts English has, with the same values in them, and no others', () => {
  for (const dir of ['i18n/', 'i18n/mail/']) {
    const english = catalog('en', dir);
    const files = readdirSync(new URL(dir, web)).filter((f) => f.endsWith('.json')).map((f) => f.slice(0, -5));
    assert.deepEqual(files.sort(), Object.keys(LANGUAGES).sort());
    for (const lang of files) {
      const own = catalog(lang, dir);
      const categories = new Intl.PluralRules(lang).resolvedOptions().pluralCategories;
      // A text for a count needs every plural form of its language, whatever
      // forms English has.
      const wanted = new Set(Object.keys(english).flatMap((key) => {
        const base = PLURAL.exec(key)?.[1];
        return base ? categories.map((c) => `${base}_${c}`) : [key];
      }));
      for (const key of wanted) {
        assert.equal(typeof own[key], 'string', `${dir}${lang}.json lacks ${key}`);
        const model = english[key] ?? english[`${PLURAL.exec(key)[1]}_other`];
        assert.deepEqual(placeholders(own[key]), placeholders(model), `${dir}${lang}.json ${key}`);
      }
      for (const key of Object.keys(own)) assert.ok(wanted.has(key), `${dir}${lang}.json has ${key}, which English has not`);
    }
  }
});

test('a text is looked up with English behind it, its values and its count filled in', async () => {
  const en = { 'x.hello': 'Hello {{name}}', 'x.lines_one': '{{count}} line', 'x.lines_other': '{{count}} lines', 'x.only': 'English only' };
  const fi = { 'x.hello': 'Hei {{name}}', 'x.lines_one': '{{count}} rivi', 'x.lines_other': '{{count}} riviä' };
  const t = words('fi', fi, en);
  // [key, values, text]
  for (const [key, values, text] of [
    ['x.hello', { name: 'Anna' }, 'Hei Anna'],
    ['x.hello', {}, 'Hei {{name}}'],
    ['x.only', {}, 'English only'],
    ['x.missing', {}, 'x.missing'],
    ['x.lines', { count: 1 }, '1 rivi'],
    ['x.lines', { count: 1234 }, '1\u00a0234 riviä'],
  ]) assert.equal(t(key, values), text, `${key} ${JSON.stringify(values)}`);
  assert.equal(t.lang, 'fi');
  // A count English alone has comes in English.
  assert.equal(words('de', {}, en)('x.lines', { count: 2 }), '2 lines');

  const served = { en, fi };
  const from = async (lang) => served[lang] ?? Promise.reject(new Error('404'));
  assert.equal((await loadWords('fi', from))('x.only'), 'English only');
  assert.equal(await loadWords('sv', from), null, 'a catalog that cannot be read');
  assert.equal(await loadWords('<b>fi</b>', from), null, 'no catalog is asked for a code there is none for');
  // [what the link asks, the browser's languages, the page's language]
  for (const [asked, browser, lang] of [
    ['sv', ['fi-FI'], 'sv'], ['', ['sv-FI', 'fi'], 'sv'], ['xx', ['de-AT'], 'de'],
    ['Tarjous', ['nb-NO'], 'en'], ['FI', [], 'en'], ['toString', [], 'en'],
  ]) assert.equal(pickLanguage(asked, browser), lang, `${asked} ${browser}`);
});

test("the shop's settings give offers a language, the locale's where they name none", () => {
  // [the stored settings, the language of their offers]
  for (const [stored, lang] of [
    [{}, 'fi'], [{ locale: 'sv-FI' }, 'sv'], [{ locale: 'en-GB' }, 'en'], [{ locale: 'nb-NO' }, 'en'],
    [{ locale: 'sv-FI', language: 'de' }, 'de'], [{ locale: 'de-DE', language: 'klingon' }, 'de'], [{ language: 7 }, 'fi'],
  ]) {
    const shop = readSettings(JSON.stringify(stored));
    assert.equal(pickLanguage(shop.language, [shop.locale]), lang, JSON.stringify(stored));
  }
});

// The English labels of the offer and the landing page, as shown: none
// may be left in another language's offer or page.
const ENGLISH_LABELS = ['Offer', 'Date', 'Valid until', 'Customer', 'VAT number', 'Description', 'Quantity', 'Unit price',
  'VAT', 'Amount', 'Net total', 'Total', 'of', 'included in', 'Prices exclude VAT', 'Prices include VAT', 'Amounts in',
  'Dear customer', 'Your offer', 'An offer for you', 'Open the offer', 'Print', 'The offer', 'This offer', 'withdrawn',
  'cannot be shown again', 'Ask the shop', 'expired', 'web server', 'no answer'];
// The VAT and business-ID labels each language's documents use.
const LABELS = { fi: ['ALV', 'Y-tunnus'], sv: ['Moms', 'FO-nummer'], de: ['MwSt.', 'USt-IdNr.'], en: ['VAT', 'VAT number'] };

const landingPage = read('offer.html');
const pageKeys = [...landingPage.matchAll(/data-(?:text|title)="([\w.]+)"/g)].map((m) => m[1]);
const decode = (html) => html.replace(/<style>[\s\S]*?<\/style>/g, '').replace(/<[^>]*>/g, ' ')
  .replace(/&#(\d+);/g, (_, n) => String.fromCodePoint(Number(n)))
  .replace(/&(lt|gt|quot|amp);/g, (_, e) => ({ lt: '<', gt: '>', quot: '"', amp: '&' })[e]);

function rendered(lang) {
  const t = wordsOf(lang);
  const shop = { name: 'Talvi Oy', address: 'Rantakatu 12\n00100 Helsinki', vatNumber: '1234567-8', locale: 'fi-FI', currency: 'EUR' };
  const offer = { reference: 'T20261209-1', date: '2026-12-09', validUntil: '2026-12-16', customer: 'Kahvila Kuura', intro: t('offer.intro') };
  const lines = [{ description: 'Maito 1 l', quantity: '24', unit: '0.95', rate: '14' }, { description: 'Tammituoli', quantity: '2', unit: '49.9', rate: '25.5' }];
  const offers = [false, true].map((included) => buildOffer({ ...shop, included }, offer, lines, t).html);
  const single = buildOffer(shop, offer, lines.slice(1), t).html;
  const values = { shop: shop.name, status: 502, reason: t('landing.noAnswer') };
  const landing = [...pageKeys.map((key) => t(key, values)), incomplete(t),
    unreachable(502, t), unreachable(0, t), ...["error on server: can't open temp file", 'error on server: offer withdrawn', 'f']
      .flatMap((answer) => {
      const { title, lead } = answerWords(answer, t);
      return [title, lead];
    })];
  return { html: offers.join('') + single, text: decode(offers.join('\n') + single) + '\n' + landing.join('\n') };
}

test('an offer and the landing page in Finnish, Swedish or German keep no English label', () => {
  const escape = (label) => label.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const found = (text, label) => new RegExp(`(^|[^\\p{L}])${escape(label)}($|[^\\p{L}])`, 'u').test(text);
  const en = rendered('en').text;
  for (const label of ENGLISH_LABELS) assert.ok(found(en, label), `the English offer or page shows no “${label}”`);
  for (const lang of Object.keys(LANGUAGES)) {
    const { html, text } = rendered(lang);
    assert.equal(html.match(/<article class="tp-offer" lang="(\w+)">/g).length, 3);
    assert.ok(html.includes(`<article class="tp-offer" lang="${lang}">`), lang);
    assert.doesNotMatch(text, /\{\{|\b(offer|landing)\.\w/, `${lang}: a value or a key left unfilled`);
    for (const label of LABELS[lang]) assert.ok(found(text, label), `${lang} shows no “${label}”`);
    if (lang === 'en') continue;
    const left = ENGLISH_LABELS.filter((label) => found(text, label));
    assert.deepEqual(left, [], `${lang} still shows English`);
  }
});

test("the landing page holds English's words, says in each language that it needs a script, and the workbench offers each language", () => {
  // Its own words are the English it speaks where no catalog can be read.
  for (const m of landingPage.matchAll(/<(\w+)[^>]*data-text="([\w.]+)"[^>]*>([^<]*)</g)) assert.equal(m[3], english[m[2]], m[2]);
  assert.match(landingPage, new RegExp(`title="${english['landing.frame']}" data-title="landing.frame"`));
  const landingKeys = Object.keys(english).filter((k) => k.startsWith('landing.') && k !== 'landing.noscript');
  assert.deepEqual(landingKeys.filter((k) => !pageKeys.includes(k)), []);
  const noscript = /<noscript><div class="problem">([\s\S]*?)<\/div><\/noscript>/.exec(landingPage)[1];
  assert.deepEqual([...noscript.matchAll(/<p lang="(\w+)">([^<]*)<\/p>/g)].map((m) => [m[1], m[2]]),
    Object.keys(LANGUAGES).map((lang) => [lang, catalog(lang)['landing.noscript']]));
  const workbench = read('index.html');
  const select = /<select id="offer-language"[^>]*>([\s\S]*?)<\/select>/.exec(workbench)[1];
  assert.deepEqual([...select.matchAll(/<option value="(\w+)" lang="\1">([^<]*)</g)].map((m) => [m[1], m[2]]), Object.entries(LANGUAGES));
  assert.equal(select.match(/<option /g).length, 4, 'no other');
  // The shop's setting (its form is made from settings.js): the locale's, then each.
  assert.deepEqual(SETTINGS.find((s) => s.name === 'language').choices,
    [['', 'the locale’s'], ...Object.entries(LANGUAGES).map(([code, name]) => [code, name, code])]);
  // The introduction the Offer screen starts with is the English one.
  assert.equal(/<textarea id="offer-intro"[^>]*>([^<]*)</.exec(workbench)[1], english['offer.intro']);
});

// The screens' texts: every tr('...') in web/js, in every catalog of
// web/i18n/work/, with the same values in it, and nothing a screen no
// longer says.
test("every screen's text is in every workbench catalog, and no other", () => {
  const sources = [];
  const walk = (dir) => {
    for (const entry of readdirSync(new URL(dir, web), { withFileTypes: true })) {
      if (entry.isDirectory()) walk(`${dir}${entry.name}/`);
      else if (entry.name.endsWith('.js')) sources.push(read(dir + entry.name));
    }
  };
  walk('js/');
  const literal = String.raw`'((?:[^'\\]|\\.)*)'`;
  const unquote = (text) => text.replace(/\\(.)/g, '$1');
  const texts = new Map();  // the key: its forms
  for (const source of sources) {
    for (const m of source.matchAll(new RegExp(String.raw`\btr\(\s*(?:${literal}|\[\s*${literal}\s*,\s*${literal}\s*\])`, 'g'))) {
      if (m[1] !== undefined) texts.set(unquote(m[1]), null);
      else texts.set(unquote(m[3]), unquote(m[2]));
    }
  }
  assert.ok(texts.size > 100, `${texts.size} texts found`);
  const langs = readdirSync(new URL('i18n/work/', web)).map((f) => f.slice(0, -5)).sort();
  assert.deepEqual(langs, Object.keys(LANGUAGES).filter((l) => l !== 'en').sort());
  for (const lang of langs) {
    const own = JSON.parse(read(`i18n/work/${lang}.json`));
    const categories = new Intl.PluralRules(lang).resolvedOptions().pluralCategories;
    for (const [key, one] of texts) {
      const entry = own[key];
      if (one === null) {
        assert.equal(typeof entry, 'string', `work/${lang}.json lacks “${key}”`);
        assert.deepEqual(placeholders(entry), placeholders(key), `work/${lang}.json “${key}”`);
      } else {
        for (const c of categories) {
          assert.equal(typeof entry?.[c], 'string', `work/${lang}.json lacks the ${c} form of “${key}”`);
          // A form for one may leave the number out ("the same line").
          const allowed = new Set([...placeholders(key), 'count']);
          assert.ok(placeholders(entry[c]).every((p) => allowed.has(p)), `work/${lang}.json “${key}”, ${c}`);
        }
      }
    }
    for (const key of Object.keys(own)) assert.ok(texts.has(key), `work/${lang}.json has “${key}”, which no screen says`);
  }
});
