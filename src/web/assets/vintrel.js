// vintrel.js: drive a Vintrel download control from a page's script.
//
//   const ctl = await Vintrel.connect();
//   ctl.addEventListener('OnStatusChange', e => console.log(e.detail));
//   ctl.OnFileComplete = path => console.log('saved', path);
//   await ctl.AddFile('http://example.org/file.zip');
//   await ctl.StartQueue();
//   console.log(await ctl.dPercentComplete, await ctl.DownloadFiles(1).localfilename);
//   ctl.CurFile = 1;
//
// Members keep the control's own names. Reading one (await ctl.X) asks the
// control; calling one (ctl.X(...)) calls it and returns a Promise;
// assigning one writes it (failures of a write arrive as an 'error' event).
// Records are reached through DownloadFiles(n) and remoteServerLocs(n),
// which, like a member read, can be awaited or used with then, catch and
// finally, and lead on to their own members. Errors of the control
// reject with an Error carrying number, source and description. When the
// server ends the connection, a 'close' event carries its code and reason
// (e.detail.code, e.detail.reason), preceded by an 'error' event unless the
// page closed it or the control quit.
(function (global) {
  'use strict';

  const EVENTS = ['OnStatusChange', 'OnFileComplete', 'OnTransferComplete'];
  // Where this script came from is where the server is.
  const script = typeof document !== 'undefined' && document.currentScript;
  const scriptBase = script && script.src ? new URL('.', script.src) : null;

  class VintrelError extends Error {
    constructor(error) {
      super(error.description || 'Vintrel error ' + error.number);
      this.name = 'VintrelError';
      this.number = error.number;
      this.source = error.source;
      this.description = error.description;
    }
  }

  function findToken() {
    if (typeof document !== 'undefined') {
      const meta = document.querySelector('meta[name="vintrel-token"]');
      if (meta && meta.content && meta.content.indexOf('@') < 0) return meta.content;
      const hash = new URLSearchParams((global.location && global.location.hash || '').slice(1));
      if (hash.get('vintrel-token')) return hash.get('vintrel-token');
    }
    return '';
  }

  function serverBase(options) {
    if (options.server) return new URL(options.server);
    if (scriptBase) return scriptBase;
    return new URL(global.location.href);
  }

  // A path argument in the protocol's syntax: whole numbers or quoted text.
  function pathArgument(value) {
    if (typeof value === 'number' && Number.isInteger(value)) return String(value);
    if (typeof value === 'string' && value.indexOf('"') < 0) return '"' + value + '"';
    throw new TypeError('Vintrel: an index is a whole number or text without quotes');
  }

  // A rate cap as `vintrel get --limit-rate` reads it: bytes per second, or
  // a number with k, M or G (powers of 1024, as curl); a fraction of a byte
  // rounds up, so a tiny cap still caps. Empty or 0 is no cap. Anything
  // else throws a RangeError saying why, so a page can refuse it before
  // anything is sent.
  const RATE_UNITS = { '': 1, k: 1024, m: 1048576, g: 1073741824 };
  function parseRate(text) {
    const trimmed = String(text === undefined || text === null ? '' : text).trim();
    if (trimmed === '') return 0;
    const parts = /^(\d*\.?\d*)([kmg]?)$/i.exec(trimmed);
    if (!parts || parts[1] === '' || parts[1] === '.') {
      throw new RangeError('"' + trimmed + '" is not a rate: give bytes per second, or a number with k, M or G');
    }
    const rate = Number(parts[1]) * RATE_UNITS[parts[2].toLowerCase()];
    // maxRate is a Long.
    if (rate >= 2147483648) throw new RangeError('"' + trimmed + '" is too high a rate: at most 2047M');
    return Math.ceil(rate);
  }

  class Connection {
    constructor(socket) {
      this.socket = socket;
      this.nextId = 1;
      this.pending = new Map();
      this.events = new EventTarget();
      this.handlers = {};
      this.closed = false;
      socket.addEventListener('message', (m) => this.receive(m.data));
      socket.addEventListener('close', (e) => this.close(e.code, e.reason));
    }

    request(message) {
      if (this.closed) return Promise.reject(new Error('Vintrel: the connection is closed'));
      const id = this.nextId++;
      message.id = id;
      return new Promise((resolve, reject) => {
        this.pending.set(id, { resolve, reject });
        this.socket.send(JSON.stringify(message));
      });
    }

    receive(text) {
      let message;
      try {
        message = JSON.parse(text);
      } catch (e) {
        return;
      }
      if (message.event) return this.raise(message.event, message.args || []);
      const waiting = this.pending.get(message.id);
      if (!waiting) return;
      this.pending.delete(message.id);
      if (message.error) waiting.reject(new VintrelError(message.error));
      else waiting.resolve(message.result);
    }

    raise(name, args) {
      const handler = this.handlers[name];
      if (typeof handler === 'function') {
        try {
          handler(...args);
        } catch (e) {
          setTimeout(() => { throw e; });
        }
      }
      const event = new CustomEvent(name, { detail: args[0] });
      event.args = args;
      this.events.dispatchEvent(event);
    }

    // The server says why it ends a connection in its close frame (another
    // page took this one's place, too many pages of this origin): pages get
    // the code and reason with the 'close' event, and as an 'error' event
    // when the page did not close the connection itself.
    close(code, reason) {
      if (this.closed) return;
      this.closed = true;
      const byPage = code === undefined;
      const detail = { code: byPage ? 1000 : code, reason: reason || '' };
      const why = detail.reason ? 'Vintrel: ' + detail.reason : 'Vintrel: the connection closed';
      for (const { reject } of this.pending.values()) reject(new Error(why));
      this.pending.clear();
      if (!byPage && detail.code !== 1000) {
        const error = new Error(why);
        error.code = detail.code;
        error.reason = detail.reason;
        const event = new CustomEvent('error', { detail: error });
        event.error = error;
        this.events.dispatchEvent(event);
      }
      const event = new CustomEvent('close', { detail });
      event.code = detail.code;
      event.reason = detail.reason;
      this.events.dispatchEvent(event);
      try { this.socket.close(); } catch (e) { /* already closing */ }
    }

    page() {
      return this.request({
        op: 'page',
        url: String(global.location ? global.location.href : ''),
        cookie: typeof document !== 'undefined' ? String(document.cookie) : ''
      });
    }

    async call(path, args) {
      // The control reads the page's address and cookie when its queue
      // starts, as its container used to hand them over.
      if (/^startqueue$/i.test(path)) await this.page();
      return this.request({ op: 'call', path, args });
    }

    put(path, value) {
      this.request({ op: 'put', path, value }).catch((error) => {
        const event = new CustomEvent('error', { detail: error });
        event.error = error;
        this.events.dispatchEvent(event);
        if (!this.hasErrorListener) console.error('Vintrel: writing ' + path + ' failed:', error);
      });
    }
  }

  const PROMISED = ['then', 'catch', 'finally'];
  // DownloadFiles(n) and remoteServerLocs(n) index a collection; anything
  // else applied is a method call.
  const INDEXING = /(^|\.)(downloadfiles|remoteserverlocs)$/i;

  // A member, or a record reached from one: awaitable (its value is asked
  // for once, when first awaited), callable, and leading on to members.
  function member(connection, path) {
    let answer = null;
    const target = function () {};
    return new Proxy(target, {
      get(t, prop) {
        if (typeof prop !== 'string') return undefined;
        if (PROMISED.indexOf(prop) >= 0) {
          if (!answer) answer = connection.request({ op: 'get', path });
          return answer[prop].bind(answer);
        }
        return member(connection, path + '.' + prop);
      },
      set(t, prop, value) {
        connection.put(path + '.' + String(prop), value);
        return true;
      },
      apply(t, self, args) {
        if (!INDEXING.test(path)) return connection.call(path, args);
        // Checked at once: a bad index is the script's mistake, thrown
        // where it is made.
        return member(connection, path + '(' + args.map(pathArgument).join(',') + ')');
      }
    });
  }

  function control(connection) {
    const own = {
      addEventListener: (type, fn, options) => {
        if (type === 'error') connection.hasErrorListener = true;
        connection.events.addEventListener(type, fn, options);
      },
      removeEventListener: (type, fn, options) => connection.events.removeEventListener(type, fn, options),
      close: () => connection.close(),
      // Explicit forms, for names a page computes.
      $get: (name) => connection.request({ op: 'get', path: name }),
      $put: (name, value) => connection.request({ op: 'put', path: name, value }),
      $call: (name, ...args) => connection.call(name, args),
      $addServer: (file, server) => connection.request({ op: 'add_server', file, server }),
      $page: () => connection.page(),
      // Caps the control's transfers (its maxRate) at once: bytes per
      // second, or text as Vintrel.parseRate reads it ('500k', '1.5M');
      // 0 or '' lifts the cap. Text that is not a rate rejects before
      // anything is sent.
      $rate: (rate) => {
        let value;
        try {
          value = typeof rate === 'number' ? rate : parseRate(rate);
        } catch (error) {
          return Promise.reject(error);
        }
        return connection.request({ op: 'put', path: 'maxRate', value });
      },
      // The server moves the queue on by itself (files saved or stopped,
      // also by the control giving a file up after `tries` attempts in a
      // row that brought no byte: its maxTries), and goes on without the
      // page: 'FileOutcome' and 'FileRetry' events.
      $drive: (tries) => connection.request(tries ? { op: 'drive', tries } : { op: 'drive' }),
      // The control's session: its identifier (for connect({session})),
      // each file's outcome, and what happened while no page was attached.
      $session: () => connection.request({ op: 'session' }),
      // The other controls the server keeps for this page's origin, each
      // with its session identifier and the state of its queue ("new",
      // "running", "paused", "cancelled", "ended").
      $sessions: () => connection.request({ op: 'sessions' }),
      // Ends the control for good; the server keeps it otherwise.
      $quit: () => connection.request({ op: 'quit' })
    };
    return new Proxy({}, {
      get(t, prop) {
        if (typeof prop !== 'string' || prop === 'then') return undefined;
        if (Object.prototype.hasOwnProperty.call(own, prop)) return own[prop];
        if (EVENTS.indexOf(prop) >= 0 || /^On[A-Z]/.test(prop)) return connection.handlers[prop] || null;
        return member(connection, prop);
      },
      set(t, prop, value) {
        if (typeof prop !== 'string') return false;
        if (EVENTS.indexOf(prop) >= 0 || (/^On[A-Z]/.test(prop) && (typeof value === 'function' || value == null))) {
          connection.handlers[prop] = value;
        } else {
          connection.put(prop, value);
        }
        return true;
      }
    });
  }

  // Opens a connection with a control of its own. options.server: the
  // server's address (default: where vintrel.js came from); options.token:
  // the run's token (default: the page's <meta name="vintrel-token">, or
  // #vintrel-token=... in the page's address); options.session: a session
  // identifier from $session(), to take that control back (a new control
  // when the server no longer has it: compare $session().session).
  function connect(options) {
    options = options || {};
    const base = serverBase(options);
    const url = new URL('control', base);
    url.protocol = base.protocol === 'https:' ? 'wss:' : 'ws:';
    url.search = '?token=' + encodeURIComponent(options.token || findToken()) +
                 (options.session ? '&session=' + encodeURIComponent(options.session) : '');
    return new Promise((resolve, reject) => {
      const socket = new WebSocket(url.href);
      let opened = false;
      socket.addEventListener('open', () => {
        opened = true;
        const connection = new Connection(socket);
        connection.page().catch(() => {});
        resolve(control(connection));
      });
      socket.addEventListener('close', () => {
        if (!opened) {
          reject(new Error('Vintrel: cannot connect to ' + base.origin +
                           ' (not running, or this page or its token is not allowed there)'));
        }
      });
    });
  }

  global.Vintrel = { connect, parseRate, VintrelError, version: '2', server: scriptBase ? scriptBase.origin : null };
})(typeof window !== 'undefined' ? window : globalThis);
