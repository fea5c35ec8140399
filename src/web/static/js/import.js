// The import dialog of a spreadsheet or text file: the target library, then the dialog with its header and
// data grids, lines, links, the link dialog "Define Link", and Start Import with the name question and the
// result. The dialog's logic runs on the server; this page shows its state and sends what the user does.
import { get, post, follow, texts } from './api.js';
import { el, button, labelled, uid, openWindow, messageBox, confirmBox, inputBox, showError } from './ui.js';

const dialogs = () => texts.import.dialogs;

export async function showImport(main, path) {
  const slash = path.lastIndexOf('/');
  const folder = slash < 0 ? '' : path.slice(0, slash);
  const [listing, types, workbook] = await Promise.all([get('/api/folder', { path: folder }), get('/api/types'),
    get('/api/sheets', { path })]);
  main.append(el('h1', {}, `Import ${path.slice(slash + 1)}`));

  const existing = el('select', { disabled: listing.libraries.length === 0 },
    listing.libraries.map((l) => el('option', { value: l.path }, l.file)));
  const type = el('select', {}, types.map((t) => el('option', { value: t.code }, `${t.code} ${t.name} (${t.file})`)));
  const name = el('input', { type: 'text', value: types[0].file });
  type.addEventListener('change', () => { name.value = types.find((t) => String(t.code) === type.value).file; });
  const intoExisting = el('input', { type: 'radio', name: 'target', checked: listing.libraries.length > 0,
    disabled: listing.libraries.length === 0 });
  const intoNew = el('input', { type: 'radio', name: 'target', checked: listing.libraries.length === 0 });
  const status = el('p', {});
  // How the file is read and what happens to names that exist: the options of `vezi import`.
  const choice = (items) => el('select', {}, items.map(([value, text]) => el('option', { value }, text)));
  const sheet = choice(workbook.sheets.map((s, i) => [s, `${i + 1}: ${s}`]));
  const separator = choice([['', 'Detect'], ['tab', 'Tab'], [',', 'Comma (,)'], [';', 'Semicolon (;)']]);
  const decimal = choice([['', 'Automatic'], ['.', 'Point (.)'], [',', 'Comma (,)']]);
  decimal.title = 'Automatic: a comma in a file separated by ";", else a point';
  // Empty: UTF-8, and a file that is not is refused with the place of its first other byte and asks for one.
  const codePage = el('input', { type: 'number', min: 1, max: 65535, placeholder: 'UTF-8' });
  const textLimit = el('input', { type: 'number', min: 1, value: 1024, title: 'The most text in MB the file may hold' });
  const onExists = choice([['ask', 'Ask'], ['overwrite', 'Overwrite'], ['skip', 'Skip'], ['rename', 'Enter a new name (Name (2))']]);
  const mapping = choice([['', '(none)'], ...listing.mappings.map((m) => [m.path, m.file])]);
  const reading = workbook.sheets.length > 0
    ? [labelled('Sheet', sheet), sheet]
    : [labelled('Separator', separator), separator, labelled('Code page', codePage), codePage];
  main.append(el('fieldset', { class: 'groupbox target' }, el('legend', {}, 'Into'),
    el('div', {}, intoExisting, labelled('An existing library', intoExisting), existing),
    el('div', {}, intoNew, labelled('A new library', intoNew), labelled('Type', type), type,
      labelled('File name', name), name)),
  el('fieldset', { class: 'groupbox target' }, el('legend', {}, 'Reading the file'),
    el('div', {}, ...reading, labelled('Decimal separator', decimal), decimal,
      labelled('Text limit (MB)', textLimit), textLimit),
    el('div', {}, labelled('When a name exists', onExists), onExists, labelled('Links from', mapping), mapping)),
  button('Open the import dialog', async () => {
    const request = { file: path, decimal_separator: decimal.value, on_exists: onExists.value, mapping: mapping.value,
      text_limit: Number(textLimit.value) };
    if (workbook.sheets.length > 0) request.sheet = sheet.value;
    else Object.assign(request, { separator: separator.value }, codePage.value ? { code_page: Number(codePage.value) } : {});
    if (intoExisting.checked) request.library = existing.value;
    else Object.assign(request, { library: folder ? `${folder}/${name.value}` : name.value, type: Number(type.value) });
    try {
      importDialog(await post('/api/import/open', request), folder, listing.mappings,
        () => { location.hash = `#/folder/${encodeURI(folder)}`; });
    } catch (error) {
      showError(error, status);
      if (/not UTF-8/.test(error.message)) codePage.focus();  // the message says to choose one: the field is here
    }
  }), status);
}

// The grid of a loader: column letters above, row numbers left.
function grid(data, label) {
  return el('div', { class: 'grid-scroll sheet' }, el('table', { class: 'grid', 'aria-label': label },
    el('thead', {}, el('tr', {}, el('th', {}), data.columns.map((c) => el('th', { scope: 'col' }, c)))),
    el('tbody', {}, data.rows.map(([n, ...cells]) => el('tr', {}, el('th', { scope: 'row' }, n),
      cells.map((c) => el('td', {}, c))))),
    data.more > 0 ? el('caption', {}, `... and ${data.more} more lines`) : null));
}

function importDialog(initial, folder, mappings, closed) {
  let state = initial;
  const w = openWindow(state.caption, { className: 'import' });
  const headerArea = el('div', {});
  const dataArea = el('div', {});
  const start = el('input', { type: 'number' });
  const stopChecked = el('input', { type: 'checkbox' });
  const stop = el('input', { type: 'number', 'aria-label': 'Stop line' });
  const links = el('select', { size: 6, class: 'links', 'aria-label': 'Links' });
  const progress = el('progress', { 'aria-label': 'Lines' });
  // "Stop" ends a running import as Ctrl-C ends `vezi import`: it rolls back, and the result says so.
  const stopButton = button('Stop', () => post('/api/import/stop', { id: state.id }).catch(
    (error) => messageBox(error.message, state.caption)));
  const running_ = el('div', { class: 'running', hidden: true }, progress, stopButton);
  let running = false;
  let question = null;  // the name question while it is open

  const send = async (path, body) => {
    try {
      show(await post(path, { id: state.id, ...body }));
    } catch (error) { await messageBox(error.message, state.caption); }
  };
  const op = (name, extra = {}) => send('/api/import/dialog', { op: name, ...extra });
  async function show(next) {
    state = next;
    w.caption.textContent = state.caption;
    headerArea.replaceChildren(grid(state.header, 'Header lines'));
    dataArea.replaceChildren(grid(state.data, 'Data lines'));
    Object.assign(start, { value: state.start_line.value, min: state.start_line.min, max: state.start_line.max });
    stopChecked.checked = state.stop_checked;
    Object.assign(stop, { value: state.stop_line.value, min: state.stop_line.min, max: state.stop_line.max,
      disabled: !state.stop_line.enabled });
    links.replaceChildren(...state.links.map((text) => el('option', {}, text)));
    for (const text of state.messages) await messageBox(text, state.caption);
    if (state.focused === 'StopLine') stop.focus();
  }

  start.addEventListener('change', () => op('start_line', { value: Number(start.value) }));
  stop.addEventListener('change', () => op('stop_line', { value: Number(stop.value) }));
  stopChecked.addEventListener('change', () => op('stop_checked', { checked: stopChecked.checked }));
  links.addEventListener('dblclick', () => { if (links.selectedIndex >= 0) linkDialog(state, links.selectedIndex, show); });
  links.addEventListener('keydown', (e) => {
    if (e.key === 'Delete' && links.selectedIndex >= 0) op('delete_link', { index: links.selectedIndex });
  });
  // Closing the dialog closes its session on the server, which keeps its links for the next dialog of the same
  // file and library; a running import is stopped first.
  const cancel = async () => {
    if (running) await post('/api/import/close', { id: state.id }).catch(() => {});
    w.close();
  };
  w.addEventListener('cancel', (e) => { e.preventDefault(); cancel(); });
  w.addEventListener('close', () => {
    post('/api/import/close', { id: state.id }).catch(() => {});
    if (closed) closed();
  });

  const startImport = async () => {
    try {
      await post('/api/import/start', { id: state.id });
    } catch (error) { return messageBox(error.message, state.caption); }
    running = true;
    running_.hidden = false;
    stopButton.focus();
    follow('/api/import/events', { id: state.id }, {
      progress: (e) => { progress.max = e.total; progress.value = e.done; },
      message: (e) => messageBox(e.text, state.caption),
      question: (q) => { question = nameDialog(state.id, q); },
      finished: async (r) => {
        running = false;
        running_.hidden = true;
        if (question && question.open) question.close();  // a stop answered it
        question = null;
        if (r.refused) return;
        w.close();
        showResult(r);
      },
      lost: () => {  // the import's end is unknown: nothing of it can be stopped or answered any more
        running = false;
        running_.hidden = true;
        if (question && question.open) question.close();
        question = null;
        messageBox('The connection to the server was lost.', state.caption);
      },
    });
  };

  w.body.append(
    el('div', { class: 'grids' }, headerArea, dataArea),
    el('div', { class: 'options' },
      labelled(dialogs().strStartLine, start), start,
      el('span', {}, stopChecked, labelled(dialogs().strStopLine, stopChecked)), stop),
    el('div', { class: 'linkrow' }, links, el('div', { class: 'stack' },
      button(dialogs().strDefineLink, () => linkDialog(state, -1, show)),
      button(dialogs().strClearLinks, () => op('clear')),
      button(dialogs().strAutoLink, () => op('auto_link')),
      button('Save links', () => saveLinks(state, folder)),
      button('Load links', () => loadLinks(state, mappings, show)))),
    running_);
  w.buttons.append(button(dialogs().strStartImport, startImport), button(dialogs().strCancel, cancel),
    button(dialogs().strHelp, () => messageBox(
      'Link the file\'s columns (or fixed texts) to the library\'s fields with "Define Link" or "Auto Link" (the ' +
      'header lines above the start line name the fields), choose the lines, then "Start Import".', state.caption)));
  show(state);
}

// "Save links": the links, lines, sheet and separators into a JSON file of the folder, for next month's file.
async function saveLinks(dialog, folder) {
  const stem = dialog.file.split('/').pop().replace(/\.[^.]*$/, '');
  const file = await inputBox('Save links', 'File name of the links (.json)', `${stem}-links.json`);
  if (!file) return;
  const path = folder ? `${folder}/${file}` : file;
  const save = (overwrite) => post('/api/import/save-links', { id: dialog.id, file: path, overwrite });
  try {
    await save(false);
  } catch (error) {
    if (error.status !== 409) return messageBox(error.message, dialog.caption);
    if (!await confirmBox(`"${file}" exists already. Replace it?`, 'Replace')) return;
    try { await save(true); } catch (again) { return messageBox(again.message, dialog.caption); }
  }
  await messageBox(`The links are saved in "${file}".`, dialog.caption);
}

// "Load links": the links and lines of a saved mapping of the folder.
function loadLinks(dialog, mappings, showDialog) {
  const w = openWindow('Load links', { className: 'message' });
  const list = el('select', { size: Math.min(8, Math.max(2, mappings.length)), 'aria-label': 'Saved links' },
    mappings.map((m, i) => el('option', { value: m.path, selected: i === 0 }, m.file)));
  w.body.append(mappings.length > 0 ? list : el('p', {}, 'The folder holds no saved links (.json).'));
  const ok = button('OK', async () => {
    if (!list.value) return w.close();
    try {
      showDialog(await post('/api/import/load-links', { id: dialog.id, file: list.value }));
      w.close();
    } catch (error) { await messageBox(error.message, 'Load links'); }
  });
  w.buttons.append(ok, button('Cancel', () => w.close()));
  w.defaultButton = ok;
}

// "Define Link" for link `index` (-1: a new one). The lists are the server's; OK and Apply send the choice.
async function linkDialog(dialog, index, showDialog) {
  let link;
  try {
    link = (await post('/api/import/link', { id: dialog.id, index })).link;
  } catch (error) { return messageBox(error.message, dialogs().strLinkCaption); }
  const w = openWindow(link.caption, { className: 'link' });
  const group = uid('kind');
  const col = el('input', { type: 'radio', name: group });
  const fix = el('input', { type: 'radio', name: group });
  const columns = el('select', { 'aria-label': 'Column' });
  const text = el('input', { type: 'text', 'aria-label': 'Fixed text' });
  const fields = el('select', {});
  const fill = (l) => {
    link = l;
    columns.replaceChildren(...l.columns.map((c) => el('option', { selected: c === l.column }, c)));
    fields.replaceChildren(...l.descriptions.map((d) => el('option', { selected: d === l.description }, d)));
    if (!l.description) fields.selectedIndex = -1;
    fix.checked = l.fix;
    col.checked = !l.fix;
    text.value = l.fix_text;
    enable();
  };
  const enable = () => { text.disabled = !fix.checked; columns.disabled = fix.checked; };
  col.addEventListener('change', enable);
  fix.addEventListener('change', enable);
  const apply = async (buttonText) => {
    try {
      const answer = await post('/api/import/link', {
        id: dialog.id, index: link.edit_index, button: buttonText, fix: fix.checked, column: columns.value,
        fix_text: text.value, description: fields.value,
      });
      showDialog(answer.dialog);
      if (buttonText === 'OK') w.close();
      else fill(answer.link);
    } catch (error) { await messageBox(error.message, link.caption); }
  };
  w.body.append(el('div', { class: 'linkform' },
    el('span', {}, col, labelled(dialogs().strColumn, col)), columns,
    el('span', { class: 'arrow' }, labelled(dialogs().strLinkArrow, fields)), fields,
    el('span', {}, fix, labelled(dialogs().strFixedText, fix)), text));
  const ok = button(dialogs().strOK, () => apply('OK'));
  w.buttons.append(ok, button(dialogs().strCancel, () => w.close()), button(dialogs().strApply, () => apply('Apply')));
  w.defaultButton = ok;
  fill(link);
}

// The name question: the radio group, ">>", "OK" and "Cancel"; "Enter new name" asks for the name.
function nameDialog(id, question) {
  const w = openWindow(question.caption, { className: 'names' });
  const group = uid('action');
  let newName = question.name;
  const ask = async () => {
    const entered = await inputBox(dialogs().strNewNamePrompt, '', newName);
    if (entered !== null) newName = entered;
  };
  const radios = question.items.map((item, i) => {
    const radio = el('input', { type: 'radio', name: group, value: i, checked: i === 0 });
    if (i === 4) radio.addEventListener('change', ask);
    return el('div', {}, radio, labelled(item, radio));
  });
  let answered = false;
  const answer = (ok) => {
    answered = true;
    const item = Number(w.querySelector(`input[name="${group}"]:checked`).value);
    post('/api/import/answer', ok ? { id, ok, item, new_name: newName } : { id, ok }).catch((e) => messageBox(e.message));
    w.close();
  };
  w.addEventListener('close', () => { if (!answered) post('/api/import/answer', { id, ok: false }).catch(() => {}); });
  w.body.append(el('fieldset', { class: 'groupbox', 'aria-label': question.caption }, radios));
  const ok = button(dialogs().strOK, () => answer(true));
  w.buttons.append(button(dialogs().strNewNameButton, () => {
    w.querySelectorAll(`input[name="${group}"]`)[4].checked = true;
    ask();
  }), ok, button(dialogs().strCancel, () => answer(false)));
  w.defaultButton = ok;
  return w;
}

function showResult(r) {
  const wizard = texts.import.wizard;
  const w = openWindow(r.cancelled || r.interrupted ? wizard.strImportCanceled
    : r.committed && r.failed === 0 ? wizard.strImportFinished : wizard.strImportError, { className: 'result' });
  const line = (label, value) => el('tr', {}, el('th', { scope: 'row' }, label), el('td', { class: 'number' }, String(value)));
  // The figures say what is in the library: lines added or overwritten before a cancel or a stop were rolled
  // back with the rest, so they count as such, not as added.
  const stored = (n) => (r.committed || n === 0 ? n : `0 (${n} rolled back)`);
  w.body.append(el('table', { class: 'figures' }, el('tbody', {},
    line(wizard.strAdded, stored(r.added)), line(wizard.strUpdated, stored(r.overwritten)),
    line(wizard.strSkipped, r.skipped), line(wizard.strErrors, r.failed))));
  if (!r.committed) {
    w.body.append(el('p', {}, r.interrupted ? 'The import was stopped: nothing was stored.'
      : r.cancelled ? 'The import was cancelled: nothing was stored.' : 'Nothing was stored.'));
  }
  if (r.errors.length > 0) {
    w.body.append(el('h3', {}, 'Lines not imported'), el('ul', { class: 'failures' }, r.errors.map((e) =>
      el('li', {}, `Line ${e.line}${e.column ? `, column ${e.column}` : ''}${e.field ? `, ${e.field}` : ''}: ${e.message}`))));
  }
  w.buttons.append(button('Close', () => w.close()));
}
