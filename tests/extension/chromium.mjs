// Debian's Chromium, headless in a profile of its own, driven through the
// DevTools protocol: clicks are real input events, and the extension's
// service worker answers questions about downloads and the toolbar button.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import WebSocket from 'ws';

export const EXTENSION_ID = 'kcoknpeidlbnejabegefbjfpabheffnk';
export const HOST_NAME = 'com.webcorvane.handoff';

// Waits for `probe` to answer something other than undefined.
export async function until(probe, timeoutMs, what, stepMs = 10) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value !== undefined) return value;
    if (Date.now() > end) throw new Error(`gave up after ${timeoutMs} ms waiting for ${what}`);
    await sleep(stepMs);
  }
}

// A profile that saves downloads into `downloads` without asking. Download
// behaviour is set here, not through the protocol, which would stop the
// extension from holding downloads.
export function makeProfile(profile, downloads) {
  mkdirSync(join(profile, 'Default'), { recursive: true });
  mkdirSync(downloads, { recursive: true });
  writeFileSync(join(profile, 'Default', 'Preferences'), JSON.stringify({
    download: { default_directory: downloads, prompt_for_download: false, directory_upgrade: true },
    safebrowsing: { enabled: false },
  }));
}

// The host's manifest in the profile, where Chromium looks when given a
// --user-data-dir; `program` is what it starts.
export function registerHost(profile, program) {
  const dir = join(profile, 'NativeMessagingHosts');
  mkdirSync(dir, { recursive: true });
  writeFileSync(join(dir, `${HOST_NAME}.json`), JSON.stringify({
    name: HOST_NAME, description: 'WebCorvane download manager', path: program, type: 'stdio',
    allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
  }));
}

class Protocol {
  constructor(socket) {
    this.socket = socket;
    this.next = 1;
    this.calls = new Map();
    socket.on('message', (data) => {
      const message = JSON.parse(data);
      const call = this.calls.get(message.id);
      if (call === undefined) return;
      this.calls.delete(message.id);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
    });
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      this.calls.set(id, { method, resolve, reject });
      this.socket.send(JSON.stringify({ id, method, params, sessionId }));
    });
  }

  // The value of a script in a target, awaited when it is a promise.
  async evaluate(sessionId, expression) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true }, sessionId);
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
    return result.value;
  }
}

export class Chromium {
  static async launch({ extension, profile, log }) {
    const flags = [
      '--headless=new', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
      '--no-default-browser-check', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--disable-default-apps', '--disable-domain-reliability',
      '--password-store=basic', `--user-data-dir=${profile}`, '--remote-debugging-port=0',
      // Debian's wrapper passes an empty --load-extension of its own first.
      `--load-extension=${extension}`, `--disable-extensions-except=${extension}`, 'about:blank',
    ];
    if (process.getuid?.() === 0) flags.unshift('--no-sandbox');
    const browser = spawn('chromium', flags, { stdio: ['ignore', log, log], detached: true });
    const exited = new Promise((resolve) => browser.once('exit', resolve));
    const portFile = join(profile, 'DevToolsActivePort');
    const [port, path] = await until(() => (existsSync(portFile)
      ? readFileSync(portFile, 'utf8').split('\n') : undefined), 30000, 'Chromium to start', 50);
    const socket = new WebSocket(`ws://127.0.0.1:${port}${path}`);
    await new Promise((resolve, reject) => socket.once('open', resolve).once('error', reject));
    return new Chromium(browser, exited, new Protocol(socket));
  }

  constructor(process, exited, protocol) {
    this.process = process;
    this.exited = exited;
    this.cdp = protocol;
  }

  async openTab() {
    const { targetId } = await this.cdp.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.cdp.send('Target.attachToTarget', { targetId, flatten: true });
    return new Tab(this.cdp, sessionId);
  }

  // A question to the extension's service worker, which is started first
  // when it is not running.
  async askExtension(expression) {
    if (this.worker === undefined) {
      const url = `chrome-extension://${EXTENSION_ID}/background.js`;
      const { targetInfos } = await this.cdp.send('Target.getTargets');
      const target = targetInfos.find((info) => info.url === url);
      if (target === undefined) throw new Error('the extension has no running service worker');
      this.worker = (await this.cdp.send('Target.attachToTarget',
        { targetId: target.targetId, flatten: true })).sessionId;
    }
    return this.cdp.evaluate(this.worker, expression);
  }

  // Closing the browser closes the host's port, and so its standard input.
  async close() {
    await Promise.race([this.cdp.send('Browser.close').catch(() => {}), sleep(5000)]);
    this.cdp.socket.close();
    if (await Promise.race([this.exited.then(() => true), sleep(10000).then(() => false)])) return;
    process.kill(-this.process.pid, 'SIGKILL');
    await this.exited;
  }
}

export class Tab {
  constructor(cdp, sessionId) {
    this.cdp = cdp;
    this.session = sessionId;
  }

  evaluate(expression) {
    return this.cdp.evaluate(this.session, expression);
  }

  async load(url) {
    await this.cdp.send('Page.navigate', { url }, this.session);
    await until(async () => ((await this.evaluate(`location.href === ${JSON.stringify(url)} &&
      document.readyState === 'complete'`)) ? true : undefined), 10000, `${url} to load`);
  }

  // A left click in the middle of the element, as the user's mouse gives it.
  async click(selector) {
    const { x, y } = await this.evaluate(`(() => {
      const box = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
      return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
    })()`);
    const mouse = { x, y, button: 'left', clickCount: 1 };
    await this.cdp.send('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y }, this.session);
    await this.cdp.send('Input.dispatchMouseEvent', { type: 'mousePressed', ...mouse }, this.session);
    await this.cdp.send('Input.dispatchMouseEvent', { type: 'mouseReleased', ...mouse }, this.session);
  }
}
