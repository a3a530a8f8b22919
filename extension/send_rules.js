// What the extension sends when the user asks ("Download with WebCorvane",
// "Send to WebCorvane"): which links, with which referrer and cookies, and
// what the host's settings reply means. No browser API here: the rules run
// under Node's test runner. A page decides what its selection holds, so
// everything it gives is bounded and checked again here.
import { MAX_URL_BYTES } from './decision.js';
import { MAX_LINK_TEXT_BYTES, limitText, wellFormed } from './offer.js';
import { covers, isHttp, parseUrl, withoutFragment } from './url_rules.js';

export { referrerFor } from './referrer_policy.js';

// At most this many links go to the manager from one selection.
export const MAX_SENT_LINKS = 1000;
// What a frame's content script answers is bounded there too, so that a page
// cannot make the answer huge. A content script imports nothing: the bounds
// go with each question. Text is cut there in UTF-16 units, and no text that
// fits MAX_LINK_TEXT_BYTES has more of them.
export const FRAME_BOUNDS = Object.freeze({ maxLinks: MAX_SENT_LINKS, maxUrl: MAX_URL_BYTES,
                                            maxText: MAX_LINK_TEXT_BYTES });
// How long a sent link waits for the host's answer once its turn came: a
// download the browser holds waits behind at most one such link.
export const SEND_WAIT_MS = 5000;

// The links to send, [{url, text, noreferrer, policy}], once each in page
// order: the selection's http(s) links when it holds any, else the link the
// menu was opened on. `info` is the menu's click ({linkUrl, selectionText});
// `found` what the frame's content script answered ({link, selection,
// selectionText}), or null when it could not: the selection's links and
// text as they were when the user opened the menu, which must be the text
// the menu names, or the page changed the selection after the right-click.
// The link's own URL is the browser's; the page only adds its text and
// referrer policy. A link's fragment never reaches the server: two links
// that differ only there are one.
export function linksToSend(info, found) {
  const seen = new Set();
  const links = [];
  const add = (url, link) => {
    if (!isHttp(url) || url.length > MAX_URL_BYTES || links.length >= MAX_SENT_LINKS) return;
    const key = withoutFragment(url);
    if (seen.has(key)) return;
    seen.add(key);
    links.push({ url, text: typeof link?.text === 'string' ? limitText(link.text) : '',
                 noreferrer: link?.noreferrer === true, policy: typeof link?.policy === 'string' ? link.policy : '' });
  };
  if (typeof info.selectionText === 'string' && info.selectionText !== '' && Array.isArray(found?.selection) &&
      sameSelection(info.selectionText, found.selectionText)) {
    for (const link of found.selection) add(link?.url, link);
  }
  if (links.length === 0 && isHttp(info.linkUrl)) {
    add(info.linkUrl, found?.link?.url === info.linkUrl ? found.link : null);
  }
  return links;
}

// Whether the menu's `selectionText` is the text of the selection the
// content script saw: the browsers lay out its white space in their own
// ways, and may shorten it.
function sameSelection(menuText, seenText) {
  const bare = (text) => (typeof text === 'string' ? text.replace(/\s+/g, '') : '');
  const menu = bare(menuText);
  return menu !== '' && bare(seenText).startsWith(menu);
}

// The Cookie header a top-level navigation from `pages` (the frame of the
// link and its tab's page) to `url` carries, from `cookies` (cookies.getAll
// for the URL, in the header's order). Lax and unrestricted cookies go with
// it; a Strict one only when the navigation is same-site. Without the public
// suffix list that is told from the cookie itself: every page of the same
// scheme lies within the cookie's domain, which cannot be a public suffix,
// so all are of the link's site. A Strict cookie this cannot vouch for stays
// back: the manager never gets one the browser would not send.
export function cookieHeader(cookies, url, pages) {
  const target = parseUrl(url);
  if (target === null) return '';
  const froms = pages.map(parseUrl);
  const sameSite = (cookie) => {
    const domain = cookie.domain.replace(/^\./, '').toLowerCase();
    return froms.every((from) => from !== null && from.protocol === target.protocol &&
      (cookie.hostOnly ? from.hostname === domain : covers(domain, from.hostname)));
  };
  return cookies.filter((cookie) => cookie.sameSite !== 'strict' || sameSite(cookie))
    .map((cookie) => `${cookie.name}=${cookie.value}`).join('; ');
}

// Firefox with first-party isolation: the cookies of the link's own first
// party, which is the first party of a top-level navigation to it.
export function firstPartyOf(cookies, url) {
  const host = parseUrl(url)?.hostname ?? '';
  return cookies.filter((cookie) => cookie.firstPartyDomain !== '' &&
    covers(cookie.firstPartyDomain, host));
}

// The offer of a link the user sent: past the switch and the list. `id`
// never meets a download's on the port (negative); `deadline` bounds the
// host's wait.
export function sentOffer(id, { url, referrer, cookie, filename, linkText }, deadline) {
  return { id, url: wellFormed(url), referrer: wellFormed(referrer), cookie: wellFormed(cookie),
           linkText: limitText(linkText ?? ''), filename: wellFormed(filename ?? ''), deadline, userAsked: true };
}

// The options page's answer from the host's reply to {type: 'settings'}:
// {ok: true, ...settings} when every field is as the host sends it, else
// {ok: false, reason, detail}. A null reply: the port failed or the host
// never answered.
export function hostSettingsOf(reply, why) {
  if (reply === null) return { ok: false, reason: 'host-missing', detail: why };
  const s = reply?.settings;
  const valid = s !== null && typeof s === 'object' &&
    (s.monitorBrowsers === null || Number.isInteger(s.monitorBrowsers)) && typeof s.switchOn === 'boolean' &&
    Array.isArray(s.extendNames) && s.extendNames.every((name) => typeof name === 'string') &&
    typeof s.configFile === 'string' && typeof s.configFound === 'boolean';
  if (!valid) {
    return { ok: false, reason: 'bad-message', detail: typeof reply?.detail === 'string' ? reply.detail : '' };
  }
  return { ok: true, monitorBrowsers: s.monitorBrowsers, switchOn: s.switchOn, extendNames: s.extendNames,
           configFile: s.configFile, configFound: s.configFound };
}
