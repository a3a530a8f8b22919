// The extension end to end: Debian's Chromium or Firefox ESR clicks links on
// a local site, the extension offers each download to the native host (run
// under Wine), and the host to the reference agent. Each case checks what the
// agent recorded and what the browser saved; one line per case says what
// happened. The extension's pages are opened in a tab, as the popup and the
// options page show them, to change the user's settings and read the list of
// downloads.
//
//   node e2e.mjs --wine-run RUN --host HOST.exe --agent AGENT.exe --work DIR
//                [--agent-holder HOLDER.exe] [--browser chromium|firefox]
//                [--idle-seconds N] [--cases ID,...] [--pictures DIR] [--warm]
//
// RUN runs a Windows program in the prefix where AGENT is registered; DIR is
// made afresh; HOLDER keeps an agent running for the 50 links, without it
// each reaches an agent started for it; --warm keeps one running through
// every case, so that the click-to-agent figures are those of a warm agent.
// --idle-seconds measures the host's
// memory and CPU while it waits, after the cases; --cases runs only the
// cases of these ids; --pictures makes the pictures of the popup (light and
// dark) and the options page in English and Simplified Chinese into that folder
// (Chromium). Exits 77 where the browser cannot run.
import { execFileSync, spawnSync } from 'node:child_process';
import { chmodSync, copyFileSync, existsSync, mkdirSync, openSync, readFileSync, readdirSync, rmSync, statSync,
         writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { isDeepStrictEqual, parseArgs } from 'node:util';
import { setTimeout as sleep } from 'node:timers/promises';
import { HOLD_MS } from '../../extension/offer.js';
import { Agent, windowsPath } from './agent.mjs';
import { until } from './browser.mjs';
import * as chromium from './chromium.mjs';
import * as firefoxDriver from './firefox.mjs';
import { hostUsage } from './host_usage.mjs';
import { FILE_BYTES, startSite } from './site.mjs';

const here = dirname(fileURLToPath(import.meta.url));
// A held download is saved at most this long after the hold ends.
const SAVE_MARGIN_MS = 2500;
// An agent that answers after the hold, and ones that are slow but in time.
const LATE_MS = HOLD_MS + 1500;
const STALL_MS = 7000;
const SLOW_MS = 2000;
const BADGE_MS = 3000;
const TEXT = 'Ünïcødé 文件 📦 a.zip';
const TWIN = '/files/twin.zip?wait=1000';

const { values: opt } = parseArgs({ options: {
  'wine-run': { type: 'string' }, host: { type: 'string' }, agent: { type: 'string' },
  work: { type: 'string' }, browser: { type: 'string', default: 'chromium' }, 'agent-holder': { type: 'string' },
  'idle-seconds': { type: 'string', default: '0' }, cases: { type: 'string' }, pictures: { type: 'string' },
  warm: { type: 'boolean', default: false } } });
const firefox = opt.browser === 'firefox';
const driver = firefox ? firefoxDriver : chromium;

const whyNot = spawnSync('bash', [join(here, `${opt.browser}_probe.sh`)]).stdout.toString().trim();
if (whyNot !== '') {
  console.log(`not runnable here: ${whyNot}`);
  process.exit(77);
}

// What the extension says, in English: the browsers here run in English but
// for the pictures' second language.
const english = JSON.parse(readFileSync(join(here, '../../extension/_locales/en/messages.json'), 'utf8'));
const sentence = (key) => english[key].message;
const reasonSentence = (code) => sentence(`reason_${code.replaceAll('-', '_')}`);
const KB = 1024;
const MB = 1024 * 1024;
// The popup shows its list within POPUP_MS of its opening, the median of
// five openings; the test fails only when clearly slower, at POPUP_BROKEN_MS
// (a loaded machine takes longer), and prints the figures.
const POPUP_MS = 100;
const POPUP_BROKEN_MS = 3 * POPUP_MS;
// Paused, a download is saved as fast as with no extension: the medians of
// this many clicks each, side by side. The test fails only when clearly
// broken, at SLOWER_AT_MOST; the figure is printed.
const TIMED_CLICKS = 20;
const WARM_CLICKS = 3;
const SLOWER_AT_MOST = 1.5;
// The pictures' downloads: two the manager takes, one it leaves (not in its
// list), one the user keeps with Alt.
const PICTURED = [
  { id: 'photos', href: '/files/holiday-photos-2026.zip', text: 'Holiday photos 2026 (ZIP, 64 KB)' },
  { id: 'report', href: '/files/annual-report-2025.pdf', text: 'Annual report 2025 (PDF)' },
  { id: 'driver', href: '/files/printer-driver-setup.zip', text: 'Printer driver', keys: ['alt'] },
  { id: 'backup', href: '/files/project-backup.rar', text: 'Project backup (RAR)' },
];

const badgeOf = ({ browser }) => browser.askExtension('Promise.all([chrome.action.getBadgeText({}), chrome.action.getTitle({})])');
// The agent's records of `path` on the site.
const recordsOf = (run, records, path) => records.filter((record) => record.url === run.site.base + path);

// expect: 'taken' (the agent's record, nothing saved) or 'kept' (the file
// saved as `file`); asked: whether the agent hears of a kept download;
// withinMs: how long after the click the file may be saved at the latest;
// badge: what the toolbar button says after it, where the test can read it
// (Chromium): '' for nothing, else the title, with `badgeText` ('!' unless
// said). `sameSite`: the cookies the site must have seen, to show that the
// case tests what it is for. `keys`: modifier keys held on the click.
// `reason`: why the popup's list says the download went where it went (the
// manager when taken, the browser when kept, or `where`). `run` replaces the
// one click of a case.
const cases = [
  { id: 'missing', what: 'host missing', href: '/files/missing.zip', expect: 'kept', file: 'missing.zip',
    asked: false, reason: 'host-missing', badge: /browser host is missing or failed \(Specified native messaging host not found/,
    before: (run) => run.register(null), after: (run) => run.register(run.hostProgram) },
  { id: 'zip', what: '.zip link (host cold)', href: '/files/a.zip', text: TEXT, expect: 'taken', badge: '',
    reason: 'taken' },
  { id: 'php', what: 'download.php as a.zip', href: '/download.php?file=a.zip', expect: 'taken' },
  { id: 'pdf', what: '.pdf attachment', href: '/files/report.pdf', expect: 'kept', file: 'report.pdf', asked: false,
    reason: 'not-in-list' },
  { id: 'blob', what: 'blob: made by the page', blob: 'made.zip', expect: 'kept', file: 'made.zip', asked: false,
    reason: 'scheme' },
  // The manager would fetch the form's URL with a GET: something else.
  { id: 'post', what: "a form's POST", href: '/files/post.zip', post: true, expect: 'kept', file: 'post.zip',
    asked: false, reason: 'not-get' },
  { id: 'declined', what: 'agent declines', href: '/files/declined.zip', expect: 'kept', file: 'declined.zip',
    asked: true, reason: 'declined', before: (run) => run.agent.set('Answer', '0'), after: (run) => run.agent.set('Answer', null) },
  { id: 'absent', what: 'agent not registered', href: '/files/absent.zip', expect: 'kept', file: 'absent.zip',
    asked: false, reason: 'unreachable', badge: /cannot be reached/, before: (run) => run.agent.register(false),
    after: (run) => run.agent.register(true) },
  { id: 'redirect', what: 'redirect to a .zip', href: '/go?to=/files/moved.zip', final: '/files/moved.zip',
    expect: 'taken', badge: '' },
  // From one site to another, whose cookies were set on a visit before: the
  // browser sends the SameSite=Lax cookie and holds back the Strict one, and
  // sends only the page's origin as the referrer.
  { id: 'cross', what: 'link to another site', href: '/files/cross.zip', other: true, expect: 'taken',
    sameSite: [/\blax=l\b/, /^(?!.*\bstrict=)/], before: (run) => run.tab.load(`${run.site.other}/page.html`) },
  // Pages in other tabs click links by script, some of megabytes, one to the
  // file clicked next with a text of their own.
  { id: 'hostile', what: 'after clicks by pages', href: '/files/real.zip', text: 'the real link', expect: 'taken',
    before: async (run) => {
      const forged = encodeURIComponent(`${run.site.base}/files/real.zip`);
      for (const tab of await run.tabs(4)) if (tab !== run.tab) await tab.load(`${run.site.base}/hostile.html?forged=${forged}`);
      await sleep(500);
    },
    after: async (run) => { for (const tab of await run.tabs(4)) if (tab !== run.tab) await tab.load('about:blank'); } },
  // The user's own say, each set where the user sets it and in effect on the
  // next click: the download stays with the browser, the host is never asked
  // (the agent, which takes every .zip, has no record of it), and the popup
  // says why. The links lead from this site to the other.
  { id: 'paused', what: 'paused in the popup', href: '/files/paused.zip', expect: 'kept', file: 'paused.zip',
    asked: false, reason: 'paused', before: (run) => setPaused(run, true), after: (run) => setPaused(run, false) },
  { id: 'skippage', what: "the page's site skipped", href: '/files/skippage.zip', other: true, expect: 'kept',
    file: 'skippage.zip', asked: false, reason: 'site-skipped', before: (run) => addSite(run, `${run.site.base}/`),
    after: (run) => removeSite(run, '127.0.0.1') },
  { id: 'skipfile', what: "the file's host skipped", href: '/files/skipfile.zip', other: true, expect: 'kept',
    file: 'skipfile.zip', asked: false, reason: 'site-skipped', before: (run) => addSite(run, ' LocalHost '),
    after: (run) => removeSite(run, 'localhost') },
  { id: 'alt', what: 'Alt+click', href: '/files/alt.zip', keys: ['alt'], expect: 'kept', file: 'alt.zip',
    asked: false, reason: 'bypassed' },
  // A file behind a sign-in: handed over when its link names the user and
  // password, kept when the browser signs in by itself; one elsewhere on the
  // site, which needs none, handed over.
  { id: 'signin', what: 'a sign-in', run: signIn,
    links: [{ id: 'signurl', href: '/auth/signurl.zip', signIn: true }, { id: 'signkept', href: '/auth/signkept.zip' },
            { id: 'signfree', href: '/files/signfree.zip' }] },
  // Firefox's own Alt+click save, asked for by the extension, in a container:
  // with the container's cookies, not the default ones.
  { id: 'altbox', what: 'Alt+click in a container', run: altInContainer, firefoxOnly: true,
    links: [{ id: 'altbox', href: '/files/altbox.zip' }] },
  // Where the user allowed the extension in private windows; each session
  // has a cookie of its own.
  { id: 'private', what: 'a private window', run: inPrivate,
    links: [{ id: 'private', href: '/files/private.zip' }] },
  { id: 'small', what: 'under the minimum size', href: '/files/small.zip', expect: 'kept', file: 'small.zip',
    asked: false, reason: 'too-small', before: (run) => setMinimum(run, 1, MB), after: (run) => setMinimum(run, 0, KB) },
  // Each answered late enough for both clicks to come before either download.
  { id: 'twin', what: 'two at once', run: twoAtOnce,
    links: [['twin1', 'twin one'], ['twin2', 'twin two']].map(([id, text]) => ({ id, href: TWIN, text })) },
  // Slow in AddTask, which stalls an agent that is running already as well
  // as one that starts: in time, the download is held until the agent takes
  // it. Past the hold the browser keeps the download at the hold's end;
  // the agent takes it after: the one way left to two places, which the
  // button says. The host stays until the late answer came: an agent whose
  // client ended in a call is never let go under Wine.
  { id: 'stalled', what: `agent stalls ${STALL_MS / 1000} s`, href: '/files/stalled.zip', expect: 'taken',
    before: (run) => run.agent.set('Answer', `slow:${STALL_MS}:1`), after: (run) => run.agent.set('Answer', null) },
  { id: 'late', what: 'agent answers too late', href: '/files/late.zip', expect: 'kept', file: 'late.zip',
    asked: true, withinMs: HOLD_MS + SAVE_MARGIN_MS, before: (run) => run.agent.set('Answer', `slow:${LATE_MS}:1`),
    badge: /late\.zip was saved by the browser, and the download manager took it too/, badgeText: '2',
    reason: 'taken-late', where: 'both',
    badgeMs: LATE_MS - HOLD_MS + BADGE_MS, after: async (run) => {
      run.agent.set('Answer', null);
      await sleep(run.clicked + LATE_MS + 1000 - performance.now());
      await dismissTwice(run, 'late.zip');
    } },
  { id: 'restart', what: 'worker stopped in an offer', run: restart,
    links: ['restart1', 'restart2'].map((id) => ({ id, href: `/files/${id}.zip` })) },
  { id: 'popup', what: 'the popup', run: popup, links: [{ id: 'resend', href: '/files/resend.pdf' }] },
  { id: 'neighbour', what: "another extension's download", run: neighbour },
  { id: 'sandboxed', what: 'a link in a sandboxed frame', run: sandboxed },
  { id: 'options', what: 'the options page', run: options },
  // "Download with WebCorvane": a headless browser shows no menu, so its
  // handler is called as the menu calls it, on the page's tab and top frame.
  // A .pdf link with MonitorBrowsers off, right-clicked first so that its
  // text is known; a selection holding a javascript: link, duplicates and a
  // link to another site, whose Strict cookie stays back; 50 links.
  // The options page's host settings are those of this case.
  { id: 'menulink', what: '"Download with" a .pdf link', run: downloadWith,
    links: [{ id: 'menulink', href: '/files/manual.pdf', text: 'the manual' }],
    settings: { ok: true, monitorBrowsers: 0, switchOn: false, extendNames: ['.zip'], configFound: true },
    before: (run) => run.config('MonitorBrowsers=0\r\nExtendNames=.zip;'), after: (run) => run.config(null) },
  { id: 'menusel', what: '"Download with" a selection', run: downloadWith,
    links: [['sel1', '/files/sel1.dat'], ['sel2', 'javascript:alert(1)'], ['sel3', '/files/sel2.dat'],
            ['sel4', '/files/sel1.dat'], ['sel5', '/files/sel3.dat', true], ['sel6', '/files/sel2.dat#again']]
      .map(([id, href, other]) => ({ id, href, other })),
    sent: ['sel1', 'sel3', 'sel5'] },
  // The referrer each link's policy and its page's header allow (the page's
  // is same-origin: none to the other site), and the selection the menu was
  // opened on, though the page selects another link right after.
  { id: 'menupolicy', what: '"Download with" under referrer policies', run: downloadWith,
    pageQuery: '&policy=same-origin&swap',
    links: [{ id: 'pol1', href: '/files/pol1.dat', rel: 'noreferrer', referrer: '' },
            { id: 'pol2', href: '/files/pol2.dat', other: true, policy: 'origin', referrer: 'base' },
            { id: 'pol3', href: '/files/pol3.dat', other: true, referrer: '' }] },
  // A download clicked once ten of the 50 reached the agent waits behind
  // one of them, not all the rest: the manager takes it.
  { id: 'menu200', what: '"Download with" 50 links', run: downloadWith, clickDuring: 'during',
    links: [{ id: 'during', href: '/files/during.zip' },
            ...Array.from({ length: 50 }, (_, i) => ({ id: `many${i}`, href: `/files/many${i}.dat` }))],
    before: async (run) => {
      if (opt['agent-holder']) run.release = await run.agent.hold(resolve(opt['agent-holder']));
    },
    after: async (run) => { await run.release?.(); } },
  { id: 'pictures', what: 'pictures of the pages', run: pictures, chromiumOnly: true, links: PICTURED },
  { id: 'timing', what: 'paused, and no extension', run: sideBySide,
    links: [{ id: 'timing', href: '/files/timing.zip' }] },
];

const ran = cases.filter((c) => !(firefox ? c.chromiumOnly : c.firefoxOnly) &&
  (opt.cases?.split(',').includes(c.id) ?? true));
const failures = [];
let failedCases = 0;
const check = (ok, message) => { if (!ok) failures.push(message); return ok; };
const newFiles = (run, before) => readdirSync(run.downloads).filter((name) => !before.has(name));

// What the toolbar button says, once it says what is expected or after
// `withinMs` (Chromium).
async function checkBadge(run, what, text, title, withinMs = BADGE_MS) {
  const fits = ([shown, shownTitle]) => (text === '' ? shown === '' : shown === text && title.test(shownTitle));
  const badge = await until(async () => {
    const shown = await badgeOf(run).catch(() => undefined); // a worker starting again
    return shown !== undefined && fits(shown) ? shown : undefined;
  }, withinMs, 'the badge', 50).catch(() => badgeOf(run));
  check(fits(badge), `${what}: the badge says "${badge[0]}", "${badge[1]}"`);
  return ` | badge "${badge[0]}" ${badge[1]}`;
}

async function runCase(run, c) {
  const { browser, tab, site, agent, downloads } = run;
  const before = agent.records().length;
  const files = new Set(readdirSync(downloads));
  const page = `${site.base}/page.html?${c.id}`;
  await tab.load(page);
  const clicked = performance.now();
  run.clicked = clicked;
  await tab.click(`#${c.id}`, { keys: c.keys });
  let line;
  const path = c.final ?? c.href;
  const url = (c.other ? site.other : site.base) + path;
  if (c.expect === 'taken') {
    await until(() => (agent.records().length > before ? true : undefined), 15000, `the agent's record (${c.what})`);
    const ms = Math.round(performance.now() - clicked);
    // The cancelled download leaves the browser's list, and nothing on disk.
    // Firefox never started one: its response was cancelled on the headers.
    if (firefox) {
      await browser.cancelled(url, HOLD_MS);
    } else {
      await until(async () => ((await browser.askExtension(
        `chrome.downloads.search({ finalUrl: ${JSON.stringify(url)} })`)).length === 0 ? true : undefined),
      HOLD_MS, `the browser to drop ${url}`);
    }
    const answeredMs = Math.round(performance.now() - clicked);
    await sleep(firefox ? 1000 : 300);
    const shown = await tab.evaluate('location.href');
    check(shown === page, `${c.what}: the tab shows ${shown}, not the page of the link`);
    const records = agent.records().slice(before); // one download, one offer
    const left = newFiles(run, files);
    check(left.length === 0, `${c.what}: the browser saved ${left.join(', ')}`);
    // The agent is handed what the browser sent with the file's request.
    const sent = site.sawLast(path);
    for (const cookie of c.sameSite ?? [/\bsession=/]) {
      check(cookie.test(sent?.cookie), `${c.what}: the site saw the cookie ${JSON.stringify(sent?.cookie)}, not ${cookie}`);
    }
    const want = { url, comment: c.text ?? c.id, referrer: sent?.referrer, cookie: sent?.cookie };
    const got = records[0];
    check(records.length === 1, `${c.what}: ${records.length} records`);
    for (const field of Object.keys(want)) {
      check(got[field] === want[field], `${c.what}: ${field} ${JSON.stringify(got[field])}, expected ${JSON.stringify(want[field])}`);
    }
    line = `taken ${ms} ms, answered ${answeredMs} ms | agent: ${got.url} | text "${got.comment}" | referrer ${got.referrer} | cookie ${got.cookie}`;
    run.timings.push({ what: c.what, ms });
  } else {
    await until(() => savedFile(run.downloads, c.file), HOLD_MS + 10000, `the browser to save ${c.file}`);
    const ms = Math.round(performance.now() - clicked);
    const records = agent.records().slice(before);
    if (c.asked !== undefined) check(records.length === (c.asked ? 1 : 0), `${c.what}: ${records.length} agent records`);
    if (c.withinMs !== undefined) check(ms <= c.withinMs, `${c.what}: saved after ${ms} ms, more than ${c.withinMs}`);
    line = `kept, saved ${ms} ms | agent: ${records.length === 0 ? 'not asked' : `answered "${records[0].answer}" to ${records[0].url}`}`;
  }
  if (c.badge !== undefined && !firefox) {
    // The badge follows the download's release, which the browser saw first.
    line += await checkBadge(run, c.what, c.badge === '' ? '' : c.badgeText ?? '!', c.badge, c.badgeMs);
  }
  if (c.reason !== undefined) {
    const where = c.where ?? (c.expect === 'taken' ? 'manager' : 'browser');
    line += await checkListed(run, c.what, c.file ?? path.split('/').pop(), where, c.reason, c.badgeMs);
  }
  return line;
}

async function signIn(run, c) {
  const { tab, agent, site } = run;
  const before = agent.records().length;
  await tab.load(`${site.base}/page.html?${c.id}`);
  await tab.click('#signurl');
  await until(() => (agent.records().length > before ? true : undefined), 15000, "the agent's record (signurl)");
  const [handed] = agent.records().slice(before);
  check(handed.url === `${site.signIn}/auth/signurl.zip`, `${c.what}: the agent was handed ${handed.url}`);
  await tab.click('#signkept');
  await until(() => savedFile(run.downloads, 'signkept.zip'), HOLD_MS + 10000, `the browser to save signkept.zip`);
  check(agent.records().length === before + 1, `${c.what}: the agent was asked for ${agent.records().at(-1).url}`);
  await tab.click('#signfree');
  await until(() => (agent.records().length > before + 1 ? true : undefined), 15000, "the agent's record (signfree)");
  return `handed over: ${handed.url}, then ${agent.records().at(-1).url}; signed in by the browser: kept${
    await checkListed(run, c.what, 'signkept.zip', 'browser', 'sign-in')}`;
}

async function altInContainer(run, c) {
  const tab = await run.browser.containerTab();
  await tab.load(`${run.site.base}/page.html?${c.id}&mark=box`);
  const clicked = performance.now();
  await tab.click(`#${c.id}`, { keys: ['alt'] });
  await until(() => savedFile(run.downloads, 'altbox.zip'), HOLD_MS, `the browser to save altbox.zip`);
  const ms = Math.round(performance.now() - clicked);
  const { cookie } = run.site.sawLast(c.links[0].href) ?? {};
  check(/\bmark=box\b/.test(cookie) && run.agent.records().every((record) => !record.url.endsWith('/altbox.zip')),
    `${c.what}: the site saw the cookie ${JSON.stringify(cookie)}`);
  return `saved ${ms} ms with the container's cookie: ${cookie}`;
}

// A click in a private window: the agent gets the private session's cookie,
// the download is listed for that session alone, not in a normal window's
// popup, and the list goes with the last private window.
async function inPrivate(run, c) {
  const { agent, site, browser } = run;
  await run.tab.load(`${site.base}/page.html?${c.id}&mark=normal`);
  // Firefox opens a new tab in the window in front, which is then private.
  run.pageTab ??= await browser.openTab();
  const tab = await browser.privateTab();
  await tab.load(`${site.base}/page.html?${c.id}&mark=private`);
  const before = agent.records().length;
  await tab.click(`#${c.id}`);
  await until(() => (agent.records().length > before ? true : undefined), 15000, `the agent's record (${c.id})`);
  const [handed] = agent.records().slice(before);
  const sent = site.sawLast(c.links[0].href);
  check(/\bmark=private\b/.test(sent?.cookie) && handed.cookie === sent.cookie,
    `${c.what}: the agent was handed the cookie ${JSON.stringify(handed.cookie)}, the site saw ${JSON.stringify(sent?.cookie)}`);
  const privateList = () => browser.inBackground(`async (api) => ((await api.storage.session.get('recentPrivate'))
    .recentPrivate ?? []).map((entry) => entry.name)`);
  await until(async () => ((await privateList()).includes('private.zip') ? true : undefined), BADGE_MS,
    'the private list to note private.zip');
  const names = (await listed(run)).map((entry) => entry.name);
  check(!names.includes('private.zip'), `${c.what}: a normal window's popup lists ${names.join(', ')}`);
  await browser.inBackground(`async (api) => Promise.all((await api.windows.getAll())
    .filter((window) => window.incognito).map((window) => api.windows.remove(window.id)))`);
  await until(async () => ((await privateList()).length === 0 ? true : undefined), BADGE_MS,
    'the private list to go with its window');
  return `handed over with the cookie ${handed.cookie} | a normal popup lists: ${names.join(', ') || 'nothing'}`;
}

// One of the extension's pages in the tab kept for them, opened afresh, once
// its script has shown what it shows (the mark each page sets then).
const PAGE_SHOWN = { 'popup.html': 'recent-shown', 'options.html': 'settings-shown' };

async function openPage(run, name, tab = undefined) {
  run.pageTab ??= await run.browser.openTab();
  const page = tab ?? run.pageTab;
  await page.load(driver.extensionPage(name));
  await until(async () => ((await page.evaluate(`performance.getEntriesByName('${PAGE_SHOWN[name]}').length`)) > 0
    ? true : undefined), 5000, `${name} to show`);
  return page;
}

// The popup's list as it shows it: each line's name, where, why, and
// whether it offers "Send to WebCorvane".
async function listed(run, tab = undefined) {
  const popup = await openPage(run, 'popup.html', tab);
  return popup.evaluate(`[...document.querySelectorAll('#recent li')].map((li) => ({
    name: li.querySelector('.name').textContent, where: li.querySelector('.where').textContent,
    why: li.querySelector('.why').textContent, send: !li.querySelector('.send button').hidden }))`);
}

// The download of this name, newest first, listed as gone `where` for
// `reason`, in the user's words.
async function checkListed(run, what, name, where, reason, withinMs = BADGE_MS) {
  const want = { where: sentence(`where_${where}`), why: reasonSentence(reason) };
  let entry;
  await until(async () => {
    entry = (await listed(run)).find((e) => e.name === name);
    return entry?.where === want.where && entry?.why === want.why ? true : undefined;
  }, withinMs, `the popup to list ${name}`, 100).catch(() => {});
  check(entry?.where === want.where && entry?.why === want.why,
    `${what}: the popup lists ${name} as ${JSON.stringify(entry)}, not ${JSON.stringify(want)}`);
  return ` | popup: ${entry?.where}: ${entry?.why}`;
}

// A setting changed in the page where the user changes it (the pause in the
// popup, the rest in the options page), once stored as the pages read it.
async function change(run, name, act, what, holds) {
  const page = await openPage(run, name);
  await act(page);
  await until(async () => (holds(await page.evaluate(`import(new URL('settings.js', location.href).href)
    .then(async (m) => (await m.openSettings((globalThis.browser ?? chrome).storage)).settings)`)) ? true : undefined),
  3000, what);
}

const setPaused = (run, paused) => change(run, 'popup.html', async (page) => {
  if ((await page.evaluate("document.getElementById('paused').checked")) !== paused) await page.click('#paused');
}, `the pause ${paused}`, (settings) => settings.paused === paused);

const addSite = (run, text) => change(run, 'options.html', async (page) => {
  await page.evaluate(`document.getElementById('site').value = ${JSON.stringify(text)}`);
  await page.click('#add-site button');
}, `${text} on the list`, (settings) => settings.skippedSites.length > 0);

const removeSite = (run, site) => change(run, 'options.html', async (page) => page.click(`#sites li:nth-child(${1 +
  await page.evaluate(`[...document.querySelectorAll('#sites .host')].findIndex((host) => host.textContent === '${site}')`)
}) button`), `${site} off the list`, (settings) => !settings.skippedSites.includes(site));

// The minimum size as typed in the options page, in the unit chosen there.
const setMinimum = (run, amount, unit) => change(run, 'options.html', (page) => page.evaluate(`(() => {
  document.getElementById('unit').value = '${unit}';
  document.getElementById('minimum').value = '${amount}';
  document.getElementById('minimum').dispatchEvent(new Event('change'));
})()`), `the minimum ${amount * unit}`, (settings) => settings.minimumSizeBytes === amount * unit);

// Two tabs click a link to the same file at once: each download is offered
// once, with the text of its own tab's link.
async function twoAtOnce(run, c) {
  const before = agent(run).length;
  const files = new Set(readdirSync(run.downloads));
  const tabs = await run.tabs(2);
  for (const tab of tabs) await tab.load(`${run.site.base}/page.html?twin`);
  await Promise.all(c.links.map(({ id }, i) => tabs[i].click(`#${id}`)));
  await until(() => (agent(run).length >= before + 2 ? true : undefined), 15000, 'two records of the agent');
  await sleep(firefox ? 1000 : 500);
  const records = agent(run).slice(before);
  const texts = records.map((record) => record.comment).sort();
  check(records.length === 2 && records.every((record) => record.url === run.site.base + TWIN) &&
        texts.join() === 'twin one,twin two', `${c.what}: the agent received ${JSON.stringify(records)}`);
  const left = newFiles(run, files);
  check(left.length === 0, `${c.what}: the browser saved ${left.join(', ')}`);
  return `${records.length} offers, texts ${texts.map((text) => `"${text}"`).join(', ')}`;
}

// The service worker stopped while the first of two downloads is with a
// slow agent: the browser lets both go; the first was asked once, and the
// button says it may now be in two places; the second was never sent.
async function restart(run, c) {
  const before = agent(run).length;
  const files = new Set(readdirSync(run.downloads));
  run.agent.set('Answer', `slow:${SLOW_MS}:1`);
  await run.tab.load(`${run.site.base}/page.html?restart`);
  const [first, second] = c.links.map(({ href }) => href);
  // One click after the other's download began: a second navigation of the
  // tab would cancel the first before it became a download.
  await run.tab.click(`#${c.links[0].id}`);
  await until(() => (recordsOf(run, agent(run), first).length > 0 ? true : undefined), 15000, 'the first offer');
  await run.tab.click(`#${c.links[1].id}`);
  // Chromium's download, Firefox's response.
  await until(async () => ((firefox ? run.site.sawLast(second) !== undefined
    : (await run.browser.askExtension(`chrome.downloads.search({ finalUrl: ${
      JSON.stringify(run.site.base + second)} })`)).length > 0) ? true : undefined), 5000, 'the second download');
  await sleep(200); // handed over to the extension as it starts
  await run.browser.stopWorker();
  const stopped = performance.now();
  if (firefox) return restartedPage(run, c, before, files, stopped);
  const names = c.links.map(({ id }) => `${id}.zip`).sort().join();
  await until(() => (newFiles(run, files).sort().join() === names &&
    names.split(',').every((name) => statSync(join(run.downloads, name)).size === FILE_BYTES) ? true : undefined),
  5000, 'the browser to save both');
  const savedMs = Math.round(performance.now() - stopped);
  // The agent took the first after the stop; the next worker asks the host,
  // at the latest once the offer's hold is over, and removes the browser's copy.
  await until(() => (newFiles(run, files).join() === 'restart2.zip' ? true : undefined), HOLD_MS + 5000,
    "the browser's copy of restart1.zip to go").catch(() => {});
  const removedMs = Math.round(performance.now() - stopped);
  run.agent.set('Answer', null);
  const records = agent(run).slice(before);
  check(recordsOf(run, records, first).length === 1 && recordsOf(run, records, second).length === 0,
    `${c.what}: the agent received ${records.map((record) => record.url).join(', ')}`);
  const left = newFiles(run, files).sort().join();
  check(left === 'restart2.zip', `${c.what}: the browser kept ${left}`);
  return `both saved ${savedMs} ms after the stop, the taken one removed after ${removedMs} ms | agent: ${
    records.length} offer${await checkListed(run, c.what, 'restart1.zip', 'manager', 'taken-cut-off', HOLD_MS)}`;
}

// The popup says what the button's "2" means for the download in both
// places, and its "Dismiss" takes the warning off the button and the popup.
async function dismissTwice(run, name) {
  const page = await openPage(run, 'popup.html');
  const entry = `[...document.querySelectorAll('#recent li')].find((li) => li.querySelector('.name').textContent === ${
    JSON.stringify(name)})`;
  const explained = await page.evaluate(`${entry}.querySelector('.twice').hidden ? '' : ${entry}.querySelector('.explain').textContent`);
  check(explained === sentence('popup_explain_both'), `the popup explains ${name} in both places as "${explained}"`);
  await page.evaluate(`void ${entry}.querySelector('.dismiss').click()`);
  await until(async () => ((await page.evaluate(`${entry}.querySelector('.twice').hidden`)) ? true : undefined), BADGE_MS,
    'the warning to be dismissed').catch(() => check(false, `the popup still warns of ${name} once dismissed`));
  if (!firefox) await checkBadge(run, `${name} dismissed`, '', /./);
}

// Firefox 153 ends the background page only once its held responses were
// answered (measured): no offer is cut off, both end with the manager, and
// the browser saves neither.
async function restartedPage(run, c, before, files, stopped) {
  await until(() => (agent(run).length - before === 2 ? true : undefined), HOLD_MS + 5000, 'both offers');
  const endedMs = Math.round(performance.now() - stopped);
  await sleep(1000);
  run.agent.set('Answer', null);
  const records = agent(run).slice(before);
  check(c.links.every(({ href }) => recordsOf(run, records, href).length === 1),
    `${c.what}: the agent received ${records.map((record) => record.url).join(', ')}`);
  const left = newFiles(run, files).join();
  check(left === '', `${c.what}: the browser saved ${left}`);
  return `both taken ${endedMs} ms after the stop | agent: ${records.length} offers${
    await checkListed(run, c.what, 'restart2.zip', 'manager', 'taken')}`;
}

// Another extension downloads a file under a name of its own: the agent is
// never asked, and the list says who started it, under the name the file
// got. Firefox keeps that extension's name. Chromium 156 drops it whenever an
// onDeterminingFilename listener is there, whatever the listener does
// (measured: the neighbour alone saves chosen-by-neighbour.zip; beside ours,
// held or not, suggested to or not, neighbour.zip), and names the extension
// only after the download was handed over: there the name is printed.
async function neighbour(run, c) {
  const before = agent(run).length;
  const files = new Set(readdirSync(run.downloads));
  const called = performance.now();
  await run.browser.neighbourDownload(`${run.site.base}/files/neighbour.zip`, 'chosen-by-neighbour.zip');
  // Not the browser's own file while it downloads (.org.chromium.*, .crdownload, .part): Chromium's
  // .crdownload can reach the file's whole size a moment before it is renamed.
  const named = () => newFiles(run, files).filter((name) => !name.startsWith('.') && !/\.(crdownload|part)$/.test(name));
  await until(() => (named().length > 0 && named().every((name) => savedFile(run.downloads, name)) ? true : undefined),
    HOLD_MS + 5000, "the browser to save the neighbour's file");
  const ms = Math.round(performance.now() - called);
  const saved = named().join();
  if (firefox) check(saved === 'chosen-by-neighbour.zip', `${c.what}: the browser saved "${saved}"`);
  const records = agent(run).slice(before);
  check(records.length === 0, `${c.what}: ${records.length} agent records`);
  return `saved as ${saved} ${ms} ms after the call | agent: ${records.length === 0 ? 'not asked' : 'asked'}${
    await checkListed(run, c.what, saved, 'browser', 'other-extension')}`;
}

// A link clicked in a frame sandboxed without allow-downloads: the browser
// blocks its download, and the manager never gets it either. Chromium blocks
// it before any extension sees it; Firefox hands its response over first,
// and the popup says why it stayed.
async function sandboxed(run, c) {
  const before = agent(run).length;
  const files = new Set(readdirSync(run.downloads));
  await run.tab.load(`${run.site.base}/sandboxed.html?file=/files/sandboxed.zip`);
  const { x, y } = await run.tab.pointOf('#frame');
  await run.tab.press(x, y);
  await sleep(HOLD_MS / 2);
  const fetched = run.site.sawLast('/files/sandboxed.zip') !== undefined;
  const records = agent(run).slice(before);
  check(records.length === 0, `${c.what}: the agent was handed ${records.map((r) => r.url).join(', ')}`);
  const left = newFiles(run, files);
  check(left.length === 0, `${c.what}: the browser saved ${left.join(', ')}`);
  return `${fetched ? 'fetched' : 'not fetched'} | agent: ${records.length === 0 ? 'not asked' : 'asked'} | saved: ${
    left.join(', ') || 'nothing'}${firefox ? await checkListed(run, c.what, 'sandboxed.zip', 'browser', 'sandboxed') : ''}`;
}

const agent = (run) => run.agent.records();
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];
const savedFile = (folder, name) => {
  try { return statSync(join(folder, name)).size === FILE_BYTES ? true : undefined; } catch { return undefined; }
};

// Every element that names a message shows it: no word missing, no
// placeholder left.
const missingWords = (page) => page.evaluate(`[...document.querySelectorAll('*')].flatMap((element) => [
  ...(element.dataset.i18n !== undefined && element.textContent.trim() === '' ? [element.dataset.i18n] : []),
  ...['title', 'aria-label', 'placeholder'].filter((name) => element.hasAttribute('data-i18n-' + name) &&
    !element.getAttribute(name)).map((name) => element.getAttribute('data-i18n-' + name)),
  ...[...element.childNodes].some((node) => node.nodeType === 3 && node.data.includes('__MSG_')) ? ['__MSG_'] : []])`);

// The popup, opened afresh: its list within POPUP_MS of the opening, a mix
// of downloads the manager took and the browser kept, no word missing; and a
// kept one, a .pdf outside the manager's type list, sent on with its "Send to
// WebCorvane" button: the agent receives it once (with what the browser sent,
// as the Node tests show), the browser's copy stays, the popup says so and
// lists it in both places.
async function popup(run, c) {
  const times = [];
  for (let i = 0; i < 5; i += 1) {
    const page = await openPage(run, 'popup.html');
    times.push(await page.evaluate("performance.getEntriesByName('recent-shown')[0].startTime"));
  }
  const shownMs = median(times);
  check(shownMs <= POPUP_BROKEN_MS, `${c.what}: its list shown ${shownMs.toFixed(1)} ms after opening`);
  const wheres = new Set((await listed(run)).map((entry) => entry.where));
  check(wheres.has(sentence('where_manager')) && wheres.has(sentence('where_browser')),
    `${c.what}: lists only ${[...wheres].join(', ')}`);
  const missing = await missingWords(run.pageTab);
  check(missing.length === 0, `${c.what}: words missing: ${missing.join(', ')}`);

  const before = agent(run).length;
  await run.tab.load(`${run.site.base}/page.html?popup`);
  await run.tab.click('#resend');
  await until(() => savedFile(run.downloads, 'resend.pdf'), 10000, 'the browser to save resend.pdf');
  await checkListed(run, c.what, 'resend.pdf', 'browser', 'not-in-list');
  const page = run.pageTab;
  const at = (await listed(run)).findIndex((entry) => entry.name === 'resend.pdf' && entry.send);
  check(at >= 0, `${c.what}: no "Send to WebCorvane" on resend.pdf`);
  if (at < 0) return 'FAILED';
  await page.click(`#recent li:nth-child(${at + 1}) .send button`);
  const said = await until(async () => {
    const text = await page.evaluate(`document.querySelectorAll('#recent li')[${at}].querySelector('.said').textContent`);
    return text !== '' && text !== sentence('popup_sending') ? text : undefined;
  }, 15000, 'the answer to the send');
  check(said === sentence('popup_sent'), `${c.what}: the send answered "${said}"`);
  const records = agent(run).slice(before);
  const url = `${run.site.base}/files/resend.pdf`;
  check(records.length === 1 && records[0].url === url, `${c.what}: the agent received ${JSON.stringify(records)}`);
  check(savedFile(run.downloads, 'resend.pdf') === true, `${c.what}: the browser's copy is gone`);
  const listedAfter = await checkListed(run, c.what, 'resend.pdf', 'both', 'taken');
  return `list shown ${times.map((ms) => ms.toFixed(1)).join(', ')} ms after opening (median ${
    shownMs.toFixed(1)}, ${shownMs <= POPUP_MS ? 'within' : 'over'} ${POPUP_MS}) | sent: "${said}"${listedAfter}`;
}

// The pictures of the popup (light and dark) and the options page in English
// and in Simplified Chinese, after the downloads a user might have made (PICTURED),
// with no word missing in either language. Chromium's language is the
// process's: each runs in a browser of its own. Their host lies where a
// user's does, so that the options page names no folder of this machine.
async function pictures(run) {
  if (opt.pictures === undefined) return 'none asked for (--pictures)';
  mkdirSync(opt.pictures, { recursive: true });
  const folder = execFileSync(opt['wine-run'], ['winepath', '-u', 'C:\\Program Files\\WebCorvane']).toString().trim();
  const { hostProgram } = placeHost(folder);
  const lines = [];
  try {
    for (const [locale, language] of [['en', 'en-US'], ['zh_CN', 'zh-CN']]) {
      const places = { profile: join(run.work, `profile-${locale}`), downloads: join(run.work, `downloads-${locale}`) };
      driver.makeProfile(places);
      driver.registerHost(places, hostProgram);
      const browser = await driver.Chromium.launch({ ...places, log: run.log, language });
      try {
        lines.push(await picture(run, browser, await browser.openTab(), locale));
      } finally {
        await browser.close();
      }
    }
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
  return lines.join(' | ');
}

// The popup opened behind the site's tab, which it shows the site of.
async function picture(run, browser, tab, locale) {
  const pages = await browser.openTab(true);
  const catalog = JSON.parse(readFileSync(join(here, `../../extension/_locales/${locale}/messages.json`), 'utf8'));
  await openPage(run, 'popup.html', pages);
  for (const { id, href, keys } of PICTURED) {
    await tab.load(`${run.site.base}/page.html?pictures`);
    await tab.click(`#${id}`, { keys });
    const name = href.split('/').pop();
    await until(async () => ((await pages.evaluate("chrome.storage.session.get('recent')")).recent
      ?.some((entry) => entry.name === name) ? true : undefined), 15000, `${name} in the list`);
  }
  const made = [];
  for (const [name, width, scheme] of [['popup.html', 400, 'light'], ['popup.html', 400, 'dark'],
    ['options.html', 700, 'light']]) {
    if (scheme === 'light') await openPage(run, name, pages);
    if (name === 'options.html') {
      for (const site of ['intranet.example.com', 'ads.example.net']) {
        await pages.evaluate(`document.getElementById('site').value = '${site}';
          document.querySelector('#add-site button').click()`);
      }
      await until(() => pages.evaluate("document.querySelectorAll('#sites li').length === 2 || undefined"), 3000,
        'the sites');
      await until(() => pages.evaluate("document.getElementById('host-settings').hidden ? undefined : true"), 10000,
        "the host's settings").catch(() => {});
    }
    const missing = await missingWords(pages);
    const title = await pages.evaluate("document.querySelector('h1').textContent");
    const want = catalog[name === 'popup.html' ? 'extName' : 'options_title'].message;
    check(missing.length === 0 && title === want, `${locale} ${name}: words missing: ${missing.join(', ')}; "${title}"`);
    const file = join(opt.pictures, `${name.replace('.html', '')}-${locale}${scheme === 'dark' ? '-dark' : ''}.png`);
    const png = await pages.screenshot(width, scheme);
    check(png.length > 1000, `${locale} ${name}: a picture of ${png.length} bytes`);
    writeFileSync(file, png);
    made.push(`${file.split('/').slice(-2).join('/')} (${Math.round(png.length / 1024)} KB)`);
  }
  return `${locale}: ${made.join(', ')}`;
}

// Paused, a download is saved as fast as with no extension at all: the same
// link clicked in two fresh browsers of the same build, one with the
// extension, paused in its popup, one without, one after the other, each
// first in turn, after a few clicks not counted. From the click to the
// whole file under its name in the download folder.
async function sideBySide(run) {
  const before = agent(run).length;
  const sides = [];
  try {
    for (const name of ['paused', 'none']) {
      const extension = name === 'paused';
      const places = { profile: join(run.work, `${name}-profile`), downloads: join(run.work, `${name}-downloads`),
                       home: join(run.work, `${name}-home`) };
      driver.makeProfile({ ...places, extension });
      driver.registerHost(places, run.hostProgram);
      const browser = await (firefox ? driver.Firefox : driver.Chromium).launch({ ...places, log: run.log, extension });
      if (extension) { // paused in the popup, which then closes, as a user's does
        const pageTab = await browser.openTab();
        await setPaused({ browser, pageTab }, true);
        await pageTab.load('about:blank');
      }
      const tab = await browser.openTab();
      sides.push({ name, browser, tab, downloads: places.downloads, ms: [] });
      await tab.load(`${run.site.base}/page.html?timing`);
      sides.at(-1).point = await tab.pointOf('#timing');
    }
    for (let i = -WARM_CLICKS; i < TIMED_CLICKS; i += 1) {
      for (const side of i % 2 === 0 ? sides : [...sides].reverse()) {
        const name = `timing-${i + WARM_CLICKS}.zip`;
        await side.tab.evaluate(`document.getElementById('timing').href = '/files/${name}'`);
        const clicked = performance.now();
        await side.tab.press(side.point.x, side.point.y);
        await until(() => savedFile(side.downloads, name), 10000, `${name} to be saved`, 2);
        if (i >= 0) side.ms.push(performance.now() - clicked);
      }
    }
  } finally {
    for (const side of sides) await side.browser.close();
  }
  const [paused, none] = sides.map((side) => median(side.ms));
  const asked = agent(run).length - before;
  check(asked === 0, `paused: the agent was asked ${asked} times`);
  check(paused <= SLOWER_AT_MOST * none, `paused: saved in ${paused.toFixed(1)} ms, no extension ${none.toFixed(1)} ms`);
  return `click to saved, medians of ${TIMED_CLICKS} each, interleaved: paused ${paused.toFixed(1)} ms, ` +
    `no extension ${none.toFixed(1)} ms, ratio ${(paused / none).toFixed(3)} | paused ${
      sides[0].ms.map(Math.round).join(' ')} | none ${sides[1].ms.map(Math.round).join(' ')}`;
}

// The options page shows the download manager's own settings as the host
// reads them from its UserConfig.ini, and the keys of the pause command.
async function options(run, c) {
  const page = await openPage(run, 'options.html');
  const shown = await until(() => page.evaluate(`document.getElementById('host-settings').hidden ? undefined
    : ['switch', 'types', 'config'].map((id) => document.getElementById(id).textContent)`), 10000,
  "the host's settings").catch(() => page.evaluate("document.getElementById('host-status').textContent"));
  const [onOff, types, config] = Array.isArray(shown) ? shown : [shown];
  check(onOff === `${sentence('options_switch_on')} (MonitorBrowsers=1)` && types === '.zip .rar' &&
        config?.toLowerCase() === windowsPath(run.hostConfig).toLowerCase(),
  `${c.what}: shows ${JSON.stringify(shown)}`);
  const missing = await missingWords(page);
  check(missing.length === 0, `${c.what}: words missing: ${missing.join(', ')}`);
  // The pause command, with the keys the manifest suggests, as the browser assigned them.
  const { commands } = JSON.parse(readFileSync(join(here, '../../extension/manifest.json'), 'utf8'));
  const keys = Object.values(commands)[0].suggested_key.default;
  const shortcut = await until(() => page.evaluate("document.getElementById('shortcut').textContent || undefined"),
    5000, 'the shortcut').catch(() => '');
  check(shortcut === keys, `${c.what}: the pause command's keys shown as "${shortcut}", not ${keys}`);
  return `${onOff} | ${types} | ${config} | pause command ${shortcut}`;
}

// What an extension page's `api` answers.
const inPage = async (run, expression) => (await run.browser.extensionTab())
  .evaluate(`((api) => ${expression})(globalThis.browser ?? chrome)`);
const recentList = (run) => inPage(run, "api.storage.session.get('recent').then((items) => items.recent ?? [])");

// The links the user sends go with the page as referrer (only its origin to
// another site) and the cookies the browser would send with them: a page of
// its own site's (the page loaded twice, the second time with them), another
// site's without its Strict one.
async function downloadWith(run, c) {
  const before = agent(run).length;
  if (c.links.some((link) => link.other)) await run.tab.load(`${run.site.other}/page.html?${c.id}`);
  const page = `${run.site.base}/page.html?${c.id}${c.pageQuery ?? ''}`;
  for (const _ of [1, 2]) await run.tab.load(page);
  const info = { menuItemId: 'download-with', frameId: 0, pageUrl: page };
  const links = c.links.filter((link) => link.id !== c.clickDuring);
  const sent = links.filter((link) => c.sent?.includes(link.id) ?? true);
  if (links.length === 1) {
    await run.tab.click(`#${links[0].id}`, { button: 'right' });
    info.linkUrl = run.site.base + links[0].href;
  } else {
    info.selectionText = await run.tab.evaluate(`(() => {
      const range = document.createRange();
      range.setStartBefore(document.getElementById('${links[0].id}'));
      range.setEndAfter(document.getElementById('${links.at(-1).id}'));
      getSelection().addRange(range);
      return getSelection().toString();
    })()`);
    // The links are those of the selection the user opened the menu on.
    await run.tab.click(`#${links[0].id}`, { button: 'right' });
  }
  const clicked = performance.now();
  // The menu is there (an update of a missing item fails).
  const answered = run.browser.inBackground(`async (api, background) => {
    await api.contextMenus.update('download-with', {});
    const tab = (await api.tabs.query({})).find((each) => each.url === ${JSON.stringify(page)});
    return background.downloadWith(${JSON.stringify(info)}, tab);
  }`);
  let during = '';
  const duringUrl = c.clickDuring && `${run.site.base}/files/${c.clickDuring}.zip`;
  if (c.clickDuring) {
    await until(() => (agent(run).length >= before + 10 ? true : undefined), 30000, 'ten links to reach the agent', 20);
    await run.tab.click(`#${c.clickDuring}`);
    const at = (await answered, agent(run).slice(before).findIndex((record) => record.url === duringUrl));
    check(at >= 0 && at < sent.length / 2 && !existsSync(join(run.downloads, `${c.clickDuring}.zip`)),
      `${c.what}: the download clicked meanwhile was offered at ${at}`);
    during = ` | the download clicked after 10 was offered after ${at}`;
  }
  const answers = await answered;
  const ms = Math.round(performance.now() - clicked);
  const records = agent(run).slice(before).filter((record) => record.url !== duringUrl);
  check(answers.length === sent.length && answers.every((answer) => answer.taken) && records.length === sent.length,
    `${c.what}: answered ${JSON.stringify(answers)}, the agent received ${records.map((r) => r.url).join(', ')}`);
  const ownCookie = run.site.sawLast(`/page.html?${c.id}${c.pageQuery ?? ''}`).cookie;
  for (const [i, link] of sent.entries()) {
    const { url, comment, referrer, cookie } = records[i] ?? {};
    const want = { url: (link.other ? run.site.other : run.site.base) + link.href, comment: link.text ?? link.id,
                   referrer: link.referrer === 'base' ? `${run.site.base}/` : link.referrer ??
                     (link.other ? `${run.site.base}/` : page) };
    check(isDeepStrictEqual({ url, comment, referrer }, want) &&
          (link.other ? /\blax=l\b/.test(cookie) && !/\bstrict=/.test(cookie) : cookie === ownCookie),
    `${c.what}: ${JSON.stringify(records[i])}, expected ${JSON.stringify(want)}, the cookie ${link.other ? 'Lax, not Strict' : ownCookie}`);
  }
  if (c.settings) {
    const { configFile, ...settings } = await inPage(run, "api.runtime.sendMessage({ type: 'host-settings' })");
    check(isDeepStrictEqual(settings, c.settings) && /\\host\\UserConfig\.ini$/.test(configFile),
      `${c.what}: the host's settings ${JSON.stringify({ configFile, ...settings })}`);
  }
  const [entry] = await recentList(run);
  check(entry?.url === records.at(-1)?.url && entry.where === 'manager', `${c.what}: the list starts ${JSON.stringify(entry)}`);
  return `${records.length} taken, each once in order, the last answered ${ms} ms after the call (${
    (ms / sent.length).toFixed(1)} ms a link)${during} | first: ${records[0]?.url} | referrer ${
    records[0]?.referrer} | cookie ${records[0]?.cookie}`;
}

// A copy of the host in `hostDir` with a configuration of its own, started
// through a script that runs it under Wine. The host reads its settings
// afresh for each offer: `config(lines)` changes them, null as at the start.
function placeHost(hostDir) {
  mkdirSync(hostDir, { recursive: true });
  const host = join(hostDir, 'WebCorvaneHost.exe');
  copyFileSync(opt.host, host);
  const config = (lines) => writeFileSync(join(hostDir, 'UserConfig.ini'),
    `[Monitor]\r\n${lines ?? 'MonitorBrowsers=1\r\nExtendNames=.zip;.rar;'}\r\n`);
  config(null);
  const hostProgram = join(hostDir, 'run-host.sh');
  writeFileSync(hostProgram, `#!/bin/sh\nexec '${resolve(opt['wine-run'])}' '${host}' "$@"\n`);
  chmodSync(hostProgram, 0o755);
  return { hostProgram, config };
}

async function main() {
  const work = resolve(opt.work);
  rmSync(work, { recursive: true, force: true });
  const places = { profile: join(work, 'profile'), downloads: join(work, 'downloads'), home: join(work, 'home') };
  driver.makeProfile(places);

  const hostDir = join(work, 'host');
  const { hostProgram, config } = placeHost(hostDir);

  const run = { work, downloads: places.downloads, hostProgram, timings: [], config,
                hostConfig: join(hostDir, 'UserConfig.ini'),
                agent: new Agent(resolve(opt['wine-run']), resolve(opt.agent), join(work, 'agent-records.txt')),
                register: (program) => driver.registerHost(places, program) };
  const links = cases.flatMap(({ id, href, blob, text, post, other, run: own, links: more }) =>
    more ?? (own ? [] : [{ id, href, blob, text: text ?? id, post, other }]));
  run.site = await startSite(links.map((link) => ({ text: link.id, ...link })));
  const started = performance.now();
  try {
    run.agent.set('RecordFile', windowsPath(run.agent.recordFile));
    run.agent.set('Answer', null);
    run.agent.set('Start', null);
    run.register(run.hostProgram);
    if (opt.warm) run.releaseWarm = await run.agent.hold(resolve(opt['agent-holder']));
    const log = openSync(join(work, `${opt.browser}.log`), 'w');
    run.log = log;
    run.browser = await (firefox ? driver.Firefox : driver.Chromium).launch({ ...places, log });
    run.tab = await run.browser.openTab();
    const tabs = [run.tab];
    run.tabs = async (count) => {
      while (tabs.length < count) tabs.push(await run.browser.openTab());
      return tabs.slice(0, count);
    };
    for (const c of ran) {
      const failed = failures.length;
      const caseStarted = performance.now();
      for (const step of [async () => {
        await c.before?.(run);
        const said = await (c.run ?? runCase)(run, c);
        // What each case costs the run, so that the slow ones are seen.
        const seconds = ((performance.now() - caseStarted) / 1000).toFixed(1).padStart(5);
        console.log(`${c.what.padEnd(28)} ${seconds} s  ${said}`);
      }, async () => c.after?.(run)]) {
        try {
          await step();
        } catch (error) {
          failures.push(`${c.what}: ${error.message}`);
        }
      }
      if (failures.length > failed) {
        console.log(`${c.what.padEnd(28)} FAILED`);
        failedCases += 1;
      }
    }
    console.log(`click to the agent's record: ${run.timings.map(({ what, ms }) => `${what} ${ms} ms`).join(', ')}`);
    const seconds = Number(opt['idle-seconds']);
    if (seconds > 0) console.log(await hostUsage('WebCorvaneHost.exe', seconds * 1000));
  } finally {
    await run.browser?.close();
    await run.releaseWarm?.();
    await run.site.close();
    run.agent.restore();
  }
  console.log(`${opt.browser} run: ${ran.length} cases in ${Math.round((performance.now() - started) / 1000)} s`);
}

try {
  await main();
} catch (error) {
  failures.push(error.stack);
}
for (const failure of failures) console.log(`FAILED: ${failure}`);
const passed = failures.length === 0 ? ran.length : Math.max(0, ran.length - Math.max(failedCases, 1));
console.log(`extension: ${passed} passed, ${ran.length - passed} failed`);
process.exit(failures.length === 0 ? 0 : 1);
