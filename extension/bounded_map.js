// Keeps at most `limit` entries in `map`, dropping the oldest, as a page can
// make the browser report as many as it likes. An entry set again counts as
// the newest.
export function remember(map, key, value, limit) {
  map.delete(key);
  map.set(key, value);
  while (map.size > limit) map.delete(map.keys().next().value);
}
