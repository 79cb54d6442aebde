// The console page of the real server in a real browser: two members report their positions, a
// person opens the page, logs in, sees both on the map and in the table, watches a point move,
// and kicks a member; then a crowd gathers on another network, and the map must keep every name
// readable and its frame steady.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { WireMember, artifactDir, launchBrowser, startServer } from './driver.mjs';

const TOKEN = 'correct horse battery staple';
const lobby = { name: 'Lobby', password: 'secret', seats: 10 };
const arena = { name: 'Arena', password: 'x', seats: 8 };
let server;
let browser;
let page;
let ann;
let bob;
const crowd = new Map();  // name -> member on Arena

before(async () => {
  server = await startServer({ token: TOKEN, networks: [lobby, arena] });
  const member = (name, sourceAddress) => WireMember.logIn({
    port: lobby.port, network: 'Lobby', password: lobby.password, name, sourceAddress,
  });
  ann = await member('Ann', '127.0.0.2');
  bob = await member('Bob', '127.0.0.3');
  ann.report(1520, 2240, 1, 57, true, false);
  bob.report(300, 400, 1, 0, false, true);
  await bob.next(5);  // Ann's report has been relayed, so both are stored
  browser = await launchBrowser();
  page = await browser.context.newPage();
  page.setDefaultTimeout(10000);
  page.on('pageerror', (error) => { throw error; });
});

after(async () => {
  ann?.close();
  bob?.close();
  for (const member of crowd.values()) member.close();
  await browser?.close();
  await server?.stop();
});

const point = (name) => page.locator(`#map g.member[data-name="${name}"]`);
const row = (name) => page.locator(`#members tbody tr[data-name="${name}"]`);

test('both members appear on the map and in the table, marked as they stand', async () => {
  // Arena comes first by name but is empty: the page opens on the network with members.
  await page.goto(server.url);
  await page.locator('#token').fill(TOKEN);
  await page.locator('#login button').click();
  await page.locator('#logout').waitFor();
  await page.waitForFunction(() => document.querySelector('#network-title').textContent !== '');
  assert.equal(await page.locator('#network-title').textContent(), 'Lobby');

  for (const name of ['Ann', 'Bob']) {
    await point(name).waitFor();
    assert.equal(await point(name).locator('text').textContent(), name);
    await row(name).waitFor();
  }
  assert.match(await point('Ann').getAttribute('class'), /\bbattle\b/);
  assert.match(await point('Bob').getAttribute('class'), /\bdead\b/);
  assert.equal(await row('Ann').locator('td').nth(1).textContent(), '127.0.0.2');
  assert.equal(await row('Bob').locator('td').nth(3).textContent(), '300');
  assert.match(await page.locator('#networks tbody tr[data-name="Lobby"]').textContent(), /2 \/ 10/);
  await page.screenshot({ path: path.join(artifactDir, 'console.png') });
});

test('a point moves after a new report', async () => {
  const before = await point('Ann').getAttribute('transform');
  ann.report(1600, 2100, 1, 50, false, false);
  await page.waitForFunction(
    (old) => {
      const g = document.querySelector('#map g.member[data-name="Ann"]');
      return g && g.dataset.x === '1600' && g.getAttribute('transform') !== old;
    },
    before,
  );
  assert.equal(await row('Ann').locator('td').nth(3).textContent(), '1600');
  assert.doesNotMatch(await point('Ann').getAttribute('class'), /\bbattle\b/);
});

test('a member kicked from the page is gone, and the kick is in the log', async () => {
  await row('Ann').getByRole('button', { name: 'Kick…' }).click();
  const dialog = page.locator('#confirm');
  await dialog.waitFor();
  assert.match(await page.locator('#confirm-question').textContent(), /Kick Ann from Lobby\?/);
  await page.locator('#confirm-reason').fill('away too long');
  await page.locator('#confirm-ok').click();

  // The kicked client leaves on the notice, as map clients do; its departure reaches the page.
  assert.equal((await ann.next(996)).data, 'away too long');
  await row('Ann').waitFor({ state: 'detached' });
  await point('Ann').waitFor({ state: 'detached' });
  assert.equal(await row('Bob').count(), 1);
  assert.equal((await bob.next(6)).data, 'Ann');
  await server.waitForLog(/^Kick of Ann on network Lobby by the web console$/);
  await server.waitForLog(/^Ann on network Lobby Kicked: away too long$/);
  await page.screenshot({ path: path.join(artifactDir, 'console-after-kick.png'), fullPage: true });
});

// Members a few steps apart, as a party stands together; one name long enough to be cut.
const party = [
  ['Cleo', 1000, 1000], ['Dmitri of the Northern Marches', 1004, 1002], ['Eve', 998, 1005],
  ['Finn', 1006, 997], ['Gus', 1001, 1008], ['Hana', 995, 996],
];

const boxes = (selector) => page.locator(selector).evaluateAll((nodes) => nodes.map((node) => {
  const r = node.getBoundingClientRect();
  return { x: r.left, y: r.top, right: r.right, bottom: r.bottom };
}));
const apart = (a, b) => a.right <= b.x || b.right <= a.x || a.bottom <= b.y || b.bottom <= a.y;
const within = (a, outer) => a.x >= outer.x && a.right <= outer.right && a.y >= outer.y && a.bottom <= outer.bottom;
const translation = async (name) => (await point(name).getAttribute('transform')).match(/-?[\d.]+/g).map(Number);

test('on a crowded map every name is shown, clear of the others, of the points and of the edges', async () => {
  for (const [index, [name, x, y]] of party.entries()) {
    const member = await WireMember.logIn({
      port: arena.port, network: 'Arena', password: arena.password, name, sourceAddress: `127.0.0.${10 + index}`,
    });
    member.report(x, y, 1, 40, name === 'Eve', name === 'Gus');
    crowd.set(name, member);
  }
  // The page opens on the busiest network as the server's published snapshot tells it, so the
  // snapshot must have seen the whole party arrive first.
  await server.waitForNetworks((networks) =>
    networks.find((n) => n.name === 'Arena')?.members === party.length);
  await page.goto(server.url);  // Arena is now the busiest
  await page.waitForFunction((count) => document.querySelectorAll('#map .label').length === count, party.length);
  assert.equal(await page.locator('#network-title').textContent(), 'Arena');
  await page.screenshot({ path: path.join(artifactDir, 'console-crowd.png') });

  const [plot] = await boxes('#map .plot');
  const [map] = await boxes('#map');
  const labels = await boxes('#map .label');
  const points = await boxes('#map .member circle');
  for (const [i, label] of labels.entries()) {
    assert.ok(within(label, plot), `label ${i} inside the plot`);
    for (const other of labels.slice(i + 1)) assert.ok(apart(label, other), `label ${i} clear of the others`);
    for (const p of points) assert.ok(apart(label, p), `label ${i} clear of every point`);
  }
  for (const label of await boxes('#map .axis text')) assert.ok(apart(label, plot) && within(label, map));
  // The members' table stands beside the map, in view.
  const [table] = await boxes('#members');
  assert.ok(table.x >= map.right && table.bottom <= 900, JSON.stringify({ table, map }));
});

test('the frame holds while members move inside it, yields to drag, zoom and fit, and follows one who leaves it', async () => {
  const axis = () => page.locator('#map .axis').textContent();
  // The frame was fitted to whoever had arrived first; from a fit to the whole party on, it holds.
  await page.locator('#zoom-fit').click();
  await page.evaluate(() => new Promise((resolve) => { requestAnimationFrame(() => requestAnimationFrame(resolve)); }));
  const start = { cleo: await translation('Cleo'), axis: await axis() };
  const reported = (name, x) => page.waitForFunction(([n, v]) =>
    document.querySelector(`#map g.member[data-name="${n}"]`)?.dataset.x === v, [name, String(x)]);

  crowd.get('Eve').report(999, 1004, 1, 40, false, false);  // a step inside the party
  await reported('Eve', 999);
  assert.deepEqual(await translation('Cleo'), start.cleo);
  assert.equal(await axis(), start.axis);

  const map = await page.locator('#map').boundingBox();
  await page.mouse.move(map.x + 60, map.y + 60);
  await page.mouse.down();
  await page.mouse.move(map.x + 140, map.y + 110, { steps: 4 });
  await page.mouse.up();
  await page.waitForFunction(() => document.querySelector('#map').dataset.follow === 'false');
  const dragged = await translation('Cleo');
  assert.ok(Math.abs(dragged[0] - start.cleo[0] - 80) < 0.2 && Math.abs(dragged[1] - start.cleo[1] - 50) < 0.2);

  await page.locator('#zoom-in').click();
  await page.waitForFunction((old) => document.querySelector('#map .axis').textContent !== old, start.axis);
  await page.locator('#zoom-fit').click();
  await page.waitForFunction((old) => document.querySelector('#map .axis').textContent === old, start.axis);
  assert.deepEqual(await translation('Cleo'), start.cleo);

  crowd.get('Finn').report(3000, 2500, 1, 40, false, false);
  await reported('Finn', 3000);
  const [plot] = await boxes('#map .plot');
  for (const p of await boxes('#map .member circle')) assert.ok(within(p, plot));
});
