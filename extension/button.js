// The toolbar button: the downloads held for more than a moment while they
// are, else the problem it warns of (button_rules.js), which outlives the
// worker in storage.session. Changes are applied one after the other, so
// that none is lost.
import { PROBLEM_KEY, badgeFor, problemAfter, toolbarIcon } from './button_rules.js';
import { inOrder } from './queue.js';

const api = globalThis.browser ?? globalThis.chrome;

const inTurn = inOrder();
const offering = new Map(); // download id -> its name
let paused; // false until the settings are read
let problem; // read from storage.session first
let shown; // the badge as last set, as JSON

// The button after `event` (problemAfter's), or as it stands when none.
export function showButton(event) {
  return inTurn(async () => {
    if (problem === undefined) problem = (await api.storage.session.get(PROBLEM_KEY))[PROBLEM_KEY] ?? null;
    const after = event === undefined ? problem : problemAfter(problem, event);
    if (JSON.stringify(after) !== JSON.stringify(problem)) {
      problem = after;
      await api.storage.session.set({ [PROBLEM_KEY]: after });
    }
    const badge = badgeFor(problem, [...offering.values()], paused);
    if (JSON.stringify(badge) === shown) return;
    shown = JSON.stringify(badge);
    const action = api.action ?? api.browserAction;
    const title = api.i18n.getMessage(badge.title[0], badge.title.slice(1));
    await Promise.all([action.setBadgeText({ text: badge.text }), action.setTitle({ title }),
                       action.setBadgeBackgroundColor({ color: badge.color }),
                       action.setIcon({ path: toolbarIcon(badge.icon) })]);
  }).catch((error) => console.error('WebCorvane: the button:', error));
}

export function showPaused(settings) {
  paused = settings.paused;
  showButton();
}

// A download held for more than a moment, until showOffered(id).
export function showOffering(id, name) {
  offering.set(id, name);
  showButton();
}

export function showOffered(id) {
  if (offering.delete(id)) showButton();
}
