// A page on another site floods the device with event streams, fetches and
// beacons while the device page opens: every one is refused before it takes
// a stream, and the device page works throughout. A fifth tab, refused a
// stream, says why, holds the power key and dies without a word: the key
// goes up all the same.
//
// usage: node abuse_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const http = require('http');
const t = require('./lib');

const {devicesim} = t.setUp('node abuse_test.js DEVICESIM OUT_DIR');
const {check, sleep, request, pointAt} = t;
const sim = (device, ...args) => t.sim(devicesim, device, ...args);
const FLOOD_MS = 3000;

// The other site: a page that opens event streams to the device as fast as
// it can, and fetches and beacons besides.
function attacker(target) {
  const page = `<!doctype html><meta charset="utf-8"><title>elsewhere</title><script>
    window.opened = 0; window.refused = 0; window.got = 0;
    const target = ${JSON.stringify(target)};
    const until = Date.now() + ${FLOOD_MS};
    function flood() {
      if (Date.now() > until) { window.done = true; return; }
      for (let i = 0; i < 10; i++) {
        const source = new EventSource(target + 'api/events?page=x' + window.opened++, {withCredentials: true});
        source.onmessage = () => { window.got++; };
        source.addEventListener('snapshot', () => { window.got++; });
        source.onerror = () => { window.refused++; source.close(); };
      }
      fetch(target + 'api/state', {credentials: 'include', mode: 'no-cors'}).catch(() => {});
      navigator.sendBeacon(target + 'api/power', JSON.stringify({down: true, page: 'x'}));
      setTimeout(flood, 25);
    }
    flood();
  </script>`;
  const server = http.createServer((req, res) => {
    res.writeHead(200, {'Content-Type': 'text/html'});
    res.end(page);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

t.run(devicesim, async (session) => {
  const {device, server, browser} = session;
  const port = server.port;
  const other = await attacker(server.base);
  // localhost is another site than 127.0.0.1; another port of 127.0.0.1 is
  // the same site, whose requests the browser sends with its cookies.
  const elsewhere = [];
  for (const host of ['localhost', '127.0.0.1']) {
    const tab = await browser.newPage();
    await tab.goto('http://' + host + ':' + other.address().port + '/');
    elsewhere.push(tab);
  }

  // ---- The device page opens during the flood -------------------------------------------
  await sleep(500);
  const page = await t.openDevice(browser, server);
  await page.waitForSelector('#screen[data-view="today"]', {timeout: 10000});
  await page.waitForSelector('.hw-button[data-name="40C1"]', {timeout: 10000});
  const status = await page.$eval('#status', (s) => s.dataset.state);
  check(status === 'open', 'during the flood the device page is connected, with its screen and buttons (' + status + ')');
  const hello = JSON.parse((await request(port, {pathname: '/api/hello?nonce=0123456789abcdef',
    headers: {Host: '127.0.0.1:' + port, 'X-Quadrakey-Token': server.token}})).text);
  check(hello.streams === 1, 'the pages elsewhere hold no stream (' + hello.streams + ' open, the device page\'s)');
  for (const tab of elsewhere) {
    await tab.waitForFunction(() => window.done, {timeout: FLOOD_MS + 10000});
    const flood = await tab.evaluate(() => ({opened: window.opened, refused: window.refused, got: window.got}));
    check(flood.opened >= 100 && flood.got === 0, 'the page at ' + tab.url() + ' opened ' + flood.opened +
          ' event streams and got nothing from any (' + flood.refused + ' refused so far)');
    await tab.close();
  }
  check(!/0xDF/.test(sim(device, 'state')), 'their beacons pressed nothing');
  // Still the device's own, after the flood.
  await pointAt(page, '.hw-button[data-name="40C3"]');
  await page.mouse.down();
  await page.waitForFunction(() => Array.from(document.querySelectorAll('#journal .entry'))
    .some((row) => /"name":"40C3".*"down":true/.test(row.title)), {timeout: 15000});
  await page.mouse.up();
  check(await page.$eval('#status', (s) => s.dataset.state) === 'open', 'after the flood the page still works and presses');

  // ---- Pages of its own: four have a stream, a fifth is told why not ----------------------
  const pages = [page];
  for (let i = 0; i < 3; i++) pages.push(await t.openDevice(browser, server, {context: await browser.createBrowserContext()}));
  const fifthContext = await browser.createBrowserContext();
  const fifth = await fifthContext.newPage();
  await fifth.setViewport({width: 1100, height: 760});
  await fifth.goto(server.url);
  await fifth.waitForFunction(() => !document.getElementById('banner').hidden, {timeout: 10000});
  const told = await fifth.$eval('#banner', (b) => b.textContent);
  check(/too many pages are open \(at most 4\)/.test(told), 'the fifth page says why it has no stream: "' + told + '"');
  // It still presses: the power key, held down...
  await fifth.waitForSelector('#power', {timeout: 10000});
  await pointAt(fifth, '#power');
  await fifth.mouse.down();
  const deadline = Date.now() + 5000;
  while (!/keys down: .*0xDF/.test(sim(device, 'state')) && Date.now() < deadline) await sleep(20);
  check(/keys down: .*0xDF/.test(sim(device, 'state')), 'the fifth page holds the power key down');
  // ...when the tab dies: no key up, no last word, its heartbeat stops.
  const died = Date.now();
  await fifth.goto('chrome://crash').catch(() => {});
  while (/0xDF/.test(sim(device, 'state')) && Date.now() - died < 8000) await sleep(50);
  const after = Date.now() - died;
  check(!/0xDF/.test(sim(device, 'state')), 'the dead tab\'s power key went up after ' + after + ' ms without it');
  await fifthContext.close().catch(() => {});

  // A page with a stream that goes away while holding a key lets go at once.
  const last = pages.pop();
  await pointAt(last, '.hw-button[data-name="40C4"]');
  await last.mouse.down();
  while (!/0xC4/.test(sim(device, 'state')) && Date.now() - died < 15000) await sleep(20);
  const closed = Date.now();
  await last.close();
  while (/0xC4/.test(sim(device, 'state')) && Date.now() - closed < 5000) await sleep(20);
  check(!/0xC4/.test(sim(device, 'state')), 'a closed page\'s button went up after ' + (Date.now() - closed) + ' ms');
  other.close();
});
