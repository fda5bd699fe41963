// The download page: drives its control as a page of the control always
// did. It queues the URLs, starts the queue, shows the current file's
// properties once a second, and moves on to the next file when one finishes
// (or is not found), ending with GotoFile beyond the last file.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  let ctl = null;
  let files = [];     // { url, mirrors, row, failed, done }
  let current = 0;    // the file the control works on, from 1
  let poller = null;
  let running = false;

  function setState(text) { $('state').textContent = text; }

  function buttons() {
    $('start').disabled = !ctl || running;
    for (const id of ['pause', 'resume', 'cancel']) $(id).disabled = !running;
  }

  let lastLogged = '';
  function logStatus(text) {
    const n = current >= 1 && current <= files.length ? current : 0;
    const label = (n ? '[' + n + '] ' : '') + text;
    // "Downloading" comes every tick; once per file says it.
    if (label === lastLogged) return;
    lastLogged = label;
    const line = document.createElement('div');
    line.textContent = new Date().toLocaleTimeString() + '  ' + label;
    $('statuses').appendChild(line);
    $('statuses').scrollTop = $('statuses').scrollHeight;
  }

  function cell(row, name) { return row.querySelector('td.' + name); }

  function addRow(n, url) {
    const row = document.createElement('tr');
    row.className = 'file';
    row.dataset.index = String(n);
    for (const name of ['index', 'name', 'progress', 'bytes', 'rate', 'left', 'status']) {
      const td = document.createElement('td');
      td.className = name;
      row.appendChild(td);
    }
    cell(row, 'index').textContent = String(n);
    cell(row, 'name').textContent = url;
    const bar = document.createElement('progress');
    bar.max = 100;
    bar.value = 0;
    const percent = document.createElement('span');
    percent.className = 'percent';
    percent.textContent = ' 0 %';
    cell(row, 'progress').append(bar, percent);
    cell(row, 'status').textContent = 'Queued';
    $('files').appendChild(row);
    return row;
  }

  function kib(bytes) {
    const n = Number(bytes) || 0;
    if (n >= 1048576) return (n / 1048576).toFixed(1) + ' MiB';
    if (n >= 1024) return (n / 1024).toFixed(1) + ' KiB';
    return n + ' B';
  }

  function clock(seconds) {
    const s = Math.max(0, Math.round(Number(seconds) || 0));
    return Math.floor(s / 3600) + ':' + String(Math.floor(s / 60) % 60).padStart(2, '0') + ':' +
           String(s % 60).padStart(2, '0');
  }

  // The current file's progress, straight from the control's properties.
  async function refresh() {
    const n = current;
    const file = files[n - 1];
    if (!file || file.done || file.failed) return;
    try {
      const [percent, done, total, rate, left] = await Promise.all([
        ctl.dPercentComplete, ctl.dBytesTransferred, ctl.dBytesTotal, ctl.dRate, ctl.dRemainingTime]);
      if (n !== current && !file.finishing) return;
      const p = Math.max(0, Math.min(100, Number(percent) || 0));
      const row = file.row;
      row.querySelector('progress').value = p;
      row.querySelector('.percent').textContent = ' ' + Math.floor(p) + ' %';
      cell(row, 'bytes').textContent = kib(done) + ' / ' + kib(total);
      cell(row, 'rate').textContent = String(rate);
      cell(row, 'left').textContent = clock(left);
    } catch (e) {
      // No record yet: the queue is still starting.
    }
  }

  async function next() {
    current += 1;
    if (current <= files.length) cell(files[current - 1].row, 'status').textContent = 'Starting';
    // Beyond the last file this ends the queue: "Completed All Transfers".
    await ctl.GotoFile(current);
  }

  function onStatus(text) {
    logStatus(text);
    const file = files[current - 1];
    if (text === 'Completed All Transfers') return;
    if (text === 'Cancelled Download Queue') {
      running = false;
      clearInterval(poller);
      setState(text);
      buttons();
      return;
    }
    if (!file || file.done) return;
    cell(file.row, 'status').textContent = text;
    if (text === 'File Not Found' && !file.failed) {
      file.failed = true;
      file.row.classList.add('failed');
      cell(file.row, 'status').textContent = 'Failed: File Not Found';
      next().catch(report);
    }
  }

  async function onFileComplete(path) {
    const file = files[current - 1];
    if (!file || file.done) return;
    file.finishing = true;
    await refresh();
    file.done = true;
    file.row.classList.add('done');
    cell(file.row, 'status').textContent = 'Done';
    cell(file.row, 'name').textContent = path;
    const item = document.createElement('li');
    item.textContent = path;
    $('finished').appendChild(item);
    await next();
  }

  function onTransferComplete() {
    running = false;
    clearInterval(poller);
    poller = null;
    const failed = files.filter((f) => f.failed).length;
    setState('Completed All Transfers' + (failed ? ' (' + failed + ' failed)' : ''));
    buttons();
  }

  function report(error) {
    logStatus('Error' + (error.number ? ' ' + error.number : '') + ': ' + (error.description || error.message));
  }

  function parseServer(text) {
    const url = new URL(text);
    return {
      servName: url.hostname,
      host: url.hostname,
      PortNum: Number(url.port || 80),
      remoteFilePath: url.pathname + url.search
    };
  }

  async function start() {
    const lines = $('urls').value.split('\n').map((l) => l.trim()).filter((l) => l);
    if (!lines.length) {
      setState('Enter at least one URL');
      return;
    }
    running = true;
    buttons();
    $('files').textContent = '';
    $('finished').textContent = '';
    files = [];
    current = 0;
    try {
      for (const line of lines) {
        const [url, ...mirrors] = line.split(/\s+/);
        await ctl.AddFile(url);
        files.push({ url, mirrors, row: addRow(files.length + 1, url) });
      }
      await ctl.SetDLText($('title').value);
      setState('Waiting for the folder…');
      current = 1;
      await ctl.StartQueue();
      const total = await ctl.dTotalFiles;
      if (!total) {
        running = false;
        setState('No folder was chosen');
        buttons();
        return;
      }
      // More servers for a file: added to its record, then the first file
      // is started again so that all of its servers are probed.
      for (let n = 1; n <= files.length; ++n)
        for (const mirror of files[n - 1].mirrors) await ctl.$addServer(n, parseServer(mirror));
      if (files[0].mirrors.length) await ctl.GotoFile(1);
      setState('Downloading');
      poller = setInterval(refresh, 1000);
    } catch (error) {
      report(error);
      running = false;
      buttons();
    }
  }

  async function main() {
    try {
      ctl = await Vintrel.connect();
    } catch (error) {
      setState(error.message);
      return;
    }
    ctl.OnStatusChange = onStatus;
    ctl.OnFileComplete = (path) => onFileComplete(path).catch(report);
    ctl.OnTransferComplete = onTransferComplete;
    // The server's reason, when it gave one: this tab was replaced by a
    // newer one, or too many tabs are connected.
    ctl.addEventListener('close', (e) => {
      setState(e.detail && e.detail.reason ? 'Disconnected: ' + e.detail.reason
                                           : 'The connection to vintrel serve closed');
      running = false;
      $('start').disabled = true;
    });
    setState('Ready');
    buttons();
    $('start').addEventListener('click', () => start());
    $('pause').addEventListener('click', () => ctl.PauseQueue().catch(report));
    $('resume').addEventListener('click', () => ctl.ResumeQueue().catch(report));
    $('cancel').addEventListener('click', () => ctl.CancelQueue().catch(report));
  }

  main();
})();
