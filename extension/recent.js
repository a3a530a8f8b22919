// The last downloads the extension saw, newest first: where each went and
// why, for the toolbar popup. Kept in storage.session, which lasts while the
// browser runs and outlives a stopped worker; bounded, as a page can make the
// browser start as many downloads as it likes. Private windows' downloads
// (where the user let the extension run there) have a list of their own:
// shown only in a private window's popup, and gone with the private session
// (forget), so that nothing of it is left once its last window closed.
import { inOrder } from './queue.js';

export const RECENT_KEY = 'recent';
export const PRIVATE_RECENT_KEY = 'recentPrivate';
export const listKey = (incognito) => (incognito === true ? PRIVATE_RECENT_KEY : RECENT_KEY);
export const KEEP_RECENT = 20;

// Where a download ended: with the download manager, with the browser, in
// both (the manager took it after the browser had saved it, or the user sent
// the browser's copy on), with the browser and perhaps with the manager too
// (its offer was cut off, and nobody knows what the agent did), or nowhere (a
// link the user sent that the manager did not take: the browser never had
// it).
export const Where = Object.freeze({ MANAGER: 'manager', BROWSER: 'browser', BOTH: 'both', MAYBE_BOTH: 'maybe-both',
                                     NONE: 'none' });

// A page names its files and makes its URLs (data: ones, say) as long as it
// likes; the list keeps enough of each to show, and stays small.
export const MAX_SHOWN_CHARS = 1024;
const bounded = (text) => (typeof text !== 'string' || text.length <= MAX_SHOWN_CHARS ? text
  : `${text.slice(0, MAX_SHOWN_CHARS - 1).replace(/[\ud800-\udbff]$/, '')}…`);

// The list after `change`, an entry ({key, name, url, where, reason, at,
// `sendable` when the popup may offer to send it on, `dismissed` once the
// user has seen that it is in two places}): an entry of the same key is
// updated in place (a download's answer after its hold, say), any other goes
// first; the oldest fall off. A dismissal of an entry no longer listed
// changes nothing.
export function recentAfter(list, change) {
  const entry = { ...change };
  for (const field of ['name', 'url']) if (field in entry) entry[field] = bounded(entry[field]);
  const at = list.findIndex((e) => e.key === entry.key);
  if (at !== -1) return list.map((e, i) => (i === at ? { ...e, ...entry } : e));
  if (entry.dismissed) return list;
  return [entry, ...list].slice(0, KEEP_RECENT);
}

// The list in `area` (storage.session), the private windows' when
// `incognito`, changed one entry at a time: each change reads what the one
// before wrote, so that none is lost. One log per list, however many callers
// ask for it: two would each read the list before the other's change was
// written.
const logs = new WeakMap(); // area -> list key -> its log

export function recentLog(area, incognito = false) {
  if (!logs.has(area)) logs.set(area, new Map());
  const key = listKey(incognito);
  if (!logs.get(area).has(key)) logs.get(area).set(key, newLog(area, key));
  return logs.get(area).get(key);
}

// What the browser sent for a download it kept ({url, referrer, cookie,
// filename}), so that the user can send it on as the browser fetched it,
// also from a worker started since: under its entry's key, for as long as
// the entry is listed. storage.session holds 1 MB in Chromium before 112 and
// Firefox before 131 (10 MB since): a request is kept only when this bound
// leaves room for the whole list.
const sendableKey = (list, key) => (list === RECENT_KEY ? `sendable:${key}` : `sendable:${list}:${key}`);
export const MAX_SENDABLE_BYTES = 32 * 1024;
const fits = (request) => new TextEncoder().encode(JSON.stringify(request)).length <= MAX_SENDABLE_BYTES;

// `request`, when given, is what the browser sent for the entry's download:
// the entry is `sendable` when it is kept. `forget()` removes the list and
// every request kept for it.
function newLog(area, listed) {
  const inTurn = inOrder();
  const failed = (error) => console.error('WebCorvane: the list of downloads:', error);
  return {
    note: (entry, request = undefined) => inTurn(async () => {
      const list = (await area.get(listed))[listed] ?? [];
      const kept = request !== undefined && fits(request);
      const after = recentAfter(list, request === undefined ? entry : { ...entry, sendable: kept });
      await area.set({ [listed]: after, ...(kept ? { [sendableKey(listed, entry.key)]: request } : {}) });
      const gone = list.filter((e) => e.sendable && !after.some((shown) => shown.key === e.key));
      if (gone.length > 0) await area.remove(gone.map((e) => sendableKey(listed, e.key)));
    }).catch(failed),
    forget: () => inTurn(async () => {
      const list = (await area.get(listed))[listed];
      if (list !== undefined) await area.remove([listed, ...list.map((e) => sendableKey(listed, e.key))]);
    }).catch(failed),
  };
}

// The request kept for the entry of `key` of the list, or undefined.
export async function sendableOf(area, key, incognito = false) {
  const stored = sendableKey(listKey(incognito), key);
  return (await area.get(stored))[stored];
}
