// The pictures: a spectrum of an element library record with its protocol, and the TNM emission calculator
// with its 24-band chart and sum.
import { get } from './api.js';
import { el, button, labelled, picture, showError } from './ui.js';

export async function showSpectrum(main, path, params) {
  const nr = params.get('nr');
  const clamp = el('input', { type: 'checkbox', checked: params.get('clamp') === '1' });
  const log = el('input', { type: 'checkbox', checked: params.get('log') === '1' });
  const out = el('div', { class: 'picture' });
  const status = el('p', {});
  const draw = async () => {
    try {
      const s = await get('/api/spectrum', { path, nr, clamp: clamp.checked ? 1 : 0, log: log.checked ? 1 : 0 });
      out.replaceChildren(picture(s.svg, `Spectrum of ${s.name}`), el('pre', { class: 'protocol', 'aria-label': 'Protocol' }, s.protocol));
      status.textContent = s.message;
      status.className = s.message ? 'note' : '';
    } catch (error) { out.replaceChildren(); showError(error, status); }
  };
  clamp.addEventListener('change', draw);
  log.addEventListener('change', draw);
  main.append(el('h1', {}, `Spectrum #${nr} of ${path.split('/').pop()}`),
    el('div', { class: 'options' },
      el('span', {}, clamp, labelled('Clamp the values to 0 .. 0.999', clamp)),
      el('span', {}, log, labelled('10 lg(value)', log)),
      el('a', { href: `#/library/${encodeURI(path)}` }, 'Back to the library')),
    status, out);
  await draw();
}

const VEHICLES = [['auto', 'Automobiles'], ['mt', 'Medium trucks'], ['ht', 'Heavy trucks'], ['bus', 'Buses'],
  ['mc', 'Motorcycles']];
const PAVEMENTS = [['avg', 'Average'], ['dgac', 'Dense-graded asphaltic concrete (DGAC)'],
  ['ogac', 'Open-graded asphaltic concrete (OGAC)'], ['pcc', 'Portland cement concrete (PCC)']];

export async function showTnm(main, params) {
  const options = (list, chosen) => list.map(([value, text]) => el('option', { value, selected: value === chosen }, text));
  const vehicle = el('select', {}, options(VEHICLES, params.get('vehicle') || 'auto'));
  const pavement = el('select', {}, options(PAVEMENTS, params.get('pavement') || 'avg'));
  const throttle = el('input', { type: 'checkbox', checked: params.get('full_throttle') === '1' });
  const speed = el('input', { type: 'text', inputmode: 'decimal', value: params.get('speed') || '100' });
  const library = el('input', { type: 'text', value: params.get('library') || '', placeholder: 'TNMVeh.abs' });
  const record = el('input', { type: 'number', min: 0, step: 1, value: params.get('record') || '' });
  const out = el('div', { class: 'picture' });
  const status = el('p', {});
  const calculate = async () => {
    const query = { pavement: pavement.value, full_throttle: throttle.checked ? 1 : 0, speed: speed.value };
    if (library.value.trim()) Object.assign(query, { library: library.value.trim(), record: record.value });
    else query.vehicle = vehicle.value;
    try {
      const r = await get('/api/tnm', query);
      const rows = r.result.bands.map((b) => el('tr', {}, el('td', { class: 'number' }, String(b.hz)),
        el('td', { class: 'number' }, b.db.toFixed(2))));
      out.replaceChildren(picture(r.svg, r.heading),
        el('p', { class: 'sum' }, `Sum: ${r.result.sum.toFixed(2)} dB(A)`),
        el('table', { class: 'grid bands' }, el('thead', {}, el('tr', {}, el('th', {}, 'Hz'), el('th', {}, 'dB(A)'))),
          el('tbody', {}, rows)));
      status.textContent = r.heading;
      status.className = '';
    } catch (error) { out.replaceChildren(); showError(error, status); }
  };
  main.append(el('h1', {}, 'TNM emission'),
    el('div', { class: 'form' },
      labelled('Vehicle', vehicle), vehicle, labelled('Pavement', pavement), pavement,
      labelled('Full throttle', throttle), throttle, labelled('Speed (km/h)', speed), speed,
      labelled('TNM vehicle library (instead of the vehicle)', library), library,
      labelled('Record', record), record),
    button('Calculate', calculate), status, out);
  await calculate();
}
