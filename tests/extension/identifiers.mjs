// The names the browser tests register and look for, each from its one
// source: the extension's ID from its manifest's "key" (the first 32 hex
// digits of the key's SHA-256, each 0-f written a-p, as Chromium derives it),
// the host's name and Firefox's ID from common/identifiers.h; the same of the
// neighbour, another extension the tests load beside it.
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';

const source = (path) => readFileSync(new URL(`../../${path}`, import.meta.url), 'utf8');
const identifier = (name) => {
  const found = source('common/identifiers.h').match(new RegExp(`${name}\\[\\] = "([^"]+)"`));
  if (found === null) throw new Error(`common/identifiers.h names no ${name}`);
  return found[1];
};

// The ID Chromium gives an extension whose manifest has this key (its DER).
export const chromiumId = (key) => [...createHash('sha256').update(key).digest('hex').slice(0, 32)]
  .map((digit) => String.fromCharCode(97 + parseInt(digit, 16))).join('');
const idOf = (manifest) => chromiumId(Buffer.from(manifest.key, 'base64'));
export const EXTENSION_ID = idOf(JSON.parse(source('extension/manifest.json')));
// Another extension, which downloads a file of its own (neighbour/).
const neighbour = JSON.parse(source('tests/extension/neighbour/manifest.json'));
export const NEIGHBOUR_ID = idOf(neighbour);
export const NEIGHBOUR_GECKO_ID = neighbour.browser_specific_settings.gecko.id;
export const HOST_NAME = identifier('kNativeHostName');
export const GECKO_ID = identifier('kFirefoxExtensionId');
