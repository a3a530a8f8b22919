// The native messaging host: one port for as long as it stays up (a port
// that dropped is opened again by the next message), the answers waited for,
// and the answers that come after the wait.
//
// Offers go to the host one at a time, in the order they were made: each is
// sent once the one before has its answer or was given up. A worker stopped
// meanwhile thus leaves at most one offer with the host; the rest were never
// sent, and the browser, which lets every held download go when the worker
// stops, keeps them.
import { remember } from './bounded_map.js';
import { showButton, showOffered, showOffering } from './button.js';
import { HOST_NAME, fitsHost, readReply } from './offer.js';
import { inOrder } from './queue.js';

const api = globalThis.browser ?? globalThis.chrome;

// `inTurn(work)`: `work()` once every offer before it has ended.
export const inTurn = inOrder();

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
    if (message?.settings !== undefined) return settle(message.id, message);
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

// While a download's offer is with the host its key holds the download's
// name: a worker started again finds it there when the browser lets the
// download go (letGo), and a download the browser hands over again is not
// offered twice.
const OFFER = 'offer:';
const OFFERING_SHOWN_AFTER_MS = 1000;

// The host's answer to the offer of a download ({taken, reason, detail}), or
// null for a download offered before. `late(name)` is called if the manager
// takes it after the answer said otherwise.
export function offer(message, late) {
  if (!fitsHost(message)) return Promise.resolve(gaveUp('bad-message'));
  const shown = setTimeout(() => showOffering(message.id, message.filename || message.url), OFFERING_SHOWN_AFTER_MS);
  return inTurn(() => offerInTurn(message, late)).finally(() => {
    clearTimeout(shown);
    showOffered(message.id);
  });
}

async function offerInTurn(message, late) {
  const key = OFFER + message.id;
  if (Date.now() >= message.deadline) return gaveUp('timed-out');
  if ((await api.storage.session.get(key))[key] !== undefined) return null;
  const name = message.filename || message.url;
  await api.storage.session.set({ [key]: name });
  let answer = null;
  try {
    answer = await ask(message, { late: () => late(name) });
  } finally {
    await api.storage.session.remove(key);
  }
  // No answer: the port failed (and was dropped), or the hold ran out.
  return answer ?? gaveUp(port === null ? 'host-missing' : 'timed-out');
}

// The offers a stopped worker left with the host (id -> name), read once as
// this one starts, so that the end of a download costs no read of storage.
const cutOff = api.storage.session.get(null).then((stored) => new Map(Object.entries(stored)
  .filter(([key]) => key.startsWith(OFFER)).map(([key, name]) => [Number(key.slice(OFFER.length)), name])))
  .catch(() => new Map());

// downloads.onChanged (Chromium): a download the browser let go while its
// offer was with the host. The worker was stopped, and the host's answer
// went with it: the download may be in two places.
export async function letGo(delta) {
  if (delta.state === undefined || delta.state.current === 'in_progress' || waiting.has(delta.id)) return;
  const offers = await cutOff;
  const name = offers.get(delta.id);
  if (name === undefined) return;
  offers.delete(delta.id);
  await api.storage.session.remove(OFFER + delta.id);
  showButton({ maybeTwice: name });
}
