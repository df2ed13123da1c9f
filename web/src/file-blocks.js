// Reads of a File in the worker, through a small cache of the stretches
// already read. Each FileReaderSync call costs a couple of milliseconds
// whatever its size (about what reading 200 KiB more costs), and the
// plug-ins read an archive's directory and the starts of its entries in
// pieces of at most 64 KiB: one call per piece made listing 65,535 entries
// take seconds. Here a piece that continues a stretch read before, or lies
// a little past its end, is read from that end with four times its length
// (up to BLOCK_MAX), so reading along a file takes a few large calls, while
// scattered pieces (the start of each 1 MiB entry of a large archive) stay
// small and nothing between them is read. A large read (an entry being
// extracted) goes straight from the file into the module's memory, never
// through the cache.

export const BLOCK_MIN = 64 * 1024;
export const BLOCK_MAX = 4 * 1024 * 1024;
const LARGE_READ = 512 * 1024;
const GAP_READ_THROUGH = 192 * 1024;
// What is kept, for all files together: while a request runs, enough for
// the host to find again what the plug-in read of a listing's entries
// (it peeks at each one after the plug-in has); between requests, less.
const CACHED_WHILE_BUSY = 48 * 1024 * 1024;
export const CACHED_BETWEEN = 4 * 1024 * 1024;

export class BlockCache {
  // readRange(file, start, end): the file's bytes [start, end) as a Uint8Array.
  constructor(readRange) {
    this.readRange = readRange;
    this.stretches = []; // {file, start, end, bytes}, the most recently used last
    this.bytes = 0;
    this.calls = 0; // readRange calls, for the tests and benchmarks
  }

  // Copies up to `length` bytes of `file` at `position` into
  // target[offset...]; gives the count copied (0 at or past the end).
  read(file, target, offset, length, position) {
    const size = file.size;
    if (position >= size || length <= 0) return 0;
    length = Math.min(length, size - position);
    if (length >= LARGE_READ) {
      target.set(this.fetch(file, position, position + length), offset);
      return length;
    }
    // A piece may lie across stretches: each part is copied from the
    // stretch that holds it, so that no byte is read from the file twice.
    for (let done = 0; done < length;) {
      const at = position + done;
      const stretch = this.find(file, at) ?? this.load(file, at, length - done, size);
      const part = Math.min(length - done, stretch.end - at);
      target.set(stretch.bytes.subarray(at - stretch.start, at - stretch.start + part), offset + done);
      done += part;
    }
    return length;
  }

  // Drops what is cached of a file that was closed.
  forget(file) {
    this.stretches = this.stretches.filter((s) => s.file !== file || ((this.bytes -= s.bytes.length), false));
  }

  // The stretch that holds the byte at `position`, made the most recently used.
  find(file, position) {
    for (let i = this.stretches.length - 1; i >= 0; i--) {
      const s = this.stretches[i];
      if (s.file === file && position >= s.start && position < s.end) {
        if (i !== this.stretches.length - 1) this.stretches.push(...this.stretches.splice(i, 1));
        return s;
      }
    }
    return null;
  }

  // Reads a new stretch for a byte no stretch holds: from the end of the
  // stretch it continues, if any, four times as long as that one; else from
  // `position`, BLOCK_MIN long; long enough for the read, but never into
  // the next stretch already read.
  load(file, position, length, size) {
    let continued = null; // the nearest stretch that ends a little before
    let next = size;
    for (const s of this.stretches) {
      if (s.file !== file) continue;
      if (s.start > position) next = Math.min(next, s.start);
      else if (position < s.end + GAP_READ_THROUGH && (!continued || s.end > continued.end)) continued = s;
    }
    const start = continued ? continued.end : position;
    const want = continued ? Math.max(BLOCK_MIN, Math.min(4 * (continued.end - continued.start), BLOCK_MAX)) : BLOCK_MIN;
    const end = Math.min(next, Math.max(start + want, position + length));
    const stretch = { file, start, end, bytes: this.fetch(file, start, end) };
    this.stretches.push(stretch);
    this.bytes += stretch.bytes.length;
    this.trim(CACHED_WHILE_BUSY);
    return stretch;
  }

  // Drops the stretches least recently used until at most `bytes` are kept
  // (the newest is always kept).
  trim(bytes) {
    while (this.bytes > bytes && this.stretches.length > 1) this.bytes -= this.stretches.shift().bytes.length;
  }

  fetch(file, start, end) {
    this.calls++;
    const bytes = this.readRange(file, start, end);
    if (bytes.length !== end - start) throw new Error(`read ${bytes.length} bytes of ${end - start}`);
    return bytes;
  }
}

const EIO = 29; // emscripten's number for it

// Puts the cache under a module's file system (WORKERFS in the worker,
// where fileOf(stream) is the mounted File): every read of a file there
// goes through it. Emscripten's files of one kind share one table of
// operations, so replacing its read is enough. A file that cannot be read
// (gone, changed) is a read error for the plug-in, as on disk.
export function readThrough(module, cache, filesystem = 'WORKERFS', fileOf = (stream) => stream.node.contents) {
  const ops = module.FS.filesystems[filesystem].stream_ops;
  ops.read = (stream, buffer, offset, length, position) => {
    try {
      return cache.read(fileOf(stream), buffer, offset, length, position);
    } catch {
      throw new module.FS.ErrnoError(EIO);
    }
  };
}
