// The console page: polls the server's JSON and draws the chosen network's map and tables.
// Every text from the server goes into the page as text (textContent, attributes), never as
// markup: member names are chosen by clients.
'use strict';

const MEMBERS_EVERY_MS = 400;  // the map follows positions at least twice a second
const OTHERS_EVERY_MS = 2000;
const SVG = 'http://www.w3.org/2000/svg';
const MAP_WIDTH = 600;
const MAP_HEIGHT = 400;
const MAP_MARGIN = 40;

const state = {
  access: { tokenConfigured: false, reads: false, actions: false },
  networks: [],
  chosen: null,
  members: [],
  bounds: null,  // grows to take in every position seen, so points do not jump as others move
  facet: '',
};

const $ = (id) => document.getElementById(id);

function element(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = String(text);
  if (className) node.className = className;
  return node;
}

function svgElement(tag, attributes) {
  const node = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes || {})) node.setAttribute(name, value);
  return node;
}

function say(text) { $('status').textContent = text; }

// What came of the operator's last action; stays until the next one.
function report(text) { $('result').textContent = text; }

function notice(text) {
  $('notice').textContent = text;
  $('notice').hidden = !text;
}

async function api(path, options) {
  const response = await fetch(path, Object.assign({ credentials: 'same-origin' }, options));
  let body = null;
  try { body = await response.json(); } catch (_) { /* not JSON */ }
  if (!response.ok) {
    const error = new Error((body && body.error) || response.statusText);
    error.status = response.status;
    throw error;
  }
  return body;
}

function post(path, fields) {
  return api(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(fields),
  });
}

function networkPath(name, rest) {
  return '/api/networks/' + encodeURIComponent(name) + '/' + rest;
}

// --- access -----------------------------------------------------------------------------------

async function loadAccess() {
  state.access = await api('/api/access');
  const { tokenConfigured, reads, actions } = state.access;
  $('login').hidden = !tokenConfigured || actions;
  $('logout').hidden = !actions;
  $('console').hidden = !reads;
  document.body.classList.toggle('reader', !actions);
  if (!reads) notice('Log in with the console token to see the networks.');
  else if (!tokenConfigured) notice('Actions are off: the server has no StatusToken set.');
  else if (!actions) notice('Log in with the console token to kick, ban, lift bans and announce.');
  else notice('');
}

$('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  try {
    await post('/api/login', { token: $('token').value });
    $('token').value = '';
    await loadAccess();
    refreshAll();
  } catch (error) {
    report(error.status === 401 ? 'That token is not the right one.' : 'Log-in failed: ' + error.message);
  }
});

$('logout').addEventListener('click', async () => {
  await post('/api/logout', {});
  await loadAccess();
});

// --- networks ---------------------------------------------------------------------------------

function seatBar(used, capacity) {
  const bar = element('span', undefined, 'seats');
  const fill = element('span');
  fill.style.width = capacity > 0 ? Math.min(100, (100 * used) / capacity) + '%' : '0';
  bar.append(fill);
  return bar;
}

function drawNetworks() {
  const body = $('networks').tBodies[0];
  body.replaceChildren();
  for (const network of state.networks) {
    const row = element('tr');
    row.dataset.name = network.name;
    if (!network.enabled) row.classList.add('disabled');
    if (state.chosen && network.name === state.chosen) row.classList.add('chosen');
    row.append(element('td', network.name + (network.enabled ? '' : ' (off)')),
      element('td', network.port, 'number'));
    const seats = element('td', undefined, 'seat-use');
    seats.append(seatBar(network.seatsUsed, network.capacity),
      document.createTextNode(network.seatsUsed + ' / ' + network.capacity));
    row.append(seats);
    row.addEventListener('click', () => choose(network.name));
    body.append(row);
  }
}

async function loadNetworks() {
  const answer = await api('/api/networks');
  state.networks = answer.networks;
  if (!state.chosen && state.networks.length > 0) {
    const wanted = decodeURIComponent(location.hash.replace(/^#network=/, ''));
    const found = state.networks.find((n) => n.name === wanted);
    state.chosen = (found || state.networks[0]).name;
    showChosen();
  }
  drawNetworks();
}

function choose(name) {
  if (name === state.chosen) return;
  state.chosen = name;
  state.members = [];
  state.bounds = null;
  state.facet = '';
  history.replaceState(null, '', '#network=' + encodeURIComponent(name));
  showChosen();
  drawNetworks();
  refreshAll();
}

function showChosen() {
  $('network-pane').hidden = !state.chosen;
  $('network-title').textContent = state.chosen || '';
}

// --- map --------------------------------------------------------------------------------------

function shownMembers() {
  return state.members.filter((m) => state.facet === '' || String(m.facet) === state.facet);
}

function growBounds(members) {
  for (const m of members) {
    const b = state.bounds;
    if (!b) state.bounds = { minX: m.x, maxX: m.x, minY: m.y, maxY: m.y };
    else {
      b.minX = Math.min(b.minX, m.x); b.maxX = Math.max(b.maxX, m.x);
      b.minY = Math.min(b.minY, m.y); b.maxY = Math.max(b.maxY, m.y);
    }
  }
}

// Game coordinates to the drawing: one scale for both axes, y growing downwards as on the map.
function projection() {
  const b = state.bounds;
  const spanX = Math.max(b.maxX - b.minX, 1);
  const spanY = Math.max(b.maxY - b.minY, 1);
  const scale = Math.min((MAP_WIDTH - 2 * MAP_MARGIN) / spanX, (MAP_HEIGHT - 2 * MAP_MARGIN) / spanY);
  const offsetX = (MAP_WIDTH - scale * (b.maxX - b.minX)) / 2;
  const offsetY = (MAP_HEIGHT - scale * (b.maxY - b.minY)) / 2;
  const place = (x, y) => [offsetX + scale * (x - b.minX), offsetY + scale * (y - b.minY)];
  place.inverse = (px, py) => [b.minX + (px - offsetX) / scale, b.minY + (py - offsetY) / scale];
  return place;
}

// Faint lines at round coordinates across the whole drawing, labelled, so that places and
// distances can be read off the map.
function drawGrid(map, place) {
  const [x0, y0] = place.inverse(0, 0);
  const [x1, y1] = place.inverse(MAP_WIDTH, MAP_HEIGHT);
  const step = 10 ** Math.floor(Math.log10(Math.max(x1 - x0, y1 - y0) / 3));
  for (let x = Math.ceil(x0 / step) * step; x <= x1; x += step) {
    const [px] = place(x, 0);
    map.append(svgElement('line', { x1: px, y1: 0, x2: px, y2: MAP_HEIGHT, class: 'grid' }));
    const label = svgElement('text', { x: px + 2, y: 10, class: 'axis' });
    label.textContent = Math.round(x);
    map.append(label);
  }
  for (let y = Math.ceil(y0 / step) * step; y <= y1; y += step) {
    const [, py] = place(0, y);
    map.append(svgElement('line', { x1: 0, y1: py, x2: MAP_WIDTH, y2: py, class: 'grid' }));
    const label = svgElement('text', { x: 2, y: py - 2, class: 'axis' });
    label.textContent = Math.round(y);
    map.append(label);
  }
}

function drawMap() {
  const map = $('map');
  const members = shownMembers();
  map.replaceChildren();
  if (members.length === 0) {
    const empty = svgElement('text', { x: MAP_WIDTH / 2, y: MAP_HEIGHT / 2, 'text-anchor': 'middle', class: 'empty' });
    empty.textContent = 'No member has reported a position.';
    map.append(empty);
    return;
  }
  growBounds(members);
  const place = projection();
  drawGrid(map, place);
  for (const m of members) {
    const [px, py] = place(m.x, m.y);
    const group = svgElement('g', { class: 'member', transform: `translate(${px.toFixed(1)} ${py.toFixed(1)})` });
    if (m.inBattle) group.classList.add('battle');
    if (m.isDead) group.classList.add('dead');
    group.dataset.name = m.name;
    group.dataset.x = m.x;
    group.dataset.y = m.y;
    const title = svgElement('title');
    title.textContent = `${m.name}: ${m.x}, ${m.y}, facet ${m.facet}, HP ${m.hp}` +
      (m.inBattle ? ', in battle' : '') + (m.isDead ? ', dead' : '');
    group.append(title, svgElement('circle', { r: 6 }));
    if (m.isDead) group.append(svgElement('line', { x1: -3, y1: -3, x2: 3, y2: 3 }), svgElement('line', { x1: -3, y1: 3, x2: 3, y2: -3 }));
    const label = svgElement('text', { x: 9, y: 4 });
    label.textContent = m.name;
    group.append(label);
    map.append(group);
  }
}

function drawFacets() {
  const select = $('facet');
  const facets = [...new Set(state.members.map((m) => String(m.facet)))].sort((a, b) => a - b);
  const have = [...select.options].slice(1).map((o) => o.value);
  if (facets.join() === have.join()) return;
  select.replaceChildren(element('option', 'all'));
  select.options[0].value = '';
  for (const f of facets) {
    const option = element('option', f);
    option.value = f;
    select.append(option);
  }
  select.value = facets.includes(state.facet) ? state.facet : '';
  state.facet = select.value;
}

$('facet').addEventListener('change', () => {
  state.facet = $('facet').value;
  state.bounds = null;
  drawMap();
});

// --- tables -----------------------------------------------------------------------------------

function since(iso) {
  const when = new Date(iso);
  return isNaN(when) ? iso : when.toLocaleString();
}

function actionButton(label, handler) {
  const button = element('button', label);
  button.type = 'button';
  button.addEventListener('click', handler);
  return button;
}

function drawMembers() {
  const body = $('members').tBodies[0];
  body.replaceChildren();
  for (const m of state.members) {
    const row = element('tr');
    row.dataset.name = m.name;
    const stateText = m.isDead ? 'dead' : m.inBattle ? 'in battle' : '';
    const place = [m.location, m.country].filter(Boolean).join(', ');
    row.append(element('td', m.name), element('td', m.address), element('td', place),
      element('td', m.x, 'number'), element('td', m.y, 'number'), element('td', m.facet, 'number'),
      element('td', m.hp, 'number'),
      element('td', stateText, m.isDead ? 'state-dead' : m.inBattle ? 'state-battle' : ''),
      element('td', since(m.connectedSince)), element('td', m.messagesSent, 'number'));
    const acts = element('td', undefined, 'acts');
    acts.append(actionButton('Kick…', () => act('kick', m.name)), actionButton('Ban…', () => act('ban', m.name)));
    row.append(acts);
    body.append(row);
  }
}

function drawBans(bans) {
  const body = $('bans').tBodies[0];
  body.replaceChildren();
  if (bans.length === 0) {
    const row = element('tr');
    const cell = element('td', 'No bans on this network.');
    cell.colSpan = 6;
    row.append(cell);
    body.append(row);
  }
  for (const ban of bans) {
    const row = element('tr');
    row.dataset.id = ban.id;
    row.append(element('td', ban.id, 'number'), element('td', ban.address), element('td', ban.by),
      element('td', ban.reason), element('td', since(ban.banDate)));
    const acts = element('td', undefined, 'acts');
    acts.append(actionButton('Lift…', () => act('lift', ban.id, ban.address)));
    row.append(acts);
    body.append(row);
  }
}

async function loadMembers() {
  if (!state.chosen) return;
  const chosen = state.chosen;
  const answer = await api(networkPath(chosen, 'members'));
  if (chosen !== state.chosen) return;  // the operator chose another network meanwhile
  state.members = answer.members;
  drawFacets();
  drawMap();
  drawMembers();
}

async function loadBans() {
  if (!state.chosen) return;
  const chosen = state.chosen;
  const answer = await api(networkPath(chosen, 'bans'));
  if (chosen === state.chosen) drawBans(answer.bans);
}

// --- actions ----------------------------------------------------------------------------------

function confirmAction(question, withReason) {
  const dialog = $('confirm');
  $('confirm-question').textContent = question;
  $('confirm-reason-label').hidden = !withReason;
  $('confirm-reason').value = '';
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok' ? $('confirm-reason').value : null), { once: true });
    dialog.showModal();
  });
}

async function act(verb, subject, detail) {
  const network = state.chosen;
  const questions = {
    kick: `Kick ${subject} from ${network}?`,
    ban: `Ban ${subject} on ${network}? The address is recorded and refused until the ban is lifted.`,
    lift: `Lift ban ${subject} (${detail}) on ${network}?`,
    announce: `Send this announcement to every member of ${network}?\n\n${subject}`,
  };
  const reason = await confirmAction(questions[verb], verb === 'kick' || verb === 'ban');
  if (reason === null) return;
  const fields = verb === 'lift' ? { id: subject } : verb === 'announce' ? { text: subject } : { user: subject, reason };
  try {
    const answer = await post(networkPath(network, verb), fields);
    report(answer.message || 'Done.');
    if (verb === 'announce') $('announce-text').value = '';
  } catch (error) {
    report('Not done: ' + error.message);
    if (error.status === 401) await loadAccess();
  }
  refreshAll();
}

$('announce').addEventListener('submit', (event) => {
  event.preventDefault();
  const text = $('announce-text').value.trim();
  if (text) act('announce', text);
});

// --- polling ----------------------------------------------------------------------------------

async function guarded(load) {
  try {
    await load();
    return true;
  } catch (error) {
    if (error.status === 401) await loadAccess().catch(() => {});
    say('The server does not answer: ' + error.message);
    return false;
  }
}

function refreshAll() {
  guarded(loadNetworks).then(() => guarded(loadMembers)).then(() => guarded(loadBans));
}

function every(ms, load) {
  const tick = async () => {
    if (state.access.reads && (await guarded(load))) say('Updated ' + new Date().toLocaleTimeString());
    setTimeout(tick, ms);
  };
  setTimeout(tick, ms);
}

async function start() {
  try {
    await loadAccess();
  } catch (error) {
    say('The server does not answer: ' + error.message);
  }
  if (state.access.reads) refreshAll();
  every(MEMBERS_EVERY_MS, loadMembers);
  every(OTHERS_EVERY_MS, async () => { await loadNetworks(); await loadBans(); });
  setInterval(() => loadAccess().catch(() => {}), 10000);
}

start();
