// What the browser tests share: a fresh device and server per test, headless
// Chromium, raw requests, and waiting for conditions rather than sleeping.
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const {spawn, execFileSync} = require('child_process');

const SKIP = 77;
const CHROMIUM = process.env.QK_CHROMIUM || '/usr/bin/chromium';

let puppeteer = null;
try {
  puppeteer = require('puppeteer-core');
} catch (e) {
  puppeteer = null;
}

// Skips the test (77) without Chromium or puppeteer-core; the arguments otherwise.
function setUp(usage) {
  if (!puppeteer) {
    console.log('SKIP: puppeteer-core is not installed (npm ci in tests/browser)');
    process.exit(SKIP);
  }
  if (!fs.existsSync(CHROMIUM)) {
    console.log('SKIP: no Chromium at ' + CHROMIUM);
    process.exit(SKIP);
  }
  const [devicesim, outDir] = process.argv.slice(2);
  if (!devicesim || !outDir) {
    console.error('usage: ' + usage);
    process.exit(2);
  }
  return {devicesim, outDir};
}

let failures = 0;
const begun = Date.now();
function check(ok, what) {
  console.log((ok ? 'ok    ' : 'FAIL  ') + ((Date.now() - begun) / 1000).toFixed(1).padStart(5) + ' s  ' + what);
  if (!ok) failures++;
  return ok;
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function sim(devicesim, device, ...args) {
  return execFileSync(devicesim, ['--device', device, ...args], {encoding: 'utf8'});
}

// One raw request, so that Host and the other headers are exactly ours.
function request(port, {method = 'GET', pathname = '/', headers = {}, body = null}) {
  if (body !== null) headers = {...headers, 'Content-Length': Buffer.byteLength(body)};
  return new Promise((resolve, reject) => {
    const req = http.request({host: '127.0.0.1', port, method, path: pathname, headers, setHost: false, agent: false}, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => resolve({status: res.statusCode, text, headers: res.headers}));
    });
    req.on('error', reject);
    if (body !== null) req.write(body);
    req.end();
  });
}

// devicesim serve on a free port (or `port`); resolves once it printed its
// address: {process, port, url (with the token), token}.
function startServer(devicesim, device, port = 0, extra = []) {
  return new Promise((resolve, reject) => {
    const server = spawn(devicesim, ['--device', device, 'serve', '--port', String(port), ...extra],
                         {stdio: ['ignore', 'pipe', 'inherit']});
    let out = '';
    const timer = setTimeout(() => reject(new Error('devicesim serve printed no address')), 15000);
    server.stdout.setEncoding('utf8');
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const match = /^(http:\/\/127\.0\.0\.1:(\d+)\/)#token=([0-9a-f]{64})$/.exec(out.split('\n')[0]);
      if (out.includes('\n') && match && !server.port) {
        clearTimeout(timer);
        server.port = Number(match[2]);
        server.base = match[1];
        server.url = match[0];
        server.token = match[3];
        resolve(server);
      }
    });
    server.on('exit', (code) => reject(new Error('devicesim serve ended with ' + code)));
    server.output = () => out;
  });
}

// Stops a server with `signal`; resolves with its exit code (or signal).
function stopServer(server, signal = 'SIGINT') {
  server.removeAllListeners('exit');
  const ended = new Promise((resolve) => server.on('exit', (code, sig) => resolve(code !== null ? code : sig)));
  server.kill(signal);
  return Promise.race([ended, sleep(10000).then(() => 'still running')]);
}

function launch() {
  return puppeteer.launch({
    executablePath: CHROMIUM, headless: true, timeout: 60000, protocolTimeout: 60000,
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run',
           '--disable-sync', '--disable-renderer-backgrounding', '--disable-background-timer-throttling',
           '--disable-backgrounding-occluded-windows'],
  });
}

// A page on the device, through the printed address; resolves once its
// event stream is open.
const opened = [];
async function openDevice(browser, server, {width = 1100, height = 760, context = null} = {}) {
  const page = await (context || browser).newPage();
  page.errors = [];
  opened.push(page);
  page.on('pageerror', (e) => page.errors.push(e.message));
  await page.setViewport({width, height});
  await page.goto(server.url);
  await page.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  return page;
}

// The journal as the page shows it.
function pageJournal(page) {
  return page.$$eval('#journal .entry', (rows) => rows.map((row) => JSON.parse(row.title)));
}

async function waitForEntry(page, test, what, timeout = 10000) {
  const started = Date.now();
  for (;;) {
    const found = (await pageJournal(page)).find(test);
    if (found) return found;
    if (Date.now() - started > timeout) throw new Error('no journal entry on the page: ' + what);
    await sleep(20);
  }
}

async function pointAt(page, selector) {
  // The screen is drawn anew when it changes: find the place, then point there.
  for (let tries = 0; ; tries++) {
    const box = await (await page.waitForSelector(selector)).boundingBox().catch(() => null);
    if (box) return page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    if (tries > 20) throw new Error('nowhere to point at: ' + selector);
    await sleep(20);
  }
}

// A click as a person makes it: at the element's place on the screen.
async function clickAt(page, selector) {
  await pointAt(page, selector);
  await page.mouse.down();
  await page.mouse.up();
}

function newDevice(devicesim) {
  const device = fs.mkdtempSync(path.join(os.tmpdir(), 'qk_browser_'));
  sim(devicesim, device, 'init');
  return device;
}

// Whatever a test left running on the device, and the device itself.
function cleanUp(devicesim, device) {
  try {
    for (const match of sim(devicesim, device, 'state').matchAll(/^main window: .* pid (\d+)$/gm)) process.kill(Number(match[1]));
  } catch (e) { /* none left */ }
  if (!process.env.QK_KEEP_TEST_DEVICES) fs.rmSync(device, {recursive: true, force: true});
}

// Runs `body(session)` on a fresh device (made ready by `prepare(device)`
// when given) with a server and a browser: session = {device, server,
// browser}; the body may replace or stop them (null). Then: no script
// errors on any device page opened, and nothing left behind.
function run(devicesim, body, prepare) {
  finish(async () => {
    const device = newDevice(devicesim);
    const session = {device, server: null, browser: null};
    try {
      if (prepare) prepare(device);
      session.server = await startServer(devicesim, device);
      session.browser = await launch();
      await body(session);
      const errors = opened.flatMap((page) => page.errors);
      check(errors.length === 0, 'no script errors on the pages' + (errors.length ? ': ' + errors.join('; ') : ''));
    } finally {
      if (session.browser) await session.browser.close().catch(() => {});
      if (session.server) await stopServer(session.server);
      cleanUp(devicesim, device);
    }
  });
}

function finish(main) {
  main().then(() => {
    console.log(failures ? failures + ' check(s) failed' : 'all checks passed');
    process.exit(failures ? 1 : 0);
  }, (error) => {
    console.error('FAIL  ' + (error && error.stack || error));
    process.exit(1);
  });
}

module.exports = {
  setUp, check, median, sleep, sim, request, startServer, stopServer, launch, openDevice, pageJournal, waitForEntry,
  pointAt, clickAt, run,
};
