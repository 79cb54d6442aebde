// The console page of the real server in a real browser: two members report their positions, a
// person opens the page, logs in, sees both on the map and in the table, watches a point move,
// and kicks a member.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { WireMember, artifactDir, launchBrowser, startServer } from './driver.mjs';

const TOKEN = 'correct horse battery staple';
const lobby = { name: 'Lobby', password: 'secret', seats: 10 };
let server;
let browser;
let page;
let ann;
let bob;

before(async () => {
  server = await startServer({ token: TOKEN, networks: [lobby, { name: 'Arena', password: 'x', seats: 4 }] });
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
  await browser?.close();
  await server?.stop();
});

const point = (name) => page.locator(`#map g.member[data-name="${name}"]`);
const row = (name) => page.locator(`#members tbody tr[data-name="${name}"]`);

test('both members appear on the map and in the table, marked as they stand', async () => {
  await page.goto(server.url + '#network=Lobby');
  await page.locator('#token').fill(TOKEN);
  await page.locator('#login button').click();
  await page.locator('#logout').waitFor();

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
    { timeout: 2000 },  // the page follows positions at least twice a second
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
