// One file's entries, as a grid of thumbnails or a table like `zorv list`,
// scrolled virtually: only the entries in view (and the focused one) are
// elements in the page, so 65,535 entries cost what forty do.
import { size, visible } from './format.js';

const TABLE_ROW = 30;
const GRID_CELL = { width: 136, height: 150 };
const OVERSCAN = 4; // rows drawn beyond each edge, so fast scrolling shows no gaps
export const THUMBNAIL_SIZE = 100;

export const COLUMNS = [
  { key: 'index', label: 'Index', numeric: true },
  { key: 'position', label: 'Position', numeric: true },
  { key: 'stored', label: 'Stored', numeric: true },
  { key: 'delivered', label: 'Delivered', numeric: true },
  { key: 'kind', label: 'Kind' },
  { key: 'name', label: 'Name' },
];

export class EntryList {
  // entries: the file's entries as columns (see main.js, toColumns);
  // thumbnails: a ThumbnailCache; onOpen(index) opens the viewer.
  constructor({ entries, thumbnails, onOpen, label }) {
    this.entries = entries;
    this.thumbnails = thumbnails;
    this.onOpen = onOpen;
    this.mode = 'grid';
    this.order = new Uint32Array(entries.index); // directory order: entry i is row i
    this.active = 0; // position in order of the entry that takes focus
    this.rendered = new Map(); // entry index -> element
    this.columns = 1;
    this.overscan = 0; // rows beyond the view: none in a list's first frame, OVERSCAN after

    this.element = document.createElement('div');
    this.element.className = 'entries';
    this.element.setAttribute('role', 'grid');
    this.element.setAttribute('aria-label', label);
    this.sizer = document.createElement('div');
    this.sizer.className = 'sizer';
    this.element.append(this.sizer);

    this.scheduled = false;
    this.element.addEventListener('scroll', () => this.schedule(), { passive: true });
    this.element.addEventListener('keydown', (event) => this.onKey(event));
    this.element.addEventListener('click', (event) => {
      const target = event.target.closest('[data-entry]');
      if (!target) return;
      this.setActive(this.positionOf(Number(target.dataset.index)), false);
      this.onOpen(Number(target.dataset.index));
    });
    new ResizeObserver(() => this.schedule()).observe(this.element);
  }

  // draw: false when setOrder follows at once (and draws).
  setMode(mode, draw = true) {
    this.mode = mode;
    this.element.classList.toggle('grid', mode === 'grid');
    this.element.classList.toggle('table', mode === 'table');
    this.clear();
    if (draw) this.render();
  }

  // The entries to show, in the order to show them (a filter and a sort).
  setOrder(order) {
    const focused = this.order[this.active];
    this.order = order;
    const keep = order.indexOf(focused);
    this.active = keep >= 0 ? keep : 0;
    this.clear();
    this.render(); // now, so no frame shows an empty list
  }

  // The entry indices in view order: the viewer's previous and next.
  positionOf(index) {
    return this.order.indexOf(index);
  }

  // Draws the entries in view again (their data changed), keeping focus.
  refresh() {
    const focused = this.element.contains(document.activeElement);
    this.clear();
    this.render();
    if (focused) this.rendered.get(this.order[this.active])?.focus({ preventScroll: true });
  }

  clear() {
    for (const element of this.rendered.values()) element.remove();
    this.rendered.clear();
    this.overscan = 0;
  }

  schedule() {
    if (this.scheduled) return;
    this.scheduled = true;
    requestAnimationFrame(() => {
      this.scheduled = false;
      this.render();
    });
  }

  geometry() {
    if (this.mode === 'table') return { columns: 1, rowHeight: TABLE_ROW, cellWidth: 0 };
    const width = this.element.clientWidth || GRID_CELL.width;
    const columns = Math.max(1, Math.floor(width / GRID_CELL.width));
    return { columns, rowHeight: GRID_CELL.height, cellWidth: Math.floor(width / columns) };
  }

  render() {
    const { columns, rowHeight, cellWidth } = this.geometry();
    this.columns = columns;
    const rows = Math.ceil(this.order.length / columns);
    this.sizer.style.height = `${rows * rowHeight}px`;
    // A short list takes only the room it needs; a long one scrolls.
    this.element.style.height = `${rows * rowHeight + (this.mode === 'table' ? TABLE_ROW : 0) + 2}px`;
    const top = this.element.scrollTop;
    const height = this.element.clientHeight || 600;
    const firstRow = Math.max(0, Math.floor(top / rowHeight) - this.overscan);
    const lastRow = Math.min(rows, Math.ceil((top + height) / rowHeight) + this.overscan);
    const first = firstRow * columns;
    const last = Math.min(this.order.length, lastRow * columns);

    const wanted = new Set();
    for (let position = first; position < last; position++) wanted.add(this.order[position]);
    const activeIndex = this.order[this.active];
    if (activeIndex !== undefined) wanted.add(activeIndex); // focus must not fall out of the page
    for (const [index, element] of this.rendered) {
      if (!wanted.has(index)) {
        element.remove();
        this.rendered.delete(index);
        this.thumbnails?.forget(index);
      }
    }
    const pictures = new Set(); // in view or just beyond, for thumbnails
    for (const index of wanted) {
      const position = index === activeIndex ? this.active : null;
      let element = this.rendered.get(index);
      if (!element) {
        element = this.makeEntry(index);
        this.rendered.set(index, element);
        this.element.append(element);
      }
      const at = position ?? this.positionAt(index, first, last);
      const row = Math.floor(at / columns);
      const column = at % columns;
      // Placed by top and left, not a transform: a transform makes each
      // entry a layer of its own to paint.
      element.style.left = `${column * cellWidth}px`;
      element.style.top = `${row * rowHeight + (this.mode === 'table' ? TABLE_ROW : 0)}px`;
      if (this.mode === 'grid') element.style.width = `${cellWidth}px`;
      element.tabIndex = at === this.active ? 0 : -1;
      element.setAttribute('aria-rowindex', String(row + 1));
      if (at >= first && at < last && this.entries.kind[index] === 'picture') pictures.add(index);
    }
    if (this.mode === 'grid' && this.thumbnails) {
      // The worker makes the newest request first: ask for those beyond the
      // view, then those in view from the last to the first, so the first
      // in view comes first.
      const inView = new Set();
      const viewFirst = Math.floor(top / rowHeight) * columns;
      const viewLast = Math.min(this.order.length, Math.ceil((top + height) / rowHeight) * columns);
      for (let position = viewFirst; position < viewLast; position++) {
        if (pictures.has(this.order[position])) inView.add(this.order[position]);
      }
      const ordered = [...pictures].filter((index) => !inView.has(index)).concat([...inView].reverse());
      this.thumbnails.want(ordered, (index, image) => this.showThumbnail(index, image), inView);
    }
    // The rows beyond the view follow in the next frame, so that the first
    // frame of a list lays out only what is seen.
    if (this.overscan === 0) {
      this.overscan = OVERSCAN;
      requestAnimationFrame(() => this.schedule());
    }
  }

  positionAt(index, first, last) {
    for (let position = first; position < last; position++) if (this.order[position] === index) return position;
    return this.positionOf(index);
  }

  makeEntry(index) {
    const e = this.entries;
    const element = document.createElement('div');
    element.className = 'entry';
    element.dataset.entry = '';
    element.dataset.index = String(index);
    element.dataset.kind = e.kind[index];
    element.dataset.name = e.name.at(index);
    element.setAttribute('role', 'row');
    const label = `${visible(e.name.at(index))}, ${e.kind[index]}, ${size(e.delivered[index])}`;
    element.setAttribute('aria-label', label);
    if (this.mode === 'table') {
      for (const column of COLUMNS) {
        const cell = document.createElement('span');
        cell.setAttribute('role', 'gridcell');
        cell.className = `cell ${column.key}`;
        if (column.key === 'name') {
          cell.textContent = visible(e.name.at(index));
          const output = e.output.at(index);
          if (output && output !== e.name.at(index)) {
            const arrow = document.createElement('span');
            arrow.className = 'output';
            arrow.textContent = ` → ${visible(output)}`;
            cell.append(arrow);
          }
          cell.title = visible(e.name.at(index));
        } else {
          cell.textContent = String(e[column.key][index]);
        }
        element.append(cell);
      }
    } else {
      const picture = document.createElement('div');
      picture.className = `thumb kind-${e.kind[index]}`;
      const cached = this.thumbnails?.cached(index);
      if (cached) picture.append(pictureOf(cached));
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = visible(e.name.at(index));
      name.title = visible(e.name.at(index));
      const bytes = document.createElement('span');
      bytes.className = 'size';
      bytes.textContent = size(e.delivered[index]);
      element.append(picture, name, bytes);
    }
    return element;
  }

  showThumbnail(index, image) {
    const element = this.rendered.get(index);
    const holder = element?.querySelector('.thumb');
    if (!holder) return;
    holder.replaceChildren(image ? pictureOf(image) : failedMark());
  }

  setActive(position, focus = true) {
    if (this.order.length === 0) return;
    this.active = Math.max(0, Math.min(this.order.length - 1, position));
    this.scrollToActive();
    this.render();
    if (focus) this.rendered.get(this.order[this.active])?.focus({ preventScroll: true });
  }

  scrollToActive() {
    const { rowHeight } = this.geometry();
    const row = Math.floor(this.active / this.columns);
    const top = row * rowHeight;
    const view = this.element;
    const header = this.mode === 'table' ? TABLE_ROW : 0;
    if (top < view.scrollTop) view.scrollTop = top;
    else if (top + rowHeight > view.scrollTop + view.clientHeight - header) view.scrollTop = top + rowHeight - view.clientHeight + header;
  }

  onKey(event) {
    const target = event.target.closest?.('[data-entry]');
    if (!target) return;
    const columns = this.columns;
    const page = Math.max(1, Math.floor(this.element.clientHeight / this.geometry().rowHeight)) * columns;
    const moves = {
      ArrowDown: columns, ArrowUp: -columns, PageDown: page, PageUp: -page,
      ArrowRight: this.mode === 'grid' ? 1 : 0, ArrowLeft: this.mode === 'grid' ? -1 : 0,
    };
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      this.active = this.positionOf(Number(target.dataset.index));
      this.onOpen(Number(target.dataset.index));
    } else if (event.key === 'Home') {
      event.preventDefault();
      this.setActive(0);
    } else if (event.key === 'End') {
      event.preventDefault();
      this.setActive(this.order.length - 1);
    } else if (moves[event.key]) {
      event.preventDefault();
      this.setActive(this.positionOf(Number(target.dataset.index)) + moves[event.key]);
    }
  }

  // Puts the keyboard in the list, at the entry it was last at.
  focus() {
    this.setActive(this.active);
  }
}

// A thumbnail: the worker never enlarges, so a small picture is drawn
// larger here, its pixels kept sharp.
function pictureOf(thumbnail) {
  const img = document.createElement('img');
  img.alt = '';
  img.decoding = 'async';
  const scale = Math.max(1, Math.floor(Math.min(THUMBNAIL_SIZE / thumbnail.width, THUMBNAIL_SIZE / thumbnail.height)));
  img.width = thumbnail.width * scale;
  img.height = thumbnail.height * scale;
  if (scale > 1) img.classList.add('pixelated');
  img.src = thumbnail.url;
  return img;
}

function failedMark() {
  const mark = document.createElement('span');
  mark.className = 'broken';
  mark.textContent = '!';
  mark.title = 'This picture could not be drawn';
  return mark;
}

// Lays out, unseen, a sample of what a file's section shows (its title, a
// grid entry, a table's head and row, a Japanese name), while the page
// waits for files: the first use of each font size and weight asks the
// browser for the font, tens of milliseconds that would otherwise fall in
// the first frame of the first list.
export function lookUpFonts() {
  const sample = document.createElement('div');
  sample.className = 'file font-sample';
  sample.setAttribute('aria-hidden', 'true');
  const title = document.createElement('h2');
  const lists = ['grid', 'table'].map((mode) => {
    const list = document.createElement('div');
    list.className = `entries ${mode}`;
    const head = document.createElement('div');
    head.className = 'head';
    head.append(document.createElement('button'));
    const entry = document.createElement('div');
    entry.className = 'entry';
    for (const part of ['name', 'size', 'cell index', 'cell name']) {
      const span = document.createElement('span');
      span.className = part;
      entry.append(span);
    }
    list.append(head, entry);
    return list;
  });
  sample.append(title, ...lists);
  for (const text of sample.querySelectorAll('h2, span, button')) text.textContent = 'SAMPLE.DAT 12 KB 名前';
  document.body.append(sample);
  sample.getBoundingClientRect(); // laid out now
  sample.remove();
}

// Thumbnails made by the worker as their entries come into view, kept for
// when they come back, and dropped from the worker's queue when scrolled
// away before they were made.
export class ThumbnailCache {
  constructor(client, fileId, limit = 3000) {
    this.client = client;
    this.fileId = fileId;
    this.limit = limit;
    this.images = new Map(); // index -> {url, width, height} (a data: URL of a PNG), or null when it failed
    this.requests = new Map(); // index -> {id, inView}
  }

  cached(index) {
    return this.images.get(index);
  }

  // indices: the pictures wanted now, in the order to ask for them; asked
  // before and no longer wanted are dropped from the worker's queue. The
  // worker makes those in view (inView, a Set) before the others, so one
  // that came into view while it waited is asked for again as such.
  want(indices, show, inView) {
    const wanted = new Set(indices);
    for (const [index, request] of this.requests) {
      if (!wanted.has(index) || (inView.has(index) && !request.inView)) this.forget(index);
    }
    for (const index of indices) {
      if (this.images.has(index) || this.requests.has(index)) continue;
      const request = { inView: inView.has(index) };
      const { id, promise } = this.client.send('thumbnail',
        { fileId: this.fileId, index, size: THUMBNAIL_SIZE, inView: request.inView });
      request.id = id;
      this.requests.set(index, request);
      promise.then(
        (answer) => ({ url: answer.image, width: answer.width, height: answer.height }),
        () => null,
      ).then((image) => {
        if (this.requests.get(index) !== request) return;
        this.requests.delete(index);
        this.remember(index, image);
        show(index, image);
      });
    }
  }

  forget(index) {
    const request = this.requests.get(index);
    if (request === undefined) return;
    this.client.cancel(request.id);
    this.requests.delete(index);
  }

  remember(index, image) {
    if (this.images.size >= this.limit) this.images.delete(this.images.keys().next().value);
    this.images.set(index, image);
  }
}
