// The page of devicesim serve: the device's hardware buttons as pointer and
// key presses, its screen, the journal and the button last pressed, kept up
// to date by the server's event stream.
'use strict';

(() => {
  const TOKEN = document.querySelector('meta[name="qk-token"]').content;
  // Keys this page holds are let go by the server when the page goes away.
  const PAGE = Array.from(crypto.getRandomValues(new Uint8Array(8)), (b) => b.toString(16).padStart(2, '0')).join('');
  const MAX_JOURNAL_ROWS = 400;
  const VK_OFF = 0xDF;

  const state = {device: null, buttons: null, screen: null, journal: []};
  const memory = {};  // list scroll positions across redraws
  const linesCache = new Map();
  let screenKey = '';

  // What the tests and the latency figures read.
  const qk = window.qk = {pointerDownAt: [], shownAt: new Map(), streamOpen: false};

  // ---- Server calls --------------------------------------------------------------
  const notice = document.getElementById('notice');
  let noticeTimer = 0;
  function tell(text) {
    notice.textContent = text;
    notice.hidden = false;
    clearTimeout(noticeTimer);
    noticeTimer = setTimeout(() => { notice.hidden = true; }, 6000);
  }

  async function post(path, body) {
    try {
      const res = await fetch(path, {
        method: 'POST',
        headers: {'Content-Type': 'application/json', 'X-Quadrakey-Token': TOKEN},
        body: JSON.stringify(body),
      });
      let data = null;
      try { data = await res.json(); } catch (e) { data = null; }
      if (!res.ok) tell((data && data.error) || (res.status + ' ' + res.statusText));
      else if (data && data.problem) tell(data.problem);
      return {ok: res.ok, status: res.status, data};
    } catch (e) {
      tell('The server cannot be reached: ' + e.message);
      return {ok: false, status: 0, data: null};
    }
  }

  // ---- The screen ---------------------------------------------------------------------
  const screenNode = document.getElementById('screen');
  const frameNode = document.getElementById('screen-frame');

  const screenContext = {
    memory,
    rotation: 0,
    act: async (body) => {
      const answer = await post('/api/ui', body);
      if (answer.ok && answer.data) applyScreen(answer.data.screen);
    },
    startSettings: () => post('/api/settings', {}),
    fetchLines: async (id) => {
      const screen = state.screen;
      const key = (screen ? screen.pid + ':' + screen.serial : '') + ':' + id;
      if (linesCache.has(key)) return linesCache.get(key);
      const res = await fetch('/api/lines?id=' + encodeURIComponent(id));
      const data = await res.json();
      if (!res.ok) {
        tell(data.error || 'no lines');
        throw new Error(data.error);
      }
      linesCache.clear();
      linesCache.set(key, data);
      return data;
    },
  };

  function applyScreen(screen) {
    const old = state.screen;
    // An answer and the stream can bring the same screen twice, or an older one late.
    if (screen && old && screen.pid === old.pid && screen.serial <= old.serial &&
        (screen.serial < old.serial || JSON.stringify(screen) === JSON.stringify(old))) return;
    state.screen = screen;
    drawScreen(true);
  }

  function drawScreen(force) {
    const d = state.device || {};
    const key = JSON.stringify([d.sip, d.displayOn, d.orientation, d.rotationSupported, d.program, d.lastStarted]);
    if (!force && key === screenKey) return;
    screenKey = key;
    const turn = [0, 90, 180, 270].includes(d.orientation) ? d.orientation : 0;
    screenContext.rotation = turn;
    frameNode.dataset.turn = turn;
    screenNode.style.transform = turn ? 'rotate(' + turn + 'deg)' : '';
    QkScreen.render(screenNode, state, screenContext);
  }

  // ---- Hardware buttons -------------------------------------------------------------------
  const hardware = document.getElementById('hardware');
  const held = new Map();  // button name -> the down request under way

  function keyDown(name, at) {
    if (held.has(name)) return;
    if (at !== undefined) qk.pointerDownAt.push({name, at});
    const request = post('/api/button', {name, down: true, page: PAGE});
    held.set(name, request);
    markHeld();
  }

  function keyUp(name) {
    const request = held.get(name);
    if (!request) return;
    held.delete(name);
    markHeld();
    // Up only after down has arrived: two requests may take two connections.
    request.then((answer) => { if (answer.ok) post('/api/button', {name, down: false, page: PAGE}); });
  }

  let powerDown = null;
  function powerPress(down) {
    if (down) {
      if (powerDown) return;
      powerDown = post('/api/power', {down: true, page: PAGE});
    } else if (powerDown) {
      const request = powerDown;
      powerDown = null;
      request.then((answer) => { if (answer.ok) post('/api/power', {down: false, page: PAGE}); });
    }
  }

  function releaseAll() {
    for (const name of Array.from(held.keys())) keyUp(name);
    powerPress(false);
  }

  function holdable(node, down, up) {
    node.addEventListener('pointerdown', (e) => {
      if (e.button !== 0) return;
      e.preventDefault();
      node.setPointerCapture(e.pointerId);
      down(performance.timeOrigin + e.timeStamp);
    });
    node.addEventListener('pointerup', up);
    node.addEventListener('pointercancel', up);
    node.addEventListener('lostpointercapture', up);
    node.addEventListener('contextmenu', (e) => e.preventDefault());
  }

  function buttonList() { return (state.buttons && state.buttons.buttons) || []; }

  function drawHardware() {
    const list = buttonList();
    const key = JSON.stringify(list.map((b) => [b.entry, b.name, b.takenOver]));
    if (hardware.dataset.key === key) return markHeld();
    hardware.dataset.key = key;
    hardware.replaceChildren();
    list.forEach((b, i) => {
      const wrap = document.createElement('div');
      wrap.className = 'hw';
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'hw-button' + (b.name.toLowerCase().includes('record') ? ' record' : '');
      button.dataset.name = b.entry;
      button.dataset.vk = b.vk;
      button.title = b.name + ' (' + b.entry + ')' + (i < 9 ? ', key ' + (i + 1) : '') +
                     (b.takenOver ? ', taken over by Quadrakey' : '');
      if (i < 9) button.append(Object.assign(document.createElement('span'), {className: 'hw-key', textContent: String(i + 1)}));
      holdable(button, (at) => keyDown(b.entry, at), () => keyUp(b.entry));
      const label = document.createElement('span');
      label.className = 'hw-label';
      label.textContent = b.name;
      wrap.append(button, label);
      hardware.append(wrap);
    });
    markHeld();
  }

  function markHeld() {
    const down = new Set((state.device && state.device.keysDown) || []);
    for (const button of hardware.querySelectorAll('.hw-button')) {
      const isDown = held.has(button.dataset.name) || down.has(Number(button.dataset.vk));
      button.classList.toggle('down', isDown);
    }
    document.getElementById('power').classList.toggle('down', powerDown !== null || down.has(VK_OFF));
  }

  holdable(document.getElementById('power'), () => powerPress(true), () => powerPress(false));

  document.addEventListener('keydown', (e) => {
    if (e.repeat || e.ctrlKey || e.altKey || e.metaKey || e.key < '1' || e.key > '9' || e.key.length !== 1) return;
    if (e.target instanceof HTMLInputElement || e.target instanceof HTMLSelectElement) return;
    const button = buttonList()[Number(e.key) - 1];
    if (!button) return;
    e.preventDefault();
    keyDown(button.entry, performance.timeOrigin + e.timeStamp);
  });
  document.addEventListener('keyup', (e) => {
    if (e.key < '1' || e.key > '9' || e.key.length !== 1) return;
    const button = buttonList()[Number(e.key) - 1];
    if (button) keyUp(button.entry);
  });
  // A key held while the window loses the keyboard never sees its key up.
  window.addEventListener('blur', releaseAll);

  // ---- Beside the device: the button last pressed ------------------------------------------
  const pressedNode = document.getElementById('pressed');
  let lastPress = null;  // {name, down, up, previousDown}
  const downTimes = new Map();

  function notePress(entry) {
    const f = entry.fields || {};
    if (entry.event !== 'button' || typeof f.name !== 'string') return;
    const name = f.name.toUpperCase();
    if (f.down) {
      const previous = downTimes.get(name);
      downTimes.set(name, entry.t);
      lastPress = {name, down: entry.t, up: null, previous};
    } else if (lastPress && lastPress.name === name && lastPress.up === null) {
      lastPress.up = entry.t;
    }
  }

  function text(tag, className, content) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    node.textContent = content;
    return node;
  }

  function drawPressed() {
    if (!lastPress) return;
    const info = state.buttons || {};
    const button = buttonList().find((b) => b.entry.toUpperCase() === lastPress.name);
    const parts = [];
    const head = document.createElement('p');
    head.className = 'pressed-head';
    head.append(text('strong', null, button ? button.name : lastPress.name),
                text('span', 'muted', button ? '  ' + button.entry + ' · index ' + button.index + ' (' + button.letter + ')'
                                             : '  not a button of the table'));
    parts.push(head);
    if (button) {
      parts.push(text('p', 'muted', button.takenOver ? 'Taken over: a press starts TapdeckX.'
                                                       : 'Not taken over: a press runs ' + (button.command || 'nothing') + '.'));
      const table = document.createElement('table');
      table.className = 'slots';
      const slots = [['Single press', 'single'], ['Press and hold', 'hold'], ['Double press', 'double'],
                     ['Double press and hold, or triple press', 'doubleHold']];
      for (const [label, key] of slots) {
        const row = document.createElement('tr');
        const value = button.assignments[key];
        row.dataset.slot = key;
        row.append(text('th', null, label), text('td', value ? null : 'muted', value || 'unassigned'));
        table.append(row);
      }
      parts.push(table);
    }
    const timing = document.createElement('p');
    timing.className = 'timings';
    timing.textContent = 'Hold after ' + info.holdInterval + ' ms · second press within ' + info.dblClickInterval + ' ms';
    parts.push(timing);
    const last = document.createElement('p');
    last.className = 'muted';
    last.id = 'press-timing';
    last.textContent = (lastPress.up !== null ? 'Last press: held ' + (lastPress.up - lastPress.down) + ' ms' : 'Held down now') +
                       (lastPress.previous ? ', ' + (lastPress.down - lastPress.previous) + ' ms after the press before' : '');
    parts.push(last);
    pressedNode.replaceChildren(...parts);
  }

  // ---- The journal ---------------------------------------------------------------------------
  const journalNode = document.getElementById('journal');
  const journalCount = document.getElementById('journal-count');

  function when(ms) {
    const d = new Date(ms);
    const two = (n) => String(n).padStart(2, '0');
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds()) + '.' + String(d.getMilliseconds()).padStart(3, '0');
  }

  function fieldsText(fields) {
    return Object.entries(fields || {}).map(([k, v]) => k + '=' + (typeof v === 'string' ? '"' + v + '"' : JSON.stringify(v))).join('  ');
  }

  function journalRow(entry) {
    const row = document.createElement('div');
    row.className = 'entry ev-' + entry.event;
    row.dataset.id = entry.id;
    row.dataset.event = entry.event;
    row.dataset.pid = entry.pid;
    row.append(text('span', 'e-time', when(entry.t)), text('span', 'e-pid', entry.pid),
               text('span', 'e-event', entry.event), text('span', 'e-fields', fieldsText(entry.fields)));
    row.title = JSON.stringify(entry);
    return row;
  }

  function addJournal(entries, replace) {
    const atBottom = journalNode.scrollHeight - journalNode.scrollTop - journalNode.clientHeight < 24;
    if (replace) journalNode.replaceChildren();
    const fragment = document.createDocumentFragment();
    for (const entry of entries) {
      fragment.append(journalRow(entry));
      notePress(entry);
    }
    journalNode.append(fragment);
    while (journalNode.childElementCount > MAX_JOURNAL_ROWS) journalNode.firstElementChild.remove();
    const shown = performance.timeOrigin + performance.now();
    for (const entry of entries) qk.shownAt.set(entry.id, shown);
    if (qk.shownAt.size > 2000) qk.shownAt.delete(qk.shownAt.keys().next().value);
    if (atBottom || replace) {
      journalNode.scrollTop = journalNode.scrollHeight;
      requestAnimationFrame(() => { journalNode.scrollTop = journalNode.scrollHeight; });
    }
    journalCount.textContent = journalNode.childElementCount + (journalNode.childElementCount === 1 ? ' entry' : ' entries');
    drawPressed();
  }

  // ---- The event stream ------------------------------------------------------------------------
  const status = document.getElementById('status');
  function setStatus(kind, words) {
    status.dataset.state = kind;
    status.textContent = words;
    document.documentElement.dataset.stream = kind;
  }

  function snapshot(data) {
    state.device = data.device;
    state.buttons = data.buttons;
    state.screen = data.screen;
    lastPress = null;
    downTimes.clear();
    addJournal(data.journal || [], true);
    drawHardware();
    drawScreen(true);
  }

  function connect() {
    const events = new EventSource('/api/events?page=' + PAGE);
    events.addEventListener('snapshot', (e) => {
      snapshot(JSON.parse(e.data));
      qk.streamOpen = true;
      setStatus('open', 'live');
    });
    events.addEventListener('journal', (e) => addJournal(JSON.parse(e.data), false));
    events.addEventListener('device', (e) => {
      state.device = JSON.parse(e.data);
      markHeld();
      drawScreen(false);
    });
    events.addEventListener('buttons', (e) => {
      state.buttons = JSON.parse(e.data);
      drawHardware();
      drawPressed();
    });
    events.addEventListener('screen', (e) => applyScreen(JSON.parse(e.data)));
    events.onerror = () => {
      qk.streamOpen = false;
      setStatus('closed', events.readyState === EventSource.CLOSED ? 'disconnected' : 'reconnecting…');
    };
  }

  connect();
  // The Today screen's clock.
  setInterval(() => { if (screenNode.dataset.view === 'today') drawScreen(true); }, 30000);
})();
