// Small helpers for building pages and the windows of the system (dialogs with a caption, message boxes,
// confirmations and input boxes). A control's visible text is its accessible name.

// el('button', {class: 'x', onclick: f}, 'text', child, ...)
export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value === undefined || value === null || value === false) continue;
    if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key === 'text') node.textContent = value;
    else if (value === true) node.setAttribute(key, '');
    else node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child === undefined || child === null || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

export function button(text, onclick, attrs = {}) {
  return el('button', { type: 'button', onclick, ...attrs }, text);
}

let nextId = 0;
export function uid(prefix) { return `${prefix}-${++nextId}`; }

// A labelled control: the label's text names the control.
export function labelled(text, control) {
  if (!control.id) control.id = uid('c');
  return el('label', { for: control.id }, text);
}

export function table(headers, rows, attrs = {}) {
  return el('table', attrs,
    el('thead', {}, el('tr', {}, headers.map((h) => el('th', { scope: 'col' }, h)))),
    el('tbody', {}, rows));
}

// A window of the system: a modal dialog with its caption in a title bar. Returns the dialog element; its
// `body` and `buttons` parts take the content. Closing removes it. A window whose `defaultButton` is set presses
// it on Enter (outside a button, a list or a text area) and keeps the key from everything else: a window closed
// by the key returns the focus to the control that opened it, which would otherwise take the same key press.
export function openWindow(caption, { className = '' } = {}) {
  const title = el('h2', { id: uid('caption'), class: 'caption' }, caption);
  const body = el('div', { class: 'window-body' });
  const buttons = el('div', { class: 'buttons' });
  const dialog = el('dialog', { class: `window ${className}`, 'aria-labelledby': title.id }, title, body, buttons);
  dialog.body = body;
  dialog.buttons = buttons;
  dialog.caption = title;
  dialog.addEventListener('close', () => {
    dialog.remove();
    // The control that opened a window may be gone (a page drawn meanwhile): the focus then goes to the page.
    if (document.activeElement === document.body && !document.querySelector('dialog[open]')) {
      document.getElementById('main').focus();
    }
  });
  dialog.addEventListener('keydown', (e) => {
    if (e.key !== 'Enter' || e.isComposing || e.defaultPrevented) return;
    const target = e.target;
    const own = target instanceof HTMLButtonElement || target instanceof HTMLTextAreaElement ||
      target instanceof HTMLSelectElement || target instanceof HTMLAnchorElement;
    if (own) return;
    e.preventDefault();
    e.stopPropagation();
    const ok = dialog.defaultButton;
    if (ok && !ok.disabled && dialog.open) ok.click();
  });
  document.body.append(dialog);
  dialog.showModal();
  return dialog;
}

// A message box with "OK"; resolves when closed.
export function messageBox(text, caption = 'vezi') {
  return new Promise((resolve) => {
    const w = openWindow(caption, { className: 'message' });
    w.body.append(el('p', { class: 'message-text' }, text));
    const ok = button('OK', () => w.close());
    w.buttons.append(ok);
    w.defaultButton = ok;
    w.addEventListener('close', () => resolve());
    ok.focus();
  });
}

// A question with two buttons; resolves true for the first.
export function confirmBox(text, yes, no = 'Cancel', caption = 'vezi') {
  return new Promise((resolve) => {
    const w = openWindow(caption, { className: 'message' });
    let result = false;
    w.body.append(el('p', { class: 'message-text' }, text));
    const first = button(yes, () => { result = true; w.close(); });
    w.buttons.append(first, button(no, () => w.close()));
    w.defaultButton = first;
    w.addEventListener('close', () => resolve(result));
  });
}

// An input box: resolves the entered text, or null when cancelled.
export function inputBox(caption, prompt, value) {
  return new Promise((resolve) => {
    const w = openWindow(caption, { className: 'message' });
    const input = el('input', { type: 'text', value, 'aria-label': caption });
    let result = null;
    const ok = button('OK', () => { result = input.value; w.close(); });
    if (prompt) w.body.append(labelled(prompt, input));
    w.body.append(input);
    w.buttons.append(ok, button('Cancel', () => w.close()));
    w.defaultButton = ok;
    w.addEventListener('close', () => resolve(result));
    input.select();
  });
}

export function formatSize(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(1)} KB`;
  return `${(bytes / 1024 / 1024).toFixed(1)} MB`;
}

// An SVG document shown as a picture (it runs no script).
export function picture(svg, alt) {
  const bytes = new TextEncoder().encode(svg);
  let binary = '';
  for (const b of bytes) binary += String.fromCharCode(b);
  return el('img', { class: 'chart', alt, src: `data:image/svg+xml;base64,${btoa(binary)}` });
}

// Shows a failure of a request in the page's message area (or a message box when there is none).
export function showError(error, area) {
  if (area) {
    area.textContent = error.message;
    area.className = 'error';
    area.setAttribute('role', 'alert');
  } else {
    messageBox(error.message, 'Error');
  }
}
