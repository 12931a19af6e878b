// The landing page, offer.html. Nothing here fetches anything from the
// program until a person clicks "Open the offer"; landing.js says what the
// page reads. Its words come first, in the link's language (i18n.js and
// the catalogs); where they cannot be read, it speaks the English it holds.
import {
  answerBody, answerProblem, answerUrl, answerWords, copyDocument, frameDocument, incomplete, offerBytes, offerLanguage,
  offerNumber, plainWords, readAnswer, receiptLines, sha256Hex, takesAnswer, target, unreachable,
} from './landing.js';

const $ = (id) => document.getElementById(id);
const { link, program, lang } = target(location);
const storeKey = 'talvenplan-offer ' + program.pathname + '?' + link;
const receiptKey = storeKey + ' answer';
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
  shown = page;
  const receipt = kept(receiptKey);
  if (receipt) showReceipt(JSON.parse(receipt));
  else if (takesAnswer(page)) $('answer').hidden = false;
}

let shown = '';  // the offer's page, once shown

function kept(key) {
  try {
    return sessionStorage.getItem(key);
  } catch {
    return null;  // no storage: the offer shows once only
  }
}
function keep(key, value) {
  try {
    sessionStorage.setItem(key, value);
  } catch {
    // A tab that keeps nothing still shows the offer now.
  }
}

// The customer's answer: once, with a typed name and a click, and the
// hash of the offer this page showed.
async function sendAnswer(event) {
  event.preventDefault();
  const name = $('answer-name').value;
  const message = $('answer-message').value;
  const problem = answerProblem(name, message);
  $('answer-name').setAttribute('aria-invalid', String(problem === 'landing.answer.nameMissing' || problem === 'landing.answer.nameLong'));
  if (problem) return answerSays(problem);
  const buttons = [...$('answer-form').querySelectorAll('button')];
  for (const button of buttons) button.disabled = true;
  answerSays('');
  const decision = event.submitter?.value === 'decline' ? 'decline' : 'accept';
  let text;
  try {
    const response = await fetch(answerUrl(program, link), {
      method: 'POST', cache: 'no-store', credentials: 'same-origin', referrerPolicy: 'no-referrer',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body: answerBody({ decision, name, message, sha256: sha256Hex(offerBytes(shown)) }),
    });
    if (!response.ok) throw response.status;
    text = await response.text();
  } catch (status) {
    for (const button of buttons) button.disabled = false;
    return answerSays('landing.answer.failed', typeof status === 'number' ? status : 0);
  }
  const { receipt, state } = readAnswer(text);
  document.body.dataset.answer = receipt ? receipt.decision : state;
  if (!receipt) {
    if (state === 'failed') for (const button of buttons) button.disabled = false;
    else $('answer-form').hidden = true;
    return answerSays('landing.answer.' + state, 0);
  }
  keep(receiptKey, JSON.stringify(receipt));
  showReceipt(receipt);
}

function answerSays(key, status) {
  $('answer-problem').textContent = !key ? '' : t(key, {
    reason: status ? t('landing.status', { status: String(status) }) : t('landing.noAnswer'),
  });
}

let answered = null;  // the receipt, once the program took the answer

function showReceipt(receipt) {
  answered = receipt;
  document.body.dataset.answer = receipt.decision;
  $('answer').hidden = true;
  const lines = receiptLines(receipt, offerNumber(link), t, t.lang);
  if (!receipt.matched) lines.push(['', t('landing.receipt.mismatch')]);
  $('receipt-lines').replaceChildren(...lines.flatMap(([label, value]) => {
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = label ? t(label) : '';
    dd.textContent = value;
    return [dt, dd];
  }));
  $('receipt').hidden = false;
}

// The customer's copy: the offer, and the receipt once there is one, as
// one HTML file.
function saveCopy() {
  const esc = (text) => String(text).replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);
  const receipt = answered
    ? '<section><h2>' + esc(t('landing.receipt.title')) + '</h2><dl>' +
      receiptLines(answered, offerNumber(link), t, t.lang).map(([label, value]) => `<dt>${esc(t(label))}</dt><dd>${esc(value)}</dd>`).join('') +
      '</dl></section>\n'
    : '';
  const url = URL.createObjectURL(new Blob([copyDocument(shown, offerLanguage(shown) || t.lang, receipt)], { type: 'text/html' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = `offer-${offerNumber(link) || 'copy'}.html`;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
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
    keep(storeKey, answer);
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
  $('save').addEventListener('click', saveCopy);
  $('answer-form').addEventListener('submit', sendAnswer);
  const page = kept(storeKey);
  if (page) return show(page);
  if (!link) {
    $('once').hidden = true;
    problem(incomplete(t));
    return;
  }
  $('open').hidden = false;
  $('open').addEventListener('click', open);
}

start();
