// The extension's rules that need no browser: what an offer says, which click
// gave a download its text, which response Firefox would save and under what
// name, what the host's answer means, what the badge warns of, and that the
// manifest's key gives the ID the host allows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { buildOffer, cookieString, fitsHost, limitText, linkTextFor, parseDisposition, problemAfter, readReply,
         responseDownload } from '../../extension/offer.js';

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

test('cookies make the header the browser sends', () => {
  assert.equal(cookieString([{ name: 'session', value: 'x=1' }, { name: '', value: 'bare' }, { name: 'b', value: '' }]),
    'session=x=1; bare; b=');
  assert.equal(cookieString([]), '');
});

test('a download takes the text of the latest click on its first or final URL', () => {
  const item = { url: 'http://h/go?to=a', finalUrl: 'http://h/a.zip' };
  for (const [clicks, text] of [
    [[], ''],
    [[{ url: 'http://h/other.zip', text: 'other', at: 1 }], ''],
    [[{ url: 'http://h/go?to=a', text: 'first', at: 1 }], 'first'],
    [[{ url: 'http://h/a.zip#part', text: 'final', at: 1 }], 'final'],
    [[{ url: 'http://h/a.zip', text: 'new', at: 2 }, { url: 'http://h/go?to=a', text: 'old', at: 1 }], 'new'],
    [[{ url: 'http://h/a.zip', text: 'old', at: 1 }, { url: 'http://h/go?to=a', text: 'new', at: 2 }], 'new'],
  ]) assert.equal(linkTextFor(clicks, item), text, JSON.stringify(clicks));
});

test('an offer carries the final URL, and -1 for a size the browser does not know', () => {
  const item = { id: 7, url: 'http://h/go', finalUrl: 'http://h/a.zip', referrer: 'http://h/',
                 filename: 'a.zip', mime: 'application/zip' };
  for (const [totalBytes, fileSize, size] of [[10, 10, 10], [0, -1, -1], [-1, 20, 20], [undefined, undefined, -1]]) {
    assert.deepEqual(buildOffer({ ...item, totalBytes, fileSize }, 'text', 'c=1'), {
      id: 7, url: 'http://h/a.zip', firstUrl: 'http://h/go', referrer: 'http://h/', cookie: 'c=1',
      linkText: 'text', filename: 'a.zip', mime: 'application/zip', size });
  }
  // What the host would refuse unread stays with the browser without asking.
  const url = (length) => `data:,${'é'.repeat(length)}`;
  assert.equal(fitsHost(buildOffer({ ...item, finalUrl: url(500000) }, '', '')), true);
  assert.equal(fitsHost(buildOffer({ ...item, finalUrl: url(530000) }, '', '')), false);
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
  const offered = (filename, mime, totalBytes = -1) => ({ id: 42, url: 'http://h/go', finalUrl: 'http://h/files/a%20b.zip',
    referrer: 'http://h/page', filename, mime, totalBytes });
  for (const [status, headers, expected, method] of [
    [200, { 'Content-Type': 'application/zip', 'Content-Length': '10' }, offered('a b.zip', 'application/zip', 10)],
    [200, { 'content-type': 'text/html', 'content-disposition': 'attachment; filename=x.rar' }, offered('x.rar', 'text/html')],
    [200, { 'Content-Type': 'Application/Octet-Stream; charset=binary' }, offered('a b.zip', 'application/octet-stream')],
    [200, { 'Content-Type': 'video/x-msvideo' }, offered('a b.zip', 'video/x-msvideo')],
    [200, { 'Content-Type': 'video/mp4' }, null],
    [200, { 'Content-Type': 'text/html; charset=utf-8' }, null],
    [200, { 'Content-Type': 'image/png' }, null],
    [200, { 'Content-Type': 'application/pdf', 'Content-Disposition': 'inline' }, null],
    [200, { 'Content-Type': 'application/rss+xml' }, null],
    [200, {}, null],
    [206, { 'Content-Type': 'application/zip' }, offered('a b.zip', 'application/zip')],
    [204, { 'Content-Type': 'application/zip' }, null],
    [404, { 'Content-Type': 'application/zip' }, null],
    [302, { 'Content-Type': 'application/zip' }, null],
    [200, { 'Content-Type': 'application/zip' }, null, 'POST'],
  ]) assert.deepEqual(responseDownload(response(status, headers, method), 'http://h/go', canPlay), expected,
    `${status} ${method ?? 'GET'} ${JSON.stringify(headers)}`);
});

test('only a plain "taken" from the host for this offer takes the download', () => {
  for (const [reply, answer] of [
    [{ id: 3, taken: true, reason: 'taken', detail: 'ok' }, { taken: true, reason: 'taken', detail: 'ok' }],
    [{ id: 3, taken: false, reason: 'declined', detail: 'no' }, { taken: false, reason: 'declined', detail: 'no' }],
    [{ id: 3, taken: 'true' }, { taken: false, reason: 'bad-message', detail: '' }],
    [{ id: 4, taken: true }, null],
    [{ id: '3', taken: true }, null],
    ['taken', null],
    [null, null],
  ]) assert.deepEqual(readReply(reply, 3), answer, JSON.stringify(reply));
});

test('the badge warns of the host until it answers, and of the agent until it takes or declines', () => {
  const host = { what: 'host', detail: 'not found' };
  const agent = { what: 'agent', detail: 'gone' };
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
  ]) assert.deepEqual(problemAfter(before, event), after, `${JSON.stringify(before)} ${JSON.stringify(event)}`);
});

test("the manifest's key gives the ID the host's manifest allows", () => {
  const der = Buffer.from(JSON.parse(source('extension/manifest.json')).key, 'base64');
  const id = [...createHash('sha256').update(der).digest('hex').slice(0, 32)]
    .map((digit) => String.fromCharCode(97 + parseInt(digit, 16))).join('');
  assert.equal(id, source('common/identifiers.h').match(/kChromiumExtensionId\[\] = "([a-p]{32})"/)[1]);
});
