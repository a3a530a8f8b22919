// What driving Debian's Chromium and Firefox ESR has in common: a browser
// started headless in a profile of its own, found through the port file it
// writes, driven over a WebSocket by its own protocol (the DevTools protocol,
// WebDriver BiDi), clicked with real input events, and closed. Each browser's
// driver (chromium.mjs, firefox.mjs) adds what is its own.
import { spawn } from 'node:child_process';
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import WebSocket from 'ws';
import { HOST_NAME } from './identifiers.mjs';

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

// The host's manifest in `dir`, where the browser looks for it: `program` is
// what it starts (null: no manifest), `allowed` names the extension as the
// browser wants it.
export function registerHostIn(dir, program, allowed) {
  const manifest = join(dir, `${HOST_NAME}.json`);
  if (program === null) {
    rmSync(manifest, { force: true });
    return;
  }
  mkdirSync(dir, { recursive: true });
  writeFileSync(manifest, JSON.stringify({
    name: HOST_NAME, description: 'WebCorvane download manager', path: program, type: 'stdio', ...allowed,
  }));
}

// Calls over a WebSocket, each answered by a message with its id; `failure`
// reads a protocol's error out of an answer (undefined when there is none).
// Other messages are events, handed to the listeners of their method.
export class Connection {
  static async open(url, failure) {
    const socket = new WebSocket(url);
    await new Promise((resolve, reject) => socket.once('open', resolve).once('error', reject));
    return new Connection(socket, failure);
  }

  constructor(socket, failure) {
    this.socket = socket;
    this.next = 1;
    this.calls = new Map();
    this.listeners = new Map();
    socket.on('message', (data) => {
      const message = JSON.parse(data);
      const call = this.calls.get(message.id);
      if (call === undefined) {
        for (const listener of this.listeners.get(message.method) ?? []) listener(message.params);
        return;
      }
      this.calls.delete(message.id);
      const error = failure(message);
      if (error !== undefined) call.reject(new Error(`${call.method}: ${error}`));
      else call.resolve(message.result);
    });
  }

  send(method, params = {}, more = {}) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      this.calls.set(id, { method, resolve, reject });
      this.socket.send(JSON.stringify({ id, method, params, ...more }));
    });
  }

  on(method, listener) {
    this.listeners.set(method, [...(this.listeners.get(method) ?? []), listener]);
  }
}

// A browser process in a process group of its own, its output to `log`.
export class Browser {
  constructor(command, flags, { log, env = process.env }) {
    this.process = spawn(command, flags, { stdio: ['ignore', log, log], detached: true, env });
    this.exited = new Promise((resolve) => this.process.once('exit', resolve));
  }

  // `closing` asks the browser to close through its protocol. Closing the
  // browser closes the host's port, and so its standard input.
  async close(closing) {
    await Promise.race([closing.catch(() => {}), sleep(5000)]);
    this.connection?.socket.close();
    if (await Promise.race([this.exited.then(() => true), sleep(10000).then(() => false)])) return;
    process.kill(-this.process.pid, 'SIGKILL');
    await this.exited;
  }
}

// A tab: `evaluate(expression)` gives an expression's value and
// `press(x, y, {keys, button})` clicks a button ('left' unless said) at a
// point of the viewport with the modifier keys (alt, shift, ctrl) held down.
export class Tab {
  // A click in the middle of the element, brought into view, as the user's
  // mouse gives it.
  async click(selector, how = {}) {
    const { x, y } = await this.pointOf(selector);
    await this.press(x, y, how);
  }

  // The middle of the element, brought into view.
  pointOf(selector) {
    return this.evaluate(`(() => {
      const element = document.querySelector(${JSON.stringify(selector)});
      element.scrollIntoView({ block: 'center' });
      const box = element.getBoundingClientRect();
      return { x: Math.round(box.left + box.width / 2), y: Math.round(box.top + box.height / 2) };
    })()`);
  }
}
