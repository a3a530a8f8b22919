// The extension's rules that need no browser: which request and click a
// download came from and whether it stays with the browser, what an offer
// says, which response Firefox would save and under what name, what the
// host's answer means, what the badge warns of, which links a user sends
// with which referrer and cookies, and that the extension names the host,
// its ID and the link text's limit as the host does.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { CLICK_WINDOW_MS, Keep, MAX_URL_BYTES, clickRecord, keepReason, linkTextOf, remember, requestOf,
         requestRecord } from '../../extension/decision.js';
import { HOST_NAME as EXTENSION_HOST_NAME, MAX_LINK_TEXT_BYTES, badgeFor, buildOffer, fitsHost, limitText,
         parseDisposition, problemAfter, readReply, responseDownload } from '../../extension/offer.js';
import { KEEP_RECENT, recentAfter, recentLog } from '../../extension/recent.js';
import { MAX_SENT_LINKS, cookieHeader, firstPartyOf, hostSettingsOf, linksToSend,
         referrerFor } from '../../extension/send_rules.js';
import { EXTENSION_ID, HOST_NAME } from './identifiers.mjs';

const source = (path) => readFileSync(new URL(`../../${path}`, import.meta.url), 'utf8');

test('link text is cut at a whole character', () => {
  for (const [text, maxBytes, kept] of [
    ['a.zip', 5, 'a.zip'],
    ['a.zip!', 5, 'a.zip'],
    ['éé', 3, 'é'],        // 2 bytes each
    ['文件', 5, '文'],     // 3 bytes each
    ['a📦', 4, 'a'],       // 4 bytes, a surrogate pair: never half of it
    ['a📦', 5, 'a📦'],
  ]) assert.equal(limitText(text, maxBytes), kept, `${text} in ${maxBytes} bytes`);
});

const headers = (pairs) => Object.entries(pairs).map(([name, value]) => ({ name, value }));
const sent = (url, pairs, more = {}) => ({ url, method: 'GET', tabId: 4, requestHeaders: headers(pairs), ...more });
const browserHeaders = { 'User-Agent': 'Chromium', Referer: 'http://h/page', Cookie: 'lax=1' };

test("a download's request: what its final hop sent, unless a page made it too large or hid it", () => {
  const first = requestRecord(sent('http://h/go', browserHeaders), undefined);
  assert.deepEqual(first, { tabId: 4, firstUrl: 'http://h/go', url: 'http://h/go', method: 'GET', cookie: 'lax=1',
                            referrer: 'http://h/page', resumes: false, respondedAt: null });
  // A redirect to another site: its own cookie (none here) and referrer.
  assert.deepEqual(requestRecord(sent('http://o/a.zip', { 'User-Agent': 'C', Referer: 'http://h/' }), first),
    { ...first, url: 'http://o/a.zip', cookie: '', referrer: 'http://h/' });
  assert.equal(requestRecord(sent('http://h/a.zip', { ...browserHeaders, Range: 'bytes=10-' }), undefined).resumes, true);
  for (const [details, why] of [
    [sent('http://h/a.zip', {}), 'no headers shown (Chromium, an <a download> link)'],
    [sent(`http://h/${'a'.repeat(MAX_URL_BYTES)}`, browserHeaders), 'a URL over 8 KB'],
    [sent('http://h/a.zip', { ...browserHeaders, Cookie: 'c'.repeat(16 * 1024) }), 'headers over 16 KB'],
    [sent('ftp://h/a.zip', browserHeaders), 'not http(s)'],
  ]) assert.equal(requestRecord(details, undefined), null, why);
});

test("a Chromium download's request: its final URL, its response started nearest the item's", () => {
  const at = Date.parse('2030-01-01T00:00:10.000Z');
  const request = (url, respondedAt) => ({ url, respondedAt });
  const requests = new Map([['1', request('http://h/a.zip', at - 6000)], ['2', request('http://h/a.zip', at + 40)],
                            ['3', request('http://h/a.zip', at - 20)], ['4', request('http://h/b.zip', at)],
                            ['5', request('http://h/a.zip', null)]]);
  const item = (finalUrl) => ({ finalUrl, startTime: new Date(at).toISOString() });
  assert.deepEqual(requestOf(requests, item('http://h/a.zip')), ['3', requests.get('3')]);
  requests.delete('3');
  assert.deepEqual(requestOf(requests, item('http://h/a.zip'))?.[0], '2');
  assert.equal(requestOf(requests, item('http://h/c.zip')), null);
});

test("clicks: the user's on an http(s) link of bounded length, naming a download of its tab soon after", () => {
  const message = (url, text) => ({ type: 'link-click', url, text });
  assert.deepEqual(clickRecord(message('http://h/a.zip', 'a'.repeat(2000)), limitText, 5),
    { url: 'http://h/a.zip', text: 'a'.repeat(MAX_LINK_TEXT_BYTES), at: 5 });
  for (const refused of [message('javascript:alert(1)', 'x'), message(`http://h/${'a'.repeat(MAX_URL_BYTES)}`, 'x'),
    { type: 'other', url: 'http://h/a.zip' }, message(7, 'x'), null]) {
    assert.equal(clickRecord(refused, limitText, 5), null, JSON.stringify(refused)?.slice(0, 40));
  }
  const request = { firstUrl: 'http://h/go?to=a', url: 'http://h/a.zip' };
  for (const [url, handedAt, text] of [
    ['http://h/go?to=a', 1200, 'text'], ['http://h/a.zip#part', 1200, 'text'], ['http://h/other.zip', 1200, ''],
    ['http://h/a.zip', 1000 + CLICK_WINDOW_MS, 'text'], ['http://h/a.zip', 1001 + CLICK_WINDOW_MS, ''],
    ['http://h/a.zip', 999, ''],
  ]) assert.equal(linkTextOf({ url, text: 'text', at: 1000 }, request, handedAt), text, `${url} at ${handedAt}`);
  assert.equal(linkTextOf(undefined, request, 1), '');
  // What is remembered stays within its bound, the latest kept: a tab that
  // clicks again counts as new.
  const kept = new Map();
  for (const [tab, click] of [[1, 'a'], [2, 'b'], [1, 'c'], [3, 'd']]) remember(kept, tab, click, 2);
  assert.deepEqual([...kept], [[1, 'c'], [3, 'd']]);
});

test('a download stays with the browser unless it was a plain GET of its own that the extension saw', () => {
  const get = { method: 'GET', resumes: false };
  assert.deepEqual([[{}, get], [{ byExtensionId: 'x' }, get], [{}, null], [{}, { ...get, method: 'POST' }],
                    [{}, { ...get, resumes: true }]].map(([download, request]) => keepReason(download, request)),
  [null, Keep.OTHER_EXTENSION, Keep.UNKNOWN_REQUEST, Keep.NOT_GET, Keep.RESUMED]);
});

test('an offer carries the final URL and what its request sent, and what the host would refuse stays', () => {
  const download = { id: 7, url: 'http://h/go', finalUrl: 'http://h/a.zip', filename: 'a.zip', mime: 'x', totalBytes: 9 };
  const request = { referrer: 'http://h/', cookie: 'c=1', url: 'http://h/a.zip' };
  assert.deepEqual(buildOffer(download, request, 'text', 123), {
    id: 7, url: 'http://h/a.zip', referrer: 'http://h/', cookie: 'c=1', linkText: 'text', filename: 'a.zip',
    deadline: 123 });
  const url = (length) => `http://h/${'é'.repeat(length)}`;
  assert.equal(fitsHost(buildOffer({ ...download, finalUrl: url(500000) }, request, '', 1)), true);
  assert.equal(fitsHost(buildOffer({ ...download, finalUrl: url(530000) }, request, '', 1)), false);
});

// The same table as the reference agent's reader (tests/agent/fetch_name_test.cpp).
test('Content-Disposition gives attachment and the name the agent saves under', () => {
  assert.deepEqual(parseDisposition(undefined), { attachment: false, filename: '' });
  for (const { header, attachment, filename } of JSON.parse(source('tests/content_disposition_cases.json')).cases) {
    assert.deepEqual(parseDisposition(header), { attachment, filename }, header);
  }
});

test('Firefox hands over a response it would save, not one it shows', () => {
  const response = (status, headers, method = 'GET') => ({
    requestId: '42', method, statusCode: status, url: 'http://h/files/a%20b.zip', originUrl: 'http://h/page',
    responseHeaders: Object.entries(headers).map(([name, value]) => ({ name, value })) });
  const canPlay = (type) => type === 'video/mp4';
  const offered = (filename) => ({ id: 42, finalUrl: 'http://h/files/a%20b.zip', filename });
  for (const [status, headers, expected, method] of [
    [200, { 'Content-Type': 'application/zip', 'Content-Length': '10' }, offered('a b.zip')],
    [200, { 'content-type': 'text/html', 'content-disposition': 'attachment; filename=x.rar' }, offered('x.rar')],
    [200, { 'Content-Type': 'Application/Octet-Stream; charset=binary' }, offered('a b.zip')],
    [200, { 'Content-Type': 'video/x-msvideo' }, offered('a b.zip')],
    [200, { 'Content-Type': 'video/mp4' }, null],
    [200, { 'Content-Type': 'text/html; charset=utf-8' }, null],
    [200, { 'Content-Type': 'image/png' }, null],
    [200, { 'Content-Type': 'application/pdf', 'Content-Disposition': 'inline' }, null],
    [200, { 'Content-Type': 'application/rss+xml' }, null],
    [200, {}, null],
    [206, { 'Content-Type': 'application/zip' }, offered('a b.zip')],
    [204, { 'Content-Type': 'application/zip' }, null],
    [404, { 'Content-Type': 'application/zip' }, null],
    [302, { 'Content-Type': 'application/zip' }, null],
    [200, { 'Content-Type': 'application/zip' }, null, 'POST'],
  ]) assert.deepEqual(responseDownload(response(status, headers, method), canPlay), expected,
    `${status} ${method ?? 'GET'} ${JSON.stringify(headers)}`);
});

test('only a plain "taken" from the host for this offer takes the download', () => {
  for (const [reply, answer] of [
    [{ id: 3, taken: true, reason: 'taken', detail: 'ok' }, { taken: true, reason: 'taken', detail: 'ok', late: false }],
    [{ id: 3, taken: true, reason: 'taken', late: true }, { taken: true, reason: 'taken', detail: '', late: true }],
    [{ id: 3, taken: false, reason: 'declined', detail: 'no' }, { taken: false, reason: 'declined', detail: 'no', late: false }],
    [{ id: 3, taken: 'true', late: 1 }, { taken: false, reason: 'bad-message', detail: '', late: false }],
    [{ id: 4, taken: true }, null],
    [{ id: '3', taken: true }, null],
    ['taken', null],
    [null, null],
  ]) assert.deepEqual(readReply(reply, 3), answer, JSON.stringify(reply));
});

test('the recent list: newest first, an answer replaces its entry in place, the oldest fall off', () => {
  let list = [];
  for (let n = 0; n < KEEP_RECENT + 3; n += 1) list = recentAfter(list, { key: `d:${n}`, where: 'browser' });
  assert.equal(list.length, KEEP_RECENT);
  assert.equal(list[0].key, `d:${KEEP_RECENT + 2}`);
  list = recentAfter(list, { key: 'd:10', where: 'both', reason: 'taken-late' });
  assert.equal(list.length, KEEP_RECENT);
  assert.deepEqual(list.find((e) => e.key === 'd:10'), { key: 'd:10', where: 'both', reason: 'taken-late' });
  assert.equal(list[0].key, `d:${KEEP_RECENT + 2}`);
});

test('two callers of the recent list lose neither change', async () => {
  const stored = {};
  const area = { get: async (key) => ({ [key]: stored[key] }), set: async (items) => Object.assign(stored, items) };
  await Promise.all([recentLog(area).note({ key: 'd:1' }), recentLog(area).note({ key: 's:1' })]);
  assert.deepEqual(stored.recent.map((e) => e.key), ['s:1', 'd:1']);
});

test("the links a user sends: a selection's http(s) links once each in page order, else the menu's link", () => {
  const link = (url, text = '') => ({ url, text });
  const selection = { selectionText: 'x' };
  for (const [info, found, sent] of [
    [selection, { selection: [link('http://h/a'), link('javascript:alert(1)'), link('http://h/b#1'), link('http://h/a#2'),
      link('mailto:x@h'), link(`http://h/${'a'.repeat(MAX_URL_BYTES)}`), link('HTTPS://h/c'), 7] }, ['http://h/a', 'http://h/b#1', 'HTTPS://h/c']],
    [{ ...selection, linkUrl: 'http://h/l' }, { selection: [link('ftp://h/x')], link: link('http://h/l', 'its text') }, ['http://h/l its text']],
    [{ linkUrl: 'http://h/l' }, { selection: [link('http://h/a')], link: link('http://h/other', 'forged') }, ['http://h/l']],
    [{ linkUrl: 'javascript:alert(1)' }, null, []],
    [selection, null, []],
    [selection, { selection: Array.from({ length: MAX_SENT_LINKS + 5 }, (_, i) => link(`http://h/${i}`)) }, MAX_SENT_LINKS],
  ]) {
    const links = linksToSend(info, found);
    if (typeof sent === 'number') assert.equal(links.length, sent);
    else assert.deepEqual(links.map((l) => (l.text ? `${l.url} ${l.text}` : l.url)), sent, JSON.stringify(info));
  }
  assert.equal(linksToSend({ linkUrl: 'http://h/l' }, { link: link('http://h/l', 'é'.repeat(600)) })[0].text.length, 511);
});

test("a sent link's referrer and cookies: what a navigation from its page carries, no Strict cookie from another site", () => {
  for (const [page, target, referrer] of [
    ['http://h/p?q#f', 'http://h/a.zip', 'http://h/p?q'], ['http://u:p@h/p', 'http://h/a', 'http://h/p'],
    ['http://h/p', 'http://o/a', 'http://h/'], ['https://h/p', 'http://h/a', ''], ['http://h/p', 'https://h/a', 'http://h/'],
    ['file:///c:/p.html', 'http://h/a', ''], ['', 'http://h/a', ''],
  ]) assert.equal(referrerFor(page, target), referrer, `${page} -> ${target}`);
  const cookie = (name, sameSite, domain, hostOnly = true) => ({ name, value: name[0], sameSite, domain, hostOnly });
  const cookies = [cookie('plain', 'unspecified', 'dl.h.com'), cookie('lax', 'lax', 'dl.h.com'), cookie('none', 'no_restriction', '.h.com', false),
                   cookie('strict', 'strict', 'dl.h.com'), cookie('wide', 'strict', '.h.com', false)];
  for (const [pages, header] of [
    [['http://dl.h.com/p'], 'plain=p; lax=l; none=n; strict=s; wide=w'],
    [['http://www.h.com/p'], 'plain=p; lax=l; none=n; wide=w'],
    [['http://www.h.com/frame', 'http://other.com/top'], 'plain=p; lax=l; none=n'],
    [['https://dl.h.com/p'], 'plain=p; lax=l; none=n'],
    [['http://h.co/p'], 'plain=p; lax=l; none=n'],
    [['not a URL'], 'plain=p; lax=l; none=n'],
  ]) assert.equal(cookieHeader(cookies, 'http://dl.h.com/a.zip', pages), header, pages.join());
  const isolated = [{ name: 'a', firstPartyDomain: 'h.com' }, { name: 'b', firstPartyDomain: 'other.com' }, { name: 'c', firstPartyDomain: '' }];
  assert.deepEqual(firstPartyOf(isolated, 'http://dl.h.com/a').map((c) => c.name), ['a']);
});

test("the options page's host settings: the host's as it sent them, or why not", () => {
  const settings = { monitorBrowsers: null, switchOn: true, extendNames: ['.zip'], configFile: 'C:\\U.ini', configFound: false };
  assert.deepEqual(hostSettingsOf({ id: -1, settings }, ''), { ok: true, ...settings });
  for (const [reply, why] of [[{ settings: { ...settings, monitorBrowsers: '1' }, detail: 'd' }, 'd'],
    [{ settings: { ...settings, extendNames: [1] } }, ''], [{ taken: false, reason: 'bad-message' }, '']]) {
    assert.deepEqual(hostSettingsOf(reply, ''), { ok: false, reason: 'bad-message', detail: why });
  }
  assert.deepEqual(hostSettingsOf(null, 'gone'), { ok: false, reason: 'host-missing', detail: 'gone' });
});

test('the badge shows an offer under way, and warns of the host, the agent and a download in two places', () => {
  const host = { what: 'host', detail: 'not found' };
  const agent = { what: 'agent', detail: 'gone' };
  const twice = { what: 'twice', detail: 'a.zip' };
  const maybe = { what: 'maybe-twice', detail: 'b.zip' };
  for (const [before, event, after] of [
    [null, { dropped: 'not found' }, host],
    [agent, { dropped: 'not found' }, host],
    [null, { reason: 'unreachable', detail: 'gone' }, agent],
    [host, { reason: 'timed-out', detail: 'gone' }, agent],
    [agent, { reason: 'taken' }, null],
    [agent, { reason: 'declined' }, null],
    [agent, { reason: 'not-in-list' }, agent],
    [host, { reason: 'not-in-list' }, null],
    [host, { reason: 'bad-message' }, null],
    [agent, { twice: 'a.zip' }, twice],
    [twice, { reason: 'taken' }, twice],
    [twice, { reason: 'not-in-list' }, twice],
    [twice, { maybeTwice: 'b.zip' }, maybe],
    [maybe, { reason: 'declined' }, maybe],
    [twice, { reason: 'timed-out', detail: 'gone' }, agent],
  ]) assert.deepEqual(problemAfter(before, event), after, `${JSON.stringify(before)} ${JSON.stringify(event)}`);
  for (const [problem, offering, text, title] of [
    [null, [], '', /downloads are offered/],
    [twice, ['c.zip'], '…', /offering c\.zip to/],
    [null, ['c.zip', 'd.zip'], '…', /offering 2 downloads/],
    [twice, [], '2', /a\.zip was saved by the browser, and the download manager took it too/],
    [maybe, [], '2?', /b\.zip was being offered when the extension was stopped/],
    [{ what: 'twice', detail: 'x'.repeat(200) }, [], '2', /x{79}…/],
  ]) {
    const badge = badgeFor(problem, offering);
    assert.ok(badge.text === text && title.test(badge.title), `${JSON.stringify([problem, offering])}: ${JSON.stringify(badge)}`);
  }
});

test('the extension names the host, its own ID and the link text\'s limit as the host does', () => {
  assert.equal(EXTENSION_ID, source('common/identifiers.h').match(/kChromiumExtensionId\[\] = "([a-p]{32})"/)[1]);
  assert.equal(EXTENSION_HOST_NAME, HOST_NAME);
  assert.equal(MAX_LINK_TEXT_BYTES,
    Number(source('native_host/download_handoff.cpp').match(/kMaxLinkTextBytes = (\d+);/)[1]));
});
