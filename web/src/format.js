// Words and numbers as the page shows them. Everything here returns plain
// strings for textContent: nothing from a file ever becomes markup.

// Control characters and the invisible ones that reorder text (bidi
// overrides) are shown as escapes, so no name can hide or disguise itself.
const HIDDEN = /[\u0000-\u001f\u007f-\u009f\u200e\u200f\u202a-\u202e\u2066-\u2069]/gu;

export function visible(text) {
  return String(text).replace(HIDDEN, (c) => `\\u{${c.codePointAt(0).toString(16)}}`);
}

function plural(n, one, many) {
  return `${n} ${n === 1 ? one : many}`;
}

// The line `zorv info` prints for the file.
export function infoLine(name, info) {
  if (info.type === 'picture') {
    const compression = info.compression && info.compression !== 'none' ? ` ${info.compression}` : '';
    return `${name}: packed picture ${info.signature}, ${info.width}x${info.height} ` +
      `${info.top_down ? 'top-down' : 'bottom-up'}, ${info.bit_count}-bit${compression}, ` +
      `${plural(info.packed_size, 'byte', 'bytes')} packed, ${plural(info.unpacked_size, 'byte', 'bytes')} unpacked`;
  }
  return `${name}: archive ${info.signature}, ${plural(info.entries, 'entry', 'entries')} ` +
    `(${info.audio_entries} coded audio, ${plural(info.picture_entries, 'packed picture', 'packed pictures')}), ` +
    `${plural(info.stored_total, 'byte', 'bytes')} stored, ${plural(info.delivered_total, 'byte', 'bytes')} delivered`;
}

export function size(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  const units = ['KiB', 'MiB', 'GiB'];
  let value = bytes / 1024;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit++;
  }
  return `${value < 10 ? value.toFixed(1) : Math.round(value)} ${units[unit]}`;
}

export function seconds(value) {
  const whole = Math.floor(value);
  const tenths = Math.floor((value - whole) * 10);
  return `${Math.floor(whole / 60)}:${String(whole % 60).padStart(2, '0')}.${tenths}`;
}

// The archive's name without its extension: the folder `zorv extract`
// gives each archive, and so the ZIP's name.
export function stem(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}
