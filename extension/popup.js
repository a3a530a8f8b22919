// The toolbar popup: the hand-off's state, the pause, the current tab's site,
// and the last downloads with where each went and why, as the background
// keeps them (storage.session) and the user or an organization set them
// (settings.js). A private window's popup lists the private windows'
// downloads, and only there are they listed. It decides nothing: a download
// it sends on is the background's to offer.
import { PROBLEM_KEY as PROBLEM } from './button_rules.js';
import { PRIVATE_RECENT_KEY, RECENT_KEY, Where, listKey } from './recent.js';
import { MAX_SITES, loadOwnSettings, loadSettings, openSettings, siteOfTab, sitesCovering, withSite,
         withoutHost } from './settings.js';
import { hostOf } from './url_rules.js';
import { language, localize, markManaged, reasonText, whereText, word } from './words.js';

const api = globalThis.browser ?? globalThis.chrome;
const $ = (id) => document.getElementById(id);

// All the popup shows is asked for at once, before anything else.
const opened = openSettings(api.storage);
const place = opened.then(({ area }) => area);
// Both lists are read at once, beside the current tab, whose window says
// which one is shown.
const currentTab = api.tabs.query({ active: true, currentWindow: true }).then(([tab]) => tab, () => undefined);
const incognito = currentTab.then((tab) => tab?.incognito === true);
const recentKey = incognito.then(listKey);
const readSession = () => api.storage.session.get([RECENT_KEY, PRIVATE_RECENT_KEY, PROBLEM]);
const stored = readSession();
const tabHostAsked = currentTabHost();

localize();
const said = new Map(); // entry key -> what its send answered, while the popup is open
let tabHost = '';

const clock = new Intl.DateTimeFormat(language, { hour: 'numeric', minute: '2-digit' });
const dated = new Intl.DateTimeFormat(language, { dateStyle: 'short', timeStyle: 'short' });
const when = (at) => (new Date(at).toDateString() === new Date().toDateString() ? clock : dated).format(at);

// The state in one line, and the fix for a problem in the installation
// check's words.
function showState(paused, problem) {
  const [state, fix] = paused ? ['status_paused']
    : problem?.what === 'host' ? ['status_host_missing', 'fix_host_missing']
      : problem?.what === 'agent' ? ['status_agent_unreachable', 'fix_agent_unreachable'] : ['status_working'];
  $('state').textContent = word(state);
  $('state').title = fix === undefined ? '' : String(problem.detail ?? '');
  $('fix').hidden = fix === undefined;
  $('fix').textContent = fix === undefined ? '' : word(fix);
}

const isEntry = (e) => e !== null && typeof e === 'object' && typeof e.key === 'string' &&
  typeof e.name === 'string' && Object.values(Where).includes(e.where) && Number.isFinite(e.at);

function showRecent(list) {
  const entries = Array.isArray(list) ? list.filter(isEntry) : [];
  const items = entries.map((entry) => {
    const item = $('entry').content.firstElementChild.cloneNode(true);
    item.querySelector('.name').textContent = entry.name;
    item.querySelector('.name').title = typeof entry.url === 'string' ? entry.url : '';
    item.querySelector('.where').textContent = whereText(entry.where);
    item.classList.add(`where-${entry.where}`);
    const time = item.querySelector('time');
    time.dateTime = new Date(entry.at).toISOString();
    time.textContent = when(entry.at);
    item.querySelector('.why').textContent = reasonText(entry.reason);
    // The send's answer stays once the entry says both places.
    const button = item.querySelector('.send button');
    button.hidden = !(entry.where === Where.BROWSER && entry.sendable === true);
    button.title = word('popup_send_title', entry.name);
    button.addEventListener('click', () => send(entry.key));
    item.querySelector('.said').textContent = said.get(entry.key) ?? '';
    item.querySelector('.send').hidden = button.hidden && !said.has(entry.key);
    // What the button's "2" or "2?" means for this download, until dismissed;
    // one the user sent on is in both places as the user asked.
    const twice = item.querySelector('.twice');
    const warned = entry.where === Where.MAYBE_BOTH || (entry.where === Where.BOTH && entry.reason !== 'taken');
    twice.hidden = !warned || entry.dismissed === true;
    if (!twice.hidden) {
      twice.querySelector('.explain').textContent = word(entry.where === Where.BOTH ? 'popup_explain_both'
        : 'popup_explain_maybe_both');
      const dismiss = twice.querySelector('.dismiss');
      dismiss.title = word('popup_dismiss_title', entry.name);
      dismiss.addEventListener('click', async () => api.runtime.sendMessage(
        { type: 'dismiss', key: entry.key, incognito: await incognito }).catch(() => {}));
    }
    return item;
  });
  $('recent').replaceChildren(...items);
  $('empty').hidden = items.length > 0;
}

// Offers a download the browser kept to the manager, past its type list:
// the background sends it as the browser fetched it, and notes the answer
// in the list. The browser's copy stays.
async function send(key) {
  said.set(key, word('popup_sending'));
  await showSession();
  let answer;
  try {
    answer = await api.runtime.sendMessage({ type: 'send-to-manager', key, incognito: await incognito });
  } catch {
    answer = undefined;
  }
  said.set(key, answer === undefined || answer === null ? word('no_answer')
    : answer.taken === true ? word('popup_sent') : word('popup_not_sent', reasonText(answer.reason)));
  await showSession();
}

async function showSession(session = readSession(), settingsRead = place.then(loadSettings)) {
  const [kept, settings, key] = await Promise.all([session, settingsRead, recentKey]);
  showRecent(kept[key]);
  showState(settings.paused, kept[PROBLEM] ?? null);
  return settings;
}

function showSettings(settings) {
  markManaged(settings.managed);
  $('paused').checked = settings.paused;
  $('skip-site').disabled = tabHost === '' || settings.managed.includes('skippedSites');
  $('skip-site').checked = tabHost !== '' && sitesCovering(settings.skippedSites, tabHost).length > 0;
  $('skip-site-label').textContent = tabHost === '' ? word('popup_no_site') : word('popup_site', tabHost);
}

// Each change is made on the settings as stored at that moment, so that one
// made meanwhile in the options page is kept.
async function change(update) {
  try {
    const area = await place;
    await area.set(update(await loadOwnSettings(area)));
    $('error').hidden = true;
  } catch (error) {
    $('error').textContent = word('options_not_saved', error.message);
    $('error').hidden = false;
    showSettings(await loadSettings(await place));
  }
}

async function currentTabHost() {
  try {
    return hostOf((await currentTab)?.url);
  } catch {
    return '';
  }
}

$('paused').addEventListener('change', (event) => change(() => ({ paused: event.target.checked })));
$('skip-site').addEventListener('change', (event) => change(({ skippedSites }) => {
  if (!event.target.checked) return { skippedSites: withoutHost(skippedSites, tabHost) };
  if (skippedSites.length >= MAX_SITES) throw new Error(word('options_sites_full', String(MAX_SITES)));
  return { skippedSites: withSite(skippedSites, siteOfTab(tabHost)) };
}));
$('options').addEventListener('click', () => api.runtime.openOptionsPage());
api.storage.onChanged.addListener(() => showSession().then(showSettings));

const settings = await showSession(stored, opened.then((open) => open.settings));
// When the list was first shown, for the time to it from the popup's opening.
performance.mark('recent-shown');
tabHost = await tabHostAsked;
showSettings(settings);
