// What the extension decides by itself, before the host is asked: which
// request and which click a download came from, and whether the download
// stays with the browser, with the reason why. No browser API here: the rules
// run under Node's test runner, and what a page can make the browser report
// (URLs, headers, clicks) is bounded before it is kept.

// A URL or a request longer than this is not kept (a page can make either as
// long as it likes); its download stays with the browser.
export const MAX_URL_BYTES = 8 * 1024;
// The Cookie and Referer headers of one request, together.
export const MAX_HEADER_BYTES = 16 * 1024;
// How many requests and clicks are kept at most: a download comes a moment
// after its request and its click.
export const KEEP_REQUESTS = 64;
export const KEEP_CLICKS = 32;
// A click names a download of its tab handed over at most this long after it.
export const CLICK_WINDOW_MS = 10000;
// A download's item starts as its response does; a request whose response
// started further from that belongs to another download.
const START_SLACK_MS = 5000;

// Why a download stays with the browser without asking the host. The manager
// fetches the URL again with a plain GET and the cookie and referrer it is
// handed, so the request must be known and be such a GET.
export const Keep = Object.freeze({
  OTHER_EXTENSION: 'other-extension', // another extension started it
  UNKNOWN_REQUEST: 'unknown-request', // what the browser sent is not known
  NOT_GET: 'not-get', // a form's POST, say: a GET would fetch something else
  RESUMED: 'resumed', // the browser goes on with a download of its own
  OFFERED: 'offered', // asked before: one download, one offer
});

const isHttp = (url) => typeof url === 'string' && /^https?:\/\//i.test(url);
const byteLength = (text) => new TextEncoder().encode(text).length;
const withoutFragment = (url) => url.split('#', 1)[0];

const header = (headers, name) => headers.find((h) => h.name.toLowerCase() === name)?.value;

// What a request sent, from webRequest's onSendHeaders (fired again, with the
// same request id, for each redirect: the last one is the final request), or
// null when it is not worth keeping. `before` is the record of its earlier
// hops. Chromium shows a download's own request (an <a download> link's)
// with no headers at all: unknown, as a missing request is.
export function requestRecord(details, before) {
  if (!isHttp(details.url) || details.url.length > MAX_URL_BYTES) return null;
  const headers = details.requestHeaders ?? [];
  const cookie = header(headers, 'cookie') ?? '';
  const referrer = header(headers, 'referer') ?? '';
  if (headers.length === 0 || byteLength(cookie) + byteLength(referrer) > MAX_HEADER_BYTES) return null;
  return {
    tabId: details.tabId,
    firstUrl: before?.firstUrl ?? details.url,
    url: details.url,
    method: details.method,
    cookie,
    referrer,
    resumes: header(headers, 'range') !== undefined,
    respondedAt: null,
  };
}

// The request a Chromium download item came from, among `requests` (id ->
// record): the same final URL, its response started nearest the item's start.
// Returns [id, record], or null.
export function requestOf(requests, item) {
  const started = Date.parse(item.startTime);
  let best = null;
  for (const [id, request] of requests) {
    if (request.url !== item.finalUrl || request.respondedAt === null) continue;
    const distance = Math.abs(request.respondedAt - started);
    if (distance <= START_SLACK_MS && (best === null || distance < best.distance)) best = { id, request, distance };
  }
  return best === null ? null : [best.id, best.request];
}

// A click the content script reported, as kept ({url, text, at}), or null:
// only on an http(s) link of bounded length; `at` is the background's clock.
export function clickRecord(message, limitText, now) {
  if (message?.type !== 'link-click' || typeof message.url !== 'string') return null;
  if (!isHttp(message.url) || message.url.length > MAX_URL_BYTES) return null;
  return { url: message.url, text: typeof message.text === 'string' ? limitText(message.text) : '', at: now };
}

// The text of the link whose click started the download: its tab's latest
// click, when made on the request's first or final URL shortly before.
export function linkTextOf(click, request, handedAt) {
  if (click === undefined || request === null) return '';
  const urls = [request.firstUrl, request.url].map(withoutFragment);
  const age = handedAt - click.at;
  return urls.includes(withoutFragment(click.url)) && age >= 0 && age <= CLICK_WINDOW_MS ? click.text : '';
}

// Keeps at most `limit` entries, dropping the oldest, as a page can make the
// browser report as many as it likes.
export function remember(map, key, value, limit) {
  map.delete(key);
  map.set(key, value);
  while (map.size > limit) map.delete(map.keys().next().value);
}

// Why the download stays with the browser, or null when it is offered.
// `download`: {byExtensionId}; `request`: its record, or null when unknown.
export function keepReason(download, request) {
  if (download.byExtensionId) return Keep.OTHER_EXTENSION;
  if (request === null) return Keep.UNKNOWN_REQUEST;
  if (request.method !== 'GET') return Keep.NOT_GET;
  if (request.resumes) return Keep.RESUMED;
  return null;
}
