// The console page: polls the server's JSON and draws the chosen network's map and tables.
// Every text from the server goes into the page as text (textContent, attributes), never as
// markup: member names are chosen by clients.
'use strict';

const MEMBERS_EVERY_MS = 400;  // the map follows positions at least twice a second
const OTHERS_EVERY_MS = 2000;

const state = {
  access: { tokenConfigured: false, reads: false, actions: false },
  networks: [],
  chosen: null,
  members: [],
  picked: false,  // the operator chose the network, by a click or the page's address
  facet: '',
};

const $ = (id) => document.getElementById(id);

function element(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = String(text);
  if (className) node.className = className;
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
  if (!state.picked && state.networks.length > 0) {
    const wanted = decodeURIComponent(location.hash.replace(/^#network=/, ''));
    const found = state.networks.find((n) => n.name === wanted);
    // Until the operator picks one, the page shows the busiest network: an empty one tells nothing.
    const busiest = state.networks.reduce((best, n) => (n.members > best.members ? n : best));
    const current = state.networks.find((n) => n.name === state.chosen);
    if (found) {
      state.picked = true;
      open(found.name);
    } else if (!current || (current.members === 0 && busiest.members > 0)) {
      open(busiest.name);
    }
  }
  drawNetworks();
}

function open(name) {
  state.chosen = name;
  state.members = [];
  state.facet = '';
  memberMap.reset();
  memberMap.show([]);
  showChosen();
}

function choose(name) {
  if (name === state.chosen) return;
  state.picked = true;
  open(name);
  history.replaceState(null, '', '#network=' + encodeURIComponent(name));
  drawNetworks();
  refreshAll();
}

function showChosen() {
  $('network-pane').hidden = !state.chosen;
  $('map-pane').hidden = !state.chosen;
  $('network-title').textContent = state.chosen || '';
}

// --- map --------------------------------------------------------------------------------------

const memberMap = new MemberMap($('map'), $('map-note'));

function shownMembers() {
  return state.members.filter((m) => state.facet === '' || String(m.facet) === state.facet);
}

$('zoom-in').addEventListener('click', () => memberMap.zoom(ZOOM_STEP));
$('zoom-out').addEventListener('click', () => memberMap.zoom(1 / ZOOM_STEP));
$('zoom-fit').addEventListener('click', () => memberMap.fit());

function drawFacets() {
  const select = $('facet');
  const placed = state.members.filter((m) => m.reported);
  const facets = [...new Set(placed.map((m) => String(m.facet)))].sort((a, b) => a - b);
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
  memberMap.reset();
  memberMap.show(shownMembers());
});

// --- tables -----------------------------------------------------------------------------------

function since(iso) {
  const when = new Date(iso);
  return isNaN(when) ? iso : when.toLocaleString();
}

// An IPv6 address may break after its colons, where an IPv4 address stays whole; <wbr> rather
// than a character, so that a copied address is the address.
function addressCell(address) {
  const cell = element('td');
  String(address).split(':').forEach((part, i) => {
    if (i > 0) cell.append(':', document.createElement('wbr'));
    cell.append(part);
  });
  return cell;
}

// A time of today without its date, to keep the members' table narrow beside the map; the whole
// date and time in the cell's tooltip.
function sinceCell(iso) {
  const when = new Date(iso);
  const today = !isNaN(when) && when.toDateString() === new Date().toDateString();
  const cell = element('td', today ? when.toLocaleTimeString() : since(iso), 'when');
  cell.title = since(iso);
  return cell;
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
    row.append(element('td', m.name), addressCell(m.address), element('td', place),
      element('td', m.x, 'number'), element('td', m.y, 'number'), element('td', m.facet, 'number'),
      element('td', m.hp, 'number'),
      element('td', stateText, 'state' + (m.isDead ? ' state-dead' : m.inBattle ? ' state-battle' : '')),
      sinceCell(m.connectedSince), element('td', m.messagesSent, 'number'));
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
  memberMap.show(shownMembers());
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
