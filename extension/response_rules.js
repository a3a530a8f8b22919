// Which response is a download, for Firefox. No browser API here: the rules
// run under Node's test runner.
import { header, parseDisposition } from './http_headers.js';
import { nameFromUrl } from './url_rules.js';

// Firefox has no hold on a download itself: there a response is judged on its
// headers, before the browser decides to save it. A download is a response
// the browser would save: one marked as an attachment, or of a type it does
// not show. `canPlay(type)` says whether the browser plays a sound or video
// type in the tab. Anything doubtful counts as shown, which leaves it to the
// browser. A form's POST is a download too; it stays with the browser
// (keepReason), noted as such.
const SHOWN_TYPES = new Set(['', 'application/xml', 'application/json', 'application/pdf',
  'application/javascript', 'application/x-javascript', 'application/ecmascript', 'multipart/x-mixed-replace']);

function shownInline(mime, canPlay) {
  if (SHOWN_TYPES.has(mime) || mime.startsWith('text/') || mime.startsWith('image/')) return true;
  if (/\+(xml|json)$/.test(mime)) return true;
  if (mime.startsWith('audio/') || mime.startsWith('video/')) return canPlay(mime);
  return false;
}

// The download a response is, in the shape of Chromium's download item
// (totalBytes -1 when the size is not told), or null when the browser would
// not save it.
export function responseDownload(details, canPlay) {
  if (details.statusCode < 200 || details.statusCode > 299 ||
      details.statusCode === 204 || details.statusCode === 205) return null;
  const headers = details.responseHeaders;
  const mime = (header(headers, 'content-type') ?? '').split(';', 1)[0].trim().toLowerCase();
  const disposition = parseDisposition(header(headers, 'content-disposition'));
  if (!disposition.attachment && shownInline(mime, canPlay)) return null;
  const length = header(headers, 'content-length')?.trim();
  return {
    id: Number(details.requestId),
    url: details.url,
    finalUrl: details.url,
    filename: disposition.filename || nameFromUrl(details.url),
    totalBytes: /^\d{1,15}$/.test(length) ? Number(length) : -1,
    incognito: details.incognito === true,
  };
}
