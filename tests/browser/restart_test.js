// An open page when devicesim serve stops and starts again: after SIGTERM and
// after SIGKILL (with the power key and a button held), the page says the
// server is gone, comes back by itself when it returns, and presses again
// without a reload; the restarted server lets go of the keys the killed one
// held, journalled, and the page shows none held. A script without a page
// holds keys for as long as its connection lasts, or until it has been
// silent too long. A server started with a new token: the open page is told
// to open the new address.
//
// usage: node restart_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const http = require('http');
const t = require('./lib');

const {devicesim} = t.setUp('node restart_test.js DEVICESIM OUT_DIR');
const {check, sleep, pageJournal, waitForEntry, pointAt} = t;

async function pressOnce(page, name) {
  const last = (await pageJournal(page)).reduce((max, e) => Math.max(max, e.id), 0);
  await pointAt(page, '.hw-button[data-name="' + name + '"]');
  await page.mouse.down();
  await page.mouse.up();
  await waitForEntry(page, (e) => e.id > last && e.event === 'button' && e.fields.name === name && !e.fields.down, name + ' up');
}

async function gone(page, what) {
  // Caught while it stops, the page says so first; then that it is gone.
  await page.waitForFunction(() => !window.qk.streamOpen && !document.getElementById('banner').hidden &&
                                   /not running/.test(document.getElementById('banner').textContent), {timeout: 10000});
  const banner = await page.$eval('#banner', (b) => b.textContent);
  check(/not running/.test(banner), what + ': the page says the server is gone: "' + banner + '"');
}

async function back(page, what) {
  const started = Date.now();
  await page.waitForFunction(() => window.qk.streamOpen && document.getElementById('banner').hidden, {timeout: 15000});
  check(true, what + ': the page came back by itself after ' + (Date.now() - started) + ' ms');
}

t.run(devicesim, async (session) => {
  const {device, browser} = session;
  let server = session.server;
  const port = server.port, firstToken = server.token;
  const page = await t.openDevice(browser, server);
  await pressOnce(page, '40C1');

  // ---- SIGTERM, then the same server again -------------------------------------------------
  check(await t.stopServer(server, 'SIGTERM') === 0, 'SIGTERM stopped the server');
  session.server = null;
  await gone(page, 'after SIGTERM');
  await sleep(1500);  // the page keeps trying meanwhile
  server = session.server = await t.startServer(devicesim, device, port);
  check(server.token === firstToken, 'the restarted server kept the token');
  await back(page, 'after SIGTERM');
  await pressOnce(page, '40C2');
  check(true, 'the page presses again without a reload');

  // ---- SIGKILL with keys held -----------------------------------------------------------------
  // The power key by the mouse, Button 3 by its digit: both down when the server dies.
  const last = (await pageJournal(page)).reduce((max, e) => Math.max(max, e.id), 0);
  await pointAt(page, '#power');
  await page.mouse.down();
  await page.keyboard.down('3');
  await waitForEntry(page, (e) => e.id > last && e.event === 'button' && e.fields.name === '40C3' && e.fields.down, '40C3 down');
  await waitForEntry(page, (e) => e.id > last && e.event === 'key' && e.fields.vk === 0xDF && !e.fields.up, 'power down');
  await page.waitForFunction(() => /Held down now/.test(document.getElementById('press-timing').textContent));
  check(/keys down: .*0xC3.*0xDF|keys down: .*0xDF.*0xC3/.test(t.sim(devicesim, device, 'state')),
        'the power key and Button 3 are down when the server is killed');
  server.kill('SIGKILL');
  session.server = null;
  await gone(page, 'after SIGKILL');
  await page.mouse.up();
  await page.keyboard.up('3');
  check(/0xDF/.test(t.sim(devicesim, device, 'state')), 'the killed server left the power key down');
  server = session.server = await t.startServer(devicesim, device, port);
  check(/keys down: none/.test(t.sim(devicesim, device, 'state')), 'the restarted server let go of both at its start');
  const ups = JSON.parse('[' + t.sim(devicesim, device, 'journal', '--json').trim().split('\n').join(',') + ']')
    .filter((e) => e.pid === server.pid && ((e.event === 'key' && e.vk === 0xDF && e.up) ||
                                            (e.event === 'button' && e.name === '40C3' && !e.down)));
  check(ups.length === 2, 'and journalled both key ups (' + ups.length + ')');
  await back(page, 'after SIGKILL');
  const timing = await page.$eval('#press-timing', (p) => p.textContent);
  check(!/Held down now/.test(timing), 'the page shows no key held: "' + timing + '"');
  const drawn = await page.$$eval('.hw-button.down, .hw-top.down', (keys) => keys.map((b) => b.dataset.name));
  check(drawn.length === 0, 'no key is drawn down, the power key included (' + drawn.join(' ') + ')');
  await pressOnce(page, '40C3');
  check(true, 'after SIGKILL the page presses again: the token was kept');

  // ---- A script without a page: its keys go with its connection ---------------------------
  const agent = new http.Agent({keepAlive: true, maxSockets: 1});
  const script = (path, body) => new Promise((resolve, reject) => {
    const text = JSON.stringify(body);
    const req = http.request({port, path, method: 'POST', agent, headers: {'X-Quadrakey-Token': server.token,
      'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text)}}, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    });
    req.on('error', reject);
    req.end(text);
  });
  check(await script('/api/power', {down: true, page: ''}) === 200 && await script('/api/button', {name: '40C1', down: true}) === 200,
        'a script without a page holds the power key and Button 1 on one connection');
  await page.waitForFunction(() => document.getElementById('power').classList.contains('down'), {timeout: 15000});
  agent.destroy();
  const hungUp = Date.now();
  await page.waitForFunction(() => !document.getElementById('power').classList.contains('down') &&
                                   !document.querySelector('.hw-button.down'), {timeout: 10000});
  check(/keys down: none/.test(t.sim(devicesim, device, 'state')), 'when it hung up, both went up (' +
        (Date.now() - hungUp) + ' ms)');
  const quiet = new http.Agent({keepAlive: true, maxSockets: 1});
  await new Promise((resolve) => {
    const text = JSON.stringify({name: '40C2', down: true});
    http.request({port, path: '/api/button', method: 'POST', agent: quiet, headers: {'X-Quadrakey-Token': server.token,
      'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text)}}, (res) => {
      res.resume();
      res.on('end', resolve);
    }).end(text);
  });
  const silent = Date.now();
  await page.waitForFunction(() => !document.querySelector('.hw-button.down'), {timeout: 15000});
  check(Date.now() - silent >= 2500, 'a script that holds a key and says nothing more lets go after the silence limit (' +
        (Date.now() - silent) + ' ms)');
  quiet.destroy();

  // ---- A new token: the open page is told what to do ----------------------------------------
  check(await t.stopServer(server, 'SIGTERM') === 0, 'SIGTERM stopped the server again');
  server = session.server = await t.startServer(devicesim, device, port, ['--new-token']);
  check(server.token !== firstToken, '--new-token made a new token');
  await page.waitForFunction(() => /token/.test(document.getElementById('banner').textContent) &&
                                   !document.getElementById('banner').hidden, {timeout: 15000});
  const told = await page.$eval('#banner', (b) => b.textContent);
  check(/printed/.test(told), 'the page with the old token says to open the printed address: "' + told + '"');
  await page.goto(server.url);
  await page.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  await pressOnce(page, '40C4');
  check(true, 'with the new address the page works again');
});
