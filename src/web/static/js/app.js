// The pages, by the address after "#": #/folder/PATH, #/library/PATH, #/spectrum/PATH?nr=N, #/tnm,
// #/import/PATH. PATH is relative to the served folder.
import { loadTexts } from './api.js';
import { el } from './ui.js';
import { showFolder } from './folder.js';
import { showLibrary } from './library.js';
import { showSpectrum, showTnm } from './pictures.js';
import { showImport } from './import.js';

const main = document.getElementById('main');

function crumbs(path) {
  const nav = document.getElementById('crumbs');
  nav.replaceChildren(el('a', { href: '#/folder/' }, 'Folder'));
  let sofar = '';
  for (const part of path.split('/').filter(Boolean)) {
    sofar += (sofar ? '/' : '') + part;
    nav.append(' / ', el('a', { href: `#/folder/${encodeURI(sofar)}` }, part));
  }
}

// Each address is drawn into a container of its own, which replaces the last one at once: a page whose data comes
// after the address changed again draws into a container no longer shown, never beside or over the new page.
let shown = null;

async function route() {
  const view = el('div', { class: 'page' });
  shown = view;
  main.replaceChildren(view);
  const hash = location.hash.replace(/^#\/?/, '');
  const [route, query = ''] = hash.split('?');
  const slash = route.indexOf('/');
  const page = slash < 0 ? route : route.slice(0, slash);
  const path = slash < 0 ? '' : decodeURI(route.slice(slash + 1));
  const params = new URLSearchParams(query);
  crumbs(page === 'tnm' ? '' : path);
  try {
    if (page === 'library') await showLibrary(view, path, params);
    else if (page === 'spectrum') await showSpectrum(view, path, params);
    else if (page === 'tnm') await showTnm(view, params);
    else if (page === 'import') await showImport(view, path, params);
    else await showFolder(view, path);
  } catch (error) {
    view.append(el('p', { class: 'error', role: 'alert' }, error.message));
  }
  if (shown === view) main.focus();
}

window.addEventListener('hashchange', route);
await loadTexts();
await route();
