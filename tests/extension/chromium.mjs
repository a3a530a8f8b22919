// Debian's Chromium, headless in a profile of its own with the extension
// loaded unpacked, driven through the DevTools protocol; the extension's
// service worker answers questions about downloads and the toolbar button.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { Browser, Connection, Tab, registerHostIn, until } from './browser.mjs';
import { EXTENSION_ID, NEIGHBOUR_ID } from './identifiers.mjs';

const WORKER_URL = `chrome-extension://${EXTENSION_ID}/test_background.js`;
// The extension's test build (the worker calls its menu's handler) beside
// the profile.
const extensionOf = (profile) => `${profile}-extension`;

// The URL of one of the extension's pages (popup.html, options.html).
export const extensionPage = (name) => `chrome-extension://${EXTENSION_ID}/${name}`;
// The neighbour, another extension, loaded beside ours.
const NEIGHBOUR = new URL('neighbour', import.meta.url).pathname;

// A profile that saves downloads into `downloads` without asking, and the
// extension's test build unless `extension` is false. Download behaviour is
// set here, not through the protocol, which would stop the extension from
// holding downloads. The extension is allowed in private windows, as the
// user allows it on the extensions page; read at start, this costs no reload.
export function makeProfile({ profile, downloads, extension = true }) {
  if (extension) {
    execFileSync('python3', [new URL('../../scripts/build_extension.py', import.meta.url).pathname, 'test',
                             'chromium', extensionOf(profile)]);
  }
  mkdirSync(join(profile, 'Default'), { recursive: true });
  mkdirSync(downloads, { recursive: true });
  writeFileSync(join(profile, 'Default', 'Preferences'), JSON.stringify({
    download: { default_directory: downloads, prompt_for_download: false, directory_upgrade: true },
    safebrowsing: { enabled: false },
    extensions: { settings: { [EXTENSION_ID]: { incognito: true } } },
  }));
}

// The host's manifest in the profile, where Chromium looks when given a
// --user-data-dir; `program` is what it starts, or none (null).
export function registerHost({ profile }, program) {
  registerHostIn(join(profile, 'NativeMessagingHosts'), program,
    { allowed_origins: [`chrome-extension://${EXTENSION_ID}/`] });
}

const failure = (message) => message.error?.message;

export class Chromium extends Browser {
  // `extension`: whether ours is loaded (or the folder of another one to
  // load instead); `language`: the one its words are in. Headless, --lang
  // decides that, not LANGUAGE, LANG or LC_ALL.
  static async launch({ profile, log, extension = true, language = 'en-US' }) {
    const folder = typeof extension === 'string' ? extension : extensionOf(profile);
    const flags = [
      '--headless=new', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
      '--no-default-browser-check', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--disable-default-apps', '--disable-domain-reliability',
      '--password-store=basic', `--user-data-dir=${profile}`, '--remote-debugging-port=0', `--lang=${language}`,
      // Debian's wrapper passes an empty --load-extension of its own first.
      ...(extension ? [`--load-extension=${folder},${NEIGHBOUR}`, `--disable-extensions-except=${folder},${NEIGHBOUR}`]
        : []),
      'about:blank',
    ];
    if (process.getuid?.() === 0) flags.unshift('--no-sandbox');
    const browser = new Chromium('chromium', flags, { log });
    const portFile = join(profile, 'DevToolsActivePort');
    // The file may be seen before its two lines are written.
    const [port, path] = await until(() => {
      const lines = existsSync(portFile) ? readFileSync(portFile, 'utf8').split('\n') : [];
      return /^\d+$/.test(lines[0]) && lines[1]?.startsWith('/') ? lines : undefined;
    }, 30000, 'Chromium to start', 50);
    browser.connection = await Connection.open(`ws://127.0.0.1:${port}${path}`, failure);
    // A freshly installed extension's worker runs a moment after the
    // browser starts; a download before its listeners are known is not
    // held (seen in one run of five that clicked at once). Its target can
    // be there before its script ran: the script's last global tells.
    if (extension === true) {
      await until(async () => ((await browser.askExtension('typeof downloadWith').catch(() => undefined)) === 'function'
        ? true : undefined), 30000, "the extension's worker", 100);
    }
    return browser;
  }

  // `background`: opened behind the tab in front, which stays the window's
  // active tab (the one the popup shows the site of).
  async openTab(background = false) {
    const { targetId } = await this.connection.send('Target.createTarget', { url: 'about:blank', background });
    const { sessionId } = await this.connection.send('Target.attachToTarget', { targetId, flatten: true });
    return new ChromiumTab(this.connection, sessionId);
  }

  // A tab in a private (incognito) window, opened by the extension as it
  // opens any window.
  async privateTab() {
    const url = 'about:blank#private';
    const window = await this.inBackground(`async (api) => api.windows.create({ incognito: true, url: '${url}' })`);
    if (!window.incognito) throw new Error('the extension opened no private window');
    const { targetInfos } = await this.connection.send('Target.getTargets');
    const { targetId } = targetInfos.find((info) => info.type === 'page' && info.url === url);
    const { sessionId } = await this.connection.send('Target.attachToTarget', { targetId, flatten: true });
    return new ChromiumTab(this.connection, sessionId);
  }

  // The value of an expression in the extension's service worker, which
  // Chromium starts again when it is not running.
  async askExtension(expression) {
    if (this.worker === undefined) {
      const { targetInfos } = await this.connection.send('Target.getTargets');
      const target = targetInfos.find((info) => info.url === WORKER_URL);
      if (target === undefined) throw new Error('the extension has no running service worker');
      const { sessionId } = await this.connection.send('Target.attachToTarget',
        { targetId: target.targetId, flatten: true });
      this.worker = { targetId: target.targetId, sessionId };
    }
    return evaluate(this.connection, this.worker.sessionId, expression);
  }

  // `body`, an async function's source, called with the extension's API and
  // its background's global.
  inBackground(body) {
    return this.askExtension(`(${body})(chrome, globalThis)`);
  }

  // A tab on one of the extension's files: a page of the extension, whose
  // API answers there as in its popup.
  async extensionTab() {
    if (this.extension === undefined) {
      this.extension = await this.openTab();
      await this.extension.load(`chrome-extension://${EXTENSION_ID}/manifest.json`);
    }
    return this.extension;
  }

  // A tab on the neighbour's page that downloads `url` as `filename`.
  async neighbourDownload(url, filename) {
    const tab = await this.openTab(true);
    await tab.load(`chrome-extension://${NEIGHBOUR_ID}/go.html?${new URLSearchParams({ url, filename })}`);
    return tab;
  }

  // Stops the extension's service worker, as the browser does when it ends
  // one (closing its target is the way the protocol has).
  async stopWorker() {
    await this.askExtension('1');
    const { targetId } = this.worker;
    this.worker = undefined;
    await this.connection.send('Target.closeTarget', { targetId });
  }

  close() {
    return super.close(this.connection.send('Browser.close'));
  }
}

// The value of a script in a target, awaited when it is a promise.
async function evaluate(connection, sessionId, expression) {
  const { result, exceptionDetails } = await connection.send('Runtime.evaluate',
    { expression, awaitPromise: true, returnByValue: true }, { sessionId });
  if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
  return result.value;
}

class ChromiumTab extends Tab {
  constructor(connection, sessionId) {
    super();
    this.connection = connection;
    this.session = sessionId;
  }

  evaluate(expression) {
    return evaluate(this.connection, this.session, expression);
  }

  async load(url) {
    await this.connection.send('Page.navigate', { url }, { sessionId: this.session });
    await until(async () => ((await this.evaluate(`location.href === ${JSON.stringify(url)} &&
      document.readyState === 'complete'`)) ? true : undefined), 10000, `${url} to load`);
  }

  async press(x, y, { keys = [], button = 'left' } = {}) {
    const modifiers = keys.reduce((bits, key) => bits | { alt: 1, ctrl: 2, shift: 8 }[key], 0);
    const mouse = { x, y, button, clickCount: 1, modifiers };
    const input = (params) => this.connection.send('Input.dispatchMouseEvent', params, { sessionId: this.session });
    // A tab behind others starts what a click does seconds late.
    await this.connection.send('Page.bringToFront', {}, { sessionId: this.session });
    await input({ type: 'mouseMoved', x, y });
    await input({ type: 'mousePressed', ...mouse });
    await input({ type: 'mouseReleased', ...mouse });
  }

  // A PNG of the page as laid out `width` pixels wide, all of it, in the
  // system's light or dark `scheme`.
  async screenshot(width, scheme = 'light') {
    const send = (method, params = {}) => this.connection.send(method, params, { sessionId: this.session });
    await send('Emulation.setEmulatedMedia', { features: [{ name: 'prefers-color-scheme', value: scheme }] });
    await send('Emulation.setDeviceMetricsOverride', { width, height: 200, deviceScaleFactor: 1, mobile: false });
    const height = await this.evaluate('Math.ceil(document.documentElement.getBoundingClientRect().height)');
    await send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
    const { data } = await send('Page.captureScreenshot', { format: 'png' });
    await send('Emulation.clearDeviceMetricsOverride');
    await send('Emulation.setEmulatedMedia', { features: [] });
    return Buffer.from(data, 'base64');
  }
}
