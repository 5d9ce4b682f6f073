// devicesim serve without a browser: how long a key down takes from the
// request to its journal entry, from the entry to its event on the page's
// stream, and to the series of presses on the stream. Median of N presses of
// Button 1 on a fresh device, whose press starts TapdeckX.
//
// usage: node bench/devicesim/serve_timing.js BIN_DIR [N]
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const {spawn, execFileSync} = require('child_process');

const [bin, count = '20'] = process.argv.slice(2);
if (!bin) {
  console.error('usage: node serve_timing.js BIN_DIR [N]');
  process.exit(2);
}
const devicesim = path.join(bin, 'devicesim');
const presses = Number(count);
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];
const now = () => performance.timeOrigin + performance.now();

async function main() {
  const device = fs.mkdtempSync(path.join(os.tmpdir(), 'qk_serve_timing_'));
  execFileSync(devicesim, ['--device', device, 'init']);
  // Taken over, as tapdeck's Done leaves every button on first use.
  execFileSync(devicesim, ['--device', device, 'run', 'tapdeck']);
  execFileSync(devicesim, ['--device', device, 'ui', 'done', '--quiet']);
  execFileSync(devicesim, ['--device', device, 'ui', 'answer', '--quiet']);
  const server = spawn(devicesim, ['--device', device, 'serve', '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
  const url = await new Promise((resolve) => {
    let out = '';
    server.stdout.on('data', (chunk) => {
      out += chunk;
      if (out.includes('\n')) resolve(out.split('\n')[0]);
    });
  });
  const port = Number(/:(\d+)\//.exec(url)[1]);
  const token = /token=(\w+)/.exec(url)[1];
  const headers = {'X-Quadrakey-Token': token, 'Content-Type': 'application/json'};
  const agent = new http.Agent({keepAlive: true, maxSockets: 1});

  // The page's stream: when each journal entry and each series arrives.
  const arrived = new Map(), series = new Map();
  let buffer = '';
  await new Promise((resolve) => {
    http.get({port, path: '/api/events?page=bench', headers}, (res) => {
      res.setEncoding('utf8');
      res.on('data', (chunk) => {
        const at = now();
        buffer += chunk;
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          const event = buffer.slice(0, end);
          buffer = buffer.slice(end + 2);
          const name = /^event: (\w+)/m.exec(event);
          const data = /^data: (.*)$/m.exec(event);
          if (!name || !data) continue;
          if (name[1] === 'snapshot') resolve();
          if (name[1] === 'journal') for (const e of JSON.parse(data[1])) if (!arrived.has(e.id)) arrived.set(e.id, {at, e});
          if (name[1] === 'presses') for (const s of JSON.parse(data[1])) for (const p of s.presses) if (!series.has(p.down)) series.set(p.down, at);
        }
      });
    });
  });
  const post = (body) => new Promise((resolve, reject) => {
    const text = JSON.stringify(body);
    const req = http.request({port, path: '/api/button', method: 'POST', agent,
                              headers: {...headers, 'Content-Length': Buffer.byteLength(text)}}, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    });
    req.on('error', reject);
    req.end(text);
  });

  const toEntry = [], toStream = [], toSeries = [], answered = [];
  for (let i = 0; i < presses; i++) {
    const before = Math.max(0, ...arrived.keys());
    const sent = now();
    await post({name: '40C1', down: true, page: 'bench'});
    answered.push(now() - sent);
    for (let tries = 0; tries < 500 && ![...arrived.values()].some((a) => a.e.id > before && a.e.event === 'button'); tries++) {
      await new Promise((r) => setTimeout(r, 2));
    }
    const down = [...arrived.values()].find((a) => a.e.id > before && a.e.event === 'button');
    for (let tries = 0; tries < 500 && !series.has(down.e.t); tries++) await new Promise((r) => setTimeout(r, 2));
    toEntry.push(down.e.t - sent);
    toStream.push(down.at - down.e.t);
    toSeries.push(series.get(down.e.t) - sent);
    await post({name: '40C1', down: false, page: 'bench'});
    await new Promise((r) => setTimeout(r, 150));
  }
  const say = (what, v) => console.log(what.padEnd(44) + 'median ' + median(v).toFixed(1) + ' ms  (min ' +
                                       Math.min(...v).toFixed(1) + ', max ' + Math.max(...v).toFixed(1) + ')');
  console.log('devicesim serve, ' + presses + ' presses of a taken-over button:');
  say('request sent -> key-down journal entry', toEntry);
  say('journal entry -> its event on the stream', toStream);
  say('request sent -> the series on the stream', toSeries);
  say('request sent -> answer (after the shell)', answered);
  server.kill('SIGINT');
  agent.destroy();
  await new Promise((r) => server.on('exit', r));
  fs.rmSync(device, {recursive: true, force: true});
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
