// What the browser tests share: checks that count failures, bounded waits,
// loopback ports, child processes, `vintrel serve` and Debian's chromium.

import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const CHROMIUM = '/usr/bin/chromium';
export const SKIP = 77;
const children = [];
let failures = 0;

export function check(ok, what, detail = '') {
  console.log((ok ? 'ok   ' : 'FAIL ') + what + (ok || !detail ? '' : '\n     ' + detail));
  if (!ok) failures += 1;
}
export const failed = () => failures;

// Polls `condition` until it holds or `ms` pass: a bounded wait.
export async function waitFor(condition, ms, what) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

export function start(command, args) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  child.err = '';
  child.stdout.on('data', (d) => { child.out += d; });
  child.stderr.on('data', (d) => { child.err += d; });
  children.push(child);
  return child;
}

export function stopAll() {
  for (const child of children) if (child.exitCode === null) child.kill('SIGTERM');
}

// `vintrel serve` on a free port saving into `downloads`: its origin and token.
export async function startServe(program, downloads, extra = []) {
  const serve = start(program, ['serve', '--port', '0', '-d', downloads, '--tick-interval', '200', ...extra]);
  const [, origin, token] = await waitFor(
    () => /serving on (http:\/\/127\.0\.0\.1:\d+)\/[\s\S]*Token[^:]*: (\w+)/.exec(serve.out), 10000,
    'vintrel serve to start');
  return { serve, origin, token };
}

// playwright-core's chromium, or the reason the test is skipped.
export async function loadChromium(here) {
  if (!fs.existsSync(CHROMIUM)) return { skip: CHROMIUM + ' is not installed (apt-get install chromium)' };
  let chromium;
  try {
    ({ chromium } = await import('playwright-core'));
  } catch (e) {
    return { skip: 'playwright-core is not installed (npm ci in ' + here + ')' };
  }
  const version = spawnSync(CHROMIUM, ['--headless', '--no-sandbox', '--version'], { encoding: 'utf8' });
  if (version.status !== 0) return { skip: 'chromium cannot run here: ' + (version.stderr || version.error) };
  return { chromium };
}

// A fresh profile in Debian's chromium, headless.
export async function launch(chromium) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vintrel-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
    viewport: { width: 1100, height: 900 }
  });
  context.profile = profile;
  return context;
}
