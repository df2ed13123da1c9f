// Reads of a File in the worker, through a small cache of the stretches
// already read. Each FileReaderSync call costs a couple of milliseconds
// whatever its size, and the plug-ins read an archive's directory and the
// starts of its entries in pieces of at most 64 KiB: one call per piece made
// listing 65,535 entries take seconds. Here a piece that continues a
// stretch read before is read with twice that stretch's length (up to
// BLOCK_MAX), so reading along a file takes a few large calls, while
// scattered pieces (the start of each 1 MiB entry of a large archive) stay
// small and nothing but what is asked for is read. A large read (an entry
// being extracted) goes straight from the file into the module's memory,
// never through the cache.

export const BLOCK_MIN = 64 * 1024;
export const BLOCK_MAX = 1024 * 1024;
const CACHED_BYTES = 4 * BLOCK_MAX; // for all files together

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
    if (length > BLOCK_MAX / 2) {
      target.set(this.fetch(file, position, position + length), offset);
      return length;
    }
    let stretch = this.find(file, position, length);
    if (!stretch) stretch = this.load(file, position, length, size);
    const from = position - stretch.start;
    target.set(stretch.bytes.subarray(from, from + length), offset);
    return length;
  }

  // Drops what is cached of a file that was closed.
  forget(file) {
    this.stretches = this.stretches.filter((s) => s.file !== file || ((this.bytes -= s.bytes.length), false));
  }

  find(file, position, length) {
    for (let i = this.stretches.length - 1; i >= 0; i--) {
      const s = this.stretches[i];
      if (s.file === file && position >= s.start && position + length <= s.end) {
        if (i !== this.stretches.length - 1) this.stretches.push(...this.stretches.splice(i, 1));
        return s;
      }
    }
    return null;
  }

  // Reads a new stretch from `position`: twice as long as the stretch it
  // continues, if any, else BLOCK_MIN; always long enough for the read.
  load(file, position, length, size) {
    let want = BLOCK_MIN;
    for (const s of this.stretches) {
      const continues = s.file === file && position >= s.start && position < s.end + BLOCK_MIN;
      if (continues) want = Math.max(want, Math.min(2 * (s.end - s.start), BLOCK_MAX));
    }
    const end = Math.min(size, position + Math.max(want, length));
    const stretch = { file, start: position, end, bytes: this.fetch(file, position, end) };
    this.stretches.push(stretch);
    this.bytes += stretch.bytes.length;
    while (this.bytes > CACHED_BYTES && this.stretches.length > 1) this.bytes -= this.stretches.shift().bytes.length;
    return stretch;
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
