// A small stand-in for the browser's extension API, enough for the
// background's modules under Node: events the test fires, storage areas that
// outlive a worker, downloads, the toolbar button, and a native port whose
// other end the test plays as the host. `worker()` starts the background
// afresh (a copy of extension/, so that every module is a new instance) over
// the same storage, as the browser starts a stopped worker again.
import { cpSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const EXTENSION = new URL('../../extension/', import.meta.url);
const ID = 'ext';
const copies = mkdtempSync(join(tmpdir(), 'worker-'));
process.on('exit', () => rmSync(copies, { recursive: true, force: true }));
let workers = 0;

function event() {
  const listeners = [];
  return {
    listeners,
    addListener: (listener) => listeners.push(listener),
    removeListener: (listener) => listeners.includes(listener) && listeners.splice(listeners.indexOf(listener), 1),
    hasListener: (listener) => listeners.includes(listener),
    fire: (...args) => listeners.map((listener) => listener(...args)),
  };
}

// A webRequest event, as the browser fires it: to each listener whose filter
// takes the request (of type main_frame unless said), with the headers it
// asked for (Chromium hides Cookie and Referer without extraHeaders); only a
// blocking listener's answer counts.
function requestEvent(chromium) {
  const base = event();
  const asked = new Map(); // listener -> [filter, what it asked to be shown]
  const addListener = (listener, filter, extraInfo = []) => {
    if (!Array.isArray(filter?.urls) || !filter.urls.every((url) => /^(\*|https?):\/\/[^/]+\/.*$/.test(url))) {
      throw new Error('Invalid url pattern');
    }
    asked.set(listener, [filter, extraInfo]);
    base.addListener(listener);
  };
  const shaped = (details, extraInfo) => {
    const seen = { type: 'main_frame', ...details };
    if (!extraInfo.includes('responseHeaders')) delete seen.responseHeaders;
    if (!extraInfo.includes('requestHeaders')) delete seen.requestHeaders;
    else if (chromium && !extraInfo.includes('extraHeaders')) {
      seen.requestHeaders = seen.requestHeaders.filter(({ name }) => !/^(cookie|referer)$/i.test(name));
    }
    return seen;
  };
  const fire = (details) => base.listeners.map((listener) => {
    const [{ urls, types }, extraInfo] = asked.get(listener);
    const type = details.type ?? 'main_frame';
    if (!urls.some((url) => details.url.startsWith(url.replace(/\*\/\*$/, ''))) || !(types?.includes(type) ?? true)) {
      return undefined;
    }
    const answer = listener(shaped(details, extraInfo));
    return chromium || extraInfo.includes('blocking') ? answer : undefined;
  });
  return { ...base, addListener, fire };
}

// What the browser keeps while it runs: the storage areas' contents, what
// the button shows, what the host was sent, who waits for a download's
// cancellation (id -> function), the downloads erased and whose files were
// deleted, the browser's list of downloads (as downloads.search gives them),
// the downloads the extension started, what a frame's content script answers
// the context menu, the tabs' pages (tab id -> what its content script
// answers when asked for its last click), the cookies of every URL (each with
// the storeId of its cookie store) and the windows, with whether each is
// private.
export function browserState() {
  return { stored: { session: {}, sync: {}, local: {}, managed: {} }, badge: { text: '', title: '', icon: 'normal' },
           hostSaw: [], onCancel: new Map(), erased: [], removedFiles: [], items: [], started: [], frame: null,
           pages: new Map(), cookies: [], menu: [], portFails: null, windows: [{ id: 1, incognito: false }],
           reads: { session: 0, sync: 0, local: 0, managed: 0 }, unreadable: [], connections: 0, asked: [],
           cookieQueries: [], firstPartyIsolation: false, sandboxed: [] };
}

// The API of one worker; `stop()` ends it: from then on nothing it asks is
// answered.
export function fakeApi(state, { chromium = true } = {}) {
  let stopped = false;
  const answer = (value) => (stopped ? new Promise(() => {}) : Promise.resolve(value));
  const copy = (value) => (value === undefined ? undefined : JSON.parse(JSON.stringify(value)));
  const onChanged = event();
  const area = (name) => {
    const items = state.stored[name];
    const pick = (keys) => (keys === null ? Object.keys(items) : [keys].flat());
    return {
      get(keys) {
        state.reads[name] += 1;
        if (state.unreadable.includes(name)) return Promise.reject(new Error(`${name} cannot be read`));
        return answer(Object.fromEntries(pick(keys).filter((key) => key in items).map((key) => [key, copy(items[key])])));
      },
      set(values) {
        if (stopped) return answer();
        const changes = Object.fromEntries(Object.entries(values).map(([key, value]) => [key, { newValue: value }]));
        Object.assign(items, copy(values));
        onChanged.fire(changes, name);
        return answer();
      },
      remove(keys) {
        if (!stopped) for (const key of [keys].flat()) delete items[key];
        return answer();
      },
    };
  };
  const port = () => {
    const self = { onMessage: event(), onDisconnect: event(), postMessage(message) {
      if (state.portFails !== null) throw new Error(state.portFails);
      state.hostSaw.push(message);
    } };
    state.port = self;
    state.connections += 1;
    return self;
  };
  const api = {
    runtime: { id: ID, onMessage: event(), onInstalled: event(), connectNative: port, lastError: undefined,
               getURL: (path) => `chrome-extension://${ID}/${path}` },
    storage: { onChanged, session: area('session'), sync: area('sync'), local: area('local'), managed: area('managed') },
    commands: { onCommand: event() },
    downloads: { onCreated: event(), onChanged: event(), ...(chromium ? { onDeterminingFilename: event() } : {}),
                 cancel: (id) => answer(state.onCancel.get(id)?.()), erase: ({ id }) => answer(state.erased.push(id)),
                 download: (options) => answer(state.started.push(options)),
                 search: (query) => answer(state.items.filter((item) => Object.entries(query)
                   .every(([field, value]) => item[field] === value))),
                 removeFile: (id) => answer(state.removedFiles.push(id)) },
    webRequest: { onSendHeaders: requestEvent(chromium), onHeadersReceived: requestEvent(chromium),
                  ...(chromium ? { OnSendHeadersOptions: { EXTRA_HEADERS: 'extraHeaders' } } : {}) },
    action: { setBadgeText: ({ text }) => answer((state.badge.text = text)),
              setTitle: ({ title }) => answer((state.badge.title = title)), setBadgeBackgroundColor: () => answer(),
              setIcon: ({ path }) => answer((state.badge.icon = /([a-z]+)-16\.png$/.exec(path[16])[1])) },
    i18n: { getMessage: (key, substitutions = []) => [key, ...substitutions].join(' ') },
    contextMenus: { onClicked: event(), removeAll: () => answer(), create: (item) => state.menu.push(item) },
    tabs: { onRemoved: event(), query: () => answer([...state.pages.keys()].map((id) => ({ id }))),
            sendMessage: (tabId, message, options) => {
              state.asked.push({ tabId, type: message.type, ...options });
              if (message.type === 'last-click') return answer(state.pages.get(tabId)?.(message));
              if (message.type === 'frame-sandboxed') return answer(state.sandboxed.includes(message.frameId));
              return answer(message.type === 'menu-links' ? state.frame : undefined);
            } },
    // Firefox with first-party isolation refuses a query that names no first party.
    cookies: { getAll: (query) => {
      state.cookieQueries.push(query);
      const { storeId = '0' } = query;
      return state.firstPartyIsolation && !('firstPartyDomain' in query) ? Promise.reject(new Error('firstPartyDomain'))
        : answer(state.cookies.filter((c) => (c.storeId ?? '0') === storeId));
    }, getAllCookieStores: () => answer([{ id: '0', tabIds: [4] }, { id: '1', tabIds: [5] }]) },
    windows: { onRemoved: event(), getAll: () => answer(state.windows) },
  };
  api.stop = () => { stopped = true; };
  return api;
}

// A worker of the background over `state`: its API, once its modules ran.
export async function worker(state, options) {
  const api = fakeApi(state, options);
  const folder = join(copies, String(workers += 1));
  cpSync(EXTENSION, folder, { recursive: true, filter: (path) => !path.includes('_locales') });
  globalThis.chrome = api;
  await import(join(folder, 'background.js'));
  return api;
}

// A frame from the host, as the port delivers it.
export const reply = (state, message) => state.port.onMessage.fire(message);

// Lets every pending promise of the worker run.
export const settle = async () => { for (let i = 0; i < 20; i += 1) await new Promise(setImmediate); };
