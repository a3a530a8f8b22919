// What the extension decides by itself, before the host is asked: which
// request and which click a download came from, and whether the download
// stays with the browser, with the reason why. Such a download costs no round
// trip to the host. No browser API here: the rules
// run under Node's test runner, and what a page can make the browser report
// (URLs, headers, clicks) is bounded before it is kept.
import { header } from './http_headers.js';
import { covers, hostOf, isHttp, parseUrl, withoutFragment } from './url_rules.js';

// A URL or a request longer than this is not kept (a page can make either as
// long as it likes); its download stays with the browser.
export const MAX_URL_BYTES = 8 * 1024;
// The Cookie and Referer headers of one request, together.
export const MAX_HEADER_BYTES = 16 * 1024;
// How many requests are kept at most: a download comes a moment after its
// request.
export const KEEP_REQUESTS = 64;
// A click names a download of its tab handed over at most this long after it.
export const CLICK_WINDOW_MS = 10000;
// A download's item starts as its response does; a request whose response
// started further from that belongs to another download.
const START_SLACK_MS = 5000;

// Why a download stays with the browser without asking the host: the user
// said so, or the manager, which fetches the URL again with a plain GET and
// the cookie and referrer it is handed, could not fetch the same thing.
export const Keep = Object.freeze({
  OTHER_EXTENSION: 'other-extension', // another extension started it
  PAUSED: 'paused', // the user paused the hand-off
  BYPASSED: 'bypassed', // the link was clicked with the bypass key held down
  SITE_SKIPPED: 'site-skipped', // the page's site or the file's host is on the user's list
  TOO_SMALL: 'too-small', // known to be smaller than the user's minimum
  SCHEME: 'scheme', // not http(s): a blob: or data: URL the manager cannot fetch (the host's reason)
  UNKNOWN_REQUEST: 'unknown-request', // what the browser sent is not known
  NOT_GET: 'not-get', // a form's POST, say: a GET would fetch something else
  RESUMED: 'resumed', // the browser goes on with a download of its own
  DANGEROUS: 'dangerous', // the browser marked it dangerous: its warning is the user's to answer
  INSECURE: 'insecure', // fetched over http for a page served over https, which the browser warns of or blocks
  SIGN_IN: 'sign-in', // the browser signed in for it, which the URL does not carry
  SANDBOXED: 'sandboxed', // started in a frame sandboxed without allow-downloads, which the browser blocks
});

// Chromium's verdicts on a download that leave it to the user as it is.
const SAFE = new Set([undefined, 'safe', 'accepted', 'allowlistedByPolicy']);

// A server that answers so asks the browser to sign in (401) or to its proxy
// (407): the browser asks the user, or answers from its own store of
// sign-ins, and repeats the request with the answer.
export const asksSignIn = (statusCode) => statusCode === 401 || statusCode === 407;

// Where the browser signs in by itself once a URL's server asked it to: the
// URL's origin and directory, and every path below it (RFC 7617's
// protection space, as the browsers guess it). '' for no http(s) URL.
export function signInSpace(url) {
  const parsed = isHttp(url) ? parseUrl(url) : null;
  return parsed === null ? '' : `${parsed.origin}${parsed.pathname.replace(/[^/]*$/, '')}`;
}

// A URL that names a user and password signs in by itself: the manager,
// handed the URL whole, signs in as the browser did.
export const carriesSignIn = (url) => /^https?:\/\/[^/?#]*@/i.test(url);

const byteLength = (text) => new TextEncoder().encode(text).length;

// What a request sent, from webRequest's onSendHeaders (fired again, with the
// same request id, for each redirect: the last one is the final request), or
// null when it is not worth keeping. `before` is the record of its earlier
// hops. Chromium shows a download's own request (an <a download> link's)
// with no headers at all: unknown, as a missing request is. `pageHost` is the
// host of the page that started the first hop (Chromium's initiator,
// Firefox's originUrl), '' when none did (an address typed in). `signIn`:
// the request went with a sign-in of the browser's (an Authorization), or an
// earlier hop, or its server before (`signedInBefore`), asked for one;
// `proxySignIn` the same of the proxy (a Proxy-Authorization). Chromium
// shows neither header, only the answers that asked (holds.js).
export function requestRecord(details, before, signedInBefore = false) {
  if (!isHttp(details.url) || details.url.length > MAX_URL_BYTES) return null;
  const headers = details.requestHeaders ?? [];
  const cookie = header(headers, 'cookie') ?? '';
  const referrer = header(headers, 'referer') ?? '';
  if (headers.length === 0 || byteLength(cookie) + byteLength(referrer) > MAX_HEADER_BYTES) return null;
  return {
    tabId: details.tabId,
    firstUrl: before?.firstUrl ?? details.url,
    pageHost: before?.pageHost ?? hostOf(details.initiator ?? details.originUrl),
    // Any hop in the clear from a secure page is what the browser calls an
    // insecure download.
    insecure: (before?.insecure ?? false) || (/^https:/i.test(details.initiator ?? details.originUrl ?? '') &&
                                              /^http:/i.test(details.url)),
    url: details.url,
    method: details.method,
    cookie,
    referrer,
    resumes: header(headers, 'range') !== null,
    signIn: before?.signIn === true || signedInBefore || header(headers, 'authorization') !== null,
    proxySignIn: before?.proxySignIn === true || header(headers, 'proxy-authorization') !== null,
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

// A click the content script reported, as kept ({url, text, keys, at}), or
// null: only on an http(s) link of bounded length; `keys` are the modifier
// keys held down (alt, shift, ctrl); `at` is when it was made.
export function clickRecord(message, limitText, now) {
  if (message?.type !== 'link-click' || typeof message.url !== 'string') return null;
  if (!isHttp(message.url) || message.url.length > MAX_URL_BYTES) return null;
  const keys = ['alt', 'shift', 'ctrl'].filter((key) => message.keys?.[key] === true);
  return { url: message.url, text: typeof message.text === 'string' ? limitText(message.text) : '', keys, at: now };
}

// Whether the download was started by a click with the bypass key `key`
// ('none' is no key a click holds) held down, among the tabs' latest `clicks`: one on its first or final URL
// shortly before. Any tab's, as the browser may fetch a link clicked with a
// modifier in another tab or window, or as a download of its own without a
// request the extension sees (Chromium's Alt+click).
export function bypassedBy(clicks, key, download, request, handedAt) {
  const urls = clickedUrls(download, request);
  return clicks.some((click) => click.keys.includes(key) && urls.includes(withoutFragment(click.url)) &&
    handedAt - click.at >= 0 && handedAt - click.at <= CLICK_WINDOW_MS);
}

// The URLs a click that started the download was made on: where its link
// led (its request's first URL), where it came from in the end.
export const clickedUrls = (download, request) => [download.url, download.finalUrl, request?.firstUrl, request?.url]
  .filter((url) => typeof url === 'string').map(withoutFragment);

// The text of the link whose click started the download: its tab's latest
// click, when made on the request's first or final URL shortly before.
export function linkTextOf(click, request, handedAt) {
  if (click === undefined || request === null) return '';
  const urls = [request.firstUrl, request.url].map(withoutFragment);
  const age = handedAt - click.at;
  return urls.includes(withoutFragment(click.url)) && age >= 0 && age <= CLICK_WINDOW_MS ? click.text : '';
}

// Whether the page's site or the file's host (where its link led, and where
// it came from in the end) is on the user's list.
function onSkippedSite(sites, download, request) {
  const hosts = [request?.pageHost, hostOf(download.url), hostOf(download.finalUrl), hostOf(request?.firstUrl)];
  return hosts.some((host) => host && sites.some((site) => covers(site, host)));
}

// Why the download stays with the browser, or null when it is offered.
// `download`: {byExtensionId, url, finalUrl, totalBytes (-1 or 0: unknown),
// danger (Chromium's, when known)};
// `request`: its record, or null when unknown; `settings`: the user's
// (settings.js); `bypassed`: whether the bypass key was held on its click.
// Another extension's download was never the user's to hand over. Then the
// reason the user will recognise comes first: the pause, which holds for
// everything; the browser's own verdict, which stands whatever the user's
// rules; what the user did on this very click; the standing rules for sites
// and sizes. Last what the extension could not hand over as the browser
// fetched it.
export function keepReason(download, request, settings, bypassed) {
  if (download.byExtensionId) return Keep.OTHER_EXTENSION;
  if (settings.paused) return Keep.PAUSED;
  if (!SAFE.has(download.danger)) return Keep.DANGEROUS;
  if (request?.insecure) return Keep.INSECURE;
  if (download.sandboxed) return Keep.SANDBOXED;
  if (bypassed) return Keep.BYPASSED;
  if (onSkippedSite(settings.skippedSites, download, request)) return Keep.SITE_SKIPPED;
  if (download.totalBytes > 0 && download.totalBytes < settings.minimumSizeBytes) return Keep.TOO_SMALL;
  if (!isHttp(download.finalUrl)) return Keep.SCHEME;
  if (request === null) return Keep.UNKNOWN_REQUEST;
  if (request.method !== 'GET') return Keep.NOT_GET;
  if (request.proxySignIn || (request.signIn && !carriesSignIn(download.finalUrl))) return Keep.SIGN_IN;
  if (request.resumes) return Keep.RESUMED;
  return null;
}
