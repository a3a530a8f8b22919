// The extension's rules that need no browser: which request and click a
// download came from and whether it stays with the browser, the user's
// settings as read, what an offer says, which response Firefox would save and
// under what name, what the host's answer means, what the badge warns of,
// which links a user sends with which referrer and cookies, that every word
// has both languages, and that the extension names the host,
// its ID and the link text's limit as the host does.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { remember } from '../../extension/bounded_map.js';
import { badgeFor, problemAfter, toolbarIcon } from '../../extension/button_rules.js';
import { CLICK_WINDOW_MS, Keep, MAX_URL_BYTES, asksSignIn, bypassedBy, carriesSignIn, clickRecord, keepReason,
         linkTextOf, requestOf, requestRecord, signInSpace } from '../../extension/decision.js';
import { parseDisposition } from '../../extension/http_headers.js';
import { HOST_NAME as EXTENSION_HOST_NAME, MAX_LINK_TEXT_BYTES, buildOffer, fitsHost, limitText,
         readReply } from '../../extension/offer.js';
import { responseDownload } from '../../extension/response_rules.js';
import { KEEP_RECENT, MAX_SENDABLE_BYTES, MAX_SHOWN_CHARS, Where, recentAfter, recentLog,
         sendableOf } from '../../extension/recent.js';
import { BYPASS_KEYS, DEFAULTS, MAX_SITES, loadOwnSettings, loadSettings, openSettings, readManaged, readSettings,
         siteOfInput, siteOfTab, withoutHost } from '../../extension/settings.js';
import { linkPolicy, referrerFor as referrerUnder } from '../../extension/referrer_policy.js';
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
    ['a\ud83d', 4, 'a\ufffd'], // a lone surrogate a page's text, or a cut, left: U+FFFD
    ['\udce6b\ud83d\udce6', 9, '\ufffdb📦'],
    ['\u0080', 1, ''], ['\u0800', 2, ''], ['文', 3, '文'], ['\u{10000}', 3, ''], // each width's first
  ]) assert.equal(limitText(text, maxBytes), kept, `${text} in ${maxBytes} bytes`);
});

const headers = (pairs) => Object.entries(pairs).map(([name, value]) => ({ name, value }));
const sent = (url, pairs, more = {}) => ({ url, method: 'GET', tabId: 4, requestHeaders: headers(pairs), ...more });
const browserHeaders = { 'User-Agent': 'Chromium', Referer: 'http://h/page', Cookie: 'lax=1' };

test("a download's request: what its final hop sent, unless a page made it too large or hid it", () => {
  const first = requestRecord(sent('http://h/go', browserHeaders, { initiator: 'http://p.h:81' }), undefined);
  assert.deepEqual(first, { tabId: 4, firstUrl: 'http://h/go', pageHost: 'p.h', url: 'http://h/go', method: 'GET',
                            insecure: false, cookie: 'lax=1', referrer: 'http://h/page', resumes: false,
                            signIn: false, proxySignIn: false, respondedAt: null });
  // A redirect to another site: its own cookie (none here) and referrer; the
  // page is the one that started the first hop.
  assert.deepEqual(requestRecord(sent('http://o/a.zip', { 'User-Agent': 'C', Referer: 'http://h/' },
    { initiator: 'http://h' }), first), { ...first, url: 'http://o/a.zip', cookie: '', referrer: 'http://h/' });
  // Firefox's full page URL; none for an address typed in.
  assert.equal(requestRecord(sent('http://h/a', browserHeaders, { originUrl: 'https://f.h/p?q' })).pageHost, 'f.h');
  assert.equal(requestRecord(sent('http://h/a', browserHeaders)).pageHost, '');
  assert.equal(requestRecord(sent('http://h/a', browserHeaders, { originUrl: 'http://[' })).pageHost, '');
  assert.deepEqual(requestRecord(sent('http://h/a', { Cookie: 'c'.repeat(16 * 1024) })).referrer, '');
  assert.equal(requestRecord(sent('http://h/a.zip', { ...browserHeaders, Range: 'bytes=10-' }), undefined).resumes, true);
  // From a secure page, a hop in the clear, even one redirected to https.
  const clear = requestRecord(sent('http://h/go', browserHeaders, { initiator: 'https://p.h' }));
  assert.deepEqual([clear.insecure, requestRecord(sent('https://h/a.zip', browserHeaders), clear).insecure,
                    requestRecord(sent('https://h/a', browserHeaders, { originUrl: 'https://f.h/p' })).insecure],
                   [true, true, false]);
  // Signed in: by the request's own header, by a hop before it, or in a space a server asked a sign-in for.
  const signed = (pairs, before, space) => {
    const { signIn, proxySignIn } = requestRecord(sent('http://h/a', { ...browserHeaders, ...pairs }), before, space);
    return `${signIn} ${proxySignIn}`;
  };
  assert.deepEqual([signed({ Authorization: 'Basic x' }), signed({ 'Proxy-Authorization': 'Basic x' }),
                    signed({}, { signIn: true }), signed({}, { proxySignIn: true }), signed({}, undefined, true),
                    signed({})], ['true false', 'false true', 'true false', 'false true', 'true false', 'false false']);
  assert.deepEqual([401, 407, 403, 200].map(asksSignIn), [true, true, false, false]);
  assert.deepEqual(['http://h/a/b.zip?x', 'https://u:p@H:8/a/', 'ftp://h/a/b', 'nonsense'].map(signInSpace),
                   ['http://h/a/', 'https://h:8/a/', '', '']);
  assert.deepEqual(['http://u:p@h/a', 'HTTPS://u@h/', 'http://h/a?to=u@h', 'x http://u@h/'].map(carriesSignIn),
                   [true, true, false, false]);
  assert.notEqual(requestRecord(sent(`http://h/${'a'.repeat(MAX_URL_BYTES - 9)}`, browserHeaders)), null); // 8 KB
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
  assert.equal(requestOf(new Map([['1', requests.get('1')]]), item('http://h/a.zip')), null);
  assert.equal(requestOf(new Map([['6', request('http://h/a.zip', at + 5000)]]), item('http://h/a.zip'))?.[0], '6');
});

test("clicks: the user's on an http(s) link of bounded length, naming a download of its tab soon after", () => {
  const message = (url, text, keys) => ({ type: 'link-click', url, text, keys });
  assert.deepEqual(clickRecord(message('http://h/a.zip', 'a'.repeat(2000), { alt: true, shift: 1, ctrl: true }),
    limitText, 5), { url: 'http://h/a.zip', text: 'a'.repeat(MAX_LINK_TEXT_BYTES), keys: ['alt', 'ctrl'], at: 5 });
  const longest = `http://h/${'a'.repeat(MAX_URL_BYTES - 9)}`;
  assert.deepEqual(clickRecord(message(longest, 7), limitText, 5), { url: longest, text: '', keys: [], at: 5 });
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
  assert.equal(linkTextOf({ url: 'http://h/a.zip', text: 'text', at: 1 }, null, 1), '');
  // What is remembered stays within its bound, the latest kept: a tab that
  // clicks again counts as new.
  const kept = new Map();
  for (const [tab, click] of [[1, 'a'], [2, 'b'], [1, 'c'], [3, 'd']]) remember(kept, tab, click, 2);
  assert.deepEqual([...kept], [[1, 'c'], [3, 'd']]);
});

test("a download stays with the browser when the user says so, or unless it was a plain GET of its own the " +
     'extension saw', () => {
  const get = { method: 'GET', resumes: false, pageHost: 'page.example', firstUrl: 'http://go.example/a' };
  const file = { url: 'http://go.example/a', finalUrl: 'http://dl.files.example/a.zip', totalBytes: 1000 };
  const user = (more) => ({ ...DEFAULTS, ...more });
  const sites = (...skippedSites) => user({ skippedSites });
  for (const [download, request, settings, bypassed, reason] of [
    [file, get, DEFAULTS, false, null],
    [{ ...file, byExtensionId: 'x' }, get, user({ paused: true }), true, Keep.OTHER_EXTENSION],
    [file, null, user({ paused: true }), true, Keep.PAUSED],
    [file, { ...get, method: 'POST' }, sites('page.example'), true, Keep.BYPASSED],
    // The page's site, the link's host, the file's: a site covers its subdomains.
    [file, get, sites('other.example', 'page.example'), false, Keep.SITE_SKIPPED],
    [file, null, sites('go.example'), false, Keep.SITE_SKIPPED],
    [file, null, sites('files.example'), false, Keep.SITE_SKIPPED],
    [file, get, sites('example'), false, Keep.SITE_SKIPPED],
    [file, get, sites('les.example', 'ge.example', 'xample'), false, null],
    [file, get, user({ minimumSizeBytes: 1001 }), false, Keep.TOO_SMALL],
    [file, get, user({ minimumSizeBytes: 1000 }), false, null],
    [{ ...file, totalBytes: -1 }, get, user({ minimumSizeBytes: 1001 }), false, null], // size unknown
    [{ ...file, totalBytes: 0 }, get, user({ minimumSizeBytes: 1001 }), false, null],
    [file, null, user({ minimumSizeBytes: 1001 }), false, Keep.TOO_SMALL],
    [{ ...file, finalUrl: 'blob:http://h/6c1e' }, null, DEFAULTS, false, Keep.SCHEME],
    [file, null, DEFAULTS, false, Keep.UNKNOWN_REQUEST],
    [file, { ...get, method: 'POST' }, DEFAULTS, false, Keep.NOT_GET],
    [file, { ...get, resumes: true }, DEFAULTS, false, Keep.RESUMED],
    // The browser's verdicts stand, whatever the user's rules.
    [{ ...file, danger: 'file' }, get, sites('go.example'), true, Keep.DANGEROUS],
    [{ ...file, danger: 'accepted' }, get, DEFAULTS, false, null],
    [file, { ...get, insecure: true }, sites('go.example'), true, Keep.INSECURE],
    [{ ...file, byExtensionId: 'x', danger: 'url' }, get, DEFAULTS, false, Keep.OTHER_EXTENSION],
    [file, { ...get, resumes: true, signIn: true }, DEFAULTS, false, Keep.SIGN_IN],
    [{ ...file, finalUrl: 'http://u:p@h/a.zip' }, { ...get, signIn: true }, DEFAULTS, false, null], // the URL signs in
    [{ ...file, finalUrl: 'http://u:p@h/a.zip' }, { ...get, proxySignIn: true }, DEFAULTS, false, Keep.SIGN_IN],
  ]) {
    assert.equal(keepReason(download, request, settings, bypassed), reason,
      JSON.stringify([download.byExtensionId, request?.method, settings, bypassed]));
  }
});

test("the bypass: a click with the user's key on the download's link, in any tab, shortly before", () => {
  const download = { url: 'http://h/go', finalUrl: 'http://o/a.zip' };
  const click = (url, keys, at = 1000) => ({ url, keys, at });
  for (const [clicks, key, request, handedAt, bypassed] of [
    [[click('http://h/go#x', ['alt'])], 'alt', null, 1200, true], // Chromium's own download: no request
    [[click('http://h/x', []), click('http://o/a.zip', ['shift', 'alt'])], 'shift', null, 1200, true],
    [[click('http://h/first', ['ctrl'])], 'ctrl', { firstUrl: 'http://h/first', url: 'http://o/a.zip' }, 1200, true],
    [[click('http://h/go', ['alt'])], 'alt', null, 1000 + CLICK_WINDOW_MS, true],
    [[click('http://h/go', ['alt'])], 'alt', null, 1001 + CLICK_WINDOW_MS, false],
    [[click('http://h/go', ['alt'])], 'alt', null, 999, false],
    [[click('http://h/go', ['alt'])], 'shift', null, 1200, false],
    [[click('http://h/go', [])], 'alt', null, 1200, false],
    [[click('http://h/other', ['alt'])], 'alt', null, 1200, false],
    [[click('http://h/go', ['alt'])], 'none', null, 1200, false],
  ]) assert.equal(bypassedBy(clicks, key, download, request, handedAt), bypassed, JSON.stringify([clicks, key, handedAt]));
});

test('settings as read: each checked, anything unusable its default; sites as host names', () => {
  assert.deepEqual(readSettings(undefined), DEFAULTS);
  assert.deepEqual(readSettings({ paused: 'yes', skippedSites: 'a.example', minimumSizeBytes: -5, bypassKey: 'meta' }),
    DEFAULTS);
  assert.deepEqual(readSettings({ paused: true, skippedSites: ['B.example', 'b.example', 7, 'no site', '*.c.example'],
                                  minimumSizeBytes: 1024, bypassKey: 'shift' }),
  { paused: true, skippedSites: ['b.example', 'c.example'], minimumSizeBytes: 1024, bypassKey: 'shift' });
  for (const minimum of [1.5, 2 ** 41, Infinity, '1024']) assert.equal(readSettings({ minimumSizeBytes: minimum }).minimumSizeBytes, 0);
  const many = Array.from({ length: 3 * MAX_SITES }, (_, i) => `s${i}.example`);
  assert.deepEqual(readSettings({ skippedSites: many }).skippedSites, many.slice(0, MAX_SITES));
  for (const [input, site] of [
    ['Example.COM', 'example.com'], [' www.example.com. ', 'www.example.com'], ['*.example.com', 'example.com'],
    ['https://dl.example.com:8443/a/b.zip?x#y', 'dl.example.com'], ['Bücher.example', 'xn--bcher-kva.example'],
    ['127.0.0.1', '127.0.0.1'], ['localhost', 'localhost'], ['http://[::1]:80/', '[::1]'],
    ['', null], ['example.com/path', null], ['user@example.com', null], ['a b.example', null],
    ['exa_mple.com', null], ['-a.example', null], ['javascript:alert(1)', null], ['file:///etc/passwd', null],
    [`${'a'.repeat(64)}.example`, null], [42, null], ['http://[', null], ['ex*.ample.com', null],
    ['ftp://Files.example/x', 'files.example'],
  ]) assert.equal(siteOfInput(input), site, String(input));
  // The popup's switch: the tab's site without "www.", off again for any site covering the tab's host.
  assert.equal(siteOfTab('www.example.com'), 'example.com');
  assert.deepEqual(withoutHost(['example.com', 'dl.example.com', 'other.example', 'ample.com'], 'dl.example.com'),
    ['other.example', 'ample.com']);
});

test("settings an organization set win, each one usable; the user's own stay the user's to change", async () => {
  assert.deepEqual(readManaged(undefined), {});
  assert.deepEqual(readManaged({ paused: 'yes', skippedSites: 'a.example', minimumSizeBytes: -1, bypassKey: 'meta',
                                 other: true }), {});
  assert.deepEqual(readManaged({ paused: false, skippedSites: ['Intranet.example', 'no site'], minimumSizeBytes: 0,
                                 bypassKey: 'none' }),
  { paused: false, skippedSites: ['intranet.example'], minimumSizeBytes: 0, bypassKey: 'none' });
  const area = (values, fails = false) => ({
    values,
    async get(keys) {
      if (fails) throw new Error('Managed storage manifest not found');
      return Object.fromEntries(keys.filter((key) => key in this.values).map((key) => [key, this.values[key]]));
    },
  });
  const own = { paused: true, skippedSites: [], minimumSizeBytes: 2048, bypassKey: 'shift' };
  const storage = { sync: area({ ...own }), local: area({}), managed: area({ paused: false, skippedSites: ['corp.example'] }) };
  const { area: place, settings } = await openSettings(storage);
  assert.equal(place, storage.sync);
  assert.deepEqual(settings, { ...own, paused: false, skippedSites: ['corp.example'], managed: ['paused', 'skippedSites'] });
  assert.deepEqual(await loadOwnSettings(place), own);
  storage.managed.values = { bypassKey: 'ctrl' };
  assert.deepEqual(await loadSettings(place), { ...own, bypassKey: 'ctrl', managed: ['bypassKey'] });
  // Firefox answers an error where no policy sets anything.
  const firefox = { sync: area({ ...own }), local: area({}), managed: area({}, true) };
  assert.deepEqual((await openSettings(firefox)).settings, { ...own, managed: [] });
  // The browsers' schema, the administrative templates and the check name the same settings.
  const schema = JSON.parse(source('extension/managed_schema.json'));
  assert.deepEqual(Object.keys(schema.properties).sort(), Object.keys(DEFAULTS).sort());
  assert.deepEqual(schema.properties.bypassKey.enum, BYPASS_KEYS);
  const admx = source('release/policy/webcorvane.admx');
  const named = new Set([...admx.matchAll(/valueName="(\w+)"|\\policy\\(\w+)"/g)].map(([, value, list]) => value ?? list));
  assert.deepEqual([...named].sort(), Object.keys(DEFAULTS).sort());
  for (const key of BYPASS_KEYS) assert.match(admx, new RegExp(`<string>${key}</string>`));
  for (const name of Object.keys(DEFAULTS)) assert.match(source('tools/url_explainer/browser_policies.cpp'), new RegExp(`"${name}"`));
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
  // Characters the browser decoded already stay; spacing around names and parameters.
  for (const [header, filename] of [['attachment; filename="Ā.zip"', 'Ā.zip'], ['attachment ;filename=a b.zip', 'a b.zip'],
    ['attachment; filename="  a.zip\t "', 'a.zip'], ["attachment; filename*=UTF-8''x.zip  ; filename=b.zip", 'x.zip'],
    ["attachment; filename*=UTF-8''x y.zip; filename=b.zip", 'b.zip'],
    ["attachment; filename*=iso-8859-1''x%4; filename=b.zip", 'b.zip']]) {
    assert.deepEqual(parseDisposition(header), { attachment: true, filename }, header);
  }
  for (const { header, attachment, filename } of JSON.parse(source('tests/content_disposition_cases.json')).cases) {
    assert.deepEqual(parseDisposition(header), { attachment, filename }, header);
  }
});

test('Firefox hands over a response it would save, not one it shows', () => {
  const response = (status, headers, method = 'GET') => ({
    requestId: '42', method, statusCode: status, url: 'http://h/files/a%20b.zip', originUrl: 'http://h/page',
    responseHeaders: headers && Object.entries(headers).map(([name, value]) => ({ name, value })) });
  const canPlay = (type) => type === 'video/mp4' || type === 'audio/ogg';
  const offered = (filename, totalBytes = -1) => ({ id: 42, url: 'http://h/files/a%20b.zip',
                                                     finalUrl: 'http://h/files/a%20b.zip', filename, totalBytes,
                                                     incognito: false });
  for (const [status, headers, expected, method] of [
    [200, { 'Content-Type': 'application/zip', 'Content-Length': '10' }, offered('a b.zip', 10)],
    [200, { 'Content-Type': 'application/zip', 'Content-Length': '1e3' }, offered('a b.zip')],
    [299, { 'Content-Type': 'application/zip', 'Content-Length': ' 10 ' }, offered('a b.zip', 10)],
    [200, { 'Content-Type': 'audio/ogg' }, null],
    [205, { 'Content-Type': 'application/zip' }, null],
    [100, { 'Content-Type': 'application/zip' }, null],
    ...['application/xml', 'application/json', 'application/javascript', 'application/x-javascript',
      'application/ecmascript', 'multipart/x-mixed-replace', 'application/xhtml+xml']
      .map((type) => [200, { 'Content-Type': `${type} ; charset=utf-8` }, null]),
    [200, { 'content-type': 'text/html', 'content-disposition': 'attachment; filename=x.rar' }, offered('x.rar')],
    [200, { 'Content-Type': 'Application/Octet-Stream; charset=binary' }, offered('a b.zip')],
    [200, { 'Content-Type': 'video/x-msvideo' }, offered('a b.zip')],
    [200, { 'Content-Type': 'video/mp4' }, null],
    [200, { 'Content-Type': 'text/html; charset=utf-8' }, null],
    [200, { 'Content-Type': 'image/png' }, null],
    [200, { 'Content-Type': 'application/pdf', 'Content-Disposition': 'inline' }, null],
    [200, { 'Content-Type': 'application/rss+xml' }, null],
    [200, {}, null],
    [200, undefined, null],
    [206, { 'Content-Type': 'application/zip' }, offered('a b.zip')],
    [204, { 'Content-Type': 'application/zip' }, null],
    [404, { 'Content-Type': 'application/zip' }, null],
    [302, { 'Content-Type': 'application/zip' }, null],
    [200, { 'Content-Type': 'application/zip' }, offered('a b.zip'), 'POST'], // kept: not a GET
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
  // A page names its files and makes its URLs as long as it likes.
  const [long] = recentAfter([], { key: 'd:x', name: `📦${'n'.repeat(MAX_SHOWN_CHARS - 4)}📦📦`,
                                   url: `data:,${'u'.repeat(2 << 20)}` });
  assert.equal(long.name, `📦${'n'.repeat(MAX_SHOWN_CHARS - 4)}…`);
  assert.equal(long.url.length, MAX_SHOWN_CHARS);
  const fits = 'n'.repeat(MAX_SHOWN_CHARS);
  assert.equal(recentAfter([], { key: 'd:y', name: fits })[0].name, fits);
});

test('two callers of the recent list lose neither change; what the browser sent is kept as long as its entry', async () => {
  const stored = {};
  const area = { get: async (key) => ({ [key]: stored[key] }), set: async (items) => Object.assign(stored, items),
                 remove: async (keys) => { for (const key of keys) delete stored[key]; } };
  await Promise.all([recentLog(area).note({ key: 'd:1' }), recentLog(area).note({ key: 's:1' })]);
  assert.deepEqual(stored.recent.map((e) => e.key), ['s:1', 'd:1']);
  const request = (cookie) => ({ url: 'http://h/a', referrer: '', cookie, filename: 'a' });
  const fitting = request('c'.repeat(MAX_SENDABLE_BYTES - JSON.stringify(request('')).length));
  await recentLog(area).note({ key: 'd:2', sendable: false }, fitting);
  await recentLog(area).note({ key: 'd:3', sendable: false }, request('c'.repeat(MAX_SENDABLE_BYTES)));
  assert.deepEqual([await sendableOf(area, 'd:2'), await sendableOf(area, 'd:3')], [fitting, undefined]);
  assert.deepEqual(stored.recent.slice(0, 2).map((e) => e.sendable), [false, true]);
  for (let n = 4; n < KEEP_RECENT + 2; n += 1) await recentLog(area).note({ key: `d:${n}` });
  assert.deepEqual(await sendableOf(area, 'd:2'), fitting);
  await recentLog(area).note({ key: 'd:last' });
  assert.equal(await sendableOf(area, 'd:2'), undefined);
  // A private window's download: in the private list alone, gone with it.
  await recentLog(area, true).note({ key: 'd:1', sendable: false }, request('p=1'));
  assert.deepEqual([stored.recentPrivate.map((e) => e.key), await sendableOf(area, 'd:1', true),
                    await sendableOf(area, 'd:1'), stored.recent.length], [['d:1'], request('p=1'), undefined, KEEP_RECENT]);
  await recentLog(area, true).forget();
  assert.deepEqual(Object.keys(stored).filter((key) => key.includes('recentPrivate')), []);
});

test("the links a user sends: a selection's http(s) links once each in page order, else the menu's link", () => {
  const link = (url, text = '') => ({ url, text });
  const selection = { selectionText: 'x' };
  // The selection's links and text as the user opened the menu on it.
  const seen = (links, more = {}) => ({ selection: links, selectionText: ' x\n', ...more });
  for (const [info, found, sent] of [
    [selection, seen([link('http://h/a'), link('javascript:alert(1)'), link('http://h/b#1'), link('http://h/a#2'),
      link('mailto:x@h'), link(`http://h/${'a'.repeat(MAX_URL_BYTES)}`), link('HTTPS://h/c'), 7, link(['http://h/d'])]),
      ['http://h/a', 'http://h/b#1', 'HTTPS://h/c']],
    [{ ...selection, linkUrl: 'http://h/l' }, seen([link('ftp://h/x')], { link: link('http://h/l', 'its text') }), ['http://h/l its text']],
    [{ linkUrl: 'http://h/l' }, seen([link('http://h/a')], { link: link('http://h/other', 'forged') }), ['http://h/l']],
    // The page changed the selection after the right-click: not the menu's.
    [{ selectionText: 'one two', linkUrl: 'http://h/l' }, seen([link('http://h/a')], { selectionText: 'two one' }), ['http://h/l']],
    [{ selectionText: 'one' }, seen([link('http://h/a')], { selectionText: undefined }), []],
    [{ selectionText: 'one tw' }, seen([link('http://h/a')], { selectionText: 'one\n\ttwo' }), ['http://h/a']], // shortened
    [{ linkUrl: 'javascript:alert(1)' }, null, []],
    [selection, null, []],
    [selection, seen(Array.from({ length: MAX_SENT_LINKS + 5 }, (_, i) => link(`http://h/${i}`))), MAX_SENT_LINKS],
  ]) {
    const links = linksToSend(info, found);
    if (typeof sent === 'number') assert.equal(links.length, sent);
    else assert.deepEqual(links.map((l) => (l.text ? `${l.url} ${l.text}` : l.url)), sent, JSON.stringify(info));
  }
  assert.equal(linksToSend({ linkUrl: 'http://h/l' }, { link: link('http://h/l', 'é'.repeat(600)) })[0].text.length, 511);
  assert.deepEqual(linksToSend({ linkUrl: 'http://h/l' }, { link: { url: 'http://h/l', noreferrer: true, policy: 'origin' } }),
    [{ url: 'http://h/l', text: '', noreferrer: true, policy: 'origin' }]);
});

test("a sent link's referrer and cookies: what a navigation from its page carries, no Strict cookie from another site", () => {
  for (const [page, target, referrer] of [
    ['http://h/p?q#f', 'http://h/a.zip', 'http://h/p?q'], ['http://u:p@h/p', 'http://h/a', 'http://h/p'],
    ['http://h/p', 'http://o/a', 'http://h/'], ['https://h/p', 'http://h/a', ''], ['http://h/p', 'https://h/a', 'http://h/'],
    ['file:///c:/p.html', 'http://h/a', ''], ['', 'http://h/a', ''],
  ]) assert.equal(referrerFor(page, target), referrer, `${page} -> ${target}`);
  // Each policy, from https://h/p?q to the same origin, another, and down to http.
  const [whole, origin] = ['https://h/p?q', 'https://h/'];
  for (const [policy, ...referrers] of [
    ['no-referrer', '', '', ''], ['no-referrer-when-downgrade', whole, whole, ''], ['origin', origin, origin, origin],
    ['origin-when-cross-origin', whole, origin, origin], ['same-origin', whole, '', ''],
    ['strict-origin', origin, origin, ''], ['strict-origin-when-cross-origin', whole, origin, ''],
    ['unsafe-url', whole, whole, whole], ['Unsafe-URL ', whole, whole, whole], ['bogus', whole, origin, ''],
  ]) {
    assert.deepEqual(['https://h/a', 'https://o/a', 'http://o/a'].map((to) => referrerUnder(`${whole}#f`, to, policy)),
      referrers, policy);
  }
  // Loopback is no downgrade; a page that is not http(s), or a target that is no URL, sends none.
  assert.deepEqual(['http://localhost:8/a', 'http://a.localhost/', 'http://[::1]/', 'http://127.1.2.3/', 'http://127.0.0.1.h/',
                    'http://x127.0.0.1/', 'nonsense'].map((to) => referrerUnder('https://h/p', to, 'strict-origin')),
                   [origin, origin, origin, origin, '', '', '']);
  assert.equal(referrerUnder('ftp://h/p', 'http://h/a', 'unsafe-url'), '');
  assert.equal(referrerUnder(`https://h/${'p'.repeat(4096)}`, 'https://h/a', 'unsafe-url'), origin);
  // The link's rel=noreferrer, its referrerpolicy, the page's last <meta> that names one, its header, the default.
  for (const [link, meta, header, policy] of [
    [{ noreferrer: true, policy: 'unsafe-url' }, ['unsafe-url'], 'unsafe-url', 'no-referrer'],
    [{ noreferrer: false, policy: 'origin' }, ['unsafe-url'], 'same-origin', 'origin'],
    [{ policy: '' }, ['never', 'bogus', ''], 'origin', 'no-referrer'],
    [{ policy: 'bogus' }, ['origin', 'always'], 'origin', 'unsafe-url'],
    [null, [], 'unsafe-url, bogus-new,origin ,bogus-newer', 'origin'],
    [null, undefined, '', 'strict-origin-when-cross-origin'],
    [null, ['origin', 7, ' Default '], 'origin', 'strict-origin-when-cross-origin'],
    [null, ['origin-when-crossorigin'], '', 'origin-when-cross-origin'], [null, 'origin', 'same-origin', 'same-origin'],
  ]) assert.equal(linkPolicy(link, meta, header), policy, JSON.stringify([link, meta, header]));
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
    [twice, { reason: 'bad-message' }, twice],
    [host, { reason: 'bad-message' }, null],
    [agent, { twice: 'a.zip' }, twice],
    [twice, { reason: 'taken' }, twice],
    [twice, { reason: 'not-in-list' }, twice],
    [twice, { maybeTwice: 'b.zip' }, maybe],
    [maybe, { reason: 'declined' }, maybe],
    [twice, { reason: 'timed-out', detail: 'gone' }, agent],
  ]) assert.deepEqual(problemAfter(before, event), after, `${JSON.stringify(before)} ${JSON.stringify(event)}`);
  for (const [problem, offering, paused, text, title, icon] of [
    [null, undefined, undefined, '', ['actionTitle'], 'normal'],
    [{ what: 'twice', detail: 'x'.repeat(80) }, [], false, '2', ['badge_twice', 'x'.repeat(80)], 'problem'],
    [null, [], true, '', ['badge_paused'], 'paused'],
    [twice, ['c.zip'], true, '…', ['badge_offering_one', 'c.zip'], 'problem'],
    [null, ['c.zip', 'd.zip'], false, '…', ['badge_offering_many', '2'], 'normal'],
    [null, ['c.zip'], true, '…', ['badge_offering_one', 'c.zip'], 'paused'],
    [twice, [], true, '2', ['badge_twice', 'a.zip'], 'problem'],
    [maybe, [], false, '2?', ['badge_maybe_twice', 'b.zip'], 'problem'],
    [host, [], false, '!', ['badge_host', 'not found'], 'problem'],
    [agent, [], false, '!', ['badge_agent', 'gone'], 'problem'],
    [{ what: 'twice', detail: 'x'.repeat(200) }, [], false, '2', ['badge_twice', `${'x'.repeat(79)}…`], 'problem'],
  ]) {
    const badge = badgeFor(problem, offering, paused);
    assert.deepEqual([badge.text, badge.title, badge.icon], [text, title, icon],
                     JSON.stringify([problem, offering, paused]));
  }
  // Each icon the button names is one the build renders.
  const build = source('scripts/build_extension.py');
  const listed = (name) => build.match(new RegExp(`^${name} = \\(([^)]*)\\)`, 'm'))[1];
  for (const icon of ['normal', 'paused', 'problem']) {
    assert.match(listed('ICON_STATES'), new RegExp(`"${icon}"`));
    assert.deepEqual(Object.keys(toolbarIcon(icon)), listed('TOOLBAR_SIZES').split(',').map((size) => size.trim()));
  }
});

test('the extension names the host, its own ID and the link text\'s limit as the host does', () => {
  assert.equal(EXTENSION_ID, source('common/identifiers.h').match(/kChromiumExtensionId\[\] = "([a-p]{32})"/)[1]);
  assert.equal(EXTENSION_HOST_NAME, HOST_NAME);
  assert.equal(MAX_LINK_TEXT_BYTES,
    Number(source('native_host/download_handoff.cpp').match(/kMaxLinkTextBytes = (\d+);/)[1]));
});

// Every word the extension shows, in both languages: the same keys in each,
// each key the code, the pages and the manifest use present, every reason a
// download can have worded, and the same placeholders in both, each one used.
test('every word in English and Simplified Chinese', () => {
  const catalog = (locale) => JSON.parse(source(`extension/_locales/${locale}/messages.json`));
  const [en, zh] = [catalog('en'), catalog('zh_CN')];
  assert.deepEqual(Object.keys(zh).sort(), Object.keys(en).sort());
  const used = new Set();
  const scan = (path, pattern) => { for (const [, key] of source(path).matchAll(pattern)) used.add(key); };
  for (const path of ['popup.js', 'options.js', 'words.js', 'background.js']) scan(`extension/${path}`, /\bword\('(\w+)'/g);
  for (const path of ['popup.html', 'options.html']) scan(`extension/${path}`, /data-i18n(?:-[a-z-]+)?="(\w+)"/g);
  scan('extension/manifest.json', /__MSG_(\w+)__/g);
  const hostReasons = [...source('native_host/message.cpp').matchAll(/return "([a-z-]+)";/g)].map(([, code]) => code);
  assert.ok(hostReasons.includes('not-in-list') && hostReasons.includes('bad-message'), hostReasons.join());
  // Also where a mutation run has wrapped each literal: (cond ? "" : (cover("1"), 'code')).
  const ownReasons = readdirSync(new URL('../../extension/', import.meta.url)).filter((name) => name.endsWith('.js'))
    .flatMap((name) => [...source(`extension/${name}`).matchAll(
      /(?:reason: |gaveUp\()(?:\w+\("\d+"\) \? "" : \(\w+\("\d+"\), )?'([a-z-]+)'/g)].map(([, code]) => code));
  assert.ok(ownReasons.includes('taken-late') && ownReasons.includes('queue-full'), ownReasons.join());
  for (const code of [...hostReasons, ...ownReasons, ...Object.values(Keep), 'host-missing', 'unknown']) {
    used.add(`reason_${code.replaceAll('-', '_')}`);
  }
  for (const where of Object.values(Where)) used.add(`where_${where.replaceAll('-', '_')}`);
  const problems = [null, { what: 'host', detail: 'd' }, { what: 'agent', detail: 'd' }, { what: 'twice', detail: 'n' },
                    { what: 'maybe-twice', detail: 'n' }];
  const titles = [['a'], ['a', 'b']].flatMap((offering) => [badgeFor(null, offering).title])
    .concat(problems.flatMap((problem) => [false, true].map((paused) => badgeFor(problem, [], paused).title)));
  for (const [key, ...substitutions] of titles) {
    used.add(key);
    assert.equal(Object.keys(en[key]?.placeholders ?? {}).length, substitutions.length, key);
  }
  const missing = [...used].filter((key) => !(key in en));
  assert.deepEqual(missing, [], `not in _locales: ${missing.join(', ')}`);
  for (const key of Object.keys(en)) {
    for (const [locale, messages] of [['en', en], ['zh_CN', zh]]) {
      const { message, placeholders = {} } = messages[key];
      assert.ok(typeof message === 'string' && message.trim() !== '', `${locale} ${key}: empty`);
      const named = [...message.matchAll(/\$(\w+)\$/g)].map(([, name]) => name.toLowerCase()).sort();
      assert.deepEqual([...new Set(named)], Object.keys(placeholders).sort(), `${locale} ${key}: placeholders`);
    }
    assert.deepEqual(zh[key].placeholders, en[key].placeholders, `${key}: placeholders differ`);
  }
  for (const key of BYPASS_KEYS) assert.match(source('extension/options.html'), new RegExp(`<option value="${key}"`));
});
