// Offers each download to the WebCorvane download manager through its native
// messaging host, and cancels it in the browser when the manager takes it.
// Chromium holds the download itself; Firefox, which cannot, holds the
// response on its headers (the build for Firefox asks for blocking
// webRequest, Chromium's does not).
//
// This worker only wires the browser's events to the modules that handle
// them: the hold decisions and the requests they read (holds.js), the host
// (host.js), the button (button.js), the user's settings and the pause
// command (followed_settings.js), the links the user sends (send.js) and the
// end of the private windows (private_windows.js). Every listener is registered here at the top level,
// so that a worker started again for an event finds it. What must outlive
// the worker (the offer with the host, the problem on the button, the list of
// recent downloads) lives in storage.session; the user's settings in
// storage.sync (settings.js).
import { showPaused } from './button.js';
import { followCommand, followSettings, followedBy } from './followed_settings.js';
import { altClicked, chromium, holdDownload, holdResponse, nameUnheld, noteUnheld, rememberRequest,
         rememberResponse } from './holds.js';
import { settleCutOff } from './outcomes.js';
import { forgetEndedPrivateSession } from './private_windows.js';
import { createMenu, downloadWith, pageMessage } from './send.js';

const api = globalThis.browser ?? globalThis.chrome;
const pages = { urls: ['http://*/*', 'https://*/*'], types: ['main_frame', 'sub_frame'] };
// Chromium shows a request's Cookie and Referer only when asked for them.
const extraHeaders = Object.values(api.webRequest.OnSendHeadersOptions ?? {}).includes('extraHeaders')
  ? ['extraHeaders'] : [];

if (!chromium) api.runtime.onMessage.addListener(altClicked);
api.storage.onChanged.addListener(followSettings);
api.commands.onCommand.addListener(followCommand);
api.runtime.onMessage.addListener(pageMessage);
api.runtime.onInstalled.addListener(createMenu);
api.contextMenus.onClicked.addListener(downloadWith);
api.downloads.onCreated.addListener(noteUnheld);
api.windows.onRemoved.addListener(forgetEndedPrivateSession);
forgetEndedPrivateSession();
if (chromium) api.downloads.onChanged.addListener(nameUnheld);
// Before any offer of its own: the offers a stopped worker left with the host.
settleCutOff();

// The listeners that watch requests and hold downloads. Paused, the
// extension keeps out of the browser's way: they are removed (followPause),
// so that the browser saves as it would without the extension (a held
// download waits on the worker's answer), and each download is only noted
// as it starts (noteUnheld). They are added here all the same, so that their
// events wake a stopped worker until the settings say otherwise.
const holds = [
  [api.webRequest.onSendHeaders, rememberRequest, pages, ['requestHeaders', ...extraHeaders]],
  ...(chromium ? [[api.webRequest.onHeadersReceived, rememberResponse, pages, ['responseHeaders']],
                  [api.downloads.onDeterminingFilename, holdDownload]]
    : [[api.webRequest.onHeadersReceived, holdResponse, pages, ['blocking', 'responseHeaders']]]),
];
for (const [event, listener, ...options] of holds) event.addListener(listener, ...options);

function followPause(settings) {
  for (const [event, listener, ...options] of holds) {
    if (settings.paused) event.removeListener(listener);
    else if (!event.hasListener(listener)) event.addListener(listener, ...options);
  }
}
followedBy(followPause);
followedBy(showPaused);
