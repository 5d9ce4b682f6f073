// What another program on 127.0.0.1 can get from the device page, as a
// second local user would try it: a server of its own on another port,
// visited directly and from a page elsewhere, never sees the token or any
// credential; its pages set cookies of every name the device's server might
// read, and as many and as long as the browser takes, and the device page
// works on, reloaded or opened anew; while the server restarts, a program
// holding its port receives only the page's challenges, answers them as
// best it can, and nothing it got opens anything on the restarted server.
//
// usage: node credentials_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const http = require('http');
const t = require('./lib');

const {devicesim} = t.setUp('node credentials_test.js DEVICESIM OUT_DIR');
const {check, sleep, request, pageJournal, waitForEntry, pointAt} = t;

// An HTTP server that keeps every request it gets; `answer(req, body, res)`
// answers (a plain page by default).
function recorder(port, answer) {
  const seen = [];
  // As a browser sends them: its cookies for 127.0.0.1 may be long.
  const server = http.createServer({maxHeaderSize: 1 << 20}, (req, res) => {
    let body = '';
    req.on('data', (chunk) => { body += chunk; });
    req.on('end', () => {
      seen.push({method: req.method, url: req.url, headers: req.headers, body});
      if (answer) return answer(req, body, res);
      res.writeHead(200, {'Content-Type': 'text/html'});
      res.end('<!doctype html><title>another server</title>');
    });
  });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(port, '127.0.0.1', () => resolve({server, seen, port: server.address().port}));
  });
}

async function pressOnce(page, name) {
  const last = (await pageJournal(page)).reduce((max, e) => Math.max(max, e.id), 0);
  await pointAt(page, '.hw-button[data-name="' + name + '"]');
  await page.mouse.down();
  await page.mouse.up();
  await waitForEntry(page, (e) => e.id > last && e.event === 'button' && e.fields.name === name && !e.fields.down, name + ' up');
}

t.run(devicesim, async (session) => {
  const {device, browser} = session;
  let server = session.server;
  const port = server.port, token = server.token;
  const page = await t.openDevice(browser, server);
  await pressOnce(page, '40C1');

  // ---- A second server on another port ----------------------------------------------------------
  const tosser = (req, body, res) => {
    if (req.url !== '/toss') {
      res.writeHead(200, {'Content-Type': 'text/html'});
      return res.end('<!doctype html><title>another server</title><script>fetch("/echo", {credentials: "include"});' +
                     '</script>');
    }
    // Every name the device's server could read, on the paths it serves,
    // and then as much as the browser takes.
    res.writeHead(200, {'Content-Type': 'text/html', 'Set-Cookie': [
      'qk_token_' + port + '=' + '0'.repeat(64) + '; Path=/api', 'qk_session=bad; Path=/', 'session=bad; Path=/api/events',
      'X-Quadrakey-Session=bad; Path=/', 'token=' + '0'.repeat(64) + '; Path=/']});
    res.end(`<!doctype html><title>cookies</title><script>
      for (const name of ['qk_token_${port}', 'qk_token', 'token', 'session', 'qk-token'])
        for (const path of ['/', '/api', '/api/', '/api/events', '/api/button', '/app.js'])
          document.cookie = name + '=' + '0'.repeat(64) + '; path=' + path;
      for (let i = 0; i < 120; i++) document.cookie = 'big' + i + '=' + 'z'.repeat(4000) + '; path=/';
      window.tossed = true;
    </script>`);
  };
  const other = await recorder(0, tosser);
  const origin = 'http://127.0.0.1:' + other.port;
  const visitor = await browser.newPage();
  await visitor.goto(origin + '/');
  // Sent there by a page of another site, as a link, an image and a fetch.
  const elsewhere = await browser.newPage();
  await elsewhere.goto('http://localhost:' + other.port + '/');
  await elsewhere.evaluate((target) => {
    const img = new Image();
    img.src = target + '/pixel';
    return fetch(target + '/fetched', {credentials: 'include', mode: 'no-cors'}).catch(() => {});
  }, origin);
  await Promise.all([elsewhere.waitForNavigation(),
                     elsewhere.evaluate((target) => { location.href = target + '/linked'; }, origin)]);
  for (const path of ['/echo', '/pixel', '/fetched', '/linked']) {
    for (let tries = 0; !other.seen.some((r) => r.url === path) && tries < 200; tries++) await sleep(20);
  }
  const leaked = other.seen.filter((r) => JSON.stringify(r).includes(token) || r.headers.cookie);
  check(other.seen.length >= 5 && leaked.length === 0, 'a server on another port got ' + other.seen.length +
        ' requests from this browser, none with the token or any cookie (' + leaked.map((r) => r.url).join(' ') + ')');
  check((await page.cookies()).length === 0, 'the device page has no cookie to give away');

  // ---- Its pages set cookies of any name --------------------------------------------------------
  await visitor.goto(origin + '/toss');
  await visitor.waitForFunction(() => window.tossed, {timeout: 10000});
  const jar = await page.cookies('http://127.0.0.1:' + port + '/api/events');
  check(jar.length >= 100 && jar.some((c) => c.name === 'qk_token_' + port),
        'the other server\'s pages set ' + jar.length + ' cookies that the browser sends to the device\'s server');
  await page.bringToFront();
  await pressOnce(page, '40C2');
  check(true, 'the open device page presses on, its requests carrying those cookies');
  await page.reload();
  await page.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  await pressOnce(page, '40C3');
  check(true, 'reloaded, it connects again and presses');
  const fresh = await browser.newPage();
  await fresh.goto(server.url);
  await fresh.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  check(true, 'the printed address opens the device in a new tab');
  await fresh.close();
  await page.bringToFront();

  // ---- A program holds the port while the server restarts --------------------------------------
  server.kill('SIGKILL');
  session.server = null;
  await new Promise((resolve) => server.on('exit', resolve));
  // It answers as the server would, as well as it can without the token.
  const squatter = await recorder(port, (req, body, res) => {
    res.writeHead(200, {'Content-Type': 'application/json'});
    if (req.url.startsWith('/api/hello')) {
      return res.end(JSON.stringify({nonce: Date.now() + '-00-00', proof: 'f'.repeat(64), stopping: false}));
    }
    res.end(JSON.stringify({session: 's'.repeat(64)}));
  });
  await page.waitForFunction(() => /does not prove/.test(document.getElementById('banner').textContent) &&
                                   !document.getElementById('banner').hidden, {timeout: 15000});
  const said = await page.$eval('#banner', (b) => b.textContent);
  check(/another program holds the port/.test(said), 'the page tells that the server on its port is not the device\'s: "' +
        said + '"');
  // A person presses on meanwhile.
  await pointAt(page, '.hw-button[data-name="40C4"]');
  await page.mouse.down();
  await page.mouse.up();
  await page.keyboard.down('2');
  await page.keyboard.up('2');
  for (const until = Date.now() + 20000; squatter.seen.length < 4 && Date.now() < until;) await sleep(50);
  squatter.server.close();
  squatter.server.closeAllConnections();
  server = session.server = await t.startServer(devicesim, device, port);
  await page.waitForFunction(() => window.qk.streamOpen && document.getElementById('banner').hidden, {timeout: 15000});
  check(true, 'with the server back on its port, the page comes back by itself');

  const got = squatter.seen;
  const kinds = [...new Set(got.map((r) => r.method + ' ' + r.url.split('?')[0]))];
  check(got.every((r) => !JSON.stringify(r).includes(token)), 'the program on the port got ' + got.length +
        ' requests (' + kinds.join(', ') + '), none with the token');
  check(got.every((r) => r.method === 'GET' && r.url.startsWith('/api/hello?')),
        'it got only challenges: the page sent nothing else to a server that did not prove the token');
  // Replayed to the real server, nothing it got opens anything.
  const replayed = [];
  for (const r of got) {
    const headers = {...r.headers, host: '127.0.0.1:' + port};
    delete headers['content-length'];
    const answer = await request(port, {method: r.method, pathname: r.url, headers, body: r.body || null});
    const opened = answer.status === 200 && !r.url.startsWith('/api/hello?');
    if (opened) replayed.push(r.url);
  }
  const posts = await request(port, {method: 'POST', pathname: '/api/button', body: '{"name":"40C1","down":true}',
    headers: {'Content-Type': 'application/json', Host: '127.0.0.1:' + port,
              'X-Quadrakey-Session': got.map((r) => r.headers['x-quadrakey-session']).find(Boolean) || 's'.repeat(64)}});
  check(replayed.length === 0 && posts.status === 403, 'replayed to the restarted server, none of it opens anything (' +
        posts.status + ')');
  check(!/0xC1/.test(t.sim(devicesim, device, 'state')), 'nothing it got pressed a key');
  other.server.close();
});
