// A small web site on 127.0.0.1: one page of links (it sets an HttpOnly
// cookie), the files they lead to, a redirect and a script that names its
// download in Content-Disposition. Every request is logged with the cookie
// and referrer it carried.
import { createServer } from 'node:http';
import { randomBytes } from 'node:crypto';

export const FILE_BYTES = 64 * 1024;
export const COOKIES = ['session=c00k1e-s3cret; Path=/; HttpOnly', 'theme=dark; Path=/'];

const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);

export async function startSite(links) {
  const body = randomBytes(FILE_BYTES);
  const requests = [];
  const page = `<!doctype html><meta charset="utf-8"><title>downloads</title>
    <script>
      function makeBlob(name) {
        const link = document.createElement('a');
        link.href = URL.createObjectURL(new Blob([new Uint8Array(${FILE_BYTES})]));
        link.download = name;
        document.body.append(link);
        link.click();
      }
    </script>
    ${links.map(({ id, href, text, blob }) => (blob
      ? `<p><button id="${id}" onclick="makeBlob('${blob}')">${escapeHtml(text)}</button>`
      : `<p><a id="${id}" href="${escapeHtml(href)}">${escapeHtml(text)}</a>`)).join('\n')}`;

  const server = createServer((request, response) => {
    const url = new URL(request.url, 'http://site');
    requests.push({ path: request.url, cookie: request.headers.cookie ?? '', referrer: request.headers.referer ?? '' });
    const file = (type, extra = {}) => {
      response.writeHead(200, { 'Content-Type': type, 'Content-Length': body.length, ...extra });
      response.end(body);
    };
    if (url.pathname === '/page.html') {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Set-Cookie': COOKIES });
      response.end(page);
    } else if (url.pathname === '/go') {
      response.writeHead(302, { Location: url.searchParams.get('to') });
      response.end();
    } else if (url.pathname === '/download.php') {
      file('application/octet-stream', { 'Content-Disposition': `attachment; filename=${url.searchParams.get('file')}` });
    } else if (url.pathname.endsWith('.pdf')) {
      file('application/pdf', { 'Content-Disposition': 'attachment' });
    } else if (url.pathname.startsWith('/files/')) {
      file('application/zip');
    } else {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    base: `http://127.0.0.1:${server.address().port}`,
    requests,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}
