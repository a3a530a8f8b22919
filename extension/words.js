// The words of the extension's pages, from _locales in the user's language.
// An element names its words by message key: data-i18n for its text,
// data-i18n-title, data-i18n-aria-label and data-i18n-placeholder for its
// attributes. What comes from outside (file names, host names, errors) is
// only ever set as text.
const api = globalThis.browser ?? globalThis.chrome;

export const word = (key, ...substitutions) => api.i18n.getMessage(key, substitutions);

// The language of the words shown, as their catalog says: headless Chromium,
// for one, words its extensions in the language given by --lang while
// i18n.getUILanguage() and @@ui_locale still answer en-US.
export const language = word('pageLanguage') || api.i18n.getUILanguage();

const ATTRIBUTES = ['title', 'aria-label', 'placeholder'];

// The page's words, those of its templates' copies to come included.
export function localize(root = document) {
  document.documentElement.lang = language;
  for (const element of root.querySelectorAll('[data-i18n]')) element.textContent = word(element.dataset.i18n);
  for (const attribute of ATTRIBUTES) {
    for (const element of root.querySelectorAll(`[data-i18n-${attribute}]`)) {
      element.setAttribute(attribute, word(element.getAttribute(`data-i18n-${attribute}`)));
    }
  }
  for (const template of root.querySelectorAll('template')) localize(template.content);
}

// Why a download went where it went, in a sentence: the host's reason codes
// and the extension's own, each worded in _locales as reason_<code>.
export function reasonText(code) {
  const known = typeof code === 'string' && /^[a-z]+(-[a-z]+)*$/.test(code) && code.length <= 40;
  return (known && word(`reason_${code.replaceAll('-', '_')}`)) || word('reason_unknown', String(code).slice(0, 40));
}

export const whereText = (where) => word(`where_${String(where).replaceAll('-', '_')}`) || String(where);

// The settings an organization set (settings.js's `managed`): each one's
// "set by your organization" shown, beside its controls (data-managed names
// the setting), which are turned off.
export function markManaged(managed = []) {
  for (const element of document.querySelectorAll('[data-managed]')) {
    const set = managed.includes(element.dataset.managed);
    if (element.classList.contains('managed')) element.hidden = !set;
    else element.disabled = set;
  }
}
