// devicesim serve beside clients that would stall it, none with the token:
// how long a real GET / takes, and how many real requests are reset or
// refused, under each of:
//   slow readers   64 connections that pipeline GET /screen.js 1,000 times
//                  and never read, and 100 idle connections
//   slow headers   64 connections that send a header a byte at a time and,
//                  when closed, connect again at once, and 100 idle ones
//   crowd          twice as many idle connections as the server holds,
//                  connecting again as soon as they are closed
// Loopback only; every client stops by itself after the run.
//
// usage: node bench/devicesim/serve_attacks.js BIN_DIR [N]   (N real requests a run, default
// 200, each run at most 60 s)
'use strict';

const fs = require('fs');
const http = require('http');
const net = require('net');
const os = require('os');
const path = require('path');
const {spawn, execFileSync} = require('child_process');

const [bin, count = '200'] = process.argv.slice(2);
if (!bin) {
  console.error('usage: node serve_attacks.js BIN_DIR [N]');
  process.exit(2);
}
const devicesim = path.join(bin, 'devicesim');
const requests = Number(count);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const quantile = (v, q) => [...v].sort((a, b) => a - b)[Math.min(v.length - 1, Math.floor(v.length * q))];

function startServer(device) {
  const server = spawn(devicesim, ['--device', device, 'serve', '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
  return new Promise((resolve) => {
    let out = '';
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const match = /:(\d+)\//.exec(out);
      if (out.includes('\n') && match && !server.port) {
        server.port = Number(match[1]);
        resolve(server);
      }
    });
  });
}

// Connections that the attack keeps up until stop(); `open(socket)` is what each does once connected.
function attackers(port, number, open, again) {
  const sockets = new Set();
  let stopped = false;
  const connect = () => {
    if (stopped) return;
    const socket = net.connect(port, '127.0.0.1');
    sockets.add(socket);
    socket.on('connect', () => open(socket));
    socket.on('error', () => {});
    socket.on('close', () => {
      sockets.delete(socket);
      if (again && !stopped) setImmediate(connect);
    });
  };
  for (let i = 0; i < number; i++) connect();
  return {
    stop() {
      stopped = true;
      for (const socket of sockets) socket.destroy();
    },
  };
}

const idle = () => {};
function slowReader(port) {
  return (socket) => {
    socket.pause();  // never reads
    let text = '';
    for (let i = 0; i < 1000; i++) text += 'GET /screen.js HTTP/1.1\r\nHost: 127.0.0.1:' + port + '\r\n\r\n';
    socket.write(text);
  };
}
function slowHeader(port) {
  return (socket) => {
    const header = 'GET / HTTP/1.1\r\nHost: 127.0.0.1:' + port + '\r\nX-Slow: ' + 's'.repeat(400) + '\r\n\r\n';
    let at = 0;
    const timer = setInterval(() => {
      if (socket.destroyed || at >= header.length) return clearInterval(timer);
      socket.write(header[at++]);
    }, 100);
    socket.on('close', () => clearInterval(timer));
  };
}

function get(port) {
  return new Promise((resolve) => {
    const started = performance.now();
    const req = http.request({port, path: '/', agent: false, headers: {Host: '127.0.0.1:' + port}}, (res) => {
      res.resume();
      res.on('end', () => resolve({ok: true, ms: performance.now() - started, status: res.statusCode}));
    });
    req.on('error', (e) => resolve({ok: false, ms: performance.now() - started, status: e.code}));
    req.end();
  });
}

// N requests, or as many as 60 s allow.
async function measure(port, label) {
  const times = [], failed = {}, statuses = {};
  const until = Date.now() + 60000;
  for (let i = 0; i < requests && Date.now() < until; i++) {
    const answer = await get(port);
    if (answer.ok) times.push(answer.ms);
    if (answer.ok && answer.status !== 200) statuses[answer.status] = (statuses[answer.status] || 0) + 1;
    if (!answer.ok) failed[answer.status] = (failed[answer.status] || 0) + 1;
    await sleep(10);
  }
  // Answered otherwise than 200 is still answered (a server that wants a credential for the page).
  const failures = (Object.entries(failed).map(([why, n]) => n + ' ' + why).join(', ') || 'none') +
                   Object.entries(statuses).map(([status, n]) => '; ' + n + ' answered ' + status).join('');
  if (!times.length) return console.log(label.padEnd(46) + 'no GET / answered; failed: ' + failures);
  console.log(label.padEnd(46) + '(' + (times.length + Object.values(failed).reduce((a, b) => a + b, 0)) + ') GET / median ' + quantile(times, 0.5).toFixed(2) + ' ms, 95% ' +
              quantile(times, 0.95).toFixed(2) + ', max ' + Math.max(...times).toFixed(1) + '; failed: ' + failures);
}

async function main() {
  const device = fs.mkdtempSync(path.join(os.tmpdir(), 'qk_serve_attacks_'));
  execFileSync(devicesim, ['--device', device, 'init']);
  const server = await startServer(device);
  process.on('exit', () => server.kill('SIGKILL'));
  const port = server.port;
  console.log('devicesim serve beside attackers, ' + requests + ' real GET / each, one at a time, new connections:');
  await measure(port, 'alone');

  let attack = [attackers(port, 64, slowReader(port), true), attackers(port, 100, idle, true)];
  await sleep(1000);
  await measure(port, '64 slow readers + 100 idle');
  attack.forEach((a) => a.stop());

  attack = [attackers(port, 64, slowHeader(port), true), attackers(port, 100, idle, true)];
  await sleep(1000);
  await measure(port, '64 slow headers (reconnecting) + 100 idle');
  attack.forEach((a) => a.stop());

  attack = [attackers(port, 512, idle, true)];
  await sleep(1000);
  await measure(port, '512 idle (reconnecting)');
  attack.forEach((a) => a.stop());

  server.kill('SIGINT');
  await new Promise((resolve) => server.on('exit', resolve));
  fs.rmSync(device, {recursive: true, force: true});
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
