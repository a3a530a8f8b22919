// The background's edges, against the fake browser: what a worker finds as
// it starts, a port that fails, what Firefox lets pass, a download taken, and
// a sent link the manager takes late.
import { mock, test } from 'node:test';
import assert from 'node:assert/strict';
import { browserState, reply, settle, worker } from './fake_browser.mjs';

mock.timers.enable({ apis: ['setTimeout', 'Date'], now: Date.now() });

const popup = { id: 'ext', url: 'chrome-extension://ext/popup.html' };
const ask = (api, message, sender = popup) => new Promise((resolve) => api.runtime.onMessage.fire(message, sender, resolve));
const menu = (api, linkUrl) => api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/p', linkUrl },
  { id: 4 })[0];
const entries = (state) => (state.stored.session.recent ?? []).map(({ name, where, reason }) => `${name} ${where} ${reason}`);

test('a worker started again shows the problem left on the button, and makes the menu once installed', async () => {
  const state = browserState();
  state.stored.session.problem = { what: 'host', detail: 'gone' };
  const api = await worker(state);
  api.runtime.onInstalled.fire();
  await settle();
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host gone' });
  assert.deepEqual(state.menu, [{ id: 'download-with', title: 'menuDownloadWith', contexts: ['link', 'selection'],
                                  targetUrlPatterns: ['http://*/*', 'https://*/*'] }]);
});

test('a port that fails when written to: the host is missing; a download no worker noted cannot be sent', async () => {
  const state = browserState();
  const api = await worker(state);
  state.portFails = 'disconnected port';
  assert.deepEqual(await ask(api, { type: 'send-to-manager', key: 'd:9' }), { taken: false, reason: 'unknown-request' });
  assert.deepEqual(await menu(api, 'http://h/a.zip'), [{ taken: false, reason: 'host-missing' }]);
  await settle();
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host disconnected port' });
  assert.deepEqual([state.hostSaw, entries(state)], [[], ['a.zip none host-missing']]);
});

test('a sent link the manager takes after its answer said otherwise is listed as taken', async () => {
  const state = browserState();
  const api = await worker(state);
  const sent = menu(api, 'http://h/a.zip');
  await settle();
  reply(state, { id: state.hostSaw[0].id, taken: false, reason: 'timed-out' });
  reply(state, { id: state.hostSaw[0].id, taken: true, reason: 'taken', late: true });
  assert.deepEqual(await sent, [{ taken: false, reason: 'timed-out' }]);
  await settle();
  assert.deepEqual(entries(state), ['a.zip manager taken']);
});

test("a download the manager took leaves the browser's list", async () => {
  const state = browserState();
  const api = await worker(state);
  const url = 'http://h/a.zip';
  api.webRequest.onSendHeaders.fire({ requestId: '1', url, method: 'GET', tabId: 1,
                                      requestHeaders: [{ name: 'Cookie', value: 'c=1' }] });
  api.webRequest.onHeadersReceived.fire({ requestId: '1', url, timeStamp: Date.now() });
  api.downloads.onDeterminingFilename.fire({ id: 1, url, finalUrl: url, filename: 'a.zip',
                                            startTime: new Date().toISOString() }, () => {});
  await settle();
  reply(state, { id: 1, taken: true, reason: 'taken' });
  await settle();
  assert.deepEqual(state.erased, [1]);
});

test('Firefox: a redirect and a page pass unheld; a blob: download is noted, ours and a held one are not', async () => {
  const state = browserState();
  const api = await worker(state, { chromium: false });
  const response = (statusCode, type) => api.webRequest.onHeadersReceived.fire({ requestId: '5', url: 'http://h/a.zip',
    statusCode, responseHeaders: [{ name: 'Content-Type', value: type }] })[0];
  assert.deepEqual([response(302, 'application/zip'), response(200, 'text/html')], [undefined, undefined]);
  api.downloads.onCreated.fire({ id: 3, url: 'blob:http://h/x', filename: '/d/x.bin' });
  api.downloads.onCreated.fire({ id: 4, url: 'http://h/y.zip', byExtensionId: 'ext' });
  api.downloads.onCreated.fire({ id: 5, url: 'http://h/z.zip' });
  await settle();
  assert.deepEqual([state.hostSaw, entries(state)], [[], ['x.bin browser scheme']]);
});

// A private window's download and sent link, where the user let the
// extension run there: that window's cookies, its own list, gone with it.
test("private windows: their cookies, their own list, forgotten once the last one closed; a page's referrer policy",
  async () => {
    const state = browserState();
    state.windows.push({ id: 2, incognito: true });
    state.cookies = [{ name: 'n', value: '1', domain: 'h', hostOnly: true, sameSite: 'lax' },
                     { name: 'p', value: '1', domain: 'h', hostOnly: true, sameSite: 'lax', storeId: '1' }];
    const api = await worker(state);
    api.webRequest.onHeadersReceived.fire({ requestId: '8', tabId: 5, frameId: 0, url: 'http://h/p', statusCode: 200,
                                            responseHeaders: [{ name: 'Referrer-Policy', value: 'no-referrer, origin' }] });
    const sent = api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/p',
                                                  linkUrl: 'http://h/a.zip' }, { id: 5, incognito: true })[0];
    await settle();
    reply(state, { id: state.hostSaw[0].id, taken: false, reason: 'not-in-list' });
    await sent;
    const unfound = api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/p',
                                                     linkUrl: 'http://h/b.zip' }, { id: 9, incognito: true })[0];
    await settle();
    reply(state, { id: state.hostSaw[1].id, taken: false, reason: 'not-in-list' });
    await unfound;
    assert.deepEqual(state.hostSaw.map(({ cookie, referrer }) => [cookie, referrer]), [['p=1', 'http://h/'], ['', 'http://h/p']]);
    api.downloads.onDeterminingFilename.fire({ id: 6, url: 'blob:http://h/x', finalUrl: 'blob:http://h/x', filename: 'x.bin',
                                              incognito: true, startTime: new Date().toISOString() }, () => {});
    await settle();
    const privateList = () => (state.stored.session.recentPrivate ?? []).map(({ name, where }) => `${name} ${where}`);
    assert.deepEqual([entries(state), privateList()], [[], ['x.bin browser', 'b.zip none', 'a.zip none']]);
    api.windows.onRemoved.fire(3);
    await settle();
    assert.equal(privateList().length, 3);
    state.windows.pop();
    api.windows.onRemoved.fire(2);
    await settle();
    assert.deepEqual(Object.keys(state.stored.session).filter((key) => /private|pagePolicies/i.test(key)), ['pagePolicies']);
    assert.deepEqual(state.stored.session.pagePolicies, {});
  });

// Firefox's Alt+click save, where Alt is the bypass key: in the click's
// window and container, and only while the hand-off is on.
test("Firefox: a link saved for the bypass key keeps its tab's private window and container, and waits while paused",
  async () => {
    const state = browserState();
    const api = await worker(state, { chromium: false });
    const altClick = (tab) => api.runtime.onMessage.fire({ type: 'link-click', url: 'http://h/a.zip', keys: { alt: true },
                                                           noreferrer: true, meta: [] }, { id: 'ext', tab, url: 'http://h/p' });
    altClick({ id: 1, incognito: false, cookieStoreId: 'firefox-container-1' });
    altClick({ id: 2, incognito: true, cookieStoreId: 'firefox-private' });
    await settle();
    await api.storage.sync.set({ paused: true });
    await settle();
    altClick({ id: 1, incognito: false, cookieStoreId: 'firefox-default' });
    await settle();
    assert.deepEqual(state.started, [
      { url: 'http://h/a.zip', incognito: false, cookieStoreId: 'firefox-container-1', headers: [] },
      { url: 'http://h/a.zip', incognito: true, cookieStoreId: 'firefox-private', headers: [] }]);
    assert.deepEqual([entries(state), state.stored.session.recentPrivate.map(({ key }) => key)],
      [['a.zip browser bypassed'], ['b:2']]);
  });
