// The download page. Each Start is a batch: a control of its own (one
// WebSocket), holding the URLs entered then and only those. The server
// moves each queue on (files saved or stopped, also given up by the
// control after `tries` attempts in a row that brought no byte) and keeps
// it running when the page goes; the page keeps its batches' session
// identifiers in localStorage and takes them back when it comes back.
// `?tries=N` in the page's address sets that limit, the control's
// maxTries (default 20).
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const STORE = 'vintrel-batches';
  const params = new URLSearchParams(location.search);
  const TRIES = Math.max(1, Math.min(1000, parseInt(params.get('tries'), 10) || 20));
  const batches = [];
  let nextBatch = 1;
  let canOpen = false;  // vintrel serve --allow-open

  // ---- Units: one family, KiB and MiB, KiB/s -----------------------------
  function size(bytes) {
    const n = Math.max(0, Number(bytes) || 0);
    if (n >= 1048576 * 1024) return (n / 1073741824).toFixed(2) + '\u00a0GiB';
    if (n >= 1048576) return (n / 1048576).toFixed(1) + '\u00a0MiB';
    if (n >= 1024) return (n / 1024).toFixed(1) + '\u00a0KiB';
    return n + '\u00a0B';
  }
  function rate(bytesPerSecond) {
    const n = Math.max(0, bytesPerSecond || 0);
    return n >= 1048576 ? (n / 1048576).toFixed(1) + '\u00a0MiB/s' : (n / 1024).toFixed(1) + '\u00a0KiB/s';
  }
  function clock(seconds) {
    const s = Math.max(0, Math.round(Number(seconds) || 0));
    return Math.floor(s / 3600) + ':' + String(Math.floor(s / 60) % 60).padStart(2, '0') + ':' +
           String(s % 60).padStart(2, '0');
  }
  function describe(error) {
    if (!error) return '';
    const text = error.description || error.message || 'Error';
    return error.number ? text + ' (' + error.number + ')' : text;
  }

  // ---- Announcements and the log -------------------------------------------
  function announce(text) {
    // A fresh text node each time, so the same words are read again.
    $('announce').textContent = '';
    setTimeout(() => { $('announce').textContent = text; }, 50);
  }
  let lastLogged = '';
  function log(text) {
    if (text === lastLogged) return;
    lastLogged = text;
    const line = document.createElement('div');
    line.textContent = new Date().toLocaleTimeString() + '  ' + text;
    $('statuses').appendChild(line);
    $('statuses').scrollTop = $('statuses').scrollHeight;
  }

  // ---- What the user entered ---------------------------------------------
  function httpUrl(text) {
    try {
      const url = new URL(text);
      return url.protocol === 'http:' || url.protocol === 'https:' ? url : null;
    } catch (e) {
      return null;
    }
  }
  function parseServer(url) {
    const secure = url.protocol === 'https:';
    return { servName: url.hostname, host: url.host, PortNum: Number(url.port || (secure ? 443 : 80)),
             remoteFilePath: url.pathname + url.search, isSecure: secure };
  }
  function entries(text) {
    return text.split('\n').map((l) => l.trim()).filter((l) => l).map((line) => {
      const [url, ...others] = line.split(/\s+/);
      // A line that does not start with a URL is refused whole, as typed.
      if (!httpUrl(url)) return { url: line, mirrors: [], badMirrors: [], refused: true };
      const mirrors = others.filter((m) => httpUrl(m));
      return { url, mirrors, badMirrors: others.filter((m) => !httpUrl(m)), refused: false };
    });
  }

  // ---- Rows ------------------------------------------------------------------
  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // A URL or path that may break after its slashes and query marks, and only
  // mid-word when a single part is wider than the screen.
  function breakable(className, text) {
    const span = el('span', className);
    for (const piece of text.split(/(?<=[/?&=])/)) span.append(piece, document.createElement('wbr'));
    return span;
  }

  function refuse(file) {
    file.state = 'failed';
    file.row.classList.add('failed', 'refused');
    setStatus(file, 'Refused: not an http(s) URL');
  }

  function addRow(batch, entry) {
    const row = el('li', 'file');
    const name = el('div', 'name');
    name.append(breakable('url', entry.url));
    const local = el('span', 'local');
    name.append(local);
    const bar = el('progress');
    bar.max = 100;
    bar.value = 0;
    bar.setAttribute('aria-label', 'Progress of ' + entry.url);
    bar.setAttribute('aria-valuetext', '0 %');
    const meter = el('div', 'meter');
    meter.append(bar, el('span', 'percent', '0\u00a0%'));
    const facts = el('div', 'facts');
    for (const part of ['bytes', 'rate', 'left', 'server', 'mirrors']) facts.append(el('span', part));
    const status = el('div', 'status', 'Queued');
    const actions = el('div', 'actions');
    row.append(name, meter, facts, status, actions);
    batch.list.append(row);
    const file = Object.assign({ row, batch, state: '', done: 0, total: 0, lastBytes: 0, lastTime: 0 }, entry);
    if (entry.badMirrors.length)
      facts.querySelector('.mirrors').textContent = 'Mirror refused (not an http(s) URL): ' + entry.badMirrors.join(' ');
    return file;
  }
  const part = (file, name) => file.row.querySelector('.' + name);

  function setStatus(file, text) { part(file, 'status').textContent = text; }

  function showProgress(file) {
    const p = file.total > 0 ? Math.min(100, (file.done / file.total) * 100) : (file.state === 'done' ? 100 : 0);
    const bar = file.row.querySelector('progress');
    bar.value = p;
    bar.setAttribute('aria-valuetext', Math.floor(p) + ' %' +
                     (file.total ? ', ' + size(file.done) + ' of ' + size(file.total) : ''));
    part(file, 'percent').textContent = Math.floor(p) + '\u00a0%';
    part(file, 'bytes').textContent = size(file.done) + (file.total ? ' / ' + size(file.total) : '');
  }

  function ended(file, outcome) {
    file.state = outcome.state;
    if (outcome.server && file.mirrors.length) part(file, 'server').textContent = 'From ' + outcome.server;
    file.row.classList.add(outcome.state === 'done' ? 'done' : 'failed');
    part(file, 'rate').textContent = '';
    part(file, 'left').textContent = '';
    if (outcome.state === 'done') {
      file.total = outcome.size || file.total || file.done;
      file.done = file.total;
      showProgress(file);
      setStatus(file, 'Done');
      part(file, 'local').replaceWith(breakable('local', 'Saved as ' + outcome.path));
      const item = el('li');
      item.append(breakable('path', outcome.path));
      $('finished').appendChild(item);
      announce('Saved ' + outcome.path);
    } else {
      setStatus(file, 'Failed: ' + describe(outcome.error));
      announce('Failed: ' + file.url + ': ' + describe(outcome.error));
    }
    log('[' + file.url + '] ' + part(file, 'status').textContent);
    const actions = part(file, 'actions');
    const button = (label, what, act) => {
      const b = el('button', label.toLowerCase().replace(/ /g, '-'), label);
      b.setAttribute('aria-label', label + ' ' + what);
      b.addEventListener('click', act);
      actions.append(b);
    };
    if (outcome.state === 'done' && canOpen && file.batch.ctl) {
      const ctl = file.batch.ctl;
      const folder = outcome.path.slice(0, outcome.path.lastIndexOf('/')) || '/';
      button('Open', outcome.path, () => ctl.OpenIt(outcome.path).catch((e) => report(file.batch, e)));
      button('Show in folder', outcome.path, () => ctl.OpenIt(folder).catch((e) => report(file.batch, e)));
    }
    if (outcome.state !== 'done')
      button('Retry', file.url, () => startWith([{ url: file.url, mirrors: file.mirrors, badMirrors: [],
                                                   refused: false }]));
    button('Remove', file.url + ' from the list', () => file.row.remove());
  }

  // ---- Batches -----------------------------------------------------------------
  function saveBatches() {
    const kept = batches.filter((b) => b.session).map((b) => ({
      session: b.session, number: b.number,
      files: b.files.map((f) => ({ url: f.url, mirrors: f.mirrors, badMirrors: f.badMirrors, refused: f.refused }))
    }));
    localStorage.setItem(STORE, JSON.stringify(kept));
  }

  function addBatch(number, list) {
    const section = el('section', 'batch');
    section.setAttribute('aria-label', 'Batch ' + number);
    const head = el('div', 'head');
    head.append(el('h2', '', 'Batch ' + number));
    const state = el('span', 'state', 'Starting');
    const total = el('span', 'total');
    const buttons = el('span', 'buttons');
    const batch = { number, section, state, total, files: [], ctl: null, session: null, running: false,
                    ended: false, list: el('ol', 'files') };
    for (const [label, act] of [['Pause', () => batch.ctl.PauseQueue()], ['Resume', () => batch.ctl.ResumeQueue()],
                                ['Cancel', () => batch.ctl.CancelQueue()]]) {
      const button = el('button', label.toLowerCase(), label);
      button.disabled = true;
      button.addEventListener('click', () => act().then(() => refresh(batch)).catch((e) => report(batch, e)));
      buttons.append(button);
    }
    const clear = el('button', 'clear', 'Clear');
    clear.hidden = true;
    clear.addEventListener('click', () => dropBatch(batch));
    buttons.append(clear);
    head.append(state, total, buttons);
    section.append(head, batch.list);
    $('batches').prepend(section);
    for (const entry of list) batch.files.push(addRow(batch, entry));
    batches.push(batch);
    return batch;
  }

  function setRunning(batch, running) {
    batch.running = running;
    for (const name of ['pause', 'resume', 'cancel'])
      batch.section.querySelector('button.' + name).disabled = !running;
    batch.section.querySelector('button.clear').hidden = running;
  }

  function dropBatch(batch) {
    if (batch.ctl) batch.ctl.$quit().catch(() => {});
    clearInterval(batch.poller);
    batch.section.remove();
    batches.splice(batches.indexOf(batch), 1);
    saveBatches();
    showTotals();
  }

  function report(batch, error) {
    batch.state.textContent = 'Error: ' + describe(error);
    log('Batch ' + batch.number + ': ' + describe(error));
  }

  // The files the control has, in its order: those the page did not refuse.
  const queued = (batch) => batch.files.filter((f) => !f.refused);

  function listen(batch) {
    const ctl = batch.ctl;
    ctl.addEventListener('OnStatusChange', (e) => {
      const file = queued(batch)[batch.current - 1];
      log('Batch ' + batch.number + (file ? ' [' + file.url + '] ' : ' ') + e.detail);
      if (e.detail === 'Cancelled Download Queue') {
        clearInterval(batch.poller);
        setRunning(batch, false);
        batch.state.textContent = 'Cancelled';
        announce('Batch ' + batch.number + ' cancelled');
      }
      if (file && !file.state && e.detail !== 'Waiting for a connection') setStatus(file, e.detail);
    });
    ctl.addEventListener('FileRetry', (e) => {
      const file = queued(batch)[e.detail.file - 1];
      if (file && file.mirrors.length && e.detail.server) part(file, 'server').textContent = 'From ' + e.detail.server;
      if (file && !file.state)
        setStatus(file, 'Retrying (' + e.detail.fruitless + ' of ' + e.detail.limit + ' without progress, try ' +
                  e.detail.tries + '): ' + describe(e.detail.error));
    });
    ctl.addEventListener('FileOutcome', (e) => {
      const file = queued(batch)[e.detail.file - 1];
      if (file && !file.state) ended(file, e.detail);
      batch.current = e.detail.file + 1;
    });
    ctl.addEventListener('OnTransferComplete', () => finishBatch(batch));
    ctl.addEventListener('close', (e) => {
      clearInterval(batch.poller);
      setRunning(batch, false);
      batch.section.querySelector('button.clear').hidden = true;
      const why = e.detail && e.detail.reason ? 'Disconnected: ' + e.detail.reason
                                              : 'The connection to vintrel serve closed';
      batch.state.textContent = why;
      // Too many tabs, or another tab took the batch: the page says so too.
      if (e.detail && e.detail.reason) $('state').textContent = why;
    });
  }

  function finishBatch(batch) {
    if (batch.ended) return;
    batch.ended = true;
    clearInterval(batch.poller);
    setRunning(batch, false);
    const failed = batch.files.filter((f) => f.state === 'failed' || f.refused).length;
    const text = 'Completed All Transfers' + (failed ? ' (' + failed + ' failed)' : '');
    batch.state.textContent = text;
    announce('Batch ' + batch.number + ': ' + text);
    showTotals();
    notify('Batch ' + batch.number + ' finished', text);
  }

  function notify(title, body) {
    if (typeof Notification === 'undefined' || Notification.permission !== 'granted' || !document.hidden) return;
    try { new Notification(title, { body }); } catch (e) { /* not offered here */ }
  }

  // The current file's progress from the control; the rate is the page's
  // own, from the bytes it saw grow, so it starts afresh after a resume.
  async function refresh(batch) {
    if (batch.ended || !batch.ctl || !batch.running) return;
    const ctl = batch.ctl;
    try {
      const [current, paused] = await Promise.all([ctl.CurFile, ctl.paused]);
      // Cancelled or ended while the answers were on their way.
      if (!batch.running) return;
      batch.current = Number(current);
      const file = queued(batch)[batch.current - 1];
      if (file && !file.state) {
        const [done, total, left] = await Promise.all([ctl.dBytesTransferred, ctl.dBytesTotal, ctl.dRemainingTime]);
        const now = Date.now();
        file.done = Number(done) || 0;
        file.total = Number(total) || 0;
        if (file.lastTime && file.done >= file.lastBytes)
          file.rate = ((file.done - file.lastBytes) * 1000) / (now - file.lastTime);
        file.lastBytes = file.done;
        file.lastTime = now;
        showProgress(file);
        part(file, 'rate').textContent = file.rate !== undefined ? rate(file.rate) : '';
        part(file, 'left').textContent = file.total ? clock(left) + ' left' : '';
      }
      batch.state.textContent = paused ? 'Paused' : 'Downloading';
    } catch (e) {
      // No record yet, or the file is between steps: the next poll tells.
    }
    showTotals();
  }

  // The batches' totals, in the page and in the tab's title.
  function showTotals() {
    let all = 0;
    let got = 0;
    for (const batch of batches) {
      let done = 0;
      let total = 0;
      let speed = 0;
      for (const f of batch.files) {
        done += f.done || 0;
        total += f.total || 0;
        if (!f.state && f.rate) speed += f.rate;
      }
      all += total;
      got += done;
      batch.total.textContent = total ? size(done) + ' of ' + size(total) +
                                        (batch.running ? ', ' + rate(speed) : '') : '';
    }
    const running = batches.some((b) => b.running);
    document.title = (running && all ? Math.floor((got / all) * 100) + ' % \u00b7 ' : '') + 'Vintrel downloads';
  }

  async function startBatch(batch) {
    const ctl = batch.ctl;
    const files = queued(batch);
    await ctl.$drive(TRIES);
    batch.session = (await ctl.$session()).session;
    saveBatches();
    for (const file of files) await ctl.AddFile(file.url);
    await ctl.SetDLText($('title').value);
    batch.state.textContent = 'Waiting for the folder…';
    batch.current = 1;
    setRunning(batch, true);
    await ctl.StartQueue();
    if (!(await ctl.dTotalFiles)) {
      setRunning(batch, false);
      batch.state.textContent = 'No folder was chosen';
      return;
    }
    showFolder(await ctl.dChosenPath);
    for (let n = 1; n <= files.length; ++n)
      for (const mirror of files[n - 1].mirrors) await ctl.$addServer(n, parseServer(new URL(mirror)));
    // The first file's servers are probed again, now that it has them all.
    if (files[0].mirrors.length) await ctl.GotoFile(1);
    batch.state.textContent = 'Downloading';
    batch.poller = setInterval(() => refresh(batch), 1000);
  }

  function showFolder(folder) {
    if (folder) $('folder').textContent = 'Files are saved in ' + folder;
  }

  async function start() {
    const list = entries($('urls').value);
    if (!list.length) {
      $('state').textContent = 'Enter at least one URL';
      return;
    }
    $('urls').value = '';
    await startWith(list);
  }

  async function startWith(list) {
    const batch = addBatch(nextBatch++, list);
    // Refused at once, before any folder is asked for.
    for (const file of batch.files.filter((f) => f.refused)) refuse(file);
    if (!queued(batch).length) {
      batch.state.textContent = 'Nothing to download';
      batch.ended = true;
      setRunning(batch, false);
      return;
    }
    try {
      batch.ctl = await Vintrel.connect();
      listen(batch);
      await startBatch(batch);
    } catch (error) {
      report(batch, error);
      setRunning(batch, false);
    }
  }

  // A batch of an earlier visit, taken back as it stands.
  async function reattach(saved) {
    const batch = addBatch(saved.number, saved.files);
    nextBatch = Math.max(nextBatch, saved.number + 1);
    for (const file of batch.files.filter((f) => f.refused)) refuse(file);
    try {
      batch.ctl = await Vintrel.connect({ session: saved.session });
      const state = await batch.ctl.$session();
      if (state.session !== saved.session) {
        // The server no longer has it (stopped, or dropped after its grace).
        batch.ctl.$quit().catch(() => {});
        batch.ctl = null;
        batch.state.textContent = 'No longer on the server';
        batch.section.querySelector('button.clear').hidden = false;
        batch.ended = true;
        saveBatches();
        return;
      }
      batch.session = saved.session;
      listen(batch);
      const files = queued(batch);
      for (const outcome of state.files) {
        const file = files[outcome.file - 1];
        if (file && outcome.state) ended(file, outcome);
      }
      batch.current = state.current;
      const m = state.missed;
      log('Batch ' + batch.number + ' taken back: while away ' + m.done + ' saved, ' + m.failed + ' failed, ' +
          m.retries + ' reconnections, ' + m.statuses + ' status changes; now: ' + (state.status || 'not started'));
      showFolder(await batch.ctl.dChosenPath);
      if (state.ended) {
        finishBatch(batch);
      } else {
        setRunning(batch, true);
        batch.state.textContent = state.status || 'Downloading';
        batch.poller = setInterval(() => refresh(batch), 1000);
        refresh(batch);
      }
    } catch (error) {
      report(batch, error);
    }
  }

  async function main() {
    // Connecting once tells whether the server is there before any Start.
    let probe;
    try {
      probe = await Vintrel.connect();
    } catch (error) {
      $('state').textContent = error.message;
      return;
    }
    try {
      const about = await probe.$session();
      canOpen = Boolean(about.can_open);
      if (about.folder) {
        // No dialog is shown: its title would be asked for nothing.
        $('title-field').hidden = true;
        showFolder(about.folder);
      }
    } finally {
      probe.$quit().catch(() => {});
    }
    $('state').textContent = 'Ready';
    $('start').disabled = false;
    $('start').addEventListener('click', () => {
      if (typeof Notification !== 'undefined' && Notification.permission === 'default' && !localStorage.getItem('vintrel-asked')) {
        localStorage.setItem('vintrel-asked', '1');
        Notification.requestPermission().catch(() => {});
      }
      start();
    });
    // Ctrl+Enter in the list starts it, as the button does.
    $('urls').addEventListener('keydown', (e) => {
      if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
        e.preventDefault();
        $('start').click();
      }
    });
    let saved = [];
    try {
      saved = JSON.parse(localStorage.getItem(STORE) || '[]');
    } catch (e) {
      saved = [];
    }
    for (const batch of saved.sort((a, b) => a.number - b.number)) await reattach(batch);
  }

  main();
})();
