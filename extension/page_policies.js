// The referrer policy each frame's document was served with (its
// Referrer-Policy header), for the links the user sends from it: a page's
// script cannot read its own headers, so the content script cannot tell.
// Kept in storage.session, as the menu is mostly used long after the page
// loaded and its worker stopped; only for documents that name a policy, and
// bounded.
import { header } from './http_headers.js';
import { headerPolicy } from './referrer_policy.js';
import { withoutFragment } from './url_rules.js';

const api = globalThis.browser ?? globalThis.chrome;

const KEY = 'pagePolicies';
const KEEP_PAGES = 64;

// tab id:frame id -> {url, policy}, read once as the worker starts.
let pages = null;
const loaded = () => (pages ??= api.storage.session.get(KEY)
  .then((stored) => new Map(Object.entries(stored[KEY] ?? {}))).catch(() => new Map()));
const save = (known) => api.storage.session.set({ [KEY]: Object.fromEntries(known) })
  .catch((error) => console.error('WebCorvane: the pages\' referrer policies:', error));

// webRequest.onHeadersReceived of frames, with their headers. A page
// without a policy costs no write, unless it replaces one that had one.
export function notePagePolicy(details) {
  if (details.tabId < 0 || details.statusCode < 200 || details.statusCode > 299) return;
  const policy = headerPolicy(header(details.responseHeaders, 'referrer-policy'));
  const frame = `${details.tabId}:${details.frameId}`;
  loaded().then((known) => {
    if (policy === '' && !known.has(frame)) return undefined;
    known.delete(frame);
    if (policy !== '') known.set(frame, { url: withoutFragment(details.url), policy });
    while (known.size > KEEP_PAGES) known.delete(known.keys().next().value);
    return save(known);
  });
}

// The header's policy of the document at `url` in the frame, '' when none
// is known.
export async function pagePolicyOf(tabId, frameId, url) {
  const page = (await loaded()).get(`${tabId}:${frameId}`);
  return page !== undefined && page.url === withoutFragment(url) ? page.policy : '';
}

// Forgets the pages of tabs that are gone (a private session's, once its
// last window closed).
export async function forgetClosedTabs() {
  const known = await loaded();
  const open = new Set((await api.tabs.query({})).map((tab) => String(tab.id)));
  const gone = [...known.keys()].filter((frame) => !open.has(frame.split(':', 1)[0]));
  if (gone.length === 0) return;
  for (const frame of gone) known.delete(frame);
  await save(known);
}
