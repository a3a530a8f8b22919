// The reference agent in the Wine prefix: its settings
// (HKCU\Software\Corvane\ReferenceAgent) and its record of AddTask calls, one
// tab-separated line per call (see agent/task_record.h).
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';

const KEY = 'HKCU\\Software\\Corvane\\ReferenceAgent';

export class Agent {
  // `wineRun` runs a Windows program in the prefix where `exe` is registered.
  constructor(wineRun, exe, recordFile) {
    this.wineRun = wineRun;
    this.exe = exe;
    this.recordFile = recordFile;
    this.saved = new Map();
  }

  run(...args) {
    return execFileSync(this.wineRun, args, { stdio: ['ignore', 'pipe', 'ignore'] }).toString();
  }

  read(name) {
    try {
      const out = this.run('reg', 'query', KEY, '/v', name);
      return out.match(new RegExp(`^\\s*${name}\\s+REG_SZ\\s*(.*?)\\r?$`, 'm'))?.[1] ?? null;
    } catch {
      return null; // absent
    }
  }

  // Sets a value, null deletes it; the first change of each value is undone
  // by restore().
  set(name, value) {
    if (!this.saved.has(name)) this.saved.set(name, this.read(name));
    this.write(name, value);
  }

  write(name, value) {
    if (value === null) {
      try { this.run('reg', 'delete', KEY, '/v', name, '/f'); } catch { /* already absent */ }
    } else {
      this.run('reg', 'add', KEY, '/v', name, '/d', value, '/f');
    }
  }

  restore() {
    for (const [name, value] of this.saved) this.write(name, value);
    this.saved.clear();
  }

  register(on) {
    this.run(this.exe, on ? '/RegServer' : '/UnregServer');
  }

  // Keeps an agent running through `holder` (agent_holder.exe) until the
  // function it answers is called, which waits for the holder to end.
  async hold(holder) {
    const held = spawn(this.wineRun, [holder], { stdio: ['pipe', 'pipe', 'ignore'] });
    const ended = new Promise((resolve) => held.once('exit', resolve));
    const started = await Promise.race([new Promise((resolve) => held.stdout.once('data', () => resolve(true))),
                                        ended.then(() => false)]);
    if (!started) throw new Error('the agent could not be held');
    return () => {
      held.stdin.end();
      return ended;
    };
  }

  records() {
    if (!existsSync(this.recordFile)) return [];
    return readFileSync(this.recordFile, 'utf8').split('\n').filter((line) => line !== '').map(parseRecord);
  }
}

// Windows' view of a Linux path, through the prefix's Z: drive.
export const windowsPath = (path) => `Z:${path.replaceAll('/', '\\')}`;

const FIELDS = ['url', 'comment', 'referrer', 'flags', 'cookie', 'reserved', 'accepted', 'answer'];

export function parseRecord(line) {
  const values = line.replace(/\r$/, '').split('\t').map((field) => (field === '\\N' ? null
    : field.replace(/\\(u[0-9A-F]{4}|.)/g, (_, c) => ({ '\\': '\\', t: '\t', n: '\n', r: '\r' })[c]
      ?? String.fromCharCode(parseInt(c.slice(1), 16)))));
  if (values.length !== FIELDS.length) throw new Error(`not a record of the agent: ${line}`);
  return Object.fromEntries(FIELDS.map((name, i) => [name, values[i]]));
}
