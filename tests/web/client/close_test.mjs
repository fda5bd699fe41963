// vintrel.js and the served page when the server ends a connection: the
// close code and reason reach the page's script, and the page shows them;
// and what vintrel.js sends and refuses besides (promises, rate caps).
// Runs both scripts as a browser would load them, with a scripted WebSocket
// standing in for the server and a minimal document for the page.
//   node close_test.mjs ASSETS_FOLDER
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { types } from 'node:util';
import vm from 'node:vm';

const assets = process.argv[2];

// The server's end of each socket the scripts open.
class ScriptedSocket extends EventTarget {
  static opened = [];
  constructor(url) {
    super();
    this.url = url;
    this.sent = [];
    ScriptedSocket.opened.push(this);
    setTimeout(() => this.dispatchEvent(new Event('open')), 0);
  }
  send(text) {
    const message = JSON.parse(text);
    this.sent.push(message);
    if (message.op === 'page') this.answer({ id: message.id, result: null });
    // What the served page asks first: no folder given, no programs.
    if (message.op === 'session')
      this.answer({ id: message.id, result: { session: 'a'.repeat(32), folder: '', can_open: false } });
  }
  answer(message) {
    const event = new Event('message');
    event.data = JSON.stringify(message);
    this.dispatchEvent(event);
  }
  // The server's close frame.
  serverCloses(code, reason) {
    const event = new Event('close');
    event.code = code;
    event.reason = reason;
    this.dispatchEvent(event);
  }
  close() { this.closedByPage = true; }
}

// Elements as far as page.js uses them.
function fakeElement(id) {
  const element = new EventTarget();
  Object.assign(element, { id, textContent: '', value: '', disabled: false, children: [], style: {},
                           dataset: {}, className: '' });
  element.appendChild = (child) => element.children.push(child);
  element.append = (...children) => element.children.push(...children);
  element.prepend = (...children) => element.children.unshift(...children);
  element.remove = () => {};
  const attributes = new Map();
  element.setAttribute = (name, value) => attributes.set(name, String(value));
  element.getAttribute = (name) => (attributes.has(name) ? attributes.get(name) : null);
  element.classList = { add() {}, remove() {}, contains: () => false };
  const found = new Map();
  element.querySelector = (selector) => {
    if (!found.has(selector)) found.set(selector, fakeElement(''));
    return found.get(selector);
  };
  element.querySelectorAll = () => [];
  return element;
}

function browserContext(pageUrl) {
  const elements = new Map();
  const document = {
    currentScript: { src: 'http://127.0.0.1:8446/vintrel.js' },
    cookie: '',
    getElementById: (id) => {
      if (!elements.has(id)) elements.set(id, fakeElement(id));
      return elements.get(id);
    },
    querySelector: (selector) =>
      selector === 'meta[name="vintrel-token"]' ? { content: 'a'.repeat(32) } : null,
    createElement: (tag) => fakeElement(tag),
  };
  const stored = new Map();
  const localStorage = { getItem: (k) => (stored.has(k) ? stored.get(k) : null),
                         setItem: (k, v) => stored.set(k, String(v)), removeItem: (k) => stored.delete(k) };
  const context = { document, localStorage, location: new URL(pageUrl), WebSocket: ScriptedSocket, URL, URLSearchParams,
                    EventTarget, Event, CustomEvent, setTimeout, clearTimeout, setInterval, clearInterval,
                    console, Promise, Error, JSON };
  context.window = context;
  vm.createContext(context);
  return { context, element: (id) => document.getElementById(id) };
}

const settle = () => new Promise((resolve) => setTimeout(resolve, 10));
const load = (context, name) =>
  vm.runInContext(fs.readFileSync(path.join(assets, name), 'utf8'), context, { filename: name });

let failures = 0;
async function check(name, body) {
  ScriptedSocket.opened = [];
  try {
    await body();
    console.log('ok   ' + name);
  } catch (error) {
    failures++;
    console.log('FAIL ' + name + '\n' + (error.stack || error));
  }
}

await check('the close code and reason come with close and error events', async () => {
  const { context } = browserContext('http://127.0.0.1:8446/');
  load(context, 'vintrel.js');
  const ctl = await vm.runInContext('Vintrel.connect()', context);
  const seen = [];
  ctl.addEventListener('error', (e) => seen.push(['error', e.error.code, e.error.reason]));
  ctl.addEventListener('close', (e) => seen.push(['close', e.detail.code, e.detail.reason]));
  const socket = ScriptedSocket.opened[0];
  assert.match(socket.url, /^ws:\/\/127\.0\.0\.1:8446\/control\?token=a{32}$/);
  const pending = ctl.dTotalFiles.then(() => null, (e) => e.message);
  await settle();
  socket.serverCloses(4000, 'Replaced by a newer connection');
  assert.equal(await pending, 'Vintrel: Replaced by a newer connection');
  assert.deepEqual(seen, [['error', 4000, 'Replaced by a newer connection'],
                          ['close', 4000, 'Replaced by a newer connection']]);
});

await check('a normal end and a close by the page raise no error', async () => {
  const { context } = browserContext('http://127.0.0.1:8446/');
  load(context, 'vintrel.js');
  const quitting = await vm.runInContext('Vintrel.connect()', context);
  const closing = await vm.runInContext('Vintrel.connect()', context);
  const seen = [];
  for (const [name, ctl] of [['quit', quitting], ['page', closing]]) {
    ctl.addEventListener('error', () => seen.push(name + ':error'));
    ctl.addEventListener('close', (e) => seen.push(name + ':close:' + e.detail.code));
  }
  ScriptedSocket.opened[0].serverCloses(1000, '');
  closing.close();
  assert.deepEqual(seen, ['quit:close:1000', 'page:close:1000']);
  assert.ok(ScriptedSocket.opened[1].closedByPage);
});

await check('the served page shows the reason it was closed with', async () => {
  const { context, element } = browserContext('http://127.0.0.1:8446/');
  load(context, 'vintrel.js');
  load(context, 'page.js');
  await settle();
  assert.equal(element('state').textContent, 'Ready');
  // Each Start is a batch on a connection of its own.
  element('urls').value = 'http://127.0.0.1:9/file.bin';
  element('start').dispatchEvent(new Event('click'));
  await settle();
  assert.equal(ScriptedSocket.opened.length, 2);
  const reason = 'Too many Vintrel connections from this origin (16); close other tabs';
  ScriptedSocket.opened[1].serverCloses(1013, reason);
  assert.equal(element('state').textContent, 'Disconnected: ' + reason);
});

await check('calls are Promises and reads take then, catch and finally, each asked once', async () => {
  const { context } = browserContext('http://127.0.0.1:8446/');
  load(context, 'vintrel.js');
  const ctl = await vm.runInContext('Vintrel.connect()', context);
  const socket = ScriptedSocket.opened[0];
  await settle();
  const call = ctl.PauseQueue();
  assert.ok(types.isPromise(call), 'a call is a real Promise');
  const caught = call.catch((e) => e.number);
  const read = ctl.dRate;
  const both = [read.then((v) => v), read.catch(() => 'no'), read.finally(() => {})];
  const failing = ctl.DownloadFiles(2).localfilename.catch((e) => e.number);
  await settle();
  const sent = socket.sent.filter((m) => m.op !== 'page');
  assert.deepEqual(sent.map((m) => [m.op, m.path]),
                   [['call', 'PauseQueue'], ['get', 'dRate'], ['get', 'DownloadFiles(2).localfilename']]);
  socket.answer({ id: sent[0].id, error: { number: 91, source: 'Vintrel', description: 'no queue' } });
  socket.answer({ id: sent[1].id, result: '12' });
  socket.answer({ id: sent[2].id, error: { number: 9, source: 'Vintrel', description: 'Subscript out of range' } });
  assert.equal(await caught, 91);
  assert.deepEqual(await Promise.all(both), ['12', '12', '12']);
  assert.equal(await failing, 9);
  assert.throws(() => ctl.DownloadFiles('a"b'), /whole number or text without quotes/);
});

await check('rates read as --limit-rate reads them; $rate sends maxRate, bad text nothing', async () => {
  const { context } = browserContext('http://127.0.0.1:8446/');
  load(context, 'vintrel.js');
  const { parseRate } = context.Vintrel;
  const taken = [['', 0], [' ', 0], ['0', 0], ['1', 1], ['500k', 512000], ['500K', 512000], ['2M', 2097152],
                 ['1.5m', 1572864], ['.5k', 512], ['5.', 5], [' 1G ', 1073741824], ['0.0001k', 1],
                 ['2047M', 2146435072]];
  for (const [text, rate] of taken) assert.equal(parseRate(text), rate, JSON.stringify(text));
  for (const text of ['k', '1.2.3', '.', '-1', '1 M', '1MB', '1T', '2G', '1e6', '0x10', 'fast']) {
    assert.throws(() => parseRate(text), (e) => e.name === 'RangeError' && e.message.includes('"' + text + '"'), text);
  }
  const ctl = await vm.runInContext('Vintrel.connect()', context);
  assert.equal(await ctl.$rate('fast').then(() => null, (e) => e.name), 'RangeError');
  ctl.$rate('1.5M');
  ctl.$rate(0);
  await settle();
  const puts = ScriptedSocket.opened[0].sent.filter((m) => m.op === 'put');
  assert.deepEqual(puts.map((m) => [m.path, m.value]), [['maxRate', 1572864], ['maxRate', 0]]);
});

console.log(failures ? failures + ' failed' : 'all passed');
process.exit(failures ? 1 : 0);
