// What the browser scenarios stand on: the real server laid out in a folder of its own, members
// that speak its wire protocol, and Debian's Chromium started headless with the flags this
// closed network needs.
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import {
  copyFileSync, existsSync, linkSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync,
} from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const here = path.dirname(new URL(import.meta.url).pathname);
export const buildDir = path.resolve(process.env.VELMORA_BUILD_DIR || path.join(here, '../../build'));
export const artifactDir = path.join(buildDir, 'browser');
mkdirSync(artifactDir, { recursive: true });

// Without the background-networking flags Chromium keeps trying hosts it cannot reach here.
const CHROMIUM_FLAGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

export async function launchBrowser() {
  const profile = mkdtempSync(path.join(tmpdir(), 'velmora-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.VELMORA_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 900 },
    timeout: 60000,
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

// Polls `test` (which may be async) until it gives a truthy value.
async function until(what, test, ms) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

// A port nothing listens on right now, below the range the kernel hands out to outgoing
// connections: a port from that range could be taken by any other program's connection before
// the server gets to bind it.
async function freePort() {
  for (let attempt = 0; attempt < 100; attempt += 1) {
    const port = 20000 + Math.floor(Math.random() * 12000);
    const probe = net.createServer();
    const free = await new Promise((resolve) => {
      probe.once('error', () => resolve(false));
      probe.listen(port, '127.0.0.1', () => resolve(true));
    });
    if (free) {
      await new Promise((resolve) => { probe.close(resolve); });
      return port;
    }
  }
  throw new Error('no free port');
}

const xml = (text) => String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;')
  .replace(/>/g, '&gt;').replace(/"/g, '&quot;');

// The server binary in a folder of its own, as an operator installs it: velmora.conf and
// velmora-server/ beside it, the log in a private data folder. The console listens on a port of
// its choosing on 127.0.0.1, which its log line tells.
export async function startServer({ token, networks }) {
  const root = mkdtempSync(path.join(tmpdir(), 'velmora-browser-'));
  const binary = path.join(root, 'velmora');
  try {
    linkSync(path.join(buildDir, 'velmora'), binary);
  } catch {
    copyFileSync(path.join(buildDir, 'velmora'), binary);
  }
  mkdirSync(path.join(root, 'velmora-server'));
  mkdirSync(path.join(root, 'data'));
  for (const network of networks) {
    network.port = await freePort();
    writeFileSync(path.join(root, 'velmora-server', `${network.name}.conf`),
      `<?xml version="1.0"?>\n<velmora><network name="${xml(network.name)}" ` +
      `password="${xml(network.password)}" maxusers="${network.seats}" enabled="1" ` +
      `port="${network.port}">\n</network></velmora>\n`);
  }
  // An empty AttachedNIC listens on every local address, loopback included.
  writeFileSync(path.join(root, 'velmora.conf'),
    '<?xml version="1.0"?>\n<settings>\n' +
    '  <setting namestring="AttachedNIC" valuestring="" />\n' +
    '  <setting namestring="StatusAddress" valuestring="127.0.0.1:0" />\n' +
    `  <setting namestring="StatusToken" valuestring="${xml(token)}" />\n` +
    '</settings>\n');

  const logPath = path.join(root, 'data', 'com.velmora.log');
  const child = spawn(binary, [], {
    cwd: root,
    env: { ...process.env, XDG_DATA_HOME: path.join(root, 'data') },
    stdio: ['ignore', 'inherit', 'inherit'],
  });
  let exited = false;
  child.once('exit', () => { exited = true; });

  // The messages of the log, without their "[date time] " stamps.
  const log = () => {
    if (!existsSync(logPath)) return [];
    return readFileSync(logPath, 'utf8').split('\n').filter((line) => line !== '')
      .map((line) => line.replace(/^\[[^\]]*\] /, ''));
  };
  const url = await until('the console to listen', () => {
    if (exited) throw new Error(`the server exited; its log: ${log().join(' | ')}`);
    const line = log().find((message) => message.startsWith('Console listening on '));
    return line && line.slice('Console listening on '.length);
  }, 15000);

  return {
    url,
    log,
    // Waits until the networks the console publishes (a snapshot taken every quarter second)
    // satisfy `test`; the page only ever sees what that snapshot says.
    async waitForNetworks(test, ms = 5000) {
      const published = async () => {
        const response = await fetch(new URL('api/networks', url),
          { headers: { authorization: `Bearer ${token}` } });
        return response.ok && test((await response.json()).networks);
      };
      await until('the console to publish the networks as expected', published, ms);
    },
    async waitForLog(pattern, ms = 5000) {
      await until(`a log line like ${pattern}; the log: ${log().join(' | ')}`,
        () => log().some((line) => pattern.test(line)), ms);
    },
    async stop() {
      if (!exited) {
        const gone = new Promise((resolve) => { child.once('exit', resolve); });
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
        await gone;
        clearTimeout(timer);
      }
      rmSync(root, { recursive: true, force: true });
    },
  };
}

// One member of a network: a map client on the wire. Frames are a big-endian 32-bit length
// (header included), a big-endian 32-bit code and the payload. Like a real client it leaves when
// it is kicked or banned.
export class WireMember {
  constructor() {
    this.buffer = Buffer.alloc(0);
    this.inbox = [];
    this.waiting = null;
    this.closed = false;
  }

  // Connects from `sourceAddress` (an address of the loopback range) and logs in.
  static async logIn({ port, network, password, name, sourceAddress }) {
    const member = new WireMember();
    await member.connect(port, sourceAddress);
    await member.expect(1, 'Network');
    member.send(1, network);
    await member.expect(2, 'OK');
    member.send(2, createHash('md5').update(password).digest());
    await member.expect(3, 'OK');
    member.send(3, name);
    await member.expect(4, 'OK');
    return member;
  }

  connect(port, localAddress) {
    return new Promise((resolve, reject) => {
      this.socket = net.connect({ port, host: '127.0.0.1', localAddress }, resolve);
      this.socket.once('error', reject);
      this.socket.on('data', (bytes) => this.take(bytes));
      this.socket.on('close', () => {
        this.closed = true;
        this.wake();
      });
    });
  }

  send(code, payload) {
    const data = Buffer.isBuffer(payload) ? payload : Buffer.from(payload, 'utf8');
    const header = Buffer.alloc(8);
    header.writeInt32BE(8 + data.length, 0);
    header.writeInt32BE(code, 4);
    this.socket.write(Buffer.concat([header, data]));
  }

  // A position report: X, Y, facet, hit points, in battle, dead.
  report(x, y, facet, hp, inBattle, isDead) {
    this.send(4, [x, y, facet, hp, inBattle ? 1 : 0, isDead ? 1 : 0].join(','));
  }

  take(bytes) {
    this.buffer = Buffer.concat([this.buffer, bytes]);
    while (this.buffer.length >= 8) {
      const length = this.buffer.readInt32BE(0);
      if (length < 8 || this.buffer.length < length) break;
      const message = { code: this.buffer.readInt32BE(4), data: this.buffer.subarray(8, length).toString('utf8') };
      this.buffer = this.buffer.subarray(length);
      if (message.code === 996 || message.code === 997) this.socket.end();
      this.inbox.push(message);
    }
    this.wake();
  }

  wake() {
    const waiting = this.waiting;
    this.waiting = null;
    if (waiting) waiting();
  }

  // The next message of `code`, skipping others; fails after `ms`.
  async next(code, ms = 5000) {
    const deadline = Date.now() + ms;
    for (;;) {
      const at = this.inbox.findIndex((message) => message.code === code);
      if (at >= 0) return this.inbox.splice(at, 1)[0];
      if (this.closed || Date.now() > deadline) throw new Error(`no message ${code} came`);
      await new Promise((resolve) => {
        this.waiting = resolve;
        setTimeout(resolve, 50);
      });
    }
  }

  async expect(code, data) {
    const message = await this.next(code);
    if (message.data !== data) throw new Error(`code ${code} answered "${message.data}", not "${data}"`);
  }

  close() {
    this.socket?.destroy();
  }
}
