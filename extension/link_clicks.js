// Tells the extension which link each click lands on, so that the download it
// starts carries the link's text, and which modifier keys were held down (the
// user's bypass key keeps the download in the browser). In the capture
// phase, so that a page that stops the click's propagation still lets us see
// it; through the event's path, so that a link inside a shadow root is found
// too. Only the user's own clicks: a page's script can click any link it
// likes.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const tell = (event) => {
    if (!event.isTrusted) return;
    const link = event.composedPath().find(
      (node) => (node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement) && node.href !== '');
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
})();
