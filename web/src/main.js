// The page: opens the files it is given, one section each, and draws what
// the worker says of them. All reading, decoding and converting happens in
// the worker (worker.js, the plug-ins and host code as WebAssembly); this
// thread only draws.
import workerSource from 'zorv:worker';
import { makeZip } from 'client-zip';
import { WorkerClient } from './worker-client.js';
import { COLUMNS, EntryList, ThumbnailCache, lookUpFonts } from './entry-list.js';
import { Viewer } from './viewer.js';
import { save, saveStream } from './save.js';
import { infoLine, stem, visible } from './format.js';
import { TextColumn, columnsOf } from './columns.js';

const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
const client = new WorkerClient(new Worker(workerUrl));
const filesElement = document.getElementById('files');
(self.requestIdleCallback ?? setTimeout)(lookUpFonts);
const picker = document.getElementById('open');

picker.addEventListener('change', () => {
  openFiles(picker.files);
  picker.value = '';
});

// Drop anywhere on the page.
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  if (!event.dataTransfer?.types.includes('Files')) return;
  dragDepth++;
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => {
  dragDepth = Math.max(0, dragDepth - 1);
  if (dragDepth === 0) document.body.classList.remove('dragging');
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  dragDepth = 0;
  document.body.classList.remove('dragging');
  if (event.dataTransfer?.files.length) openFiles(event.dataTransfer.files);
});

function openFiles(fileList) {
  document.body.classList.add('has-files');
  for (const file of fileList) openFile(file);
}

// Gives the thread back to the browser between slices of long work, so no
// task runs long enough to stall drawing or input.
const nextTask = () => new Promise((resolve) => setTimeout(resolve, 0));
const SLICE_MS = 8;

// The worker's entries as columns (by field; texts read as name.at(i)),
// whichever way it sends them: as columns (columns.js), or a list of
// objects (converted in slices).
async function toColumns(entries) {
  if (!Array.isArray(entries)) return columnsOf(entries);
  const count = entries.length;
  const columns = { count };
  for (const key of ['index', 'position', 'stored', 'delivered']) columns[key] = new Float64Array(count);
  for (const key of ['kind', 'name', 'output', 'png']) columns[key] = new Array(count);
  let sliceStart = performance.now();
  for (let i = 0; i < count; i++) {
    const entry = entries[i];
    for (const key of ['index', 'position', 'stored', 'delivered']) columns[key][i] = entry[key] ?? entry[`${key}_size`];
    columns.kind[i] = entry.kind;
    columns.name[i] = entry.name;
    columns.output[i] = entry.output ?? entry.name;
    columns.png[i] = entry.png;
    if ((i & 1023) === 1023 && performance.now() - sliceStart > SLICE_MS) {
      await nextTask();
      sliceStart = performance.now();
    }
  }
  return columns;
}

async function openFile(file) {
  const section = document.createElement('section');
  section.className = 'file';
  section.dataset.file = file.name;
  section.dataset.state = 'loading';
  section.setAttribute('aria-busy', 'true');
  const header = document.createElement('header');
  const title = document.createElement('h2');
  title.textContent = visible(file.name);
  const status = document.createElement('p');
  status.className = 'info';
  status.textContent = 'Opening…';
  const close = document.createElement('button');
  close.type = 'button';
  close.className = 'close';
  close.textContent = '✕';
  close.title = close.ariaLabel = `Close ${visible(file.name)}`;
  header.append(title, close);
  section.append(header, status);
  filesElement.append(section);

  let fileId = null;
  close.addEventListener('click', () => {
    if (fileId !== null) client.request('close', { fileId }).catch(() => {});
    section.remove();
  });

  let answer;
  try {
    answer = await client.request('open', { file });
  } catch (error) {
    section.dataset.state = 'failed';
    section.removeAttribute('aria-busy');
    status.remove();
    const alert = document.createElement('p');
    alert.className = 'error';
    alert.setAttribute('role', 'alert');
    const message = visible(error.message);
    alert.textContent = message.includes(file.name) ? message : `${visible(file.name)}: ${message}`;
    section.append(alert);
    return;
  }
  fileId = answer.fileId;
  section.dataset.fileId = String(fileId);
  const entries = await toColumns(answer.entries);
  status.textContent = visible(infoLine(file.name, answer.info));
  const opened = { client, fileId, entries, name: file.name, info: answer.info };
  const list = showEntries(section, opened);
  // An archive's listing comes without the paths zorv extract writes: they
  // follow the first rows, and the table then shows them where they differ.
  if (answer.info.type === 'archive' && answer.entries.texts) {
    client.request('outputs', { fileId }).then(({ texts, starts }) => {
      entries.output = new TextColumn(new TextDecoder().decode(texts), starts, 0, 1);
      if (list.mode === 'table') list.refresh(); // thumbnails show no paths
    }, () => {});
  }
  section.dataset.entries = String(entries.count);
  section.dataset.state = 'ready';
  section.removeAttribute('aria-busy');
}

let uniqueId = 0;

function showEntries(section, opened) {
  const { entries, info } = opened;
  const id = ++uniqueId;
  const thumbnails = new ThumbnailCache(client, opened.fileId);
  let viewer = null;
  const list = new EntryList({
    entries,
    thumbnails,
    label: `Entries of ${visible(opened.name)}`,
    onOpen: (index) => {
      if (!viewer) viewer = new Viewer(opened, list, (last) => {
        viewer = null;
        list.setActive(list.positionOf(last));
      });
      viewer.show(index);
    },
  });

  const bar = document.createElement('div');
  bar.className = 'bar';
  bar.setAttribute('role', 'toolbar');
  bar.setAttribute('aria-label', `${visible(opened.name)}: view`);

  const views = document.createElement('div');
  views.className = 'views';
  views.setAttribute('role', 'radiogroup');
  views.setAttribute('aria-label', 'Show entries as');
  const viewButtons = ['grid', 'table'].map((mode) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = mode === 'grid' ? 'Thumbnails' : 'Table';
    b.setAttribute('role', 'radio');
    b.dataset.view = mode;
    b.addEventListener('click', () => setMode(mode));
    return b;
  });
  views.append(...viewButtons);

  const filter = document.createElement('input');
  filter.type = 'search';
  filter.placeholder = 'Filter: *.bmp';
  filter.id = `filter-${id}`;
  filter.setAttribute('aria-label', 'Filter names (a pattern such as *.bmp; case is ignored)');
  filter.dataset.filter = '';
  const kind = document.createElement('select');
  kind.setAttribute('aria-label', 'Kind');
  kind.dataset.kindFilter = '';
  for (const [value, text] of [['', 'All kinds'], ['picture', 'Pictures'], ['audio', 'Audio'], ['file', 'Other files']]) {
    kind.append(new Option(text, value));
  }
  const count = document.createElement('span');
  count.className = 'count';
  count.setAttribute('aria-live', 'polite');
  bar.append(views, filter, kind, count);

  if (info.type === 'archive') {
    const zip = document.createElement('button');
    zip.type = 'button';
    zip.dataset.download = 'zip';
    zip.textContent = 'Save all as ZIP';
    zip.title = `Every entry as zorv extract writes it, in ${stem(opened.name)}.zip`;
    zip.addEventListener('click', () => saveZip(opened, zip, count));
    bar.append(zip);
  }

  // Table headers: each sorts by its column, again to reverse.
  const head = document.createElement('div');
  head.className = 'head';
  head.setAttribute('role', 'row');
  let sort = { key: 'index', descending: false };
  const headButtons = COLUMNS.map((column) => {
    const cell = document.createElement('span');
    cell.setAttribute('role', 'columnheader');
    cell.className = `cell ${column.key}`;
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = column.label;
    b.addEventListener('click', () => {
      sort = { key: column.key, descending: sort.key === column.key ? !sort.descending : false };
      update();
    });
    cell.append(b);
    head.append(cell);
    return cell;
  });
  list.element.prepend(head);

  section.append(bar, list.element);

  function setMode(mode, draw = true) {
    for (const b of viewButtons) b.setAttribute('aria-checked', String(b.dataset.view === mode));
    head.hidden = mode !== 'table';
    list.setMode(mode, draw);
  }

  let lowerNames = null; // made when first sorted by name
  // The pattern is matched in the worker by the host's own glob, as zorv
  // extract selects entries; the last answer wins.
  let matching = null; // entry index -> matches, or null: no pattern
  let asked = 0;
  async function match() {
    const pattern = filter.value;
    const ask = ++asked;
    let found = null;
    if (pattern.trim()) {
      try {
        const { indices } = await client.request('glob', { fileId: opened.fileId, pattern });
        found = new Uint8Array(entries.count);
        for (const index of indices) found[index] = 1;
      } catch (error) {
        count.textContent = visible(error.message);
        return;
      }
    }
    if (ask !== asked) return;
    matching = found;
    update();
  }
  function update() {
    const wanted = kind.value;
    let order = new Uint32Array(entries.index); // all, in directory order: entry i is row i
    if (wanted || matching) {
      let n = 0;
      for (let i = 0; i < entries.count; i++) {
        if (wanted && entries.kind[i] !== wanted) continue;
        if (matching && !matching[entries.index[i]]) continue;
        order[n++] = i;
      }
      order = order.subarray(0, n);
    }
    const key = sort.key;
    if (key !== 'index') {
      if (key === 'name') lowerNames ??= Array.from({ length: entries.count }, (_, i) => entries.name.at(i).toLowerCase());
      const values = key === 'name' ? lowerNames : entries[key];
      order.sort((a, b) => (values[a] < values[b] ? -1 : values[a] > values[b] ? 1 : a - b));
    }
    if (sort.descending) order.reverse();
    for (const cell of headButtons) {
      cell.setAttribute('aria-sort', cell.classList.contains(key) ? (sort.descending ? 'descending' : 'ascending') : 'none');
    }
    list.setOrder(order);
    count.textContent = order.length === entries.count ? `${entries.count} ${entries.count === 1 ? 'entry' : 'entries'}` : `${order.length} of ${entries.count}`;
  }
  let pending = 0;
  filter.addEventListener('input', () => {
    clearTimeout(pending);
    pending = setTimeout(match, 120);
  });
  kind.addEventListener('change', update);

  setMode(entries.count > 5000 ? 'table' : 'grid', false);
  update();
  return list;
}

// The whole archive as one ZIP: the worker sends each file as zorv extract
// writes it, client-zip adds it to the stream as it comes.
async function saveZip(opened, button, status) {
  // Where the browser lets the page write a file as it goes, the ZIP goes
  // to disk as it is made (asked first, while the click still counts).
  let handle = null;
  if (window.showSaveFilePicker && !navigator.webdriver) {
    try {
      handle = await window.showSaveFilePicker({ suggestedName: `${stem(opened.name)}.zip` });
    } catch {
      return; // the person chose not to save
    }
  }
  button.disabled = true;
  const before = status.textContent;
  const queue = [];
  let wake = null;
  let finished = false;
  let failure = null;
  const skipped = [];
  const push = (part) => {
    queue.push(part);
    wake?.();
  };
  const { promise } = client.send('zip', { fileId: opened.fileId }, [], (part) => {
    if (part.error) skipped.push(`${part.path}: ${part.error}`);
    else push(part);
  });
  promise.then(() => (finished = true), (error) => (failure = error)).finally(() => wake?.());

  async function* files() {
    for (;;) {
      if (queue.length) {
        const part = queue.shift();
        yield { name: part.path, input: new Uint8Array(part.bytes), lastModified: new Date() };
        status.textContent = `Zipping: ${visible(part.path)}`;
        continue;
      }
      if (failure) throw failure;
      if (finished) return;
      await new Promise((resolve) => (wake = resolve));
      wake = null;
    }
  }
  try {
    await saveStream(`${stem(opened.name)}.zip`, makeZip(files()), handle);
    status.textContent = skipped.length ? `Saved; left out: ${visible(skipped.join('; '))}` : before;
  } catch (error) {
    status.textContent = visible(error.message);
  } finally {
    button.disabled = false;
  }
}
