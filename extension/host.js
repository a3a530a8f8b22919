// The native messaging host: one port for as long as it stays up (a port
// that dropped is opened again by the next message), the answers waited for,
// and the answers that come after the wait.
//
// Offers go to the host one at a time, in the order they were made: each is
// sent once the one before has its answer or was given up. A worker stopped
// meanwhile thus leaves at most one offer with the host; the rest were never
// sent, and the browser, which lets every held download go when the worker
// stops, keeps them. The one left, the next worker settles with the host
// (outcomes.js).
import { remember } from './bounded_map.js';
import { showButton, showOffered, showOffering } from './button.js';
import { HOST_NAME, fitsHost, readReply } from './offer.js';
import { inOrder } from './queue.js';

const api = globalThis.browser ?? globalThis.chrome;

// `inTurn(work)`: `work()` once every offer before it has ended.
export const inTurn = inOrder();

// Ids of the messages that are no download's offer (sent links, settings,
// outcomes): negative, so that they never meet a download's on the port.
let lastId = 0;
export const nextId = () => (lastId -= 1);

let port = null;
const waiting = new Map(); // message id -> function taking the reply or null
// Called when the manager takes an offer after its answer said otherwise.
const takenLate = new Map(); // message id -> function
const KEEP_LATE = 32;

const gaveUp = (reason) => ({ taken: false, reason });

// The host's reply to `message`, or null when the port failed or no reply
// came within `waitMs`. `late()` is called if the manager takes it after
// all, when the reply said otherwise: from the moment the wait ends, so that
// a late frame arriving right behind the reply finds it.
export function ask(message, { waitMs = message.deadline - Date.now(), late } = {}) {
  return new Promise((resolve) => {
    const timer = setTimeout(() => settle(message.id, null), waitMs);
    waiting.set(message.id, (reply) => {
      clearTimeout(timer);
      if (late !== undefined && reply?.taken !== true) remember(takenLate, message.id, late, KEEP_LATE);
      resolve(reply);
    });
    try {
      if (port === null) port = connect();
      port.postMessage(message);
    } catch (error) {
      hostGone(port, error.message);
    }
  });
}

function settle(id, reply) {
  const resolve = waiting.get(id);
  waiting.delete(id);
  resolve?.(reply);
}

function connect() {
  const opened = api.runtime.connectNative(HOST_NAME);
  opened.onMessage.addListener((message) => {
    if (message?.settings !== undefined || message?.outcomes !== undefined || message?.forgotten !== undefined) {
      return settle(message.id, message);
    }
    const answer = readReply(message, message?.id);
    if (answer === null) return;
    if (waiting.has(message.id)) {
      settle(message.id, answer);
      showButton(answer);
    } else if (answer.taken) {
      takenLate.get(message.id)?.();
      takenLate.delete(message.id);
    }
  });
  opened.onDisconnect.addListener((gone) =>
    hostGone(gone, api.runtime.lastError?.message ?? gone.error?.message ?? 'the host ended'));
  return opened;
}

function hostGone(gone, why) {
  if (gone !== port) return;
  port = null;
  for (const id of [...waiting.keys()]) settle(id, null);
  showButton({ dropped: why });
}

// Why a message had no answer: its port failed (and was dropped), or the
// host did not answer in time, which says nothing of the host's install.
export const noAnswer = () => (port === null ? 'host-missing' : 'timed-out');

// While a download's offer may still be with the host or the agent, a note
// of it is kept under OFFER + its id ({id, deadline, name, url, key: its
// entry in the list, downloadId: Chromium's download, null for Firefox's
// response, incognito: a private window's, answered: true once this worker
// listed its entry}): a download the browser hands over again is not offered
// twice, and a worker started again asks the host how each noted offer ended
// (outcomes.js). The note goes once the answer is final; an offer that timed
// out or had no answer may still be taken by the agent, and keeps its note
// until a late "taken", or the next worker's question.
export const OFFER = 'offer:';
const OFFERING_SHOWN_AFTER_MS = 1000;

// How many downloads may wait for their turn at once. The host answers a
// warm offer in about 100 ms and one that starts the agent in about 1.2 s,
// and starts none with less than 3 s of the 12 s hold left: sixteen in turn
// take about 1.2 + 15 × 0.1 = 2.7 s, which leaves the last well over its 3 s.
// A page that starts more at once (a flood) would only have the rest held
// their whole 12 s and kept anyway; they are kept at once instead.
export const MAX_WAITING_OFFERS = 16;
let waitingOffers = 0;

// The host's answer to the offer of a download ({taken, reason, detail}), or
// null for a download offered before. `late(name)` is called if the manager
// takes it after the answer said otherwise. `note` is what the note of the
// offer keeps besides the message's own ({key, downloadId, incognito}).
export function offer(message, late, note = {}) {
  if (!fitsHost(message)) return Promise.resolve(gaveUp('bad-message'));
  if (waitingOffers >= MAX_WAITING_OFFERS) return Promise.resolve(gaveUp('queue-full'));
  waitingOffers += 1;
  const shown = setTimeout(() => showOffering(message.id, message.filename || message.url), OFFERING_SHOWN_AFTER_MS);
  return inTurn(() => offerInTurn(message, late, note)).finally(() => {
    waitingOffers -= 1;
    clearTimeout(shown);
    showOffered(message.id);
  });
}

async function offerInTurn(message, late, note) {
  const key = OFFER + message.id;
  if (Date.now() >= message.deadline) return gaveUp('timed-out');
  if ((await api.storage.session.get(key))[key] !== undefined) return null;
  const name = message.filename || message.url;
  const noted = { key: null, downloadId: null, incognito: false, ...note, id: message.id, deadline: message.deadline, name,
                  url: message.url };
  await api.storage.session.set({ [key]: noted });
  let answer = null;
  try {
    answer = await ask(message, { late: () => {
      api.storage.session.remove(key);
      late(name);
    } });
  } finally {
    // Ended for good: taken, or kept for a reason the agent gave or that
    // never reached the agent. Otherwise (timed out, no answer) its entry is
    // listed by this worker: only the agent's taking it changes that.
    if (answer?.taken || (answer !== null && answer.reason !== 'timed-out')) await api.storage.session.remove(key);
    else await api.storage.session.set({ [key]: { ...noted, answered: true } });
  }
  return answer ?? gaveUp(noAnswer());
}
