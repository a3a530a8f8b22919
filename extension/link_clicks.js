// Tells the extension which link each click lands on, so that the download it
// starts carries the link's text, and which modifier keys were held down (the
// user's bypass key keeps the download in the browser). In the capture
// phase, so that a page that stops the click's propagation still lets us see
// it; through the event's path, so that a link inside a shadow root is found
// too. Only the user's own clicks: a page's script can click any link it
// likes.
//
// For "Download with WebCorvane", answers the background with the link the
// user opened the menu on and the links of this frame's selection.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const linkOf = (event) => event.composedPath().find(
    (node) => (node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement) && node.href !== '');
  const tell = (event) => {
    if (!event.isTrusted) return;
    const link = linkOf(event);
    if (link === undefined) return;
    try {
      const keys = { alt: event.altKey, shift: event.shiftKey, ctrl: event.ctrlKey };
      api.runtime.sendMessage({ type: 'link-click', url: link.href, text: link.innerText ?? '', keys })
        .catch(() => {});
    } catch {
      // The extension was updated or removed under this page: nothing to tell.
    }
  };
  addEventListener('click', tell, true);
  addEventListener('auxclick', tell, true);

  // The background bounds and checks again what comes from here; these
  // bounds only keep a page from making the answer huge.
  const MAX_LINKS = 1000;
  const MAX_URL = 8 * 1024;
  const MAX_TEXT = 1024;
  const described = (link) => ({ url: link.href, text: (link.innerText ?? '').slice(0, MAX_TEXT) });

  let menuLink = null;
  addEventListener('contextmenu', (event) => {
    if (!event.isTrusted) return;
    const link = linkOf(event);
    menuLink = link === undefined ? null : described(link);
  }, true);

  // The http(s) links the selection touches, in page order, once each, that
  // the user can see: a page may hide links among the ones selected.
  const selectedLinks = () => {
    const selection = getSelection();
    if (selection === null || selection.isCollapsed) return [];
    const seen = new Set();
    const links = [];
    for (const link of document.querySelectorAll('a[href], area[href]')) {
      if (links.length >= MAX_LINKS) break;
      const url = link.href;
      if (typeof url !== 'string' || !/^https?:\/\//i.test(url) || url.length > MAX_URL || seen.has(url)) continue;
      if (!selection.containsNode(link, true)) continue;
      if (link instanceof HTMLAnchorElement && link.checkVisibility?.({ visibilityProperty: true }) === false) continue;
      seen.add(url);
      links.push(described(link));
    }
    return links;
  };

  api.runtime.onMessage.addListener((message, sender, sendResponse) => {
    if (message?.type !== 'menu-links' || sender.id !== api.runtime.id) return undefined;
    sendResponse({ link: menuLink, selection: selectedLinks() });
    return undefined;
  });
})();
