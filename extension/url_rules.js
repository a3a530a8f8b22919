// What a URL says and which site a host belongs to: the one reading of each,
// for the decisions, the cookies a sent link carries and the user's list of
// sites. No browser API here: the rules run under Node's test runner.

// The URL `text` names, or null where it names none.
export function parseUrl(text) {
  try {
    return new URL(text);
  } catch {
    return null;
  }
}

export const isHttp = (url) => typeof url === 'string' && /^https?:\/\//i.test(url);

// The host of an http(s) URL, '' for any other.
export const hostOf = (url) => (isHttp(url) ? parseUrl(url)?.hostname ?? '' : '');

// A fragment never reaches the server: two URLs that differ only there fetch
// the same thing.
export const withoutFragment = (url) => url.split('#', 1)[0];

// Whether `site` covers `host`: the same host or one of its subdomains. The
// user's list of sites reads so, and so does a cookie's domain.
export const covers = (site, host) => host === site || host.endsWith(`.${site}`);

// The last component of a path, without surrounding spaces or tabs; '' for
// what is no path.
export const baseName = (path) => (typeof path === 'string'
  ? path.split(/[/\\]/).pop().replace(/^[ \t]+|[ \t]+$/g, '') : '');

// The file name a URL's path ends in, decoded where it can be; '' for none.
export function nameFromUrl(url) {
  const last = parseUrl(url)?.pathname.split('/').pop() ?? '';
  try {
    return baseName(decodeURIComponent(last));
  } catch {
    return last;
  }
}
