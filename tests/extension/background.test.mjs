// The background's own logic, in Node against a small fake of the browser
// (fake_browser.mjs): downloads offered to the host one at a time and each
// once, answers that come late, a worker stopped and started again, and the
// toolbar button.
import { mock, test } from 'node:test';
import assert from 'node:assert/strict';
import { browserState, reply, settle, worker } from './fake_browser.mjs';

// The worker's clock and timers (the hold, the button's delay) run when a
// test says.
mock.timers.enable({ apis: ['setTimeout', 'Date'], now: Date.now() });

const requestHeaders = [{ name: 'Cookie', value: 'c=1' }, { name: 'Referer', value: 'http://h/page' }];

// A download of `url` handed over by the browser after its request: what
// the browser does with it in the end, 'dropped' (the manager took it) or
// 'kept'. Chromium holds the download; Firefox the response.
function download(api, state, id, url) {
  const at = Date.now();
  const requestId = String(id);
  api.webRequest.onSendHeaders.fire({ requestId, url, method: 'GET', tabId: 1, requestHeaders });
  if (api.downloads.onDeterminingFilename === undefined) {
    const [held] = api.webRequest.onHeadersReceived.fire({ requestId, url, statusCode: 200,
      responseHeaders: [{ name: 'Content-Type', value: 'application/octet-stream' }] });
    return Promise.resolve(held).then((answer) => (answer?.cancel ? 'dropped' : 'kept'));
  }
  api.webRequest.onHeadersReceived.fire({ requestId, url, timeStamp: at });
  return new Promise((resolve) => {
    state.onCancel.set(id, () => resolve('dropped'));
    const item = { id, url, finalUrl: url, filename: url.split('/').pop(), startTime: new Date(at).toISOString() };
    const [held] = api.downloads.onDeterminingFilename.fire(item, () => resolve('kept'));
    if (!held) resolve('kept');
  });
}

const listed = (state) => Object.fromEntries((state.stored.session.recent ?? [])
  .map(({ key, where, reason }) => [key, `${where} ${reason}`]));
const offered = (state) => state.hostSaw.map((message) => message.id);

// A click on a link in a tab's page, which keeps it (link_clicks.js) and
// answers for it when asked; Firefox's page tells of an Alt+click at once.
function click(api, state, { tab = 1, url, text = 'the link', keys = {}, tabOf = {} }) {
  const at = Date.now();
  state.pages.set(tab, ({ urls, since }) => (urls.includes(url) && at >= since ? { type: 'link-click', url, text, keys, at }
    : undefined));
  if (keys.alt && api.downloads.onDeterminingFilename === undefined) {
    api.runtime.onMessage.fire({ type: 'link-click', url, text: '', keys, policy: '', noreferrer: false, meta: [] },
                               { id: 'ext', tab: { id: tab, ...tabOf }, url: 'http://h/page' });
  }
}

for (const chromium of [true, false]) {
  test(`${chromium ? 'Chromium' : 'Firefox'}: downloads go to the host one at a time, in order, each ended by its answer`,
    async () => {
      const state = browserState();
      const api = await worker(state, { chromium });
      click(api, state, { url: 'http://h/a.zip' });
      // Firefox saves only an Alt+click a tab's page tells of: not a click without Alt, nor a message of no tab.
      for (const [keys, sender] of [[{ alt: true }, { url: 'http://h/' }], [{ shift: true }, { tab: { id: 5 } }]]) {
        api.runtime.onMessage.fire({ type: 'link-click', url: 'http://h/c.zip', keys }, sender);
      }
      const first = download(api, state, 1, 'http://h/a.zip');
      const second = download(api, state, 2, 'http://h/b.zip');
      await settle();
      assert.deepEqual(offered(state), [1]);
      assert.deepEqual(state.hostSaw[0], { id: 1, url: 'http://h/a.zip', referrer: 'http://h/page', cookie: 'c=1',
                                           linkText: 'the link', filename: 'a.zip', deadline: state.hostSaw[0].deadline });
      reply(state, { id: 1, taken: true, reason: 'taken' });
      assert.equal(await first, 'dropped');
      await settle();
      assert.deepEqual(offered(state), [1, 2]);
      reply(state, { id: 2, taken: false, reason: 'not-in-list' });
      assert.equal(await second, 'kept');
      await settle();
      // Alt, the bypass key: Chromium saves the link itself, Firefox is asked to.
      click(api, state, { url: 'http://h/c.zip', keys: { alt: true } });
      if (chromium) assert.equal(await download(api, state, 3, 'http://h/c.zip'), 'kept');
      await settle();
      const key = chromium ? 'd' : 'r';
      assert.deepEqual(listed(state), { [`${key}:1`]: 'manager taken', [`${key}:2`]: 'browser not-in-list',
                                        [chromium ? 'd:3' : 'b:1']: 'browser bypassed' });
      assert.deepEqual(state.started, chromium ? []
        : [{ url: 'http://h/c.zip', incognito: false, headers: [{ name: 'Referer', value: 'http://h/page' }] }]);
      assert.deepEqual(offered(state), [1, 2]);
      assert.equal(state.badge.text, '');
      assert.equal(state.connections, 1);
    });
}

// The link's text comes from the request's own tab; the bypass key counts
// in any tab.
for (const chromium of [true, false]) {
  test(`${chromium ? 'Chromium' : 'Firefox'}: the clicks of several tabs`, async () => {
    const state = browserState();
    const api = await worker(state, { chromium });
    click(api, state, { tab: 2, url: 'http://h/a.zip', text: 'another tab' });
    click(api, state, { tab: 1, url: 'http://h/a.zip', text: 'its own tab' });
    const taken = download(api, state, 1, 'http://h/a.zip');
    await settle();
    assert.equal(state.hostSaw[0]?.linkText, 'its own tab');
    reply(state, { id: 1, taken: true, reason: 'taken' });
    assert.equal(await taken, 'dropped');
    click(api, state, { tab: 2, url: 'http://h/b.zip', keys: { shift: true } });
    await api.storage.sync.set({ bypassKey: 'shift' });
    await settle();
    click(api, state, { tab: 3, url: 'http://h/c.zip', keys: { alt: true } });
    await settle();
    assert.deepEqual(state.started, []);
    assert.equal(await download(api, state, 2, 'http://h/b.zip#top'), 'kept');
    await settle();
    assert.deepEqual(offered(state), [1]);
    assert.equal(listed(state)[`${chromium ? 'd' : 'r'}:2`], 'browser bypassed');
  });
}

test('past the hold: a download the host never answered is kept, and one that spent its hold in the turn is never ' +
     'offered', async () => {
  const state = browserState();
  const api = await worker(state);
  const kept = [download(api, state, 1, 'http://h/a.zip'), download(api, state, 2, 'http://h/b.zip')];
  await settle();
  mock.timers.tick(11999);
  await settle();
  assert.deepEqual(listed(state), {});
  mock.timers.tick(1);
  assert.deepEqual(await Promise.all(kept), ['kept', 'kept']);
  await settle();
  assert.deepEqual(offered(state), [1]);
  // Frames that take nothing change nothing, late or not.
  for (const frame of [null, { id: 1, taken: false, reason: 'declined', late: true }, { id: 9, taken: true },
    { id: -9, settings: {} }]) {
    reply(state, frame);
  }
  await settle();
  assert.deepEqual(listed(state), { 'd:1': 'browser timed-out', 'd:2': 'browser timed-out' });
  // The next worker learns that the agent never had it: the entry stands.
  await worker(state);
  await settle();
  assert.deepEqual(state.hostSaw[1].offers, [{ id: 1, deadline: state.hostSaw[0].deadline }]);
  reply(state, { id: state.hostSaw[1].id, outcomes: [] });
  await settle();
  assert.deepEqual([listed(state), state.hostSaw.length], [{ 'd:1': 'browser timed-out', 'd:2': 'browser timed-out' }, 2]);
  assert.equal(state.stored.session['offer:1'], undefined);
});

// The host answers "timed-out", then that the agent took it after all.
test('taken after the answer said otherwise: the button says "2" and the list both places, until dismissed', async () => {
  const state = browserState();
  const api = await worker(state);
  const kept = download(api, state, 1, 'http://h/a.zip');
  await settle();
  reply(state, { id: 1, taken: false, reason: 'timed-out', detail: 'slow' });
  reply(state, { id: 1, taken: true, reason: 'taken', late: true });
  assert.equal(await kept, 'kept');
  await settle();
  assert.deepEqual(state.badge, { text: '2', title: 'badge_twice a.zip', icon: 'problem' });
  assert.equal(listed(state)['d:1'], 'both taken-late');
  // Dismissed in the popup: the button lets it go, the list keeps it.
  for (const key of ['d:1', 'd:9']) {
    await new Promise((resolve) => api.runtime.onMessage.fire({ type: 'dismiss', key },
      { id: 'ext', url: 'chrome-extension://ext/popup.html' }, resolve));
  }
  await settle();
  assert.deepEqual(state.badge, { text: '', title: 'actionTitle', icon: 'normal' });
  assert.deepEqual(state.stored.session.recent.map(({ key, dismissed }) => [key, dismissed]), [['d:1', true]]);
});

// The worker stops with one offer answered "timed-out" (the agent may take
// it still) and the next cut off; the browser saved both. The next worker
// asks the host before offering anything.
for (const chromium of [true, false]) {
  test(`${chromium ? 'Chromium' : 'Firefox'}: offers a stopped worker left with the host end in one place, or say ` +
       'which copy is where; what the browser kept can still be sent', async () => {
    const state = browserState();
    const stopped = await worker(state, { chromium });
    const kept = download(stopped, state, 1, 'http://h/kept.pdf');
    await settle();
    reply(state, { id: 1, taken: false, reason: 'not-in-list' });
    assert.equal(await kept, 'kept');
    download(stopped, state, 2, 'http://h/b.zip');
    await settle();
    reply(state, { id: 2, taken: false, reason: 'timed-out' });
    download(stopped, state, 3, 'http://h/c.zip');
    await settle();
    const [, b, c] = state.hostSaw;
    stopped.stop();
    mock.timers.tick(12000);
    // Firefox saved each let-go response as a download of its own id.
    state.items = [{ id: chromium ? 2 : 70, url: 'http://h/b.zip', state: 'complete', exists: true,
                     startTime: new Date().toISOString() },
                   { id: chromium ? 3 : 71, url: 'http://h/c.zip', state: 'complete', exists: true,
                     startTime: new Date().toISOString() }];

    const api = await worker(state, { chromium });
    const pending = download(api, state, 4, 'http://h/d.zip');
    await settle();
    const question = state.hostSaw[3];
    assert.deepEqual(question, { id: question.id, type: 'outcomes',
                                 offers: [{ id: 2, deadline: b.deadline }, { id: 3, deadline: c.deadline }] });
    assert.equal(state.hostSaw.length, 4);
    reply(state, { id: question.id, outcomes: [{ id: 2, deadline: b.deadline, taken: true, at: 1 },
                                               { id: 3, deadline: c.deadline, taken: null, at: 1 }] });
    await settle();
    const forget = state.hostSaw[4];
    assert.deepEqual(forget, { id: forget.id, type: 'forget-outcomes', offers: question.offers });
    reply(state, { id: forget.id, forgotten: 2 });
    await settle();
    const key = chromium ? 'd' : 'r';
    assert.deepEqual([state.removedFiles, state.erased], [[chromium ? 2 : 70], [chromium ? 2 : 70]]);
    assert.deepEqual(state.badge, { text: '2?', title: 'badge_maybe_twice c.zip', icon: 'problem' });
    assert.deepEqual([listed(state)[`${key}:2`], listed(state)[`${key}:3`]], ['manager taken-cut-off',
                                                                              'maybe-both maybe-taken']);
    assert.deepEqual(Object.keys(state.stored.session).filter((stored) => stored.startsWith('offer:')), ['offer:4']);
    reply(state, { id: 4, taken: false, reason: 'not-in-list' });
    assert.equal(await pending, 'kept');

    // The popup's "Send to WebCorvane".
    const answered = new Promise((resolve) => api.runtime.onMessage.fire({ type: 'send-to-manager', key: `${key}:1` },
      { id: 'ext', url: 'chrome-extension://ext/popup.html' }, resolve));
    api.runtime.onMessage.fire({ type: 'send-to-manager', key: `${key}:1` },
      { id: 'ext', url: 'chrome-extension://ext/popup.html' }, () => {});
    await settle();
    assert.equal(state.hostSaw.length, 7); // sent once, however often asked
    const sent = state.hostSaw[6];
    assert.deepEqual({ ...sent, id: 0, deadline: 0 }, { id: 0, url: 'http://h/kept.pdf', referrer: 'http://h/page',
                                                        cookie: 'c=1', linkText: '', filename: 'kept.pdf', deadline: 0,
                                                        userAsked: true });
    reply(state, { id: sent.id, taken: true, reason: 'taken' });
    assert.deepEqual(await answered, { taken: true, reason: 'taken' });
    await settle();
    assert.equal(listed(state)[`${key}:1`], 'both taken');
  });
}

test('the button: a download held for more than a moment, then the host missing', async () => {
  const state = browserState();
  const api = await worker(state);
  const kept = download(api, state, 1, 'http://h/a.zip');
  await settle();
  mock.timers.tick(1000);
  await settle();
  assert.deepEqual(state.badge, { text: '…', title: 'badge_offering_one a.zip', icon: 'normal' });
  api.runtime.lastError = { message: 'Specified native messaging host not found.' };
  state.port.onDisconnect.fire(state.port);
  assert.equal(await kept, 'kept');
  await settle();
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host Specified native messaging host not found.',
                                icon: 'problem' });
  assert.equal(listed(state)['d:1'], 'browser host-missing');
  assert.deepEqual(state.stored.session.problem, { what: 'host', detail: 'Specified native messaging host not found.' });
});

test('paused: the holds are gone, each download only noted, and back once unpaused; the keyboard command', async () => {
  const state = browserState();
  state.stored.sync.paused = true;
  const api = await worker(state);
  await settle();
  const holding = () => [api.webRequest.onSendHeaders, api.webRequest.onHeadersReceived,
                         api.downloads.onDeterminingFilename].map((event) => event.listeners.length);
  assert.deepEqual(holding(), [0, 0, 0]);
  assert.deepEqual(state.badge, { text: '', title: 'badge_paused', icon: 'paused' });
  api.downloads.onCreated.fire({ id: 7, url: 'http://h/go', finalUrl: 'http://h/p.zip', filename: '', totalBytes: 5 });
  await settle();
  api.downloads.onChanged.fire({ id: 7, filename: { current: '/home/u/p (1).zip' } });
  api.downloads.onChanged.fire({ id: 8, filename: { current: '/home/u/q.zip' } }); // not ours to name
  await settle();
  assert.deepEqual(state.stored.session.recent.map(({ name, where, reason }) => [name, where, reason]),
    [['p (1).zip', 'browser', 'paused']]);
  // The keyboard command resumes and pauses, unless an organization set the pause.
  api.commands.onCommand.fire('pause-resume');
  await settle();
  assert.deepEqual(holding(), [1, 1, 1]);
  assert.equal(state.badge.title, 'actionTitle');
  api.commands.onCommand.fire('another');
  api.commands.onCommand.fire('pause-resume');
  await settle();
  assert.equal(state.stored.sync.paused, true);
  await api.storage.managed.set({ paused: true });
  await settle();
  assert.deepEqual(holding(), [0, 0, 0]);
  api.commands.onCommand.fire('pause-resume');
  await settle();
  assert.deepEqual([state.stored.sync.paused, holding()], [true, [0, 0, 0]]);
});

// "Download with WebCorvane" on a selection, then the options page asking
// for the host's settings; a page's own script may ask for neither.
test("the links a user sends go one at a time with their page's referrer and cookies; the host's settings", async () => {
  const state = browserState();
  const api = await worker(state);
  state.frame = { link: null, selection: [{ url: 'http://h/1.dat', text: 'one' }, { url: 'http://h/2.dat', text: 'two' }],
                  selectionText: 'one two' };
  state.cookies = [{ name: 's', value: '1', domain: 'h', hostOnly: true, sameSite: 'lax' },
                   { name: 't', value: '2', domain: 'x.h', hostOnly: true, sameSite: 'strict' }];
  const [sent] = api.contextMenus.onClicked.fire({ menuItemId: 'download-with', frameId: 0, pageUrl: 'http://h/page',
                                                  selectionText: 'one two' }, { id: 4 });
  await settle();
  assert.deepEqual(state.hostSaw[0], { id: -1, url: 'http://h/1.dat', referrer: 'http://h/page', cookie: 's=1',
    linkText: 'one', filename: '1.dat', deadline: Date.now() + 5000, userAsked: true });
  assert.equal(state.hostSaw.length, 1);
  reply(state, { id: state.hostSaw[0].id, taken: true, reason: 'taken' });
  await settle();
  reply(state, { id: state.hostSaw[1].id, taken: false, reason: 'unreachable' });
  assert.deepEqual(await sent, [{ taken: true, reason: 'taken' }, { taken: false, reason: 'unreachable' }]);
  await settle();
  assert.deepEqual(state.stored.session.recent.map(({ name, where }) => `${name} ${where}`), ['2.dat none', '1.dat manager']);

  const ask = (url) => new Promise((resolve) => {
    if (!api.runtime.onMessage.fire({ type: 'host-settings' }, { id: 'ext', url }, resolve).includes(true)) resolve(null);
  });
  assert.equal(await ask('http://h/page'), null);
  const answered = ask('chrome-extension://ext/options.html');
  await settle();
  const settings = { monitorBrowsers: 1, switchOn: true, extendNames: ['.zip'], configFile: 'C:\\u.ini', configFound: true };
  assert.deepEqual(state.hostSaw[2], { id: -3, type: 'settings' });
  reply(state, { id: state.hostSaw[2].id, settings });
  assert.deepEqual(await answered, { ok: true, ...settings });
});

test('sign-ins: a download in the space a server asked a sign-in for stays with the browser; one whose URL carries ' +
     "it, one past a proxy's sign-in, one elsewhere, are offered", async () => {
  const state = browserState();
  const api = await worker(state);
  for (const [requestId, url, statusCode] of [['a', 'http://h/auth/x.html', 401], ['p', 'http://h/p/y.zip', 407]]) {
    api.webRequest.onSendHeaders.fire({ requestId, url, method: 'GET', tabId: 1, requestHeaders });
    api.webRequest.onHeadersReceived.fire({ requestId, url, statusCode, timeStamp: Date.now() });
  }
  const ends = ['http://h/auth/sub/1.zip', 'http://h/p/2.zip', 'http://u:p@h/auth/3.zip', 'http://h/other/4.zip']
    .map((url, i) => download(api, state, i + 1, url));
  for (let n = 0; n < 3; n += 1) {
    await settle();
    reply(state, { id: state.hostSaw[n].id, taken: false, reason: 'not-in-list' });
  }
  assert.deepEqual(await Promise.all(ends), ['kept', 'kept', 'kept', 'kept']);
  assert.deepEqual([state.hostSaw.map(({ url }) => url.split('/').pop()), listed(state)['d:1']],
                   [['2.zip', '3.zip', '4.zip'], 'browser sign-in']);
});
