// What one download's offer to the native host says, and what the host's
// answer means. No browser API here: the same rules serve every browser and
// run under Node's test runner.

// The bound of one offer, as in the Internet Explorer helper: with no answer
// by then the browser keeps the download. Chromium itself lets a held
// download go after about 15 s, well past it.
export const OFFER_BOUND_MS = 5000;

// Link text travels at most this many bytes of UTF-8, cut at a whole
// character, like the helper's.
export const MAX_LINK_TEXT_BYTES = 1023;

export function limitText(text, maxBytes = MAX_LINK_TEXT_BYTES) {
  let bytes = 0;
  let end = 0;
  for (const character of text) {
    const code = character.codePointAt(0);
    bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (bytes > maxBytes) break;
    end += character.length;
  }
  return text.slice(0, end);
}

// The Cookie header the browser would send, from cookies.getAll's answer
// (which already puts the longest path first, as the header does).
export function cookieString(cookies) {
  return cookies.map(({ name, value }) => (name === '' ? value : `${name}=${value}`)).join('; ');
}

const withoutFragment = (url) => (typeof url === 'string' ? url.split('#', 1)[0] : '');

// The text of the link whose click started the download: the latest click,
// in any tab, on the download's first or final URL.
export function linkTextFor(clicks, item) {
  const urls = new Set([withoutFragment(item.url), withoutFragment(item.finalUrl)]);
  let best = null;
  for (const click of clicks) {
    if (urls.has(withoutFragment(click.url)) && (best === null || click.at >= best.at)) best = click;
  }
  return best === null ? '' : best.text;
}

// Unknown sizes are -1 in the offer; the browser says 0 or -1.
const knownSize = (n) => (Number.isSafeInteger(n) && n > 0 ? n : -1);

export function buildOffer(item, linkText, cookie) {
  return {
    id: item.id,
    url: item.finalUrl || item.url,
    firstUrl: item.url,
    referrer: item.referrer || '',
    cookie,
    linkText: limitText(linkText),
    filename: item.filename || '',
    mime: item.mime || '',
    size: knownSize(item.totalBytes) !== -1 ? knownSize(item.totalBytes) : knownSize(item.fileSize),
  };
}

// The host reads no message longer than this; it answers such a one (a large
// data: URL, say) without the id that would end the wait for it.
export const MAX_MESSAGE_BYTES = 1024 * 1024;

export const fitsHost = (message) => new TextEncoder().encode(JSON.stringify(message)).length <= MAX_MESSAGE_BYTES;

// The host's answer to the offer with this id: taken only when it says so
// plainly; anything else keeps the download in the browser.
export function readReply(reply, id) {
  if (reply === null || typeof reply !== 'object' || reply.id !== id) return null;
  return {
    taken: reply.taken === true,
    reason: typeof reply.reason === 'string' ? reply.reason : 'bad-message',
    detail: typeof reply.detail === 'string' ? reply.detail : '',
  };
}

// What the toolbar button warns of, after an event: the host's answer
// ({reason, detail}) or its port dropping ({dropped: error text}). A problem
// is {what: 'host' | 'agent', detail} or null when all is well.
export function problemAfter(problem, event) {
  if ('dropped' in event) return { what: 'host', detail: event.dropped };
  switch (event.reason) {
    case 'unreachable':
    case 'timed-out':
      return { what: 'agent', detail: event.detail };
    case 'taken':
    case 'declined':
      return null;
    default:
      // The host answered, which says nothing about the agent.
      return problem !== null && problem.what === 'agent' ? problem : null;
  }
}

export function badgeFor(problem) {
  if (problem === null) return { text: '', title: 'WebCorvane: downloads are offered to the download manager' };
  if (problem.what === 'host') {
    return { text: '!', title: `WebCorvane: the download manager's browser host is missing or failed (${problem.detail})` };
  }
  return { text: '!', title: `WebCorvane: the download manager cannot be reached (${problem.detail})` };
}

// Firefox has no hold on a download itself: there a response is judged on its
// headers, before the browser decides to save it. A download is a response
// the browser would save: one marked as an attachment, or of a type it does
// not show. `canPlay(type)` says whether the browser plays a sound or video
// type in the tab. Anything doubtful counts as shown, which leaves it to the
// browser. Only GET: the manager fetches the URL again, without a body.
const SHOWN_TYPES = new Set(['', 'application/xhtml+xml', 'application/xml', 'application/json', 'application/pdf',
  'application/javascript', 'application/x-javascript', 'application/ecmascript', 'multipart/x-mixed-replace']);

function shownInline(mime, canPlay) {
  if (SHOWN_TYPES.has(mime) || mime.startsWith('text/') || mime.startsWith('image/')) return true;
  if (/\+(xml|json)$/.test(mime)) return true;
  if (mime.startsWith('audio/') || mime.startsWith('video/')) return canPlay(mime);
  return false;
}

const header = (headers, name) =>
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

// The last path component, without surrounding spaces or tabs.
const baseName = (name) => name.split(/[/\\]/).pop().replace(/^[ \t]+|[ \t]+$/g, '');

// An ext-value (RFC 8187): charset'language'percent-encoded bytes, in UTF-8
// or ISO-8859-1, every other character printable ASCII. '' when invalid.
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
  let filename = extendedValue(params.get('filename*') ?? '');
  if (filename === '' && params.has('filename')) filename = fromHeaderBytes(params.get('filename'));
  return { attachment, filename: baseName(filename) };
}

function nameFromUrl(url) {
  try {
    const last = new URL(url).pathname.split('/').pop();
    try { return baseName(decodeURIComponent(last)); } catch { return last; }
  } catch {
    return '';
  }
}

// The download a response is, in the shape of Chromium's download item, or
// null when the browser would not save it. `firstUrl` is the URL before any
// redirect.
export function responseDownload(details, firstUrl, canPlay) {
  if (details.method !== 'GET' || details.statusCode < 200 || details.statusCode > 299 ||
      details.statusCode === 204 || details.statusCode === 205) return null;
  const headers = details.responseHeaders;
  const mime = (header(headers, 'content-type') ?? '').split(';', 1)[0].trim().toLowerCase();
  const disposition = parseDisposition(header(headers, 'content-disposition'));
  if (!disposition.attachment && shownInline(mime, canPlay)) return null;
  const length = Number(header(headers, 'content-length') ?? -1);
  return {
    id: Number(details.requestId),
    url: firstUrl,
    finalUrl: details.url,
    referrer: details.originUrl ?? '',
    filename: disposition.filename || nameFromUrl(details.url),
    mime,
    totalBytes: Number.isSafeInteger(length) ? length : -1,
  };
}
