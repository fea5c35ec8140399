// The conversion window "Converting Paradox Tables": its folder and file lines, the log as it is written,
// progress, message boxes, and at the end the summary with the tables not converted and why.
import { post, follow, texts } from './api.js';
import { el, button, openWindow, messageBox, confirmBox } from './ui.js';

export async function startConversion(path, recursive, deleteOld, closed) {
  if (deleteOld && !await confirmBox(
    'After the conversion, delete every converted Paradox table with its companion files (.mb, .px, ...)? A table ' +
    'is deleted only when all its records are in its library.', 'Delete old tables')) return;
  let job;
  try {
    job = (await post('/api/convert', { path, recursive, delete_old: deleteOld, confirm_delete: deleteOld })).job;
  } catch (error) {
    await messageBox(error.message, texts.convert.caption);
    return;
  }
  const w = openWindow(texts.convert.caption, { className: 'convert' });
  const label1 = el('p', { class: 'label1', 'aria-label': 'Folder' }, texts.convert.label);
  const label2 = el('p', { class: 'label2', 'aria-label': 'File' }, texts.convert.label);
  const tables = el('progress', { 'aria-label': 'Tables', value: 0, max: 1 });
  const records = el('progress', { 'aria-label': 'Records', value: 0, max: 1 });
  const count = el('span', { class: 'count' });
  const log = el('div', { class: 'log', role: 'log', 'aria-label': 'Log' });
  const summary = el('section', { class: 'summary', 'aria-label': 'Summary', hidden: true });
  const close = button('Close', () => w.close(), { disabled: true });
  // "Stop" ends the run as Ctrl-C ends `vezi convert`: the table being converted is rolled back, no further
  // table is converted and nothing is deleted; the summary says what was stored.
  const stop = button('Stop', async () => {
    stop.disabled = true;
    try { await post('/api/convert/stop', { job }); } catch (error) { await messageBox(error.message, texts.convert.caption); }
  });
  w.body.append(el('fieldset', { class: 'groupbox' }, label1, label2),
    el('div', { class: 'progress' }, tables, count, records), log, summary);
  w.buttons.append(stop, close);
  w.addEventListener('cancel', (e) => { if (close.disabled) e.preventDefault(); });
  w.addEventListener('close', () => closed && closed());

  const messages = [];
  follow('/api/convert/events', { job }, {
    folder: (e) => { label1.textContent = e.text; },
    file: (e) => { label2.textContent = e.text; },
    log: (e) => {
      log.append(el('div', {}, e.line));
      log.scrollTop = log.scrollHeight;
    },
    run: (e) => { tables.max = Math.max(e.tables, 1); },
    table: (e) => {
      tables.max = Math.max(e.total, 1);
      tables.value = e.index - 1;
      count.textContent = `Table ${e.index} of ${e.total}`;
      records.value = 0;
    },
    records: (e) => { records.max = Math.max(e.total, 1); records.value = e.done; },
    finished: () => { tables.value += 1; },
    message: (e) => messages.push(e.text),
    summary: (s) => showSummary(summary, s),
    end: async () => {
      stop.disabled = true;
      close.disabled = false;
      close.focus();
      for (const text of messages) await messageBox(text, texts.convert.caption);
    },
    lost: () => {
      stop.disabled = true;
      close.disabled = false;
      summary.hidden = false;
      summary.append(el('p', { class: 'error', role: 'alert' }, 'The connection to the server was lost.'));
    },
  });
}

function showSummary(section, s) {
  const line = (label, value) => el('tr', {}, el('th', { scope: 'row' }, label), el('td', {}, value));
  section.append(el('h3', {}, 'Summary'), el('table', { class: 'figures' }, el('tbody', {},
    line('Tables converted', `${s.tables_converted} of ${s.tables}`),
    line('Skipped', `${s.skipped} (library exists)`),
    line('Not a library', `${s.no_library_type} (left as they are)`),
    line('Records written', `${s.records_written} of ${s.records_read}`),
    line('Errors logged', String(s.error_lines)),
    line('Log', s.log_error ? `${s.log}: ${s.log_error}` : s.log))));
  const list = (heading, tables, text) => {
    if (tables.length > 0) section.append(el('h3', {}, heading), el('ul', {}, tables.map((t) => el('li', {}, text(t)))));
  };
  const skipped = (t) => t.skipped;
  list('Skipped', s.tables_list.filter(skipped), (t) => `${t.source}: ${t.outcome}`);
  list('Not converted', s.tables_list.filter((t) => !t.converted && !skipped(t)),
    (t) => `${t.source}: ${t.reason.startsWith(t.outcome) ? t.reason : t.reason ? `${t.outcome} (${t.reason})` : t.outcome}`);
  if (s.interrupted) {
    section.append(el('p', { class: 'error', role: 'alert' }, 'Stopped: the table being converted was rolled back, ' +
      'the tables after it were not converted and nothing was deleted.'));
  }
  section.hidden = false;
}
