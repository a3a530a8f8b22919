// The user's settings for the hand-off in this browser profile. They follow
// the profile through storage.sync where the browser has it, else they stay
// in storage.local. Whatever is read is checked first: storage.sync can be
// written by the same extension on another device, of another version, and
// by hand. None of this touches the download manager's own settings
// (UserConfig.ini), which the host reads.
import { covers, parseUrl } from './url_rules.js';

export const DEFAULTS = Object.freeze({
  paused: false,
  skippedSites: Object.freeze([]), // host names; a site covers its subdomains
  minimumSizeBytes: 0, // 0: off
  bypassKey: 'alt',
});

// The key that, held down on a link's click, keeps that download in the
// browser; 'none' turns the bypass off.
export const BYPASS_KEYS = Object.freeze(['alt', 'shift', 'ctrl', 'none']);

// The manifest's keyboard command that pauses and resumes the hand-off.
export const PAUSE_COMMAND = 'pause-resume';

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
  const host = parseUrl(entry)?.hostname.replace(/\.$/, '');
  if (!host || host.length > 253) return null;
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

// The settings an organization set (storage.managed: Chrome and Edge from
// their 3rdparty policy, checked against managed_schema.json; Firefox from
// its 3rdparty policy, unchecked): each one that is usable, as the user's
// would be read. An empty list or a minimum of 0 is a setting too: none,
// and the user cannot add one.
export function readManaged(stored) {
  const from = stored !== null && typeof stored === 'object' ? stored : {};
  const read = readSettings(from);
  const managed = {};
  if (typeof from.paused === 'boolean') managed.paused = read.paused;
  if (Array.isArray(from.skippedSites)) managed.skippedSites = read.skippedSites;
  if (Number.isSafeInteger(from.minimumSizeBytes) && from.minimumSizeBytes >= 0 &&
      from.minimumSizeBytes <= MAX_MINIMUM_BYTES) managed.minimumSizeBytes = read.minimumSizeBytes;
  if (BYPASS_KEYS.includes(from.bypassKey)) managed.bypassKey = read.bypassKey;
  return managed;
}

// The settings the extension follows: the user's, each one an organization
// set replaced by its value; `managed` names those.
export const withManaged = (own, managed) => ({ ...own, ...managed, managed: Object.keys(managed) });

// What the pause command changes in the user's own settings, given those
// the extension follows: the pause turned over, or nothing while an
// organization sets it (the browser still delivers the command).
export const pauseCommanded = (followed) => (followed.managed.includes('paused') ? null
  : { paused: !followed.paused });

// The user's own area -> the browser's managed storage, for loadSettings.
const managedAreas = new WeakMap();

// Where the user's settings are kept, and what the extension follows:
// storage.sync, unless this browser has none or it cannot be read (sync
// turned off by a policy, say), with what an organization set over them.
// One read of each: the pages show what they give as soon as they open.
export async function openSettings(storage) {
  const managed = loadManagedFrom(storage.managed);
  let area = storage.local;
  let own;
  if (storage.sync !== undefined) {
    try {
      own = readSettings(await storage.sync.get(Object.keys(DEFAULTS)));
      area = storage.sync;
    } catch {
      // read them from local
    }
  }
  own ??= await loadOwnSettings(area);
  if (storage.managed !== undefined) managedAreas.set(area, storage.managed);
  return { area, settings: withManaged(own, await managed) };
}

// The settings the extension follows, of the user's `area` as openSettings
// gave it.
export async function loadSettings(area) {
  const [own, managed] = await Promise.all([loadOwnSettings(area), loadManagedFrom(managedAreas.get(area))]);
  return withManaged(own, managed);
}

// The user's own, to change: never what an organization set.
export async function loadOwnSettings(area) {
  return readSettings(await area.get(Object.keys(DEFAULTS)));
}

// Firefox answers an error where no policy sets anything; Chromium an empty
// object.
async function loadManagedFrom(managedArea) {
  if (managedArea === undefined) return {};
  try {
    return readManaged(await managedArea.get(Object.keys(DEFAULTS)));
  } catch {
    return {};
  }
}
