// The background's edges, against the fake browser: what a worker finds as
// it starts, a port that fails, what Firefox lets pass, a download taken, a
// sent link the manager takes late or the host does not answer in time, a
// flood of downloads past the bound on those waiting, and another extension's
// download.
import { mock, test } from 'node:test';
import assert from 'node:assert/strict';
import { browserState, reply, settle, worker } from './fake_browser.mjs';

mock.timers.enable({ apis: ['setTimeout', 'Date'], now: Date.now() });

const popup = { id: 'ext', url: 'chrome-extension://ext/popup.html' };
const ask = (api, message, sender = popup) => new Promise((resolve) => api.runtime.onMessage.fire(message, sender, resolve));
const menu = (api, linkUrl, menuItemId = 'download-with') => api.contextMenus.onClicked.fire({ menuItemId,
  pageUrl: 'http://h/p', linkUrl }, { id: 4 })[0];
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
  assert.deepEqual(await ask(api, { type: 'host-settings' }),
                   { ok: false, reason: 'host-missing', detail: 'The browser host did not answer.' });
  // Only the extension's own pages are answered, and only what they ask.
  for (const [message, sender] of [[{ type: 'host-settings' }, { id: 'ext', url: 'http://h/p' }],
    [{ type: 'host-settings' }, { id: 'other', url: popup.url }], [{ type: 'send-to-manager', key: 9 }, popup],
    [{ type: 'menu-links' }, popup], [null, popup]]) {
    assert.deepEqual(api.runtime.onMessage.fire(message, sender, () => {}), [undefined]);
  }
});

test("a port that drops says why: the browser's error, else Firefox's, else that the host ended", async () => {
  for (const [error, why] of [[{ message: 'Firefox: gone' }, 'Firefox: gone'], [undefined, 'the host ended']]) {
    const state = browserState();
    const api = await worker(state);
    menu(api, 'http://h/a.zip');
    await settle();
    state.port.onDisconnect.fire(Object.assign(state.port, { error }));
    await settle();
    assert.equal(state.badge.title, `badge_host ${why}`);
  }
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

test("a download the manager took leaves the browser's list, also with settings that cannot be read", async () => {
  const state = browserState();
  state.unreadable = ['sync', 'local'];
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
  // Kept: a form's POST and a download of no request seen cannot be sent on as the browser fetched them.
  api.webRequest.onSendHeaders.fire({ requestId: '2', url: 'http://h/b.zip', method: 'POST', tabId: 1,
                                      requestHeaders: [{ name: 'Cookie', value: 'c=1' }] });
  api.webRequest.onHeadersReceived.fire({ requestId: '3', url: 'http://h/b.zip', timeStamp: Date.now() });
  api.webRequest.onHeadersReceived.fire({ requestId: '2', url: 'http://h/b.zip', timeStamp: Date.now() });
  for (const [id, url] of [[2, 'http://h/b.zip'], [3, 'http://h/c.zip']]) {
    api.downloads.onDeterminingFilename.fire({ id, url, finalUrl: url, filename: '', startTime: new Date().toISOString() },
                                             () => {});
  }
  await settle();
  assert.deepEqual(state.stored.session.recent.map(({ key, reason, sendable }) => `${key} ${reason} ${sendable}`),
                   ['d:3 unknown-request false', 'd:2 not-get false', 'd:1 taken undefined']);
});

test('Firefox: a redirect and a page pass unheld; every download it starts is noted once: a blob:, a response its ' +
     'hold did not pick out; ours and a held one are not noted again', async () => {
  const state = browserState();
  state.stored.session['offer:3'] = 'a.zip'; // a response's offer: its request id is no download's
  const api = await worker(state, { chromium: false });
  const response = (statusCode, type, url = 'http://h/a.zip') => api.webRequest.onHeadersReceived.fire({
    requestId: '5', url, statusCode, responseHeaders: [{ name: 'Content-Type', value: type }] })[0];
  assert.deepEqual([response(302, 'application/zip'), response(200, 'text/html')], [undefined, undefined]);
  response(200, 'application/zip', 'http://h/z.zip'); // its request unknown: kept at once
  api.downloads.onCreated.fire({ id: 3, url: 'blob:http://h/x', filename: '/d/x.bin' });
  api.downloads.onCreated.fire({ id: 4, url: 'blob:http://h/y', byExtensionId: 'ext' });
  api.downloads.onCreated.fire({ id: 5, url: 'http://h/z.zip' });
  api.downloads.onCreated.fire({ id: 6, url: 'http://h/saved-as.pdf' });
  await settle();
  assert.deepEqual([state.hostSaw, entries(state)], [[], ['z.zip browser unknown-request',
                                                          'saved-as.pdf browser unknown-request', 'x.bin browser scheme']]);
});

test('a sent link the host does not answer in time has timed out, its host not missing', async () => {
  const state = browserState();
  const api = await worker(state);
  const sent = menu(api, 'http://h/a.zip');
  await settle();
  mock.timers.tick(5000);
  assert.deepEqual(await sent, [{ taken: false, reason: 'timed-out' }]);
  await settle();
  assert.deepEqual(entries(state), ['a.zip none timed-out']);
});

test('past the bound on waiting offers, a download is kept at once', async () => {
  const state = browserState();
  const api = await worker(state);
  const held = [];
  for (let id = 1; id <= 17; id += 1) {
    const url = `http://h/${id}.zip`;
    api.webRequest.onSendHeaders.fire({ requestId: String(id), url, method: 'GET', tabId: 1,
                                        requestHeaders: [{ name: 'Cookie', value: 'c=1' }] });
    api.webRequest.onHeadersReceived.fire({ requestId: String(id), url, timeStamp: Date.now() });
    held.push(new Promise((resolve) => api.downloads.onDeterminingFilename.fire({ id, url, finalUrl: url,
      filename: `${id}.zip`, startTime: new Date().toISOString() }, () => resolve(id))));
  }
  await settle();
  assert.equal(await Promise.race(held), 17);
  await settle();
  assert.deepEqual([state.hostSaw.length, entries(state)], [1, ['17.zip browser queue-full']]);
});

test("another extension's download is left to the browser, listed as such under the name it gets", async () => {
  const state = browserState();
  const api = await worker(state);
  const url = 'http://h/n.zip';
  let suggested = false;
  assert.deepEqual(api.downloads.onDeterminingFilename.fire({ id: 8, byExtensionId: 'other', url, finalUrl: url,
    filename: 'n.zip', startTime: new Date().toISOString() }, () => { suggested = true; }), [false]);
  api.downloads.onChanged.fire({ id: 8, filename: { current: '/d/chosen.zip' } });
  await settle();
  assert.deepEqual([suggested, state.hostSaw, entries(state)], [false, [], ['chosen.zip browser other-extension']]);
  // Chromium 156 names the extension only after handing the download over.
  api.downloads.onDeterminingFilename.fire({ id: 9, url, finalUrl: url, filename: 'm.zip',
                                            startTime: new Date().toISOString() }, () => {});
  await settle();
  state.items = [{ id: 9, byExtensionId: 'other', url, finalUrl: url, filename: '/d/m.zip' }];
  mock.timers.tick(500);
  await settle();
  assert.deepEqual([state.hostSaw, entries(state)[0]], [[], 'm.zip browser other-extension']);
});

test("the browser's verdicts stand: a dangerous download and one in the clear for a secure page are kept, and " +
     'not offered to be sent on', async () => {
  const state = browserState();
  const api = await worker(state);
  for (const [id, initiator, danger] of [[1, 'https://p', 'safe'], [2, 'http://p', 'file']]) {
    const url = `http://h/${id}.zip`;
    api.webRequest.onSendHeaders.fire({ requestId: String(id), url, method: 'GET', tabId: 1, initiator,
                                        requestHeaders: [{ name: 'Cookie', value: 'c=1' }] });
    api.webRequest.onHeadersReceived.fire({ requestId: String(id), url, timeStamp: Date.now() });
    api.downloads.onDeterminingFilename.fire({ id, url, finalUrl: url, filename: `${id}.zip`, danger,
                                              startTime: new Date().toISOString() }, () => {});
  }
  await settle();
  assert.deepEqual([state.hostSaw, state.stored.session.recent.map(({ name, where, reason, sendable }) =>
    `${name} ${where} ${reason} ${sendable}`)], [[], ['2.zip browser dangerous false', '1.zip browser insecure false']]);
});

test('Firefox: a frame sandboxed without allow-downloads, at any depth, keeps its download with the browser', async () => {
  const state = browserState();
  state.sandboxed = [3];
  const api = await worker(state, { chromium: false });
  const held = [[1, 3, [0]], [2, 4, [3, 0]], [3, 6, [7, 0]]].map(([id, frameId, ancestors]) => {
    const url = `http://h/${id}.zip`;
    api.webRequest.onSendHeaders.fire({ requestId: String(id), url, method: 'GET', tabId: 1, type: 'sub_frame',
                                        requestHeaders: [{ name: 'Cookie', value: 'c=1' }] });
    return api.webRequest.onHeadersReceived.fire({ requestId: String(id), url, statusCode: 200, tabId: 1,
      type: 'sub_frame', frameId, frameAncestors: ancestors.map((ancestor) => ({ frameId: ancestor })),
      responseHeaders: [{ name: 'Content-Type', value: 'application/zip' }] })[0];
  });
  await settle();
  reply(state, { id: state.hostSaw[0].id, taken: true, reason: 'taken' });
  assert.deepEqual(await Promise.all(held), [{}, {}, { cancel: true }]);
  assert.deepEqual([state.hostSaw.map(({ url }) => url), state.stored.session.recent.map(({ name, where, reason, sendable }) =>
    `${name} ${where} ${reason} ${sendable}`)], [['http://h/3.zip'], ['3.zip manager taken undefined',
                                               '2.zip browser sandboxed false', '1.zip browser sandboxed false']]);
});

// Where the user let the extension run in private windows: a private tab's
// link goes with its cookies (none when its store is not found), its
// downloads to a list of their own, forgotten once the last private window
// closed; Firefox's Alt+click save stays in its private window, and waits
// while paused.
test('private windows: their cookies, their own list, gone with them; the Alt+click save in them', async () => {
  const state = browserState();
  state.windows.push({ id: 2, incognito: true });
  state.cookies = [{ name: 'n', value: '1', domain: 'h', sameSite: 'lax' }, { name: 'p', value: '1', domain: 'h', storeId: '1' }];
  const api = await worker(state, { chromium: false });
  const sent = [5, 9].map((id) => api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/p',
                                                                   linkUrl: `http://h/${id}.zip` }, { id, incognito: true })[0]);
  const altClick = (tab) => api.runtime.onMessage.fire({ type: 'link-click', url: 'http://h/a.zip', keys: { alt: true } },
                                                       { id: 'ext', tab, url: 'http://h/p' });
  altClick({ id: 2, incognito: true, cookieStoreId: 'firefox-private' });
  const post = { requestId: '7', url: 'http://h/form.zip', method: 'POST', tabId: 2, incognito: true };
  api.webRequest.onSendHeaders.fire({ ...post, requestHeaders: [{ name: 'Cookie', value: 'p=1' }] });
  api.webRequest.onHeadersReceived.fire({ ...post, statusCode: 200,
                                          responseHeaders: [{ name: 'Content-Type', value: 'application/zip' }] });
  for (const n of [0, 1]) {
    await settle();
    reply(state, { id: state.hostSaw[n].id, taken: false, reason: 'not-in-list' });
  }
  await Promise.all(sent);
  await api.storage.sync.set({ paused: true });
  await settle();
  altClick({ id: 2, incognito: true, cookieStoreId: 'firefox-private' });
  await settle();
  assert.deepEqual([state.hostSaw.map(({ cookie }) => cookie), state.started.map(({ incognito, cookieStoreId }) =>
    `${incognito} ${cookieStoreId}`)], [['p=1', ''], ['true firefox-private']]);
  const privateList = () => (state.stored.session.recentPrivate ?? []).map(({ name, where }) => `${name} ${where}`);
  assert.deepEqual([entries(state), privateList()], [[], ['9.zip none', '5.zip none', 'a.zip browser', 'form.zip browser']]);
  for (const [closed, left] of [[1, 4], [2, 0]]) {
    state.windows = state.windows.filter((window) => window.id !== closed);
    api.windows.onRemoved.fire(closed);
    await settle();
    assert.equal(privateList().length, left);
  }
});

// Each link goes with the cookies of its tab's store (a private window, a
// container), asked of the frame the menu was opened in; under Firefox's
// first-party isolation, of its own first party.
test("a sent link: its frame's text, its tab's cookie store", async () => {
  const state = browserState();
  const api = await worker(state);
  for (const [tab, frameId, store] of [[{ id: 4 }, 2, { storeId: '0' }], [{ id: 5 }, undefined, { storeId: '1' }],
    [{ id: 6, cookieStoreId: 'firefox-container-1' }, 0, { storeId: 'firefox-container-1' }], [undefined, 0, {}]]) {
    const sent = api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/p', frameId,
                                                  linkUrl: 'http://h/a.zip' }, tab)[0];
    await settle();
    reply(state, { id: state.hostSaw.at(-1).id, taken: false, reason: 'declined' });
    await sent;
    assert.deepEqual([state.asked.pop()?.frameId, state.cookieQueries.pop()],
                     [tab && (frameId ?? 0), { url: 'http://h/a.zip', ...store }]);
  }
  state.firstPartyIsolation = true;
  state.cookies = [{ name: 'a', value: '1', domain: 'h', firstPartyDomain: 'h' },
                   { name: 'b', value: '2', domain: 'h', firstPartyDomain: 'other.example' }];
  menu(api, 'http://h/a.zip');
  await settle();
  assert.equal(state.hostSaw.at(-1).cookie, 'a=1');
  assert.deepEqual(await menu(api, 'http://h/a.zip', 'other-item'), []);
});

// A download costs the pages a question only where a click can change the
// answer: never for another extension's, nor one kept anyway when no key
// bypasses.
test('the tabs are asked for the click only where it can change the answer', async () => {
  const state = browserState();
  const api = await worker(state);
  state.pages.set(1, () => undefined);
  const hold = (id, more = {}) => api.downloads.onDeterminingFilename.fire({ id, url: `http://h/${id}.zip`,
    finalUrl: `http://h/${id}.zip`, filename: '', startTime: new Date().toISOString(), ...more }, () => {});
  hold(1, { byExtensionId: 'other' });
  hold(2);
  await settle();
  await api.storage.sync.set({ bypassKey: 'none' });
  await settle();
  hold(3);
  await settle();
  assert.deepEqual(state.asked, [{ tabId: 1, type: 'last-click' }]);
  assert.deepEqual(entries(state), ['3.zip browser unknown-request', '2.zip browser unknown-request',
                                    '1.zip browser other-extension']);
});

// The referrer policy a frame's document was served with, for the links sent
// from it: only a tab's document that came (2xx), only while the frame still
// shows it, dropped when a document without one replaces it, the last 64
// frames, kept for the next worker, and forgotten with closed tabs once the
// last private window closed.
test("the pages' own referrer policies, for the links sent from them", async () => {
  const state = browserState();
  for (const tab of [4, 7]) state.pages.set(tab, () => undefined); // the open tabs
  let api = await worker(state);
  const served = (tabId, frameId, url, policy, statusCode = 200) => api.webRequest.onHeadersReceived.fire({
    requestId: url, url, tabId, frameId, statusCode, timeStamp: Date.now(),
    responseHeaders: policy === '' ? [] : [{ name: 'Referrer-Policy', value: policy }] });
  const referrer = async (tab, frameId, page) => {
    const sent = api.contextMenus.onClicked.fire({ menuItemId: 'download-with', pageUrl: 'http://h/top', frameId,
                                                   frameUrl: page, linkUrl: 'http://h/a.zip' }, { id: tab })[0];
    await settle();
    reply(state, { id: state.hostSaw.at(-1).id, taken: true, reason: 'taken' });
    await sent;
    return state.hostSaw.at(-1).referrer;
  };
  for (const [tab, frame, url, policy, status] of [[4, 0, 'http://h/p#top', 'no-referrer'], [4, 2, 'http://h/f', 'origin'],
    [4, 3, 'http://h/g', 'origin'], [4, 3, 'http://h/g2', ''], [-1, 0, 'http://h/q', 'no-referrer'],
    [5, 0, 'http://h/q', 'no-referrer', 404], [6, 0, 'http://h/r', 'no-referrer', 199], [7, 0, 'http://h/s', 'origin']]) {
    served(tab, frame, url, policy, status);
  }
  await settle();
  assert.deepEqual([await referrer(4, 0, 'http://h/p'), await referrer(4, 2, 'http://h/f'), await referrer(4, 2, 'http://h/x'),
                    await referrer(4, 3, 'http://h/g2'), await referrer(5, 0, 'http://h/q'), await referrer(6, 0, 'http://h/r')],
                   ['', 'http://h/', 'http://h/x', 'http://h/g2', 'http://h/q', 'http://h/r']);
  api = await worker(state);
  assert.equal(await referrer(7, 0, 'http://h/s'), 'http://h/');
  for (let frame = 1; frame <= 62; frame += 1) served(8, frame, 'http://h/t', 'origin');
  await settle();
  assert.equal(await referrer(4, 0, 'http://h/p'), 'http://h/p');
  api.windows.onRemoved.fire(2);
  await settle();
  assert.deepEqual(Object.keys(state.stored.session.pagePolicies), ['4:2', '7:0']);
});

// The offers a stopped worker left with the host, each settled by what the
// host recorded of it (matched on id and deadline): the browser's copy of
// one the manager took is removed (Chromium's by its id, Firefox's the
// latest of its URL since the hold began), or the list says it is in both
// places; one the agent may still take is asked about again; notes too old
// or not notes are dropped unasked.
test('a starting worker settles the offers a stopped one left, by what the host recorded', async () => {
  const state = browserState();
  const now = Date.now();
  const note = (id, more) => ({ id, deadline: now - 1000, name: `${id}.zip`, url: `http://h/${id}.zip`, key: `d:${id}`,
                                downloadId: null, ...more });
  const notes = [note(1, { downloadId: 21 }), note(2), note(3), note(4), note(5, { answered: true }),
                 note(6, { deadline: now + 5000 }), note(7), note(8, { deadline: now - 25 * 3600 * 1000 }),
                 { ...note(9), name: undefined }];
  Object.assign(state.stored.session, Object.fromEntries(notes.map((n) => [`offer:${n.id}`, n])));
  const at = (ms) => new Date(now + ms).toISOString();
  state.items = [{ id: 21, url: 'http://h/1.zip', state: 'in_progress', startTime: at(-2000) },
                 { id: 30, url: 'http://h/2.zip', state: 'complete', startTime: at(-20000) },
                 { id: 31, url: 'http://h/2.zip', state: 'complete', startTime: at(-3000), byExtensionId: 'other' },
                 { id: 32, url: 'http://h/2.zip', state: 'complete', exists: false, startTime: at(-5000) },
                 { id: 33, url: 'http://h/2.zip', state: 'complete', exists: true, startTime: at(-4000) }];
  await worker(state);
  await settle();
  const question = state.hostSaw[0];
  assert.deepEqual(question.offers.map(({ id }) => id), [1, 2, 3, 4, 5, 6, 7]);
  const outcome = (n, taken, deadline = n.deadline) => ({ id: n.id, deadline, taken, at: 1 });
  reply(state, { id: question.id, outcomes: [outcome(notes[0], true), outcome(notes[1], true), outcome(notes[2], true),
                                            outcome(notes[5], null), outcome(notes[6], true, 0)] });
  await settle();
  const forget = state.hostSaw[1];
  assert.deepEqual(forget.offers.map(({ id }) => id), [1, 2, 3]);
  reply(state, { id: forget.id, forgotten: 3 });
  await settle();
  assert.deepEqual([state.erased, state.removedFiles, entries(state)], [[21, 33], [33], ['7.zip browser cut-off',
    '4.zip browser cut-off', '3.zip both taken-cut-off', '2.zip manager taken-cut-off', '1.zip manager taken-cut-off']]);
  assert.deepEqual([state.badge.text, Object.keys(state.stored.session).filter((key) => key.startsWith('offer:'))],
                   ['2', ['offer:6']]);
  mock.timers.tick(2000);
  await settle();
  assert.deepEqual(state.hostSaw[2].offers, [{ id: 6, deadline: now + 5000 }]);
});
