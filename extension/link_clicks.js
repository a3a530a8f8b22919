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
// user opened the menu on and the links of this frame's selection; in
// Firefox, says whether a child frame is sandboxed without allow-downloads.
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
    // user's bypass key, as the user meant. Only a plain click of the main
    // button, as Chromium's, and only one the page left to the browser,
    // known once every listener has seen it.
    if (!event.altKey || event.ctrlKey || event.shiftKey || event.metaKey || event.type !== 'click' ||
        event.button !== 0 || !api.runtime.getURL('').startsWith('moz-extension:')) return;
    const click = { type: 'link-click', url: lastClick.url, text: '', keys, ...policyOf(link), meta: metaPolicies() };
    setTimeout(() => {
      if (event.defaultPrevented) return;
      try {
        api.runtime.sendMessage(click).catch(() => {});
      } catch {
        // The extension was updated or removed under this page: nothing to tell.
      }
    });
  };
  addEventListener('click', note, true);
  addEventListener('auxclick', note, true);

  // The background bounds and checks again what comes from here; the bounds
  // it sends with each question ({maxLinks, maxUrl, maxText}) only keep a
  // page from making the answer huge.
  // Cut at a whole character where a pair would be split.
  const cut = (text, max) => text.slice(0, max).replace(/[\ud800-\udbff]$/, '');
  // What the link says of the referrer its page sends with it.
  const policyOf = (link) => ({ noreferrer: link.relList.contains('noreferrer'), policy: link.referrerPolicy });
  const described = (link, { maxText }) => ({ url: link.href, text: cut(link.innerText ?? '', maxText),
                                              ...policyOf(link) });
  // The page's own referrer policies, the last of which holds (Firefox's
  // Alt+click tells them unasked: no bounds come with it).
  const MAX_METAS = 16;
  const metaPolicies = () => [...document.querySelectorAll('meta[name="referrer" i]')].slice(-MAX_METAS)
    .map((meta) => cut(meta.content, 64));

  // The menu's link and the selection's links are taken as the user opens
  // the menu, before the page's own listeners could change the selection;
  // their text is read when asked, as the last click's is.
  let menuLink = null;
  let menuSelection = { links: [], text: '' };
  addEventListener('contextmenu', (event) => {
    if (!event.isTrusted) return;
    menuLink = linkOf(event) ?? null;
    menuSelection = selected();
  }, true);

  // The http(s) links the selection touches, in page order, once each, that
  // the user can see (a page may hide links among the ones selected), and
  // the selection's text, for the background to match with the menu's.
  const selected = () => {
    const selection = getSelection();
    if (selection === null || selection.isCollapsed) return { links: [], text: '' };
    const seen = new Set();
    const links = [];
    for (const link of document.querySelectorAll('a[href], area[href]')) {
      const url = link.href;
      if (typeof url !== 'string' || !/^https?:\/\//i.test(url) || seen.has(url)) continue;
      if (!selection.containsNode(link, true)) continue;
      if (link instanceof HTMLAnchorElement && link.checkVisibility?.({ visibilityProperty: true }) === false) continue;
      seen.add(url);
      links.push(link);
    }
    return { links, text: selection.toString() };
  };
  const selectionWithin = (bounds) => ({
    links: menuSelection.links.filter((link) => link.href.length <= bounds.maxUrl).slice(0, bounds.maxLinks)
      .map((link) => described(link, bounds)),
    text: cut(menuSelection.text, bounds.maxLinks * bounds.maxText),
  });

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
      const { links, text } = selectionWithin(message);
      sendResponse({ link: menuLink && described(menuLink, message), selection: links, selectionText: text,
                     meta: metaPolicies() });
    } else if (message?.type === 'frame-sandboxed' && typeof api.runtime.getFrameId === 'function') {
      // Firefox: whether this frame's child frame may not start downloads.
      const frame = [...document.querySelectorAll('iframe[sandbox]')]
        .find((element) => api.runtime.getFrameId(element) === message.frameId);
      sendResponse(frame !== undefined && ![...frame.sandbox].some((flag) => flag.toLowerCase() === 'allow-downloads'));
    } else if (message?.type === 'last-click' && Array.isArray(message.urls)) {
      const click = lastClickOn({ ...message, since: Number(message.since) });
      if (click !== null) sendResponse(click);
    }
    return undefined;
  });
})();
