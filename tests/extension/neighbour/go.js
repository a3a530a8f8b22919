// Downloads the `url` of this page's query under the `filename` it names, as
// another extension does, and says in the title how that went.
const api = globalThis.browser ?? globalThis.chrome;
const query = new URLSearchParams(location.search);
api.downloads.download({ url: query.get('url'), filename: query.get('filename') })
  .then((id) => { document.title = `started ${id}`; }, (error) => { document.title = `failed ${error.message}`; });
