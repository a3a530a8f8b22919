// Debian's Firefox ESR, headless in a profile of its own with the extension
// in it, driven through its built-in WebDriver BiDi: clicks are real input
// events. The native host is found in $HOME/.mozilla, so HOME is a folder of
// the test's. Everything that would reach beyond 127.0.0.1 is switched off.
import { execFileSync, spawn } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import WebSocket from 'ws';
import { HOST_NAME, until } from './chromium.mjs';

export const GECKO_ID = 'webcorvane@corvane.com';

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

// A profile holding the extension (built from the one source by the script
// the release uses too) that saves downloads into `downloads`, and a HOME
// for the host's manifest.
export function makeFirefoxProfile(profile, downloads, home) {
  mkdirSync(join(profile, 'extensions'), { recursive: true });
  mkdirSync(downloads, { recursive: true });
  mkdirSync(home, { recursive: true });
  execFileSync('python3', [new URL('../../scripts/firefox_extension.py', import.meta.url).pathname, 'xpi',
                           join(profile, 'extensions', `${GECKO_ID}.xpi`)]);
  const prefs = { ...PREFS, 'browser.download.dir': downloads };
  writeFileSync(join(profile, 'user.js'), Object.entries(prefs)
    .map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(''));
}

// The host's manifest where Firefox on Linux looks for it; `program` is what
// it starts.
export function registerFirefoxHost(home, program) {
  const dir = join(home, '.mozilla', 'native-messaging-hosts');
  mkdirSync(dir, { recursive: true });
  writeFileSync(join(dir, `${HOST_NAME}.json`), JSON.stringify({
    name: HOST_NAME, description: 'WebCorvane download manager', path: program, type: 'stdio',
    allowed_extensions: [GECKO_ID],
  }));
}

class Bidi {
  constructor(socket) {
    this.socket = socket;
    this.next = 1;
    this.calls = new Map();
    socket.on('message', (data) => {
      const message = JSON.parse(data);
      const call = this.calls.get(message.id);
      if (call === undefined) return; // an event
      this.calls.delete(message.id);
      if (message.type === 'error') call.reject(new Error(`${call.method}: ${message.error}: ${message.message}`));
      else call.resolve(message.result);
    });
  }

  send(method, params = {}) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      this.calls.set(id, { method, resolve, reject });
      this.socket.send(JSON.stringify({ id, method, params }));
    });
  }
}

export class Firefox {
  static async launch({ profile, home, log }) {
    const flags = ['--headless', '--no-remote', '--profile', profile, '--remote-debugging-port', '0', 'about:blank'];
    const browser = spawn('firefox-esr', flags, { stdio: ['ignore', log, log], detached: true,
                                                  env: { ...process.env, HOME: home, MOZ_CRASHREPORTER_DISABLE: '1' } });
    const exited = new Promise((resolve) => browser.once('exit', resolve));
    const portFile = join(profile, 'WebDriverBiDiServer.json');
    const { ws_port: port } = await until(() => {
      try { return JSON.parse(readFileSync(portFile, 'utf8')); } catch { return undefined; }
    }, 60000, 'Firefox to start', 100);
    const socket = new WebSocket(`ws://127.0.0.1:${port}/session`);
    await new Promise((resolve, reject) => socket.once('open', resolve).once('error', reject));
    const bidi = new Bidi(socket);
    await bidi.send('session.new', { capabilities: {} });
    return new Firefox(browser, exited, bidi, profile);
  }

  constructor(process, exited, bidi, profile) {
    this.process = process;
    this.exited = exited;
    this.bidi = bidi;
    this.profile = profile;
  }

  // The extension installed and enabled, by the profile's record of it.
  async extensionReady() {
    const file = join(this.profile, 'extensions.json');
    await until(() => {
      try {
        const addon = JSON.parse(readFileSync(file, 'utf8')).addons.find((a) => a.id === GECKO_ID);
        return addon?.active ? true : undefined;
      } catch { return undefined; }
    }, 30000, 'the extension to be installed', 100);
  }

  async openTab() {
    const { contexts } = await this.bidi.send('browsingContext.getTree', { maxDepth: 0 });
    return new FirefoxTab(this.bidi, contexts[0].context);
  }

  async close() {
    await Promise.race([this.bidi.send('browser.close').catch(() => {}), sleep(5000)]);
    this.bidi.socket.close();
    if (await Promise.race([this.exited.then(() => true), sleep(10000).then(() => false)])) return;
    process.kill(-this.process.pid, 'SIGKILL');
    await this.exited;
  }
}

class FirefoxTab {
  constructor(bidi, context) {
    this.bidi = bidi;
    this.context = context;
  }

  // The value of an expression, through JSON.
  async evaluate(expression) {
    const answer = await this.bidi.send('script.evaluate', {
      expression: `JSON.stringify(${expression})`, target: { context: this.context }, awaitPromise: true });
    if (answer.type !== 'success') throw new Error(`${expression}: ${answer.exceptionDetails?.text}`);
    return answer.result.value === undefined ? undefined : JSON.parse(answer.result.value);
  }

  async load(url) {
    await this.bidi.send('browsingContext.navigate', { context: this.context, url, wait: 'complete' });
  }

  // A left click in the middle of the element, as the user's mouse gives it.
  async click(selector) {
    const { x, y } = await this.evaluate(`(() => {
      const box = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
      return { x: Math.round(box.left + box.width / 2), y: Math.round(box.top + box.height / 2) };
    })()`);
    await this.bidi.send('input.performActions', { context: this.context, actions: [{
      type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' },
      actions: [{ type: 'pointerMove', x, y, origin: 'viewport' }, { type: 'pointerDown', button: 0 },
                { type: 'pointerUp', button: 0 }] }] });
  }
}
