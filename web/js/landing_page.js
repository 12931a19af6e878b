// The landing page, offer.html. Nothing here fetches anything until a
// person clicks "Open the offer"; landing.js says what the page reads.
import { INCOMPLETE, answerWords, frameDocument, target, unreachable } from './landing.js';

const $ = (id) => document.getElementById(id);
const { link, program } = target(location);
const storeKey = 'talvenplan-offer ' + program.pathname + '?' + link;

function problem(text) {
  $('problem').textContent = text;
}

function show(page) {
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
    if (shop) document.title = `Offer from ${shop}`;
  }, { once: true });
  frame.srcdoc = frameDocument(page);
  $('intro').hidden = true;
  $('shown').hidden = false;
  document.title = 'Offer';
}

async function open() {
  const button = $('open');
  button.disabled = true;
  problem('');
  let answer;
  try {
    const response = await fetch(program, { cache: 'no-store', credentials: 'same-origin', referrerPolicy: 'no-referrer' });
    answer = await response.text();
    if (!response.ok) throw new Error(`the web server answered ${response.status}`);
  } catch (error) {
    button.disabled = false;
    problem(unreachable(error.message));
    return;
  }
  const words = answerWords(answer);
  if (!words) {
    try {
      sessionStorage.setItem(storeKey, answer);
    } catch {
      // A tab that keeps nothing still shows the offer now.
    }
    show(answer);
    return;
  }
  button.hidden = true;
  $('once').hidden = true;
  document.body.dataset.offer = words.state;
  $('title').textContent = words.title;
  $('lead').textContent = words.lead;
}

function start() {
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
    problem(INCOMPLETE);
    return;
  }
  $('open').hidden = false;
  $('open').addEventListener('click', open);
}

start();
