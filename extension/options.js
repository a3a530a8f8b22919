// The options page: the user's settings (settings.js), written as soon as
// they change, those an organization set shown and locked, and the download manager's own settings as its browser host
// reads them, shown read-only: they belong to the download manager.
import { MAX_SITES, PAUSE_COMMAND, loadOwnSettings, loadSettings, openSettings, readSettings, siteOfInput,
         withSite } from './settings.js';
import { localize, markManaged, reasonText, word } from './words.js';

const api = globalThis.browser ?? globalThis.chrome;
const $ = (id) => document.getElementById(id);

localize();
const opened = await openSettings(api.storage);
const { area } = opened;
let { settings } = opened;

function show() {
  $('paused').checked = settings.paused;
  $('bypass').value = settings.bypassKey;
  // What the user is typing stays as typed.
  if (document.activeElement !== $('minimum') && document.activeElement !== $('unit')) {
    const bytes = settings.minimumSizeBytes;
    const unit = bytes > 0 && bytes % 1048576 === 0 ? 1048576 : 1024;
    $('unit').value = String(unit);
    $('minimum').value = String(Math.round((bytes / unit) * 1000) / 1000);
  }
  const items = settings.skippedSites.map((site) => {
    const item = $('site-entry').content.firstElementChild.cloneNode(true);
    item.querySelector('.host').textContent = site;
    const remove = item.querySelector('button');
    remove.setAttribute('aria-label', word('options_site_remove_label', site));
    remove.addEventListener('click', () => save(({ skippedSites }) => ({
      skippedSites: skippedSites.filter((kept) => kept !== site) })));
    return item;
  });
  $('sites').replaceChildren(...items);
  $('no-sites').hidden = items.length > 0;
  markManaged(settings.managed);
}

// Writes what `update` makes of the settings as stored now, as checked on
// reading, so that nothing unusable is ever stored.
async function save(update) {
  try {
    const own = await loadOwnSettings(area);
    const changes = update(own);
    const checked = readSettings({ ...own, ...changes });
    await area.set(Object.fromEntries(Object.keys(changes).map((name) => [name, checked[name]])));
    $('saved').textContent = word('options_saved');
  } catch (error) {
    $('saved').textContent = word('options_not_saved', error.message);
  }
}

$('paused').addEventListener('change', () => save(() => ({ paused: $('paused').checked })));
$('bypass').addEventListener('change', () => save(() => ({ bypassKey: $('bypass').value })));
for (const control of [$('minimum'), $('unit')]) {
  control.addEventListener('change', () => {
    const amount = $('minimum').valueAsNumber;
    if (!(amount >= 0)) return;
    save(() => ({ minimumSizeBytes: Math.round(amount * Number($('unit').value)) }));
  });
}
$('add-site').addEventListener('submit', (event) => {
  event.preventDefault();
  const text = $('site').value;
  const site = siteOfInput(text);
  if (site === null) {
    $('site-error').textContent = word('options_site_invalid', text.trim().slice(0, 100));
    return;
  }
  if (settings.skippedSites.length >= MAX_SITES && !settings.skippedSites.includes(site)) {
    $('site-error').textContent = word('options_sites_full', String(MAX_SITES));
    return;
  }
  $('site-error').textContent = '';
  $('site').value = '';
  save(({ skippedSites }) => ({ skippedSites: withSite(skippedSites, site) }));
});
api.storage.onChanged.addListener(async () => {
  settings = await loadSettings(area);
  show();
});
show();
performance.mark('settings-shown');

// The pause command's keys, which the browser keeps and lets the user change
// on a page of its own: Firefox opens it for an extension, Chromium's is
// opened by its address.
async function showShortcut() {
  const commands = await api.commands.getAll();
  const keys = commands.find((command) => command.name === PAUSE_COMMAND)?.shortcut ?? '';
  $('shortcut').textContent = keys || word('options_shortcut_none');
  const firefox = api.commands.openShortcutSettings !== undefined;
  $('shortcut-how').textContent = firefox ? word('options_shortcut_how_firefox') : word('options_shortcut_how_chromium');
  $('shortcut-change').addEventListener('click', () => (firefox ? api.commands.openShortcutSettings()
    : api.tabs.create({ url: 'chrome://extensions/shortcuts' })));
}
showShortcut();

// The download manager's settings, as the host reads them from its
// UserConfig.ini: {ok, monitorBrowsers, switchOn, extendNames, configFile,
// configFound}, or {ok: false, reason}.
async function showHostSettings() {
  let answer;
  try {
    answer = await api.runtime.sendMessage({ type: 'host-settings' });
  } catch {
    answer = undefined;
  }
  if (answer?.ok !== true) {
    const why = answer === undefined || answer === null ? word('no_answer') : reasonText(answer.reason);
    const fix = answer?.reason === 'host-missing' ? ` ${word('fix_host_missing')}` : '';
    $('host-status').textContent = word('options_host_failed', why) + fix;
    return;
  }
  const value = answer.monitorBrowsers;
  $('switch').textContent = word('options_switch_state',
    answer.switchOn === true ? word('options_switch_on') : word('options_switch_off'),
    typeof value === 'number' ? `MonitorBrowsers=${value}` : word('options_switch_unset'));
  const types = Array.isArray(answer.extendNames) ? answer.extendNames.filter((name) => typeof name === 'string') : [];
  $('types').textContent = types.length > 0 ? types.join(' ') : word('options_types_none');
  const path = String(answer.configFile ?? '');
  $('config').textContent = answer.configFound === true ? path : word('options_config_missing', path);
  $('host-status').hidden = true;
  $('host-settings').hidden = false;
}
showHostSettings();
