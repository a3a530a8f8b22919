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
// problem on the button) lives in storage.session.
import { KEEP_CLICKS, KEEP_REQUESTS, clickRecord, keepReason, linkTextOf, remember, requestOf,
         requestRecord } from './decision.js';
import { HOLD_MS, HOST_NAME, badgeFor, buildOffer, fitsHost, limitText, problemAfter, readReply,
         responseDownload } from './offer.js';
import { Where, recentLog, rememberSendable } from './recent.js';
import { answeredLate, createMenu, downloadWith, pageMessage, useHost } from './send.js';

const api = globalThis.browser ?? globalThis.chrome;
const pages = { urls: ['http://*/*', 'https://*/*'], types: ['main_frame', 'sub_frame'] };
// Chromium shows a request's Cookie and Referer only when asked for them.
const extraHeaders = Object.values(api.webRequest.OnSendHeadersOptions ?? {}).includes('extraHeaders')
  ? ['extraHeaders'] : [];

api.runtime.onMessage.addListener(rememberClick);
api.runtime.onMessage.addListener(pageMessage);
api.runtime.onInstalled.addListener(createMenu);
api.contextMenus.onClicked.addListener(downloadWith);
api.tabs.onRemoved.addListener((tabId) => clicks.delete(tabId));
api.webRequest.onSendHeaders.addListener(rememberRequest, pages, ['requestHeaders', ...extraHeaders]);
if (api.downloads.onDeterminingFilename) {
  api.webRequest.onHeadersReceived.addListener(rememberResponse, pages);
  api.downloads.onDeterminingFilename.addListener(holdDownload);
  api.downloads.onChanged.addListener(downloadEnded);
} else {
  api.webRequest.onHeadersReceived.addListener(holdResponse, pages, ['blocking', 'responseHeaders']);
}
// A headless browser shows no menu: its tests call the menu's handler here,
// with the tab and frame of a real page, once it is there.
globalThis.downloadWith = downloadWith;

const clicks = new Map(); // tab id -> its latest click on a link
const requests = new Map(); // request id -> what it sent

function rememberClick(message, sender) {
  const click = sender.tab === undefined ? null : clickRecord(message, limitText, Date.now());
  if (click !== null) remember(clicks, sender.tab.id, click, KEEP_CLICKS);
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

// Whether the download stays with the browser before the host is asked (the
// rules and their reasons: decision.js), as soon as the browser hands it over.
function keptHere(download, request) {
  const reason = keepReason(download, request);
  if (reason !== null) console.info('WebCorvane: download', download.finalUrl, 'stays with the browser:', reason);
  return reason !== null;
}

// Returning true keeps the download waiting until suggest() is called; a
// download the manager takes is cancelled instead. Whatever fails, the
// browser gets its download back.
function holdDownload(item, suggest) {
  const handedAt = Date.now();
  const [requestId, request] = requestOf(requests, item) ?? [null, null];
  requests.delete(requestId);
  if (keptHere(item, request)) return false;
  offer(item, request, linkTextOf(clicks.get(request.tabId), request, handedAt), handedAt)
    .then((taken) => (taken ? drop(item.id) : suggest()))
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
  if (download === null || keptHere(download, request)) return undefined;
  return offer(download, request, linkTextOf(clicks.get(details.tabId), request, handedAt), handedAt)
    .then((taken) => (taken ? { cancel: true } : {}))
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

function offer(download, request, linkText, handedAt) {
  const message = buildOffer(download, request, linkText, handedAt + HOLD_MS);
  if (!fitsHost(message)) return Promise.resolve(false);
  const shown = setTimeout(() => {
    offering.set(download.id, download.filename || download.finalUrl);
    updateButton();
  }, OFFERING_SHOWN_AFTER_MS);
  return inTurn(() => offerInTurn(message)).then((answer) => answer?.taken === true).finally(() => {
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
// (downloadEnded), and a download the browser hands over again is not
// offered twice.
const OFFER = 'offer:';
const keptNames = new Map(); // offer id -> name, of offers that ended without "taken"
const KEEP_NAMES = 32;

async function offerInTurn(message) {
  const key = OFFER + message.id;
  if (Date.now() >= message.deadline || (await api.storage.session.get(key))[key] !== undefined) return null;
  const name = message.filename || message.url;
  await api.storage.session.set({ [key]: name });
  let answer = null;
  try {
    answer = await ask(message);
  } finally {
    await api.storage.session.remove(key);
    if (answer?.taken !== true) {
      remember(keptNames, message.id, name, KEEP_NAMES);
      keptAfterOffer(message, answer);
    }
  }
  return answer;
}

// A download offered and kept by the browser, in the list with what its
// request sent, so that the user can send it on.
function keptAfterOffer(message, answer) {
  const key = `d:${message.id}`;
  rememberSendable(key, { url: message.url, referrer: message.referrer, cookie: message.cookie,
                          filename: message.filename });
  recentLog(api.storage.session).note({ key, name: message.filename || message.url, url: message.url,
                                        where: Where.BROWSER, reason: answer?.reason ?? 'host-missing',
                                        at: Date.now() });
}

// A download the browser let go while its offer was with the host: the
// worker was stopped, and the host's answer went with it.
async function downloadEnded(delta) {
  if (delta.state === undefined || delta.state.current === 'in_progress' || waiting.has(delta.id)) return;
  const key = OFFER + delta.id;
  const name = (await api.storage.session.get(key))[key];
  if (name === undefined) return;
  await api.storage.session.remove(key);
  updateButton({ maybeTwice: name });
}

// The host, over one port for as long as it stays up; a port that dropped is
// opened again by the next download.
let port = null;
const waiting = new Map(); // offer id -> function taking the reply or null

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
    const badge = badgeFor(problem, [...offering.values()]);
    if (JSON.stringify(badge) === shownBadge) return;
    shownBadge = JSON.stringify(badge);
    const action = api.action ?? api.browserAction;
    await Promise.all([action.setBadgeText({ text: badge.text }), action.setTitle({ title: badge.title }),
                       action.setBadgeBackgroundColor({ color: badge.color })]);
  }).catch((error) => console.error('WebCorvane: the button:', error));
}
