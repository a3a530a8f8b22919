// The background's own logic, in Node against a small fake of the browser
// (fake_browser.mjs): downloads offered to the host one at a time and each
// once, answers that come late, a worker stopped and started again, and the
// toolbar button.
import { mock, test } from 'node:test';
import assert from 'node:assert/strict';
import { browserState, reply, settle, worker } from './fake_browser.mjs';

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

for (const chromium of [true, false]) {
  test(`${chromium ? 'Chromium' : 'Firefox'}: downloads go to the host one at a time, in order, each ended by its answer`,
    async () => {
      const state = browserState();
      const api = await worker(state, { chromium });
      const first = download(api, state, 1, 'http://h/a.zip');
      const second = download(api, state, 2, 'http://h/b.zip');
      await settle();
      assert.deepEqual(offered(state), [1]);
      assert.deepEqual(state.hostSaw[0], { id: 1, url: 'http://h/a.zip', referrer: 'http://h/page', cookie: 'c=1',
                                           linkText: '', filename: 'a.zip', deadline: state.hostSaw[0].deadline });
      reply(state, { id: 1, taken: true, reason: 'taken' });
      assert.equal(await first, 'dropped');
      await settle();
      assert.deepEqual(offered(state), [1, 2]);
      reply(state, { id: 2, taken: false, reason: 'not-in-list' });
      assert.equal(await second, 'kept');
      await settle();
      const key = chromium ? 'd' : 'r';
      assert.deepEqual(listed(state), { [`${key}:1`]: 'manager taken', [`${key}:2`]: 'browser not-in-list' });
      assert.equal(state.badge.text, '');
    });
}

// The pages keep their clicks (link_clicks.js) and are asked for them only
// when a download comes: the link's text from the request's own tab, the
// bypass key from any tab.
for (const chromium of [true, false]) {
  test(`${chromium ? 'Chromium' : 'Firefox'}: the clicks, asked of the tabs once a download comes`, async () => {
    const state = browserState();
    const api = await worker(state, { chromium });
    const clickOn = (url, text, keys = {}) => ({ urls }) =>
      (urls.includes(url) ? { type: 'link-click', url, text, keys, at: Date.now() - 100 } : undefined);
    state.pages.set(1, clickOn('http://h/a.zip', 'the link'));
    state.pages.set(2, clickOn('http://h/b.zip', 'another tab', { alt: true }));
    const taken = download(api, state, 1, 'http://h/a.zip');
    await settle();
    assert.equal(state.hostSaw[0]?.linkText, 'the link');
    reply(state, { id: 1, taken: true, reason: 'taken' });
    assert.equal(await taken, 'dropped');
    assert.equal(await download(api, state, 2, 'http://h/b.zip#top'), 'kept');
    await settle();
    assert.deepEqual(offered(state), [1]);
    assert.equal(listed(state)[`${chromium ? 'd' : 'r'}:2`], 'browser bypassed');
  });
}

// The host answers "timed-out", then that the agent took it after all.
test('taken after the answer said otherwise: the button says "2" and the list both places', async () => {
  const state = browserState();
  const api = await worker(state);
  const kept = download(api, state, 1, 'http://h/a.zip');
  await settle();
  reply(state, { id: 1, taken: false, reason: 'timed-out', detail: 'slow' });
  reply(state, { id: 1, taken: true, reason: 'taken', late: true });
  assert.equal(await kept, 'kept');
  await settle();
  assert.deepEqual(state.badge, { text: '2', title: 'badge_twice a.zip' });
  assert.equal(listed(state)['d:1'], 'both taken-late');
});

test('a worker stopped while an offer is with the host: the next offers no download twice, warns "2?", and ' +
     'still sends on what the browser kept', async () => {
  const state = browserState();
  const stopped = await worker(state);
  const kept = download(stopped, state, 1, 'http://h/kept.pdf');
  await settle();
  reply(state, { id: 1, taken: false, reason: 'not-in-list' });
  assert.equal(await kept, 'kept');
  download(stopped, state, 2, 'http://h/b.zip');
  await settle();
  stopped.stop();

  const api = await worker(state);
  assert.equal(await download(api, state, 2, 'http://h/b.zip'), 'kept');
  api.downloads.onChanged.fire({ id: 2, state: { current: 'complete' } });
  await settle();
  assert.deepEqual(offered(state), [1, 2]);
  assert.deepEqual(state.badge, { text: '2?', title: 'badge_maybe_twice b.zip' });

  // The popup's "Send to WebCorvane".
  const answered = new Promise((resolve) => api.runtime.onMessage.fire({ type: 'send-to-manager', key: 'd:1' },
    { id: 'ext', url: 'chrome-extension://ext/popup.html' }, resolve));
  await settle();
  const sent = state.hostSaw[2];
  assert.deepEqual({ ...sent, id: 0, deadline: 0 }, { id: 0, url: 'http://h/kept.pdf', referrer: 'http://h/page',
                                                      cookie: 'c=1', linkText: '', filename: 'kept.pdf', deadline: 0,
                                                      userAsked: true });
  reply(state, { id: sent.id, taken: true, reason: 'taken' });
  assert.deepEqual(await answered, { taken: true, reason: 'taken' });
  await settle();
  assert.equal(listed(state)['d:1'], 'both taken');
});

test('the button: a download held for more than a moment, then the host missing', async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout'] });
  const state = browserState();
  const api = await worker(state);
  const kept = download(api, state, 1, 'http://h/a.zip');
  await settle();
  t.mock.timers.tick(1000);
  await settle();
  assert.deepEqual(state.badge, { text: '…', title: 'badge_offering_one a.zip' });
  api.runtime.lastError = { message: 'Specified native messaging host not found.' };
  state.port.onDisconnect.fire(state.port);
  assert.equal(await kept, 'kept');
  await settle();
  assert.deepEqual(state.badge, { text: '!', title: 'badge_host Specified native messaging host not found.' });
  assert.equal(listed(state)['d:1'], 'browser host-missing');
});
