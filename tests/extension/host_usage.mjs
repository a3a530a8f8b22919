// What a Windows program run by Wine costs while it waits: its resident
// memory and the CPU it used over a window, read from /proc.
import { readdirSync, readFileSync } from 'node:fs';
import { setTimeout as sleep } from 'node:timers/promises';

const TICKS_PER_SECOND = 100;

function findProcess(name) {
  for (const pid of readdirSync('/proc').filter((entry) => /^\d+$/.test(entry))) {
    try {
      // The program itself: Wine names the process after it.
      if (readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0')[0].endsWith(name)) return pid;
    } catch { /* ended meanwhile */ }
  }
  return null;
}

// User plus system time, in clock ticks (fields 14 and 15 of stat, counted
// after the command name, which may hold spaces).
const cpuTicks = (pid) => {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return Number(fields[11]) + Number(fields[12]);
};
// Resident memory, and its proportional share: Wine's libraries are mapped
// by every Wine process and counted whole in the first.
const memoryKb = (pid, field) => Number(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8')
  .match(new RegExp(`^${field}:\\s+(\\d+)`, 'm'))[1]);

export async function hostUsage(name, windowMs) {
  const pid = findProcess(name);
  if (pid === null) return `idle host: no process of ${name}`;
  const ticks = cpuTicks(pid);
  await sleep(windowMs);
  const used = cpuTicks(pid) - ticks;
  return `idle host (pid ${pid}) over ${windowMs / 1000} s: ${used / TICKS_PER_SECOND} s of CPU ` +
    `(${((used / TICKS_PER_SECOND) * 100000 / windowMs).toFixed(2)} %), resident ${memoryKb(pid, 'Rss')} KB, ` +
    `proportional ${memoryKb(pid, 'Pss')} KB`;
}
