// Offers each download to the WebCorvane download manager through its native
// messaging host, and cancels it in the browser when the manager takes it.
// Chromium holds the download itself; Firefox, which cannot, holds the
// response on its headers (the build for Firefox asks for blocking webRequest,
// Chromium's does not). Every listener is registered here at the top level, so that a worker
// started again for an event finds it; what must outlive the worker (the
// clicked links, the downloads already offered, the problem on the badge)
// lives in storage.session.
import { OFFER_BOUND_MS, badgeFor, buildOffer, cookieString, fitsHost, limitText, linkTextFor,
         problemAfter, readReply, responseDownload } from './offer.js';

const api = globalThis.browser ?? globalThis.chrome;
const HOST = 'com.webcorvane.handoff';
const CLICK = 'click:';
const OFFERED = 'offered';
const KEEP_OFFERED = 200;

api.runtime.onMessage.addListener(rememberClick);
api.tabs.onRemoved.addListener((tabId) => api.storage.session.remove(CLICK + tabId));
if (api.downloads.onDeterminingFilename) {
  api.downloads.onDeterminingFilename.addListener(holdDownload);
} else if (api.webRequest?.onHeadersReceived) {
  const pages = { urls: ['http://*/*', 'https://*/*'], types: ['main_frame', 'sub_frame'] };
  api.webRequest.onBeforeRedirect.addListener(rememberRedirect, pages);
  api.webRequest.onHeadersReceived.addListener(holdResponse, pages, ['blocking', 'responseHeaders']);
}

function rememberClick(message, sender) {
  if (message?.type !== 'link-click' || sender.tab === undefined || typeof message.url !== 'string') return;
  const text = typeof message.text === 'string' ? limitText(message.text) : '';
  api.storage.session.set({ [CLICK + sender.tab.id]: { url: message.url, text, at: Date.now() } });
}

// Returning true keeps the download waiting until suggest() is called; a
// download the manager takes is cancelled instead. Whatever fails, the
// browser gets its download back.
function holdDownload(item, suggest) {
  offer(item)
    .then((taken) => (taken ? drop(item.id) : suggest()))
    .catch((error) => {
      console.error('WebCorvane: download', item.id, 'kept:', error);
      suggest();
    });
  return true;
}

// A response held until the host answers: cancelled when the manager takes
// it, otherwise (another answer, an error, past the bound) let through as it
// came. Anything the browser would not save passes unheld.
function holdResponse(details) {
  const firstUrl = redirectedFrom.get(details.requestId) ?? details.url;
  if (details.statusCode >= 300 && details.statusCode < 400) return undefined; // decided on the final URL
  redirectedFrom.delete(details.requestId);
  const item = responseDownload(details, firstUrl, canPlay);
  if (item === null) return undefined;
  return offer(item, details.cookieStoreId)
    .then((taken) => (taken ? { cancel: true } : {}))
    .catch((error) => {
      console.error('WebCorvane: response', item.finalUrl, 'kept:', error);
      return {};
    });
}

// The first URL of a redirected request, for the link text clicked on it.
// Only for the few moments of the request: a background restarted in between
// loses a link's text, never a download.
const redirectedFrom = new Map(); // request id -> its first URL
const KEEP_REDIRECTS = 100;

function rememberRedirect(details) {
  if (redirectedFrom.has(details.requestId)) return;
  if (redirectedFrom.size >= KEEP_REDIRECTS) redirectedFrom.delete(redirectedFrom.keys().next().value);
  redirectedFrom.set(details.requestId, details.url);
}

const player = globalThis.document?.createElement('video');
const canPlay = (type) => player === undefined || player.canPlayType(type) !== '';

async function drop(id) {
  await api.downloads.cancel(id);
  await api.downloads.erase({ id });
}

async function offer(item, storeId) {
  if (!(await firstOffer(item.id))) return false;
  const [stored, cookie] = await Promise.all([api.storage.session.get(null),
                                              cookieFor(item.finalUrl || item.url, storeId)]);
  const clicks = Object.keys(stored).filter((key) => key.startsWith(CLICK)).map((key) => stored[key]);
  const message = buildOffer(item, linkTextFor(clicks, item), cookie);
  if (!fitsHost(message)) return false;
  const answer = await ask(message);
  return answer !== null && answer.taken;
}

// One download gives one offer, even when the browser asks again.
async function firstOffer(id) {
  const offered = (await api.storage.session.get(OFFERED))[OFFERED] ?? [];
  if (offered.includes(id)) return false;
  await api.storage.session.set({ [OFFERED]: [...offered.slice(1 - KEEP_OFFERED), id] });
  return true;
}

// storeId: Firefox's container or private window the request came from.
async function cookieFor(url, storeId) {
  if (!/^https?:/i.test(url)) return '';
  return cookieString(await api.cookies.getAll(storeId === undefined ? { url } : { url, storeId }));
}

// The host, over one port for as long as it stays up; a port that dropped is
// opened again by the next download.
let port = null;
const waiting = new Map(); // offer id -> function taking the reply or null

function ask(message) {
  return new Promise((resolve) => {
    const timer = setTimeout(() => settle(message.id, null), OFFER_BOUND_MS);
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
  const opened = api.runtime.connectNative(HOST);
  opened.onMessage.addListener((message) => {
    const answer = readReply(message, message?.id);
    if (answer === null || !waiting.has(message.id)) return; // late, after the bound
    settle(message.id, answer);
    noteProblem(answer);
  });
  opened.onDisconnect.addListener((gone) =>
    hostGone(gone, api.runtime.lastError?.message ?? gone.error?.message ?? 'the host ended'));
  return opened;
}

function hostGone(gone, why) {
  if (gone !== port) return;
  port = null;
  for (const id of [...waiting.keys()]) settle(id, null);
  noteProblem({ dropped: why });
}

async function noteProblem(event) {
  const before = (await api.storage.session.get('problem')).problem ?? null;
  const after = problemAfter(before, event);
  if (JSON.stringify(after) === JSON.stringify(before)) return;
  await api.storage.session.set({ problem: after });
  const { text, title } = badgeFor(after);
  const action = api.action ?? api.browserAction;
  await Promise.all([action.setBadgeText({ text }), action.setTitle({ title }),
                     action.setBadgeBackgroundColor({ color: '#c62828' })]);
}
