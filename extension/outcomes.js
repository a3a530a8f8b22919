// The offers a stopped worker (or a suspended event page) left with the host.
// The browser let each such download go and saved it, while the agent may
// have taken it too. The host keeps how each offer ended; a worker, as it
// starts, asks for the noted ones (host.js), so that each download ends in
// one place: the browser's copy removed when the agent took it, nothing done
// when the agent did not, and the user told plainly which copy is where when
// nobody knows.
import { showButton } from './button.js';
import { OFFER, ask, inTurn, nextId } from './host.js';
import { HOLD_MS } from './offer.js';
import { Where, recentLog } from './recent.js';

const api = globalThis.browser ?? globalThis.chrome;
// A private window's offer is listed in that session's list.
const recentOf = (note) => recentLog(api.storage.session, note.incognito === true);

// A host that starts for the question answers within about a second (it
// reads the records only when asked).
const OUTCOMES_WAIT_MS = 5000;
const ASK_AGAIN_MS = 2000;
// Notes kept for a host that never answers, as the host keeps its records.
const MAX_NOTES = 64;
const NOTE_LIFE_MS = 24 * 60 * 60 * 1000;

const isNote = (note) => Number.isFinite(note?.id) && Number.isFinite(note?.deadline) &&
  typeof note.name === 'string' && typeof note.url === 'string';

// Queued in the host's turn at once, so that it reads the notes before this
// worker writes any of its own.
export const settleCutOff = () => inTurn(settleNotes).catch((error) => console.error('WebCorvane: outcomes:', error));

async function settleNotes() {
  const stored = await api.storage.session.get(null);
  const now = Date.now();
  const notes = Object.entries(stored).filter(([key]) => key.startsWith(OFFER));
  const stale = notes.filter(([, note]) => !isNote(note) || note.deadline < now - NOTE_LIFE_MS)
    .concat(notes.filter(([, note]) => isNote(note)).sort(([, a], [, b]) => b.deadline - a.deadline).slice(MAX_NOTES));
  if (stale.length > 0) await api.storage.session.remove(stale.map(([key]) => key));
  const open = notes.filter((entry) => !stale.includes(entry)).map(([, note]) => note);
  if (open.length === 0) return;
  const offers = open.map(({ id, deadline }) => ({ id, deadline }));
  const reply = await ask({ id: nextId(), type: 'outcomes', offers }, { waitMs: OUTCOMES_WAIT_MS });
  // No host: the notes wait for the next worker's question.
  if (!Array.isArray(reply?.outcomes)) return;
  const done = [];
  let later = null;
  const outcomeOf = (note) => reply.outcomes.find((o) => o?.id === note.id && o?.deadline === note.deadline);
  for (const note of open) {
    const outcome = outcomeOf(note);
    // An offer still within its hold may be with another host still asking
    // the agent: asked again in a moment, the last time once the hold is over.
    if (outcome !== undefined && outcome.taken === null && note.deadline > Date.now()) {
      later = Math.min(later ?? Infinity, note.deadline + 1000, Date.now() + ASK_AGAIN_MS);
      continue;
    }
    await settle(note, outcome?.taken);
    done.push(note);
  }
  await api.storage.session.remove(done.map((note) => OFFER + note.id));
  const recorded = done.filter((note) => outcomeOf(note) !== undefined);
  if (recorded.length > 0) {
    await ask({ id: nextId(), type: 'forget-outcomes', offers: recorded.map(({ id, deadline }) => ({ id, deadline })) },
      { waitMs: OUTCOMES_WAIT_MS });
  }
  if (later !== null) setTimeout(settleCutOff, later - Date.now());
}

// What became of one noted offer: `taken` true, false, null (the agent was
// asked and never answered, or its host was stopped first) or undefined (no
// record: the agent was never asked). One whose "timed-out" was listed
// stays listed so unless the agent took it, or may have.
async function settle(note, taken) {
  const entry = { key: note.key ?? `o:${note.id}`, name: note.name, url: note.url, at: Date.now() };
  if (taken === true) {
    const removed = await removeBrowserCopy(note);
    await recentOf(note).note({ ...entry, where: removed ? Where.MANAGER : Where.BOTH, reason: 'taken-cut-off' });
    if (!removed) await showButton({ twice: note.name });
  } else if (taken === null) {
    await recentOf(note).note({ ...entry, where: Where.MAYBE_BOTH, reason: 'maybe-taken' });
    await showButton({ maybeTwice: note.name });
  } else if (note.answered !== true) {
    await recentOf(note).note({ ...entry, where: Where.BROWSER, reason: 'cut-off' });
  }
}

// The browser's copy of the download, cancelled or deleted, and gone from
// its list; false when there is none to be found. Chromium's is the
// download itself; Firefox saved the response it had held as a download of
// another id: the latest of its URL since the offer's hold began.
async function removeBrowserCopy(note) {
  let item;
  if (note.downloadId !== null && note.downloadId !== undefined) {
    [item] = await api.downloads.search({ id: note.downloadId });
  } else {
    const since = note.deadline - HOLD_MS - 1000;
    item = (await api.downloads.search({ url: note.url }))
      .filter((found) => !found.byExtensionId && Date.parse(found.startTime) >= since)
      .sort((a, b) => Date.parse(b.startTime) - Date.parse(a.startTime))[0];
  }
  if (item === undefined) return false;
  try {
    if (item.state === 'in_progress') await api.downloads.cancel(item.id);
    else if (item.state === 'complete' && item.exists !== false) await api.downloads.removeFile(item.id);
    await api.downloads.erase({ id: item.id });
    return true;
  } catch (error) {
    console.error('WebCorvane: the browser\'s copy of', note.url, error);
    return false;
  }
}
