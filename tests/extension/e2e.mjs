// The extension end to end: Debian's Chromium or Firefox ESR clicks links on
// a local site, the extension offers each download to the native host (run
// under Wine), and the host to the reference agent. Each case checks what the
// agent recorded and what the browser saved; one line per case says what
// happened.
//
//   node e2e.mjs --wine-run RUN --host HOST.exe --agent AGENT.exe --work DIR
//                [--browser chromium|firefox] [--idle-seconds N]
//
// RUN runs a Windows program in the prefix where AGENT is registered; DIR is
// made afresh. --idle-seconds measures the host's memory and CPU while it
// waits, after the cases. Exits 77 where the browser cannot run.
import { spawnSync } from 'node:child_process';
import { chmodSync, copyFileSync, existsSync, mkdirSync, openSync, readdirSync, rmSync, statSync,
         writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import { setTimeout as sleep } from 'node:timers/promises';
import { Agent, windowsPath } from './agent.mjs';
import { until } from './browser.mjs';
import * as chromium from './chromium.mjs';
import * as firefoxDriver from './firefox.mjs';
import { hostUsage } from './host_usage.mjs';
import { FILE_BYTES, startSite } from './site.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const BOUND_MS = 5000;
const STALL_MARGIN_MS = 2500;
const SILENT_HOST_MS = BOUND_MS + 3000;
const STALL_MS = BOUND_MS + 2000;
const BADGE_MS = 3000;
const TEXT = 'Ünïcødé 文件 📦 a.zip';

const { values: opt } = parseArgs({ options: {
  'wine-run': { type: 'string' }, host: { type: 'string' }, agent: { type: 'string' },
  work: { type: 'string' }, browser: { type: 'string', default: 'chromium' },
  'idle-seconds': { type: 'string', default: '0' } } });
const firefox = opt.browser === 'firefox';
const driver = firefox ? firefoxDriver : chromium;

const whyNot = spawnSync('bash', [join(here, `${opt.browser}_probe.sh`)]).stdout.toString().trim();
if (whyNot !== '') {
  console.log(`not runnable here: ${whyNot}`);
  process.exit(77);
}

// expect: 'taken' (the agent's record, nothing saved) or 'kept' (the file
// saved as `file`); asked: whether the agent hears of a kept download;
// withinMs: how long after the click the file may be saved at the latest;
// badge: what the toolbar button says after it, where the test can read it
// (Chromium).
const cases = [
  { id: 'missing', what: 'host missing', href: '/files/missing.zip', expect: 'kept', file: 'missing.zip',
    asked: false, badge: /browser host is missing or failed \(Specified native messaging host not found/ },
  // A host that reads nothing and ends after a while: the extension's own
  // bound lets the download go, and the next one starts the real host.
  { id: 'silent', what: 'host never answers', href: '/files/silent.zip', expect: 'kept', file: 'silent.zip',
    asked: false, withinMs: BOUND_MS + STALL_MARGIN_MS, before: (run) => run.register(run.silentHost),
    // Where the badge cannot be read, the port's end is given a moment.
    after: async (run) => {
      await until(async () => (existsSync(`${run.silentHost}.ended`) &&
                               (firefox || /host has exited/.test(await badgeTitle(run))) ? true : undefined),
                  SILENT_HOST_MS, 'the silent host to end', 100);
      if (firefox) await sleep(1000);
    } },
  { id: 'zip', what: '.zip link (host cold)', href: '/files/a.zip', text: TEXT, expect: 'taken', badge: '',
    before: (run) => run.register(run.hostProgram) },
  { id: 'php', what: 'download.php as a.zip', href: '/download.php?file=a.zip', expect: 'taken' },
  { id: 'pdf', what: '.pdf attachment', href: '/files/report.pdf', expect: 'kept', file: 'report.pdf', asked: false },
  { id: 'blob', what: 'blob: made by the page', blob: 'made.zip', expect: 'kept', file: 'made.zip', asked: false },
  { id: 'declined', what: 'agent declines', href: '/files/declined.zip', expect: 'kept', file: 'declined.zip',
    asked: true, before: (run) => run.agent.set('Answer', '0'), after: (run) => run.agent.set('Answer', null) },
  { id: 'absent', what: 'agent not registered', href: '/files/absent.zip', expect: 'kept', file: 'absent.zip',
    asked: false, badge: /cannot be reached/, before: (run) => run.agent.register(false),
    after: (run) => run.agent.register(true) },
  { id: 'redirect', what: 'redirect to a .zip', href: '/go?to=/files/moved.zip', final: '/files/moved.zip',
    expect: 'taken', badge: '' },
  // Slow in AddTask, which stalls an agent that is running already as well
  // as one that starts; whether its record comes before the bound is its own.
  // The host stays until the late answer came: an agent whose client ended
  // in a call is never let go under Wine, and would stay for later tests.
  { id: 'stalled', what: 'agent stalls', href: '/files/stalled.zip', expect: 'kept', file: 'stalled.zip',
    withinMs: BOUND_MS + STALL_MARGIN_MS, before: (run) => run.agent.set('Answer', `slow:${STALL_MS}:1`),
    after: async (run) => {
      run.agent.set('Answer', null);
      await sleep(STALL_MS - BOUND_MS + 2500);
    } },
];

const badgeTitle = ({ browser }) => browser.askExtension('chrome.action.getTitle({})');

const failures = [];
let failedCases = 0;
const check = (ok, message) => { if (!ok) failures.push(message); return ok; };

async function runCase(run, c) {
  const { browser, tab, site, agent, downloads } = run;
  const before = agent.records().length;
  const files = new Set(readdirSync(downloads));
  const page = `${site.base}/page.html?${c.id}`;
  await tab.load(page);
  const clicked = performance.now();
  await tab.click(`#${c.id}`);
  let line;
  if (c.expect === 'taken') {
    await until(() => (agent.records().length > before ? true : undefined), 15000, `the agent's record (${c.what})`);
    const ms = Math.round(performance.now() - clicked);
    const url = site.base + (c.final ?? c.href);
    // The cancelled download leaves the browser's list, and nothing on disk.
    // Firefox never started one: its response was cancelled on the headers.
    if (!firefox) {
      await until(async () => ((await browser.askExtension(
        `chrome.downloads.search({ finalUrl: ${JSON.stringify(url)} })`)).length === 0 ? true : undefined),
      BOUND_MS, `the browser to drop ${url}`);
    }
    await sleep(firefox ? 1000 : 300);
    const shown = await tab.evaluate('location.href');
    check(shown === page, `${c.what}: the tab shows ${shown}, not the page of the link`);
    const records = agent.records().slice(before); // one download, one offer
    const left = readdirSync(downloads).filter((name) => !files.has(name));
    check(left.length === 0, `${c.what}: the browser saved ${left.join(', ')}`);
    const sent = site.requests.findLast((request) => request.path === (c.final ?? c.href));
    const want = { url, comment: c.text ?? c.id, referrer: page, cookie: sent?.cookie };
    const got = records[0];
    check(records.length === 1, `${c.what}: ${records.length} records`);
    check(/\bsession=/.test(sent?.cookie), `${c.what}: the server saw no HttpOnly cookie (${sent?.cookie})`);
    for (const field of Object.keys(want)) {
      check(got[field] === want[field], `${c.what}: ${field} ${JSON.stringify(got[field])}, expected ${JSON.stringify(want[field])}`);
    }
    line = `taken ${ms} ms | agent: ${got.url} | text "${got.comment}" | referrer ${got.referrer} | cookie ${got.cookie ? 'yes' : 'no'}`;
    run.timings.push({ what: c.what, ms });
  } else {
    const saved = join(downloads, c.file);
    await until(() => { try { return statSync(saved).size === FILE_BYTES ? true : undefined; } catch { return undefined; } },
      BOUND_MS + 10000, `the browser to save ${c.file}`);
    const ms = Math.round(performance.now() - clicked);
    const records = agent.records().slice(before);
    if (c.asked !== undefined) check(records.length === (c.asked ? 1 : 0), `${c.what}: ${records.length} agent records`);
    if (c.withinMs !== undefined) check(ms <= c.withinMs, `${c.what}: saved after ${ms} ms, more than ${c.withinMs}`);
    line = `kept, saved ${ms} ms | agent: ${records.length === 0 ? 'not asked' : `answered "${records[0].answer}" to ${records[0].url}`}`;
  }
  if (c.badge !== undefined && !firefox) {
    // The badge follows the download's release, which the browser saw first.
    const read = () => browser.askExtension('Promise.all([chrome.action.getBadgeText({}), chrome.action.getTitle({})])');
    const fits = ([text, title]) => (c.badge === '' ? text === '' : text === '!' && c.badge.test(title));
    const [text, title] = await until(async () => { const badge = await read(); return fits(badge) ? badge : undefined; },
      BADGE_MS, 'the badge').catch(read);
    check(fits([text, title]), `${c.what}: the badge says "${text}", "${title}"`);
    line += ` | badge "${text}" ${title}`;
  }
  return line;
}

async function main() {
  const work = resolve(opt.work);
  rmSync(work, { recursive: true, force: true });
  const places = { profile: join(work, 'profile'), downloads: join(work, 'downloads'), home: join(work, 'home') };
  const { downloads } = places;
  driver.makeProfile(places);

  // A copy of the host with a configuration of its own, started through a
  // script that runs it under Wine.
  const hostDir = join(work, 'host');
  mkdirSync(hostDir);
  const host = join(hostDir, 'WebCorvaneHost.exe');
  copyFileSync(opt.host, host);
  writeFileSync(join(hostDir, 'UserConfig.ini'), '[Monitor]\r\nMonitorBrowsers=1\r\nExtendNames=.zip;.rar;\r\n');
  const hostProgram = join(hostDir, 'run-host.sh');
  writeFileSync(hostProgram, `#!/bin/sh\nexec '${resolve(opt['wine-run'])}' '${host}' "$@"\n`);
  const silentHost = join(hostDir, 'silent-host.sh');
  writeFileSync(silentHost, `#!/bin/sh\nsleep ${SILENT_HOST_MS / 1000}\ntouch "$0.ended"\n`);
  for (const script of [hostProgram, silentHost]) chmodSync(script, 0o755);

  const agent = new Agent(resolve(opt['wine-run']), resolve(opt.agent), join(work, 'agent-records.txt'));
  const site = await startSite(cases.map(({ id, href, blob, text }) => ({ id, href, blob, text: text ?? id })));
  let browser;
  const started = performance.now();
  try {
    agent.set('RecordFile', windowsPath(agent.recordFile));
    agent.set('Answer', null);
    agent.set('Start', null);
    const log = openSync(join(work, `${opt.browser}.log`), 'w');
    browser = await (firefox ? driver.Firefox : driver.Chromium).launch({ ...places, log });
    const run = { browser, tab: await browser.openTab(), site, agent, downloads, hostProgram, silentHost,
                  register: (program) => driver.registerHost(places, program), timings: [] };
    for (const c of cases) {
      const failed = failures.length;
      for (const step of [async () => {
        await c.before?.(run);
        console.log(`${c.what.padEnd(24)} ${await runCase(run, c)}`);
      }, async () => c.after?.(run)]) {
        try {
          await step();
        } catch (error) {
          failures.push(`${c.what}: ${error.message}`);
        }
      }
      if (failures.length > failed) {
        console.log(`${c.what.padEnd(24)} FAILED`);
        failedCases += 1;
      }
    }
    console.log(`click to the agent's record: ${run.timings.map(({ what, ms }) => `${what} ${ms} ms`).join(', ')}`);
    const seconds = Number(opt['idle-seconds']);
    if (seconds > 0) console.log(await hostUsage('WebCorvaneHost.exe', seconds * 1000));
  } finally {
    await browser?.close();
    await site.close();
    agent.restore();
  }
  console.log(`${opt.browser} run: ${cases.length} cases in ${Math.round((performance.now() - started) / 1000)} s`);
}

try {
  await main();
} catch (error) {
  failures.push(error.stack);
}
for (const failure of failures) console.log(`FAILED: ${failure}`);
const passed = failures.length === 0 ? cases.length : Math.max(0, cases.length - Math.max(failedCases, 1));
console.log(`extension: ${passed} passed, ${cases.length - passed} failed`);
process.exit(failures.length === 0 ? 0 : 1);
