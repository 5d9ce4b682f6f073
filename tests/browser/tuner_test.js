// The page's tuner as a person uses it: Button 2 picked and recorded, the
// person pressing its key with the mouse as a slow person presses (taps of
// about 170 ms, 250 ms between the presses of a double), five times each
// way asked; none of those presses starts a launcher. The proposal read
// from the panel is what Accept stores, and a slow double press is then a
// double press. Takes the README's picture of the panel with its proposal.
//
// usage: node tuner_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const fs = require('fs');
const path = require('path');
const t = require('./lib');

const {devicesim, outDir} = t.setUp('node tuner_test.js DEVICESIM OUT_DIR');
const {check, sleep, pageJournal, pointAt} = t;
const sim = (device, ...args) => t.sim(devicesim, device, ...args);

// Button 2 taken over: Calendar on a single press, Notes on a double press.
function configure(device) {
  sim(device, 'run', 'tapdeck');
  const ui = (...args) => sim(device, 'ui', ...args, '--quiet');
  ui('select', '1012', 'Button 2 (originally Contacts)');
  ui('select', '1013', 'Calendar');
  ui('select', '1015', 'Notes');
  ui('done');
  ui('answer');
}

// Key-down lengths and the gaps between them, with the mouse on Button 2.
async function press(page, ...times) {
  await pointAt(page, '.hw-button[data-name="40C2"]');
  for (let i = 0; i < times.length; i++) {
    if (i % 2 === 0) {
      await page.mouse.down();
      await sleep(times[i]);
      await page.mouse.up();
    } else {
      await sleep(times[i]);
    }
  }
}

const SLOW_PERSON = [
  [[170], [210], [150], [190], [230]],
  [[1000], [850], [1200], [950], [1100]],
  [[170, 250, 160], [200, 230, 180], [150, 300, 170], [190, 260, 200], [180, 280, 150]],
  [[160, 240, 980], [210, 270, 1050], [175, 250, 900], [185, 300, 1150], [165, 235, 1000]],
];

const launches = (entries) => entries.filter((e) => e.event === 'start' && /TapdeckX/i.test(e.fields.program || ''));

t.run(devicesim, async (session) => {
  const {server, browser} = session;
  const page = await t.openDevice(browser, server, {width: 1280, height: 1000});

  await page.waitForFunction(() => document.querySelectorAll('#tuner-button option').length > 0);
  await page.select('#tuner-button', '40C2');
  await page.click('#tuner-start');
  await page.waitForFunction(() => (document.getElementById('tuner-prompt') || {}).textContent === 'Now: press once (1 of 5)');
  check(true, 'Record asks for the first kind: "Now: press once (1 of 5)"');

  const before = launches(await pageJournal(page)).length;
  const kinds = ['press once', 'press and hold', 'press twice', 'press twice and hold'];
  for (let k = 0; k < SLOW_PERSON.length; k++) {
    for (let i = 0; i < SLOW_PERSON[k].length; i++) {
      await press(page, ...SLOW_PERSON[k][i]);
      await sleep(1200);  // a person's pause before the next try
    }
    if (k + 1 < kinds.length) {
      const prompt = await page.$eval('#tuner-prompt', (n) => n.textContent);
      check(prompt === 'Now: ' + kinds[k + 1] + ' (1 of 5)', 'five of "' + kinds[k] + '" recorded; then "' + prompt + '"');
    }
  }
  await page.waitForFunction(() => (document.getElementById('tuner-prompt') || {}).textContent === 'All presses recorded.',
                             {timeout: 10000});
  const shown = await page.evaluate(() => ({
    notice: document.getElementById('tuner-notice').textContent,
    rows: Array.from(document.querySelectorAll('.tuner-table tbody tr'), (tr) => Array.from(tr.children, (c) => c.textContent)),
    accept: !document.getElementById('tuner-accept').disabled,
  }));
  check(shown.notice === 'These intervals read all 20 recorded presses as you meant them.', 'the panel says: ' + shown.notice);
  check(shown.rows[2][1] === '0 of 5' && shown.rows[2][2] === '5 of 5',
        'double presses read right now / proposed: ' + shown.rows[2].slice(1).join(' / '));
  check(shown.accept, 'Accept is enabled');
  check(launches(await pageJournal(page)).length === before, 'no press made for the tuner started a launcher');

  fs.mkdirSync(outDir, {recursive: true});
  const picture = path.join(outDir, 'devicesim-serve-tuner.png');
  await page.mouse.move(1, 1);
  await (await page.$('#tuner-panel')).screenshot({path: picture});
  console.log('screenshot: ' + picture);

  const hold = shown.rows[4][2].replace(' ms', ''), window = shown.rows[5][2].replace(' ms', '');
  await page.click('#tuner-accept');
  await page.waitForSelector('#tuner-stored');
  const stored = await page.$eval('#tuner-stored', (n) => n.textContent);
  check(stored === 'Stored for Button 2: hold after ' + hold + ' ms, second press within ' + window + ' ms.', stored);
  const reg = (name) => sim(session.device, 'reg', 'get', 'HKLM\\Software\\Quadrakey', name).trim();
  check(reg('HoldIntervalB') === hold && reg('DblClickIntervalB') === window,
        'stored as Button 2\'s own: HoldIntervalB ' + reg('HoldIntervalB') + ', DblClickIntervalB ' + reg('DblClickIntervalB'));

  // The launcher reads the slow double press by Button 2's own timing now.
  const last = await page.$eval('#press-list .pl-item', (item) => Number(item.dataset.id)).catch(() => 0);
  await press(page, 170, 280, 170);
  await page.waitForFunction((last) => {
    const newest = document.querySelector('#press-list .pl-item');
    return newest && Number(newest.dataset.id) > last && newest.dataset.state !== 'waiting' &&
           /→/.test(newest.querySelector('.pl-summary').textContent);
  }, {timeout: 15000}, last);
  const words = await page.$eval('#press-list .pl-item .pl-summary', (n) => n.textContent);
  check(/^double press → Notes\.lnk/i.test(words), 'a slow double press after tuning: "' + words + '"');
}, configure);
