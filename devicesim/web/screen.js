// The Pocket PC's 240x320 screen, drawn from the running program's window
// state (devicesim ui's JSON) or, with no window up, the Today screen.
//
// Dialog units become pixels as a 240x320 Pocket PC's dialog font makes
// them: 10-point Arial has base units of about 6 x 13 pixels, so x px =
// x * 6 / 4 and y px = y * 13 / 8; other point sizes scale with the size.
'use strict';

const QkScreen = (() => {
  const WIDTH = 240, HEIGHT = 320;
  const TITLE_HEIGHT = 26, MENU_HEIGHT = 26, TAB_HEIGHT = 21;
  const SIP_HEIGHT = 80;
  const LIST_ROW = 15, DROP_ROW = 16;
  const COMBO_DLU = 12;  // a closed drop-down list, in dialog units
  const SHIDI_DONE = 0x1;

  // ---- Small helpers ----------------------------------------------------------
  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = text;
    return node;
  }
  function place(node, x, y, w, h) {
    node.style.left = x + 'px';
    node.style.top = y + 'px';
    if (w !== undefined) node.style.width = w + 'px';
    if (h !== undefined) node.style.height = h + 'px';
    return node;
  }
  function units(dialog) {
    const points = dialog && dialog.pointSize > 0 ? dialog.pointSize : 10;
    const bx = 6 * points / 10, by = 13 * points / 10;
    return {
      x: (v) => Math.round(v * bx / 4),
      y: (v) => Math.round(v * by / 8),
      font: Math.max(9, Math.round(by * 0.85)),
    };
  }
  function fileName(path) {
    const parts = String(path || '').split(/[\\/]/);
    return parts[parts.length - 1];
  }
  function clock(ms) {
    const d = new Date(ms);
    const two = (n) => String(n).padStart(2, '0');
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  // ---- Bars ---------------------------------------------------------------------
  function startFlag() {
    const flag = el('span', 'start-flag');
    flag.setAttribute('aria-hidden', 'true');
    for (let i = 0; i < 4; i++) flag.append(el('i'));
    return flag;
  }

  // Leaving a field sends what it holds, and the answer draws the screen
  // anew: a button pressed at that moment is replaced before its release,
  // and the browser clicks neither the old button nor the new one. A release
  // on the button of the same place and screen as the press is that click.
  let pressed = null;  // {key, node} of the button the pointer went down on
  let clickedOnRelease = null;
  document.addEventListener('pointerup', () => { pressed = null; });
  function clickable(node, key, onClick) {
    node.addEventListener('pointerdown', () => { pressed = {key, node}; });
    node.addEventListener('pointerup', () => {
      if (!pressed || pressed.key !== key || pressed.node === node || node.disabled) return;
      clickedOnRelease = node;
      onClick();
    });
    node.addEventListener('click', () => {
      if (clickedOnRelease === node) {
        clickedOnRelease = null;
        return;
      }
      onClick();
    });
    return node;
  }
  // Which screen a button belongs to: the frames in front and what covers them.
  let drawingScope = '';

  function titleBar(caption, buttons) {
    const bar = place(el('div', 'titlebar'), 0, 0, WIDTH, TITLE_HEIGHT);
    bar.append(startFlag(), el('span', 'caption', caption));
    const right = el('span', 'title-right');
    for (const b of buttons) right.append(b);
    bar.append(right);
    return bar;
  }

  function titleButton(text, title, id, onClick) {
    const b = el('button', 'title-button', text);
    b.type = 'button';
    b.title = title;
    b.id = id;
    return clickable(b, drawingScope + ':' + id, onClick);
  }

  function menuBar(device) {
    const bar = place(el('div', 'menubar'), 0, HEIGHT - MENU_HEIGHT, WIDTH, MENU_HEIGHT);
    const sip = el('span', 'sip-button' + (device && device.sip ? ' on' : ''));
    sip.id = 'sip-state';
    sip.title = device && device.sip ? 'Input panel shown' : 'Input panel hidden';
    sip.append(el('span', 'sip-icon'));
    bar.append(sip);
    return bar;
  }

  function inputPanel() {
    const panel = place(el('div', 'sip-panel'), 0, HEIGHT - MENU_HEIGHT - SIP_HEIGHT, WIDTH, SIP_HEIGHT);
    panel.id = 'sip-panel';
    const rows = ['1234567890', 'qwertyuiop', 'asdfghjkl', 'zxcvbnm'];
    rows.forEach((row, r) => {
      const line = el('div', 'sip-row');
      line.style.paddingLeft = (r * 6) + 'px';
      for (const c of row) line.append(el('span', 'sip-key', c));
      panel.append(line);
    });
    return panel;
  }

  // ---- Controls ---------------------------------------------------------------------
  function drawLabel(c, u) {
    const style = c.style >>> 0;
    if ((style & 0x1f) === 0x10) return place(el('div', 'ctl-line'), u.x(c.x), u.y(c.y), u.x(c.width), 2);
    const node = el('div', 'ctl-label', c.text);
    if ((style & 0x3) === 1) node.classList.add('center');
    if ((style & 0x3) === 2) node.classList.add('right');
    return node;
  }

  function drawCheck(c, act) {
    const node = el('div', 'ctl-check' + (c.checked ? ' checked' : ''));
    node.setAttribute('role', 'checkbox');
    node.setAttribute('aria-checked', c.checked ? 'true' : 'false');
    node.append(el('span', 'box'), el('span', 'text', c.text));
    if (c.enabled) node.addEventListener('click', () => act({action: 'click', id: c.id}));
    return node;
  }

  function drawButton(c, act) {
    const node = el('button', 'ctl-button', c.text);
    node.type = 'button';
    node.disabled = !c.enabled;
    return clickable(node, drawingScope + ':' + c.id, () => act({action: 'click', id: c.id}));
  }

  function drawList(c, act, memory) {
    const node = el('div', 'ctl-list');
    node.setAttribute('role', 'listbox');
    (c.lines || []).forEach((line, i) => {
      const row = el('div', 'row' + (i === c.selected ? ' selected' : ''), line.text);
      row.dataset.line = i;
      row.setAttribute('role', 'option');
      if (c.enabled) row.addEventListener('click', () => act({action: 'select', id: c.id, line: i}));
      node.append(row);
    });
    const key = 'list-' + c.id;
    node.addEventListener('scroll', () => { memory[key] = node.scrollTop; });
    requestAnimationFrame(() => {
      if (memory[key] !== undefined) node.scrollTop = memory[key];
      else if (c.selected >= 0) node.scrollTop = Math.max(0, c.selected * LIST_ROW - node.clientHeight / 2);
    });
    return node;
  }

  function drawCombo(c, u, ctx) {
    const node = el('div', 'ctl-combo');
    node.setAttribute('role', 'combobox');
    node.setAttribute('aria-expanded', 'false');
    node.append(el('span', 'value', c.selected >= 0 ? c.selectedText : ''), el('span', 'arrow'));
    if (c.enabled) node.addEventListener('click', (e) => { e.stopPropagation(); openDropDown(c, node, u, ctx); });
    return node;
  }

  // ---- The open list of a drop-down combo box --------------------------------------
  // Catalogues run to thousands of lines: only the rows in view exist.
  let openList = null;

  function closeDropDown() {
    if (!openList) return;
    const {list, node, onOutside, onKey} = openList;
    openList = null;
    list.remove();
    node.setAttribute('aria-expanded', 'false');
    document.removeEventListener('pointerdown', onOutside, true);
    document.removeEventListener('keydown', onKey, true);
  }

  function offsetIn(node, container) {
    let x = 0, y = 0;
    for (let n = node; n && n !== container; n = n.offsetParent) {
      x += n.offsetLeft;
      y += n.offsetTop;
    }
    return {x, y};
  }

  function openDropDown(c, node, u, ctx) {
    const wasThis = openList && openList.node === node;
    closeDropDown();
    if (wasThis) return;  // a second click closes it, as on the device
    const container = node.closest('.screen');
    const at = offsetIn(node, container);
    const closedHeight = node.offsetHeight;
    const top = TITLE_HEIGHT, bottom = HEIGHT - MENU_HEIGHT;
    const wanted = Math.max(8 * DROP_ROW, u.y(c.height) - closedHeight);
    const count = Math.max(1, c.lineCount || 1);
    const height = Math.min(count * DROP_ROW + 2, wanted);
    const below = bottom - (at.y + closedHeight), above = at.y - top;
    let listTop, listHeight;
    if (below >= height || below >= above) {
      listTop = at.y + closedHeight;
      listHeight = Math.min(height, below);
    } else {
      listHeight = Math.min(height, above);
      listTop = at.y - listHeight;
    }
    const width = Math.min(WIDTH - 4, Math.max(node.offsetWidth, 170));
    const left = Math.max(2, Math.min(at.x + node.offsetWidth - width, WIDTH - 2 - width));
    const list = place(el('div', 'droplist'), left, listTop, width, listHeight);
    list.id = 'droplist';
    list.dataset.id = c.id;
    list.setAttribute('role', 'listbox');
    const inner = el('div', 'droplist-inner');
    list.append(inner);
    inner.append(el('div', 'drop-loading', 'loading…'));
    container.append(list);
    node.setAttribute('aria-expanded', 'true');
    const onOutside = (e) => { if (!list.contains(e.target) && !node.contains(e.target)) closeDropDown(); };
    const onKey = (e) => { if (e.key === 'Escape') closeDropDown(); };
    document.addEventListener('pointerdown', onOutside, true);
    document.addEventListener('keydown', onKey, true);
    openList = {list, node, onOutside, onKey};

    ctx.fetchLines(c.id).then((answer) => {
      if (!openList || openList.list !== list) return;
      const lines = answer.lines || [];
      const selected = answer.selected;
      inner.replaceChildren();
      inner.style.height = (lines.length * DROP_ROW) + 'px';
      const rows = new Map();  // line -> its row, for the lines in view
      const paint = () => {
        const first = Math.max(0, Math.floor(list.scrollTop / DROP_ROW) - 4);
        const last = Math.min(lines.length, first + Math.ceil(list.clientHeight / DROP_ROW) + 8);
        for (const [i, row] of rows) {
          if (i < first || i >= last) {
            row.remove();
            rows.delete(i);
          }
        }
        for (let i = first; i < last; i++) {
          if (rows.has(i)) continue;
          const row = el('div', 'drop-row' + (i === selected ? ' selected' : ''), lines[i].text);
          row.style.top = (i * DROP_ROW) + 'px';
          row.dataset.line = i;
          row.setAttribute('role', 'option');
          row.addEventListener('click', () => {
            closeDropDown();
            ctx.act({action: 'select', id: c.id, line: i});
          });
          rows.set(i, row);
          inner.append(row);
        }
      };
      list.addEventListener('scroll', paint);
      if (selected >= 0) list.scrollTop = Math.max(0, selected * DROP_ROW - list.clientHeight / 2 + DROP_ROW / 2);
      paint();
      list.dataset.ready = 'true';
    }, () => closeDropDown());
  }

  function drawTrackbar(c, ctx) {
    const act = ctx.act;
    const node = el('div', 'ctl-track');
    const groove = el('span', 'groove');
    const thumb = el('span', 'thumb');
    const value = el('span', 'track-value');
    value.hidden = true;
    node.append(groove, thumb, value);
    const min = c.min, max = c.max;
    const span = Math.max(1, max - min);
    node.title = String(c.pos);
    node.setAttribute('role', 'slider');
    node.setAttribute('aria-valuemin', String(min));
    node.setAttribute('aria-valuemax', String(max));
    node.setAttribute('aria-valuenow', String(c.pos));
    const setThumb = (pos) => {
      const room = Math.max(0, node.clientWidth - 10);
      thumb.style.left = Math.round((pos - min) / span * room) + 'px';
      value.style.left = Math.round((pos - min) / span * room) + 5 + 'px';
      value.textContent = String(pos);
      node.setAttribute('aria-valuenow', String(pos));
    };
    requestAnimationFrame(() => setThumb(c.pos));
    // Along the control's own x axis, which a turned screen turns too.
    const posAt = (e) => {
      const rect = node.getBoundingClientRect();
      const turn = ctx.rotation || 0;
      const local = turn === 90 ? e.clientY - rect.top : turn === 180 ? rect.right - e.clientX
                  : turn === 270 ? rect.bottom - e.clientY : e.clientX - rect.left;
      const room = Math.max(1, node.clientWidth - 10);
      const ratio = Math.min(1, Math.max(0, (local / (ctx.scale || 1) - 5) / room));
      return Math.round(min + ratio * span);
    };
    if (c.enabled) {
      let dragging = null;
      node.addEventListener('pointerdown', (e) => {
        if (e.button !== 0) return;
        node.setPointerCapture(e.pointerId);
        dragging = posAt(e);
        setThumb(dragging);
        value.hidden = false;
        node.title = String(dragging);
      });
      node.addEventListener('pointermove', (e) => {
        if (dragging === null) return;
        dragging = posAt(e);
        setThumb(dragging);
        node.title = String(dragging);
      });
      const finish = () => {
        if (dragging === null) return;
        const pos = dragging;
        dragging = null;
        value.hidden = true;
        if (pos !== c.pos) act({action: 'slide', id: c.id, pos});
      };
      node.addEventListener('pointerup', finish);
      node.addEventListener('pointercancel', finish);
    }
    return node;
  }

  // An enabled field takes typing; what it holds goes to the program when
  // the field is left (Enter, Tab or a click elsewhere), as one "type".
  function drawEdit(c, act) {
    if (!c.enabled) return el('div', 'ctl-edit', c.text);
    const node = document.createElement('input');
    node.type = 'text';
    node.className = 'ctl-edit';
    node.value = c.text;
    node.dataset.id = c.id;
    node.setAttribute('aria-label', 'edit field ' + c.id);
    node.addEventListener('keydown', (e) => { if (e.key === 'Enter') node.blur(); });
    node.addEventListener('change', () => act({action: 'type', id: c.id, text: node.value}));
    return node;
  }

  function drawControl(c, u, ctx) {
    if (!c.visible) return null;
    let node = null;
    let h = c.height;
    switch (c.kind) {
      case 'label': node = drawLabel(c, u); break;
      case 'line': node = el('div', 'ctl-line'); h = 1; break;
      case 'checkbox': node = drawCheck(c, ctx.act); break;
      case 'button': node = drawButton(c, ctx.act); break;
      case 'edit': node = drawEdit(c, ctx.act); break;
      case 'listbox': node = drawList(c, ctx.act, ctx.memory); break;
      case 'combobox': node = drawCombo(c, u, ctx); h = Math.min(c.height, COMBO_DLU); break;
      case 'trackbar': node = drawTrackbar(c, ctx); break;
      default: return null;  // the input-panel preference and other unseen controls
    }
    if (!node.style.left) place(node, u.x(c.x), u.y(c.y), u.x(c.width), Math.max(1, u.y(h)));
    node.classList.add('ctl');
    if (!c.enabled) node.classList.add('disabled');
    node.dataset.id = c.id;
    node.style.fontSize = u.font + 'px';
    return node;
  }

  function drawDialog(dialog, area, ctx) {
    const u = units(dialog);
    const surface = place(el('div', 'dialog-surface'), 0, 0, area.width, area.height);
    surface.dataset.template = dialog.template;
    for (const c of dialog.controls || []) {
      const node = drawControl(c, u, ctx);
      if (node) surface.append(node);
    }
    return surface;
  }

  // ---- Boxes in front --------------------------------------------------------------------
  function messageIcon(flags) {
    switch (flags & 0xf0) {
      case 0x10: return ['icon-stop', '\u00d7'];
      case 0x20: return ['icon-question', '?'];
      case 0x30: return ['icon-warning', '!'];
      case 0x40: return ['icon-info', 'i'];
      default: return null;
    }
  }

  function drawMessageBox(frame, ctx) {
    const shade = place(el('div', 'shade'), 0, TITLE_HEIGHT, WIDTH, HEIGHT - TITLE_HEIGHT - MENU_HEIGHT);
    const box = el('div', 'msgbox');
    box.id = 'msgbox';
    box.setAttribute('role', 'alertdialog');
    const head = el('div', 'msgbox-title', frame.caption || 'Error');
    const body = el('div', 'msgbox-body');
    const icon = messageIcon(frame.flags >>> 0);
    if (icon) body.append(el('span', 'msgbox-icon ' + icon[0], icon[1]));
    body.append(el('p', 'msgbox-text', frame.text));
    const ok = el('button', 'msgbox-ok', 'OK');
    ok.type = 'button';
    ok.id = 'msgbox-ok';
    ok.addEventListener('click', () => ctx.act({action: 'answer'}));
    box.append(head, body, ok);
    shade.append(box);
    return shade;
  }

  function drawFileDialog(frame, ctx) {
    const area = place(el('div', 'filedialog'), 0, TITLE_HEIGHT, WIDTH, HEIGHT - TITLE_HEIGHT - MENU_HEIGHT);
    area.id = 'filedialog';
    area.append(el('div', 'fd-head', frame.title || 'Open'));
    const typeRow = el('label', 'fd-row', 'Type:');
    const types = el('select', 'fd-types');
    for (const f of frame.filters || []) types.append(new Option(f.name + ' (' + f.pattern + ')'));
    typeRow.append(types);
    const nameRow = el('label', 'fd-row', 'Name:');
    const path = el('input', 'fd-path');
    path.id = 'fd-path';
    path.type = 'text';
    path.placeholder = '\\My Documents\\letter.psw';
    path.spellcheck = false;
    nameRow.append(path);
    const buttons = el('div', 'fd-buttons');
    const ok = el('button', 'ctl-button', 'OK');
    ok.type = 'button';
    ok.id = 'fd-ok';
    const cancel = el('button', 'ctl-button', 'Cancel');
    cancel.type = 'button';
    cancel.id = 'fd-cancel';
    const choose = () => { if (path.value.trim()) ctx.act({action: 'file', path: path.value.trim()}); };
    ok.addEventListener('click', choose);
    path.addEventListener('keydown', (e) => { if (e.key === 'Enter') choose(); });
    cancel.addEventListener('click', () => ctx.act({action: 'cancel-file'}));
    buttons.append(ok, cancel);
    area.append(typeRow, nameRow, el('p', 'fd-note', 'A device path: \\ separates folders.'), buttons);
    return area;
  }

  // ---- The program's screen -------------------------------------------------------------
  function drawProgram(screen, device, ctx) {
    const root = document.createDocumentFragment();
    const main = screen.main || {};
    const area = main.area && main.area.width ? main.area : {left: 0, top: TITLE_HEIGHT, width: WIDTH, height: HEIGHT - TITLE_HEIGHT - MENU_HEIGHT};
    const stack = screen.stack || [];
    // The page or dialog that covers the screen, and a box over it.
    let covering = null;
    for (const frame of stack) if (frame.kind === 'pageset' || frame.kind === 'dialog') covering = frame;
    const front = stack.length ? stack[stack.length - 1] : null;
    drawingScope = [stack.length, front ? front.kind : '', !covering ? ''
      : covering.kind === 'pageset' ? (covering.page ? covering.page.template : '') + '/' + covering.current
      : covering.dialog ? covering.dialog.template : ''].join(':');

    let caption = main.title || screen.program || '';
    let shell = 0;
    const work = place(el('div', 'workarea'), area.left, area.top, area.width, area.height);
    if (covering && covering.kind === 'pageset') {
      caption = covering.caption || caption;
      const page = covering.page;
      const pageArea = {width: area.width, height: area.height - TAB_HEIGHT};
      if (page) {
        shell = page.shell >>> 0;
        work.append(drawDialog(page, pageArea, ctx));
      }
      const tabs = place(el('div', 'tabs'), 0, area.height - TAB_HEIGHT, area.width, TAB_HEIGHT);
      tabs.setAttribute('role', 'tablist');
      (covering.tabs || []).forEach((title, i) => {
        const tab = el('button', 'tab' + (i === covering.current ? ' current' : ''), title);
        tab.type = 'button';
        tab.setAttribute('role', 'tab');
        tab.dataset.tab = title;
        if (i !== covering.current) tab.addEventListener('click', () => ctx.act({action: 'tab', title}));
        tabs.append(tab);
      });
      work.append(tabs);
    } else if (covering && covering.dialog) {
      caption = covering.dialog.caption || caption;
      shell = covering.dialog.shell >>> 0;
      work.append(drawDialog(covering.dialog, area, ctx));
    }
    const buttons = [];
    if (covering && front && (front.kind === 'pageset' || front.kind === 'dialog')) {
      buttons.push(titleButton('\u00d7', 'Cancel: leave without Done', 'title-cancel', () => ctx.act({action: 'cancel'})));
      // Done closes the whole page set from any of its pages; a dialog has it when it asks.
      if (covering.kind === 'pageset' || (shell & SHIDI_DONE)) buttons.push(titleButton('ok', 'Done', 'title-ok', () => ctx.act({action: 'done'})));
    }
    root.append(titleBar(caption, buttons), work);
    if (front && front.kind === 'messagebox') root.append(drawMessageBox(front, ctx));
    if (front && front.kind === 'filedialog') root.append(drawFileDialog(front, ctx));
    return root;
  }

  // ---- Today ---------------------------------------------------------------------------------
  function drawToday(device, ctx) {
    const root = document.createDocumentFragment();
    const now = new Date();
    const time = el('span', 'title-clock', String(now.getHours()).padStart(2, '0') + ':' + String(now.getMinutes()).padStart(2, '0'));
    root.append(titleBar('Start', [time]));
    const today = place(el('div', 'today'), 0, TITLE_HEIGHT, WIDTH, HEIGHT - TITLE_HEIGHT - MENU_HEIGHT);
    today.id = 'today';
    const head = el('div', 'today-date', now.toLocaleDateString('en-US', {weekday: 'long', year: 'numeric', month: 'long', day: 'numeric'}));
    today.append(head);

    const item = (icon, title, detail, id) => {
      const row = el(id ? 'button' : 'div', 'today-item');
      if (id) { row.type = 'button'; row.id = id; }
      row.append(el('span', 'today-icon ' + icon));
      const text = el('span', 'today-text');
      text.append(el('span', 'today-title', title), el('span', 'today-detail', detail));
      row.append(text);
      today.append(row);
      return row;
    };
    const program = device && device.program;
    const settings = item('icon-settings', 'Settings', program ? 'tapdeck is starting…' : 'Assign the buttons (tapdeck)', 'today-settings');
    settings.addEventListener('click', () => ctx.startSettings());
    const last = device && device.lastStarted;
    item('icon-program', 'Last started by a press',
         last ? fileName(last.program) + (last.args ? ' ' + last.args : '') + '  at ' + clock(last.t) : 'nothing yet').id = 'today-last';
    item('icon-sip', 'Input panel', device && device.sip ? 'shown' : 'hidden').id = 'today-sip';
    const turned = device ? (device.orientation >= 0 ? device.orientation + '\u00b0' : 'unknown') : '0\u00b0';
    item('icon-display', 'Display', turned + (device && !device.rotationSupported ? ', cannot rotate' : ', can rotate')).id = 'today-display';
    root.append(today);
    return root;
  }

  // ---- The whole screen ------------------------------------------------------------------------
  function render(container, state, ctx) {
    closeDropDown();
    drawingScope = '';
    const device = state.device || {};
    const screen = state.screen;
    const showsProgram = screen && Array.isArray(screen.stack) && screen.stack.length > 0;
    const content = showsProgram ? drawProgram(screen, device, ctx) : drawToday(device, ctx);
    container.replaceChildren(content);
    if (device.sip) container.append(inputPanel());
    container.append(menuBar(device));
    if (device.displayOn === false) {
      const off = place(el('div', 'display-off'), 0, 0, WIDTH, HEIGHT);
      off.id = 'display-off';
      off.append(el('p', null, 'Display off'), el('p', 'small', 'Press the power key or a button.'));
      container.append(off);
    }
    container.dataset.view = showsProgram ? 'program' : 'today';
    container.dataset.serial = showsProgram ? screen.serial : '';
  }

  return {render, closeDropDown, WIDTH, HEIGHT};
})();
