// A series of presses on a time axis, as the server's press timeline tells
// it: the key down and up as bars; for each press that TapdeckX timed, the
// hold interval and the double-press window from the settings in force;
// each launcher's life and how it ended; the moment one of them acted, with
// the slot, the action in words and its delay after the acting key down.
// Beside it, the last series in words, newest first.
'use strict';

const QkTimeline = (() => {
  const PLACES = ['first', 'second', 'third', 'fourth', 'fifth', 'sixth'];
  const OUTCOMES = {acted: 'acted', 'gave way': 'gave way: a later press took the series over',
                    ended: 'ended without acting', waiting: 'timing the press', shell: 'the shell ran the command',
                    none: 'started nothing'};

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = text;
    return node;
  }

  const ordinal = (place, presses) => presses === 1 ? 'the press'
    : place <= PLACES.length ? 'the ' + PLACES[place - 1] + ' press' : 'press ' + place;

  // The series still moves: a key is down or a launcher still times it.
  const live = (s) => s.state === 'waiting' || s.presses.some((p) => p.up === null || p.outcome === 'waiting');

  function span(s, now) {
    const h = s.holdInterval, d = s.dblClickInterval;
    const from = s.start - 40;
    let to = s.start + Math.max(h, d) + 80;
    for (const p of s.presses) {
      to = Math.max(to, (p.up === null ? now : p.up) + 40, (p.ended || p.down) + 40);
      if (p.outcome === 'waiting') to = Math.max(to, now + 40);
    }
    if (s.decision) to = Math.max(to, s.decision.t + 80);
    if (s.shell) to = Math.max(to, s.shell.t + 80);
    return {from, to};
  }

  function bar(lane, range, a, b, className, label, title) {
    const width = range.to - range.from;
    const node = el('div', className, label);
    node.style.left = ((a - range.from) / width * 100).toFixed(3) + '%';
    node.style.width = (Math.max(0, b - a) / width * 100).toFixed(3) + '%';
    if (title) node.title = title;
    lane.append(node);
    return node;
  }

  function row(plot, label, className) {
    const r = el('div', 'tl-row ' + className);
    r.append(el('span', 'tl-label', label));
    const lanes = el('div', 'tl-lanes');
    r.append(lanes);
    plot.append(r);
    return lanes;
  }

  function lane(lanes) {
    const node = el('div', 'tl-lane');
    lanes.append(node);
    return node;
  }

  function axis(plot, range, origin) {
    const ticks = el('div', 'tl-axis');
    const width = range.to - range.from;
    const step = width > 4000 ? 1000 : width > 1600 ? 500 : width > 700 ? 200 : 100;
    for (let t = Math.ceil((range.from - origin) / step) * step; origin + t <= range.to; t += step) {
      const at = (origin + t - range.from) / width;
      if (at > 0.94) break;  // its label would run past the edge
      const tick = el('span', 'tl-tick', t + ' ms');
      tick.style.left = (at * 100).toFixed(3) + '%';
      ticks.append(tick);
    }
    const r = el('div', 'tl-row tl-axis-row');
    r.append(el('span', 'tl-label'), ticks);
    plot.append(r);
  }

  // One series, drawn.
  function draw(s, now) {
    const range = span(s, now);
    const node = el('div', 'tl-series');
    node.dataset.id = s.id;
    node.dataset.state = s.state;
    const head = el('p', 'tl-head');
    head.append(el('strong', 'tl-button', s.name), el('span', 'muted',
      '  ' + s.entry + (s.index !== null && s.index !== undefined ? ' · index ' + s.index : '') +
      (s.takenOver ? ' · hold after ' + s.holdInterval + ' ms · second press within ' + s.dblClickInterval + ' ms'
                   : ' · not taken over')));
    node.append(head);

    const plot = el('div', 'tl-plot');
    const keys = lane(row(plot, 'Key', 'tl-keys'));
    s.presses.forEach((p, i) => {
      const up = p.up === null ? now : p.up;
      bar(keys, range, p.down, up, 'tl-press' + (p.up === null ? ' held' : ''), String(i + 1),
          'press ' + (i + 1) + ': down ' + (p.down - s.start) + ' ms' +
          (p.up === null ? ', still down' : ', up after ' + (p.up - p.down) + ' ms'));
    });

    if (s.takenOver) {
      const decidedAtOnce = (i) => s.decision && s.decision.press === i + 1 && s.decision.delay < s.holdInterval / 2;
      const timed = s.presses.map((p, i) => ({p, i})).filter(({i}) => !decidedAtOnce(i));
      if (timed.length) {
        // Each timed press: the hold interval above, the double-press window below.
        const windows = row(plot, 'Timings', 'tl-windows');
        for (const {p, i} of timed) {
          const l = lane(windows);
          bar(l, range, p.down, p.down + s.holdInterval, 'tl-hold', '',
              'press ' + (i + 1) + ': still down after ' + s.holdInterval + ' ms is a hold');
          bar(l, range, p.down, p.down + s.dblClickInterval, 'tl-double', '',
              'press ' + (i + 1) + ': a further press within ' + s.dblClickInterval + ' ms joins the series');
        }
      }
      const launchers = row(plot, 'TapdeckX', 'tl-launchers');
      s.presses.forEach((p, i) => {
        const l = lane(launchers);
        if (!p.pid) return;
        const end = p.ended || (p.outcome === 'waiting' ? now : p.down);
        const life = bar(l, range, p.down, Math.max(end, p.down + 1), 'tl-life out-' + p.outcome.replace(' ', '-'), '',
                         'TapdeckX pid ' + p.pid + ' for press ' + (i + 1) + ': ' + (OUTCOMES[p.outcome] || p.outcome));
        life.dataset.outcome = p.outcome;
        if (p.outcome === 'gave way' || p.outcome === 'ended') {
          // Beside the bar, never over it: after its end, else before its
          // start, else under its end, in a lane made taller for it.
          const place = (t) => (t - range.from) / (range.to - range.from);
          const after = place(end), before = place(p.down);
          const side = after <= 0.78 ? '' : before >= 0.3 ? ' before' : ' under';
          const note = el('span', 'tl-end' + side, p.outcome);
          note.style.left = ((side === ' before' ? before : after) * 100).toFixed(3) + '%';
          if (side === ' under') l.classList.add('tl-lane-noted');
          l.append(note);
        }
      });
    }

    // The moment it was decided, across the rows.
    const mark = s.decision ? s.decision.t : s.shell ? s.shell.t : null;
    if (mark !== null) {
      const line = el('div', 'tl-decision');
      const at = ((mark - range.from) / (range.to - range.from)).toFixed(5);
      line.style.left = 'calc(var(--label) + (100% - var(--label)) * ' + at + ')';
      line.title = s.decision ? 'TapdeckX (pid ' + s.decision.pid + ') acted here' : 'the shell ran the command here';
      plot.append(line);
    }
    axis(plot, range, s.start);
    node.append(plot);
    if (s.takenOver) {
      const legend = el('p', 'tl-legend');
      // Each swatch with its words: they wrap together.
      const item = (key, words) => {
        const span = el('span', 'tl-legend-item');
        span.append(el('span', 'tl-key ' + key), words);
        return span;
      };
      legend.append(item('tl-key-hold', 'hold interval ' + s.holdInterval + ' ms'),
                    item('tl-key-double', 'double-press window ' + s.dblClickInterval + ' ms'),
                    item('tl-key-acted', 'TapdeckX that acted'));
      node.append(legend);
    }

    const verdict = el('p', 'tl-verdict');
    if (s.decision) {
      const dec = s.decision;
      node.dataset.slot = dec.slot;
      node.dataset.action = dec.action;
      node.dataset.delay = dec.delay;
      verdict.append(el('span', 'tl-slot', dec.slotWords), ' → ',
                     el('span', 'tl-action', dec.kind === 'unassigned' ? 'nothing (unassigned)' : dec.action), ', ',
                     el('span', 'tl-delay', dec.delay + ' ms after ' + ordinal(dec.press, s.presses.length)));
      const how = dec.source === 'report' ? 'the slot as TapdeckX\'s closing report names it'
                : 'the slot told by the press count and the assignment';
      node.append(verdict, el('p', 'tl-effect', (dec.effect ? dec.effect + ' · ' : '') + how));
    } else {
      verdict.append(el('span', 'tl-none', s.summary));
      node.append(verdict);
    }
    return node;
  }

  function listItem(s, selected) {
    const item = el('li', 'pl-item' + (selected ? ' selected' : ''));
    item.dataset.id = s.id;
    item.dataset.state = s.state;
    const button = el('button', 'pl-button');
    button.type = 'button';
    const time = new Date(s.start);
    button.append(el('span', 'pl-time', String(time.getHours()).padStart(2, '0') + ':' + String(time.getMinutes()).padStart(2, '0') +
                                        ':' + String(time.getSeconds()).padStart(2, '0')),
                  el('span', 'pl-name', s.name), el('span', 'pl-summary', s.summary));
    button.setAttribute('aria-pressed', String(selected));
    item.append(button);
    return item;
  }

  // Draws `series` (oldest first) into the plot and the list; `selected` is
  // the series id to draw, or null for the newest. Calls `pick(id)` when a
  // person picks one. True when something in it still moves.
  function render(plotNode, listNode, series, selected, pick) {
    if (!series.length) return false;
    const shown = series.find((s) => s.id === selected) || series[series.length - 1];
    const now = Date.now();
    plotNode.replaceChildren(draw(shown, now));
    const items = series.slice().reverse().map((s) => {
      const item = listItem(s, s === shown);
      item.firstChild.addEventListener('click', () => pick(s.id));
      return item;
    });
    listNode.replaceChildren(...items);
    return live(shown);
  }

  return {render};
})();
