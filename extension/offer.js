// What one download's offer to the native host says, and what the host's
// answer means. No browser API here: the same rules serve every browser and
// run under Node's test runner.

// How long a download is held while the host is asked: past it the browser
// keeps the download. Chromium lets a held download go by itself about 15 s
// after handing it over, Firefox a held response after about 60 s; the host
// is told this deadline and answers before it.
export const HOLD_MS = 12000;

// The native messaging host's name, as the host's manifest registers it.
export const HOST_NAME = 'com.webcorvane.handoff';

// Link text travels at most this many bytes of UTF-8, cut at a whole
// character, as the host cuts it for the agent.
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

// The offer of `download` ({id, finalUrl, filename}), fetched by `request`
// (its final request: the cookie and referrer the browser sent with it), to
// be answered by `deadline` (ms since the epoch).
export function buildOffer(download, request, linkText, deadline) {
  return {
    id: download.id,
    url: download.finalUrl,
    referrer: request.referrer,
    cookie: request.cookie,
    linkText: limitText(linkText),
    filename: download.filename || '',
    deadline,
  };
}

// The host reads no message longer than this; it answers such a one (a large
// data: URL, say) without the id that would end the wait for it.
export const MAX_MESSAGE_BYTES = 1024 * 1024;

export const fitsHost = (message) => new TextEncoder().encode(JSON.stringify(message)).length <= MAX_MESSAGE_BYTES;

// The host's answer to the offer with this id: taken only when it says so
// plainly; anything else keeps the download in the browser. `late`: the
// agent took it after the host had answered "timed-out".
export function readReply(reply, id) {
  if (reply === null || typeof reply !== 'object' || reply.id !== id) return null;
  return {
    taken: reply.taken === true,
    reason: typeof reply.reason === 'string' ? reply.reason : 'bad-message',
    detail: typeof reply.detail === 'string' ? reply.detail : '',
    late: reply.late === true,
  };
}

// What the toolbar button warns of, after an event: the host's answer
// ({reason, detail}), its port dropping ({dropped: error text}), a download
// in two places ({twice: name}) or perhaps in two places ({maybeTwice: name},
// its offer cut off by a stop of the extension). A problem is {what, detail}
// or null when all is well. A download in two places stays on the button
// until a failure of the host or the agent, which the user must see first.
export function problemAfter(problem, event) {
  if ('dropped' in event) return { what: 'host', detail: event.dropped };
  if ('twice' in event) return { what: 'twice', detail: event.twice };
  if ('maybeTwice' in event) return { what: 'maybe-twice', detail: event.maybeTwice };
  const lasting = problem !== null && (problem.what === 'twice' || problem.what === 'maybe-twice') ? problem : null;
  switch (event.reason) {
    case 'unreachable':
    case 'timed-out':
      return { what: 'agent', detail: event.detail };
    case 'taken':
    case 'declined':
      return lasting;
    default:
      // The host answered, which says nothing about the agent.
      return problem !== null && problem.what !== 'host' ? problem : null;
  }
}

const shown = (name) => (name.length > 80 ? `${name.slice(0, 79)}…` : name);

const OFFERING = '#1565c0';
const WARNING = '#c62828';

// The toolbar's icons of each state, as the build renders them from the one
// drawing (scripts/build_extension.py).
export const toolbarIcon = (state) => Object.fromEntries([16, 32].map((size) => [size, `icons/${state}-${size}.png`]));

// The button: `offering` names the downloads held for more than a moment,
// which it shows while they last; then the problem, if any; then whether the
// hand-off is paused. Its title is a message of _locales and its
// substitutions, worded in the user's language by the caller; its icon the
// state that lasts (normal, paused or problem), so that the badge's
// passing "…" leaves the icon as it was.
export function badgeFor(problem, offering = [], paused = false) {
  const icon = problem !== null ? 'problem' : paused ? 'paused' : 'normal';
  if (offering.length > 0) {
    const title = offering.length === 1 ? ['badge_offering_one', shown(offering[0])]
      : ['badge_offering_many', String(offering.length)];
    return { text: '…', title, color: OFFERING, icon };
  }
  return { ...warning(problem, paused), color: WARNING, icon };
}

function warning(problem, paused) {
  if (problem === null) return { text: '', title: [paused ? 'badge_paused' : 'actionTitle'] };
  switch (problem.what) {
    case 'host':
      return { text: '!', title: ['badge_host', problem.detail] };
    case 'twice':
      return { text: '2', title: ['badge_twice', shown(problem.detail)] };
    case 'maybe-twice':
      return { text: '2?', title: ['badge_maybe_twice', shown(problem.detail)] };
    default:
      return { text: '!', title: ['badge_agent', problem.detail] };
  }
}

// Firefox has no hold on a download itself: there a response is judged on its
// headers, before the browser decides to save it. A download is a response
// the browser would save: one marked as an attachment, or of a type it does
// not show. `canPlay(type)` says whether the browser plays a sound or video
// type in the tab. Anything doubtful counts as shown, which leaves it to the
// browser. A form's POST is a download too; it stays with the browser
// (keepReason), noted as such.
const SHOWN_TYPES = new Set(['', 'application/xhtml+xml', 'application/xml', 'application/json', 'application/pdf',
  'application/javascript', 'application/x-javascript', 'application/ecmascript', 'multipart/x-mixed-replace']);

function shownInline(mime, canPlay) {
  if (SHOWN_TYPES.has(mime) || mime.startsWith('text/') || mime.startsWith('image/')) return true;
  if (/\+(xml|json)$/.test(mime)) return true;
  if (mime.startsWith('audio/') || mime.startsWith('video/')) return canPlay(mime);
  return false;
}

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

export function nameFromUrl(url) {
  try {
    const last = new URL(url).pathname.split('/').pop();
    try { return baseName(decodeURIComponent(last)); } catch { return last; }
  } catch {
    return '';
  }
}

// The download a response is, in the shape of Chromium's download item
// (totalBytes -1 when the size is not told), or null when the browser would
// not save it.
export function responseDownload(details, canPlay) {
  if (details.statusCode < 200 || details.statusCode > 299 ||
      details.statusCode === 204 || details.statusCode === 205) return null;
  const headers = details.responseHeaders;
  const mime = (header(headers, 'content-type') ?? '').split(';', 1)[0].trim().toLowerCase();
  const disposition = parseDisposition(header(headers, 'content-disposition'));
  if (!disposition.attachment && shownInline(mime, canPlay)) return null;
  const length = header(headers, 'content-length') ?? '';
  return {
    id: Number(details.requestId),
    url: details.url,
    finalUrl: details.url,
    filename: disposition.filename || nameFromUrl(details.url),
    totalBytes: /^\d{1,15}$/.test(length.trim()) ? Number(length.trim()) : -1,
  };
}
