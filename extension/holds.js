// What becomes of each download the browser hands over: held while the host
// is asked, or let go at once with the reason the extension keeps it. The
// manager is handed what the browser sent with the download's final
// request, read from the request itself, and the text of the link clicked.
//
// Requests matter only for the moment before their download and are kept
// in memory: a worker stopped in between keeps that download in the browser.
// Clicks stay with the pages that saw them (link_clicks.js), which are asked
// for them only when a download comes.
import { remember } from './bounded_map.js';
import { showButton } from './button.js';
import { CLICK_WINDOW_MS, KEEP_REQUESTS, Keep, asksSignIn, bypassedBy, clickRecord, clickedUrls, keepReason,
         linkTextOf, requestOf, requestRecord, signInSpace } from './decision.js';
import { settings, withSettings } from './followed_settings.js';
import { offer } from './host.js';
import { HOLD_MS, buildOffer, limitText } from './offer.js';
import { notePagePolicy, pagePolicyOf } from './page_policies.js';
import { Where, recentLog } from './recent.js';
import { linkPolicy, referrerFor } from './referrer_policy.js';
import { responseDownload } from './response_rules.js';
import { FRAME_BOUNDS } from './send_rules.js';
import { baseName, nameFromUrl } from './url_rules.js';

const api = globalThis.browser ?? globalThis.chrome;
// Chromium holds the download itself; Firefox, which cannot, holds the
// response on its headers.
export const chromium = api.downloads.onDeterminingFilename !== undefined;

const requests = new Map(); // request id -> what it sent
// The reasons that come before the bypass key's (keepReason): no click changes them.
const BEFORE_BYPASS = new Set([Keep.OTHER_EXTENSION, Keep.PAUSED, Keep.DANGEROUS, Keep.INSECURE, Keep.SANDBOXED]);
// The browser's own verdicts: the popup does not offer to send these on.
const JUDGED = new Set([Keep.DANGEROUS, Keep.INSECURE, Keep.SANDBOXED]);
// Where a server asked for a sign-in while this worker ran (signInSpace):
// the browser signs the later requests there by itself, which Chromium
// does not show.
const signInSpaces = new Map(); // space -> true
const KEEP_SIGN_IN_SPACES = 32;
const inSignInSpace = (url) => {
  const space = signInSpace(url);
  return space !== '' && [...signInSpaces.keys()].some((asked) => space.startsWith(asked));
};

// Every download the browser hands over, with where it went and why, in the
// private windows' list when it is theirs. A Chromium download is noted
// under its id; Firefox hands over responses, of request ids that can equal
// a download's.
const recent = (incognito) => recentLog(api.storage.session, incognito);
const keyOf = (id) => (chromium ? `d:${id}` : `r:${id}`);

// runtime.onMessage (Firefox): a link clicked with Alt held down, the one
// click the content script tells of at once, and only once the page left
// the click to the browser. Saved only while the hand-off is on: paused, the
// browser does as it would without the extension, which is nothing.
export function altClicked(message, sender) {
  const click = sender.tab === undefined || sender.id !== api.runtime.id ? null
    : clickRecord(message, limitText, Date.now());
  if (click === null || !click.keys.includes('alt')) return;
  withSettings(() => (settings.bypassKey === 'alt' && !settings.paused
    ? saveBypassed(click, sender, message) : null));
}

// The latest click of each tab (tab id -> click) on one of the download's
// URLs in the click window before it: any tab's, as the bypass key counts in
// any (bypassedBy). Each tab's frame that has such a click answers; a page
// that does not answer in time has none.
const ASK_CLICKS_MS = 500;

async function clicksOn(download, request, handedAt) {
  const question = { type: 'last-click', urls: clickedUrls(download, request), since: handedAt - CLICK_WINDOW_MS,
                     ...FRAME_BOUNDS };
  const tabs = await api.tabs.query({ url: ['http://*/*', 'https://*/*'] }).catch(() => []);
  const late = new Promise((resolve) => { setTimeout(resolve, ASK_CLICKS_MS, null); });
  const answers = await Promise.all(tabs.map(async (tab) => {
    const answer = await Promise.race([api.tabs.sendMessage(tab.id, question).catch(() => null), late]);
    return [tab.id, Number.isFinite(answer?.at) ? clickRecord(answer, limitText, answer.at) : null];
  }));
  return new Map(answers.filter(([, click]) => click !== null));
}

// Chromium saves a link clicked with Alt held down by itself; Firefox does
// nothing at all with such a click (unless its browser.altClickSave is set).
// Where Alt is the bypass key, the browser is asked to save the link, as the
// user meant: in the click's window and container, with their cookies and
// out of the normal history when private, and with the referrer a click on
// the page would send under the link's and its page's referrer policy.
async function saveBypassed(click, { tab, url: page = '', frameId = 0 }, link) {
  const entry = { name: nameFromUrl(click.url) || click.url, url: click.url, at: click.at };
  const served = await pagePolicyOf(tab.id, frameId, page);
  const referrer = referrerFor(page, click.url, linkPolicy(link, link.meta, served));
  const incognito = tab.incognito === true;
  try {
    const container = tab.cookieStoreId === undefined ? {} : { cookieStoreId: tab.cookieStoreId };
    const id = await api.downloads.download({ url: click.url, incognito, ...container,
                                              headers: referrer === '' ? [] : [{ name: 'Referer', value: referrer }] });
    recent(incognito).note({ key: `b:${id}`, ...entry, where: Where.BROWSER, reason: Keep.BYPASSED });
  } catch (error) {
    console.error('WebCorvane: saving', click.url, 'in the browser:', error);
  }
}

// A download the browser starts while no listener holds it (paused), or
// that Firefox never shows a listener: a blob: or data: URL, which has no
// response, or a response its hold did not pick out (the menu's "Save Link
// As", a type Firefox is set to save). Noted with its reason, under the name
// of its URL until the browser names it otherwise (Chromium names it later).
// A download of this extension's own is noted where it is started
// (saveBypassed).
const unheld = new Map(); // download id -> {name it was noted under, incognito}, until named
const KEEP_UNHELD = 64;

// Firefox: the URLs (first and final) of the responses its hold picked out,
// for as long as the download Firefox may start of one can come: that one is
// noted already (handOver).
const pickedOut = new Map(); // URL -> when
const PICKED_OUT_MS = HOLD_MS + 5000;

function pickedOutAs(item) {
  const at = pickedOut.get(item.url);
  pickedOut.delete(item.url);
  return at !== undefined && Date.now() - at <= PICKED_OUT_MS;
}

// downloads.onCreated. Unpaused, the hold's listeners are there.
export function noteUnheld(item) {
  if (item.byExtensionId === api.runtime.id) return;
  withSettings(() => {
    const url = item.finalUrl || item.url;
    if (!settings.paused && (chromium || pickedOutAs(item))) return;
    noteWithBrowser(item, keepReason({ ...item, finalUrl: url }, null, settings, false));
  });
}

function noteWithBrowser(item, reason) {
  const url = item.finalUrl || item.url;
  const name = baseName(item.filename) || nameFromUrl(url) || url;
  if (chromium) remember(unheld, item.id, { name, incognito: item.incognito }, KEEP_UNHELD);
  recent(item.incognito).note({ key: `d:${item.id}`, name, url, at: Date.now(), where: Where.BROWSER, reason });
}

// downloads.onChanged (Chromium): a download noted unheld, now named.
export function nameUnheld(delta) {
  const named = baseName(delta.filename?.current);
  if (named === '' || !unheld.has(delta.id)) return;
  const { name, incognito } = unheld.get(delta.id);
  if (named !== name) recent(incognito).note({ key: `d:${delta.id}`, name: named });
  unheld.delete(delta.id);
}

// What becomes of a download the browser hands over: null when it stays
// with the browser at once, the extension deciding by itself (no round trip
// to the host), else the promise of whether the manager took it. Either way
// it enters the list of recent downloads.
function handOver(download, request, handedAt) {
  const recentOf = recent(download.incognito);
  const entry = {
    key: keyOf(download.id),
    name: download.filename || nameFromUrl(download.finalUrl) || download.finalUrl,
    url: download.finalUrl,
    at: handedAt,
  };
  const decide = (clicks) => {
    const bypassed = bypassedBy([...clicks.values()], settings.bypassKey, download, request, handedAt);
    const reason = keepReason(download, request, settings, bypassed);
    if (reason !== null) {
      console.info('WebCorvane: download', download.finalUrl, 'stays with the browser:', reason);
      noteKept(recentOf, entry, reason, request, download.id);
      return null;
    }
    const linkText = linkTextOf(clicks.get(request.tabId), request, handedAt);
    // Taken after the browser had kept it: now in both places. That may come
    // right behind the answer, before the answer is noted.
    const twice = { ...entry, where: Where.BOTH, reason: 'taken-late' };
    let takenLate = false;
    const late = (name) => {
      takenLate = true;
      showButton({ twice: name });
      recentOf.note(twice);
    };
    const message = buildOffer(download, request, linkText, handedAt + HOLD_MS);
    const note = { key: entry.key, downloadId: chromium ? download.id : null, incognito: download.incognito === true };
    return offer(message, late, note).then((answer) => {
      if (answer === null) return false; // offered before: noted then
      if (answer.taken) recentOf.note({ ...entry, where: Where.MANAGER, reason: answer.reason });
      else if (takenLate) recentOf.note(twice);
      else noteKept(recentOf, entry, answer.reason, request);
      return answer.taken;
    });
  };
  // The clicks are asked for only where they can change the answer.
  const unclicked = keepReason(download, request, settings, false);
  if (BEFORE_BYPASS.has(unclicked) || (unclicked !== null && settings.bypassKey === 'none')) return decide(new Map());
  return clicksOn(download, request, handedAt).then(decide);
}

// A download the browser keeps; the user may send it on from the popup when
// the manager can fetch it as the browser did, a GET whose request was seen,
// and the browser did not judge it.
function noteKept(list, entry, reason, request, id = null) {
  const sent = request !== null && request.method === 'GET' && !JUDGED.has(reason)
    ? { url: request.url, referrer: request.referrer, cookie: request.cookie, filename: entry.name } : undefined;
  list.note({ ...entry, where: Where.BROWSER, reason, sendable: false }, sent);
  if (chromium && reason === Keep.UNKNOWN_REQUEST) setTimeout(noteStarter, STARTER_KNOWN_MS, id);
}

// Chromium names the extension that started a download (downloads.download)
// only once that call has returned, which comes after the download was
// handed over (Chromium 156): its request, which Chromium shows no other
// extension, was unknown. Asked again a moment later, it is listed as that
// extension's, under the name it gets.
const STARTER_KNOWN_MS = 500;

async function noteStarter(id) {
  const [item] = await api.downloads.search({ id }).catch(() => []);
  if (item?.byExtensionId && item.byExtensionId !== api.runtime.id) noteWithBrowser(item, Keep.OTHER_EXTENSION);
}

// webRequest.onSendHeaders.
export function rememberRequest(details) {
  const record = requestRecord(details, requests.get(details.requestId), inSignInSpace(details.url));
  if (record === null) requests.delete(details.requestId);
  else remember(requests, details.requestId, record, KEEP_REQUESTS);
}

// webRequest.onHeadersReceived (Chromium), with the response's headers: one
// listener for what the hold needs and the page's referrer policy.
export function rememberResponse(details) {
  notePagePolicy(details);
  const request = requests.get(details.requestId);
  if (request?.url === details.url) request.respondedAt = details.timeStamp;
  noteSignIn(details, request);
}

// A response that asks for a sign-in: the request the browser repeats with
// it is signed in, and, where the server asked, so are the later requests of
// its space.
function noteSignIn(details, request) {
  if (!asksSignIn(details.statusCode)) return;
  const proxy = details.statusCode === 407;
  if (request !== undefined && request !== null) request[proxy ? 'proxySignIn' : 'signIn'] = true;
  if (!proxy) remember(signInSpaces, signInSpace(details.url), true, KEEP_SIGN_IN_SPACES);
}

// downloads.onDeterminingFilename (Chromium). Returning true keeps the
// download waiting until suggest() is called; a download the manager takes
// is cancelled instead. Whatever fails, the browser gets its download back.
// A download the extension keeps by itself is let go once it is decided: at
// once, or once the tabs said which link was clicked, or once the worker
// that has just started has read the settings.
export function holdDownload(item, suggest) {
  // Another extension's download, left as it is at once, when Chromium
  // already says so (see noteStarter). Noted under the name it gets.
  if (item.byExtensionId) {
    noteWithBrowser(item, Keep.OTHER_EXTENSION);
    return false;
  }
  const handedAt = Date.now();
  const [requestId, request] = requestOf(requests, item) ?? [null, null];
  requests.delete(requestId);
  const taken = withSettings(() => handOver(item, request, handedAt));
  if (taken === null) return false;
  Promise.resolve(taken)
    .then((yes) => (yes ? drop(item.id) : suggest()))
    .catch((error) => {
      console.error('WebCorvane: download', item.id, 'kept:', error);
      suggest();
    });
  return true;
}

// webRequest.onHeadersReceived, blocking (Firefox): a response held until
// the host answers, cancelled when the manager takes it, otherwise (another
// answer, an error, past the hold) let through as it came. Anything the
// browser would not save passes unheld.
export function holdResponse(details) {
  notePagePolicy(details);
  if (details.statusCode >= 300 && details.statusCode < 400) return undefined; // decided on the final URL
  // An extension's own request (another's downloads.download): its download
  // is noted as it starts (noteUnheld).
  if (/^moz-extension:/i.test(details.originUrl ?? '')) return undefined;
  const handedAt = Date.now();
  const request = requests.get(details.requestId) ?? null;
  noteSignIn(details, request);
  if (asksSignIn(details.statusCode)) return undefined; // the browser repeats the request, signed in
  requests.delete(details.requestId);
  const download = responseDownload(details, canPlay);
  if (download === null) return undefined;
  for (const url of new Set([request?.firstUrl, download.url])) {
    if (url !== undefined) remember(pickedOut, url, handedAt, KEEP_REQUESTS);
  }
  const decide = () => withSettings(() => handOver(download, request, handedAt));
  const taken = details.type !== 'sub_frame' ? decide()
    : inSandbox(details).then((sandboxed) => {
      download.sandboxed = sandboxed;
      return decide();
    });
  if (taken === null) return undefined;
  return Promise.resolve(taken)
    .then((yes) => (yes ? { cancel: true } : {}))
    .catch((error) => {
      console.error('WebCorvane: response', download.finalUrl, 'kept:', error);
      return {};
    });
}

// Firefox hands over a frame's response like any other when the frame is
// sandboxed without allow-downloads, and blocks its download only after: the
// page that holds each frame of the chain is asked whether the frame's
// element is sandboxed so (link_clicks.js). A page that does not answer in
// time, or that has no content script (an about:srcdoc parent), says no.
async function inSandbox({ tabId, frameId, frameAncestors = [] }) {
  const late = new Promise((resolve) => { setTimeout(resolve, ASK_CLICKS_MS, false); });
  const answers = frameAncestors.map((parent, i) => Promise.race([late, api.tabs.sendMessage(
    tabId, { type: 'frame-sandboxed', frameId: i === 0 ? frameId : frameAncestors[i - 1].frameId },
    { frameId: parent.frameId }).catch(() => false)]));
  return (await Promise.all(answers)).includes(true);
}

const player = globalThis.document?.createElement('video');
const canPlay = (type) => player === undefined || player.canPlayType(type) !== '';

async function drop(id) {
  await api.downloads.cancel(id);
  await api.downloads.erase({ id });
}
