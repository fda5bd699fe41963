// A person's downloads through `vintrel serve`, in Debian's chromium, from a
// loopback nginx: a batch with files that fail in every way a server or a
// user makes them fail, a second batch, pausing, resuming and cancelling by
// clicking, a reload in the middle of a download, what assistive technology
// is told, and pages of other origins (the README's example among them).
//
//   node browser_test.mjs VINTREL_PROGRAM ARTIFACTS_FOLDER
//
// Exits 77 (skipped) only when chromium or playwright-core is not there.

import { createHash, randomBytes } from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { SKIP, check, failed, freePort, launch, loadChromium, startServe, start, stopAll, waitFor } from './rig.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const [program, artifacts] = process.argv.slice(2);
const started = Date.now();

function accepts(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.on('connect', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
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
  server {
    listen 127.0.0.1:${filesPort}; root ${www}; limit_rate 1m;
    location /slow/ { limit_rate 400k; }
    location = /forbidden.bin { return 403; }
    location = /broken.bin { return 500; }
  }
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
  const { chromium, skip } = await loadChromium(here);
  if (skip) {
    console.log('SKIPPED: ' + skip);
    return SKIP;
  }

  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vintrel-browser-'));
  const www = path.join(folder, 'www');
  const downloads = path.join(folder, 'downloads');
  fs.mkdirSync(www);
  const content = randomBytes(3 * 1024 * 1024 + 123);
  fs.writeFileSync(path.join(www, 'good.bin'), content);
  const small = randomBytes(200 * 1024 + 7);
  fs.writeFileSync(path.join(www, 'other.bin'), small);
  // At nginx's 400 KiB/s a few seconds: long enough to pause and reload.
  const big = randomBytes(2 * 1024 * 1024 + 11);
  fs.mkdirSync(path.join(www, 'slow'));
  fs.writeFileSync(path.join(www, 'slow', 'big.bin'), big);
  fs.writeFileSync(path.join(www, 'slow', 'big2.bin'), big);

  const filesPort = await freePort();
  const otherPort = await freePort();
  const filesOrigin = `http://127.0.0.1:${filesPort}`;
  const otherOrigin = `http://127.0.0.1:${otherPort}`;
  const { log: accessLog } = await startNginx(folder, www, filesPort, otherPort);

  // A cap above nginx's pace: the page offers it for each batch.
  const { serve, origin: serveOrigin, token } = await startServe(program, downloads,
                                                                 ['--allow-origin', filesOrigin, '--limit-rate', '2M']);
  // The README's embedding example, as it is: it is told the server in its address.
  fs.copyFileSync(path.join(here, 'embed.html'), path.join(www, 'embed.html'));

  const context = await launch(chromium);
  try {
    await context.addCookies([{ name: 'visitor', value: 'v42', url: serveOrigin }]);
    const page = await context.newPage();
    page.on('pageerror', (e) => check(false, 'no script error on the page', String(e)));
    // The page's policy blocks nothing it uses (its icon included).
    page.on('console', (m) => { if (m.type() === 'error') check(false, 'no console error on the page', m.text()); });

    // ---- The download page: a first batch -------------------------------------
    // Three fruitless reconnections instead of twenty, so the 500 ends soon.
    await page.goto(serveOrigin + '/?tries=3');
    // Locators, not waitForFunction: the page's policy forbids evaluating text.
    await page.locator('#state', { hasText: /^Ready$/ }).waitFor({ timeout: 10000 });
    check(await page.inputValue('#rate') === '2M', "the rate field offers vintrel serve's --limit-rate",
          await page.inputValue('#rate'));
    await page.fill('#urls', [`${filesOrigin}/good.bin`, `${filesOrigin}/missing.bin`,
                              `${filesOrigin}/forbidden.bin`, `${filesOrigin}/broken.bin`,
                              'not a url', `ftp://127.0.0.1/file.bin`].join('\n'));
    await page.click('#start');
    const batch1 = page.locator('section.batch', { hasText: 'Batch 1' });
    const rowOf = (batch, text) => batch.locator('li.file', { hasText: text });
    // Refused on its row at once, before any file is fetched.
    await rowOf(batch1, 'not a url').locator('.status', { hasText: 'Refused: not an http(s) URL' })
      .waitFor({ timeout: 5000 });
    check(/Refused/.test(await rowOf(batch1, 'ftp://').locator('.status').textContent()), 'an ftp URL is refused');
    await batch1.locator('.state', { hasText: /^Completed All Transfers/ }).waitFor({ timeout: 30000 });

    const statusOf = (batch, text) => rowOf(batch, text).locator('.status').textContent();
    check(/^Failed: Not Found \(404\)$/.test(await statusOf(batch1, 'missing.bin')), 'the 404 shows its code and reason',
          await statusOf(batch1, 'missing.bin'));
    check(/^Failed: Forbidden \(403\)$/.test(await statusOf(batch1, 'forbidden.bin')), 'a 403 is labelled as such',
          await statusOf(batch1, 'forbidden.bin'));
    check(/^Failed: Gave up after 3 attempts: Internal Server Error \(500\)$/.test(await statusOf(batch1, 'broken.bin')),
          'a 500 is given up after the tries, with its reason', await statusOf(batch1, 'broken.bin'));
    check(/\(5 failed\)/.test(await batch1.locator('.state').textContent()), 'the batch counts its failures',
          await batch1.locator('.state').textContent());
    const good = rowOf(batch1, 'good.bin');
    const bar = await good.locator('progress').evaluate((b) => ({ value: b.value,
                                                                   text: b.getAttribute('aria-valuetext') }));
    check(bar.value === 100 && (await good.locator('.percent').textContent()) === '100\u00a0%',
          'the first progress bar reached 100 %', JSON.stringify(bar));
    check(/^Done$/.test(await good.locator('.status').textContent()), 'the good file is done');
    const saved = path.join(downloads, 'good.bin');
    check((await good.locator('.url').textContent()) === `${filesOrigin}/good.bin` &&
          (await good.locator('.local').textContent()) === 'Saved as ' + saved,
          'the row keeps its URL and shows where the file went');
    const finished = await page.$$eval('#finished li', (lis) => lis.map((li) => li.textContent));
    check(finished.length === 1 && finished[0] === saved, 'the finished list shows the one file with its path',
          JSON.stringify(finished));
    check(/Files are saved in /.test(await page.textContent('#folder')), 'the page says which folder is used');
    const statuses = await page.textContent('#statuses');
    check(/Downloading/.test(statuses) && /Completed Downloading a File/.test(statuses), 'status texts shown');
    const digest = (bytes) => createHash('sha256').update(bytes).digest('hex');
    check(fs.existsSync(saved) && digest(fs.readFileSync(saved)) === digest(content), 'the file is byte-identical');
    const requests = accessLog().split('\n').filter((l) => l.includes('GET /good.bin'));
    check(requests.length > 0 && requests.every((l) => l.split('\t')[3] === serveOrigin + '/?tries=3'),
          'nginx saw the page address in Referer', requests.join('\n'));
    check(requests.length > 0 && requests.every((l) => l.split('\t')[4] === 'visitor=v42'),
          'nginx saw the page cookie in Cookie', requests.join('\n'));

    // ---- A second Start runs the new URL, and only it --------------------------
    const before = accessLog().split('\n').filter((l) => /GET \/(good|missing|forbidden|broken)\.bin/.test(l)).length;
    // With a second server of the same file and one that is not a URL.
    await page.fill('#urls', `${filesOrigin}/other.bin http://localhost:${filesPort}/other.bin junk:mirror`);
    await page.press('#urls', 'Control+Enter');
    const batch2 = page.locator('section.batch', { hasText: 'Batch 2' });
    await batch2.locator('.state', { hasText: /^Completed All Transfers$/ }).waitFor({ timeout: 20000 });
    const after = accessLog().split('\n').filter((l) => /GET \/(good|missing|forbidden|broken)\.bin/.test(l)).length;
    check(after === before && accessLog().includes('GET /other.bin'), 'the second batch fetched only its own URL',
          `${before} -> ${after}`);
    check(digest(fs.readFileSync(path.join(downloads, 'other.bin'))) === digest(small), 'its file is byte-identical');
    const server = await rowOf(batch2, 'other.bin').locator('.server').textContent();
    check(/^From (127\.0\.0\.1|localhost):\d+$/.test(server), 'the row names the server chosen among the mirrors',
          server);
    check((await rowOf(batch2, 'other.bin').locator('.mirrors').textContent()) ===
          'Mirror refused (not an http(s) URL): junk:mirror', 'a mirror that is not a URL is named as refused');

    // ---- Pause, resume, a reload in the middle, cancel -------------------------
    await page.fill('#urls', `${filesOrigin}/slow/big.bin`);
    await page.click('#start');
    const batch3 = () => page.locator('section.batch', { hasText: 'Batch 3' });
    await batch3().locator('.state', { hasText: /^Downloading$/ }).waitFor({ timeout: 10000 });
    await batch3().locator('button.pause').click();
    await batch3().locator('.state', { hasText: /^Paused$/ }).waitFor({ timeout: 5000 });
    check(true, 'Pause by clicking pauses the batch');
    await batch3().locator('button.resume').click();
    await batch3().locator('.state', { hasText: /^Downloading$/ }).waitFor({ timeout: 5000 });
    check(true, 'Resume by clicking resumes it');
    // A live region and labelled bars, as assistive technology sees them.
    const tree = await page.locator('body').ariaSnapshot();
    check(tree.includes(`progressbar "Progress of ${filesOrigin}/slow/big.bin"`), 'the progress bar has a name',
          tree);
    check((await page.getByRole('status').count()) === 1 &&
          (await page.locator('#announce').getAttribute('aria-live')) === 'polite', 'a polite live region is there');
    await page.locator('#announce', { hasText: /Saved|Failed|Batch/ }).waitFor({ timeout: 5000 });
    check(true, 'outcomes are announced');
    const mid = fs.existsSync(path.join(downloads, 'big.bin')) ? fs.statSync(path.join(downloads, 'big.bin')).size : 0;
    await page.reload();
    await batch3().locator('.state', { hasText: /^(Downloading|Locating File|Completed All Transfers)/ })
      .waitFor({ timeout: 10000 });
    check(mid < big.length, 'the reload came in the middle of the download', `${mid} of ${big.length}`);
    check((await page.locator('section.batch').count()) === 3, 'the page came back with its three batches');
    await batch3().locator('.state', { hasText: /^Completed All Transfers$/ }).waitFor({ timeout: 30000 });
    check(digest(fs.readFileSync(path.join(downloads, 'big.bin'))) === digest(big),
          'the download that outlived its page is byte-identical');
    check(/taken back: while away/.test(await page.textContent('#statuses')), 'what happened while away is summarised');

    await page.fill('#urls', `${filesOrigin}/slow/big2.bin`);
    await page.click('#start');
    const batch4 = page.locator('section.batch', { hasText: 'Batch 4' });
    await batch4.locator('.state', { hasText: /^Downloading$/ }).waitFor({ timeout: 10000 });
    // The pictures show a download under way, with its rate.
    await rowOf(batch4, 'big2.bin').locator('.rate', { hasText: /KiB\/s/ }).waitFor({ timeout: 5000 });
    fs.mkdirSync(artifacts, { recursive: true });
    await page.screenshot({ path: path.join(artifacts, 'web-download-page.png'), fullPage: true });
    await page.setViewportSize({ width: 360, height: 800 });
    await page.screenshot({ path: path.join(artifacts, 'web-download-page-narrow.png'), fullPage: true });
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth);
    check(overflow <= 360, 'nothing is wider than a 360 px screen', String(overflow));
    await page.setViewportSize({ width: 1100, height: 900 });
    await batch4.locator('button.cancel').click();
    await batch4.locator('.state', { hasText: /^Cancelled$/ }).waitFor({ timeout: 5000 });
    check(true, 'Cancel by clicking cancels the batch');

    // A failed row tried again is a batch of its own; a finished batch clears.
    await rowOf(batch1, 'forbidden.bin').locator('button.retry').click();
    const batch5 = page.locator('section.batch', { hasText: 'Batch 5' });
    await batch5.locator('.state', { hasText: /^Completed All Transfers \(1 failed\)$/ }).waitFor({ timeout: 10000 });
    check(/Forbidden \(403\)/.test(await statusOf(batch5, 'forbidden.bin')), 'Retry runs the failed file again');
    await batch5.locator('button.clear').click();
    check((await page.locator('section.batch', { hasText: 'Batch 5' }).count()) === 0, 'Clear removes a batch');
    check(await page.locator('#title-field').isHidden(), 'with -d no dialog title is asked for');

    // ---- Pages of other origins ------------------------------------------------
    const state = (p) => p.textContent('#status');
    const allowed = await context.newPage();
    await allowed.goto(`${filesOrigin}/embed.html#vintrel-server=${serveOrigin}&vintrel-token=${token}`);
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

    // Both styles of promise use: await and then, or catch and finally.
    const styles = await allowed.evaluate(async () => {
      const ctl = await Vintrel.connect();
      const call = ctl.SetDLText('Where to?');
      const out = { isPromise: call instanceof Promise };
      await call;
      out.caughtByCatch = await ctl.dBytesTotal.catch((e) => e.number);
      let settled = false;
      out.finallyValue = await ctl.dTotalFiles.finally(() => { settled = true; });
      out.settled = settled;
      out.thenValue = await ctl.CurFile.then((v) => v + 1);
      out.record = await ctl.DownloadFiles(1).catch((e) => 'error ' + e.number);
      ctl.close();
      return out;
    });
    check(styles.isPromise && styles.caughtByCatch === 9 && styles.settled && styles.finallyValue === 0 &&
          styles.thenValue === 2 && /^error /.test(String(styles.record)),
          'vintrel.js calls are Promises; reads take then, catch and finally', JSON.stringify(styles));
    check(surface.isError && surface.number === 9 && surface.source && surface.description,
          'vintrel.js rejects with number, source and description', JSON.stringify(surface));

    const other = await context.newPage();
    await other.goto(`${otherOrigin}/embed.html#vintrel-server=${serveOrigin}&vintrel-token=${token}`);
    await other.locator('#status', { hasText: /^Not connected/ }).waitFor({ timeout: 10000 });
    check(true, 'a page of another origin fails to connect');
    const nowhere = await context.newPage();
    await nowhere.goto(`${filesOrigin}/embed.html#vintrel-server=http://127.0.0.1:${await freePort()}&vintrel-token=x`);
    await nowhere.locator('#status', { hasText: /^Not connected: vintrel serve does not answer at / })
      .waitFor({ timeout: 10000 });
    check(true, 'the example says so when nothing answers where it looks for the server');
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
  } catch (error) {
    // What the page showed when it went wrong, beside the error.
    const pages = context.pages().filter((p) => p.url().startsWith('http'));
    if (pages.length) {
      fs.mkdirSync(artifacts, { recursive: true });
      await pages[0].screenshot({ path: path.join(artifacts, 'web-failure.png'), fullPage: true }).catch(() => {});
      console.log('     the page when it failed: ' + path.join(artifacts, 'web-failure.png'));
    }
    throw error;
  } finally {
    await context.close();
    fs.rmSync(context.profile, { recursive: true, force: true });
    stopAll();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  console.log(`${failed() ? 'FAILED' : 'PASSED'} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  return failed() ? 1 : 0;
}

main().then((status) => { stopAll(); process.exit(status); }, (error) => {
  console.log('FAIL ' + (error && error.stack || error));
  stopAll();
  process.exit(1);
});
