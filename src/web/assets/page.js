// The download page. Each Start is a batch: a control of its own (one
// WebSocket), holding the URLs entered then and only those. The server
// moves each queue on (files saved or stopped, also given up by the
// control after `tries` attempts in a row that brought no byte) and keeps
// it running when the page goes. The server is the one source of truth:
// on load the page asks it which controls it still keeps for this origin,
// rewrites its stored list of batches from that answer alone, takes the
// live ones back as they stand (running, paused, cancelled or ended) and
// shows the others once as "ended while away".
// `?tries=N` in the page's address sets that limit, the control's
// maxTries (default 20). Each batch's rate cap is its control's maxRate,
// written before the queue starts and whenever the batch's field is set;
// the server tells it again after a reload.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const STORE = 'vintrel-batches';
  const params = new URLSearchParams(location.search);
  const TRIES = Math.max(1, Math.min(1000, parseInt(params.get('tries'), 10) || 20));
  // The time left is a guess from the average rate; before this much
  // transfer it swings too far to be worth showing.
  const STEADY_MS = 3000;
  const batches = [];
  let nextBatch = 1;
  let canOpen = false;  // vintrel serve --allow-open
  let leaving = false;  // the page is being closed or reloaded

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
  // A cap as the rate field takes it back ('500k', '1.5M'), '' for none.
  function rateText(bytesPerSecond) {
    const n = Number(bytesPerSecond) || 0;
    if (n <= 0) return '';
    for (const [unit, scale] of [['G', 1073741824], ['M', 1048576], ['k', 1024]]) {
      const shown = Number((n / scale).toFixed(3));
      if (n >= scale && shown * scale === n) return shown + unit;
    }
    return String(n);
  }
  function clock(seconds) {
    const s = Math.max(0, Math.round(Number(seconds) || 0));
    return Math.floor(s / 3600) + ':' + String(Math.floor(s / 60) % 60).padStart(2, '0') + ':' +
           String(s % 60).padStart(2, '0');
  }
  const plural = (n, one, many) => n + ' ' + (n === 1 ? one : many);

  // ---- Words people read -----------------------------------------------------
  // The socket and resolver errors, in plain words; the number stays after
  // them for whoever looks it up. The control's own texts for these are
  // Winsock's ("Connection is forcefully rejected").
  const SOCKET_WORDS = {
    10004: 'Interrupted',
    10013: 'Permission denied',
    10048: 'Address already in use',
    10049: 'Address not available here',
    10050: 'Network is down',
    10051: 'Network unreachable',
    10052: 'Connection lost',
    10053: 'Connection aborted',
    10054: 'Connection reset by the server',
    10057: 'Not connected',
    10058: 'Connection shut down',
    10060: 'Timed out',
    10061: 'Connection refused',
    10064: 'Server is down',
    10065: 'No route to the server',
    11001: 'Server name not found',
    11002: 'Server name not found for now (the name service did not answer)',
    11003: 'Server name lookup failed',
    11004: 'Server name has no address'
  };
  function describe(error) {
    if (!error) return '';
    const text = error.description || error.message || 'Error';
    const words = SOCKET_WORDS[error.number];
    // "Gave up after N attempts: " stays in front of the words.
    if (words) return (/^Gave up after \d+ attempts?: /.exec(text) || [''])[0] + words + ' (' + error.number + ')';
    return error.number ? text + ' (' + error.number + ')' : text;
  }
  // A file's statuses in the order of one attempt. The control reports
  // "Downloading" when the request goes out and "Determining File Size"
  // when the answer's head comes, then "Downloading" again: a step already
  // passed is not shown again within the attempt.
  const STEPS = ['Connecting', 'Locating File', 'Determining File Size', 'Downloading'];

  // ---- Announcements and the log -------------------------------------------
  function announce(text) {
    // A fresh text node each time, so the same words are read again.
    $('announce').textContent = '';
    setTimeout(() => { $('announce').textContent = text; }, 50);
  }
  // Text a field cannot take is said beside it, and nothing is sent.
  function refuseField(input, message, why) {
    message.textContent = why;
    message.hidden = !why;
    input.setAttribute('aria-invalid', why ? 'true' : 'false');
    if (why) announce(why);
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
    const file = { row, batch, state: '', done: 0, total: 0, sizeKnown: false, step: -1, url: entry.url,
                   mirrors: entry.mirrors || [], badMirrors: entry.badMirrors || [], refused: Boolean(entry.refused) };
    if (file.badMirrors.length)
      facts.querySelector('.mirrors').textContent = 'Mirror refused (not an http(s) URL): ' + file.badMirrors.join(' ');
    return file;
  }
  const part = (file, name) => file.row.querySelector('.' + name);

  function setStatus(file, text) { part(file, 'status').textContent = text; }

  // A status of the control for the file under way: shown on its row and
  // logged, unless it is a step of the attempt that was already passed.
  function fileStatus(file, text) {
    const step = STEPS.indexOf(text);
    if (step >= 0 && step < file.step) return;
    file.step = step;
    if (part(file, 'status').textContent === text) return;
    setStatus(file, text);
    log('Batch ' + file.batch.number + ' [' + file.url + '] ' + text);
  }

  function showProgress(file) {
    const p = file.total > 0 ? Math.min(100, (file.done / file.total) * 100) : (file.state === 'done' ? 100 : 0);
    const bar = file.row.querySelector('progress');
    bar.value = p;
    bar.setAttribute('aria-valuetext', Math.floor(p) + ' %' +
                     (file.sizeKnown ? ', ' + size(file.done) + ' of ' + size(file.total) : ''));
    part(file, 'percent').textContent = Math.floor(p) + '\u00a0%';
    part(file, 'bytes').textContent = file.state === 'failed' ? ''
      : size(file.done) + (file.sizeKnown ? ' / ' + size(file.total) : file.done ? ', size not yet known' : '');
  }

  // Rate and time left belong to a transfer under way, and only to it.
  function stillFile(file) {
    part(file, 'rate').textContent = '';
    part(file, 'left').textContent = '';
    file.rate = undefined;
    file.since = null;
  }

  function showServer(file, server) {
    if (server && file.mirrors.length) part(file, 'server').textContent = 'From ' + server;
  }

  function ended(file, outcome) {
    file.state = outcome.state;
    showServer(file, outcome.server);
    file.row.classList.add(outcome.state === 'done' ? 'done' : 'failed');
    stillFile(file);
    if (outcome.state === 'done') {
      file.total = outcome.size >= 0 ? outcome.size : file.total || file.done;
      file.done = file.total;
      file.sizeKnown = true;
      showProgress(file);
      setStatus(file, 'Done');
      if (outcome.path) {
        part(file, 'local').replaceWith(breakable('local', 'Saved as ' + outcome.path));
        const item = el('li');
        item.append(breakable('path', outcome.path));
        $('finished').appendChild(item);
      }
      announce('Saved ' + (outcome.path || file.url));
    } else {
      // What an error answer brought is not the file: nothing of it counts.
      file.done = 0;
      file.total = 0;
      file.sizeKnown = false;
      showProgress(file);
      setStatus(file, 'Failed: ' + describe(outcome.error));
      announce('Failed: ' + file.url + ': ' + describe(outcome.error));
    }
    log('Batch ' + file.batch.number + ' [' + file.url + '] ' + part(file, 'status').textContent);
    addFileButtons(file, outcome);
  }

  function addFileButtons(file, outcome) {
    const actions = part(file, 'actions');
    if (actions.childElementCount) return;
    const button = (label, what, act) => {
      const b = el('button', label.toLowerCase().replace(/ /g, '-'), label);
      b.setAttribute('aria-label', label + ' ' + what);
      b.addEventListener('click', act);
      actions.append(b);
    };
    if (outcome.state === 'done' && canOpen && file.batch.ctl && outcome.path) {
      const ctl = file.batch.ctl;
      const folder = outcome.path.slice(0, outcome.path.lastIndexOf('/')) || '/';
      button('Open', outcome.path, () => ctl.OpenIt(outcome.path).catch((e) => report(file.batch, e)));
      button('Show in folder', outcome.path, () => ctl.OpenIt(folder).catch((e) => report(file.batch, e)));
    }
    if (outcome.state !== 'done')
      button('Retry', file.url, () => startWith([{ url: file.url, mirrors: file.mirrors, badMirrors: [],
                                                   refused: false }], file.batch.rate || 0));
    button('Remove', file.url + ' from the list', () => {
      // Focus goes on to the next row's first button, else the batch.
      const rows = [...file.batch.list.children];
      const next = rows[rows.indexOf(file.row) + 1] || rows[rows.indexOf(file.row) - 1];
      file.row.remove();
      focusFirst([next && next.querySelector('button'), file.batch.heading]);
    });
  }

  // ---- The stored list ---------------------------------------------------------
  // Several tabs of the origin share it, so each change touches one entry:
  // the list as a whole is only ever rewritten from the server's answer.
  function readStore() {
    try {
      const list = JSON.parse(localStorage.getItem(STORE) || '[]');
      return Array.isArray(list) ? list.filter((b) => b && typeof b.session === 'string') : [];
    } catch (e) {
      return [];
    }
  }
  function writeStore(list) { localStorage.setItem(STORE, JSON.stringify(list)); }
  function entryOf(batch) {
    return {
      session: batch.session, number: batch.number,
      files: batch.files.map((f) => ({ url: f.url, mirrors: f.mirrors, badMirrors: f.badMirrors, refused: f.refused,
                                       state: f.state, status: part(f, 'status').textContent,
                                       size: f.state === 'done' ? f.total : undefined }))
    };
  }
  function storeBatch(batch) {
    if (!batch.session || batch.dropped) return;
    const list = readStore();
    const at = list.findIndex((b) => b.session === batch.session);
    if (at >= 0) list[at] = entryOf(batch);
    else list.push(entryOf(batch));
    writeStore(list);
  }
  function unstoreBatch(session) {
    writeStore(readStore().filter((b) => b.session !== session));
  }

  // ---- Batches -----------------------------------------------------------------
  function addBatch(number, list) {
    const section = el('section', 'batch');
    const head = el('div', 'head');
    const heading = el('h3', '', 'Batch ' + number);
    heading.id = 'batch-' + number + '-' + Math.random().toString(36).slice(2, 8);
    // Where focus goes when the batch's buttons are gone.
    heading.tabIndex = -1;
    section.setAttribute('aria-labelledby', heading.id);
    head.append(heading);
    const state = el('span', 'state', 'Starting');
    const total = el('span', 'total');
    const buttons = el('span', 'buttons');
    const batch = { number, section, heading, state, total, files: [], ctl: null, session: null, queue: 'starting',
                    current: 1, list: el('ol', 'files'), buttons: {} };
    const actions = [
      ['pause', 'Pause', () => batch.ctl.PauseQueue(), 'paused', 'resume'],
      ['resume', 'Resume', () => batch.ctl.ResumeQueue(), 'running', 'pause'],
      // A cancelled queue has nothing to resume: its current file starts
      // over, its part on disk kept when the server still has that version.
      ['restart', 'Restart', async () => batch.ctl.GotoFile(Number(await batch.ctl.CurFile)), 'running', 'pause'],
      ['cancel', 'Cancel', () => batch.ctl.CancelQueue(), 'cancelled', 'restart']
    ];
    for (const [name, label, act, after, next] of actions) {
      const button = el('button', name, label);
      button.hidden = true;
      button.next = next;
      button.addEventListener('click', () => act().then(() => {
        if (after === 'running') restarted(batch);
        setQueue(batch, after);
      }).catch((e) => report(batch, e)));
      batch.buttons[name] = button;
      buttons.append(button);
    }
    // Restart is not Resume: it says what it does.
    batch.restartHint = el('span', 'hint restart-hint', 'Restart fetches the unfinished files again');
    batch.restartHint.id = heading.id + '-restart';
    batch.restartHint.hidden = true;
    batch.buttons.restart.setAttribute('aria-describedby', batch.restartHint.id);
    buttons.prepend(batch.restartHint);
    const clear = el('button', 'clear', 'Clear');
    clear.hidden = true;
    clear.addEventListener('click', () => dropBatch(batch));
    batch.buttons.clear = clear;
    buttons.append(clear);
    head.append(state, total, capField(batch), buttons);
    section.append(head, batch.list);
    $('batches').prepend(section);
    for (const entry of list) batch.files.push(addRow(batch, entry));
    batches.push(batch);
    return batch;
  }

  // The running batch's rate cap: its field shows the cap in force and
  // sets another (empty or 0 lifts it).
  function capField(batch) {
    const cap = el('span', 'cap');
    cap.hidden = true;
    const input = el('input', 'rate');
    input.type = 'text';
    input.id = batch.heading.id + '-rate';
    input.autocomplete = 'off';
    input.placeholder = 'no cap';
    const label = el('label', '', 'Rate cap');
    label.htmlFor = input.id;
    label.append(el('span', 'sr-only', ' of Batch ' + batch.number));
    const set = el('button', 'set-rate', 'Set');
    set.setAttribute('aria-label', 'Set the rate cap of Batch ' + batch.number);
    const error = el('span', 'error rate-error');
    error.id = input.id + '-error';
    error.hidden = true;
    input.setAttribute('aria-describedby', error.id);
    set.addEventListener('click', () => applyRate(batch));
    input.addEventListener('keydown', (e) => {
      if (e.key !== 'Enter') return;
      e.preventDefault();
      applyRate(batch);
    });
    cap.append(label, input, set, error);
    batch.cap = { span: cap, input, set, error };
    return cap;
  }

  function showCap(batch, cap) {
    batch.rate = cap;
    batch.cap.input.value = rateText(cap);
    refuseField(batch.cap.input, batch.cap.error, '');
  }

  async function applyRate(batch) {
    const { input, error } = batch.cap;
    let cap;
    try {
      cap = Vintrel.parseRate(input.value);
    } catch (e) {
      return refuseField(input, error, e.message);
    }
    if (!batch.ctl) return;
    try {
      await batch.ctl.$rate(cap);
    } catch (e) {
      return refuseField(input, error, 'Not set: ' + describe(e));
    }
    showCap(batch, cap);
    const words = cap ? 'rate capped at ' + rate(cap) : 'rate cap lifted';
    log('Batch ' + batch.number + ': ' + words);
    announce('Batch ' + batch.number + ': ' + words);
  }

  function focusFirst(candidates) {
    for (const target of candidates) {
      if (target && !target.hidden && !target.disabled && target.isConnected !== false) {
        target.focus();
        return;
      }
    }
  }

  // The files not yet ended: a cancelled batch with some can be restarted.
  const unfinished = (batch) => queued(batch).filter((f) => !f.state);
  const isEnded = (batch) => ['cancelled', 'ended', 'gone', 'nothing'].includes(batch.queue);

  // The queue's state decides its words, its buttons and its rows.
  function setQueue(batch, queue, words) {
    batch.queue = queue;
    const under = queue === 'running';
    const b = batch.buttons;
    const focused = Object.values(b).find((button) => button === document.activeElement);
    b.pause.hidden = !under;
    b.resume.hidden = queue !== 'paused';
    b.restart.hidden = !(queue === 'cancelled' && batch.ctl && unfinished(batch).length);
    b.cancel.hidden = !(under || queue === 'paused');
    b.clear.hidden = !isEnded(batch);
    batch.restartHint.hidden = b.restart.hidden;
    // The cap can be changed while the control has files to fetch.
    const capFocused = [batch.cap.input, batch.cap.set].includes(document.activeElement);
    batch.cap.span.hidden = !batch.ctl || !(under || queue === 'paused' || queue === 'starting' || !b.restart.hidden);
    if (capFocused && batch.cap.span.hidden) focusFirst([b.restart, b.clear, batch.heading]);
    // A button that goes away hands focus on to what follows from it (Pause
    // to Resume, Cancel to Restart...), whether the click or an event of the
    // control made it go: focus never falls back to the page.
    if (focused && focused.hidden) focusFirst([b[focused.next], b.cancel, b.clear, batch.heading]);
    if (queue !== 'running') {
      clearInterval(batch.poller);
      batch.poller = null;
      for (const file of batch.files) if (!file.state) stillFile(file);
    } else if (!batch.poller && batch.ctl) {
      batch.poller = setInterval(() => refresh(batch), 1000);
    }
    const text = words || {
      starting: 'Starting', running: 'Downloading', paused: 'Paused',
      cancelled: 'Cancelled',
      ended: 'Completed All Transfers'
    }[queue];
    if (text) batch.state.textContent = text;
    if (queue === 'paused' || queue === 'cancelled') {
      const current = queued(batch)[batch.current - 1];
      for (const file of unfinished(batch)) {
        file.step = -1;
        setStatus(file, file === current ? (queue === 'paused' ? 'Paused' : 'Cancelled')
                                         : 'Not started: the batch is ' + queue);
      }
    }
    showTotals();
    storeBatch(batch);
  }

  // Resumed or restarted: the rows still to come are queued again.
  function restarted(batch) {
    for (const file of unfinished(batch)) {
      file.step = -1;
      setStatus(file, 'Queued');
    }
    const current = queued(batch)[batch.current - 1];
    if (current && !current.state) setStatus(current, batch.queue === 'cancelled' ? 'Fetching it again' : 'Resuming');
  }

  function dropBatch(batch) {
    // Its connection's end, which follows, changes nothing any more.
    batch.dropped = true;
    if (batch.ctl) batch.ctl.$quit().catch(() => {});
    clearInterval(batch.poller);
    // Another tab holds a batch taken over from this one: it stays stored.
    if (batch.session && !batch.takenOver) unstoreBatch(batch.session);
    // Focus goes to the next batch in the list (older), else the newer one,
    // else to where a new batch is entered.
    const sections = [...$('batches').querySelectorAll('section.batch')];
    const at = sections.indexOf(batch.section);
    const next = batches.find((b) => b.section === (sections[at + 1] || sections[at - 1]));
    batches.splice(batches.indexOf(batch), 1);
    batch.section.remove();
    focusFirst(next ? [...Object.values(next.buttons), next.heading] : [$('urls')]);
    showTotals();
  }

  function report(batch, error) {
    batch.state.textContent = 'Error: ' + describe(error);
    log('Batch ' + batch.number + ': ' + describe(error));
  }

  // The files the control has, in its order: those the page did not refuse.
  const queued = (batch) => batch.files.filter((f) => !f.refused);
  const currentFile = (batch) => queued(batch)[batch.current - 1];

  function listen(batch) {
    const ctl = batch.ctl;
    ctl.addEventListener('OnStatusChange', (e) => {
      const text = e.detail;
      const file = currentFile(batch);
      if (text === 'Cancelled Download Queue') {
        if (batch.queue !== 'cancelled') {
          log('Batch ' + batch.number + ' cancelled');
          announce('Batch ' + batch.number + ' cancelled');
        }
        return setQueue(batch, 'cancelled');
      }
      if (text === 'Paused Queue') return setQueue(batch, 'paused');
      // Told with their reasons by FileOutcome and FileRetry, which follow.
      if (text === 'File Not Found' || text === 'Waiting for a connection' || text === 'Completed All Transfers') return;
      if (!file || file.state || (batch.queue !== 'running' && batch.queue !== 'starting')) return;
      // Said only when the answer gives the file's length.
      if (text === 'Determining File Size') file.lengthGiven = true;
      if (text === 'Locating File' || text === 'Redirecting') file.lengthGiven = false;
      fileStatus(file, text);
    });
    ctl.addEventListener('FileServer', (e) => {
      const file = queued(batch)[e.detail.file - 1];
      if (file) showServer(file, e.detail.server);
    });
    ctl.addEventListener('FileRetry', (e) => {
      const file = queued(batch)[e.detail.file - 1];
      if (!file || file.state) return;
      showServer(file, e.detail.server);
      // The next attempt's rate and time left are measured afresh.
      stillFile(file);
      file.step = -1;
      file.done = 0;
      file.sizeKnown = false;
      file.lengthGiven = false;
      showProgress(file);
      setStatus(file, 'Retrying (' + e.detail.fruitless + ' of ' + e.detail.limit + ' without progress, try ' +
                e.detail.tries + '): ' + describe(e.detail.error));
      log('Batch ' + batch.number + ' [' + file.url + '] ' + part(file, 'status').textContent);
      showTotals();
    });
    ctl.addEventListener('FileOutcome', (e) => {
      const file = queued(batch)[e.detail.file - 1];
      if (file && !file.state) ended(file, e.detail);
      batch.current = e.detail.file + 1;
      storeBatch(batch);
      showTotals();
    });
    ctl.addEventListener('OnTransferComplete', () => finishBatch(batch));
    ctl.addEventListener('close', (e) => {
      // The page itself going away closes its connections: the batches go on.
      if (leaving || batch.dropped) return;
      const reason = e.detail && e.detail.reason;
      batch.ctl = null;
      // Another page of the origin has the batch now; replaced or refused,
      // the server keeps nothing of it. Either way only this batch is
      // concerned, and it says so itself.
      batch.takenOver = e.detail && e.detail.code === 4001;
      if (!isEnded(batch) || reason) {
        setQueue(batch, 'gone', reason ? 'Disconnected: ' + reason : 'The connection to vintrel serve closed');
      } else {
        setQueue(batch, batch.queue);
      }
      // The server dropped it: the stored list follows its word.
      if (e.detail && e.detail.code === 4000 && batch.session) unstoreBatch(batch.session);
      // No batch can start while the origin is full: the page says so.
      if (e.detail && e.detail.code === 1013) $('state').textContent = 'Disconnected: ' + reason;
    });
  }

  function finishBatch(batch) {
    if (batch.queue === 'ended') return;
    const failed = batch.files.filter((f) => f.state === 'failed' || f.refused).length;
    const text = 'Completed All Transfers' + (failed ? ' (' + failed + ' failed)' : '');
    setQueue(batch, 'ended', text);
    announce('Batch ' + batch.number + ': ' + text);
    log('Batch ' + batch.number + ': ' + text);
    notify('Batch ' + batch.number + ' finished', text);
  }

  function notify(title, body) {
    if (typeof Notification === 'undefined' || Notification.permission !== 'granted' || !document.hidden) return;
    try { new Notification(title, { body }); } catch (e) { /* not offered here */ }
  }

  // The current file's progress from the control. Bytes count once an
  // answer with the file has come (the control then knows a length, or
  // counts it as it grows): before that they are the head or body of an
  // error answer. The rate is the page's own, from the bytes it saw grow,
  // and the time left comes from the average rate once the transfer has
  // run steadily for a few seconds.
  async function refresh(batch) {
    if (batch.queue !== 'running' || !batch.ctl) return;
    const ctl = batch.ctl;
    try {
      const current = Number(await ctl.CurFile);
      if (batch.queue !== 'running') return;
      if (current !== batch.current) {
        const before = currentFile(batch);
        if (before && !before.state) stillFile(before);
        batch.current = current;
      }
      const file = currentFile(batch);
      if (file && !file.state) {
        const [done, total] = (await Promise.all([ctl.dBytesTransferred, ctl.dBytesTotal])).map(Number);
        if (batch.queue !== 'running' || file.state) return;
        const now = Date.now();
        const answered = total > 0;
        file.done = answered ? Math.min(done, total) : 0;
        file.total = answered ? total : 0;
        file.sizeKnown = answered && Boolean(file.lengthGiven);
        if (file.lastTime && file.done >= file.lastBytes && file.done > 0)
          file.rate = ((file.done - file.lastBytes) * 1000) / (now - file.lastTime);
        if (file.done > 0 && !file.since) file.since = { time: now, bytes: file.done };
        if (file.done < file.lastBytes) file.since = null;
        file.lastBytes = file.done;
        file.lastTime = now;
        showProgress(file);
        part(file, 'rate').textContent = file.rate !== undefined ? rate(file.rate) : '';
        const ran = file.since ? now - file.since.time : 0;
        const average = ran > 0 ? ((file.done - file.since.bytes) * 1000) / ran : 0;
        part(file, 'left').textContent = file.sizeKnown && ran >= STEADY_MS && average > 0
          ? clock((file.total - file.done) / average) + ' left' : '';
      }
    } catch (e) {
      // No record yet, or the file is between steps: the next poll tells.
    }
    showTotals();
  }

  // The batches' totals, in the page and in the tab's title. Only the
  // files themselves count: failed files and error answers add nothing,
  // and a size not yet known is said to be so rather than taken for 0.
  function totals(batch) {
    let done = 0;
    let total = 0;
    let unknown = 0;
    let speed = 0;
    let counted = 0;
    for (const f of queued(batch)) {
      if (f.state === 'failed') continue;
      counted += 1;
      done += f.done || 0;
      if (f.state === 'done' || f.sizeKnown) total += f.total || 0;
      else unknown += 1;
      if (!f.state && f.rate) speed += f.rate;
    }
    return { done, total, unknown, speed, counted };
  }

  function showTotals() {
    let got = 0;
    let all = 0;
    let unknown = 0;
    let files = 0;
    let finished = 0;
    let running = false;
    for (const batch of batches) {
      const t = totals(batch);
      let text = '';
      if (t.counted) {
        text = size(t.done) + (t.total ? ' of ' + size(t.total) : '') + (t.unknown ? (t.total ? ' known' : '') + ' so far' : '') +
               ', ' +
               plural(t.counted, 'file', 'files') +
               (t.unknown ? ', ' + plural(t.unknown, 'size', 'sizes') + ' not yet known' : '') +
               (batch.queue === 'running' && t.speed ? ', ' + rate(t.speed) : '');
      }
      batch.total.textContent = text;
      // The title speaks of the batches still under way only.
      if (batch.queue === 'running' || batch.queue === 'paused' || batch.queue === 'starting') {
        running = true;
        got += t.done;
        all += t.total;
        unknown += t.unknown;
        files += t.counted;
        finished += queued(batch).filter((f) => f.state === 'done').length;
      }
    }
    let progress = '';
    if (running && files) {
      progress = unknown ? finished + ' of ' + files + ' files'
                         : Math.min(99, Math.floor(all ? (got / all) * 100 : 0)) + ' %';
    }
    document.title = (progress ? progress + ' \u00b7 ' : '') + 'Vintrel downloads';
  }

  async function startBatch(batch) {
    const ctl = batch.ctl;
    const files = queued(batch);
    await ctl.$drive(TRIES);
    batch.session = (await ctl.$session()).session;
    storeBatch(batch);
    // Before the first byte: also a cap of 0, which lifts vintrel serve's own.
    await ctl.$rate(batch.rate);
    showCap(batch, batch.rate);
    for (const file of files) await ctl.AddFile(file.url);
    await ctl.SetDLText($('title').value);
    batch.state.textContent = 'Waiting for the folder…';
    batch.current = 1;
    await ctl.StartQueue();
    if (!(await ctl.dTotalFiles)) {
      setQueue(batch, 'nothing', 'No folder was chosen');
      return;
    }
    showFolder(await ctl.dChosenPath);
    for (let n = 1; n <= files.length; ++n)
      for (const mirror of files[n - 1].mirrors) await ctl.$addServer(n, parseServer(new URL(mirror)));
    // The first file's servers are probed again, now that it has them all.
    if (files[0].mirrors.length) await ctl.GotoFile(1);
    // Events may have ended or held the queue meanwhile.
    if (batch.queue === 'starting') setQueue(batch, 'running');
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
    let cap;
    try {
      cap = Vintrel.parseRate($('rate').value);
    } catch (e) {
      refuseField($('rate'), $('rate-error'), e.message);
      $('rate').focus();
      return;
    }
    refuseField($('rate'), $('rate-error'), '');
    $('urls').value = '';
    await startWith(list, cap);
  }

  // `cap`: the batch's rate cap in bytes per second, 0 for none.
  async function startWith(list, cap) {
    const batch = addBatch(nextBatch++, list);
    batch.rate = cap;
    // Refused at once, before any folder is asked for.
    for (const file of batch.files.filter((f) => f.refused)) refuse(file);
    if (!queued(batch).length) {
      setQueue(batch, 'nothing', 'Nothing to download');
      return;
    }
    try {
      batch.ctl = await Vintrel.connect();
      listen(batch);
      await startBatch(batch);
    } catch (error) {
      report(batch, error);
      if (!isEnded(batch)) setQueue(batch, 'gone', batch.state.textContent);
    }
  }

  // A batch the server no longer holds: its last known files, once.
  function endedAway(saved) {
    const batch = addBatch(saved.number, saved.files);
    for (let k = 0; k < batch.files.length; ++k) {
      const file = batch.files[k];
      const last = saved.files[k] || {};
      if (file.refused) {
        refuse(file);
      } else if (last.state === 'done') {
        file.state = 'done';
        file.done = file.total = last.size || 0;
        file.sizeKnown = true;
        file.row.classList.add('done');
        showProgress(file);
        setStatus(file, last.status || 'Done');
      } else {
        file.state = last.state || 'unknown';
        if (last.state === 'failed') file.row.classList.add('failed');
        setStatus(file, last.state ? last.status : 'Last known: ' + (last.status || 'Queued'));
      }
    }
    setQueue(batch, 'gone', 'Ended while away: the server no longer holds this batch');
    log('Batch ' + batch.number + ' ended while away');
  }

  // A batch of an earlier visit the server still holds, taken back as it
  // stands.
  // `ctl` and `state`, when given, are a connection to it already made and
  // its answer to $session().
  async function reattach(saved, ctl, state) {
    const batch = addBatch(saved.number, saved.files);
    for (const file of batch.files.filter((f) => f.refused)) refuse(file);
    try {
      batch.ctl = ctl || await Vintrel.connect({ session: saved.session });
      state = state || await batch.ctl.$session();
      if (state.session !== saved.session) {
        // Dropped between the server's answer and now.
        batch.ctl.$quit().catch(() => {});
        batch.ctl = null;
        batches.splice(batches.indexOf(batch), 1);
        batch.section.remove();
        endedAway(saved);
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
      showCap(batch, Number(state.max_rate) || 0);
      const file = currentFile(batch);
      if (file && !file.state) {
        showServer(file, state.server);
        file.lengthGiven = state.size_known;
      }
      const m = state.missed;
      log('Batch ' + batch.number + ' taken back: while away ' + m.done + ' saved, ' + m.failed + ' failed, ' +
          m.retries + ' reconnections, ' + m.statuses + ' status changes; now: ' + (state.status || 'not started'));
      showFolder(await batch.ctl.dChosenPath);
      if (state.state === 'ended') {
        finishBatch(batch);
      } else if (state.state === 'paused' || state.state === 'cancelled') {
        setQueue(batch, state.state);
      } else {
        if (file && !file.state && state.status && state.status !== 'Waiting for a connection') fileStatus(file, state.status);
        setQueue(batch, state.state === 'new' ? 'starting' : 'running');
        refresh(batch);
      }
    } catch (error) {
      report(batch, error);
      if (!isEnded(batch)) setQueue(batch, 'gone', batch.state.textContent);
    }
  }

  // The server's word on this origin's batches: the stored list keeps those
  // it still holds, and only those; the others are shown once.
  // `probe` is the connection to `first`, the newest stored batch, when
  // `about` (its $session() answer) shows the server still holds it, else a
  // control of its own.
  async function takeBack(saved, first, probe, about) {
    const kept = Boolean(first) && about.session === first.session;
    let live;
    try {
      live = new Set((await probe.$sessions()).sessions.map((s) => s.session));
    } catch (e) {
      // An older server: nothing is rewritten; the batch already connected
      // is taken back all the same.
      if (kept) await reattach(first, probe, about);
      return;
    }
    if (kept) live.add(about.session);
    writeStore(readStore().filter((b) => live.has(b.session)));
    for (const entry of saved) {
      if (kept && entry === first) await reattach(entry, probe, about);
      else if (live.has(entry.session)) await reattach(entry);
      else endedAway(entry);
    }
    showTotals();
  }

  async function main() {
    if (typeof addEventListener === 'function') addEventListener('pagehide', () => { leaving = true; });
    // Numbers go on from the stored batches, whatever the server says of them.
    nextBatch = readStore().reduce((n, b) => Math.max(n, (Number(b.number) || 0) + 1), nextBatch);
    // Connecting once tells whether the server is there before any Start.
    // It goes to the newest stored batch, the likeliest to be held still:
    // coming back for a control takes no room, whereas a new control could
    // make the server drop an idle batch of this very page to make room for
    // it when the origin is full.
    const saved = readStore().sort((a, b) => a.number - b.number);
    const first = saved[saved.length - 1];
    let probe;
    let about;
    let probeIsBatch = false;
    try {
      probe = await Vintrel.connect(first ? { session: first.session } : {});
    } catch (error) {
      $('state').textContent = error.message;
      return;
    }
    probe.addEventListener('close', (e) => {
      if (!probeIsBatch && e.detail && e.detail.reason) $('state').textContent = 'Disconnected: ' + e.detail.reason;
    });
    try {
      about = await probe.$session();
      canOpen = Boolean(about.can_open);
      // vintrel serve --limit-rate: each batch starts with it unless the
      // field is changed.
      if (about.limit_rate) $('rate').value = rateText(about.limit_rate);
      if (about.folder) {
        // No dialog is shown: its title would be asked for nothing.
        $('title-field').hidden = true;
        showFolder(about.folder);
      }
    } catch (error) {
      $('state').textContent = error.message;
      return;
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
    probeIsBatch = Boolean(first) && about.session === first.session;
    try {
      await takeBack(saved, first, probe, about);
    } finally {
      if (!probeIsBatch) probe.$quit().catch(() => {});
    }
  }

  main();
})();
