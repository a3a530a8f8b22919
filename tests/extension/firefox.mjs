// Debian's Firefox ESR, headless in a profile of its own with the extension
// in it, driven through its built-in WebDriver BiDi. The native host is found
// in $HOME/.mozilla, so HOME is a folder of the test's. Everything that would
// reach beyond 127.0.0.1 is switched off.
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { Browser, Connection, Tab, registerHostIn, until } from './browser.mjs';
import { GECKO_ID, NEIGHBOUR_GECKO_ID } from './identifiers.mjs';

const PREFS = {
  // The unsigned extension from the profile's folder, enabled at start.
  'xpinstall.signatures.required': false,
  'extensions.autoDisableScopes': 0,
  // Downloads saved into one folder without asking.
  'browser.download.folderList': 2,
  'browser.download.useDownloadDir': true,
  'browser.download.always_ask_before_handling_new_types': false,
  'browser.download.start_downloads_in_tmp_dir': false,
  'browser.download.alwaysOpenPanel': false,
  'browser.download.open_pdf_attachments_inline': false,
  // Nothing from outside: updates, safe browsing, telemetry, studies,
  // remote settings, captive portal and connectivity checks.
  'app.update.auto': false,
  'app.update.disabledForTesting': true,
  'extensions.update.enabled': false,
  'extensions.getAddons.cache.enabled': false,
  'extensions.systemAddon.update.enabled': false,
  'extensions.blocklist.enabled': false,
  'browser.safebrowsing.downloads.enabled': false,
  'browser.safebrowsing.downloads.remote.enabled': false,
  'browser.safebrowsing.malware.enabled': false,
  'browser.safebrowsing.phishing.enabled': false,
  'browser.safebrowsing.blockedURIs.enabled': false,
  'browser.safebrowsing.update.enabled': false,
  'datareporting.healthreport.uploadEnabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'toolkit.telemetry.enabled': false,
  'toolkit.telemetry.unified': false,
  'toolkit.telemetry.archive.enabled': false,
  'toolkit.telemetry.server': '',
  'app.normandy.enabled': false,
  'app.shield.optoutstudies.enabled': false,
  'messaging-system.rsexperimentloader.enabled': false,
  'services.settings.server': 'http://127.0.0.1:9/v1',
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'network.dns.disablePrefetch': true,
  'network.prefetch-next': false,
  'network.http.speculative-parallel-limit': 0,
  'network.proxy.type': 0,
  'browser.search.update': false,
  'browser.newtabpage.enabled': false,
  'browser.shell.checkDefaultBrowser': false,
  'browser.startup.page': 0,
  'browser.startup.homepage_override.mstone': 'ignore',
  'browser.aboutwelcome.enabled': false,
};

// The extension's address in the profile, fixed so that a test can open its
// pages (Firefox otherwise picks one at random on installing it).
const EXTENSION_UUID = '5c0e2a7e-34d1-4f0b-9a6e-0c0ffee34b1d';
export const extensionPage = (name) => `moz-extension://${EXTENSION_UUID}/${name}`;
// The neighbour, another extension, installed beside ours.
const NEIGHBOUR = new URL('neighbour', import.meta.url).pathname;
const NEIGHBOUR_UUID = '0e1d2c3b-4a59-4687-9a0b-1c2d3e4f5a6b';

// A profile holding the extension's test build (built from the one source by
// the script the release uses too) unless `extension` is false, that saves downloads
// into `downloads`, and a HOME for the host's manifest. The extension may run
// in private windows, as the user lets it in its settings (the profile's
// record of that, read at start).
export function makeProfile({ profile, downloads, home, extension = true }) {
  mkdirSync(join(profile, 'extensions'), { recursive: true });
  mkdirSync(downloads, { recursive: true });
  mkdirSync(home, { recursive: true });
  if (extension) {
    execFileSync('python3', [new URL('../../scripts/build_extension.py', import.meta.url).pathname, 'test',
                             'firefox', join(profile, 'extensions', `${GECKO_ID}.xpi`)]);
    execFileSync('python3', ['-m', 'zipfile', '-c', join(profile, 'extensions', `${NEIGHBOUR_GECKO_ID}.xpi`),
                             ...['manifest.json', 'go.html', 'go.js'].map((name) => join(NEIGHBOUR, name))]);
  }
  writeFileSync(join(profile, 'extension-preferences.json'), JSON.stringify({
    [GECKO_ID]: { permissions: ['internal:privateBrowsingAllowed'], origins: [] } }));
  const prefs = { ...PREFS, 'browser.download.dir': downloads, 'extensions.webextensions.uuids':
                  JSON.stringify({ [GECKO_ID]: EXTENSION_UUID, [NEIGHBOUR_GECKO_ID]: NEIGHBOUR_UUID }) };
  writeFileSync(join(profile, 'user.js'), Object.entries(prefs)
    .map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(''));
}

// The host's manifest where Firefox on Linux looks for it; `program` is what
// it starts, or none (null).
export function registerHost({ home }, program) {
  registerHostIn(join(home, '.mozilla', 'native-messaging-hosts'), program, { allowed_extensions: [GECKO_ID] });
}

const failure = (message) => (message.type === 'error' ? `${message.error}: ${message.message}` : undefined);

export class Firefox extends Browser {
  static async launch({ profile, home, log, extension = true }) {
    // System access lets the browser's own window open a page of the
    // extension (extensionTab), which no navigation of a tab may.
    const flags = ['--headless', '--remote-allow-system-access', '--no-remote', '--profile', profile,
                   '--remote-debugging-port', '0', 'about:blank'];
    const browser = new Firefox('firefox-esr', flags,
      { log, env: { ...process.env, HOME: home, MOZ_CRASHREPORTER_DISABLE: '1' } });
    const portFile = join(profile, 'WebDriverBiDiServer.json');
    const { ws_port: port } = await until(() => {
      try { return JSON.parse(readFileSync(portFile, 'utf8')); } catch { return undefined; }
    }, 60000, 'Firefox to start', 100);
    browser.connection = await Connection.open(`ws://127.0.0.1:${port}/session`, failure);
    await browser.connection.send('session.new', { capabilities: {} });
    // A response the extension cancels ends in a fetch error.
    browser.cancelledAt = new Map();
    browser.connection.on('network.fetchError', ({ request }) => browser.cancelledAt.set(request.url, performance.now()));
    await browser.connection.send('session.subscribe', { events: ['network.fetchError'] });
    // The extension installed and enabled, by the profile's record of it.
    if (extension) await until(() => {
      try {
        const addon = JSON.parse(readFileSync(join(profile, 'extensions.json'), 'utf8')).addons
          .find((a) => a.id === GECKO_ID);
        return addon?.active ? true : undefined;
      } catch { return undefined; }
    }, 30000, 'the extension to be installed', 100);
    return browser;
  }

  // The first tab, then a new one for each call.
  async openTab() {
    let context;
    if (this.opened) {
      ({ context } = await this.connection.send('browsingContext.create', { type: 'tab' }));
    } else {
      ({ contexts: [{ context }] } = await this.connection.send('browsingContext.getTree', { maxDepth: 0 }));
      this.opened = true;
    }
    return new FirefoxTab(this.connection, context);
  }

  // A tab in a private window, opened by the extension as it opens any
  // window.
  async privateTab() {
    const url = 'about:blank#private';
    const window = await this.inBackground(`async (api) => api.windows.create({ incognito: true, url: '${url}' })`);
    if (!window.incognito) throw new Error('the extension opened no private window');
    const context = await until(async () => (await this.connection.send('browsingContext.getTree', { maxDepth: 0 }))
      .contexts.find((tab) => tab.url === url)?.context, 10000, 'the private window', 100);
    return new FirefoxTab(this.connection, context);
  }

  // A tab in a container of its own (a user context: cookies of its own).
  async containerTab() {
    const { userContext } = await this.connection.send('browser.createUserContext');
    const { context } = await this.connection.send('browsingContext.create', { type: 'tab', userContext });
    return new FirefoxTab(this.connection, context);
  }

  // A tab on one of the extension's files, opened by the browser's window: a
  // page of the extension, whose API answers there as in its popup.
  async extensionTab() {
    if (this.extension === undefined) {
      this.extension = await this.trustedTab(`moz-extension://${EXTENSION_UUID}/offer.js`);
      // The tab is listed with its URL a moment before the page's API is there.
      await until(async () => ((await this.extension.evaluate('typeof browser').catch(() => undefined)) === 'object'
        ? true : undefined), 10000, "the extension page's API", 50);
    }
    return this.extension;
  }

  // A tab on the neighbour's page that downloads `url` as `filename`.
  neighbourDownload(url, filename) {
    return this.trustedTab(`moz-extension://${NEIGHBOUR_UUID}/go.html?${new URLSearchParams({ url, filename })}`);
  }

  // A tab opened by the browser's window, as no navigation of a tab may
  // open an extension's page.
  async trustedTab(url) {
    const { contexts: [window] } = await this.connection.send('browsingContext.getTree',
      { 'moz:scope': 'chrome', maxDepth: 0 });
    await this.connection.send('script.evaluate', { expression: `void gBrowser.addTrustedTab(${JSON.stringify(url)})`,
                                                    target: { context: window.context }, awaitPromise: false });
    const context = await until(async () => (await this.connection.send('browsingContext.getTree', { maxDepth: 0 }))
      .contexts.find((tab) => tab.url === url)?.context, 10000, 'the extension page', 100);
    return new FirefoxTab(this.connection, context);
  }

  // `body`, an async function's source, called with the extension's API and
  // its background page's global.
  async inBackground(body) {
    return (await this.extensionTab()).evaluate(
      `browser.runtime.getBackgroundPage().then((background) => (${body})(browser, background))`);
  }

  // Ends the extension's background page as Firefox does when it suspends
  // an idle one; its next event starts it again.
  async stopWorker() {
    const { contexts: [window] } = await this.connection.send('browsingContext.getTree',
      { 'moz:scope': 'chrome', maxDepth: 0 });
    await this.connection.send('script.evaluate', { expression:
      `WebExtensionPolicy.getByID(${JSON.stringify(GECKO_ID)}).extension.terminateBackground()`,
    target: { context: window.context }, awaitPromise: true });
    this.extension = undefined;
  }

  // When the response of `url` was cancelled.
  cancelled(url, timeoutMs) {
    return until(() => this.cancelledAt.get(url), timeoutMs, `Firefox to cancel ${url}`, 25);
  }

  close() {
    return super.close(this.connection.send('browser.close'));
  }
}

class FirefoxTab extends Tab {
  constructor(connection, context) {
    super();
    this.connection = connection;
    this.context = context;
  }

  // The value of an expression, awaited when it is a promise, through JSON.
  async evaluate(expression) {
    const answer = await this.connection.send('script.evaluate', {
      expression: `(async () => JSON.stringify(await (${expression})))()`, target: { context: this.context },
      awaitPromise: true });
    if (answer.type !== 'success') throw new Error(`${expression}: ${answer.exceptionDetails?.text}`);
    return answer.result.value === undefined ? undefined : JSON.parse(answer.result.value);
  }

  async load(url) {
    await this.connection.send('browsingContext.navigate', { context: this.context, url, wait: 'complete' });
  }

  // The modifier keys go down in the first tick, with the move, and up
  // after the button.
  async press(x, y, { keys = [], button = 'left' } = {}) {
    const codes = keys.map((key) => ({ alt: '\uE00A', ctrl: '\uE009', shift: '\uE008' })[key]);
    const keyboard = codes.length === 0 ? [] : [{ type: 'key', id: 'keyboard', actions: [
      ...codes.map((value) => ({ type: 'keyDown', value })), { type: 'pause' }, { type: 'pause' },
      ...codes.map((value) => ({ type: 'keyUp', value }))] }];
    const pause = Array.from({ length: Math.max(codes.length - 1, 0) }, () => ({ type: 'pause' }));
    const pressed = { left: 0, right: 2 }[button];
    await this.connection.send('input.performActions', { context: this.context, actions: [...keyboard, {
      type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' },
      actions: [...pause, { type: 'pointerMove', x, y, origin: 'viewport' }, { type: 'pointerDown', button: pressed },
                { type: 'pointerUp', button: pressed }] }] });
    if (codes.length > 0) await this.connection.send('input.releaseActions', { context: this.context });
  }
}
