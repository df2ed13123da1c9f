// A file's entries as the worker holds them and sends them to the page:
// numbers in typed arrays, kinds as codes, and every text in one string.
// Sending 65,535 entries as arrays of strings took longer than listing
// them, on both threads; one string and a few typed arrays cost next to
// nothing, and a name becomes a string of its own only when it is shown.

export const KINDS = ['audio', 'picture', 'file'];

// Texts as host_glue.cpp lays them out: for each entry `stride` texts
// (the listing's AddEntry: its name, output path and PNG path), each ended
// by NUL. starts[k] is where text k begins (stride * count + 1 of them,
// the last the end).
export function textStarts(texts, count, stride = 3) {
  const starts = new Uint32Array(stride * count + 1);
  let at = 0;
  for (let k = 0; k < stride * count; k++) {
    starts[k] = at;
    const end = texts.indexOf('\0', at);
    if (end < 0) throw new Error(`the answer holds ${k} texts, not ${stride * count}`);
    at = end + 1;
  }
  starts[stride * count] = at;
  return starts;
}

// One text of every entry, read as column.at(i) (as an array's at(), so
// code that takes either works on both).
export class TextColumn {
  constructor(texts, starts, field, stride = 3) {
    this.texts = texts;
    this.starts = starts;
    this.field = field;
    this.stride = stride;
    this.length = (starts.length - 1) / stride;
  }

  at(i) {
    if (!(i >= 0 && i < this.length)) return undefined;
    const k = this.stride * i + this.field;
    return this.texts.slice(this.starts[k], this.starts[k + 1] - 1);
  }
}

// The columns from what the worker sends ({index, position, stored,
// delivered, shares_position_with, kind (codes), texts (a string, or its
// UTF-8 bytes), starts}): kind as names, name, output and png as
// TextColumns (png '' where there is none).
export function columnsOf(sent) {
  const count = sent.index.length;
  const texts = typeof sent.texts === 'string' ? sent.texts : new TextDecoder().decode(sent.texts);
  const kind = new Array(count);
  for (let i = 0; i < count; i++) kind[i] = KINDS[sent.kind[i]];
  return {
    ...sent,
    count,
    kind,
    texts,
    name: new TextColumn(texts, sent.starts, 0),
    output: new TextColumn(texts, sent.starts, 1),
    png: new TextColumn(texts, sent.starts, 2),
  };
}
