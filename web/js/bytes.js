// Bytes as the server sees them, and the two text encodings the page reads
// database files in. Files are handled as bytes throughout; text is decoded
// only for showing and encoded again only where the person edited it.

// Bytes compare as signed values on the server, so 0x80-0xFF sort below the
// space: they end fields and names just as control bytes do.
export const isLineEnd = (b) => b < 0x20 || b >= 0x80;
export const isSeparator = (b) => b <= 0x20 || b >= 0x80;

export function concat(parts) {
  let size = 0;
  for (const part of parts) size += part.length;
  const out = new Uint8Array(size);
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}

export function equalBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// ASCII and Latin-1 text to bytes and back, one byte a character: for
// protocol words and for server messages, which are ASCII.
export function latin1Bytes(text) {
  const out = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) out[i] = text.charCodeAt(i) & 0xff;
  return out;
}
export function latin1Text(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 8192) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
  }
  return text;
}

const utf8Decoder = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });
const utf8Encoder = new TextEncoder();

export function isUtf8(bytes) {
  try {
    utf8Decoder.decode(bytes);
    return true;
  } catch {
    return false;
  }
}

// Windows-1252 as browsers read it: every byte maps to one character and
// back (the five bytes it leaves undefined map to the C1 controls), so a
// file in any 8-bit encoding survives being shown and saved.
const cp1252High = [
  0x20ac, 0x81, 0x201a, 0x192, 0x201e, 0x2026, 0x2020, 0x2021, 0x2c6, 0x2030,
  0x160, 0x2039, 0x152, 0x8d, 0x17d, 0x8f, 0x90, 0x2018, 0x2019, 0x201c,
  0x201d, 0x2022, 0x2013, 0x2014, 0x2dc, 0x2122, 0x161, 0x203a, 0x153, 0x9d,
  0x17e, 0x178,
];
const cp1252Back = new Map(cp1252High.map((code, i) => [code, 0x80 + i]));

// Short ASCII pieces (most of a price list) read faster one code at a time
// than through a TextDecoder call.
function asciiText(bytes) {
  if (bytes.length > 256) return null;
  for (let i = 0; i < bytes.length; i++) if (bytes[i] >= 0x80) return null;
  return String.fromCharCode.apply(null, bytes);
}

export const UTF8 = {
  name: 'UTF-8',
  decode: (bytes) => asciiText(bytes) ?? utf8Decoder.decode(bytes),
  // Every string encodes; lone surrogates cannot come from typing.
  encode(text) {
    if (text.length <= 256) {
      const out = new Uint8Array(text.length);
      let i = 0;
      for (; i < text.length; i++) {
        const code = text.charCodeAt(i);
        if (code >= 0x80) break;
        out[i] = code;
      }
      if (i === text.length) return out;
    }
    return utf8Encoder.encode(text);
  },
  badChar: () => null,
};

export const CP1252 = {
  name: 'Windows-1252',
  decode(bytes) {
    let text = '';
    for (const b of bytes) {
      text += String.fromCharCode(b >= 0x80 && b < 0xa0 ? cp1252High[b - 0x80] : b);
    }
    return text;
  },
  encode(text) {
    const out = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) {
      const code = text.charCodeAt(i);
      out[i] = code < 0x80 || (code >= 0xa0 && code < 0x100) ? code : cp1252Back.get(code);
    }
    return out;
  },
  // The first character the encoding cannot hold, or null.
  badChar(text) {
    for (const ch of text) {
      const code = ch.codePointAt(0);
      if (!(code < 0x80 || (code >= 0xa0 && code < 0x100) || cp1252Back.has(code))) return ch;
    }
    return null;
  },
};

// The encoding a file is shown in: UTF-8 where every byte of it is valid
// UTF-8, else Windows-1252.
export const encodingOf = (bytes) => (isUtf8(bytes) ? UTF8 : CP1252);

// "0x0a (a newline)": a byte as messages name it.
export function byteName(b) {
  let text = '0x' + b.toString(16).padStart(2, '0');
  if (b === 0x20) text += ' (a space)';
  else if (b === 0x09) text += ' (a tab)';
  else if (b === 0x0a) text += ' (a newline)';
  else if (b === 0x0d) text += ' (a carriage return)';
  else if (b >= 0x80) text += ' (not ASCII)';
  return text;
}
