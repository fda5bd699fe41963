// A person's download through `vintrel serve`, in Debian's chromium: the
// served page fetches two files of a loopback nginx (one missing), and a
// page of an origin the server does not allow fails to connect.
//
//   node browser_test.mjs VINTREL_PROGRAM ARTIFACTS_FOLDER
//
// Exits 77 (skipped) only when chromium or playwright-core is not there.

import { spawn, spawnSync } from 'node:child_process';
import { createHash, randomBytes } from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const [program, artifacts] = process.argv.slice(2);
const CHROMIUM = '/usr/bin/chromium';
const SKIP = 77;
const started = Date.now();
const children = [];
let failures = 0;

function check(ok, what, detail = '') {
  console.log((ok ? 'ok   ' : 'FAIL ') + what + (ok || !detail ? '' : '\n     ' + detail));
  if (!ok) failures += 1;
}

// Polls `condition` until it holds or `ms` pass: a bounded wait.
async function waitFor(condition, ms, what) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

function accepts(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.on('connect', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
}

function start(command, args) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  child.err = '';
  child.stdout.on('data', (d) => { child.out += d; });
  child.stderr.on('data', (d) => { child.err += d; });
  children.push(child);
  return child;
}

function stopAll() {
  for (const child of children) if (child.exitCode === null) child.kill('SIGTERM');
}

async function startNginx(folder, www, filesPort, otherPort) {
  const at = (name) => path.join(folder, name);
  const conf = `daemon off;
worker_processes 1;
${process.getuid() === 0 ? 'user root;' : ''}
error_log ${at('error.log')} info;
pid ${at('nginx.pid')};
events { worker_connections 64; }
http {
  client_body_temp_path ${at('client_body_temp')};
  proxy_temp_path ${at('proxy_temp')};
  fastcgi_temp_path ${at('fastcgi_temp')};
  uwsgi_temp_path ${at('uwsgi_temp')};
  scgi_temp_path ${at('scgi_temp')};
  types { text/html html; application/octet-stream bin; }
  log_format page "$server_port\\t$request\\t$status\\t$http_referer\\t$http_cookie";
  access_log ${at('access.log')} page;
  # The files, and a page of an origin vintrel serve allows.
  server { listen 127.0.0.1:${filesPort}; root ${www}; limit_rate 1m; }
  # The same page from an origin it does not allow.
  server { listen 127.0.0.1:${otherPort}; root ${www}; }
}
`;
  fs.writeFileSync(at('nginx.conf'), conf);
  const nginx = start('/usr/sbin/nginx', ['-p', folder, '-c', at('nginx.conf'), '-e', at('error.log')]);
  await waitFor(async () => (await accepts(filesPort)) && (await accepts(otherPort)), 10000, 'nginx');
  return { nginx, log: () => fs.readFileSync(at('access.log'), 'utf8') };
}

async function main() {
  if (!fs.existsSync(CHROMIUM)) {
    console.log('SKIPPED: ' + CHROMIUM + ' is not installed (apt-get install chromium)');
    return SKIP;
  }
  let chromium;
  try {
    ({ chromium } = await import('playwright-core'));
  } catch (e) {
    console.log('SKIPPED: playwright-core is not installed (npm ci in ' + here + ')');
    return SKIP;
  }
  const version = spawnSync(CHROMIUM, ['--headless', '--no-sandbox', '--version'], { encoding: 'utf8' });
  if (version.status !== 0) {
    console.log('SKIPPED: chromium cannot run here: ' + (version.stderr || version.error));
    return SKIP;
  }

  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vintrel-browser-'));
  const www = path.join(folder, 'www');
  const downloads = path.join(folder, 'downloads');
  fs.mkdirSync(www);
  const content = randomBytes(3 * 1024 * 1024 + 123);
  fs.writeFileSync(path.join(www, 'good.bin'), content);

  const filesPort = await freePort();
  const otherPort = await freePort();
  const filesOrigin = `http://127.0.0.1:${filesPort}`;
  const otherOrigin = `http://127.0.0.1:${otherPort}`;
  const { log: accessLog } = await startNginx(folder, www, filesPort, otherPort);

  const serve = start(program, ['serve', '--port', '0', '-d', downloads, '--allow-origin', filesOrigin,
                                '--tick-interval', '200']);
  const banner = await waitFor(() => /serving on (http:\/\/127\.0\.0\.1:\d+)\/[\s\S]*Token[^:]*: (\w+)/.exec(serve.out),
                               10000, 'vintrel serve to start');
  const [, serveOrigin, token] = banner;
  // The README's embedding example, pointed at this run's server.
  const embed = fs.readFileSync(path.join(here, 'embed.html'), 'utf8').replace('http://127.0.0.1:8446', serveOrigin);
  fs.writeFileSync(path.join(www, 'embed.html'), embed);

  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vintrel-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
    viewport: { width: 1100, height: 900 }
  });
  try {
    await context.addCookies([{ name: 'visitor', value: 'v42', url: serveOrigin }]);
    const page = await context.newPage();
    page.on('pageerror', (e) => check(false, 'no script error on the page', String(e)));

    // ---- The download page ---------------------------------------------------
    await page.goto(serveOrigin + '/');
    // Locators, not waitForFunction: the page's policy forbids evaluating text.
    await page.locator('#state', { hasText: /^Ready$/ }).waitFor({ timeout: 10000 });
    await page.fill('#urls', `${filesOrigin}/good.bin\n${filesOrigin}/missing.bin`);
    await page.click('#start');
    await page.locator('#state', { hasText: /^Completed All Transfers/ }).waitFor({ timeout: 30000 });

    const rows = await page.$$eval('#files tr.file', (trs) => trs.map((tr) => ({
      value: tr.querySelector('progress').value,
      percent: tr.querySelector('.percent').textContent.trim(),
      status: tr.querySelector('td.status').textContent,
      failed: tr.classList.contains('failed')
    })));
    check(rows.length === 2, 'two files listed', JSON.stringify(rows));
    check(rows[0] && rows[0].value === 100 && rows[0].percent === '100 %', 'the first progress bar reached 100 %',
          JSON.stringify(rows[0]));
    check(rows[1] && rows[1].failed && /File Not Found/.test(rows[1].status), 'the 404 is shown as failed',
          JSON.stringify(rows[1]));
    const finished = await page.$$eval('#finished li', (lis) => lis.map((li) => li.textContent));
    const saved = path.join(downloads, 'good.bin');
    check(finished.length === 1 && finished[0] === saved, 'the finished list shows the one file with its path',
          JSON.stringify(finished));
    const statuses = await page.textContent('#statuses');
    check(/Downloading/.test(statuses) && /Completed Downloading a File/.test(statuses), 'status texts shown');
    const digest = (bytes) => createHash('sha256').update(bytes).digest('hex');
    check(fs.existsSync(saved) && digest(fs.readFileSync(saved)) === digest(content), 'the file is byte-identical');
    const requests = accessLog().split('\n').filter((l) => l.includes('GET /good.bin'));
    check(requests.length > 0 && requests.every((l) => l.split('\t')[3] === serveOrigin + '/'),
          'nginx saw the page address in Referer', requests.join('\n'));
    check(requests.length > 0 && requests.every((l) => l.split('\t')[4] === 'visitor=v42'),
          'nginx saw the page cookie in Cookie', requests.join('\n'));
    fs.mkdirSync(artifacts, { recursive: true });
    await page.screenshot({ path: path.join(artifacts, 'web-download-page.png'), fullPage: true });

    // ---- Pages of other origins ------------------------------------------------
    const state = (p) => p.textContent('#status');
    const allowed = await context.newPage();
    await allowed.goto(`${filesOrigin}/embed.html#vintrel-token=${token}`);
    await allowed.locator('#status', { hasText: /^(Ready|Not connected)/ }).waitFor({ timeout: 10000 });
    check(!/Not connected/.test(await state(allowed)), 'a page of an allowed origin connects', await state(allowed));

    // The client's surface: a write read back, an automation error.
    const surface = await allowed.evaluate(async () => {
      const ctl = await Vintrel.connect();
      ctl.CurFile = 3;
      const error = await ctl.dBytesTotal.then(() => null, (e) => e);
      const out = { curFile: await ctl.CurFile, files: await ctl.dTotalFiles, isError: error instanceof Error,
                    number: error && error.number, source: error && error.source,
                    description: error && error.description };
      ctl.close();
      return out;
    });
    check(surface.curFile === 3 && surface.files === 0, 'vintrel.js writes and reads properties',
          JSON.stringify(surface));
    check(surface.isError && surface.number === 9 && surface.source && surface.description,
          'vintrel.js rejects with number, source and description', JSON.stringify(surface));

    const other = await context.newPage();
    await other.goto(`${otherOrigin}/embed.html#vintrel-token=${token}`);
    await other.locator('#status', { hasText: /^Not connected/ }).waitFor({ timeout: 10000 });
    check(true, 'a page of another origin fails to connect');
    const refused = await waitFor(() => serve.err.split('\n').find(
        (l) => l.includes('refused a WebSocket') && l.includes(`origin ${otherOrigin} is not allowed`)), 5000,
        'the refusal in the server log').catch(() => null);
    check(Boolean(refused), "the refused attempt is in the server's log", serve.err);
    if (refused) console.log('     ' + refused);
    // Ctrl-C's signal: the server ends its controls and exits cleanly (the
    // sanitizer build checks for leaks on the way out).
    serve.kill('SIGTERM');
    const status = await waitFor(() => serve.exitCode !== null || serve.signalCode !== null, 10000,
                                 'vintrel serve to exit').then(() => serve.exitCode);
    check(status === 0, 'vintrel serve exits with 0 on SIGTERM', 'status ' + status + '\n' + serve.err);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
    stopAll();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  console.log(`${failures ? 'FAILED' : 'PASSED'} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  return failures ? 1 : 0;
}

main().then((status) => { stopAll(); process.exit(status); }, (error) => {
  console.log('FAIL ' + (error && error.stack || error));
  stopAll();
  process.exit(1);
});
