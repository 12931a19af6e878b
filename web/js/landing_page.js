// The landing page, offer.html. Nothing here fetches anything from the
// program until a person clicks "Open the offer"; landing.js says what the
// page reads. Its words come first, in the link's language (i18n.js and
// the catalogs); where they cannot be read, it speaks the English it holds.
import { answerWords, frameDocument, incomplete, offerLanguage, plainWords, target, unreachable } from './landing.js';

const $ = (id) => document.getElementById(id);
const { link, program, lang } = target(location);
const storeKey = 'talvenplan-offer ' + program.pathname + '?' + link;
let i18n = null;  // i18n.js, where it could be loaded
let t;  // the page's words

// The page's own English, read before any other words take its places.
function englishWords() {
  const texts = [...document.querySelectorAll('[data-text]'), ...$('english').content.querySelectorAll('[data-text]')]
    .map((el) => [el.dataset.text, el.textContent]);
  const titles = [...document.querySelectorAll('[data-title]')].map((el) => [el.dataset.title, el.title]);
  return plainWords(Object.fromEntries([...texts, ...titles]));
}

// The words of LANG in the page's places, where they can be read.
async function speak(language) {
  const words = await i18n?.loadWords(language);
  if (words) {
    t = words;
    for (const el of document.querySelectorAll('[data-text]')) el.textContent = t(el.dataset.text);
    for (const el of document.querySelectorAll('[data-title]')) el.title = t(el.dataset.title);
    document.documentElement.lang = t.lang;
  }
  document.documentElement.classList.add('ready');
}

async function show(page) {
  // The offer says which language it is in; the page around it follows.
  const own = offerLanguage(page);
  if (own && own !== t.lang) await speak(own);
  const frame = $('frame');
  // Fits the frame to the offer, so the page scrolls and prints as one.
  const fit = () => {
    const doc = frame.contentDocument;
    if (!doc?.documentElement) return;
    frame.style.height = doc.documentElement.scrollHeight + 'px';
    document.body.classList.toggle('one-page', doc.querySelectorAll('tbody.tp-lines > tr').length <= 25);
  };
  frame.addEventListener('load', () => {
    fit();
    new ResizeObserver(fit).observe(frame.contentDocument.body);
    // The shop's name as the offer gives it (offer.js), which staff wrote.
    const shop = frame.contentDocument.querySelector('.tp-shopname')?.textContent.trim();
    if (shop) document.title = t('landing.shownFrom', { shop });
  }, { once: true });
  frame.srcdoc = frameDocument(page, own || t.lang);
  $('intro').hidden = true;
  $('shown').hidden = false;
  document.title = t('landing.shown');
}

async function open() {
  const button = $('open');
  button.disabled = true;
  problem('');
  let answer;
  try {
    const response = await fetch(program, { cache: 'no-store', credentials: 'same-origin', referrerPolicy: 'no-referrer' });
    if (!response.ok) throw response.status;
    answer = await response.text();
  } catch (status) {
    button.disabled = false;
    problem(unreachable(typeof status === 'number' ? status : 0, t));
    return;
  }
  const words = answerWords(answer, t);
  if (!words) {
    try {
      sessionStorage.setItem(storeKey, answer);
    } catch {
      // A tab that keeps nothing still shows the offer now.
    }
    await show(answer);
    return;
  }
  button.hidden = true;
  $('once').hidden = true;
  document.body.dataset.offer = words.state;
  $('title').textContent = words.title;
  $('lead').textContent = words.lead;
}

function problem(text) {
  $('problem').textContent = text;
}

async function start() {
  t = englishWords();
  try {
    i18n = await import('./i18n.js');
  } catch {
    // Not public on this server: English.
  }
  await speak(i18n?.pickLanguage(lang, navigator.languages));
  $('print').addEventListener('click', () => print());
  let kept = null;
  try {
    kept = sessionStorage.getItem(storeKey);
  } catch {
    // No storage: the offer shows once only.
  }
  if (kept) return show(kept);
  if (!link) {
    $('once').hidden = true;
    problem(incomplete(t));
    return;
  }
  $('open').hidden = false;
  $('open').addEventListener('click', open);
}

start();
