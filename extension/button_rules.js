// What the toolbar button shows: the problem it warns of after each event,
// and its badge. No browser API here: the rules run under Node's test
// runner; button.js applies them.

// Where the problem lives in storage.session, for the popup too.
export const PROBLEM_KEY = 'problem';

// What the toolbar button warns of, after an event: the host's answer
// ({reason, detail}), its port dropping ({dropped: error text}), a download
// in two places ({twice: name}) or perhaps in two places ({maybeTwice: name},
// its offer cut off by a stop of the extension), or the user's dismissal of
// such a warning in the popup ({dismissed: true}). A problem is {what,
// detail} or null when all is well. A download in two places stays on the
// button until the user dismisses it or a failure of the host or the agent,
// which the user must see first, comes.
export function problemAfter(problem, event) {
  if ('dismissed' in event) return problem?.what === 'twice' || problem?.what === 'maybe-twice' ? null : problem;
  if ('dropped' in event) return { what: 'host', detail: event.dropped };
  if ('twice' in event) return { what: 'twice', detail: event.twice };
  if ('maybeTwice' in event) return { what: 'maybe-twice', detail: event.maybeTwice };
  const lasting = problem !== null && (problem.what === 'twice' || problem.what === 'maybe-twice') ? problem : null;
  switch (event.reason) {
    case 'unreachable':
    case 'timed-out':
      return { what: 'agent', detail: event.detail };
    case 'taken':
    case 'declined':
      return lasting;
    default:
      // The host answered, which says nothing about the agent.
      return problem !== null && problem.what !== 'host' ? problem : null;
  }
}

const shown = (name) => (name.length > 80 ? `${name.slice(0, 79)}…` : name);

const OFFERING = '#1565c0';
const WARNING = '#c62828';

// The toolbar's icons of each state, as the build renders them from the one
// drawing (scripts/build_extension.py).
export const toolbarIcon = (state) => Object.fromEntries([16, 32].map((size) => [size, `icons/${state}-${size}.png`]));

// The button: `offering` names the downloads held for more than a moment,
// which it shows while they last; then the problem, if any; then whether the
// hand-off is paused. Its title is a message of _locales and its
// substitutions, worded in the user's language by the caller; its icon the
// state that lasts (normal, paused or problem), so that the badge's
// passing "…" leaves the icon as it was.
export function badgeFor(problem, offering = [], paused = false) {
  const icon = problem !== null ? 'problem' : paused ? 'paused' : 'normal';
  if (offering.length > 0) {
    const title = offering.length === 1 ? ['badge_offering_one', shown(offering[0])]
      : ['badge_offering_many', String(offering.length)];
    return { text: '…', title, color: OFFERING, icon };
  }
  return { ...warning(problem, paused), color: WARNING, icon };
}

function warning(problem, paused) {
  if (problem === null) return { text: '', title: [paused ? 'badge_paused' : 'actionTitle'] };
  switch (problem.what) {
    case 'host':
      return { text: '!', title: ['badge_host', problem.detail] };
    case 'twice':
      return { text: '2', title: ['badge_twice', shown(problem.detail)] };
    case 'maybe-twice':
      return { text: '2?', title: ['badge_maybe_twice', shown(problem.detail)] };
    default:
      return { text: '!', title: ['badge_agent', problem.detail] };
  }
}
