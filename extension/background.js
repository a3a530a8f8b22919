// Offers each download to the WebCorvane download manager through its native
// messaging host, and cancels it in the browser when the manager takes it.
// Chromium holds the download itself; Firefox, which cannot, holds the
// response on its headers (the build for Firefox asks for blocking
// webRequest, Chromium's does not). The manager is handed what the browser
// sent with the download's final request, read from the request itself.
//
// Every listener is registered here at the top level, so that a worker
// started again for an event finds it. Requests and clicks matter only for
// the moment before their download and are kept in memory: a worker stopped
// in between keeps that download in the browser, or offers it without its
// link text. What must outlive the worker (the offer with the host, the
// problem on the button, the list of recent downloads) lives in
// storage.session; the user's settings in storage.sync (settings.js).
import { KEEP_CLICKS, KEEP_REQUESTS, Keep, bypassedBy, clickRecord, keepReason, linkTextOf, remember,
         requestOf, requestRecord } from './decision.js';
import { HOLD_MS, HOST_NAME, badgeFor, buildOffer, fitsHost, limitText, nameFromUrl, problemAfter, readReply,
         responseDownload, toolbarIcon } from './offer.js';
import { Where, recentLog, rememberSendable } from './recent.js';
import { DEFAULTS, loadSettings, openSettings, readSettings } from './settings.js';
import { answeredLate, createMenu, downloadWith, pageMessage, useHost } from './send.js';
import { referrerFor } from './send_rules.js';

const api = globalThis.browser ?? globalThis.chrome;
const pages = { urls: ['http://*/*', 'https://*/*'], types: ['main_frame', 'sub_frame'] };
// Chromium shows a request's Cookie and Referer only when asked for them.
const extraHeaders = Object.values(api.webRequest.OnSendHeadersOptions ?? {}).includes('extraHeaders')
  ? ['extraHeaders'] : [];

const chromium = api.downloads.onDeterminingFilename !== undefined;

api.runtime.onMessage.addListener(rememberClick);
api.storage.onChanged.addListener(followSettings);
api.runtime.onMessage.addListener(pageMessage);
api.runtime.onInstalled.addListener(createMenu);
api.contextMenus.onClicked.addListener(downloadWith);
api.tabs.onRemoved.addListener((tabId) => clicks.delete(tabId));
api.downloads.onCreated.addListener(noteUnheld);
if (chromium) api.downloads.onChanged.addListener(downloadChanged);

// The listeners that watch requests and hold downloads. Paused, the
// extension keeps out of the browser's way: they are removed (followPause),
// so that the browser saves as it would without the extension (a held
// download waits on the worker's answer), and each download is only noted
// as it starts (noteUnheld). They are added here all the same, so that their
// events wake a stopped worker until the settings say otherwise.
const holds = [
  [api.webRequest.onSendHeaders, rememberRequest, pages, ['requestHeaders', ...extraHeaders]],
  ...(chromium ? [[api.webRequest.onHeadersReceived, rememberResponse, pages],
                  [api.downloads.onDeterminingFilename, holdDownload]]
    : [[api.webRequest.onHeadersReceived, holdResponse, pages, ['blocking', 'responseHeaders']]]),
];
for (const [event, listener, ...options] of holds) event.addListener(listener, ...options);

function followPause() {
  for (const [event, listener, ...options] of holds) {
    if (settings.paused) event.removeListener(listener);
    else if (!event.hasListener(listener)) event.addListener(listener, ...options);
  }
}
// A headless browser shows no menu: its tests call the menu's handler here,
// with the tab and frame of a real page, once it is there.
globalThis.downloadWith = downloadWith;

const clicks = new Map(); // tab id -> its latest click on a link
const requests = new Map(); // request id -> what it sent

function rememberClick(message, sender) {
  const click = sender.tab === undefined ? null : clickRecord(message, limitText, Date.now());
  if (click === null) return;
  remember(clicks, sender.tab.id, click, KEEP_CLICKS);
  if (click.keys.includes('alt') && !chromium) {
    withSettings(() => (settings.bypassKey === 'alt' ? saveBypassed(click, sender.url) : null));
  }
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

// The user's settings, kept here as they change so that a download is
// decided the moment the browser hands it over; null until first read.
let settings = null;
const opened = openSettings(api.storage).catch((error) => {
  console.error('WebCorvane: the settings:', error);
  return { area: api.storage.local, settings: readSettings({}) };
});
const settingsPlace = opened.then(({ area }) => area);
let settingsWork = opened.then((open) => follow(open.settings));

function follow(read) {
  settings = read;
  followPause();
  updateButton();
}

async function readAllSettings(area) {
  try {
    follow(await loadSettings(area));
  } catch (error) {
    console.error('WebCorvane: the settings:', error);
  }
}

function followSettings(changes, areaName) {
  if (['sync', 'local', 'managed'].includes(areaName) && Object.keys(changes).some((name) => name in DEFAULTS)) {
    settingsWork = settingsWork.then(() => settingsPlace).then(readAllSettings);
  }
}

// Every download the browser hands over, with where it went and why. A
// Chromium download is noted under its id; Firefox hands over responses, of
// request ids that can equal a download's.
const recent = recentLog(api.storage.session);
const keyOf = (id) => (chromium ? `d:${id}` : `r:${id}`);

// A download the browser starts while no listener holds it (paused), or
// that Firefox never shows a listener (a blob: or data: URL, which has no
// response): noted with its reason, under the name of its URL until the
// browser names it otherwise (Chromium names it later). A download of this
// extension's own is noted where it is started (saveBypassed).
const unheld = new Map(); // download id -> the name it was noted under, until named
const KEEP_UNHELD = 64;
const baseName = (path) => (typeof path === 'string' ? path.split(/[/\\]/).pop() : '');

function noteUnheld(item) {
  if (item.byExtensionId === api.runtime.id) return;
  withSettings(() => {
    const url = item.finalUrl || item.url;
    const held = holds.some(([event, listener]) => event.hasListener(listener));
    if (held && (chromium || /^https?:/i.test(url))) return;
    const name = baseName(item.filename) || nameFromUrl(url) || url;
    if (chromium) remember(unheld, item.id, name, KEEP_UNHELD);
    recent.note({ key: `d:${item.id}`, name, url, at: Date.now(), where: Where.BROWSER,
                  reason: keepReason({ ...item, finalUrl: url }, null, settings, false) });
  });
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
  const bypassed = bypassedBy([...clicks.values()], settings.bypassKey, download, request, handedAt);
  const reason = keepReason(download, request, settings, bypassed);
  if (reason !== null) {
    console.info('WebCorvane: download', download.finalUrl, 'stays with the browser:', reason);
    noteKept(entry, reason, request);
    return null;
  }
  return offer(download, request, linkTextOf(clicks.get(request.tabId), request, handedAt), handedAt)
    .then((answer) => {
      if (answer === null) return false; // offered before: noted then
      if (answer.taken) recent.note({ ...entry, where: Where.MANAGER, reason: answer.reason });
      else noteKept(entry, answer.reason, request);
      return answer.taken;
    });
}

// A download the browser keeps; the user may send it on from the popup when
// the manager can fetch it as the browser did: a GET whose request was seen.
function noteKept(entry, reason, request) {
  const sendable = request !== null && request.method === 'GET';
  if (sendable) {
    rememberSendable(entry.key, { url: request.url, referrer: request.referrer, cookie: request.cookie,
                                  filename: entry.name });
  }
  recent.note({ ...entry, where: Where.BROWSER, reason, sendable });
}

// Once the settings are known; at once when they are.
function withSettings(decide) {
  return settings !== null ? decide() : settingsWork.then(decide);
}

function rememberRequest(details) {
  const record = requestRecord(details, requests.get(details.requestId));
  if (record === null) requests.delete(details.requestId);
  else remember(requests, details.requestId, record, KEEP_REQUESTS);
}

function rememberResponse(details) {
  const request = requests.get(details.requestId);
  if (request?.url === details.url) request.respondedAt = details.timeStamp;
}

// Returning true keeps the download waiting until suggest() is called; a
// download the manager takes is cancelled instead. Whatever fails, the
// browser gets its download back. A download the extension keeps by itself
// is let go at once, unless the worker has just started and is still reading
// the settings.
function holdDownload(item, suggest) {
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

// A response held until the host answers: cancelled when the manager takes
// it, otherwise (another answer, an error, past the hold) let through as it
// came. Anything the browser would not save passes unheld.
function holdResponse(details) {
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

// Offers go to the host one at a time, in the order the browser handed the
// downloads over: each is sent once the one before has its answer or was
// given up. A worker stopped meanwhile thus leaves at most one offer with the
// host; the rest were never sent, and the browser, which lets every held
// download go when the worker stops, keeps them.
let turn = Promise.resolve();
const OFFERING_SHOWN_AFTER_MS = 1000;

// The host's answer ({taken, reason, detail}), or null for a download
// offered before.
function offer(download, request, linkText, handedAt) {
  const message = buildOffer(download, request, linkText, handedAt + HOLD_MS);
  if (!fitsHost(message)) return Promise.resolve({ taken: false, reason: 'bad-message', detail: '' });
  const shown = setTimeout(() => {
    offering.set(download.id, download.filename || download.finalUrl);
    updateButton();
  }, OFFERING_SHOWN_AFTER_MS);
  return inTurn(() => offerInTurn(message)).finally(() => {
    clearTimeout(shown);
    if (offering.delete(download.id)) updateButton();
  });
}

function inTurn(work) {
  const done = turn.then(work);
  turn = done.catch(() => {});
  return done;
}

// While an offer is with the host its key holds the download's name: a
// worker started again finds it there when the browser lets the download go
// (downloadChanged), and a download the browser hands over again is not
// offered twice.
const OFFER = 'offer:';
const keptNames = new Map(); // offer id -> name, of offers that ended without "taken"
const KEEP_NAMES = 32;

async function offerInTurn(message) {
  const key = OFFER + message.id;
  if (Date.now() >= message.deadline) return gaveUp('timed-out');
  if ((await api.storage.session.get(key))[key] !== undefined) return null;
  const name = message.filename || message.url;
  await api.storage.session.set({ [key]: name });
  let answer = null;
  try {
    answer = await ask(message);
  } finally {
    await api.storage.session.remove(key);
    if (answer?.taken !== true) remember(keptNames, message.id, name, KEEP_NAMES);
  }
  // No answer: the port failed (and was dropped), or the hold ran out.
  return answer ?? gaveUp(port === null ? 'host-missing' : 'timed-out');
}

// A download noted unheld, now named by the browser; or one the browser let
// go while its offer was with the host: the worker was stopped, and the
// host's answer went with it.
async function downloadChanged(delta) {
  const named = baseName(delta.filename?.current);
  if (named !== '' && unheld.has(delta.id)) {
    if (named !== unheld.get(delta.id)) recent.note({ key: `d:${delta.id}`, name: named });
    unheld.delete(delta.id);
  }
  if (delta.state === undefined || delta.state.current === 'in_progress' || waiting.has(delta.id)) return;
  const offers = await cutOff;
  const name = offers.get(delta.id);
  if (name === undefined) return;
  offers.delete(delta.id);
  await api.storage.session.remove(OFFER + delta.id);
  updateButton({ maybeTwice: name });
}

// The offers a stopped worker left with the host (id -> name), read once as
// this one starts, so that the end of a download costs no read of storage.
const cutOff = api.storage.session.get(null).then((stored) => new Map(Object.entries(stored)
  .filter(([key]) => key.startsWith(OFFER)).map(([key, name]) => [Number(key.slice(OFFER.length)), name])))
  .catch(() => new Map());

// The host, over one port for as long as it stays up; a port that dropped is
// opened again by the next download.
let port = null;
const waiting = new Map(); // offer id -> function taking the reply or null

const gaveUp = (reason) => ({ taken: false, reason, detail: '', late: false });

function ask(message, waitMs = message.deadline - Date.now()) {
  return new Promise((resolve) => {
    const timer = setTimeout(() => settle(message.id, null), waitMs);
    waiting.set(message.id, (reply) => {
      clearTimeout(timer);
      resolve(reply);
    });
    try {
      if (port === null) port = connect();
      port.postMessage(message);
    } catch (error) {
      hostGone(port, error.message);
    }
  });
}

function settle(id, reply) {
  const resolve = waiting.get(id);
  waiting.delete(id);
  resolve?.(reply);
}

function connect() {
  const opened = api.runtime.connectNative(HOST_NAME);
  opened.onMessage.addListener((message) => {
    if (message?.settings !== undefined) return settle(message.id, message);
    const answer = readReply(message, message?.id);
    if (answer === null) return;
    if (waiting.has(message.id)) {
      settle(message.id, answer);
      updateButton(answer);
    } else if (answer.taken && keptNames.has(message.id)) {
      // Taken after the browser had kept it: now in both places.
      updateButton({ twice: keptNames.get(message.id) });
      recent.note({ key: keyOf(message.id), where: Where.BOTH, reason: 'taken-late' });
    } else {
      answeredLate(message.id, answer);
    }
  });
  opened.onDisconnect.addListener((gone) =>
    hostGone(gone, api.runtime.lastError?.message ?? gone.error?.message ?? 'the host ended'));
  return opened;
}

useHost({ inTurn, ask });

function hostGone(gone, why) {
  if (gone !== port) return;
  port = null;
  for (const id of [...waiting.keys()]) settle(id, null);
  updateButton({ dropped: why });
}

// The toolbar button: the downloads held for more than a moment while they
// are, else the problem it warns of, which outlives the worker. Changes are
// applied one after the other, so that none is lost.
const PROBLEM = 'problem';
const offering = new Map(); // download id -> its name
let problem; // read from storage.session first
let shownBadge = '';
let buttonWork = Promise.resolve();

function updateButton(event) {
  buttonWork = buttonWork.then(async () => {
    if (problem === undefined) problem = (await api.storage.session.get(PROBLEM))[PROBLEM] ?? null;
    const after = event === undefined ? problem : problemAfter(problem, event);
    if (JSON.stringify(after) !== JSON.stringify(problem)) {
      problem = after;
      await api.storage.session.set({ [PROBLEM]: after });
    }
    const badge = badgeFor(problem, [...offering.values()], settings?.paused);
    if (JSON.stringify(badge) === shownBadge) return;
    shownBadge = JSON.stringify(badge);
    const action = api.action ?? api.browserAction;
    const title = api.i18n.getMessage(badge.title[0], badge.title.slice(1));
    await Promise.all([action.setBadgeText({ text: badge.text }), action.setTitle({ title }),
                       action.setBadgeBackgroundColor({ color: badge.color }),
                       action.setIcon({ path: toolbarIcon(badge.icon) })]);
  }).catch((error) => console.error('WebCorvane: the button:', error));
}
