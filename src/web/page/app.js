// SPDX-License-Identifier: GPL-3.0-or-later
// The panel in a browser. Everything it shows comes from qv550d over one
// WebSocket: the buttons (as the window groups them), what is lit, the nine
// values. Nothing is kept or repeated here: a hold is repeated by qv550d
// while this page says it is alive, and a press while the socket is down is
// refused on the spot, never queued for later.
'use strict';

const HEARTBEAT_MS = 250;   // a ping this often ...
const SILENCE_MS = 1000;    // ... and offline when one is not answered within this
const ALIVE_MS = 100;       // keep-alive of a hold
const BACKOFF_MS = [500, 1000, 2000, 4000, 8000];

const $ = (id) => document.getElementById(id);
let socket = null;
let online = false;
let version = null;
let built = false;
let attempt = 0;
let pingedAt = 0;           // when the ping not yet answered went out
let nextId = 1;
let held = null;           // {name, button, timer}
let values = {};           // the last state, with when it came
let order = [];            // the nine values in the owner's order
let stateAt = 0;
const pending = new Map(); // id -> caption

function say(text, error) {
  const result = $('result');
  result.textContent = text;
  result.classList.toggle('error', !!error);
}

function setOnline(up) {
  online = up;
  document.body.classList.toggle('offline', !up);
  $('connection').textContent = up ? 'online' : 'offline';
  if (!up) {
    endHoldHere();
    for (const button of document.querySelectorAll('button[aria-pressed]'))
      button.setAttribute('aria-pressed', 'false');
    for (const [id, caption] of pending)
      say(caption + ': no answer (offline)', true);
    for (const button of document.querySelectorAll('#scene-buttons button'))
      button.setAttribute('aria-busy', 'false');
    pending.clear();
    renderValues();
  }
}

function build(layout) {
  const groups = $('groups');
  groups.textContent = '';
  for (const group of layout) {
    const section = document.createElement('section');
    section.className = 'group' + (group.technician ? ' technician' : '');
    section.hidden = !!group.technician && !$('technician').checked;
    section.style.borderColor = group.colour;
    const title = document.createElement('h2');
    title.textContent = group.group;
    section.append(title);
    const row = document.createElement('div');
    row.className = 'buttons';
    for (const entry of group.buttons) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = entry.caption;
      button.dataset.name = entry.name;
      button.style.background = entry.colour;
      // The window's captions repeat ("ON", "+"): the group says which.
      button.setAttribute('aria-label', group.group + ' ' + entry.caption);
      if (entry.choice)
        button.setAttribute('aria-pressed', 'false');
      if (entry.hold)
        holdable(button, entry.name);
      else
        button.addEventListener('click', () => press(button, entry.name));
      row.append(button);
    }
    section.append(row);
    groups.append(section);
  }
  built = true;
}

// The owner's scenes, a button each; their progress comes as the owner
// runs them, a line for each step as it ends.
function buildScenes(scenes) {
  const row = $('scene-buttons');
  row.textContent = '';
  for (const scene of scenes) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = scene.name;
    button.dataset.scene = scene.name;
    button.title = (scene.steps || []).join('; ');
    button.setAttribute('aria-label', 'Scene ' + scene.name);
    button.addEventListener('click', () => ask(button, 'Scene ' + scene.name, {scene: scene.name}));
    row.append(button);
  }
  $('scenes').hidden = scenes.length === 0;
}

function sceneProgress(id, event) {
  const name = event.scene || '';
  let text;
  if (event.started)
    text = name + ': started, ' + event.steps + ' steps';
  else if (event.end)
    text = name + ': ' + event.end + (event.why ? ', ' + event.why : '');
  else
    text = name + ' ' + event.step + '/' + event.steps + ' ' + event.did + ': '
      + (event.ok ? 'ok' : event.continued ? 'failed, going on' : 'failed') + (event.detail ? ', ' + event.detail : '');
  const progress = $('scene-progress');
  progress.textContent = text;
  const failed = event.end ? event.end !== 'done' : event.ok === false;
  progress.classList.toggle('error', failed);
  for (const button of document.querySelectorAll('#scene-buttons button'))
    button.setAttribute('aria-busy', !event.end && button.dataset.scene === name ? 'true' : 'false');
  if (event.end) {
    pending.delete(id);
    say('Scene ' + text, failed);
  }
}

function refused(button, what) {
  say(what + ': not sent, offline', true);
  if (button) {
    button.classList.remove('refused');
    void button.offsetWidth;
    button.classList.add('refused');
  }
}

function send(object) {
  socket.send(JSON.stringify(object));
}

function ask(button, caption, request) {
  if (!online || !socket || socket.readyState !== WebSocket.OPEN)
    return refused(button, caption);
  const id = nextId++;
  request.id = id;
  const address = $('address').value;
  if ($('technician').checked && address !== 'single')
    request.address = address;
  pending.set(id, caption);
  say(caption + ': sent ...', false);
  send(request);
}

function press(button, name) {
  ask(button, button.getAttribute('aria-label'), {press: name});
}

function holdable(button, name) {
  const start = (event) => {
    event.preventDefault();
    if (held)
      return;
    if (!online)
      return refused(button, button.getAttribute('aria-label'));
    held = {name, button, timer: setInterval(() => send({alive: name}), ALIVE_MS)};
    button.classList.add('held');
    send({hold: name});
  };
  const stop = () => {
    if (!held || held.name !== name)
      return;
    if (online)
      send({release: name});
    endHoldHere();
  };
  button.addEventListener('pointerdown', start);
  button.addEventListener('pointerup', stop);
  button.addEventListener('pointercancel', stop);
  button.addEventListener('pointerleave', stop);
  button.addEventListener('keydown', (event) => {
    if ((event.key === ' ' || event.key === 'Enter') && !event.repeat)
      start(event);
  });
  button.addEventListener('keyup', (event) => {
    if (event.key === ' ' || event.key === 'Enter')
      stop();
  });
  button.addEventListener('blur', stop);
  button.addEventListener('contextmenu', (event) => event.preventDefault());
}

function endHoldHere() {
  if (!held)
    return;
  clearInterval(held.timer);
  held.button.classList.remove('held');
  held = null;
}

function resultText(result) {
  if (result.error)
    return result.error;
  const parts = [];
  if (result.monitor !== undefined)
    parts.push(result.monitor === '' ? '(no reply)' : result.monitor);
  if (result.status)
    parts.push(result.status);
  if (result.cached)
    parts.push('(from ' + (result.age_ms / 1000).toFixed(1) + ' s ago)');
  return parts.join('  ') || JSON.stringify(result);
}

function ago(ms) {
  return ms < 60000 ? (ms / 1000).toFixed(0) + ' s ago' : Math.round(ms / 60000) + ' min ago';
}

function renderValues() {
  const list = $('value-list');
  list.textContent = '';
  for (const name of order.length ? order : Object.keys(values)) {
    const value = values[name] || {};
    const term = document.createElement('dt');
    term.textContent = name;
    const text = document.createElement('dd');
    if (!online) {
      text.textContent = 'unknown (offline)';
      text.className = 'unknown';
    } else if (value.status === null || value.status === undefined) {
      text.textContent = 'unknown' + (value.unknown_since ? ' since ' + value.unknown_since.slice(11, 19) + ' UTC' : '');
      text.className = 'unknown';
    } else {
      text.textContent = value.status + ' ';
      const age = document.createElement('span');
      age.className = 'age';
      age.textContent = '(read ' + ago(value.age_ms + (Date.now() - stateAt)) + ')';
      text.append(age);
    }
    list.append(term, text);
  }
}

function showState(message) {
  if (!stateAt)
    performance.mark('first-state'); // for the page's benchmark
  values = message.state || {};
  stateAt = Date.now();
  const lit = new Set(message.lit || []);
  for (const button of document.querySelectorAll('button[aria-pressed]'))
    button.setAttribute('aria-pressed', lit.has(button.dataset.name) ? 'true' : 'false');
  renderValues();
}

function received(event) {
  pingedAt = 0; // anything heard answers it
  let message;
  try {
    message = JSON.parse(event.data);
  } catch (e) {
    return;
  }
  if (message.hello) {
    if (version !== null && message.hello.version !== version)
      return location.reload();
    if (version !== null)
      say('online again', false); // what was said during the outage is over
    version = message.hello.version;
    $('line').textContent = message.hello.line || '';
    order = message.hello.values || [];
    if (!built)
      build(message.hello.layout);
    attempt = 0;
    $('login').hidden = true;
    $('panel').hidden = false;
    setOnline(true);
  } else if (message.state) {
    showState(message);
  } else if (Array.isArray(message.scenes)) {
    buildScenes(message.scenes);
  } else if (message.scene && typeof message.scene === 'object') {
    sceneProgress(message.id, message.scene);
  } else if ('result' in message) {
    const caption = pending.get(message.id) || 'hold';
    pending.delete(message.id);
    say(caption + ': ' + resultText(message.result), !!message.result.error);
  } else if (message.hold && message.ended) {
    if (held && held.name === message.hold)
      endHoldHere();
    if (message.ended !== 'released')
      say(message.hold + ': hold ended (' + message.ended + ')', true);
  }
}

function connect() {
  const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws');
  socket = ws;
  pingedAt = 0;
  ws.onmessage = received;
  ws.onclose = () => {
    if (socket !== ws)
      return;
    socket = null;
    setOnline(false);
    retry();
  };
}

function retry() {
  const wait = BACKOFF_MS[Math.min(attempt, BACKOFF_MS.length - 1)];
  attempt++;
  setTimeout(check, wait);
}

// Asks the server how things stand before opening the socket again: a new
// version reloads the page (once: the new page starts with that version),
// a lost session asks for the PIN, and no answer waits longer.
async function check() {
  let session;
  try {
    // A server that hangs is no answer either.
    const answer = await fetch('/session', {cache: 'no-store', credentials: 'same-origin',
                                            signal: AbortSignal.timeout(3000)});
    session = await answer.json();
  } catch (e) {
    return retry();
  }
  if (version !== null && session.version !== version)
    return location.reload();
  if (!session.session) {
    if (session.pin)
      return askPin('');
    return retry();
  }
  connect();
}

function askPin(why) {
  $('login').hidden = false;
  $('panel').hidden = !built;
  $('login-error').textContent = why;
  $('pin').focus();
}

$('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  try {
    const answer = await fetch('/login', {method: 'POST', body: $('pin').value, credentials: 'same-origin'});
    const body = await answer.json();
    $('pin').value = '';
    if (!answer.ok)
      return askPin(body.error || 'refused');
    $('login').hidden = true;
    connect();
  } catch (e) {
    askPin('offline: try again when the page says online');
  }
});

$('technician').addEventListener('change', () => {
  for (const section of document.querySelectorAll('.technician'))
    section.hidden = !$('technician').checked;
});

$('command-line').addEventListener('submit', (event) => {
  event.preventDefault();
  const text = $('line-text').value;
  if (text)
    ask(null, 'SEND ' + text, {send: text});
});

// Silence is measured from a ping not yet answered, not from the last
// message: a tab whose timers the browser slows down is not taken for offline.
setInterval(() => {
  if (!socket || socket.readyState !== WebSocket.OPEN)
    return;
  if (!pingedAt) {
    pingedAt = Date.now();
    send({ping: pingedAt});
  } else if (online && Date.now() - pingedAt > SILENCE_MS) {
    // No answer: the network is gone even if the socket does not know yet.
    const stale = socket;
    socket = null;
    pingedAt = 0;
    stale.close();
    setOnline(false);
    retry();
  }
}, HEARTBEAT_MS);
setInterval(() => { if (online) renderValues(); }, 1000);

check();
