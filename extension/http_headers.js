// What a response's headers say: a header's value, and the attachment and
// file name of its Content-Disposition. No browser API here: the rules run
// under Node's test runner.
import { baseName } from './url_rules.js';

// A header's value by its lower-case name, or null.
export const header = (headers, name) =>
  headers?.find((h) => h.name.toLowerCase() === name)?.value ?? null;

// A header's bytes reach the extension one character each; servers mostly
// send UTF-8 there.
function fromHeaderBytes(text) {
  if (!/^[\0-\xff]*$/.test(text)) return text;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(Uint8Array.from(text, (c) => c.charCodeAt(0)));
  } catch {
    return text;
  }
}

// An ext-value (RFC 8187): charset'language'percent-encoded bytes, in UTF-8
// or ISO-8859-1, every other character printable ASCII. '' when invalid or
// absent.
function extendedValue(value) {
  const parts = /^([^']*)'[^']*'((?:[\x21-\x24\x26-\x7e]|%[0-9A-Fa-f]{2})*)$/.exec(value);
  if (parts === null) return '';
  const charset = parts[1].toLowerCase();
  try {
    if (charset === 'utf-8') return decodeURIComponent(parts[2]);
  } catch {
    return ''; // not UTF-8
  }
  if (charset !== 'iso-8859-1') return '';
  return parts[2].replace(/%([0-9A-Fa-f]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)));
}

// Content-Disposition: whether it says attachment, and the file name it
// gives, read as the reference agent reads it (agent/fetch_name.cpp; both
// answer tests/content_disposition_cases.json alike): a valid filename*
// before filename, the first of each, the last path component.
export function parseDisposition(value) {
  if (typeof value !== 'string') return { attachment: false, filename: '' };
  const attachment = value.split(';', 1)[0].trim().toLowerCase() === 'attachment';
  const params = new Map();
  // A quoted value runs to its closing quote or the header's end.
  const param = /;[ \t]*([^ \t=;]+)[ \t]*=[ \t]*(?:"((?:[^"\\]|\\[^]|\\$)*)"?|([^;]*))/g;
  for (const [, name, quoted, token] of value.matchAll(param)) {
    const key = name.toLowerCase();
    if (params.has(key)) continue;
    params.set(key, quoted !== undefined ? quoted.replace(/\\([^])/g, '$1')
      : token.replace(/^[ \t]+|[ \t]+$/g, ''));
  }
  let filename = extendedValue(params.get('filename*'));
  if (filename === '' && params.has('filename')) filename = fromHeaderBytes(params.get('filename'));
  return { attachment, filename: baseName(filename) };
}
