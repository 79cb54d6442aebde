// The console page in a real browser: a person opens it, logs in, sees the members on the map
// and in the table, watches a point move, and kicks a member.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { artifactDir, launchBrowser, startStandIn } from './driver.mjs';

const TOKEN = 'correct horse battery staple';
let server;
let browser;
let page;

before(async () => {
  server = await startStandIn(TOKEN);
  browser = await launchBrowser();
  page = await browser.context.newPage();
  page.setDefaultTimeout(10000);
  page.on('pageerror', (error) => { throw error; });
});

after(async () => {
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
  assert.equal(await row('Ann').locator('td').nth(2).textContent(), 'Springfield, Utopia');
  assert.match(await page.locator('#networks tbody tr[data-name="Lobby"]').textContent(), /2 \/ 10/);
  await page.screenshot({ path: path.join(artifactDir, 'console.png'), fullPage: true });
});

test('a point moves after a new report', async () => {
  const before = await point('Ann').getAttribute('transform');
  server.send('move Ann 150 90');
  await page.waitForFunction(
    (old) => {
      const g = document.querySelector('#map g.member[data-name="Ann"]');
      return g && g.dataset.x === '150' && g.getAttribute('transform') !== old;
    },
    before,
    { timeout: 2000 },  // the page follows positions at least twice a second
  );
  assert.equal(await row('Ann').locator('td').nth(3).textContent(), '150');
});

test('a member kicked from the page is gone, and the kick is in the log', async () => {
  await row('Ann').getByRole('button', { name: 'Kick…' }).click();
  const dialog = page.locator('#confirm');
  await dialog.waitFor();
  assert.match(await page.locator('#confirm-question').textContent(), /Kick Ann from Lobby\?/);
  await page.locator('#confirm-reason').fill('away too long');
  await page.locator('#confirm-ok').click();

  await row('Ann').waitFor({ state: 'detached' });
  await point('Ann').waitFor({ state: 'detached' });
  assert.equal(await row('Bob').count(), 1);
  await server.waitForLog(/^Ann on network Lobby Kicked: away too long \(web console\)$/);
  await page.screenshot({ path: path.join(artifactDir, 'console-after-kick.png'), fullPage: true });
});
