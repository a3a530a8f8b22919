// The user's settings as the worker follows them (settings.js reads and
// checks them), kept here as they change so that a download is decided the
// moment the browser hands it over.
import { inOrder } from './queue.js';
import { DEFAULTS, PAUSE_COMMAND, loadSettings, openSettings, pauseCommanded, readSettings } from './settings.js';

const api = globalThis.browser ?? globalThis.chrome;

// null until first read.
export let settings = null;
const followers = [];

// `follow(settings)` is called with the settings each time they are read,
// the first time included.
export const followedBy = (follow) => followers.push(follow);

// One read after the other: the last change is the one that stays.
const inTurn = inOrder();
const opened = openSettings(api.storage).catch((error) => {
  console.error('WebCorvane: the settings:', error);
  return { area: api.storage.local, settings: readSettings({}) };
});
let settled = inTurn(async () => follow((await opened).settings));

function follow(read) {
  settings = read;
  for (const each of followers) each(read);
}

// storage.onChanged's listener.
export function followSettings(changes, areaName) {
  if (['sync', 'local', 'managed'].includes(areaName) && Object.keys(changes).some((name) => name in DEFAULTS)) {
    settled = inTurn(async () => {
      try {
        follow(await loadSettings((await opened).area));
      } catch (error) {
        console.error('WebCorvane: the settings:', error);
      }
    });
  }
}

// commands.onCommand's listener: the pause command changes the user's pause
// where the user keeps it, as the popup's switch does; storage.onChanged
// then brings the change here. Read afresh, so that a change made meanwhile
// in a page is turned over, not undone.
export function followCommand(command) {
  if (command !== PAUSE_COMMAND) return;
  inTurn(async () => {
    const { area } = await opened;
    const change = pauseCommanded(await loadSettings(area));
    if (change !== null) await area.set(change);
  }).catch((error) => console.error('WebCorvane: the pause command:', error));
}

// `decide()` once the settings are known; at once when they are.
export function withSettings(decide) {
  return settings !== null ? decide() : settled.then(decide);
}
