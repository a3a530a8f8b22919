// Keeps the link the user last clicked in this frame, and which modifier
// keys were held down, for the download that click may start: the background
// asks for it only when it holds a download (the link's text goes to the
// manager, the user's bypass key keeps the download in the browser). A click
// on a link costs nothing more: no message, no layout (the text is read when
// asked). In the capture phase, so that a page that stops the click's
// propagation still lets us see it; through the event's path, so that a link
// inside a shadow root is found too. Only the user's own clicks: a page's
// script can click any link it likes.
//
// For "Download with WebCorvane", answers the background with the link the
// user opened the menu on and the links of this frame's selection.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const linkOf = (event) => event.composedPath().find(
    (node) => (node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement) && node.href !== '');
  const withoutFragment = (url) => url.split('#', 1)[0];

  let lastClick = null; // {link, url, keys, at}
  const note = (event) => {
    if (!event.isTrusted) return;
    const link = linkOf(event);
    if (link === undefined) return;
    const keys = { alt: event.altKey, shift: event.shiftKey, ctrl: event.ctrlKey };
    lastClick = { link, url: link.href, keys, at: Date.now() };
    // Firefox does nothing with a link clicked with Alt held down, where
    // Chromium saves it: the background saves it there when Alt is the
    // user's bypass key, as the user meant.
    if (!event.altKey || !api.runtime.getURL('').startsWith('moz-extension:')) return;
    try {
      api.runtime.sendMessage({ type: 'link-click', url: lastClick.url, text: '', keys }).catch(() => {});
    } catch {
      // The extension was updated or removed under this page: nothing to tell.
    }
  };
  addEventListener('click', note, true);
  addEventListener('auxclick', note, true);

  // The background bounds and checks again what comes from here; the bounds
  // it sends with each question ({maxLinks, maxUrl, maxText}) only keep a
  // page from making the answer huge.
  const described = (link, { maxText }) => ({ url: link.href, text: (link.innerText ?? '').slice(0, maxText) });

  // Its text is read when asked, as the last click's is.
  let menuLink = null;
  addEventListener('contextmenu', (event) => {
    if (event.isTrusted) menuLink = linkOf(event) ?? null;
  }, true);

  // The http(s) links the selection touches, in page order, once each, that
  // the user can see: a page may hide links among the ones selected.
  const selectedLinks = (bounds) => {
    const selection = getSelection();
    if (selection === null || selection.isCollapsed) return [];
    const seen = new Set();
    const links = [];
    for (const link of document.querySelectorAll('a[href], area[href]')) {
      if (links.length >= bounds.maxLinks) break;
      const url = link.href;
      const sendable = typeof url === 'string' && /^https?:\/\//i.test(url) && url.length <= bounds.maxUrl;
      if (!sendable || seen.has(url)) continue;
      if (!selection.containsNode(link, true)) continue;
      if (link instanceof HTMLAnchorElement && link.checkVisibility?.({ visibilityProperty: true }) === false) continue;
      seen.add(url);
      links.push(described(link, bounds));
    }
    return links;
  };

  // The last click, when made on one of `urls` at `since` or later; no
  // answer otherwise, so that the frame of the tab that made it answers.
  const lastClickOn = ({ urls, since, ...bounds }) => {
    if (lastClick === null || lastClick.at < since || !urls.includes(withoutFragment(lastClick.url))) return null;
    const { link, url, keys, at } = lastClick;
    return { type: 'link-click', url, text: described(link, bounds).text, keys, at };
  };

  api.runtime.onMessage.addListener((message, sender, sendResponse) => {
    if (sender.id !== api.runtime.id) return undefined;
    if (message?.type === 'menu-links') {
      sendResponse({ link: menuLink && described(menuLink, message), selection: selectedLinks(message) });
    } else if (message?.type === 'last-click' && Array.isArray(message.urls)) {
      const click = lastClickOn({ ...message, since: Number(message.since) });
      if (click !== null) sendResponse(click);
    }
    return undefined;
  });
})();
