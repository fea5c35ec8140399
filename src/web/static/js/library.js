// A library: its fields and indexes, its records page by page in the order of an index, the search on the name
// index, and a record's window to look at, edit, add and delete records.
import { get, post, url } from './api.js';
import { el, button, labelled, table, openWindow, messageBox, confirmBox, showError, picture } from './ui.js';


export async function showLibrary(main, path, params) {
  const lib = await get('/api/library', { path });
  const nameField = nameFieldOf(lib);
  // `contains`: the text the records' names are filtered by ("Names containing"), or null for all records.
  const state = { index: params.get('index') ?? lib.primary_index, offset: 0, total: lib.records, records: [], size: 50,
    contains: null };
  const count = el('span', { class: 'records-count' }, `${lib.records} records`);

  main.append(el('h1', {}, path.split('/').pop()),
    el('p', {}, lib.type >= 0 ? `Library type ${lib.type} ${lib.type_name}` : 'Not a library type', ', ', count));
  main.append(el('details', {}, el('summary', {}, `Fields (${lib.fields.length})`),
    table(['#', 'Name', 'Type', 'Size', 'Required'], lib.fields.map((f, i) => el('tr', {},
      el('td', { class: 'number' }, String(i + 1)), el('td', {}, f.label), el('td', {}, f.type),
      el('td', { class: 'number' }, String(f.size)), el('td', {}, f.required ? 'yes' : 'no'))), { class: 'grid' })));
  main.append(el('details', {}, el('summary', {}, `Indexes (${lib.indexes.length})`),
    table(['Name', 'Fields', 'Options'], lib.indexes.map((i) => el('tr', {},
      el('td', {}, i.name), el('td', {}, i.fields), el('td', {}, i.options))), { class: 'grid' })));

  const order = el('select', {}, el('option', { value: '' }, '(insertion order)'),
    lib.indexes.map((i) => el('option', { value: i.name, selected: i.name === state.index }, `${i.name}: ${i.fields}`)));
  const search = el('input', { type: 'search', disabled: !nameField });
  const status = el('p', { class: 'note', 'aria-live': 'polite' });
  const position = el('span', { class: 'position', 'aria-live': 'polite' });
  const grid = el('div', { class: 'grid-scroll' });
  const load = async (params) => {
    try {
      const filter = state.contains === null || params.search !== undefined ? {} : { contains: state.contains };
      const page = await get('/api/records', { path, limit: state.size, ...filter, ...params });
      Object.assign(state, { offset: page.offset, total: page.total, index: page.index, records: page.records });
      if (filter.contains === undefined) count.textContent = `${page.total} records`;  // follows adds and deletes
      order.value = page.index;
      status.textContent = filter.contains !== undefined
        ? (page.total === 0 ? `No name contains "${filter.contains}"`
          : `${page.total} ${page.total === 1 ? 'name contains' : 'names contain'} "${filter.contains}"`)
        : params.search === undefined ? ''
          : page.found ? `Found "${params.search}"` : `No name starts with "${params.search}"`;
      position.textContent = page.total === 0 ? 'No records'
        : `Records ${Math.min(page.offset + 1, page.total)} to ${Math.min(page.offset + page.records.length, page.total)} of ${page.total}`;
      grid.replaceChildren(recordGrid(lib, page.records, (record) => openRecord(lib, path, record, reload),
        params.search !== undefined && page.found));
    } catch (error) { showError(error, status); }
  };
  const reload = () => load({ index: state.index, offset: state.offset });
  const lastOffset = () => Math.max(0, Math.floor((state.total - 1) / state.size) * state.size);
  const go = (offset) => load({ index: state.index, offset: Math.max(0, Math.min(offset, lastOffset())) });
  const size = el('select', {}, [10, 25, 50, 100, 200].map((n) => el('option', { value: n, selected: n === 50 }, String(n))));
  size.addEventListener('change', () => { state.size = Number(size.value); go(state.offset); });
  order.addEventListener('change', () => load({ index: order.value, offset: 0 }));
  const find = () => { state.contains = null; showAll.hidden = true; return load({ search: search.value }); };
  const containing = () => {
    state.contains = search.value;
    showAll.hidden = false;
    return load({ index: state.index, offset: 0 });
  };
  const showAll = button('Show all records', () => { state.contains = null; showAll.hidden = true; go(0); },
    { hidden: true });
  search.addEventListener('keydown', (e) => { if (e.key === 'Enter') find(); });

  main.append(el('h2', {}, 'Records'),
    el('div', { class: 'options' },
      labelled('Order', order), order,
      labelled(nameField ? `Search ${nameField}` : 'Search (no name index)', search), search,
      button('Search', find, { disabled: !nameField, title: 'The first name that starts with the text' }),
      button('Names containing', containing, { disabled: !nameField, title: 'Every name that holds the text' }),
      showAll,
      button('New record', () => newRecord(lib, path, reload)),
      button('Export', () => exportLibrary(lib, path))),
    el('div', { class: 'pager' },
      button('First', () => go(0)), button('Previous', () => go(state.offset - state.size)), position,
      button('Next', () => go(state.offset + state.size)), button('Last', () => go(lastOffset())),
      labelled('Records per page', size), size),
    status, grid);
  await load({ index: state.index, offset: 0 });
}

function shown(value, field) {
  if (value === null) return '';
  if (field.style === 'binary') return `(${Math.floor(value.length * 3 / 4)} bytes)`;
  if (typeof value === 'boolean') return value ? 'True' : 'False';
  return String(value);
}

// The field that names a record: the first of the name index.
function nameFieldOf(lib) {
  const index = lib.indexes.find((i) => i.name === lib.name_index);
  return index ? index.fields.split(';')[0] : null;
}

function recordName(lib, record) {
  const field = nameFieldOf(lib);
  const name = field ? record.values[field] : null;
  return name === null || name === undefined || name === '' ? `Record ${record.key}` : String(name);
}

function recordGrid(lib, records, open, markFirst) {
  return table(['', ...lib.fields.map((f) => f.label)], records.map((r, i) => el('tr', { class: markFirst && i === 0 ? 'found' : '' },
    el('td', {}, button(recordName(lib, r), () => open(r), { class: 'link' })),
    lib.fields.map((f) => el('td', { class: f.style === 'float' || f.style === 'integer' ? 'number' : '' },
      shown(r.values[f.name], f))))), { class: 'grid records' });
}

// The record's window: one control per field; only fields the user changes are sent, as the texts the user
// typed (the library reads them, so every front end reads them alike). An element library shows its bands as a
// table (Hz, value) with the record's chart beside the other fields.
function recordWindow(lib, caption, record, path) {
  const w = openWindow(caption, { className: 'record' });
  const changed = new Map();
  const control = (f) => {
    const value = record.values[f.name];
    let input;
    if (f.style === 'boolean') {
      input = el('input', { type: 'checkbox', checked: value === true });
      input.addEventListener('change', () => changed.set(f.name, () => input.checked));
    } else {
      const long = f.type === 'memo' || f.type === 'ftMemo';
      input = el(long ? 'textarea' : 'input', long ? { rows: 3 } : { type: 'text' });
      input.value = shown(value, f);
      if (f.style === 'text' && f.size > 0) input.maxLength = f.size;
      for (const event of ['input', 'change']) input.addEventListener(event, () => changed.set(f.name, () => input.value));
    }
    if (!f.editable) input.disabled = true;
    return input;
  };
  const bands = lib.spectrum ? lib.fields.filter((f) => f.band > 0) : [];
  const rows = lib.fields.filter((f) => !bands.includes(f)).map((f) => {
    const input = control(f);
    return el('div', { class: 'field' }, labelled(f.label, input), input);
  });
  const fields = el('div', { class: 'fields' }, rows);
  if (bands.length === 0) {
    w.body.append(fields);
  } else {
    const bandRows = bands.map((f) => {
      const input = control(f);
      input.classList.add('band-value');
      return el('tr', {}, el('th', { scope: 'row' }, labelled(f.label, input)), el('td', {}, input));
    });
    const chart = el('div', { class: 'record-chart' });
    if (record.values.Eintrag !== undefined && record.values.Eintrag !== null) {
      get('/api/spectrum', { path, nr: record.values.Eintrag }).then((s) => {
        chart.replaceChildren(picture(s.svg, `Spectrum of ${s.name}`), s.message ? el('p', { class: 'note' }, s.message) : '');
      }).catch((error) => chart.replaceChildren(el('p', { class: 'note' }, error.message)));
    }
    fields.classList.add('narrow');
    w.classList.add('with-bands');
    w.body.append(el('div', { class: 'record-layout' }, fields,
      el('table', { class: 'grid band-table', 'aria-label': 'Bands' },
        el('thead', {}, el('tr', {}, el('th', { scope: 'col' }, 'Band'), el('th', { scope: 'col' }, 'Value'))),
        el('tbody', {}, bandRows)), chart));
  }
  w.values = () => Object.fromEntries([...changed].map(([name, read]) => [name, read()]));
  return w;
}

function openRecord(lib, path, record, reload) {
  const w = recordWindow(lib, recordName(lib, record), record, path);
  const act = async (what) => {
    try {
      await what();
      w.close();
      await reload();
    } catch (error) {
      await messageBox(error.message, 'The library refused');
    }
  };
  w.buttons.append(
    button('Save', () => act(() => post('/api/record/save',
      { path, key: record.key, version: record.version, values: w.values() }))),
    button('Delete', async () => {
      if (await confirmBox(`Delete "${recordName(lib, record)}"? This cannot be undone.`, 'Delete')) {
        await act(() => post('/api/record/delete', { path, key: record.key, version: record.version }));
      }
    }));
  if (lib.spectrum) {
    w.buttons.append(el('a', { class: 'button', href: `#/spectrum/${encodeURI(path)}?nr=${record.values.Eintrag}` }, 'Spectrum'));
  }
  if (lib.tnm) {
    w.buttons.append(el('a', { class: 'button', href: `#/tnm?library=${encodeURIComponent(path)}&record=${record.values.Eintrag}` }, 'TNM emission'));
  }
  w.buttons.append(button('Close', () => w.close()));
  w.querySelectorAll('a.button').forEach((a) => a.addEventListener('click', () => w.close()));
}

async function newRecord(lib, path, reload) {
  let defaults;
  try { defaults = await get('/api/new-record', { path }); } catch (error) { return messageBox(error.message, 'Error'); }
  const w = recordWindow(lib, 'New record', defaults, path);
  w.buttons.append(button('Add', async () => {
    try {
      await post('/api/record/add', { path, values: w.values() });
      w.close();
      await reload();
    } catch (error) {
      await messageBox(error.message, 'The library refused');
    }
  }), button('Close', () => w.close()));
}

// "Export": the records into a spreadsheet or text file of the library's folder (as `vezi export`), which the
// page then offers to download. The format follows the file's extension.
function exportLibrary(lib, path) {
  const slash = path.lastIndexOf('/');
  const folder = slash < 0 ? '' : path.slice(0, slash);
  const stem = path.slice(slash + 1).replace(/\.[^.]*$/, '');
  const w = openWindow('Export', { className: 'message' });
  const file = el('input', { type: 'text', value: `${stem}.xlsx` });
  const format = el('select', {}, [['xlsx', 'Excel workbook (.xlsx)'], ['csv', 'CSV, comma-separated (.csv)'],
    ['txt', 'Text, tab-separated (.txt)']].map(([value, text]) => el('option', { value }, text)));
  format.addEventListener('change', () => { file.value = file.value.replace(/(\.[^.]*)?$/, `.${format.value}`); });
  const names = el('input', { type: 'text', placeholder: 'all records' });
  const result = el('p', { 'aria-live': 'polite' });
  const run = async (overwrite) => {
    const target = folder ? `${folder}/${file.value}` : file.value;
    try {
      const r = await post('/api/export', { path, file: target, where_name: names.value, overwrite });
      result.replaceChildren(`Exported ${r.records} records to ${r.file}. `,
        el('a', { href: url('/api/download', { path: r.file }), download: file.value }, `Download ${file.value}`));
    } catch (error) {
      if (error.status === 409 && await confirmBox(`"${file.value}" exists already. Replace it?`, 'Replace')) return run(true);
      showError(error, result);
    }
  };
  w.body.append(el('div', { class: 'form' }, labelled('Format', format), format, labelled('File name', file), file,
    labelled(nameFieldOf(lib) ? `Only names containing` : 'Only names containing (no name field)', names), names),
    result);
  if (!nameFieldOf(lib)) names.disabled = true;
  w.buttons.append(button('Export', () => run(false)), button('Close', () => w.close()));
}
