// What the extension keeps of private windows (where the user let it run
// there) lasts only as long as they do: once the last one closed, the
// private list of downloads and the private pages' referrer policies are
// removed from storage.session, which would otherwise keep them while the
// browser runs. Checked again as the worker starts, in case the last window
// closed while no worker ran.
import { forgetClosedTabs } from './page_policies.js';
import { recentLog } from './recent.js';

const api = globalThis.browser ?? globalThis.chrome;

// windows.onRemoved.
export async function forgetEndedPrivateSession() {
  try {
    if ((await api.windows.getAll()).some((window) => window.incognito)) return;
    await Promise.all([recentLog(api.storage.session, true).forget(), forgetClosedTabs()]);
  } catch (error) {
    console.error('WebCorvane: forgetting the private windows:', error);
  }
}
