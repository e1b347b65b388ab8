// The three engines the page is tested and measured in, driven alike:
// Debian's chromium (puppeteer-core over CDP), firefox-esr (puppeteer-core
// over WebDriver BiDi, no extra driver) and WebKitGTK's MiniBrowser (plain
// W3C WebDriver requests to WebKitWebDriver, under Xvfb); and what they need
// running, each started here and stopped again: a display, a sound server
// with a null sink, a static server on 127.0.0.1.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';

import puppeteer from 'puppeteer-core';

export const kEngines = ['chromium', 'firefox', 'webkit'];
const kMiniBrowser = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
// The longest a step is waited for, in ms.
const kWait = 120000;

// The engines asked for with KITWEAVER_ENGINES (a list separated by
// commas), all of them by default.
export function enginesWanted() {
  const wanted = (process.env.KITWEAVER_ENGINES || kEngines.join(',')).split(',').filter(Boolean);
  for (const engine of wanted) if (!kEngines.includes(engine)) throw new Error(`unknown engine ${engine}`);
  return wanted;
}

// What has been started, stopped in the reverse order.
const running = [];
export async function stopAll() {
  while (running.length > 0) await running.pop()();
}
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.once(signal, () => { stopAll().finally(() => process.exit(130)); });
}

// A child that stays up until stopAll, ended by its own id.
function daemon(command, args, options) {
  const child = spawn(command, args, { stdio: 'ignore', ...options });
  const exited = new Promise((resolve) => { child.once('exit', resolve); });
  running.push(async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    await Promise.race([exited, new Promise((resolve) => { setTimeout(resolve, 3000); })]);
  });
  return child;
}

async function until(check, what, timeout = 10000) {
  for (const start = Date.now(); !(await check());) {
    if (Date.now() - start > timeout) throw new Error(`${what} did not start`);
    await new Promise((resolve) => { setTimeout(resolve, 50); });
  }
}

// A PulseAudio server of our own whose only output is a null sink: the
// sound device of the engines that need one to start sound. Returns the
// environment that points a client to it.
export async function startSound(scratch) {
  const dir = path.join(scratch, 'pulse');
  fs.mkdirSync(dir, { recursive: true });
  const socket = path.join(dir, 'native');
  daemon('pulseaudio', ['-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no', '--disable-shm=yes',
                        '--log-level=error', '-L', `module-native-protocol-unix auth-anonymous=1 socket=${socket}`,
                        '-L', 'module-null-sink sink_name=kitweaver'],
         { env: { ...process.env, HOME: dir, XDG_RUNTIME_DIR: dir } });
  await until(() => fs.existsSync(socket), 'pulseaudio');
  return { PULSE_SERVER: `unix:${socket}` };
}

// Records what the null sink of `env`'s server plays until `stop`, which
// returns the left channel's frames (16-bit, 44.1 kHz).
export function recordSound(env) {
  const recorder = spawn('parec', ['-d', 'kitweaver.monitor', '--format=s16le', '--rate=44100', '--channels=2',
                                   '--latency-msec=20'], { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'ignore'] });
  const chunks = [];
  recorder.stdout.on('data', (data) => chunks.push(data));
  const exited = new Promise((resolve) => { recorder.once('exit', resolve); });
  return {
    async stop() {
      recorder.kill('SIGTERM');
      await exited;
      const bytes = Buffer.concat(chunks);
      return Int16Array.from({ length: bytes.length >> 2 }, (_, frame) => bytes.readInt16LE(4 * frame));
    },
  };
}

// An X display of Xvfb's, for MiniBrowser.
export async function startDisplay() {
  const xvfb = daemon('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                      { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  let number = '';
  xvfb.stdio[3].on('data', (data) => { number += data; });
  await until(() => number.includes('\n'), 'Xvfb');
  return { DISPLAY: `:${number.trim()}` };
}

// A static server on 127.0.0.1 of `files` (its paths -> files on disk).
export async function serve(files) {
  const server = http.createServer((request, response) => {
    const file = files[new URL(request.url, 'http://127.0.0.1').pathname];
    if (!file) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  running.push(() => new Promise((resolve) => { server.close(resolve); server.closeAllConnections(); }));
  return `http://127.0.0.1:${server.address().port}`;
}

async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  const { port } = server.address();
  await new Promise((resolve) => { server.close(resolve); });
  return port;
}

// Takes BYOB readers away, as Safari before 26.4 has them: a Blob's stream
// is no byte stream.
export function withoutByob() {
  const getReader = ReadableStream.prototype.getReader;
  ReadableStream.prototype.getReader = function (options) {
    if (options && options.mode === 'byob') {
      throw new TypeError('ReadableStreamBYOBReader needs a ReadableByteStreamController');
    }
    return getReader.call(this, options);
  };
  delete self.ReadableStreamBYOBReader;
  delete self.ReadableByteStreamController;
}

// Runs the function whose text is `change` in the page and in each of its
// workers, before their own scripts.
function changeEverywhere(change) {
  (0, eval)(`(${change})()`);
  const PageWorker = window.Worker;
  if (!PageWorker) return;
  window.Worker = function (url, options) {
    const request = new XMLHttpRequest();
    request.open('GET', url, false);
    request.send();
    const code = `(${change})();\n${request.responseText}`;
    return new PageWorker(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })), options);
  };
}

// A page of one engine with the calls the tests and the benchmark make:
// goto, evaluate (a function and its arguments, as puppeteer takes them),
// waitFor, upload, click, tap, alter (chromium and firefox), phone (the page at 390 x 844; `phone.html`
// in the scratch folder is the frame of MiniBrowser's, served as
// /phone.html), desktop, screenshot and close; `pid` is the browser's
// process, whose tree holds all its memory.
class PuppeteerTab {
  constructor(browser, page, pid) {
    Object.assign(this, { browser, page, pid });
  }

  async goto(url) {
    await this.page.goto(url, { waitUntil: 'load' });
  }

  // Makes the function `change` run in every page loaded from now on and
  // in its workers, before their scripts; returns what undoes that.
  async alter(change) {
    const { identifier } = await this.page.evaluateOnNewDocument(changeEverywhere, String(change));
    return () => this.page.removeScriptToEvaluateOnNewDocument(identifier);
  }

  evaluate(fn, ...args) {
    return this.page.evaluate(fn, ...args);
  }

  async waitFor(fn, ...args) {
    await this.page.waitForFunction(fn, { timeout: kWait, polling: 50 }, ...args);
  }

  async upload(selector, paths) {
    await (await this.page.$(selector)).uploadFile(...paths);
  }

  async click(selector) {
    await this.page.click(selector);
  }

  async tap(selector) {
    await this.page.tap(selector);
  }

  async phone(url) {
    await this.page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true });
    await this.goto(url);
  }

  async desktop(width = 800, height = 600) {
    await this.page.setViewport({ width, height });
  }

  async screenshot(file) {
    await this.page.screenshot({ path: file, fullPage: true });
  }

  async close() {
    await this.browser.close();
  }
}

// WebKitWebDriver's session of one MiniBrowser. A window of MiniBrowser is
// at least 447 pixels wide, so the phone is a 390-pixel frame.
class WebDriverTab {
  constructor(base, session, pid, scratch) {
    Object.assign(this, { base, session, pid, scratch });
  }

  async send(method, what, body) {
    const response = await fetch(`${this.base}/session/${this.session}${what}`, {
      method, headers: { 'content-type': 'application/json' }, body: body === undefined ? undefined : JSON.stringify(body),
    });
    const { value } = await response.json();
    if (value && value.error) throw new Error(`WebDriver ${what}: ${value.error}: ${value.message}`);
    return value;
  }

  async element(selector) {
    return Object.values(await this.send('POST', '/element', { using: 'css selector', value: selector }))[0];
  }

  async goto(url) {
    await this.send('POST', '/frame', { id: null });
    await this.send('POST', '/url', { url });
  }

  async evaluate(fn, ...args) {
    const script = `const done = arguments[arguments.length - 1];
      Promise.resolve().then(() => (${fn}).apply(null, Array.prototype.slice.call(arguments, 0, -1)))
        .then((value) => done({ value: value === undefined ? null : value }), (error) => done({ error: String(error && error.stack || error) }));`;
    const result = await this.send('POST', '/execute/async', { script, args });
    if (result.error) throw new Error(result.error);
    return result.value;
  }

  async waitFor(fn, ...args) {
    for (const start = Date.now(); !(await this.evaluate(fn, ...args));) {
      if (Date.now() - start > kWait) throw new Error(`waited too long for ${fn}`);
      await new Promise((resolve) => { setTimeout(resolve, 50); });
    }
  }

  async upload(selector, paths) {
    await this.send('POST', `/element/${await this.element(selector)}/value`, { text: paths.join('\n') });
  }

  async click(selector) {
    await this.send('POST', `/element/${await this.element(selector)}/click`, {});
  }

  tap(selector) {
    return this.click(selector);
  }

  async phone(url) {
    const frame = path.join(this.scratch, 'phone.html');
    fs.writeFileSync(frame, '<!doctype html><meta charset="utf-8"><style>body { margin: 0 } iframe { border: 0; width: 390px; '
                            + `height: 844px }</style><iframe src="${url}"></iframe>`);
    const served = url.startsWith('http');
    await this.goto(served ? `${new URL(url).origin}/phone.html` : `file://${frame}`);
    await this.send('POST', '/frame', { id: 0 });
    await this.waitFor(() => document.readyState === 'complete' && document.body.dataset.reading !== undefined);
  }

  async desktop() {
    await this.send('POST', '/frame', { id: null });
  }

  async screenshot() {
    throw new Error('screenshots are taken in chromium');
  }

  async close() {
    await this.send('DELETE', '');
  }
}

// Starts `engine` with its sound going to `env`'s server (and, for webkit,
// on `env`'s display).
export async function launch(engine, { env, scratch, screen }) {
  const profile = fs.mkdtempSync(path.join(scratch, `${engine}-`));
  if (engine === 'webkit') {
    const port = await freePort();
    const driver = daemon('WebKitWebDriver', [`--port=${port}`], { env: { ...process.env, ...env, NO_AT_BRIDGE: '1' } });
    const base = `http://127.0.0.1:${port}`;
    await until(() => fetch(`${base}/status`).then(() => true, () => false), 'WebKitWebDriver');
    const response = await fetch(`${base}/session`, {
      method: 'POST', headers: { 'content-type': 'application/json' },
      body: JSON.stringify({ capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': {
        binary: kMiniBrowser, args: ['--automation', '--autoplay-policy=allow'] } } } }),
    });
    const { value } = await response.json();
    if (!value.sessionId) throw new Error(`WebKitWebDriver: ${JSON.stringify(value)}`);
    const tab = new WebDriverTab(base, value.sessionId, driver.pid, scratch);
    await tab.send('POST', '/timeouts', { script: 600000, pageLoad: 60000 });
    return tab;
  }
  const browser = await puppeteer.launch(engine === 'firefox' ? {
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: true,
    env: { ...process.env, ...env },
    userDataDir: profile,
    // Sound only through PulseAudio: without its server, there is no device.
    extraPrefsFirefox: { 'media.cubeb.backend': 'pulse', 'media.autoplay.default': 0 },
  } : {
    executablePath: '/usr/bin/chromium',
    headless: true,
    env: { ...process.env, ...env },
    ignoreDefaultArgs: ['--mute-audio'],
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
           `--user-data-dir=${profile}`],
  });
  const page = (await browser.pages())[0] || await browser.newPage();
  if (screen) await page.setViewport(screen);
  return new PuppeteerTab(browser, page, browser.process().pid);
}
