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

// `text` with each lone surrogate (a page's text may hold one, and a cut
// may leave one) replaced by U+FFFD: the host reads UTF-8, which has none,
// and refuses a message with one.
export const wellFormed = (text) =>
  text.replace(/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, '\ufffd');

export function limitText(text, maxBytes = MAX_LINK_TEXT_BYTES) {
  let bytes = 0;
  let end = 0;
  const whole = wellFormed(text);
  for (const character of whole) {
    const code = character.codePointAt(0);
    bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (bytes > maxBytes) break;
    end += character.length;
  }
  return whole.slice(0, end);
}

// The offer of `download` ({id, finalUrl, filename}), fetched by `request`
// (its final request: the cookie and referrer the browser sent with it), to
// be answered by `deadline` (ms since the epoch).
export function buildOffer(download, request, linkText, deadline) {
  return {
    id: download.id,
    url: wellFormed(download.finalUrl),
    referrer: wellFormed(request.referrer),
    cookie: wellFormed(request.cookie),
    linkText: limitText(linkText),
    filename: wellFormed(download.filename || ''),
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
