// Links the user sends to the download manager: "Download with WebCorvane"
// in the context menu (a link, or every link of a selection) and the popup's
// "Send to WebCorvane" for a download the browser kept; and the host's
// settings for the options page. The user asked, so the host checks only the
// scheme, not the type list or MonitorBrowsers. Each link goes as the
// browser would fetch it from its page: the referrer the link's and the
// page's referrer policy let the page send, the cookies a navigation there
// would carry, from the tab's own cookie store (a private window's, a
// container's), never another's.
//
// Everything goes through the host's one port and one turn (host.js). Sent
// links take the turn one at a time, each only once the one before was
// answered: a download the browser hands over meanwhile waits behind at most
// one of them, never behind a whole selection, and its hold runs out no
// sooner than it would behind another download.
import { showButton } from './button.js';
import { ask, inTurn, nextId, noAnswer } from './host.js';
import { fitsHost } from './offer.js';
import { pagePolicyOf } from './page_policies.js';
import { inOrder } from './queue.js';
import { Where, recentLog, sendableOf } from './recent.js';
import { linkPolicy, referrerFor } from './referrer_policy.js';
import { FRAME_BOUNDS, SEND_WAIT_MS, cookieHeader, firstPartyOf, hostSettingsOf, linksToSend,
         sentOffer } from './send_rules.js';
import { nameFromUrl } from './url_rules.js';

const api = globalThis.browser ?? globalThis.chrome;

export const MENU_ID = 'download-with';
// The host answers a settings message after the offer it may be busy with.
const SETTINGS_WAIT_MS = 15000;

// The menu lasts across the worker's restarts; it is made again when the
// extension is installed or updated.
export async function createMenu() {
  await api.contextMenus.removeAll();
  api.contextMenus.create({
    id: MENU_ID,
    title: api.i18n.getMessage('menuDownloadWith'),
    contexts: ['link', 'selection'],
    targetUrlPatterns: ['http://*/*', 'https://*/*'],
  }, () => void api.runtime.lastError);
}

// Entries' keys carry the worker's start, so that a restarted worker does
// not reuse one still in the list.
const started = Date.now();
let sentLinks = 0;
const recent = (incognito) => recentLog(api.storage.session, incognito);
const sendInOrder = inOrder();

// Offers `request` ({url, referrer, cookie, filename, linkText}) past the
// type list and the switch: {taken, reason}. `late` is called if the
// manager takes it after its answer said otherwise.
export function sendToManager(request, late = () => {}) {
  return inTurn(() => {
    const message = sentOffer(nextId(), request, Date.now() + SEND_WAIT_MS);
    return fitsHost(message) ? ask(message, { late }) : { taken: false, reason: 'bad-message' };
  }).then((answer) => ({ taken: answer?.taken === true, reason: answer?.reason ?? noAnswer() }));
}

// The menu's click: the links of the frame it names, each sent once, in
// page order. Resolves when the last was answered.
export async function downloadWith(info, tab) {
  if (info.menuItemId !== MENU_ID) return [];
  const question = { type: 'menu-links', ...FRAME_BOUNDS };
  const found = tab?.id === undefined ? null : await api.tabs.sendMessage(tab.id, question,
    { frameId: info.frameId ?? 0 }).catch(() => null); // no content script there
  const links = linksToSend(info, found);
  const page = info.frameUrl ?? info.pageUrl ?? '';
  const pages = [page, info.pageUrl ?? page];
  const [store, served] = await Promise.all([cookieStoreOf(tab), pagePolicyOf(tab?.id, info.frameId ?? 0, page)]);
  const incognito = tab?.incognito === true;
  return Promise.all(links.map((link) => sendInOrder(async () => {
    const referrer = referrerFor(page, link.url, linkPolicy(link, found?.meta, served));
    const request = { url: link.url, referrer, filename: nameFromUrl(link.url),
                      cookie: store === null ? '' : await cookiesFor(link.url, pages, store), linkText: link.text };
    sentLinks += 1;
    const entry = { key: `s:${started}:${sentLinks}`, name: request.filename || request.url, url: request.url };
    // Taken late, perhaps right behind the answer, before the answer is noted.
    let takenLate = false;
    const answer = await sendToManager(request, () => {
      takenLate = true;
      recent(incognito).note({ ...entry, where: Where.MANAGER, reason: 'taken' });
    });
    entry.at = Date.now();
    const [where, reason] = answer.taken ? [Where.MANAGER, answer.reason]
      : takenLate ? [Where.MANAGER, 'taken'] : [Where.NONE, answer.reason];
    recent(incognito).note({ ...entry, where, reason });
    return answer;
  }).catch((error) => {
    console.error('WebCorvane: link', link.url, 'not sent:', error);
    return { taken: false, reason: 'host-missing' };
  })));
}

// The tab's cookie store: Firefox names it on the tab (containers, private
// windows); Chromium lists the tabs of each store (incognito). Null for a
// private tab whose store is not found: no cookies rather than the normal
// windows'.
async function cookieStoreOf(tab) {
  if (tab?.cookieStoreId !== undefined) return tab.cookieStoreId;
  const store = tab?.id === undefined ? undefined
    : (await api.cookies.getAllCookieStores()).find((each) => each.tabIds.includes(tab.id))?.id;
  return store === undefined && tab?.incognito === true ? null : store;
}

async function cookiesFor(url, pages, storeId) {
  const query = storeId === undefined ? { url } : { url, storeId };
  let cookies;
  try {
    cookies = await api.cookies.getAll(query);
  } catch {
    // Firefox with first-party isolation wants the first party named.
    cookies = firstPartyOf(await api.cookies.getAll({ ...query, firstPartyDomain: null }), url);
  }
  return cookieHeader(cookies, url, pages);
}

// The popup's "Send to WebCorvane": the kept download of a recent entry, as
// the browser fetched it. The browser's copy stays, so a taken one is in
// both places.
const sendingKept = new Map(); // list:key -> its answer, while it is sent

async function sendKept(key, incognito) {
  const request = await sendableOf(api.storage.session, key, incognito);
  if (request === undefined) return { taken: false, reason: 'unknown-request' };
  const sending = `${incognito}:${key}`;
  if (!sendingKept.has(sending)) {
    const both = () => recent(incognito).note({ key, where: Where.BOTH, reason: 'taken' });
    sendingKept.set(sending, sendToManager({ ...request, linkText: '' }, both).then(async (answer) => {
      if (answer.taken) await both();
      return answer;
    }).finally(() => sendingKept.delete(sending)));
  }
  return sendingKept.get(sending);
}

async function hostSettings() {
  const reply = await ask({ id: nextId(), type: 'settings' }, { waitMs: SETTINGS_WAIT_MS });
  return hostSettingsOf(reply, 'The browser host did not answer.');
}

// The popup's "Dismiss" of a download in two places, or perhaps: the user
// has seen it; the list keeps the entry, the button lets its warning go.
async function dismiss(key, incognito) {
  await recent(incognito).note({ key, dismissed: true });
  await showButton({ dismissed: true });
  return true;
}

// Messages of the extension's own pages (the popup, the options page); a
// page's content script can send none of these.
export function pageMessage(message, sender, sendResponse) {
  if (sender.id !== api.runtime.id || !String(sender.url).startsWith(api.runtime.getURL(''))) return undefined;
  let answer;
  if (message?.type === 'send-to-manager' && typeof message.key === 'string') {
    answer = sendKept(message.key, message.incognito === true).catch(() => ({ taken: false, reason: 'host-missing' }));
  } else if (message?.type === 'dismiss' && typeof message.key === 'string') {
    answer = dismiss(message.key, message.incognito === true);
  } else if (message?.type === 'host-settings') {
    answer = hostSettings().catch((error) => hostSettingsOf(null, String(error)));
  } else {
    return undefined;
  }
  answer.then(sendResponse);
  return true;
}
