// Requests to the server. Every request carries the token: the cookie does for reading, and requests that
// change something send it in the X-Vezi-Token header too. Failures become Errors with the server's message.
const token = document.querySelector('meta[name="vezi-token"]').content;

async function answer(response) {
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : { error: await response.text() };
  if (!response.ok) {
    const error = new Error(body.error || `The server answered ${response.status}`);
    error.status = response.status;
    throw error;
  }
  return body;
}

export function url(path, params = {}) {
  const query = new URLSearchParams();
  for (const [key, value] of Object.entries(params)) if (value !== undefined && value !== null) query.set(key, value);
  const text = query.toString();
  return text ? `${path}?${text}` : path;
}

export async function get(path, params) {
  return answer(await fetch(url(path, params), { credentials: 'same-origin' }));
}

export async function post(path, body) {
  return answer(await fetch(path, {
    method: 'POST',
    credentials: 'same-origin',
    headers: { 'Content-Type': 'application/json', 'X-Vezi-Token': token },
    body: JSON.stringify(body),
  }));
}

export async function upload(folder, file) {
  const form = new FormData();
  form.append('file', file, file.name);
  return answer(await fetch(url('/api/upload', { folder }), {
    method: 'POST', credentials: 'same-origin', headers: { 'X-Vezi-Token': token }, body: form,
  }));
}

// Follows a stream of events: handlers by event type. The last event is "end"; a stream the browser cannot
// reconnect to calls handlers.lost.
export function follow(path, params, handlers) {
  const source = new EventSource(url(path, params));
  for (const [type, handler] of Object.entries(handlers)) {
    if (type !== 'lost') source.addEventListener(type, (event) => handler(JSON.parse(event.data)));
  }
  source.addEventListener('end', () => source.close());
  source.onerror = () => {
    if (source.readyState === EventSource.CLOSED && handlers.lost) handlers.lost();
  };
  return source;
}

// The system's texts of the controls, loaded once.
export let texts = {};
export async function loadTexts() {
  texts = await get('/api/texts');
  return texts;
}
