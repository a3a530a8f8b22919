// The user's settings for the hand-off in this browser profile. They follow
// the profile through storage.sync where the browser has it, else they stay
// in storage.local. Whatever is read is checked first: storage.sync can be
// written by the same extension on another device, of another version, and
// by hand. None of this touches the download manager's own settings
// (UserConfig.ini), which the host reads.
import { covers } from './url_rules.js';

export const DEFAULTS = Object.freeze({
  paused: false,
  skippedSites: Object.freeze([]), // host names; a site covers its subdomains
  minimumSizeBytes: 0, // 0: off
  bypassKey: 'alt',
});

// The key that, held down on a link's click, keeps that download in the
// browser; 'none' turns the bypass off.
export const BYPASS_KEYS = Object.freeze(['alt', 'shift', 'ctrl', 'none']);

// storage.sync holds at most 8 KB per item: this many sites of a usual
// length fit well below it.
export const MAX_SITES = 200;
// Anything larger is no minimum a user meant (1 TiB).
export const MAX_MINIMUM_BYTES = 2 ** 40;

const LABEL = /^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$/;

// The host name a user's entry names, lower case and in its ASCII form
// ('Bücher.example' -> 'xn--bcher-kva.example'), or null when it names none.
// A whole URL may be pasted; a leading '*.' is what many write for "this
// site and its subdomains", which every site is here.
export function siteOfInput(text) {
  if (typeof text !== 'string') return null;
  let entry = text.trim().replace(/^\*\./, '');
  if (entry === '' || entry.length > 2048) return null;
  if (!/^[a-z][a-z0-9+.-]*:\/\//i.test(entry)) {
    if (/[/?#@:\\\s]/.test(entry)) return null; // a host name alone, or a whole URL
    entry = `http://${entry}`;
  }
  let host;
  try {
    host = new URL(entry).hostname;
  } catch {
    return null;
  }
  host = host.replace(/\.$/, '');
  if (host.length === 0 || host.length > 253) return null;
  if (/^\[[0-9a-f:.]+\]$/.test(host)) return host;
  return host.split('.').every((label) => LABEL.test(label)) ? host : null;
}

// The sites of `sites` that cover `host`.
export const sitesCovering = (sites, host) => sites.filter((site) => covers(site, host));

// The site a tab's host stands for when the user skips it from the popup:
// the host without its 'www.', the site's usual front door, so that its
// other hosts are skipped as well.
export const siteOfTab = (host) => siteOfInput(host.replace(/^www\./, ''));

// The list with `site` added (once, at the end), or without every site that
// covers `host`: a switch that is on for a host must be able to turn off.
export const withSite = (sites, site) => (site === null || sites.includes(site) ? sites
  : [...sites, site].slice(0, MAX_SITES));
export const withoutHost = (sites, host) => sites.filter((site) => !covers(site, host));

// The settings as stored (any object, as read), each one checked and
// anything unusable replaced by its default.
export function readSettings(stored) {
  const from = stored !== null && typeof stored === 'object' ? stored : {};
  const sites = Array.isArray(from.skippedSites) ? from.skippedSites.slice(0, 4 * MAX_SITES) : [];
  const minimum = from.minimumSizeBytes;
  return {
    paused: from.paused === true,
    skippedSites: [...new Set(sites.map(siteOfInput).filter((site) => site !== null))].slice(0, MAX_SITES),
    minimumSizeBytes: Number.isSafeInteger(minimum) && minimum > 0 && minimum <= MAX_MINIMUM_BYTES ? minimum : 0,
    bypassKey: BYPASS_KEYS.includes(from.bypassKey) ? from.bypassKey : DEFAULTS.bypassKey,
  };
}

// Where the settings are kept, and what they are: storage.sync, unless this
// browser has none or it cannot be read (sync turned off by a policy, say).
// One read: the pages show what it gives as soon as they open.
export async function openSettings(storage) {
  if (storage.sync !== undefined) {
    try {
      return { area: storage.sync, settings: readSettings(await storage.sync.get(Object.keys(DEFAULTS))) };
    } catch {
      // read them from local
    }
  }
  return { area: storage.local, settings: await loadSettings(storage.local) };
}

export async function loadSettings(area) {
  return readSettings(await area.get(Object.keys(DEFAULTS)));
}
