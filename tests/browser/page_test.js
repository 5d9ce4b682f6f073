// devicesim serve in headless Chromium: a person opens Settings, assigns a
// press slot through the drawn controls, presses Done, then presses and
// holds a hardware button with the mouse and reads what the launcher did
// from the page. Also: what a page elsewhere or a script without the token
// could try is refused; a key held by the mouse and by its digit stays down
// until both let go; Tab and Space press a key. Then the side key, which the
// button table does not have: added on the Add Buttons page by pressing it,
// named, given a press and hold, and pressed through the key listener that
// Done starts.
//
// usage: node page_test.js DEVICESIM OUT_DIR
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or node_modules).
'use strict';

const t = require('./lib');

const {devicesim, outDir} = t.setUp('node page_test.js DEVICESIM OUT_DIR');
// Long beside the hold interval (400 ms): a busy machine starts TapdeckX late.
const HOLD_MS = 1000;
const {check, sleep, request, pageJournal, waitForEntry, pointAt, clickAt} = t;
const sim = (device, ...args) => t.sim(devicesim, device, ...args);

t.run(devicesim, async (session) => {
  const {device, server, browser} = session;
  const port = server.port;
  const base = server.base;

  // ---- Without the printed address: told what to open ------------------------------------
  const stranger = await (await browser.createBrowserContext()).newPage();
  await stranger.goto(base);
  await stranger.waitForFunction(() => !document.getElementById('banner').hidden, {timeout: 10000});
  const strangerSays = await stranger.$eval('#banner', (b) => b.textContent);
  check(/printed/.test(strangerSays) && !(await stranger.evaluate(() => window.qk.streamOpen)),
        'a tab without the printed address gets nothing, and is told what to open: "' + strangerSays + '"');

  // The printed address, followed from a page elsewhere, opens the device all the same.
  const linked = await (await browser.createBrowserContext()).newPage();
  await linked.goto('data:text/html,' + encodeURIComponent('<a id="printed" href="' + server.url + '">the device</a>'));
  await Promise.all([linked.waitForNavigation(), linked.click('#printed')]);
  await linked.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  check(linked.url() === base, 'the printed address opens the device from a link elsewhere too');
  await linked.close();

  const page = await t.openDevice(browser, server);
  check(page.url() === base, 'the printed address leaves a clean address behind (' + page.url() + ')');
  check(!(await page.content()).includes(server.token), 'the token is nowhere in the page');
  const cookies = await page.cookies();
  check(cookies.length === 0, 'the server set no cookie (' + cookies.map((c) => c.name).join(' ') + ')');
  // A reload keeps the tab's token; a new tab of its own has none.
  await page.reload();
  await page.waitForFunction(() => window.qk && window.qk.streamOpen, {timeout: 15000});
  check(true, 'a reload of the tab connects again with the token it kept');

  // ---- What a page elsewhere or a script without the token could try -----------------
  const token = server.token;
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
  const viaGet = await request(port, {pathname: '/api/settings', headers: {Host: '127.0.0.1:' + port, 'X-Quadrakey-Token': token}});
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

  // ---- Two sources hold one key: it goes up when both let go ---------------------------------
  const mark = (await pageJournal(page)).reduce((last, e) => Math.max(last, e.id), 0);
  await pointAt(page, '.hw-button[data-name="40C1"]');
  await page.mouse.down();
  await waitForEntry(page, (e) => e.id > mark && e.event === 'button' && e.fields.name === '40C1' && e.fields.down, '40C1 down');
  await page.keyboard.down('1');
  await page.keyboard.up('1');
  await sleep(150);
  const early = (await pageJournal(page)).filter((e) => e.id > mark && e.event === 'button' && !e.fields.down);
  check(early.length === 0, 'tapping its digit while the mouse holds Button 1 does not let it go');
  await page.mouse.up();
  await waitForEntry(page, (e) => e.id > mark && e.event === 'button' && e.fields.name === '40C1' && !e.fields.down, '40C1 up');
  check(true, 'Button 1 went up when the mouse let go');

  // ---- The keyboard alone: Tab to a key, hold Space -----------------------------------------
  const tabbed = (await pageJournal(page)).reduce((last, e) => Math.max(last, e.id), 0);
  await page.focus('.hw-button[data-name="40C4"]');
  await page.keyboard.press('Tab');
  await page.keyboard.down('Shift');
  await page.keyboard.press('Tab');
  await page.keyboard.up('Shift');
  const focused = await page.evaluate(() => document.activeElement && document.activeElement.dataset.name);
  check(focused === '40C4', 'Tab and Shift+Tab move between the hardware keys (' + focused + ')');
  await page.keyboard.down(' ');
  await waitForEntry(page, (e) => e.id > tabbed && e.event === 'button' && e.fields.name === '40C4' && e.fields.down, 'Space down');
  await page.keyboard.up(' ');
  await waitForEntry(page, (e) => e.id > tabbed && e.event === 'button' && e.fields.name === '40C4' && !e.fields.down, 'Space up');
  check(true, 'Space on the focused key pressed and let go of it');

  // ---- Settings: assign Press and Hold of Button 2 through the drawn controls ----------
  await clickAt(page, '#today-settings');
  await page.waitForSelector('#screen[data-view="program"] .tab.current[data-tab="Settings"]', {timeout: 15000});
  check(true, 'Settings started tapdeck and its Settings page is drawn');
  await clickAt(page, '.ctl-list[data-id="1012"] .row[data-line="1"]');
  await page.waitForSelector('.ctl-list[data-id="1012"] .row.selected[data-line="1"]');
  await clickAt(page, '.ctl-combo[data-id="1014"]');
  await page.waitForSelector('#droplist[data-ready]');
  const lines = JSON.parse((await request(port, {pathname: '/api/lines?id=1014',
    headers: {Host: '127.0.0.1:' + port, 'X-Quadrakey-Token': token}})).text).lines;
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
  check(held >= HOLD_MS - 250 && held <= HOLD_MS + 500, 'the key was down ' + held + ' ms for a ' + HOLD_MS + ' ms hold');
  check(down.pid === serverPid, 'the key went down in the server (pid ' + down.pid + ')');
  const launcher = await waitForEntry(page, (e) => e.event === 'start' && e.id > down.id &&
                                      /TapdeckX\.exe$/.test(e.fields.program) && e.fields.args === '1', 'TapdeckX started');
  const dispatched = await waitForEntry(page, (e) => e.pid === launcher.fields.child && e.event === 'open',
                                        'the launcher opening the held slot');
  check(/Notes\.lnk$/i.test(dispatched.fields.file) && dispatched.fields.ok === true,
        'the launcher dispatched the held slot: ' + dispatched.fields.file);
  check(dispatched.program === 'TapdeckX.exe', 'the journal names the launcher\'s program (' + dispatched.program + ')');
  const dispatchDelay = dispatched.t - down.t;
  check(dispatchDelay >= 380, 'the hold was recognised after the hold interval (' + dispatchDelay + ' ms after key down)');
  await page.waitForFunction(() => /Notes/.test((document.querySelector('#pressed tr[data-slot="hold"] td') || {}).textContent));
  check(true, 'the panel beside the device shows Button 2 with Notes held');
  await page.waitForFunction(() => /notes/i.test((document.querySelector('#today-last') || {}).textContent));
  check(true, 'the Today screen names the program the press started');
  await page.waitForFunction(() => {
    const s = document.querySelector('#timeline .tl-series');
    return s && s.dataset.slot === 'hold' && /Notes\.lnk/i.test(s.querySelector('.tl-action').textContent);
  }, {timeout: 10000});
  check(true, 'the timeline shows the press and hold opening Notes.lnk');

  // ---- The Settings page with Button 2 ------------------------------------------------------
  await clickAt(page, '#today-settings');
  await page.waitForSelector('#screen[data-view="program"] .tab.current[data-tab="Settings"]', {timeout: 15000});
  await clickAt(page, '.ctl-list[data-id="1012"] .row[data-line="1"]');
  await page.waitForFunction(() => {
    const value = document.querySelector('.ctl-combo[data-id="1014"] .value');
    return value && value.textContent === 'Notes';
  });
  check(true, 'tapdeck opens again with Notes stored for Press and Hold of Button 2');
  await clickAt(page, '#title-cancel');
  await page.waitForSelector('#screen[data-view="today"]', {timeout: 15000});

  // ---- The side key as a button of its own -------------------------------------------------
  check(await page.$('.hw-button.side[data-name="0xC7"]') !== null, 'the side key is drawn beside the buttons');
  await clickAt(page, '#today-settings');
  await page.waitForSelector('#screen[data-view="program"] .tab[data-tab="Add Buttons"]', {timeout: 15000});
  await clickAt(page, '.tab[data-tab="Add Buttons"]');
  await clickAt(page, '.ctl-button[data-id="1025"]');
  await page.waitForSelector('.dialog-surface[data-template="109"]', {timeout: 15000});
  await pointAt(page, '.hw-button[data-name="0xC7"]');
  await page.mouse.down();
  await page.mouse.up();
  const nameField = await page.waitForSelector('input.ctl-edit[data-id="1027"]', {timeout: 10000});
  const offered = await nameField.evaluate((input) => input.value);
  check(offered === 'Side Key', 'pressing the side key in the Intercept dialog offers its name (' + offered + ')');
  await nameField.click({clickCount: 3});
  await page.keyboard.type('Camera 1');
  const intercepted = require('path').join(outDir, 'side-key-intercept.png');
  await page.screenshot({path: intercepted, fullPage: true});
  console.log('screenshot: ' + intercepted);
  // A person's click takes a moment: pressing OK leaves the field, which
  // sends the name, and the answer draws the dialog anew before OK is let go.
  const okPressed = await page.$('.ctl-button[data-id="1"]');
  await pointAt(page, '.ctl-button[data-id="1"]');
  await page.mouse.down();
  const redrawn = await page.waitForFunction((old) => !old.isConnected, {timeout: 10000}, okPressed)
      .then(() => true, () => false);
  check(redrawn, 'leaving the name field draws the dialog anew while OK is held');
  const acceptAt = (await pageJournal(page)).reduce((last, e) => Math.max(last, e.id), 0);
  await page.mouse.up();
  const listed = await page.waitForFunction(() => {
    const rows = document.querySelectorAll('.ctl-list[data-id="1012"] .row');
    return rows.length === 1 && rows[0].textContent === 'Camera 1';
  }, {timeout: 10000}).then(() => true, () => false);
  const rows = await page.$$eval('.ctl-list[data-id="1012"] .row', (found) => found.map((row) => row.textContent));
  check(listed, 'Accept lists the side key as "Camera 1" on the Add Buttons page (' + JSON.stringify(rows) + ')');
  await clickAt(page, '.tab[data-tab="Settings"]');
  // After the stock device's five hardware buttons.
  await clickAt(page, '.ctl-list[data-id="1012"] .row[data-line="5"]');
  await page.waitForSelector('.ctl-list[data-id="1012"] .row.selected[data-line="5"]');
  await clickAt(page, '.ctl-combo[data-id="1014"]');
  await page.waitForSelector('#droplist[data-ready]');
  await clickAt(page, '#droplist .drop-row[data-line="7"]');  // <Page Down>: <Today> is line 0
  await page.waitForFunction(() => {
    const value = document.querySelector('.ctl-combo[data-id="1014"] .value');
    return value && value.textContent === '<Page Down>';
  });
  await clickAt(page, '#title-ok');
  await page.waitForSelector('#msgbox-ok, #screen[data-view="today"]', {timeout: 15000});
  if (await page.$('#msgbox-ok')) await clickAt(page, '#msgbox-ok');
  await page.waitForSelector('#screen[data-view="today"]', {timeout: 15000});
  const listenerStart = await waitForEntry(page, (e) => e.id > acceptAt && e.event === 'start' &&
                                           /TapdeckH\.exe$/.test(e.fields.program), 'the listener started at Accept');
  check(true, 'Accept started the key listener (pid ' + listenerStart.fields.child + ')');
  // It takes the key as soon as it has read the list.
  for (let tries = 0; !/held by pid/.test(sim(device, 'state')); tries++) {
    if (tries > 100) throw new Error('the listener never took the side key: ' + sim(device, 'state'));
    await sleep(50);
  }
  const sideAt = (await pageJournal(page)).reduce((last, e) => Math.max(last, e.id), 0);
  await pointAt(page, '.hw-button[data-name="0xC7"]');
  await page.mouse.down();
  await sleep(HOLD_MS);
  await page.mouse.up();
  const sideLauncher = await waitForEntry(page, (e) => e.id > sideAt && e.event === 'start' &&
                                          /TapdeckX\.exe$/.test(e.fields.program) && e.fields.args === '5',
                                          'the listener starting TapdeckX for button 5');
  check(sideLauncher.pid === listenerStart.fields.child, 'the listener started TapdeckX for the side key');
  const pagedDown = await waitForEntry(page, (e) => e.pid === sideLauncher.fields.child && e.event === 'key' &&
                                       e.fields.vk === 34 && !e.fields.up, 'the launcher paging down');
  check(pagedDown.program === 'TapdeckX.exe', 'TapdeckX acted on the press and hold of the side key: Page Down');
  process.kill(listenerStart.fields.child, 'SIGKILL');

  // ---- Stopping ------------------------------------------------------------------------------------
  await browser.close();
  session.browser = null;
  const code = await t.stopServer(server, 'SIGINT');
  check(code === 0, 'devicesim serve stopped on SIGINT (' + code + ')');
  session.server = null;
  check(/keys down: none/.test(sim(device, 'state')), 'no key stays down');
});
