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
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host gone', icon: 'problem' });
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
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host disconnected port', icon: 'problem' });
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
