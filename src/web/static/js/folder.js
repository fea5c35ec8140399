// The folder page: libraries, Paradox tables waiting for conversion (with the conversion's options),
// spreadsheet and text files to import, and subfolders.
import { get, upload, url } from './api.js';
import { el, button, labelled, table, formatSize, showError } from './ui.js';
import { startConversion } from './convert.js';

const href = (page, path) => `#/${page}/${encodeURI(path)}`;

export async function showFolder(main, path) {
  const folder = await get('/api/folder', { path });
  const title = folder.path ? folder.path : `${folder.name} (the served folder)`;
  main.append(el('h1', {}, title));

  main.append(el('h2', {}, 'Libraries'));
  if (folder.libraries.length === 0) main.append(el('p', { class: 'note' }, 'No libraries in this folder.'));
  else {
    main.append(table(['File', 'Type', 'Records', 'Size', 'Last change'], folder.libraries.map((lib) => el('tr', {},
      el('td', {}, el('a', { href: href('library', lib.path) }, lib.file)),
      el('td', {}, lib.type >= 0 ? `${lib.type} ${lib.type_name}` : '-'),
      el('td', { class: 'number' }, lib.error ? el('span', { class: 'error' }, lib.error) : String(lib.records)),
      el('td', { class: 'number' }, formatSize(lib.size)),
      el('td', {}, lib.modified))), { class: 'grid' }));
  }

  main.append(el('h2', {}, 'Paradox tables'));
  if (folder.paradox.length === 0) main.append(el('p', { class: 'note' }, 'No Paradox tables in this folder.'));
  else {
    main.append(table(['File', 'Becomes', 'Type', 'Companions', 'State'], folder.paradox.map((t) => el('tr', {},
      el('td', {}, t.file),
      el('td', {}, t.never_converted ? '-' : t.library),
      el('td', {}, t.type >= 0 && !t.never_converted ? `${t.type} ${t.type_name}` : '-'),
      el('td', {}, t.companions.join(', ')),
      el('td', {}, t.never_converted ? 'never converted' : t.converted ? 'converted' : t.type < 0 ? 'no library type'
        : 'waiting'))), { class: 'grid' }));
  }
  const recursive = el('input', { type: 'checkbox' });
  const deleteOld = el('input', { type: 'checkbox' });
  main.append(el('div', { class: 'options' },
    el('span', {}, recursive, labelled('Also convert the subfolders (recursive)', recursive)),
    el('span', {}, deleteOld, labelled('Delete the old tables afterwards (delete old)', deleteOld)),
    button('Convert', () => startConversion(folder.path, recursive.checked, deleteOld.checked,
      () => showAgain(main, path)))));

  main.append(el('h2', {}, 'Spreadsheets and text files'));
  if (folder.sheets.length > 0) {
    main.append(table(['File', 'Size', 'Last change', ''], folder.sheets.map((s) => el('tr', {},
      el('td', {}, s.file), el('td', { class: 'number' }, formatSize(s.size)), el('td', {}, s.modified),
      el('td', {}, el('a', { href: href('import', s.path), class: 'action' }, `Import ${s.file}`), ' ',
        el('a', { href: url('/api/download', { path: s.path }), download: s.file }, `Download ${s.file}`)))),
    { class: 'grid' }));
  }
  const file = el('input', { type: 'file', accept: '.xls,.xlsx,.txt,.tsv,.tab,.asc,.csv,.prn' });
  const status = el('p', { class: 'note', 'aria-live': 'polite' });
  main.append(el('div', { class: 'options' }, labelled('Upload a file into this folder', file), file,
    button('Upload', async () => {
      if (!file.files.length) return;
      try {
        await upload(folder.path, file.files[0]);
        await showAgain(main, path);
      } catch (error) { showError(error, status); }
    })), status);

  if (folder.folders.length > 0) {
    main.append(el('h2', {}, 'Folders'));
    main.append(el('ul', { class: 'folders' }, folder.folders.map((name) =>
      el('li', {}, el('a', { href: href('folder', folder.path ? `${folder.path}/${name}` : name) }, name)))));
  }
}

async function showAgain(main, path) {
  main.replaceChildren();
  await showFolder(main, path);
}
