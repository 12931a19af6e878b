// A table that holds only the rows in view: a list of 10,000 lines keeps
// about forty rows in the document, and two spacer rows stand for the rest.
// Every row has the same height, so a row's place is its index times that
// height. Scrolling adds and drops rows at the edges and leaves the others
// (and the focus in them) alone.
//
//   const grid = new Grid(scroller, tbody, { rowHeight, render, count });
//   render(i) -> <tr> for view position i; count() -> the number of rows.
//   grid.refresh()     after rows were added, removed or reordered
//   grid.redraw(p, q)  after rows p and q swapped places
//   grid.update()      after a scroll or resize (done by the grid itself)
//   grid.reveal(i)     scrolls row i into view and returns its <tr>

const OVERSCAN = 5;

export class Grid {
  constructor(scroller, tbody, { rowHeight, render, count }) {
    Object.assign(this, { scroller, tbody, rowHeight, render, count });
    const spacer = () => {
      const tr = document.createElement('tr');
      tr.className = 'spacer';
      tr.setAttribute('aria-hidden', 'true');
      tr.append(document.createElement('td'));
      tr.firstChild.colSpan = tbody.parentElement?.tHead?.rows[0]?.cells.length || 1;
      return tr;
    };
    this.top = spacer();
    this.bottom = spacer();
    tbody.replaceChildren(this.top, this.bottom);
    this.first = 0;        // rows [first, last) are in the document
    this.last = 0;
    this.rows = [];        // their <tr>s, in order
    this.pending = false;
    scroller.addEventListener('scroll', () => this.schedule(), { passive: true });
    // The view's height and the head row's, read where the layout is fresh
    // anyway, so that rendering rows reads none (see range).
    this.resize = new ResizeObserver(() => {
      this.height = scroller.clientHeight;
      this.head = tbody.offsetTop;
      this.measured = false;  // a narrower view may lay a row out taller
      this.schedule();
    });
    this.resize.observe(scroller);
    const thead = tbody.parentElement?.tHead;
    if (thead) this.resize.observe(thead);
    this.update();
  }

  schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.update();
    });
  }

  // The rows a view of the scroller's size shows, with some to spare, when
  // it is scrolled to `top`. Given `top`, it reads no layout.
  range(top = this.scroller.scrollTop) {
    const n = this.count();
    const height = (this.height ?? this.scroller.clientHeight) || 600;
    const head = (this.head ?? this.tbody.offsetTop) || 0;  // the table's head row
    const from = Math.floor(Math.max(0, top - head) / this.rowHeight) - OVERSCAN;
    const to = Math.ceil((top - head + height) / this.rowHeight) + OVERSCAN;
    return [Math.max(0, Math.min(from, n)), Math.max(0, Math.min(to, n))];
  }

  // A row that leaves the view takes no focus with it: the scroller keeps
  // it (so keys still reach the table), and the same control gets it back
  // when its row comes into view again.
  drop(tr) {
    const active = document.activeElement;
    if (active && tr.contains(active)) {
      this.lost = { p: this.rows.indexOf(tr) + this.first, control: active.dataset.field || active.dataset.act };
      this.scroller.focus({ preventScroll: true });
    }
    tr.remove();
  }

  update() {
    const [from, to] = this.range();
    if (from === this.first && to === this.last) return;
    if (to <= this.first || from >= this.last) {
      for (const tr of this.rows) this.drop(tr);
      this.rows = [];
      this.first = this.last = from;
    }
    // Drop what left the view, at either end.
    while (this.first < from && this.rows.length) {
      this.drop(this.rows[0]);
      this.rows.shift();
      this.first++;
    }
    while (this.last > to && this.rows.length) {
      this.drop(this.rows[this.rows.length - 1]);
      this.rows.pop();
      this.last--;
    }
    if (!this.rows.length) this.first = this.last = from;
    // Add what came into it.
    const before = [];
    for (let i = from; i < this.first; i++) before.push(this.render(i));
    if (before.length) this.top.after(...before);
    const after = [];
    for (let i = this.last; i < to; i++) after.push(this.render(i));
    if (after.length) this.bottom.before(...after);
    this.rows = [...before, ...this.rows, ...after];
    this.first = from;
    this.last = to;
    this.sizeSpacers();
    const back = this.lost && document.activeElement === this.scroller && this.rowAt(this.lost.p);
    if (back) {
      const { control } = this.lost;
      back.querySelector(`[data-field="${control}"], [data-act="${control}"]`)?.focus({ preventScroll: true });
      this.lost = null;
    }
    // The height the CSS gives a row, once one is in the document.
    if (!this.measured && this.rows.length && this.rows[0].isConnected) {
      const height = this.rows[0].getBoundingClientRect().height;
      if (height > 0) {
        this.measured = true;
        if (Math.abs(height - this.rowHeight) > 0.01) {
          this.rowHeight = height;
          this.sizeSpacers();
          this.update();
        }
      }
    }
  }

  sizeSpacers() {
    const n = this.count();
    this.top.style.height = this.first * this.rowHeight + 'px';
    this.bottom.style.height = (n - this.last) * this.rowHeight + 'px';
    this.top.hidden = this.first === 0;
    this.bottom.hidden = this.last === n;
  }

  // Renders the rows in view from position `from` on again, after rows were
  // added, removed or reordered there; the rows before it stay as they are.
  // The rows' elements are filled again (render(p, tr)) rather than made
  // anew. The focus, if it was in a row filled again, is the caller's to
  // put back. With `top`, the rows are those the view shows once scrolled
  // there (the caller scrolls it after, so that the layout is done once).
  refresh(from = 0, top = undefined) {
    this.lost = null;
    const [a, b] = this.range(top);
    const keep = a === this.first ? Math.max(0, Math.min(from - a, this.rows.length, b - a)) : 0;
    const rows = this.rows.slice(0, keep);
    const pool = this.rows.slice(keep);
    for (let p = a + keep; p < b; p++) {
      const old = pool.shift();
      const tr = this.render(p, old);
      if (old && tr !== old) old.replaceWith(tr);
      else if (!old) this.bottom.before(tr);
      rows.push(tr);
    }
    for (const tr of pool) tr.remove();
    this.rows = rows;
    this.first = a;
    this.last = b;
    this.sizeSpacers();
  }

  // Renders the rows at positions `ps` again where they are in the
  // document, and no other: after rows changed places among themselves.
  redraw(...ps) {
    for (const p of ps) {
      const old = this.rowAt(p);
      if (!old) continue;
      const tr = this.render(p, old);
      if (tr !== old) {
        old.replaceWith(tr);
        this.rows[p - this.first] = tr;
      }
    }
  }

  rowAt(i) {
    return i >= this.first && i < this.last ? this.rows[i - this.first] : null;
  }

  // Scrolls row i into view, renders it, and returns its <tr>.
  reveal(i) {
    // The table is the scroller's first child; its sticky head row covers
    // the top of the view.
    const head = this.tbody.offsetTop || 0;
    const top = head + i * this.rowHeight;
    const s = this.scroller;
    if (top - head < s.scrollTop) s.scrollTop = top - head;
    else if (top + this.rowHeight > s.scrollTop + s.clientHeight) s.scrollTop = top + this.rowHeight - s.clientHeight;
    this.update();
    return this.rowAt(i);
  }
}

// A windowed table in `container`: `columns` are [heading, col class, 'num'
// for figures]; `render(i)` gives row i's <tr>. Returns the Grid.
export function gridTable(container, { label, columns, count, render }) {
  const cell = (tag, attrs, text) => Object.assign(document.createElement(tag), attrs, text == null ? {} : { textContent: text });
  const table = cell('table', { className: 'grid-table' });
  table.setAttribute('aria-label', label);
  const colgroup = cell('colgroup', {});
  const head = cell('tr', {});
  for (const [heading, cls, num] of columns) {
    colgroup.append(cell('col', { className: cls || '' }));
    const th = cell('th', { scope: 'col', className: num ? 'num' : '' }, heading);
    head.append(th);
  }
  const thead = cell('thead', {});
  thead.append(head);
  const tbody = cell('tbody', {});
  table.append(colgroup, thead, tbody);
  const scroller = cell('div', { className: 'grid' });
  scroller.append(table);
  container.replaceChildren(scroller);
  return new Grid(scroller, tbody, { rowHeight: 41, count, render });
}
