// The download page tells the truth after every reload, in Debian's
// chromium, against a loopback file server of the test's own that can be
// slow, send no length, or answer 500 with a body: the words of socket
// errors, totals and the tab's title, buttons and focus in each state of a
// queue, a paused and a cancelled batch across reloads, a batch the server
// dropped among live ones across two reloads, a batch's rate cap set,
// refused, kept across a reload and lifted, and axe-core on the result.
//
//   node page_state_test.mjs VINTREL_PROGRAM ARTIFACTS_FOLDER
//
// Exits 77 (skipped) only when chromium or playwright-core is not there.

import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { SKIP, check, failed, freePort, launch, loadChromium, startServe, stopAll, waitFor } from './rig.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const [program, artifacts] = process.argv.slice(2);
const started = Date.now();

// The files, each served the way one of the page's faults needs.
const files = {
  '/small.bin': randomBytes(20 * 1024 + 3),
  '/paced.bin': randomBytes(300 * 1024 + 5),  // ~2 s at the pace below
  '/long.bin': randomBytes(8 * 1024 * 1024),  // far longer than the test
  '/unsized.bin': randomBytes(150 * 1024 + 9)  // sent without a length
};
const PACE = 16 * 1024;  // bytes every 100 ms: 160 KiB/s
const ERROR_BODY = 'x'.repeat(3000);

function fileServer() {
  const requests = [];
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    requests.push(request.method + ' ' + url.pathname + (request.headers.range ? ' ' + request.headers.range : ''));
    request.socket.on('error', () => {});
    if (url.pathname === '/forbidden.bin') {
      response.writeHead(403, { 'Content-Length': 0 });
      return response.end();
    }
    if (url.pathname === '/broken.bin') {
      // An error page without a length, closed a while after its body: the
      // page polls while the control still counts its bytes.
      response.writeHead(500, { Connection: 'close' });
      response.write(ERROR_BODY);
      setTimeout(() => response.end(), 1200);
      return;
    }
    const body = files[url.pathname];
    if (!body) {
      response.writeHead(404, { 'Content-Length': 0 });
      return response.end();
    }
    if (url.pathname === '/unsized.bin') {
      // Chunked: the control learns the size only at the end.
      response.writeHead(200, { 'Content-Type': 'application/octet-stream' });
      let at = 0;
      const timer = setInterval(() => {
        response.write(body.subarray(at, at + PACE));
        at += PACE;
        if (at >= body.length) {
          clearInterval(timer);
          response.end();
        }
      }, 100);
      response.on('close', () => clearInterval(timer));
      return;
    }
    const modified = 'Tue, 01 Dec 2026 10:00:00 GMT';
    let from = 0;
    const range = /^bytes=(\d+)-/.exec(request.headers.range || '');
    const sameVersion = !request.headers['if-range'] || request.headers['if-range'] === modified;
    if (range && sameVersion && Number(range[1]) < body.length) from = Number(range[1]);
    const head = { 'Content-Length': body.length - from, 'Last-Modified': modified, 'Accept-Ranges': 'bytes' };
    if (from) head['Content-Range'] = `bytes ${from}-${body.length - 1}/${body.length}`;
    response.writeHead(from ? 206 : 200, head);
    if (url.pathname === '/small.bin') return response.end(body);
    let at = from;
    const timer = setInterval(() => {
      response.write(body.subarray(at, at + PACE));
      at += PACE;
      if (at >= body.length) {
        clearInterval(timer);
        response.end();
      }
    }, 100);
    response.on('close', () => clearInterval(timer));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, requests })));
}

// The page's size words, as the page writes them.
function size(n) {
  if (n >= 1048576) return (n / 1048576).toFixed(1) + '\u00a0MiB';
  if (n >= 1024) return (n / 1024).toFixed(1) + '\u00a0KiB';
  return n + '\u00a0B';
}

async function main() {
  const { chromium, skip } = await loadChromium(here);
  if (skip) {
    console.log('SKIPPED: ' + skip);
    return SKIP;
  }
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vintrel-page-'));
  const downloads = path.join(folder, 'downloads');
  const { server: files_, requests } = await fileServer();
  const port = files_.address().port;
  const at = (name) => `http://127.0.0.1:${port}${name}`;
  const { origin } = await startServe(program, downloads);
  const context = await launch(chromium);
  try {
    const page = await context.newPage();
    page.on('pageerror', (e) => check(false, 'no script error on the page', String(e)));
    page.on('console', (m) => { if (m.type() === 'error') check(false, 'no console error on the page', m.text()); });
    // Five tries: a 500 is tried for a second or so, long enough for the
    // page to see what its error body did to the counts.
    const home = origin + '/?tries=5';
    const ready = () => page.locator('#state', { hasText: /^Ready$/ }).waitFor({ timeout: 10000 });
    await page.goto(home);
    await ready();
    const batch = (n) => page.locator('section.batch', { has: page.getByRole('heading', { name: `Batch ${n}`, exact: true }) });
    const rowOf = (n, text) => batch(n).locator('li.file', { hasText: text });
    const stateOf = (n) => batch(n).locator('.state').textContent();
    const waitState = (n, re, timeout = 15000) => batch(n).locator('.state', { hasText: re }).waitFor({ timeout });
    const shown = async (n) => {
      const names = [];
      for (const name of ['pause', 'resume', 'restart', 'cancel', 'clear'])
        if (await batch(n).locator('button.' + name).isVisible()) names.push(name);
      return names.join(' ');
    };
    const focused = () => page.evaluate(() => {
      const e = document.activeElement;
      return e ? (e.className || e.id || e.tagName.toLowerCase()) : '';
    });
    const run = async (urls) => {
      await page.fill('#urls', urls.join('\n'));
      await page.click('#start');
    };
    // Every maxRate the page writes, as it goes over the wire.
    const rates = [];
    page.on('websocket', (socket) => socket.on('framesent', (frame) => {
      const message = JSON.parse(frame.payload);
      if (message.op === 'put' && /^maxRate$/i.test(message.path || message.name)) rates.push(message.value);
    }));

    // ---- 5. Words: socket and resolver errors, a 403, in order ---------------
    const closedPort = await freePort();
    // A name no resolver can answer, refused before any query leaves: a
    // label longer than 63 bytes.
    const unknownHost = 'a'.repeat(64) + '.test';
    await run([`http://127.0.0.1:${closedPort}/a.bin`, `http://${unknownHost}/b.bin`, at('/forbidden.bin')]);
    await waitState(1, /^Completed All Transfers/);
    const words = [
      [`127.0.0.1:${closedPort}`, /^Failed: Gave up after 5 attempts: Connection refused \(10061\)$/],
      [unknownHost, /^Failed: Gave up after 5 attempts: Server name not found \(11001\)$/],
      ['forbidden.bin', /^Failed: Forbidden \(403\)$/]
    ];
    for (const [row, want] of words) {
      const text = await rowOf(1, row).locator('.status').textContent();
      check(want.test(text), 'the row of ' + row.slice(0, 20) + '… says ' + want.source, text);
    }
    const log = await page.textContent('#statuses');
    check(!/File Not Found/.test(log) && /Forbidden \(403\)/.test(log),
          'the log says why a file failed, never "File Not Found" before its reason', log);
    check(await page.textContent('#state') === 'Ready', 'nothing about one batch is said beside Start');

    // ---- 3. Totals and title: a 500 with a body, a size not yet known --------
    await run([at('/paced.bin'), at('/broken.bin'), at('/unsized.bin')]);
    await waitState(2, /^Downloading$/);
    const paced = rowOf(2, 'paced.bin');
    // Once the first file's answer gave its length, the other two are still unknown.
    const early = await batch(2).locator('.total', { hasText: /KiB known so far, 3 files, 2 sizes not yet known/ })
      .waitFor({ timeout: 5000 }).then(() => '', () => batch(2).locator('.total').textContent());
    check(!early, 'queued files are counted as sizes not yet known', early);
    check(/^0 of 3 files · Vintrel downloads$/.test(await page.title()),
          'the title counts files while sizes are not known', await page.title());
    await paced.locator('.status', { hasText: /^Done$/ }).waitFor({ timeout: 15000 });
    const title = await page.title();
    check(/^1 of [23] files · Vintrel downloads$/.test(title), 'the title is not 100 % while files are to come', title);
    await waitState(2, /^Completed All Transfers \(1 failed\)$/, 20000);
    const sum = files['/paced.bin'].length + files['/unsized.bin'].length;
    const total = await batch(2).locator('.total').textContent();
    check(total === `${size(sum)} of ${size(sum)}, 2 files`,
          "the batch's total is its files' bytes: the 500's body does not count", total);
    check(await page.title() === 'Vintrel downloads', 'the title is cleared when nothing runs', await page.title());
    const pacedLog = (await page.locator('#statuses div', { hasText: 'paced.bin' }).allTextContents())
      .map((line) => line.replace(/^.*paced\.bin\] /, ''));
    check(pacedLog.indexOf('Downloading') > 0 &&
          pacedLog.indexOf('Determining File Size') < pacedLog.indexOf('Downloading') && pacedLog.at(-1) === 'Done',
          'statuses are shown in the order of the attempt', pacedLog.join(' > '));
    check(await shown(2) === 'clear', 'an ended batch offers Clear only', await shown(2));

    // ---- 4. Buttons and focus; 2. paused and cancelled across reloads ---------
    await run([`${at('/long.bin')} http://localhost:${port}/long.bin`, at('/small.bin')]);
    await waitState(3, /^Downloading$/);
    const long = rowOf(3, 'long.bin');
    await long.locator('.rate', { hasText: /KiB\/s/ }).waitFor({ timeout: 10000 });
    check(await long.locator('.left').textContent() === '',
          'no time left is guessed in the first seconds of a transfer', await long.locator('.left').textContent());
    check(/^From (127\.0\.0\.1|localhost):\d+$/.test(await long.locator('.server').textContent()),
          'the chosen server is shown while its file downloads', await long.locator('.server').textContent());
    await long.locator('.left', { hasText: /^\d+:\d\d:\d\d left$/ }).waitFor({ timeout: 10000 });
    check(true, 'the time left shows once the transfer has run steadily');
    check(await shown(3) === 'pause cancel', 'a running batch offers Pause and Cancel', await shown(3));
    const steps = [
      // [button, state after, buttons shown, focus after]
      ['pause', /^Paused$/, 'resume cancel', 'resume'],
      ['reload', /^Paused$/, 'resume cancel', null],
      ['resume', /^Downloading$/, 'pause cancel', 'pause'],
      ['cancel', /^Cancelled$/, 'restart clear', 'restart'],
      ['reload', /^Cancelled$/, 'restart clear', null],
      ['restart', /^Downloading$/, 'pause cancel', 'pause'],
      ['cancel', /^Cancelled$/, 'restart clear', 'restart']
    ];
    for (const [button, state, buttons, focus] of steps) {
      if (button === 'reload') {
        await page.reload();
        await ready();
      } else {
        await batch(3).locator('button.' + button).click();
      }
      await waitState(3, state, 10000);
      check(await shown(3) === buttons, `after ${button} the batch offers ${buttons}`, await shown(3));
      if (focus) {
        const on = await waitFor(async () => ((await focused()) === focus ? focus : null), 3000, 'focus')
          .catch(() => focused());
        check(on === focus, `after ${button} focus is on ${focus}`, on);
      }
      if (/Paused|Cancelled/.test(await stateOf(3))) {
        const facts = (await long.locator('.rate').textContent()) + (await long.locator('.left').textContent());
        check(facts === '', `a ${button === 'reload' ? 'reloaded' : 'held'} row shows no rate or time left`, facts);
      }
      if (buttons.startsWith('restart'))
        check(/ fetches /.test(await batch(3).locator('.restart-hint').textContent()), 'Restart says it fetches again');
    }
    check(/^Not started: the batch is cancelled$/.test(await rowOf(3, 'small.bin').locator('.status').textContent()),
          'the next file of a cancelled batch says it will not start',
          await rowOf(3, 'small.bin').locator('.status').textContent());
    check(await page.title() === 'Vintrel downloads', 'the title is cleared as soon as a batch is cancelled',
          await page.title());
    const before = requests.length;
    await new Promise((resolve) => setTimeout(resolve, 600));  // three ticks
    check(requests.length === before, 'a cancelled batch asks for nothing more', requests.slice(before).join(', '));

    // ---- 1. A batch the server dropped, among live ones, across two reloads ---
    // Another page of the origin takes batch 1 over and ends it for good.
    await page.evaluate(async () => {
      const stored = JSON.parse(localStorage.getItem('vintrel-batches'));
      const ctl = await Vintrel.connect({ session: stored.find((b) => b.number === 1).session });
      await ctl.$quit();
    });
    await waitState(1, /^Disconnected: Taken over by another page$/, 5000);
    check(await page.textContent('#state') === 'Ready', 'only the batch concerned says it was disconnected');
    await page.reload();
    await ready();
    await waitState(1, /^Ended while away/, 10000);
    check(/^Failed: Forbidden \(403\)$/.test(await rowOf(1, 'forbidden.bin').locator('.status').textContent()),
          'a batch that ended while away shows its last known files');
    await waitState(2, /^Completed All Transfers \(1 failed\)$/, 10000);
    await waitState(3, /^Cancelled$/, 10000);
    check(await shown(1) === 'clear', 'a batch that ended while away offers Clear only', await shown(1));

    // ---- 6. Landmarks and the rest of axe-core's rules ------------------------
    const require = createRequire(import.meta.url);
    await page.evaluate(fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8'));
    const violations = await page.evaluate(async () =>
      (await axe.run(document)).violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', ')));
    check(violations.length === 0, 'axe-core finds no violation', violations.join('\n     '));

    await page.reload();
    await ready();
    await waitState(3, /^Cancelled$/, 10000);
    await waitState(2, /^Completed All Transfers/, 10000);
    check(await batch(1).count() === 0, 'the dropped batch is shown once only');
    check(await page.locator('section.batch').count() === 2, 'the live batches come back after a second reload');

    // Clear moves focus on: to the next batch, then to the list of URLs.
    await batch(3).locator('button.clear').click();
    check(await focused() === 'clear' && await batch(3).count() === 0, 'after Clear focus is on the next batch',
          await focused());
    await batch(2).locator('button.clear').click();
    check(await focused() === 'urls', 'after the last Clear focus is where URLs are entered', await focused());

    // ---- 7. A rate cap: refused, set, kept across reloads, lifted --------------
    // What the page sent is read on the wire; what the control holds, from
    // the session answer the page shows it from after a reload.
    rates.length = 0;  // the batches before wrote their cap of 0
    await page.fill('#rate', 'fast');
    await run([at('/long.bin')]);
    check(/"fast" is not a rate/.test(await page.textContent('#rate-error')) && rates.length === 0 &&
          await page.locator('section.batch').count() === 0, 'bad text in the rate field starts and sends nothing');
    const cap = batch(4).locator('input.rate');
    // [text for the batch's own field (null: the new batch's), maxRate writes so far, the cap after a reload]
    for (const [text, sent, after] of [[null, '1572864', '1.5M'], ['2x', '1572864', '1.5M'], ['', '1572864,0', '']]) {
      if (text === null) {
        await page.fill('#rate', '1.5M');
        await run([at('/long.bin')]);
      } else {
        await cap.fill(text);
        await batch(4).locator('button.set-rate').click();
      }
      await waitState(4, /^Downloading$/);
      const refused = await batch(4).locator('.rate-error').isVisible();
      await waitFor(() => rates.join() === sent, 3000, 'the writes').catch(() => {});
      await page.reload();
      await ready();
      await waitState(4, /^Downloading$/, 10000);
      check(rates.join() === sent && refused === (text === '2x') && await cap.inputValue() === after,
            `${text === null ? 'a new batch at 1.5M' : JSON.stringify(text) + ' in its field'}: ` +
            `${after || 'no cap'} after a reload`,
            `sent ${rates.join()}, refused ${refused}, shown ${await cap.inputValue()}`);
    }
    await batch(4).locator('button.cancel').click();
    await batch(4).locator('button.clear').click();

    // ---- 1 and 5. An origin at its 16 controls, across a reload ---------------
    // Sixteen finished batches fill the origin; the next one makes the server
    // give the oldest up, which that batch alone says.
    for (let k = 0; k < 16; ++k) await run([at('/small.bin')]);
    for (let n = 5; n < 21; ++n) await waitState(n, /^Completed All Transfers$/);
    await run([at('/small.bin')]);
    await waitState(21, /^Completed All Transfers$/);
    await waitState(5, /^Disconnected: Replaced by a newer connection$/, 5000);
    check(await page.textContent('#state') === 'Ready', 'the replaced connection is told on its batch only',
          await page.textContent('#state'));
    // Coming back takes no room: no batch is dropped for the page's own sake.
    await page.reload();
    await ready();
    // Taken back oldest first: the newest is the last.
    await waitState(21, /^Completed All Transfers$/);
    const back = await page.locator('section.batch .state').allTextContents();
    check(back.length === 16 && back.every((t) => t === 'Completed All Transfers'),
          'the sixteen batches the server holds all come back', back.join(' | '));
  } catch (error) {
    const pages = context.pages().filter((p) => p.url().startsWith('http'));
    if (pages.length) {
      fs.mkdirSync(artifacts, { recursive: true });
      await pages[0].screenshot({ path: path.join(artifacts, 'web-page-state-failure.png'), fullPage: true })
        .catch(() => {});
      console.log('     the page when it failed: ' + path.join(artifacts, 'web-page-state-failure.png'));
    }
    throw error;
  } finally {
    await context.close();
    fs.rmSync(context.profile, { recursive: true, force: true });
    stopAll();
    files_.closeAllConnections();
    files_.close();
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
