// What the browser scenarios stand on: the program that serves the console, and Debian's
// Chromium started headless with the flags this closed network needs.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
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

// The stand-in server: the console in front of a scripted world. `send` gives it a command,
// `log` is every line it logged so far, `waitForLog` waits for one.
export async function startStandIn(token) {
  const program = process.env.VELMORA_STANDIN || path.join(buildDir, 'velmora-console-standin');
  const child = spawn(program, ['--token', token], { stdio: ['pipe', 'pipe', 'inherit'] });
  const log = [];
  const waiting = [];
  const lines = createInterface({ input: child.stdout });
  const address = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the stand-in did not start in time')), 10000);
    child.once('exit', (code) => reject(new Error(`the stand-in exited with ${code}`)));
    lines.on('line', (line) => {
      const listening = line.match(/^listening on (\S+)$/);
      if (listening) {
        clearTimeout(timer);
        resolve(listening[1]);
      }
      if (line.startsWith('log: ')) {
        log.push(line.slice(5));
        for (const w of waiting.splice(0)) w();
      }
    });
  });
  return {
    url: `http://${address}/`,
    log,
    send(command) { child.stdin.write(command + '\n'); },
    async waitForLog(pattern, ms = 5000) {
      const until = Date.now() + ms;
      while (!log.some((line) => pattern.test(line))) {
        if (Date.now() > until) throw new Error(`no log line like ${pattern}; the log: ${log.join(' | ')}`);
        await new Promise((resolve) => { waiting.push(resolve); setTimeout(resolve, 100); });
      }
    },
    async stop() {
      if (child.exitCode !== null) return;
      const exited = new Promise((resolve) => child.once('exit', resolve));
      child.stdin.end('quit\n');
      const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
      await exited;
      clearTimeout(timer);
    },
  };
}
