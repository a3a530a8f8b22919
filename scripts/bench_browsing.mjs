// Measures, does not test: what the extension costs on ordinary browsing,
// where it has nothing to do. In each browser (Debian's Chromium, Firefox
// ESR), four headless ones in fresh profiles, driven in turn: none, the
// extension, the extension paused, and none again, whose ratio to the first
// is the noise. Each round, each of them (in an order that turns round after
// round) loads a page of this script's own site, clicks its link to the next
// page, and on that page clicks a link that opens nothing. No host is needed:
// nothing here is a download. Prints each figure's median and its ratio to
// "none".
//
//   node scripts/bench_browsing.mjs [--rounds N] [--browsers chromium,firefox]
//                                   [--permission-only]
//
// Figures: page load, navigation start to the end of the load event (the
// page's own timing), 30 subresources (scripts, style sheets, pictures) and an
// iframe, none of them cached; link click to the next page's load, from the
// click sent to the load event reported by the browser; a click on a link
// that opens nothing, from the click event to the next frame (the page's own
// timing). --permission-only adds a fifth browser with what the hand-off
// cannot do without: in Chromium an extension that asks for the webRequest
// permission and does nothing else, in Firefox one that holds each frame's
// response on its headers and lets it go at once.
import { execFileSync } from 'node:child_process';
import { appendFileSync, mkdtempSync, mkdirSync, openSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parseArgs } from 'node:util';
import { until } from '../tests/extension/browser.mjs';
import * as chromium from '../tests/extension/chromium.mjs';
import * as firefox from '../tests/extension/firefox.mjs';
import { GECKO_ID } from '../tests/extension/identifiers.mjs';

const { values: opt } = parseArgs({ options: {
  rounds: { type: 'string', default: '100' }, browsers: { type: 'string', default: 'chromium,firefox' },
  'permission-only': { type: 'boolean', default: false } } });
const ROUNDS = Number(opt.rounds);
const WARM_ROUNDS = 5;
const SUBRESOURCES = 10; // of each kind: scripts, style sheets, pictures

// The site: every answer uncacheable, every URL new.
function startSite() {
  const gif = Buffer.from('R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7', 'base64');
  const page = (n) => {
    const list = (make) => Array.from({ length: SUBRESOURCES }, (_, i) => make(i)).join('\n');
    return `<!doctype html><meta charset="utf-8"><title>page ${n}</title>
${list((i) => `<link rel="stylesheet" href="/r/s${i}.css?${n}">`)}
${list((i) => `<script src="/r/j${i}.js?${n}"></script>`)}
<h1>Page ${n}</h1>
<p><a id="next" href="/page?${n + 1}">The <b>next</b> page</a>
<p><a id="nothing" href="/elsewhere">A link that opens nothing</a>
${list((i) => `<img src="/r/i${i}.gif?${n}" width="16" height="16" alt="">`)}
<iframe src="/frame?${n}" width="300" height="100"></iframe>
<p>${'Some ordinary text of a page. '.repeat(40)}
<script>
  // From the click, as the browser stamped it, to the next frame.
  document.getElementById('nothing').addEventListener('click', (event) => {
    event.preventDefault();
    const clicked = event.timeStamp;
    window.nothingDone = new Promise((resolve) => requestAnimationFrame(() => resolve(performance.now() - clicked)));
  });
</script>`;
  };
  const server = createServer((request, response) => {
    const url = new URL(request.url, 'http://site');
    const answer = (type, body) => {
      response.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-store' });
      response.end(body);
    };
    if (url.pathname === '/page') answer('text/html; charset=utf-8', page(Number(url.search.slice(1))));
    else if (url.pathname === '/frame') answer('text/html; charset=utf-8', '<!doctype html><p>A frame');
    else if (url.pathname.endsWith('.css')) answer('text/css', `.c${url.pathname.length}{color:#123}`);
    else if (url.pathname.endsWith('.js')) answer('text/javascript', 'void 0;');
    else if (url.pathname.endsWith('.gif')) answer('image/gif', gif);
    else {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    base: `http://127.0.0.1:${server.address().port}`,
    close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
  })));
}

// An extension that asks for webRequest on every site and does nothing.
function permissionOnly(dir) {
  mkdirSync(dir, { recursive: true });
  writeFileSync(join(dir, 'manifest.json'), JSON.stringify({
    manifest_version: 3, name: 'webRequest only', version: '1', permissions: ['webRequest'],
    host_permissions: ['http://*/*', 'https://*/*'], background: { service_worker: 'worker.js' } }));
  writeFileSync(join(dir, 'worker.js'), '');
  return dir;
}

// Firefox: an extension that holds each frame's response on its headers, as
// ours must to hold a download there, and lets it go at once: what the hold
// alone costs.
const HOLD_ONLY_ID = 'hold-only@bench.invalid';
function holdOnly(xpi) {
  const dir = `${xpi}.d`;
  mkdirSync(dir, { recursive: true });
  writeFileSync(join(dir, 'manifest.json'), JSON.stringify({
    manifest_version: 3, name: 'hold only', version: '1', permissions: ['webRequest', 'webRequestBlocking'],
    host_permissions: ['http://*/*', 'https://*/*'], background: { scripts: ['background.js'] },
    browser_specific_settings: { gecko: { id: HOLD_ONLY_ID } } }));
  writeFileSync(join(dir, 'background.js'), `browser.webRequest.onHeadersReceived.addListener(() => undefined,
    { urls: ['http://*/*', 'https://*/*'], types: ['main_frame', 'sub_frame'] }, ['blocking', 'responseHeaders']);\n`);
  execFileSync('python3', ['-m', 'zipfile', '-c', xpi, join(dir, 'manifest.json'), join(dir, 'background.js')]);
}

// The driver's protocol for one tab: a load, and waiting for the next load
// event (which the browser reports itself, so that nothing polls the page
// while it loads).
async function loads(browser, tab, name) {
  if (name === 'chromium') {
    const send = (method, params = {}) => tab.connection.send(method, params, { sessionId: tab.session });
    await send('Page.enable');
    let waiting = null;
    browser.connection.on('Page.loadEventFired', () => waiting?.());
    return {
      nextLoad: () => new Promise((resolve) => { waiting = resolve; }),
      navigate: (url) => send('Page.navigate', { url }),
    };
  }
  await browser.connection.send('session.subscribe', { events: ['browsingContext.load'] });
  let waiting = null;
  browser.connection.on('browsingContext.load', ({ context }) => { if (context === tab.context) waiting?.(); });
  return {
    nextLoad: () => new Promise((resolve) => { waiting = resolve; }),
    navigate: (url) => browser.connection.send('browsingContext.navigate', { context: tab.context, url, wait: 'none' }),
  };
}

const SIDES = ['none', 'extension', 'paused', 'none again'];

// The extension as it ships, built by the script the release uses.
const buildExtension = (...args) =>
  execFileSync('python3', [new URL('build_extension.py', import.meta.url).pathname, ...args]);

async function launchSide(name, side, work, log) {
  const places = { profile: join(work, `${side.replace(' ', '-')}-profile`), downloads: join(work, 'downloads'),
                   home: join(work, `${side.replace(' ', '-')}-home`) };
  const extension = side === 'extension' || side === 'paused';
  if (name === 'chromium') {
    chromium.makeProfile({ ...places, extension: false });
    let folder = false;
    if (side === 'webRequest only') folder = permissionOnly(join(work, 'permission-only'));
    if (extension) {
      folder = `${places.profile}-extension`;
      buildExtension('chromium', folder, `${folder}.zip`);
    }
    const browser = await chromium.Chromium.launch({ ...places, log, extension: folder });
    if (folder) {
      await until(async () => ((await browser.connection.send('Target.getTargets')).targetInfos
        .some((info) => info.type === 'service_worker') ? true : undefined), 30000, "the extension's worker", 100);
    }
    return browser;
  }
  firefox.makeProfile({ ...places, extension: false });
  if (extension) buildExtension('xpi', join(places.profile, 'extensions', `${GECKO_ID}.xpi`));
  if (side === 'hold only') holdOnly(join(places.profile, 'extensions', `${HOLD_ONLY_ID}.xpi`));
  // Timings to the microsecond, as Chromium gives them, in every one of them.
  appendFileSync(join(places.profile, 'user.js'), 'user_pref("privacy.reduceTimerPrecision", false);\n');
  return firefox.Firefox.launch({ ...places, log, extension });
}

// Paused as the user pauses it, in the popup, in a tab of its own that every
// browser has, so that they differ in nothing else.
async function pageTab(browser, name, side) {
  const pages = await browser.openTab();
  if (side === 'paused') await pause(pages, name);
  await pages.load('about:blank');
}

async function pause(pages, name) {
  await pages.load((name === 'chromium' ? chromium : firefox).extensionPage('popup.html'));
  await until(() => pages.evaluate("performance.getEntriesByName('recent-shown').length > 0 || undefined"), 10000,
    'the popup');
  if (!(await pages.evaluate("document.getElementById('paused').checked"))) await pages.click('#paused');
  await until(async () => ((await pages.evaluate(`import(new URL('settings.js', location.href).href)
    .then(async (m) => (await m.openSettings((globalThis.browser ?? chrome).storage)).settings.paused)`))
    ? true : undefined), 5000, 'the pause');
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length / 2;
  return sorted.length % 2 === 1 ? sorted[Math.floor(middle)] : (sorted[middle - 1] + sorted[middle]) / 2;
};

async function measure(name, site, work) {
  const log = openSync(join(work, `${name}.log`), 'a');
  const floor = name === 'chromium' ? 'webRequest only' : 'hold only';
  const sides = [...SIDES, ...(opt['permission-only'] ? [floor] : [])];
  const browsers = [];
  try {
    for (const side of sides) {
      const browser = await launchSide(name, side, work, log);
      browsers.push(browser);
      await pageTab(browser, name, side);
      const tab = await browser.openTab();
      const driver = await loads(browser, tab, name);
      browsers.at(-1).side = { side, tab, driver, load: [], click: [], nothing: [], next: 1 };
    }
    const all = browsers.map((browser) => browser.side);
    for (let round = -WARM_ROUNDS; round < ROUNDS; round += 1) {
      if (round > 0 && round % 10 === 0) process.stderr.write(`${name}: ${round} rounds\n`);
      const turn = ((round % all.length) + all.length) % all.length;
      for (const s of [...all.slice(turn), ...all.slice(0, turn)]) {
        const { tab, driver } = s;
        const loaded = driver.nextLoad();
        await driver.navigate(`${site.base}/page?${s.next}`);
        await loaded;
        const loadMs = await tab.evaluate("performance.getEntriesByType('navigation')[0].loadEventEnd");
        s.point ??= { next: await tab.pointOf('#next'), nothing: await tab.pointOf('#nothing') };
        const next = driver.nextLoad();
        const clicked = performance.now();
        await tab.press(s.point.next.x, s.point.next.y);
        await next;
        const clickMs = performance.now() - clicked;
        s.next += 2;
        await tab.press(s.point.nothing.x, s.point.nothing.y);
        const nothingMs = await tab.evaluate('window.nothingDone');
        if (round >= 0) {
          s.load.push(loadMs);
          s.click.push(clickMs);
          s.nothing.push(nothingMs);
        }
      }
    }
    return all;
  } finally {
    for (const browser of browsers) await browser.close();
  }
}

function report(name, sides) {
  const figures = [['load', 'page load, 30 subresources and an iframe'],
                   ['click', 'link click to the next page\'s load'],
                   ['nothing', 'click on a link that opens nothing, to the next frame']];
  const others = sides.slice(1);
  console.log(`\n${name}: medians of ${sides[0].load.length} each, ms (ratio to none; none again is the noise)`);
  console.log(`${''.padEnd(54)}${['none', ...others.map((s) => s.side)].map((s) => s.padStart(26)).join('')}`);
  for (const [key, what] of figures) {
    const none = median(sides[0][key]);
    const cells = [`${none.toFixed(2)}`.padStart(26), ...others.map((s) => {
      const m = median(s[key]);
      return `${m.toFixed(2)} (${(m / none).toFixed(3)}, ${m - none >= 0 ? '+' : ''}${(m - none).toFixed(2)})`.padStart(26);
    })];
    console.log(`${what.padEnd(54)}${cells.join('')}`);
  }
}

const work = mkdtempSync(join(tmpdir(), 'bench-browsing-'));
const site = await startSite();
try {
  const started = performance.now();
  for (const name of opt.browsers.split(',')) report(name, await measure(name, site, work));
  console.log(`\n${ROUNDS} rounds after ${WARM_ROUNDS} not counted, in ${Math.round((performance.now() - started) / 1000)} s`);
} finally {
  await site.close();
  rmSync(work, { recursive: true, force: true });
}
