// The viewer's host in the worker: the two plug-in modules and the host
// module (web/wasm/), driven as zorv drives the DLLs. Everything here is
// synchronous; worker.js puts it behind the message protocol (PROTOCOL.md),
// and the node tests drive it directly on fixture files.
//
// A file is mounted into each module's file system (WORKERFS in a worker,
// NODEFS under node) by the `mount` function given to create(), so every
// read goes to the file where it lies.

import { TextColumn, columnsOf, textStarts } from './columns.js';

const DEST_IN_MEMORY = 0x100;
const PREVIEW_HEX_BYTES = 64 * 1024;
const PREVIEW_TEXT_BYTES = 1024 * 1024;
const PEAK_PAIRS = 1000;

export const PictureMode = { rgba: 0, thumbnail: 1, png: 2 };

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// A message for the person: control characters shown as \xNN, so that no
// name can break a line or play tricks.
export function printable(text) {
  return String(text).replace(/[\u0000-\u001f\u007f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
}

class HostError extends Error {}

export class Engine {
  // factories: {ZorvPict, ZorvPack, ZorvHost}, the emscripten module factories.
  // mount(module, folder, source): mounts `source` under `folder` in that
  // module's file system and gives the file's path there.
  static async create(factories, mount) {
    const [pict, pack, host] = await Promise.all([factories.ZorvPict(), factories.ZorvPack(), factories.ZorvHost()]);
    host.zorvPlugins = [pict, pack];
    return new Engine(pict, pack, host, mount);
  }

  constructor(pict, pack, host, mount) {
    this.pict = pict;
    this.pack = pack;
    this.host = host;
    this.mountIn = mount;
    this.files = new Map();
    this.nextFileId = 1;
  }

  // ---- files ----------------------------------------------------------------

  // zorv info and zorv list of the file: {fileId, name, info, columns}
  // (the entries as the worker sends them: see columns.js), and `entries`,
  // the same as objects, made when asked for.
  open(source, name) {
    const fileId = this.nextFileId++;
    const folder = `/zorv${fileId}`;
    let path;
    for (const module of this.modules()) path = this.mountIn(module, folder, source);
    const file = { fileId, name, folder, path, source };
    this.files.set(fileId, file);
    try {
      this.callHost(file, () => this.host._zv_open(this.hostString(path), this.hostString(name)));
      const info = { file: name, ...JSON.parse(this.hostText()) };
      file.type = info.type;
      const { columns, textBytes } = this.readColumns();
      file.kindCodes = columns.kind; // as the host numbers them, for zv_plan
      file.columns = columnsOf(columns);
      file.count = file.columns.count;
      // An archive's listing comes without zorv extract's paths: they are
      // planned when first asked for (outputs(), or any entry's use).
      if (file.type === 'archive') {
        file.columns.output = { length: file.count, at: (i) => this.plannedOutputs(file).at(i) };
      }
      const opened = { fileId, name, info, columns: wireColumns(columns, textBytes) };
      Object.defineProperty(opened, 'entries', { get: () => entryObjects(file.columns) });
      return opened;
    } catch (error) {
      this.close(fileId);
      throw error;
    }
  }

  close(fileId) {
    const file = this.files.get(fileId);
    if (!file) return;
    this.files.delete(fileId);
    for (const module of this.modules()) {
      try {
        module.FS.unmount(file.folder);
        module.FS.rmdir(file.folder);
      } catch (e) {
        // Nothing the person could act on; the mount goes with the worker.
      }
    }
  }

  // ---- pictures -------------------------------------------------------------

  // The picture drawn by host/: {width, height, rgba, complete, warnings,
  // facts}; with PictureMode.thumbnail made to fit size x size, with
  // PictureMode.png {name, path, bytes} as zorv convert writes it.
  picture(fileId, index, mode = PictureMode.rgba, size = 0) {
    const file = this.file(fileId);
    const entry = this.entry(file, index);
    if (entry.kind !== 'picture') throw new HostError(this.subject(file, entry) + ': not a packed picture');
    this.checkDeliverable(file, entry);
    const position = file.type === 'picture' ? -1 : entry.position;
    this.callHost(file, () => this.host._zv_picture(this.hostString(file.path), position, entry.delivered, mode, size),
      entry);
    const result = JSON.parse(this.hostText());
    const bytes = this.hostBytes();
    if (mode === PictureMode.png) {
      const png = this.pngPath(file, entry);
      return { name: baseName(png), path: png, bytes: bytes.buffer, ...result };
    }
    return { ...result, rgba: bytes.buffer };
  }

  // ---- entries as delivered ---------------------------------------------------

  // The entry's bytes as zorv extract writes them (coded audio as WAVE):
  // {name, path, bytes (Uint8Array of its own)}.
  entryBytes(fileId, index) {
    const file = this.file(fileId);
    const entry = this.entry(file, index);
    if (file.type === 'picture') return { name: entry.output, path: entry.output, bytes: this.pict.FS.readFile(file.path) };
    this.checkDeliverable(file, entry);
    return { name: baseName(entry.output), path: entry.output, bytes: this.deliver(file, entry) };
  }

  // The WAVE of a coded-audio entry with what the page shows of it.
  audio(fileId, index) {
    const file = this.file(fileId);
    const entry = this.entry(file, index);
    if (entry.kind !== 'audio') throw new HostError(this.subject(file, entry) + ': not coded audio');
    const { bytes } = this.entryBytes(fileId, index);
    const wave = readWave(bytes);
    if (!wave) throw new HostError(this.subject(file, entry) + ': the plug-in delivered no readable WAVE');
    return { wave: bytes.buffer, ...wave, peaks: wavePeaks(bytes, wave), playable: playableWave(bytes, wave) };
  }

  // A plain entry as text (code page 932, decoded by host/) or as hex.
  preview(fileId, index) {
    const { bytes } = this.entryBytes(fileId, index);
    if (bytes.length <= PREVIEW_TEXT_BYTES) {
      const at = this.copyToHost(bytes);
      try {
        if (this.host._zv_text_preview(at, bytes.length) === 0) return { text: this.hostText(), size: bytes.length };
      } finally {
        this.host._free(at);
      }
    }
    return { hex: hexDump(bytes.subarray(0, PREVIEW_HEX_BYTES)), size: bytes.length };
  }

  // The relative paths zorv extract writes the entries to, for the page:
  // {texts (UTF-8, each path ended by NUL), starts (where each begins in
  // texts decoded, and the end)}.
  outputs(fileId) {
    const file = this.file(fileId);
    const column = file.type === 'archive' ? this.plannedOutputs(file) : null;
    if (column) return { texts: file.outputBytes.slice(), starts: column.starts.slice() };
    const texts = encoder.encode(file.columns.output.at(0) + '\0');
    return { texts, starts: Uint32Array.of(0, decoder.decode(texts).length) };
  }

  // An archive's paths under zorv extract, planned for all entries the
  // first time one is asked for, as a TextColumn.
  plannedOutputs(file) {
    if (!file.plannedOutputs) {
      file.outputBytes = this.plan(file, false);
      const texts = decoder.decode(file.outputBytes);
      file.plannedOutputs = new TextColumn(texts, textStarts(texts, file.count, 1), 0, 1);
    }
    return file.plannedOutputs;
  }

  // The path of the entry's PNG under zorv extract --convert, planned for
  // all entries the first time one is asked for.
  pngPath(file, entry) {
    if (entry.png !== undefined) return entry.png;
    file.pngPaths ||= decoder.decode(this.plan(file, true)).split('\0').filter((_, i) => i % 2 === 1);
    return file.pngPaths[entry.index];
  }

  // zv_plan of the file's entries: the bytes of its answer.
  plan(file, convert) {
    const names = this.copyToHost(this.namesBlob(file));
    const kindsAt = this.copyToHost(file.kindCodes);
    try {
      this.callHost(file, () => this.host._zv_plan(names, kindsAt, file.count, convert ? 1 : 0));
    } finally {
      this.host._free(names);
      this.host._free(kindsAt);
    }
    return this.hostBytes();
  }

  namesBlob(file) {
    if (!file.namesBlob) {
      const names = new Array(file.count);
      for (let i = 0; i < file.count; i++) names[i] = file.columns.name.at(i);
      file.namesBlob = encoder.encode(names.join('\0') + '\0');
    }
    return file.namesBlob;
  }

  // The indexes of the entries whose names the glob matches (as zorv
  // extract selects them), in directory order.
  glob(fileId, pattern) {
    const file = this.file(fileId);
    const at = this.copyToHost(this.namesBlob(file));
    try {
      this.callHost(file, () => this.host._zv_glob(this.hostString(pattern), at, file.count));
    } finally {
      this.host._free(at);
    }
    return this.hostNumbers();
  }

  // What a ZIP of the file holds, in zorv extract's order and with its
  // paths: calls emit({path, bytes}) or emit({path, error}) for each entry,
  // then for the manifest zorv extract writes beside them.
  zip(fileId, emit, cancelled = () => false) {
    const state = this.zipBegin(fileId);
    for (let item; !cancelled() && (item = this.zipNext(state));) emit(item);
  }

  // A ZIP made one file at a time: zipNext gives the next {path, bytes} or
  // {path, error}, and null after the last.
  zipBegin(fileId) {
    const file = this.file(fileId);
    let manifest = false;
    // As zorv extract, which writes nothing at all when no entry is selected.
    if (file.type === 'archive' && file.count > 0) {
      try {
        this.callHost(file, () => this.host._zv_manifest_begin(this.hostString(file.path), this.hostString(file.name),
          file.count));
        manifest = true;
      } catch {
        // As zorv extract: an archive the writer cannot describe gets no manifest.
      }
    }
    return { fileId, next: 0, manifest };
  }

  zipNext(state) {
    const file = this.file(state.fileId);
    if (state.next < file.count) {
      const entry = entryAt(file.columns, state.next++);
      try {
        const { bytes } = this.entryBytes(state.fileId, entry.index);
        if (state.manifest) this.recordInManifest(file, entry, bytes);
        return { path: entry.output, bytes };
      } catch (error) {
        return { path: entry.output, error: error.message };
      }
    }
    if (!state.manifest) return null;
    state.manifest = false;
    this.callHost(file, () => this.host._zv_manifest_end());
    return { path: 'zorv-manifest.json', bytes: encoder.encode(this.hostText()) };
  }

  recordInManifest(file, entry, bytes) {
    const at = this.copyToHost(bytes);
    try {
      this.callHost(file, () => this.host._zv_manifest_file(entry.index, this.hostString(entry.output), at, bytes.length),
        entry);
    } finally {
      this.host._free(at);
    }
  }

  // ---- the plug-ins, directly ----------------------------------------------------

  // GetFile of the archive plug-in, as zorv extract calls it: the delivered
  // bytes, at least as many as the listing said, cut to that many.
  deliver(file, entry) {
    const pack = this.pack;
    const path = this.moduleString(pack, file.path);
    const slot = pack._malloc(4);
    try {
      pack.HEAP32[slot >> 2] = 0;
      const result = pack._GetFile(path, entry.position, slot, DEST_IN_MEMORY, 0, 0);
      const handle = pack.HEAP32[slot >> 2];
      try {
        if (result !== 0) throw new HostError(this.subject(file, entry) + ': GetFile failed: ' + resultText(result));
        const size = handle ? pack._GlobalSize(handle) >>> 0 : 0;
        if (size < entry.delivered) {
          throw new HostError(`${this.subject(file, entry)}: the plug-in delivered ${size} bytes, not ${entry.delivered}`);
        }
        if (entry.delivered === 0) return new Uint8Array(0);
        const at = pack._GlobalLock(handle);
        if (!at) throw new HostError(this.subject(file, entry) + ': a block handed over by the plug-in cannot be locked');
        const bytes = pack.HEAPU8.slice(at, at + entry.delivered);
        pack._GlobalUnlock(handle);
        return bytes;
      } finally {
        if (handle) pack._GlobalFree(handle);
      }
    } finally {
      pack._free(slot);
      pack._free(path);
    }
  }

  // GetPicture of the picture plug-in on a packed picture's bytes, timed by
  // the decode benchmark: the size of the bits it delivered.
  decodeInMemory(bytes) {
    const pict = this.pict;
    const at = pict._malloc(bytes.length);
    const slots = pict._malloc(8);
    try {
      pict.HEAPU8.set(bytes, at);
      pict.HEAP32[slots >> 2] = 0;
      pict.HEAP32[(slots >> 2) + 1] = 0;
      const result = pict._GetPicture(at, bytes.length, 1, slots, slots + 4, 0, 0);
      const info = pict.HEAP32[slots >> 2], bits = pict.HEAP32[(slots >> 2) + 1];
      const size = bits ? pict._GlobalSize(bits) >>> 0 : 0;
      if (info) pict._GlobalFree(info);
      if (bits) pict._GlobalFree(bits);
      if (result !== 0) throw new HostError('GetPicture failed: ' + resultText(result));
      return size;
    } finally {
      pict._free(slots);
      pict._free(at);
    }
  }

  // ---- helpers ------------------------------------------------------------------

  modules() {
    return [this.pict, this.pack, this.host];
  }

  file(fileId) {
    const file = this.files.get(fileId);
    if (!file) throw new HostError('no such file open: ' + fileId);
    return file;
  }

  entry(file, index) {
    const entry = Number.isInteger(index) && index >= 0 && index < file.count ? entryAt(file.columns, index) : null;
    if (!entry) throw new HostError(`${printable(file.name)}: no entry ${index}`);
    return entry;
  }

  subject(file, entry) {
    return file.type === 'picture' ? printable(file.name) : `${printable(file.name)}: ${printable(entry.name)}`;
  }

  // As zorv extract: the plug-in finds entries by position, so an entry
  // listed at another's position cannot be delivered apart from it.
  checkDeliverable(file, entry) {
    if (entry.shares_position_with !== undefined) {
      throw new HostError(`${this.subject(file, entry)}: listed at the same position as entry ` +
        `${entry.shares_position_with}, so the plug-in cannot deliver it`);
    }
  }

  // Runs a host call; a failure becomes an error naming the file (and entry).
  callHost(file, call, entry) {
    let answer;
    try {
      answer = call();
    } finally {
      this.freeHostStrings();
    }
    if (answer !== 0) {
      const subject = entry ? this.subject(file, entry) : printable(file.name);
      throw new HostError(`${subject}: ${this.hostText()}`);
    }
  }

  // The entries as zorv list --json gives them, as columns (the numbers,
  // column after column, and texts that host_glue.cpp's AddEntry lays out;
  // columns.js), and the texts' bytes.
  readColumns() {
    const at = this.host._zv_numbers() >> 2;
    const count = this.host._zv_numbers_size() / 6;
    const column = (k) => this.host.HEAPU32.subarray(at + k * count, at + (k + 1) * count);
    const columns = {
      index: column(0).slice(), position: column(1).slice(), stored: column(2).slice(), delivered: column(3).slice(),
      kind: new Uint8Array(column(4)), shares_position_with: new Int32Array(column(5)), // none (0xffffffff): -1
    };
    const textBytes = this.hostBytes();
    columns.texts = decoder.decode(textBytes);
    columns.starts = textStarts(columns.texts, count);
    return { columns, textBytes };
  }

  hostText() {
    const at = this.host._zv_text(), size = this.host._zv_text_size();
    return decoder.decode(this.host.HEAPU8.subarray(at, at + size));
  }

  hostNumbers() {
    const at = this.host._zv_numbers(), size = this.host._zv_numbers_size();
    return this.host.HEAPU32.slice(at >> 2, (at >> 2) + size);
  }

  hostBytes() {
    const at = this.host._zv_bytes(), size = this.host._zv_bytes_size();
    return this.host.HEAPU8.slice(at, at + size);
  }

  copyToHost(bytes) {
    const at = this.host._malloc(Math.max(bytes.length, 1));
    if (!at) throw new HostError('out of memory');
    this.host.HEAPU8.set(bytes, at);
    return at;
  }

  // A 0-terminated UTF-8 string in the host's memory, freed after the call.
  hostString(text) {
    const at = this.moduleString(this.host, text);
    (this.hostStrings ||= []).push(at);
    return at;
  }

  freeHostStrings() {
    for (const at of this.hostStrings || []) this.host._free(at);
    this.hostStrings = [];
  }

  moduleString(module, text) {
    const bytes = encoder.encode(text);
    const at = module._malloc(bytes.length + 1);
    if (!at) throw new HostError('out of memory');
    module.HEAPU8.set(bytes, at);
    module.HEAPU8[at + bytes.length] = 0;
    return at;
  }
}

// The columns as the worker sends them to the page: copies, for the worker
// to transfer (a copy of a typed array costs a fraction of what cloning it
// costs), the texts as their UTF-8 bytes (decoded by the page, which takes
// less of its time than receiving them as a string).
function wireColumns(columns, textBytes) {
  const wire = { texts: textBytes };
  for (const key of ['index', 'position', 'stored', 'delivered', 'shares_position_with', 'kind', 'starts']) {
    wire[key] = columns[key].slice();
  }
  return wire;
}

// The buffers of wireColumns's answer, to transfer.
export function wireBuffers(wire) {
  return Object.values(wire).filter((value) => ArrayBuffer.isView(value)).map((view) => view.buffer);
}

// One entry of the columns (columns.js's columnsOf) as zorv list --json
// gives it: shares_position_with and png only where there are any.
export function entryAt(columns, i) {
  const entry = {
    index: columns.index[i], position: columns.position[i], stored: columns.stored[i],
    delivered: columns.delivered[i], kind: columns.kind[i], name: columns.name.at(i), output: columns.output.at(i),
  };
  const png = columns.png.at(i);
  if (png) entry.png = png;
  if (columns.shares_position_with[i] >= 0) entry.shares_position_with = columns.shares_position_with[i];
  return entry;
}

export function entryObjects(columns) {
  return Array.from(columns.index, (_, i) => entryAt(columns, i));
}

function baseName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}

function resultText(result) {
  switch (result) {
    case 1: return 'stopped';
    case 2: return "not in the plug-in's format";
    case 4: return 'out of memory';
    case 6: return 'read error';
    case -1: return 'not supported by the plug-in';
    default: return 'unexpected result ' + result;
  }
}

// The format and the sample data of a RIFF WAVE image, or null. Coded
// audio's header keeps the stored format chunk's length, which need not be
// the 16 bytes the fields take: the data chunk is looked for right behind
// the fields, wherever the length says the chunk ends.
export function readWave(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const tag = (at) => String.fromCharCode(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
  if (bytes.length < 44 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE' || tag(12) !== 'fmt ') return null;
  const format = { channels: view.getUint16(22, true), rate: view.getUint32(24, true), bits: view.getUint16(34, true) };
  const fmtEnd = 20 + view.getUint32(16, true);
  let at = -1;
  for (const candidate of [fmtEnd, 36, 38, 40]) {
    if (candidate + 8 <= bytes.length && tag(candidate) === 'data') {
      at = candidate;
      break;
    }
  }
  if (at < 0) return null;
  const dataOffset = at + 8;
  format.fmtLength = view.getUint32(16, true);
  format.dataTagAt = at;
  const dataSize = Math.min(view.getUint32(at + 4, true), bytes.length - dataOffset);
  const frameBytes = format.channels * (format.bits / 8);
  const seconds = format.rate && frameBytes ? dataSize / frameBytes / format.rate : 0;
  return { ...format, seconds, dataOffset, dataSize };
}

// The plug-in delivers coded audio's format chunk length as stored, so a
// WAVE whose stored length is not the 18 bytes the chunk spans has its data
// chunk where no reader looks, and a browser refuses to play it. For the
// audio element only: a copy with the length that the layout has, or
// undefined when the delivered WAVE is playable as it is.
function playableWave(bytes, wave) {
  const spans = wave.dataTagAt - 20;
  if (wave.fmtLength === spans) return undefined;
  const copy = bytes.slice();
  new DataView(copy.buffer).setUint32(16, spans, true);
  return copy.buffer;
}

// About PEAK_PAIRS (min, max) pairs over the 16-bit samples (all channels
// together), each in -1..1, for the waveform.
export function wavePeaks(bytes, wave) {
  if (wave.bits !== 16 || wave.dataSize < 2) return new Float32Array(0);
  const samples = new Int16Array(bytes.buffer.slice(bytes.byteOffset + wave.dataOffset,
    bytes.byteOffset + wave.dataOffset + (wave.dataSize & ~1)));
  const pairs = Math.min(PEAK_PAIRS, samples.length);
  const peaks = new Float32Array(pairs * 2);
  for (let p = 0; p < pairs; ++p) {
    const from = Math.floor((p * samples.length) / pairs), to = Math.floor(((p + 1) * samples.length) / pairs);
    let min = 0, max = 0;
    for (let i = from; i < to; ++i) {
      const s = samples[i];
      if (s < min) min = s;
      if (s > max) max = s;
    }
    peaks[2 * p] = min / 32768;
    peaks[2 * p + 1] = max / 32767;
  }
  return peaks;
}

function hexDump(bytes) {
  const lines = [];
  for (let at = 0; at < bytes.length; at += 16) {
    const row = bytes.subarray(at, at + 16);
    const hex = Array.from(row, (b) => b.toString(16).padStart(2, '0')).join(' ');
    const text = Array.from(row, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
    lines.push(at.toString(16).padStart(8, '0') + '  ' + hex.padEnd(47) + '  ' + text);
  }
  return lines.join('\n');
}
