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
import { CLICK_WINDOW_MS, KEEP_REQUESTS, Keep, bypassedBy, clickRecord, clickedUrls, keepReason, linkTextOf,
         requestOf, requestRecord } from './decision.js';
import { settings, withSettings } from './followed_settings.js';
import { offer } from './host.js';
import { HOLD_MS, buildOffer, limitText } from './offer.js';
import { Where, recentLog } from './recent.js';
import { responseDownload } from './response_rules.js';
import { FRAME_BOUNDS, referrerFor } from './send_rules.js';
import { baseName, nameFromUrl } from './url_rules.js';

const api = globalThis.browser ?? globalThis.chrome;
// Chromium holds the download itself; Firefox, which cannot, holds the
// response on its headers.
export const chromium = api.downloads.onDeterminingFilename !== undefined;

const requests = new Map(); // request id -> what it sent

// Every download the browser hands over, with where it went and why. A
// Chromium download is noted under its id; Firefox hands over responses, of
// request ids that can equal a download's.
const recent = recentLog(api.storage.session);
const keyOf = (id) => (chromium ? `d:${id}` : `r:${id}`);

// runtime.onMessage (Firefox): a link clicked with Alt held down, the one
// click the content script tells of at once.
export function altClicked(message, sender) {
  const click = sender.tab === undefined ? null : clickRecord(message, limitText, Date.now());
  if (click === null || !click.keys.includes('alt')) return;
  withSettings(() => (settings.bypassKey === 'alt' ? saveBypassed(click, sender.url) : null));
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
// user meant, with the referrer a click on the page would send.
async function saveBypassed(click, page) {
  const entry = { name: nameFromUrl(click.url) || click.url, url: click.url, at: click.at };
  const referrer = referrerFor(page ?? '', click.url);
  try {
    const id = await api.downloads.download({ url: click.url,
                                              headers: referrer === '' ? [] : [{ name: 'Referer', value: referrer }] });
    recent.note({ key: `b:${id}`, ...entry, where: Where.BROWSER, reason: Keep.BYPASSED });
  } catch (error) {
    console.error('WebCorvane: saving', click.url, 'in the browser:', error);
  }
}

// A download the browser starts while no listener holds it (paused), or
// that Firefox never shows a listener (a blob: or data: URL, which has no
// response): noted with its reason, under the name of its URL until the
// browser names it otherwise (Chromium names it later). A download of this
// extension's own is noted where it is started (saveBypassed).
const unheld = new Map(); // download id -> the name it was noted under, until named
const KEEP_UNHELD = 64;

// downloads.onCreated. Unpaused, the hold's listeners are there.
export function noteUnheld(item) {
  if (item.byExtensionId === api.runtime.id) return;
  withSettings(() => {
    const url = item.finalUrl || item.url;
    if (!settings.paused && (chromium || /^https?:/i.test(url))) return;
    const name = baseName(item.filename) || nameFromUrl(url) || url;
    if (chromium) remember(unheld, item.id, name, KEEP_UNHELD);
    recent.note({ key: `d:${item.id}`, name, url, at: Date.now(), where: Where.BROWSER,
                  reason: keepReason({ ...item, finalUrl: url }, null, settings, false) });
  });
}

// downloads.onChanged (Chromium): a download noted unheld, now named.
export function nameUnheld(delta) {
  const named = baseName(delta.filename?.current);
  if (named === '' || !unheld.has(delta.id)) return;
  if (named !== unheld.get(delta.id)) recent.note({ key: `d:${delta.id}`, name: named });
  unheld.delete(delta.id);
}

// What becomes of a download the browser hands over: null when it stays
// with the browser at once, the extension deciding by itself (no round trip
// to the host), else the promise of whether the manager took it. Either way
// it enters the list of recent downloads.
function handOver(download, request, handedAt) {
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
      noteKept(entry, reason, request);
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
      recent.note(twice);
    };
    return offer(buildOffer(download, request, linkText, handedAt + HOLD_MS), late).then((answer) => {
      if (answer === null) return false; // offered before: noted then
      if (answer.taken) recent.note({ ...entry, where: Where.MANAGER, reason: answer.reason });
      else if (takenLate) recent.note(twice);
      else noteKept(entry, answer.reason, request);
      return answer.taken;
    });
  };
  // The clicks are asked for only where they can change the answer.
  const unclicked = keepReason(download, request, settings, false);
  if (unclicked === Keep.OTHER_EXTENSION || unclicked === Keep.PAUSED ||
      (unclicked !== null && settings.bypassKey === 'none')) return decide(new Map());
  return clicksOn(download, request, handedAt).then(decide);
}

// A download the browser keeps; the user may send it on from the popup when
// the manager can fetch it as the browser did: a GET whose request was seen.
function noteKept(entry, reason, request) {
  const sent = request !== null && request.method === 'GET'
    ? { url: request.url, referrer: request.referrer, cookie: request.cookie, filename: entry.name } : undefined;
  recent.note({ ...entry, where: Where.BROWSER, reason, sendable: false }, sent);
}

// webRequest.onSendHeaders.
export function rememberRequest(details) {
  const record = requestRecord(details, requests.get(details.requestId));
  if (record === null) requests.delete(details.requestId);
  else remember(requests, details.requestId, record, KEEP_REQUESTS);
}

// webRequest.onHeadersReceived (Chromium).
export function rememberResponse(details) {
  const request = requests.get(details.requestId);
  if (request?.url === details.url) request.respondedAt = details.timeStamp;
}

// downloads.onDeterminingFilename (Chromium). Returning true keeps the
// download waiting until suggest() is called; a download the manager takes
// is cancelled instead. Whatever fails, the browser gets its download back.
// A download the extension keeps by itself is let go once it is decided: at
// once, or once the tabs said which link was clicked, or once the worker
// that has just started has read the settings.
export function holdDownload(item, suggest) {
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
  if (details.statusCode >= 300 && details.statusCode < 400) return undefined; // decided on the final URL
  const handedAt = Date.now();
  const request = requests.get(details.requestId) ?? null;
  requests.delete(details.requestId);
  const download = responseDownload(details, canPlay);
  if (download === null) return undefined;
  const taken = withSettings(() => handOver(download, request, handedAt));
  if (taken === null) return undefined;
  return Promise.resolve(taken)
    .then((yes) => (yes ? { cancel: true } : {}))
    .catch((error) => {
      console.error('WebCorvane: response', download.finalUrl, 'kept:', error);
      return {};
    });
}

const player = globalThis.document?.createElement('video');
const canPlay = (type) => player === undefined || player.canPlayType(type) !== '';

async function drop(id) {
  await api.downloads.cancel(id);
  await api.downloads.erase({ id });
}
