// devicesim serve in headless Chromium: a person opens Settings, assigns a
// press slot through the drawn controls, presses Done, then presses and
// holds a hardware button with the mouse and reads what the launcher did
// from the page's journal. Also: requests a page elsewhere could make are
// refused, and the two latencies are measured (reported, not asserted).
//
// usage: node page_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const {spawn, execFileSync} = require('child_process');

const SKIP = 77;
const CHROMIUM = process.env.QK_CHROMIUM || '/usr/bin/chromium';
const HOLD_MS = 700;
const LATENCY_PRESSES = 20;

let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch (e) {
  console.log('SKIP: puppeteer-core is not installed (npm ci in tests/browser)');
  process.exit(SKIP);
}
if (!fs.existsSync(CHROMIUM)) {
  console.log('SKIP: no Chromium at ' + CHROMIUM);
  process.exit(SKIP);
}
const [devicesim, outDir] = process.argv.slice(2);
if (!devicesim || !outDir) {
  console.error('usage: node page_test.js DEVICESIM OUT_DIR');
  process.exit(2);
}

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok    ' : 'FAIL  ') + what);
  if (!ok) failures++;
}
function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function sim(device, ...args) {
  return execFileSync(devicesim, ['--device', device, ...args], {encoding: 'utf8'});
}

// One raw request, so that Host and the other headers are exactly ours.
function request(port, {method = 'GET', pathname = '/', headers = {}, body = null, chunked = false}) {
  if (body !== null && !chunked) headers = {...headers, 'Content-Length': Buffer.byteLength(body)};
  return new Promise((resolve, reject) => {
    const req = http.request({host: '127.0.0.1', port, method, path: pathname, headers, setHost: false, agent: false}, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => resolve({status: res.statusCode, text}));
    });
    req.on('error', reject);
    if (body !== null) req.write(body);
    req.end();
  });
}

function startServer(device) {
  return new Promise((resolve, reject) => {
    const server = spawn(devicesim, ['--device', device, 'serve', '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
    let out = '';
    const timer = setTimeout(() => reject(new Error('devicesim serve printed no address')), 15000);
    server.stdout.setEncoding('utf8');
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const first = out.split('\n')[0];
      const match = /^http:\/\/127\.0\.0\.1:(\d+)\/$/.exec(first);
      if (out.includes('\n') && match && !server.port) {
        clearTimeout(timer);
        server.port = Number(match[1]);
        resolve(server);
      }
    });
    server.on('exit', (code) => reject(new Error('devicesim serve ended with ' + code)));
    server.output = () => out;
  });
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

async function main() {
  const device = fs.mkdtempSync(path.join(os.tmpdir(), 'qk_browser_'));
  let server = null, browser = null;
  try {
    sim(device, 'init');
    server = await startServer(device);
    const port = server.port;
    const base = 'http://127.0.0.1:' + port;

    browser = await puppeteer.launch({
      executablePath: CHROMIUM, headless: true, timeout: 60000,
      args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run', '--disable-sync'],
    });
    const page = await browser.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    await page.setViewport({width: 1100, height: 760});
    await page.goto(base + '/');
    await page.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
    check(true, 'the page opened its event stream');

    // ---- What a page elsewhere could try ----------------------------------------------
    const token = await page.$eval('meta[name="qk-token"]', (m) => m.content);
    check(/^[0-9a-f]{64}$/.test(token), 'the page carries a 256-bit token');
    const json = {'Content-Type': 'application/json'};
    const withToken = {...json, 'X-Quadrakey-Token': token, Host: '127.0.0.1:' + port};
    const rebound = await request(port, {headers: {Host: 'attacker.example:' + port}});
    check(rebound.status === 403, 'a request with another Host is refused (' + rebound.status + ')');
    const reboundPost = await request(port, {method: 'POST', pathname: '/api/button',
      headers: {...withToken, Host: 'attacker.example:' + port}, body: '{"name":"40C1","down":true}'});
    check(reboundPost.status === 403, 'a POST with another Host is refused, token or not (' + reboundPost.status + ')');
    const noToken = await request(port, {method: 'POST', pathname: '/api/button',
      headers: {...json, Host: '127.0.0.1:' + port}, body: '{"name":"40C1","down":true}'});
    check(noToken.status === 403, 'a POST without the token is refused (' + noToken.status + ')');
    const badToken = await request(port, {method: 'POST', pathname: '/api/settings',
      headers: {...withToken, 'X-Quadrakey-Token': '0'.repeat(64)}, body: '{}'});
    check(badToken.status === 403, 'a POST with a wrong token is refused (' + badToken.status + ')');
    const foreign = await request(port, {method: 'POST', pathname: '/api/settings',
      headers: {...withToken, Origin: 'http://attacker.example'}, body: '{}'});
    check(foreign.status === 403, 'a POST from another origin is refused (' + foreign.status + ')');
    const malformed = await request(port, {method: 'POST', pathname: '/api/button', headers: withToken, body: '{"name":'});
    check(malformed.status === 400 && /JSON/.test(malformed.text), 'malformed JSON gets 400 with a reason');
    const unknown = await request(port, {method: 'POST', pathname: '/api/button', headers: withToken,
      body: '{"name":"7777","down":true}'});
    check(unknown.status === 404 && /7777/.test(unknown.text), 'an unknown button gets 404 naming it');
    const huge = await request(port, {method: 'POST', pathname: '/api/button', headers: withToken,
      body: JSON.stringify({name: '40C1', down: true, pad: 'x'.repeat(64 * 1024)})});
    check(huge.status === 413, 'a huge body gets 413 (' + huge.status + ')');
    const endless = await request(port, {method: 'POST', pathname: '/api/button', headers: withToken, chunked: true,
      body: JSON.stringify({name: '40C1', down: true, pad: 'x'.repeat(64 * 1024)})});
    check(endless.status === 411, 'a body without a length gets 411 (' + endless.status + ')');
    const viaGet = await request(port, {pathname: '/api/settings', headers: {Host: '127.0.0.1:' + port}});
    check(viaGet.status === 405, 'GET cannot change anything (' + viaGet.status + ')');
    const state = sim(device, 'state');
    const journal = JSON.parse('[' + sim(device, 'journal', '--json').trim().split('\n').filter(Boolean).join(',') + ']');
    check(/keys down: none/.test(state) && !/main window:/.test(state) && journal.length === 0,
          'the refused requests changed nothing');

    // ---- Keys 1 to 9, auto-repeat ignored -----------------------------------------------------
    const before = (await pageJournal(page)).reduce((last, e) => Math.max(last, e.id), 0);
    await page.keyboard.down('3');
    await page.keyboard.down('3');  // a repeat: the key is already down
    await waitForEntry(page, (e) => e.id > before && e.event === 'button' && e.fields.name === '40C3' && e.fields.down, 'key 3 down');
    await page.keyboard.up('3');
    await waitForEntry(page, (e) => e.id > before && e.event === 'button' && e.fields.name === '40C3' && !e.fields.down, 'key 3 up');
    const downs = (await pageJournal(page)).filter((e) => e.id > before && e.event === 'button' && e.fields.down);
    check(downs.length === 1, 'key 3 pressed button 3 once, its auto-repeat ignored');

    // ---- Latencies (Button 1, not taken over yet: its press opens Calendar) --------------------
    const toJournal = [], toPage = [];
    for (let i = 0; i < LATENCY_PRESSES; i++) {
      const last = (await pageJournal(page)).reduce((max, e) => Math.max(max, e.id), 0);
      await pointAt(page, '.hw-button[data-name="40C1"]');
      await page.mouse.down();
      const entry = await waitForEntry(page, (e) => e.id > last && e.event === 'button' && e.fields.name === '40C1' && e.fields.down, 'press ' + i);
      await page.mouse.up();
      await waitForEntry(page, (e) => e.id > entry.id && e.event === 'button' && e.fields.name === '40C1' && !e.fields.down, 'release ' + i);
      const marks = await page.evaluate((id) => ({down: window.qk.pointerDownAt[window.qk.pointerDownAt.length - 1].at,
                                                  shown: window.qk.shownAt.get(id)}), entry.id);
      toJournal.push(entry.t - marks.down);
      toPage.push(marks.shown - entry.t);
      await sleep(120);
    }
    const m1 = median(toJournal), m2 = median(toPage);
    console.log('latency: pointer down -> key-down journal entry: median ' + m1.toFixed(1) + ' ms (min ' +
                Math.min(...toJournal).toFixed(1) + ', max ' + Math.max(...toJournal).toFixed(1) + ', n ' + toJournal.length + ')');
    console.log('latency: journal entry -> shown on the page: median ' + m2.toFixed(1) + ' ms (min ' +
                Math.min(...toPage).toFixed(1) + ', max ' + Math.max(...toPage).toFixed(1) + ', n ' + toPage.length + ')');
    check(toJournal.every(Number.isFinite) && toPage.every(Number.isFinite), 'both latencies were measured for every press');

    // ---- Settings: assign Press and Hold of Button 2 through the drawn controls ----------
    await clickAt(page, '#today-settings');
    await page.waitForSelector('#screen[data-view="program"] .tab.current[data-tab="Settings"]', {timeout: 15000});
    check(true, 'Settings started tapdeck and its Settings page is drawn');
    await clickAt(page, '.ctl-list[data-id="1012"] .row[data-line="1"]');
    await page.waitForSelector('.ctl-list[data-id="1012"] .row.selected[data-line="1"]');
    await clickAt(page, '.ctl-combo[data-id="1014"]');
    await page.waitForSelector('#droplist[data-ready]');
    const lines = (await (await fetch(base + '/api/lines?id=1014')).json()).lines;
    const notes = lines.findIndex((line) => line.text === 'Notes');
    check(notes > 0, 'the Press and Hold list offers Notes (line ' + notes + ')');
    // Scrolled to, as a person would: only the rows in view exist.
    await page.$eval('#droplist', (list, row) => { list.scrollTop = row * 16; }, notes);
    await clickAt(page, '#droplist .drop-row[data-line="' + notes + '"]');
    await page.waitForFunction(() => {
      const value = document.querySelector('.ctl-combo[data-id="1014"] .value');
      return value && value.textContent === 'Notes';
    });
    check(true, 'Press and Hold shows Notes');
    await clickAt(page, '#title-ok');
    await page.waitForSelector('#msgbox-ok, #screen[data-view="today"]', {timeout: 15000});
    if (await page.$('#msgbox-ok')) {
      const text = await page.$eval('#msgbox', (box) => box.textContent);
      check(/reboot/.test(text), 'Done shows the reboot notice over the page');
      await clickAt(page, '#msgbox-ok');
    }
    await page.waitForSelector('#screen[data-view="today"]', {timeout: 15000});
    check(true, 'tapdeck ended; the Today screen is back');

    // ---- Press and hold Button 2 with real pointer events -----------------------------------
    await pointAt(page, '.hw-button[data-name="40C2"]');
    await page.mouse.down();
    await sleep(HOLD_MS);
    await page.mouse.up();
    const serverPid = server.pid;
    const down = await waitForEntry(page, (e) => e.event === 'button' && e.fields.name === '40C2' && e.fields.down, 'key down');
    const up = await waitForEntry(page, (e) => e.event === 'button' && e.fields.name === '40C2' && !e.fields.down && e.id > down.id, 'key up');
    const held = up.t - down.t;
    check(held >= HOLD_MS - 20 && held <= HOLD_MS + 250, 'the key was down ' + held + ' ms for a ' + HOLD_MS + ' ms hold');
    check(down.pid === serverPid, 'the key went down in the server (pid ' + down.pid + ')');
    const launcher = await waitForEntry(page, (e) => e.event === 'start' && e.id > down.id &&
                                        /TapdeckX\.exe$/.test(e.fields.program) && e.fields.args === '1', 'TapdeckX started');
    const dispatched = await waitForEntry(page, (e) => e.pid === launcher.fields.child && e.event === 'open',
                                          'the launcher opening the held slot');
    check(/Notes\.lnk$/i.test(dispatched.fields.file) && dispatched.fields.ok === true,
          'the launcher dispatched the held slot: ' + dispatched.fields.file);
    const dispatchDelay = dispatched.t - down.t;
    check(dispatchDelay >= 380, 'the hold was recognised after the hold interval (' + dispatchDelay + ' ms after key down)');
    await page.waitForFunction(() => /Notes/.test((document.querySelector('#pressed tr[data-slot="hold"] td') || {}).textContent));
    check(true, 'the panel beside the device shows Button 2 with Notes held');
    await page.waitForFunction(() => /notes/i.test((document.querySelector('#today-last') || {}).textContent));
    check(true, 'the Today screen names the program the press started');

    // ---- The picture for the README: the Settings page with Button 2 ------------------------------
    await clickAt(page, '#today-settings');
    await page.waitForSelector('#screen[data-view="program"] .tab.current[data-tab="Settings"]', {timeout: 15000});
    await clickAt(page, '.ctl-list[data-id="1012"] .row[data-line="1"]');
    await page.waitForFunction(() => {
      const value = document.querySelector('.ctl-combo[data-id="1014"] .value');
      return value && value.textContent === 'Notes';
    });
    check(true, 'tapdeck opens again with Notes stored for Press and Hold of Button 2');
    await page.mouse.move(1, 1);
    fs.mkdirSync(outDir, {recursive: true});
    const shot = path.join(outDir, 'devicesim-serve.png');
    await page.screenshot({path: shot});
    console.log('screenshot: ' + shot);
    await clickAt(page, '#title-cancel');
    await page.waitForSelector('#screen[data-view="today"]', {timeout: 15000});
    check(pageErrors.length === 0, 'no script errors on the page' + (pageErrors.length ? ': ' + pageErrors.join('; ') : ''));

    // ---- Stopping ------------------------------------------------------------------------------------
    await browser.close();
    browser = null;
    server.removeAllListeners('exit');
    const ended = new Promise((resolve) => server.on('exit', (code) => resolve(code)));
    server.kill('SIGINT');
    const code = await Promise.race([ended, sleep(10000).then(() => 'still running')]);
    check(code === 0, 'devicesim serve stopped on SIGINT (' + code + ')');
    server = null;
    check(/keys down: none/.test(sim(device, 'state')), 'no key stays down');
  } finally {
    if (browser) await browser.close().catch(() => {});
    if (server) server.kill('SIGKILL');
    // A tapdeck this test started and left behind by a failure.
    try {
      for (const match of sim(device, 'state').matchAll(/^main window: .* pid (\d+)$/gm)) process.kill(Number(match[1]));
    } catch (e) { /* none left */ }
    if (!process.env.QK_KEEP_TEST_DEVICES) fs.rmSync(device, {recursive: true, force: true});
  }
}

main().then(() => {
  console.log(failures ? failures + ' check(s) failed' : 'all checks passed');
  process.exit(failures ? 1 : 0);
}, (error) => {
  console.error('FAIL  ' + (error && error.stack || error));
  process.exit(1);
});
