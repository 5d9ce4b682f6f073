// The page of devicesim serve: the device's hardware keys as pointer and key
// presses, its screen, every series of presses as a timeline, the button
// last pressed and the journal, kept up to date by the server's event
// stream. The page finds its way back by itself when the server restarts,
// and says why whenever it cannot.
'use strict';

(() => {
  // Keys this page holds are let go by the server when the page goes away.
  const PAGE = Array.from(crypto.getRandomValues(new Uint8Array(8)), (b) => b.toString(16).padStart(2, '0')).join('');
  const HEARTBEAT_MS = 1000;
  const RETRY_MS = [250, 500, 1000, 2000, 3000];

  const state = {device: null, buttons: null, screen: null, presses: []};
  const memory = {};  // list scroll positions across redraws
  const linesCache = new Map();
  let screenKey = '';

  // What the tests and the latency figures read, on the wall clock the
  // device's journal uses. (timeOrigin is taken once, at load, and can be off
  // by as long as the browser was kept from running then.)
  const qk = window.qk = {pointerDownAt: [], shownAt: new Map(), timelineAt: new Map(), streamOpen: false};
  const wallClock = (eventTime = performance.now()) => Date.now() - (performance.now() - eventTime);

  // ---- What the page says ------------------------------------------------------------
  const statusNode = document.getElementById('status');
  const banner = document.getElementById('banner');
  const notice = document.getElementById('notice');
  let noticeTimer = 0;

  function setStatus(kind, text) {
    statusNode.dataset.state = kind;
    statusNode.textContent = text;
  }
  // Why the page cannot do its work now; stays until that changes.
  function say(text) {
    banner.textContent = text || '';
    banner.hidden = !text;
  }
  function tell(text) {
    notice.textContent = text;
    notice.hidden = false;
    clearTimeout(noticeTimer);
    noticeTimer = setTimeout(() => { notice.hidden = true; }, 6000);
  }

  const REFUSED = 'This page is refused: ';
  const NO_TOKEN = 'This page is refused: this browser does not have the device\'s token (a new one was made, ' +
                   'or this browser never opened the address devicesim serve printed). Open that address; ' +
                   'this page then carries on by itself.';
  const refusal = (status, reason) => status === 403 && /token/.test(reason) ? NO_TOKEN : REFUSED + reason + '.';

  async function post(path, body, quiet) {
    try {
      const res = await fetch(path, {method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body)});
      let data = null;
      try { data = await res.json(); } catch (e) { data = null; }
      const reason = (data && data.error) || (res.status + ' ' + res.statusText);
      if (res.status === 403) say(refusal(res.status, reason));
      else if (!res.ok && !quiet) tell(reason);
      else if (data && data.problem && !quiet) tell(data.problem);
      return {ok: res.ok, status: res.status, data};
    } catch (e) {
      if (!quiet) tell('The server cannot be reached: ' + e.message);
      return {ok: false, status: 0, data: null};
    }
  }

  // ---- The screen ---------------------------------------------------------------------
  const screenNode = document.getElementById('screen');
  const frameNode = document.getElementById('screen-frame');
  const boxNode = document.getElementById('screen-box');

  let actions = Promise.resolve();
  const screenContext = {
    memory,
    rotation: 0,
    scale: 1,
    // One at a time, in the order the person acted: a field's text goes
    // before the click that left the field.
    act: (body) => {
      actions = actions.then(async () => {
        const answer = await post('/api/ui', body);
        if (answer.ok && answer.data) applyScreen(answer.data.screen);
      });
      return actions;
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
    placeScreen();
    QkScreen.render(screenNode, state, screenContext);
  }

  // The 240x320 screen at 1x, 2x, or as large as fits: scaled whole, so
  // that text and lines are drawn anew at the size, not stretched.
  let zoom = localStorage.getItem('qk-zoom') || '1';
  function placeScreen() {
    const turned = frameNode.dataset.turn === '90' || frameNode.dataset.turn === '270';
    const w = turned ? 320 : 240, h = turned ? 240 : 320;
    let scale = zoom === '2' ? 2 : 1;
    if (zoom === 'fit') {
      // Beside the panels on a wide window, above them on a narrow one; the
      // case and the keys take about 50 px across and 220 px down.
      const across = (window.innerWidth > 860 ? window.innerWidth * 0.5 : window.innerWidth) - 72;
      const down = window.innerHeight - 240;
      scale = Math.max(0.5, Math.min(4, Math.floor(Math.min(across / w, down / h) * 4) / 4));
    }
    screenContext.scale = scale;
    frameNode.style.transform = scale === 1 ? '' : 'scale(' + scale + ')';
    boxNode.style.width = w * scale + 'px';
    boxNode.style.height = h * scale + 'px';
    for (const b of document.querySelectorAll('.zoom button')) b.setAttribute('aria-pressed', String(b.dataset.zoom === zoom));
  }
  for (const b of document.querySelectorAll('.zoom button')) {
    b.addEventListener('click', () => {
      zoom = b.dataset.zoom;
      localStorage.setItem('qk-zoom', zoom);
      placeScreen();
    });
  }
  window.addEventListener('resize', () => { if (zoom === 'fit') placeScreen(); });

  // ---- Hardware keys --------------------------------------------------------------------
  // Drawn from the server's list; a key stays down while any of its sources
  // (the pointer, its digit, the keyboard on the focused key) holds it.
  const hardware = document.getElementById('hardware');
  const topKeys = document.querySelector('.device-top');
  const held = new Map();  // key id -> {key, sources, request}

  function keyList() { return (state.buttons && state.buttons.keys) || []; }
  function buttonList() { return (state.buttons && state.buttons.buttons) || []; }

  function pressRequest(key, down) {
    return key.kind === 'power' ? post('/api/power', {down, page: PAGE})
                                : post('/api/button', {name: key.id, down, page: PAGE});
  }

  function keyDown(key, source, at) {
    const holding = held.get(key.id);
    if (holding) {
      holding.sources.add(source);
      return;
    }
    if (at !== undefined) qk.pointerDownAt.push({name: key.id, at});
    held.set(key.id, {key, sources: new Set([source]), request: pressRequest(key, true)});
    markHeld();
  }

  function keyUp(id, source) {
    const holding = held.get(id);
    if (!holding || !holding.sources.delete(source) || holding.sources.size) return;
    held.delete(id);
    markHeld();
    // Up only after down has arrived: two requests may take two connections.
    holding.request.then((answer) => { if (answer.ok) pressRequest(holding.key, false); });
  }

  function releaseAll() {
    for (const [id, holding] of Array.from(held)) for (const source of Array.from(holding.sources)) keyUp(id, source);
  }

  function holdable(node, key) {
    node.addEventListener('pointerdown', (e) => {
      if (e.button !== 0) return;
      e.preventDefault();
      node.setPointerCapture(e.pointerId);
      keyDown(key, 'pointer', wallClock(e.timeStamp));
    });
    const up = () => keyUp(key.id, 'pointer');
    node.addEventListener('pointerup', up);
    node.addEventListener('pointercancel', up);
    node.addEventListener('lostpointercapture', up);
    node.addEventListener('contextmenu', (e) => e.preventDefault());
    // Tab to it, then hold Space or Enter.
    node.addEventListener('keydown', (e) => {
      if (e.key !== ' ' && e.key !== 'Enter') return;
      e.preventDefault();
      e.stopPropagation();
      if (!e.repeat) keyDown(key, 'focus', wallClock(e.timeStamp));
    });
    node.addEventListener('keyup', (e) => {
      if (e.key !== ' ' && e.key !== 'Enter') return;
      e.preventDefault();
      keyUp(key.id, 'focus');
    });
    node.addEventListener('blur', () => keyUp(key.id, 'focus'));
  }

  function drawKeys() {
    const keys = keyList();
    const sig = JSON.stringify(keys);
    if (hardware.dataset.key === sig) return markHeld();
    hardware.dataset.key = sig;
    hardware.replaceChildren();
    for (const old of topKeys.querySelectorAll('.hw-top')) old.remove();
    let digit = 0;
    for (const key of keys) {
      if (key.place === 'top') {
        const node = document.createElement('button');
        node.type = 'button';
        node.className = 'hw-top power';
        node.id = key.kind === 'power' ? 'power' : 'key-' + key.id;
        node.dataset.name = key.id;
        node.dataset.vk = key.vk;
        node.title = key.title;
        node.setAttribute('aria-label', key.label);
        node.innerHTML = '<svg viewBox="0 0 12 12" aria-hidden="true"><path d="M3.5 3.2a4 4 0 1 0 5 0" fill="none" stroke="currentColor" stroke-width="1.4" stroke-linecap="round"/><path d="M6 1v4.2" stroke="currentColor" stroke-width="1.4" stroke-linecap="round"/></svg>';
        holdable(node, key);
        topKeys.append(node);
        continue;
      }
      digit += 1;
      const wrap = document.createElement('div');
      wrap.className = 'hw';
      const node = document.createElement('button');
      node.type = 'button';
      node.className = 'hw-button' + (/record/i.test(key.label) ? ' record' : '') + (key.kind === 'key' ? ' side' : '');
      node.dataset.name = key.id;
      node.dataset.vk = key.vk;
      node.title = key.title + (digit <= 9 ? ', key ' + digit : '');
      if (digit <= 9) node.append(Object.assign(document.createElement('span'), {className: 'hw-key', textContent: String(digit)}));
      holdable(node, key);
      wrap.append(node, Object.assign(document.createElement('span'), {className: 'hw-label', textContent: key.label}));
      hardware.append(wrap);
    }
    markHeld();
  }

  function markHeld() {
    const down = new Set((state.device && state.device.keysDown) || []);
    for (const node of document.querySelectorAll('.hw-button, .hw-top')) {
      node.classList.toggle('down', held.has(node.dataset.name) || down.has(Number(node.dataset.vk)));
    }
  }

  // Keys held here that the server no longer holds (it restarted): let go here too.
  function forgetLostKeys() {
    const down = new Set((state.device && state.device.keysDown) || []);
    for (const [id, holding] of Array.from(held)) {
      if (down.has(holding.key.vk)) continue;
      holding.request.then((answer) => {
        if (held.get(id) === holding && !new Set((state.device && state.device.keysDown) || []).has(holding.key.vk)) {
          held.delete(id);
          markHeld();
        }
        return answer;
      });
    }
  }

  const digitKey = (e) => e.key.length === 1 && e.key >= '1' && e.key <= '9'
    ? keyList().filter((k) => k.place !== 'top')[Number(e.key) - 1] : null;
  document.addEventListener('keydown', (e) => {
    if (e.repeat || e.ctrlKey || e.altKey || e.metaKey) return;
    if (e.target instanceof HTMLInputElement || e.target instanceof HTMLSelectElement) return;
    const key = digitKey(e);
    if (!key) return;
    e.preventDefault();
    keyDown(key, 'digit', wallClock(e.timeStamp));
  });
  document.addEventListener('keyup', (e) => {
    const key = digitKey(e);
    if (key) keyUp(key.id, 'digit');
  });
  // A key held while the window loses the keyboard never sees its key up.
  window.addEventListener('blur', releaseAll);
  // While it holds a key, the page says it is still there; a page that
  // stops saying so (closed, crashed) has its keys let go by the server.
  setInterval(() => {
    if (held.size) post('/api/heartbeat', {page: PAGE}, true);
  }, HEARTBEAT_MS);
  window.addEventListener('pagehide', () => {
    if (!held.size) return;
    fetch('/api/release', {method: 'POST', keepalive: true, headers: {'Content-Type': 'application/json'},
                           body: JSON.stringify({page: PAGE})}).catch(() => {});
  });

  // ---- Presses ----------------------------------------------------------------------------
  const timelineNode = document.getElementById('timeline');
  const pressList = document.getElementById('press-list');
  let picked = null, redraw = 0;

  function drawTimeline() {
    clearTimeout(redraw);
    const series = state.presses || [];
    if (picked !== null && !series.some((s) => s.id === picked)) picked = null;
    const moving = QkTimeline.render(timelineNode, pressList, series, picked, (id) => {
      picked = id === series[series.length - 1].id ? null : id;
      drawTimeline();
    });
    const now = wallClock();
    for (const s of series) {
      for (const p of s.presses) {
        if (qk.timelineAt.has(p.down)) continue;
        qk.timelineAt.set(p.down, now);
        if (qk.timelineAt.size > 2000) qk.timelineAt.delete(qk.timelineAt.keys().next().value);
      }
    }
    if (moving) redraw = setTimeout(drawTimeline, 100);
  }

  // ---- Beside the device: the button last pressed ------------------------------------------
  const pressedNode = document.getElementById('pressed');
  let lastPress = null;  // {name, down, up, previous}
  const downTimes = new Map();

  function notePress(entry) {
    const f = entry.fields || {};
    if (entry.event !== 'button' || typeof f.name !== 'string') return;
    const name = f.name.toUpperCase();
    if (f.down) {
      const previous = downTimes.get(name);
      downTimes.set(name, entry.t);
      lastPress = {name, vk: f.vk, down: entry.t, up: null, previous};
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
    if (info.readError) {
      parts.push(text('p', 'warning', 'The button table could not be read whole (error ' + info.readError +
                                     '): the index and the assignments shown may be another button\'s.'));
    }
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
    // Down only while the device says so: a server killed with the key down
    // journalled no key up, and a restarted one let the key go.
    const keysDown = (state.device && state.device.keysDown) || [];
    const stillDown = lastPress.up === null && keysDown.includes(lastPress.vk);
    const last = text('p', 'muted', (lastPress.up !== null ? 'Last press: held ' + (lastPress.up - lastPress.down) + ' ms'
                                     : stillDown ? 'Held down now' : 'Last press: let go (the server restarted)') +
                      (lastPress.previous ? ', ' + (lastPress.down - lastPress.previous) + ' ms after the press before' : ''));
    last.id = 'press-timing';
    parts.push(last);
    pressedNode.replaceChildren(...parts);
  }

  // ---- The tuner -----------------------------------------------------------------------------
  const tuner = QkTuner.create({
    select: document.getElementById('tuner-button'),
    start: document.getElementById('tuner-start'),
    body: document.getElementById('tuner'),
  }, {post, buttons: buttonList});

  // ---- The journal ---------------------------------------------------------------------------
  const journal = QkJournal.create({
    list: document.getElementById('journal'),
    count: document.getElementById('journal-count'),
    kind: document.getElementById('journal-kind'),
    process: document.getElementById('journal-process'),
    pause: document.getElementById('journal-pause'),
    clear: document.getElementById('journal-clear'),
  }, {
    shown(entries) {
      const shown = wallClock();
      for (const entry of entries) qk.shownAt.set(entry.id, shown);
      while (qk.shownAt.size > 2000) qk.shownAt.delete(qk.shownAt.keys().next().value);
    },
  });

  function addJournal(entries, replace) {
    for (const entry of entries) notePress(entry);
    journal.add(entries, replace);
    if (entries.some((e) => e.event === 'button')) drawPressed();
  }

  // ---- The event stream, and finding the way back ------------------------------------------
  let source = null, retries = 0, retryTimer = 0;

  function applySnapshot(snap) {
    state.device = snap.device;
    state.buttons = snap.buttons;
    QkJournal.useActions(snap.buttons && snap.buttons.actions);
    state.presses = snap.presses || [];
    applyScreen(snap.screen);
    drawScreen(true);
    lastPress = null;
    downTimes.clear();
    addJournal(snap.journal || [], true);
    forgetLostKeys();
    drawKeys();
    drawPressed();
    drawTimeline();
    tuner.show(snap.tuner || null);
  }

  // Without a stream of its own, the page still shows the device as it is
  // now, and its keys press.
  async function loadState() {
    try {
      const res = await fetch('/api/state', {cache: 'no-store'});
      if (res.ok) applySnapshot(await res.json());
    } catch (e) { /* said already */ }
  }

  // Why the stream is gone, asked with a plain request.
  async function whyClosed() {
    try {
      const res = await fetch('/api/hello?page=' + PAGE, {cache: 'no-store'});
      let data = {};
      try { data = await res.json(); } catch (e) { data = {}; }
      if (!res.ok) return {state: 'refused', status: 'refused', text: refusal(res.status, data.error || String(res.status))};
      if (data.stopping) return {state: 'closed', status: 'the server is stopping', text: 'The server is stopping; this page waits for it to start again.'};
      if (data.streams >= data.maxStreams) {
        return {state: 'refused', status: 'too many pages',
                text: 'This page shows nothing new: ' + data.streams + ' pages are open already (at most ' + data.maxStreams +
                      '). Close one, and this page connects by itself. Its buttons still press.'};
      }
      return {state: 'closed', status: 'reconnecting…', text: ''};
    } catch (e) {
      return {state: 'closed', status: 'server gone', text: 'The server is not running (devicesim serve stopped). ' +
                                                            'This page carries on by itself when it is started again.'};
    }
  }

  function connect() {
    clearTimeout(retryTimer);
    setStatus('connecting', retries ? 'reconnecting…' : 'connecting…');
    const events = new EventSource('/api/events?page=' + PAGE);
    source = events;
    events.onopen = () => {
      retries = 0;
      setStatus('open', 'connected');
      say('');
    };
    // Open for the tests once the stream's first event has replaced what the
    // page showed before it.
    events.addEventListener('snapshot', (e) => {
      applySnapshot(JSON.parse(e.data));
      qk.streamOpen = true;
    });
    events.addEventListener('journal', (e) => addJournal(JSON.parse(e.data), false));
    events.addEventListener('device', (e) => {
      state.device = JSON.parse(e.data);
      markHeld();
      drawScreen(false);
      drawPressed();
    });
    events.addEventListener('buttons', (e) => {
      state.buttons = JSON.parse(e.data);
      QkJournal.useActions(state.buttons && state.buttons.actions);
      drawKeys();
      drawPressed();
      tuner.buttonsChanged();
    });
    events.addEventListener('tuner', (e) => tuner.show(JSON.parse(e.data)));
    events.addEventListener('presses', (e) => {
      state.presses = JSON.parse(e.data);
      drawTimeline();
    });
    events.addEventListener('screen', (e) => applyScreen(JSON.parse(e.data)));
    // The browser's own retry stops at the first refusal; this one does
    // not, and says why meanwhile.
    events.onerror = () => {
      if (source !== events) return;
      events.close();
      source = null;
      qk.streamOpen = false;
      const delay = RETRY_MS[Math.min(retries, RETRY_MS.length - 1)];
      retries += 1;
      whyClosed().then((why) => {
        setStatus(why.state, why.status);
        say(why.text);
        if (why.status === 'too many pages') loadState();
        retryTimer = setTimeout(connect, delay);
      });
    };
  }

  placeScreen();
  connect();
  // The Today screen's clock.
  setInterval(() => { if (screenNode.dataset.view === 'today') drawScreen(true); }, 30000);
})();
