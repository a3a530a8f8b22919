// The Referer a browser sends when a page follows one of its links, under
// the Referrer Policy the link and its page set: the link's rel=noreferrer,
// else its referrerpolicy attribute, else the page's policy (a <meta
// name=referrer>, else its Referrer-Policy header), else the browsers'
// default. No browser API here: the rules run under Node's test runner.
import { parseUrl } from './url_rules.js';

export const DEFAULT_POLICY = 'strict-origin-when-cross-origin';

const POLICIES = new Set(['no-referrer', 'no-referrer-when-downgrade', 'same-origin', 'origin', 'strict-origin',
  'origin-when-cross-origin', DEFAULT_POLICY, 'unsafe-url']);

// What <meta name=referrer> still says in the words of its first drafts.
const LEGACY_META = new Map([['never', 'no-referrer'], ['default', DEFAULT_POLICY], ['always', 'unsafe-url'],
  ['origin-when-crossorigin', 'origin-when-cross-origin']]);

// Both browsers send the origin alone in place of a longer URL.
const MAX_REFERRER_CHARS = 4096;

const policyOf = (token) => (typeof token === 'string' && POLICIES.has(token.trim().toLowerCase())
  ? token.trim().toLowerCase() : '');

// A Referrer-Policy header's policy: its last token the browser knows (so
// that a site can name a new one with a fallback before it), '' for none.
export const headerPolicy = (value) => (typeof value === 'string'
  ? value.split(',').map(policyOf).filter((policy) => policy !== '').pop() ?? '' : '');

// The policy the page's <meta name=referrer> elements set, in document order
// (their content attributes): the last one that names a policy.
export function metaPolicy(contents) {
  let policy = '';
  for (const content of Array.isArray(contents) ? contents : []) {
    const named = typeof content === 'string' ? content.trim().toLowerCase() : '';
    policy = LEGACY_META.get(named) ?? (policyOf(named) || policy);
  }
  return policy;
}

// The policy a link's navigation goes with. `link`: {noreferrer, policy
// (its referrerpolicy attribute)}, null when the page could not say.
export function linkPolicy(link, pageMeta, pageHeader) {
  if (link?.noreferrer === true) return 'no-referrer';
  return policyOf(link?.policy) || metaPolicy(pageMeta) || headerPolicy(pageHeader) || DEFAULT_POLICY;
}

// https, and the loopback hosts, whatever their scheme.
function trustworthy(url) {
  if (url.protocol === 'https:') return true;
  const host = url.hostname;
  return host === 'localhost' || host.endsWith('.localhost') || host === '[::1]' || /^127(\.\d+){3}$/.test(host);
}

// The Referer `page` sends to `target` under `policy`: '' for none. Only an
// http(s) page sends one, never with its credentials or fragment.
export function referrerFor(page, target, policy = DEFAULT_POLICY) {
  const from = parseUrl(page);
  const to = parseUrl(target);
  if (from === null || to === null || !/^https?:$/.test(from.protocol)) return '';
  const origin = `${from.origin}/`;
  from.username = '';
  from.password = '';
  from.hash = '';
  const whole = from.href.length > MAX_REFERRER_CHARS ? origin : from.href;
  const sameOrigin = from.origin === to.origin;
  const downgrade = trustworthy(from) && !trustworthy(to);
  switch (policyOf(policy) || DEFAULT_POLICY) {
    case 'no-referrer': return '';
    case 'origin': return origin;
    case 'unsafe-url': return whole;
    case 'same-origin': return sameOrigin ? whole : '';
    case 'origin-when-cross-origin': return sameOrigin ? whole : origin;
    case 'strict-origin': return downgrade ? '' : origin;
    case 'no-referrer-when-downgrade': return downgrade ? '' : whole;
    default: return sameOrigin ? whole : downgrade ? '' : origin;
  }
}
