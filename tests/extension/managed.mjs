// Settings an organization sets, in the real browser: a policy written where
// Debian's Chromium or Firefox ESR reads the machine's policies, the browser
// started, and the options page and the popup show each setting as "set by
// your organization" with its control off, and a download follows the
// policy's pause. The policy names a copy of the extension with an ID of its
// own, so that no other copy on the machine (a user's, another test's)
// follows it for the moment it is there. Everything written outside DIR is
// removed at the end.
//
//   node managed.mjs --browser chromium|firefox --work DIR
//
// Exits 77 where the browser cannot run or its policy folder cannot be
// written (it takes root).
import { execFileSync, spawnSync } from 'node:child_process';
import { generateKeyPairSync } from 'node:crypto';
import { appendFileSync, existsSync, mkdirSync, openSync, readFileSync, rmSync, statSync, writeFileSync }
  from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import { until } from './browser.mjs';
import * as chromium from './chromium.mjs';
import * as firefoxDriver from './firefox.mjs';
import { chromiumId } from './identifiers.mjs';
import { FILE_BYTES, startSite } from './site.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const { values: opt } = parseArgs({ options: { browser: { type: 'string', default: 'chromium' },
                                               work: { type: 'string' } } });
const firefox = opt.browser === 'firefox';

// What the organization sets: every one of the four, the pause on.
const POLICY = { paused: true, skippedSites: ['intranet.example'], minimumSizeBytes: 1048576, bypassKey: 'none' };
// Where each reads the machine's policies (Debian's packages, measured):
// Chromium every JSON file of its managed folder; Firefox ESR one
// policies.json, the system's in /etc/firefox/policies when there is one,
// else its installation's (distribution/): the first replaces the second.
const POLICY_FILE = firefox ? '/etc/firefox/policies/policies.json'
  : '/etc/chromium/policies/managed/webcorvane-managed-test.json';
const GECKO_ID = 'managed-test@webcorvane.example';
const EXTENSION_UUID = '7b1e0c2d-5a3f-4e8b-9c6d-2f0a1b3c4d5e';

const english = JSON.parse(readFileSync(join(here, '../../extension/_locales/en/messages.json'), 'utf8'));
const sentence = (key) => english[key].message;
const failures = [];
const check = (ok, message) => { if (!ok) failures.push(message); return ok; };

// A key of the test's own and the ID Chromium derives from it.
function chromiumIdentity() {
  const { publicKey } = generateKeyPairSync('rsa', { modulusLength: 2048,
    publicKeyEncoding: { type: 'spki', format: 'der' }, privateKeyEncoding: { type: 'pkcs8', format: 'pem' } });
  return { key: publicKey.toString('base64'), id: chromiumId(publicKey) };
}

// Writes the policy for `id`, in a policies.json of Firefox's beside what
// it holds already, and answers what puts everything back: the folders it
// made removed, a file that was there as it was (less this test's policy,
// which a run that was killed may have left).
function writePolicy(id) {
  let made = POLICY_FILE;
  while (!existsSync(dirname(made))) made = dirname(made); // the first folder to make, if any
  let beforeText = firefox && existsSync(POLICY_FILE) ? readFileSync(POLICY_FILE, 'utf8') : null;
  const before = beforeText === null ? null : JSON.parse(beforeText);
  if (before?.policies?.['3rdparty']?.Extensions?.[id] !== undefined) {
    delete before.policies['3rdparty'].Extensions[id];
    beforeText = JSON.stringify(before, null, 2);
  }
  const putBack = () => {
    if (beforeText !== null) writeFileSync(POLICY_FILE, beforeText);
    else rmSync(made, { recursive: true, force: true });
  };
  const policy = firefox ? structuredClone(before ?? {}) : { '3rdparty': { extensions: { [id]: POLICY } } };
  if (firefox) {
    policy.policies ??= {};
    policy.policies['3rdparty'] ??= {};
    policy.policies['3rdparty'].Extensions ??= {};
    policy.policies['3rdparty'].Extensions[id] = POLICY;
  }
  try {
    mkdirSync(dirname(POLICY_FILE), { recursive: true });
    writeFileSync(POLICY_FILE, JSON.stringify(policy, null, 2));
  } catch (error) {
    if (made !== POLICY_FILE) putBack(); // a folder made, the file refused
    throw error;
  }
  return putBack;
}

// For each setting, whether its note is shown and its controls are off, and
// what the page shows of it.
const shownOf = (page) => page.evaluate(`(() => {
  const of = (name) => [...document.querySelectorAll('[data-managed="' + name + '"]')];
  const settings = {};
  for (const name of ${JSON.stringify(Object.keys(POLICY))}) {
    const elements = of(name);
    if (elements.length === 0) continue;
    settings[name] = { noted: elements.some((e) => e.classList.contains('managed') && !e.hidden &&
                                                   e.textContent === ${JSON.stringify(sentence('managed_note'))}),
                       locked: elements.filter((e) => !e.classList.contains('managed')).every((e) => e.disabled) };
  }
  const value = (id) => document.getElementById(id);
  return { settings, paused: value('paused').checked,
           shown: [value('bypass')?.value, value('minimum')?.value, value('unit')?.value,
                   [...document.querySelectorAll('#sites .host')].map((e) => e.textContent).join()] };
})()`);

async function openPage(browser, url, mark) {
  const page = await browser.openTab();
  await page.load(url);
  await until(async () => ((await page.evaluate(`performance.getEntriesByName('${mark}').length`)) > 0
    ? true : undefined), 10000, `${url} to show`);
  return page;
}

async function main() {
  const work = resolve(opt.work);
  rmSync(work, { recursive: true, force: true });
  const places = { profile: join(work, 'profile'), downloads: join(work, 'downloads'), home: join(work, 'home') };
  const identity = firefox ? { id: GECKO_ID } : chromiumIdentity();
  let putBack;
  try {
    putBack = writePolicy(identity.id);
  } catch (error) {
    if (!['EACCES', 'EPERM', 'EROFS'].includes(error.code)) throw error;
    console.log(`not runnable here: ${POLICY_FILE} cannot be written (${error.code})`);
    process.exit(77);
  }
  const driver = firefox ? firefoxDriver : chromium;
  const build = (out, ...id) => execFileSync('python3', [join(here, '../../scripts/build_extension.py'), 'test',
    opt.browser, out, ...id]);
  const site = await startSite([{ id: 'managed', href: '/files/managed.zip', text: 'managed' }]);
  let browser;
  try {
    driver.makeProfile({ ...places, extension: false });
    let pageUrl;
    let extension = false;
    if (firefox) {
      build(join(places.profile, 'extensions', `${GECKO_ID}.xpi`), '--gecko-id', GECKO_ID);
      appendFileSync(join(places.profile, 'user.js'), `user_pref("extensions.webextensions.uuids", ${
        JSON.stringify(JSON.stringify({ [GECKO_ID]: EXTENSION_UUID }))});\n`);
      pageUrl = (name) => `moz-extension://${EXTENSION_UUID}/${name}`;
    } else {
      extension = join(work, 'extension');
      build(extension, '--key', identity.key);
      pageUrl = (name) => `chrome-extension://${identity.id}/${name}`;
    }
    const log = openSync(join(work, `${opt.browser}.log`), 'w');
    browser = await (firefox ? driver.Firefox : driver.Chromium).launch({ ...places, log, extension });
    if (firefox) {
      await until(() => {
        try {
          return JSON.parse(readFileSync(join(places.profile, 'extensions.json'), 'utf8')).addons
            .find((addon) => addon.id === GECKO_ID)?.active || undefined;
        } catch { return undefined; }
      }, 30000, 'the extension to be installed', 100);
    }
    // The background has run once its menu item is there (it makes it on
    // being installed), so that the download below is one it sees.
    const options = await openPage(browser, pageUrl('options.html'), 'settings-shown');
    await until(() => options.evaluate(`((api) => api.contextMenus.update('download-with', {}).then(() => true,
      () => undefined))(globalThis.browser ?? chrome)`), 30000, "the extension's background", 200);
    const optionsShown = await shownOf(options);
    const popup = await openPage(browser, pageUrl('popup.html'), 'recent-shown');
    const popupShown = await shownOf(popup);
    const all = (shown, names) => names.every((name) => shown.settings[name]?.noted && shown.settings[name]?.locked);
    check(all(optionsShown, Object.keys(POLICY)) && optionsShown.paused &&
          optionsShown.shown.join('|') === 'none|1|1048576|intranet.example',
    `the options page shows ${JSON.stringify(optionsShown)}`);
    check(all(popupShown, ['paused', 'skippedSites']) && popupShown.paused,
      `the popup shows ${JSON.stringify(popupShown)}`);
    const state = await popup.evaluate("document.getElementById('state').textContent");
    check(state === sentence('status_paused'), `the popup says "${state}"`);

    // Paused by policy, a .zip stays with the browser, listed as paused:
    // without the pause it would be offered to a host that is not there.
    const tab = await browser.openTab();
    await tab.load(`${site.base}/page.html?managed`);
    await tab.click('#managed');
    const saved = join(places.downloads, 'managed.zip');
    await until(() => { try { return statSync(saved).size === FILE_BYTES || undefined; } catch { return undefined; } },
      15000, 'the browser to save managed.zip');
    const listed = await until(async () => {
      await popup.load(pageUrl('popup.html'));
      const entry = await popup.evaluate(`[...document.querySelectorAll('#recent li')].map((li) =>
        [li.querySelector('.name').textContent, li.querySelector('.why').textContent]).find(([name]) =>
        name === 'managed.zip')`).catch(() => undefined);
      return entry?.[1] === sentence('reason_paused') ? entry : undefined;
    }, 10000, 'the popup to list managed.zip').catch(() => undefined);
    check(listed !== undefined, 'the popup does not list managed.zip as paused');
    const locked = (shown) => Object.keys(shown.settings).filter((name) => all(shown, [name])).join(', ');
    return `${POLICY_FILE} | set by the organization and locked: options page ${locked(optionsShown)}; popup ${
      locked(popupShown)} | a .zip clicked: ${listed === undefined ? 'not listed as paused' : listed.join(': ')}`;
  } finally {
    await browser?.close();
    await site.close();
    putBack();
  }
}

const whyNot = spawnSync('bash', [join(here, `${opt.browser}_probe.sh`)]).stdout.toString().trim();
if (whyNot !== '') {
  console.log(`not runnable here: ${whyNot}`);
  process.exit(77);
}
try {
  console.log(`managed settings in ${opt.browser}: ${await main()}`);
} catch (error) {
  failures.push(error.stack);
}
for (const failure of failures) console.log(`FAILED: ${failure}`);
process.exit(failures.length === 0 ? 0 : 1);
