// An open page when devicesim serve stops and starts again: after SIGTERM and
// after SIGKILL (with a key held), the page says the server is gone, comes
// back by itself when it returns, and presses again without a reload; a key
// that went up with the killed server is not shown held. A server started
// with a new token: the open page is told to open the new address.
//
// usage: node restart_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

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

  // ---- SIGKILL with a key held -----------------------------------------------------------------
  const last = (await pageJournal(page)).reduce((max, e) => Math.max(max, e.id), 0);
  await pointAt(page, '.hw-button[data-name="40C3"]');
  await page.mouse.down();
  await waitForEntry(page, (e) => e.id > last && e.event === 'button' && e.fields.name === '40C3' && e.fields.down, '40C3 down');
  await page.waitForFunction(() => /Held down now/.test(document.getElementById('press-timing').textContent));
  server.kill('SIGKILL');
  session.server = null;
  await gone(page, 'after SIGKILL');
  await page.mouse.up();
  server = session.server = await t.startServer(devicesim, device, port);
  await back(page, 'after SIGKILL');
  const timing = await page.$eval('#press-timing', (p) => p.textContent);
  check(!/Held down now/.test(timing), 'the key that went up with the killed server is not shown held: "' + timing + '"');
  const held = await page.$$eval('.hw-button.down', (buttons) => buttons.map((b) => b.dataset.name));
  check(held.length === 0, 'no hardware button is drawn down (' + held.join(' ') + ')');
  await pressOnce(page, '40C3');
  check(true, 'after SIGKILL the page presses again: the token was kept');

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
