// The demo's web site on 127.0.0.1: a page of links and the files of a
// folder, and the ways real sites hand out files: a sign-in whose HttpOnly
// session cookie a file asks for, a file that asks for the page as referrer,
// a redirect, a name outside ASCII in Content-Disposition and a form whose
// POST answers a file.
//
//   node demo_site.mjs SITE_DIR PORT_FILE LOG_FILE
//
// The folder holds index.html and files/; the port goes to PORT_FILE once
// the site listens. Each request is logged as one line:
//   METHOD PATH STATUS cookie=yes|no referer=REFERER agent=USER-AGENT
import { createReadStream, appendFileSync, existsSync, statSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { randomBytes } from 'node:crypto';
import { join, normalize, resolve } from 'node:path';

const [portFile, logFile] = process.argv.slice(3);
const siteDir = resolve(process.argv[2]);
const sessions = new Set();

// A file of the folder, under the name of the site's own choosing.
const rules = {
  '/files/members.zip': { needs: 'session' },
  '/files/referred.zip': { needs: 'referer' },
  '/files/notes.zip': {
    disposition: "attachment; filename=\"notes.zip\"; filename*=UTF-8''R%C3%A9sum%C3%A9%20%E6%96%87%E4%BB%B6.zip",
  },
  '/files/export.zip': { method: 'POST', disposition: 'attachment; filename="export.zip"' },
};
const redirects = { '/latest/tool.zip': '/files/tool-1.2.zip' };

function sessionOf(request) {
  const match = /(?:^|;\s*)session=([^;]*)/.exec(request.headers.cookie ?? '');
  return match && sessions.has(match[1]);
}

function answer(request, response, status, headers = {}, body = '') {
  appendFileSync(logFile, `${request.method} ${request.url} ${status} cookie=${request.headers.cookie ? 'yes' : 'no'} referer=${request.headers.referer ?? ''} agent=${request.headers['user-agent'] ?? ''}\n`);
  response.writeHead(status, headers);
  return body;
}

const server = createServer((request, response) => {
  const url = new URL(request.url, 'http://site');
  const path = url.pathname;
  const page = `http://${request.headers.host}/index.html`;
  if (path === '/signin') {
    if (request.method !== 'POST') {
      response.end(answer(request, response, 200, { 'Content-Type': 'text/html' },
        '<form method="post" action="/signin"><input name="user"><input name="password" type="password"></form>'));
      return;
    }
    const token = randomBytes(12).toString('hex');
    sessions.add(token);
    response.end(answer(request, response, 200, {
      'Content-Type': 'text/html', 'Set-Cookie': `session=${token}; Path=/; HttpOnly`,
    }, '<p>signed in</p>'));
    return;
  }
  if (redirects[path]) {
    response.end(answer(request, response, 302, { Location: redirects[path] }));
    return;
  }
  const file = join(siteDir, normalize(path === '/' ? '/index.html' : path));
  if (!file.startsWith(siteDir) || !existsSync(file) || !statSync(file).isFile()) {
    response.end(answer(request, response, 404));
    return;
  }
  const rule = rules[path] ?? {};
  const refused = (rule.method ?? 'GET') !== request.method && !(request.method === 'HEAD' && !rule.method)
    ? 405
    : (rule.needs === 'session' && !sessionOf(request)) || (rule.needs === 'referer' && request.headers.referer !== page)
      ? 403 : 0;
  if (refused) {
    response.end(answer(request, response, refused, { 'Content-Type': 'text/plain' }, 'refused\n'));
    return;
  }
  const headers = {
    'Content-Type': path.endsWith('.html') ? 'text/html' : 'application/octet-stream',
    'Content-Length': statSync(file).size,
  };
  if (rule.disposition) headers['Content-Disposition'] = rule.disposition;
  answer(request, response, 200, headers);
  // A POST's body is read before the answer ends, so that the client sees no reset.
  request.resume();
  if (request.method === 'HEAD') response.end();
  else createReadStream(file).pipe(response);
});
server.listen(0, '127.0.0.1', () => writeFileSync(portFile, `${server.address().port}\n`));
