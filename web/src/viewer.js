// The viewer: one entry at a time in a modal dialog. A picture on a canvas
// at its own size (zoomed and panned by a CSS transform, so the canvas's
// pixels stay the picture's), audio in an audio element with its waveform,
// anything else as text or hex.
import { save } from './save.js';
import { seconds, size, visible } from './format.js';

const MIN_SCALE = 1 / 32;
const MAX_SCALE = 64;

export class Viewer {
  // file: {client, fileId, entries, name}; list: the EntryList (for the
  // order of previous and next); onClose(index) gives focus back.
  constructor(file, list, onClose) {
    this.file = file;
    this.list = list;
    this.onClose = onClose;
    this.token = 0;
    this.urls = [];
    this.build();
  }

  build() {
    const dialog = (this.dialog = document.createElement('dialog'));
    dialog.className = 'viewer';
    dialog.dataset.viewer = '';
    const header = document.createElement('header');
    this.title = document.createElement('h2');
    this.title.id = `viewer-title-${this.file.fileId}`;
    dialog.setAttribute('aria-labelledby', this.title.id);
    this.where = document.createElement('span');
    this.where.className = 'where';
    const tools = (this.tools = document.createElement('div'));
    tools.className = 'tools';
    tools.setAttribute('role', 'toolbar');
    tools.setAttribute('aria-label', 'Viewer');
    this.buttons = {
      previous: button('‹', 'Previous (←)', () => this.step(-1)),
      next: button('›', 'Next (→)', () => this.step(1)),
      fit: button('Fit', 'Fit to the window (F)', () => this.fit()),
      actual: button('100 %', 'Actual size (0)', () => this.zoomTo(1)),
      zoomOut: button('−', 'Zoom out (−)', () => this.zoomBy(1 / 1.25)),
      zoomIn: button('+', 'Zoom in (+)', () => this.zoomBy(1.25)),
      entry: button('Save', 'Save this entry as zorv extract writes it', () => this.download('entry')),
      png: button('Save PNG', 'Save this picture as PNG', () => this.download('png')),
      close: button('✕', 'Close (Esc)', () => this.close()),
    };
    this.buttons.entry.dataset.download = 'entry';
    this.buttons.png.dataset.download = 'png';
    tools.append(...Object.values(this.buttons));
    header.append(this.title, this.where, tools);

    this.stage = document.createElement('div');
    this.stage.className = 'stage';
    this.facts = document.createElement('dl');
    this.facts.className = 'facts';
    this.notice = document.createElement('p');
    this.notice.className = 'notice';
    this.notice.setAttribute('role', 'status');
    dialog.append(header, this.stage, this.facts, this.notice);

    dialog.addEventListener('keydown', (event) => this.onKey(event));
    dialog.addEventListener('close', () => this.dispose());
    this.stage.addEventListener('wheel', (event) => this.onWheel(event), { passive: false });
    this.pointers = new Map();
    this.stage.addEventListener('pointerdown', (event) => this.onPointerDown(event));
    this.stage.addEventListener('pointermove', (event) => this.onPointerMove(event));
    for (const type of ['pointerup', 'pointercancel']) this.stage.addEventListener(type, (event) => this.pointers.delete(event.pointerId));
    this.resizer = new ResizeObserver(() => {
      if (this.view?.fitted) this.fit();
      this.drawWave?.();
    });
    this.resizer.observe(this.stage);
    document.body.append(dialog);
    dialog.showModal();
  }

  async show(index) {
    const token = ++this.token;
    const e = this.file.entries;
    this.index = index;
    this.kind = e.kind[index];
    this.title.textContent = visible(e.name.at(index));
    const position = this.list.positionOf(index);
    this.where.textContent = position >= 0 ? `${position + 1} of ${this.list.order.length}` : '';
    this.stage.replaceChildren(busy());
    this.facts.replaceChildren();
    this.notice.textContent = '';
    this.view = null;
    this.drawWave = null;
    this.revoke();
    const picture = this.kind === 'picture';
    for (const name of ['fit', 'actual', 'zoomOut', 'zoomIn', 'png']) this.buttons[name].hidden = !picture;
    this.buttons.entry.textContent = this.kind === 'audio' ? 'Save WAVE' : 'Save';
    try {
      const args = { fileId: this.file.fileId, index };
      const answer = await this.file.client.request(picture ? 'picture' : this.kind === 'audio' ? 'audio' : 'preview', args);
      if (token !== this.token) return;
      if (picture) this.showPicture(answer);
      else if (this.kind === 'audio') this.showAudio(answer);
      else this.showPreview(answer);
    } catch (error) {
      if (token !== this.token) return;
      const alert = document.createElement('p');
      alert.className = 'error';
      alert.setAttribute('role', 'alert');
      alert.textContent = visible(error.message);
      this.stage.replaceChildren(alert);
    }
  }

  showPicture({ width, height, rgba, facts, complete, warnings }) {
    const canvas = document.createElement('canvas');
    canvas.dataset.picture = '';
    canvas.width = width;
    canvas.height = height;
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', `${visible(this.file.entries.name.at(this.index))}, ${width} by ${height} pixels`);
    if (width > 0 && height > 0) canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(rgba), width, height), 0, 0);
    this.stage.replaceChildren(canvas);
    this.view = { canvas, width, height, scale: 1, x: 0, y: 0, fitted: true };
    this.fit();
    this.setFacts([
      ['Size', `${facts.width} × ${facts.height}`],
      ['Depth', `${facts.bit_count}-bit${facts.compression && facts.compression !== 'none' ? ` ${facts.compression}` : ''}`],
      ['Rows', facts.top_down ? 'top-down' : 'bottom-up'],
      ['Signature', facts.signature],
      ['Packed', size(facts.packed_size)],
      ['Unpacked', size(facts.unpacked_size)],
    ]);
    const notes = [...(warnings || [])];
    if (complete === false) notes.unshift('The picture’s bits end early: it is drawn as far as they go.');
    this.notice.textContent = notes.map(visible).join(' ');
  }

  showAudio({ wave, rate, channels, bits, seconds: length, peaks }) {
    const url = URL.createObjectURL(new Blob([wave], { type: 'audio/wav' }));
    this.urls.push(url);
    const audio = document.createElement('audio');
    audio.dataset.audio = '';
    audio.controls = true;
    audio.preload = 'auto';
    audio.src = url;
    const wave_ = document.createElement('canvas');
    wave_.className = 'wave';
    wave_.setAttribute('role', 'img');
    wave_.setAttribute('aria-label', 'Waveform');
    const box = document.createElement('div');
    box.className = 'sound';
    box.append(wave_, audio);
    this.stage.replaceChildren(box);
    this.drawWave = () => drawWave(wave_, peaks, audio);
    this.drawWave();
    audio.addEventListener('timeupdate', () => this.drawWave?.());
    this.setFacts([
      ['Length', seconds(length)],
      ['Rate', `${rate} Hz`],
      ['Channels', channels === 1 ? 'mono' : channels === 2 ? 'stereo' : String(channels)],
      ['Samples', `${bits}-bit`],
      ['WAVE', size(wave.byteLength)],
    ]);
  }

  showPreview({ text, hex, size: bytes }) {
    const pre = document.createElement('pre');
    pre.dataset.preview = text !== undefined ? 'text' : 'hex';
    pre.tabIndex = 0;
    pre.textContent = text !== undefined ? text : hex;
    this.stage.replaceChildren(pre);
    const facts = [['Size', size(bytes)], ['Shown as', text !== undefined ? 'text (code page 932)' : 'hex']];
    if (hex !== undefined && bytes > 65536) facts.push(['Shown', 'the first 64 KiB']);
    this.setFacts(facts);
  }

  setFacts(pairs) {
    this.facts.replaceChildren(...pairs.flatMap(([term, value]) => {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = visible(String(value));
      return [dt, dd];
    }));
  }

  // --- zoom and pan

  apply() {
    const v = this.view;
    v.canvas.style.transform = `translate(${v.x}px, ${v.y}px) scale(${v.scale})`;
    v.canvas.classList.toggle('pixelated', v.scale > 1);
    this.buttons.actual.setAttribute('aria-pressed', String(v.scale === 1));
    this.buttons.fit.setAttribute('aria-pressed', String(v.fitted));
  }

  fit() {
    const v = this.view;
    if (!v || !v.width || !v.height) return;
    const { clientWidth: w, clientHeight: h } = this.stage;
    v.scale = Math.max(MIN_SCALE, Math.min(MAX_SCALE, Math.min(w / v.width, h / v.height)));
    v.x = (w - v.width * v.scale) / 2;
    v.y = (h - v.height * v.scale) / 2;
    v.fitted = true;
    this.apply();
  }

  // Zooms about a point of the stage (its centre unless given).
  zoomTo(scale, px = this.stage.clientWidth / 2, py = this.stage.clientHeight / 2) {
    const v = this.view;
    if (!v) return;
    scale = Math.max(MIN_SCALE, Math.min(MAX_SCALE, scale));
    v.x = px - ((px - v.x) * scale) / v.scale;
    v.y = py - ((py - v.y) * scale) / v.scale;
    v.scale = scale;
    v.fitted = false;
    this.apply();
  }

  zoomBy(factor, px, py) {
    if (this.view) this.zoomTo(this.view.scale * factor, px, py);
  }

  panBy(dx, dy) {
    const v = this.view;
    if (!v) return;
    v.x += dx;
    v.y += dy;
    v.fitted = false;
    this.apply();
  }

  onWheel(event) {
    if (!this.view) return;
    event.preventDefault();
    const box = this.stage.getBoundingClientRect();
    this.zoomBy(Math.exp(-event.deltaY * (event.deltaMode === 1 ? 0.05 : 0.002)), event.clientX - box.left, event.clientY - box.top);
  }

  onPointerDown(event) {
    if (!this.view) return;
    this.stage.setPointerCapture(event.pointerId);
    this.pointers.set(event.pointerId, { x: event.clientX, y: event.clientY });
  }

  onPointerMove(event) {
    const last = this.pointers.get(event.pointerId);
    if (!last || !this.view) return;
    const now = { x: event.clientX, y: event.clientY };
    if (this.pointers.size === 1) {
      this.panBy(now.x - last.x, now.y - last.y);
    } else if (this.pointers.size === 2) {
      // Pinch: the distance between the two fingers scales the picture
      // about their midpoint.
      const other = [...this.pointers].find(([id]) => id !== event.pointerId)[1];
      const before = Math.hypot(last.x - other.x, last.y - other.y);
      const after = Math.hypot(now.x - other.x, now.y - other.y);
      const box = this.stage.getBoundingClientRect();
      if (before > 0) this.zoomBy(after / before, (now.x + other.x) / 2 - box.left, (now.y + other.y) / 2 - box.top);
    }
    this.pointers.set(event.pointerId, now);
  }

  onKey(event) {
    if (event.target instanceof HTMLAudioElement || event.altKey || event.ctrlKey || event.metaKey) return;
    const picture = this.view !== null && this.view !== undefined;
    const keys = {
      ArrowLeft: () => this.step(-1),
      ArrowRight: () => this.step(1),
      '+': () => this.zoomBy(1.25),
      '=': () => this.zoomBy(1.25),
      '-': () => this.zoomBy(1 / 1.25),
      0: () => this.zoomTo(1),
      f: () => this.fit(),
      ArrowUp: () => this.panBy(0, 40),
      ArrowDown: () => this.panBy(0, -40),
    };
    const action = keys[event.key];
    if (!action) return;
    if (!picture && !event.key.startsWith('ArrowL') && !event.key.startsWith('ArrowR')) return;
    event.preventDefault();
    action();
  }

  // The previous or next entry in the list's order; from a picture, the
  // previous or next picture.
  step(direction) {
    const order = this.list.order;
    const e = this.file.entries;
    let position = this.list.positionOf(this.index);
    for (;;) {
      position += direction;
      if (position < 0 || position >= order.length) return;
      if (this.kind !== 'picture' || e.kind[order[position]] === 'picture') break;
    }
    this.list.active = position;
    this.show(order[position]);
  }

  async download(what) {
    const button = this.buttons[what];
    button.disabled = true;
    try {
      const answer = await this.file.client.request(what, { fileId: this.file.fileId, index: this.index });
      save(answer.name, new Blob([answer.bytes]));
    } catch (error) {
      this.notice.textContent = visible(error.message);
    } finally {
      button.disabled = false;
    }
  }

  close() {
    this.dialog.close();
  }

  revoke() {
    for (const url of this.urls) URL.revokeObjectURL(url);
    this.urls = [];
  }

  dispose() {
    this.token++;
    this.revoke();
    this.resizer.disconnect();
    this.dialog.remove();
    this.onClose(this.index);
  }
}

function button(text, title, action) {
  const element = document.createElement('button');
  element.type = 'button';
  element.textContent = text;
  element.title = title;
  element.setAttribute('aria-label', title);
  element.addEventListener('click', action);
  return element;
}

function busy() {
  const element = document.createElement('p');
  element.className = 'busy';
  element.textContent = 'Loading…';
  return element;
}

// Draws min/max pairs as a filled band, the part already played darker.
function drawWave(canvas, peaks, audio) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const context = canvas.getContext('2d');
  const style = getComputedStyle(canvas);
  context.clearRect(0, 0, width, height);
  const pairs = peaks ? Math.floor(peaks.length / 2) : 0;
  if (pairs === 0) return;
  const played = audio.duration > 0 ? audio.currentTime / audio.duration : 0;
  const middle = height / 2;
  for (let x = 0; x < width; x++) {
    const pair = Math.min(pairs - 1, Math.floor((x / width) * pairs));
    const low = peaks[pair * 2];
    const high = peaks[pair * 2 + 1];
    context.fillStyle = x / width < played ? style.getPropertyValue('--wave-played') : style.getPropertyValue('--wave');
    const top = middle - high * middle;
    context.fillRect(x, top, 1, Math.max(1, (high - low) * middle));
  }
}
