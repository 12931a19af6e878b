// The spreadsheet screen's work, loaded when first used (screens/sheet.js):
// importing a CSV or TSV file (its columns, its numbers, a preview of every
// change, then the change as edits of the page), exporting the price lines,
// changing many prices at once, and rows pasted into the price table. None
// of it saves: the person saves as after any edit.

import { ROUNDINGS, columnDecimal, readAmount } from '../decimals.js';
import { SEPARATORS, decodeFile, detectSeparator, parseCsv, writeCsv } from '../csv.js';
import { newRow } from '../format.js';
import { nameProblem } from '../protocol.js';
import { applyImport, cleanDescription, exportRows, guessColumns, planBulk, planImport, readSheet, unguardText } from '../sheet.js';
import { readOnly, show, state } from '../state.js';
import { pricesChanged } from '../list.js';
import { filterWords, matches } from '../view.js';
import { tr } from '../i18n.js';
import { $, h, num, say, showScreen } from '../ui.js';

const SHOWN = 100;  // rows each preview table shows; the rest are counted
const separatorWord = (sep) => ({ '\t': tr('tab'), ';': tr('semicolon'), ',': tr('comma') })[sep];

// The import in progress and the bulk change, as state.sheet keeps them.
const { import: work, bulk } = state.sheet;

export function enter() {
  if (!state.open) return;
  if (work.list !== state.open) Object.assign(work, { list: state.open, name: '', rows: [], plan: null, read: null });
  $('sheet-body').replaceChildren(importCard(), exportCard(), bulkCard());
  if (work.name) renderImport();
  renderBulk();
}

// A table of the first SHOWN rows, and a button that shows the rest.
function previewTable(caption, heads, rows, cells) {
  if (!rows.length) return null;
  const line = (row) => h('tr', {}, cells(row).map(([text, cls]) => h('td', { class: cls, text })));
  const tbody = h('tbody', {}, rows.slice(0, SHOWN).map(line));
  const more = rows.length > SHOWN ? h('p', {}, h('button', { type: 'button', onclick: () => {
    tbody.append(...rows.slice(SHOWN).map(line));
    more.remove();
  } }, tr('Show all {{n}} ({{more}} more)', { n: num(rows.length), more: num(rows.length - SHOWN) }))) : null;
  return h('div', { class: 'wide' },
    h('table', { class: 'sheet-preview' }, h('caption', { text: `${caption} (${num(rows.length)})` }),
      h('thead', {}, h('tr', {}, heads.map(([text, cls]) => h('th', { scope: 'col', class: cls, text })))), tbody),
    more);
}

const select = (id, options, value, onchange) => h('select', { id, onchange },
  options.map(([v, text]) => h('option', { value: String(v), text, selected: String(v) === String(value) })));
// Children where some may be null (a table with no rows).
const fill = (el, ...kids) => el.replaceChildren(...kids.filter((kid) => kid != null));
const field = (label, id, control) => h('div', {}, h('label', { for: id, id: id + '-label', text: label }), control);

// Import.
function importCard() {
  const input = h('input', { type: 'file', id: 'import-file', accept: '.csv,.tsv,.txt,text/csv,text/tab-separated-values', onchange: () => readFile(input.files[0]) });
  return h('section', { class: 'card', 'aria-labelledby': 'import-title' },
    h('h2', { id: 'import-title', text: tr('Import prices from a spreadsheet') }),
    h('p', { class: 'muted', text: tr('A CSV or TSV file as Excel, LibreOffice Calc or Google Sheets save it. You see every change before it is made, and nothing is saved until you save the list.') }),
    field(tr('Spreadsheet file (CSV or TSV)'), 'import-file', input),
    h('div', { id: 'import-settings' }),
    h('div', { id: 'import-preview', 'aria-live': 'polite' }));
}

async function readFile(file) {
  if (!file) return;
  const bytes = new Uint8Array(await file.arrayBuffer());
  const { text, encoding } = decodeFile(bytes);
  const sep = detectSeparator(text);
  Object.assign(work, { name: file.name, encoding, text, sep, detected: sep });
  cutRows(true);
  renderImport();
}

// Cuts the text with the chosen separator; `guess` guesses the columns anew.
function cutRows(guess) {
  const { rows, problem } = parseCsv(work.text, work.sep);
  work.rows = rows;
  work.problem = problem;
  work.shown = null;
  if (guess || !work.mapping) {
    work.guess = guessColumns(rows);
    work.mapping = { ...work.guess };
  }
  const width = Math.max(1, ...rows.slice(0, 200).map((row) => row.length));
  work.mapping.description = Math.min(work.mapping.description, width - 1);
  work.mapping.price = Math.min(work.mapping.price, width - 1);
}

// The decimal separator the price column shows below the rows skipped.
function decimalShown({ skip, price }) {
  const key = `${skip} ${price}`;
  if (work.shown?.key !== key) {
    const guessed = skip === work.guess.skip && price === work.guess.price;
    work.shown = { key, decimal: guessed ? work.guess.decimal : columnDecimal(work.rows.slice(skip).map((row) => row[price] ?? '')) };
  }
  return work.shown.decimal;
}

const letter = (c) => (c >= 26 ? letter(Math.floor(c / 26) - 1) : '') + String.fromCharCode(65 + (c % 26));

function renderImport() {
  const { rows, mapping, guess } = work;
  const width = Math.max(1, ...rows.slice(0, 200).map((row) => row.length));
  const named = (c) => {
    const head = mapping.skip > 0 ? rows[mapping.skip - 1]?.[c] : rows[0]?.[c];
    const text = cleanDescription(head ?? '');
    return `${letter(c)}${text ? ': ' + (text.length > 30 ? text.slice(0, 29) + '…' : text) : ''}`;
  };
  const columns = Array.from({ length: width }, (_, c) => [c, named(c)]);
  const mark = (options, guessed) => options.map(([v, text]) => [v, String(v) === String(guessed) ? text + ' (guessed)' : text]);
  const set = (key, convert = Number) => (event) => {
    mapping[key] = convert(event.target.value);
    // Other rows above the prices, or another column: what the rest of the
    // column shows about decimals may differ.
    if (key === 'skip' || key === 'price') mapping.decimal = decimalShown(mapping);
    renderImport();
  };
  const decimals = [['', tr('not known: ask about each 1,234')], [',', tr('a comma: 12,50')], ['.', tr('a point: 12.50')]];
  const guessedDecimal = decimalShown(mapping);
  const skip = h('input', { type: 'number', id: 'import-skip', min: '0', max: String(rows.length), value: String(mapping.skip), class: 'narrow', onchange: set('skip', (v) => Math.max(0, Math.min(rows.length, Math.trunc(Number(v) || 0)))) });
  const mode = (value, text) => h('label', { class: 'choice' },
    h('input', { type: 'radio', name: 'import-mode', value, checked: work.mode === value, onchange: () => { work.mode = value; renderImport(); } }), ' ', text);
  const focused = document.activeElement?.id;
  fill($('import-settings'),
    h('p', {
      id: 'import-read', 'data-rows': rows.length, 'data-encoding': work.encoding, 'data-sep': work.sep, 'data-detected': work.detected,
      text: (work.sep === work.detected
        ? tr(['“{{file}}”: {{n}} row, read as {{encoding}}, cells separated by a {{sep}} (detected).', '“{{file}}”: {{n}} rows, read as {{encoding}}, cells separated by a {{sep}} (detected).'], { count: rows.length, file: work.name, n: num(rows.length), encoding: work.encoding, sep: separatorWord(work.sep) })
        : tr(['“{{file}}”: {{n}} row, read as {{encoding}}, cells separated by a {{sep}}.', '“{{file}}”: {{n}} rows, read as {{encoding}}, cells separated by a {{sep}}.'], { count: rows.length, file: work.name, n: num(rows.length), encoding: work.encoding, sep: separatorWord(work.sep) })),
    }),
    work.problem ? h('p', { class: 'problem', text: tr('The file is not well formed: {{problem}}, so everything after it would be one cell. Check the file in the spreadsheet and save it again.', { problem: work.problem.text }) }) : null,
    h('div', { class: 'fields' },
      field(tr('Cells separated by'), 'import-sep', select('import-sep', mark(SEPARATORS.map(([s]) => [s, separatorWord(s)]), work.detected), work.sep, (e) => { work.sep = e.target.value; cutRows(true); renderImport(); })),
      field(tr('Description column'), 'import-description', select('import-description', mark(columns, guess.description), mapping.description, set('description'))),
      field(tr('Price column'), 'import-price', select('import-price', mark(columns, guess.price), mapping.price, set('price'))),
      field(mapping.skip === guess.skip ? tr('Rows above the first price line (titles, header) (guessed)') : tr('Rows above the first price line (titles, header)'), 'import-skip', skip),
      field(tr('Decimals are marked by'), 'import-decimal', select('import-decimal', mark(decimals, guessedDecimal ?? ''), mapping.decimal ?? '', set('decimal', (v) => v || null)))),
    h('fieldset', { class: 'modes' }, h('legend', { text: tr('What the import does') }),
      mode('update', tr('Update by description: change the prices of lines the file names, add the lines it adds')),
      work.mode === 'update' ? h('label', { class: 'choice sub' },
        h('input', { type: 'checkbox', id: 'import-remove-rest', checked: work.removeRest, onchange: (e) => { work.removeRest = e.target.checked; renderImport(); } }),
        ' ' + tr('and remove the lines the file does not name')) : null,
      mode('replace', tr('Replace the price lines with the file’s lines'))));
  // The settings are drawn anew: the focus stays on the one just changed.
  if (focused && focused !== document.activeElement?.id) $(focused)?.focus();
  renderImportPreview();
}

function renderImportPreview() {
  const { db } = state.open;
  const read = readSheet(work.rows, work.mapping, db.encoding);
  const plan = planImport(db.prices, read.lines, work.mode, work.removeRest);
  Object.assign(work, { read, plan });
  const skipped = [...read.skipped, ...plan.duplicates].sort((a, b) => a.row - b.row);
  const ambiguous = read.skipped.filter((s) => s.ambiguous).length;
  const changes = plan.added.length + plan.changed.length + (plan.removed ? plan.missing.length : 0) +
    (work.mode === 'replace' ? Number(orderChanged(plan)) : 0);
  const locked = readOnly();
  const missing = { count: plan.missing.length, n: num(plan.missing.length) };
  const summary = [
    tr(['{{n}} line added', '{{n}} lines added'], { count: plan.added.length, n: num(plan.added.length) }),
    tr(['{{n}} price changed', '{{n}} prices changed'], { count: plan.changed.length, n: num(plan.changed.length) }),
    !plan.missing.length ? tr(['{{n}} line of the list not in the file', '{{n}} lines of the list not in the file'], missing)
      : plan.removed ? tr(['{{n}} line of the list not in the file (removed)', '{{n}} lines of the list not in the file (removed)'], missing)
        : tr(['{{n}} line of the list not in the file (kept)', '{{n}} lines of the list not in the file (kept)'], missing),
    tr(['{{n}} line the same', '{{n}} lines the same'], { count: plan.unchanged, n: num(plan.unchanged) }),
    tr(['{{n}} row of the file skipped', '{{n}} rows of the file skipped'], { count: skipped.length, n: num(skipped.length) }),
  ].join(', ') + '.' + (work.mode === 'replace' && orderChanged(plan) ? ' ' + tr('The lines take the file’s order.') : '');
  fill($('import-preview'),
    h('h3', { text: tr('What the import would do') }),
    h('p', {
      id: 'import-summary', text: summary, 'data-added': plan.added.length, 'data-changed': plan.changed.length,
      'data-missing': plan.missing.length, 'data-rest': plan.removed ? 'removed' : 'kept', 'data-same': plan.unchanged, 'data-skipped': skipped.length,
    }),
    ambiguous ? h('p', { class: 'problem warning', text: tr(['{{n}} price such as “{{price}}” may be read two ways and is skipped: say above how the file marks decimals.', '{{n}} prices such as “{{price}}” may be read two ways and are skipped: say above how the file marks decimals.'], { count: ambiguous, n: num(ambiguous), price: read.skipped.find((s) => s.ambiguous).written }) }) : null,
    previewTable(tr('Lines added'), [[tr('Row'), 'num'], [tr('Description')], [tr('Price'), 'num']], plan.added,
      (l) => [[String(l.row), 'num'], [l.description], [l.price, 'num']]),
    previewTable(tr('Prices changed'), [[tr('Row'), 'num'], [tr('Description')], [tr('Now'), 'num'], [tr('Becomes'), 'num']], plan.changed,
      (c) => [[String(c.line), 'num'], [c.description], [c.old, 'num'], [c.price, 'num']]),
    previewTable(plan.removed ? tr('Lines not in the file: removed') : tr('Lines not in the file: kept'), [[tr('Description')], [tr('Price'), 'num']], plan.missing,
      (row) => [[row.description], [row.price, 'num']]),
    previewTable(tr('Rows of the file skipped'), [[tr('Row'), 'num'], [tr('Why')]], skipped, (s) => [[String(s.row), 'num'], [s.reason]]),
    // A file cut short by a quote that never closes is not applied in part.
    h('p', {}, h('button', { type: 'button', id: 'import-apply', class: 'primary', disabled: locked || !changes || !!work.problem, onclick: applyTheImport },
      locked ? tr('The list is read-only') : work.problem ? tr('Not applied: the file is not well formed') : changes ? tr('Apply to the list') : tr('Nothing to change'))));
}

// A replace that keeps every line may still put them in the file's order.
const orderChanged = (plan) => plan.result.some((step, i) => step.row !== state.open.db.prices[i]);

function applyTheImport() {
  const { plan, name } = work;
  const { db } = state.open;
  db.prices = applyImport(plan);
  const removed = plan.removed ? plan.missing.length : 0;
  Object.assign(work, { name: '', rows: [], text: '', plan: null, read: null });
  pricesChanged();
  showScreen('editor');
  say('ok', tr('Imported “{{file}}”: {{added}} added, {{changed}} changed, {{removed}} removed. Save the list to keep it.', {
    file: name, added: num(plan.added.length), changed: num(plan.changed.length), removed: num(removed) }),
  { outcome: 'imported', added: plan.added.length, changed: plan.changed.length, removed });
}

// Export.
function exportCard() {
  const { db, name } = state.open;
  const seen = new Set();
  const factors = db.factors.map((f, i) => {
    const unusable = nameProblem(db.encoding.encode(f.name)) || seen.has(f.name);
    seen.add(f.name);
    return h('label', { class: 'choice' }, h('input', { type: 'checkbox', name: 'export-factor', value: String(i), disabled: !!unusable }),
      ` ${f.name} (${f.value})`, unusable ? h('span', { class: 'muted', text: ' — ' + tr('a query cannot reach it') }) : null);
  });
  const style = (value, text, checked) => h('label', { class: 'choice' }, h('input', { type: 'radio', name: 'export-style', value, checked }), ' ', text);
  return h('section', { class: 'card', 'aria-labelledby': 'export-title' },
    h('h2', { id: 'export-title', text: tr('Export the price lines') }),
    h('p', { class: 'muted', text: tr('The list as the editor holds it, unsaved changes included. Prices with a factor are what the server’s price query answers.') }),
    h('fieldset', {}, h('legend', { text: tr('For') }),
      style('excel', tr('Excel or LibreOffice where decimals are commas (12,50): semicolons, UTF-8 with a byte order mark'), true),
      style('point', tr('Spreadsheets where decimals are points (12.50): commas, UTF-8 without a byte order mark'), false)),
    h('label', { class: 'choice' }, h('input', { type: 'checkbox', id: 'export-titles' }), ' ' + tr('The list’s title lines as the first rows')),
    factors.length ? h('fieldset', {}, h('legend', { text: tr('Also the prices with the factor') }), factors) : null,
    h('p', {}, h('button', { type: 'button', id: 'export-download', onclick: () => download(show(name)) }, tr('Download the file'))));
}

function download(name) {
  const { db } = state.open;
  const excel = document.querySelector('input[name="export-style"]:checked').value === 'excel';
  const factors = [...document.querySelectorAll('input[name="export-factor"]:checked')].map((box) => Number(box.value));
  const rows = exportRows(db, { factors, titles: $('export-titles').checked, decimal: excel ? ',' : '.' });
  const bytes = writeCsv(rows, { sep: excel ? ';' : ',', bom: excel });
  const a = h('a', { href: URL.createObjectURL(new Blob([bytes], { type: 'text/csv' })), download: name.replace(/[\\/:*?"<>|]/g, '_') + '.csv' });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  say('ok', tr(['Exported {{n}} price line as “{{file}}”.', 'Exported {{n}} price lines as “{{file}}”.'], { count: db.prices.length, n: num(db.prices.length), file: a.download }));
}

// Changing many prices at once.

function bulkCard() {
  // The lines the editor's filter shows, unless the person chooses others.
  bulk.query = $('price-filter')?.value ?? bulk.query ?? '';
  const byLabel = () => (bulk.how === 'percent' ? tr('Percent (−5 lowers)') : tr('Amount (−1.50 lowers)'));
  const how = (value, text) => h('label', { class: 'choice inline' },
    h('input', { type: 'radio', name: 'bulk-how', value, checked: bulk.how === value, onchange: () => {
      bulk.how = value;
      $('bulk-by-label').textContent = byLabel();
      renderBulk();
    } }), ' ', text);
  return h('section', { class: 'card', 'aria-labelledby': 'bulk-title' },
    h('h2', { id: 'bulk-title', text: tr('Change many prices at once') }),
    h('div', { class: 'fields' },
      field(tr('Lines whose description or price holds'), 'bulk-filter', h('input', { id: 'bulk-filter', type: 'search', value: bulk.query, placeholder: tr('all lines'), spellcheck: 'false', autocomplete: 'off', oninput: (e) => { bulk.query = e.target.value; renderBulk(); } })),
      h('fieldset', { class: 'inline' }, h('legend', { text: tr('Change by') }), how('percent', tr('percent')), how('amount', tr('amount'))),
      field(byLabel(), 'bulk-by', h('input', { id: 'bulk-by', class: 'narrow', value: bulk.by, inputmode: 'decimal', autocomplete: 'off', oninput: (e) => { bulk.by = e.target.value; renderBulk(); } })),
      field(tr('Round'), 'bulk-rounding', select('bulk-rounding', Object.entries(ROUNDINGS), bulk.rounding, (e) => { bulk.rounding = e.target.value; renderBulk(); }))),
    h('div', { id: 'bulk-preview', 'aria-live': 'polite' }));
}

// The lines the query finds, as the editor's filter finds them.
function chosenLines(query) {
  const words = filterWords(query);
  const indexes = [];
  state.open.db.prices.forEach((row, i) => {
    if (matches(row, words)) indexes.push(i);
  });
  return indexes;
}

function renderBulk() {
  const box = $('bulk-preview');
  if (!box) return;
  const by = readAmount(bulk.by.replace(/%$/, ''), '.');
  const indexes = chosenLines(bulk.query);
  if (!by.value) {
    bulk.plan = null;
    box.replaceChildren(h('p', { class: 'muted', text: tr(['{{n}} line chosen.', '{{n}} lines chosen.'], { count: indexes.length, n: num(indexes.length) }) + ' ' + (bulk.by.trim() ? tr('The change is not a number.') : tr('Enter the change.')) }));
    return;
  }
  const { prices } = state.open.db;
  const plan = planBulk(prices, indexes, bulk.how, by.value, bulk.rounding);
  bulk.plan = plan;
  const locked = readOnly();
  fill(box,
    bulk.rounding.startsWith('.') ? h('p', { class: 'muted', text: tr('Each new price goes to the nearest price ending in {{ending}}; a rise never turns into a cut, nor a cut into a rise.', { ending: bulk.rounding }) }) : null,
    h('p', {
      id: 'bulk-summary', 'data-chosen': indexes.length, 'data-changes': plan.changes.length, 'data-same': plan.unchanged, 'data-skipped': plan.skipped.length,
      text: tr('Of {{chosen}} lines chosen: {{change}} change, {{same}} stay the same, {{skipped}} skipped.', { chosen: num(indexes.length), change: num(plan.changes.length), same: num(plan.unchanged), skipped: num(plan.skipped.length) }),
    }),
    previewTable(tr('Prices that change'), [[tr('Line'), 'num'], [tr('Description')], [tr('Now'), 'num'], [tr('Becomes'), 'num']], plan.changes,
      (c) => [[String(c.index + 1), 'num'], [prices[c.index].description], [c.old, 'num'], [c.price, 'num']]),
    previewTable(tr('Lines skipped'), [[tr('Line'), 'num'], [tr('Description')], [tr('Why')]], plan.skipped,
      (s) => [[String(s.index + 1), 'num'], [prices[s.index].description], [s.reason]]),
    h('p', {}, h('button', { type: 'button', id: 'bulk-apply', class: 'primary', disabled: locked || !plan.changes.length, onclick: applyBulk },
      locked ? tr('The list is read-only') : tr(['Change {{n}} price', 'Change {{n}} prices'], { count: plan.changes.length, n: num(plan.changes.length) }))));
}

function applyBulk() {
  const { prices } = state.open.db;
  const { changes } = bulk.plan;
  for (const { index, price } of changes) prices[index].price = price;
  bulk.plan = null;
  pricesChanged();
  showScreen('editor');
  say('ok', tr(['Changed {{n}} price. Save the list to keep it.', 'Changed {{n}} prices. Save the list to keep it.'], { count: changes.length, n: num(changes.length) }));
}

// Rows pasted into the price table at `row`, `field` the column the focus
// was in. Several cells a row: new lines below `row` (or in its place when
// it is empty), their columns and numbers read as an import reads them. One
// cell a row: that column of the lines shown from `row` down.
export function pasteRows(text, row, field) {
  if (!state.open || readOnly()) return;
  const { db } = state.open;
  const { rows } = parseCsv(text.replace(/(\r?\n|\r)$/, ''), '\t');
  const wide = rows.some((cells) => cells.length > 1);
  const mapping = wide ? guessColumns(rows) : { description: 0, price: 0, skip: 0, decimal: columnDecimal(rows.map((cells) => cells[0])) };
  const lines = [];
  let odd = 0;
  for (const cells of rows.slice(mapping.skip)) {
    const price = (cells[mapping.price] ?? '').trim();
    const read = readAmount(price, mapping.decimal);
    if (price && !read.value) odd++;
    // A price that cannot be read for sure goes in as written: the editor
    // marks it, and it cannot be saved until it is put right.
    lines.push({ description: cleanDescription(unguardText(cells[mapping.description] ?? '')), price: read.value ?? price });
  }
  const added = [];
  if (wide) {
    const at = db.prices.indexOf(row);
    const empty = row.description === '' && row.price === '';
    added.push(...lines.map((line) => newRow('price', line)));
    db.prices.splice(empty ? at : at + 1, empty ? 1 : 0, ...added);
  } else {
    const shown = state.editor.view.rows;
    const from = shown.indexOf(row);
    lines.forEach((line, k) => {
      let target = shown[from + k];
      if (!target) {
        target = newRow('price');
        db.prices.push(target);
        added.push(target);
      }
      target[field] = field === 'price' ? line.price : line.description;
    });
  }
  pricesChanged({ added, after: row, focus: wide ? added[0] : row, field });
  say(odd ? 'refused' : 'ok', (wide ? tr(['Pasted {{n}} row as new price lines.', 'Pasted {{n}} rows as new price lines.'], { count: lines.length, n: num(lines.length) })
    : tr(['Pasted {{n}} row.', 'Pasted {{n}} rows.'], { count: lines.length, n: num(lines.length) })) +
    (odd ? ' ' + tr(['{{n}} price could not be read for sure: see the lines marked in red.', '{{n}} prices could not be read for sure: see the lines marked in red.'], { count: odd, n: num(odd) }) : ''));
}
