// The journal as a person reads it: one row an entry, with the process's
// program, the event and what it means in words (special actions by name,
// keys and windows in hex as devicesim state prints them); filtered by kind
// and by process, paused and cleared without losing what comes meanwhile.
'use strict';

const QkJournal = (() => {
  const MAX_ROWS = 400;
  const MAX_PROCESSES = 60;
  const TODAY_WINDOW = 0x10010;
  const KEY_NAMES = {0x0D: 'Return', 0x1B: 'Escape', 0x21: 'Page Up', 0x22: 'Page Down', 0x26: 'Up', 0x28: 'Down',
                     0x5B: 'Left Windows', 0xDF: 'Off'};
  // The special actions and what each visibly does, as the server sends
  // them with the buttons (the launcher's own table).
  let actions = [];
  const actionBy = (test) => (actions.find(test) || {}).name;
  const keyAction = (vk) => actionBy((a) => (a.effect === 'key' || a.effect === 'keyDown') && a.key === vk);
  const startAction = (program) => {
    const file = String(program || '').split(/[\\/]/).pop().toLowerCase();
    return actionBy((a) => a.effect === 'start' && a.program.toLowerCase() === file);
  };

  const hex = (n, width) => typeof n === 'number' ? '0x' + n.toString(16).toUpperCase().padStart(width || 2, '0') : String(n);
  const windowText = (w) => (w === 0 ? 'none' : '0x' + w.toString(16)) + (w === TODAY_WINDOW ? ' (the Today screen)' : '');
  const isLauncher = (entry) => /^tapdeckx\.exe$/i.test(entry.program || '');

  function when(ms) {
    const d = new Date(ms);
    const two = (n) => String(n).padStart(2, '0');
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds()) + '.' + String(d.getMilliseconds()).padStart(3, '0');
  }

  // The entry's fields in words.
  function describe(entry) {
    const f = entry.fields || {};
    const action = (name) => isLauncher(entry) && name ? '  = ' + name : '';
    switch (entry.event) {
      case 'button':
        return 'button ' + f.name + ' (key ' + hex(f.vk) + ') ' + (f.down ? 'down' : 'up');
      case 'key':
        return 'key ' + hex(f.vk) + (KEY_NAMES[f.vk] ? ' ' + KEY_NAMES[f.vk] : '') + ' ' + (f.up ? 'up' : 'down') +
               ((f.flags & 4) ? ', silent' : '') + (f.up ? '' : action(keyAction(f.vk)));
      case 'foreground':
        return 'window ' + windowText(f.window) + ' to the front' +
               action(f.window === TODAY_WINDOW ? actionBy((a) => a.effect === 'today') : '');
      case 'sip':
        return 'input panel ' + (f.shown ? 'shown' : 'hidden') + ' (request ' + f.request + ')' +
               action(actionBy((a) => a.effect === 'inputPanel'));
      case 'start':
        return 'started ' + f.program + (f.args ? ' ' + f.args : '') +
               (f.child ? ' as pid ' + f.child : ' (a stock program: journalled only)') +
               action(startAction(f.program));
      case 'open':
        return 'opened ' + f.file + (f.ok ? '' : ': failed, error ' + f.error);
      case 'message':
        return 'message box' + (f.caption ? ' "' + f.caption + '"' : '') + ': ' + f.text;
      case 'beep':
        return 'beep ' + hex(f.type);
      case 'display':
        return 'display turned to ' + f.orientation + '°' + (f.ok ? '' : ': refused');
      case 'keytaken':
        return 'key ' + hex(f.vk) + (f.taken ? ' taken by a dialog: its presses reach that dialog only'
                                              : ' given back by the dialog that took it');
      default:
        return Object.entries(f).map(([k, v]) => k + '=' + (typeof v === 'string' ? '"' + v + '"' : JSON.stringify(v))).join('  ');
    }
  }

  function create(nodes, hooks) {
    const {list, count, kind, process, pause, clear} = nodes;
    const kinds = new Set(), processes = new Map();
    let paused = false, waiting = [], total = 0;

    const matches = (row) => (!kind.value || row.dataset.event === kind.value) &&
                             (!process.value || row.dataset.pid === process.value);

    function option(select, value, label) {
      if (Array.from(select.options).some((o) => o.value === value)) return;
      const o = document.createElement('option');
      o.value = value;
      o.textContent = label;
      select.append(o);
    }

    function row(entry) {
      const node = document.createElement('div');
      node.className = 'entry ev-' + entry.event;
      node.dataset.id = entry.id;
      node.dataset.event = entry.event;
      node.dataset.pid = entry.pid;
      const cell = (className, text) => Object.assign(document.createElement('span'), {className, textContent: text});
      node.append(cell('e-time', when(entry.t)), cell('e-pid', entry.pid + (entry.program ? ' ' + entry.program : '')),
                  cell('e-event', entry.event), cell('e-fields', describe(entry)));
      node.title = JSON.stringify(entry);
      node.hidden = !matches(node);
      return node;
    }

    function learn(entry) {
      if (!kinds.has(entry.event)) {
        kinds.add(entry.event);
        option(kind, entry.event, entry.event);
      }
      const key = String(entry.pid);
      if (!processes.has(key) || (!processes.get(key) && entry.program)) {
        processes.set(key, entry.program || '');
        const existing = Array.from(process.options).find((o) => o.value === key);
        if (existing) existing.textContent = key + (entry.program ? ' ' + entry.program : '');
        else option(process, key, key + (entry.program ? ' ' + entry.program : ''));
      }
      // Every press starts a process: the oldest leave the list, unless chosen.
      while (processes.size > MAX_PROCESSES) {
        const oldest = processes.keys().next().value;
        processes.delete(oldest);
        const gone = Array.from(process.options).find((o) => o.value === oldest);
        if (gone && process.value !== oldest) gone.remove();
      }
    }

    function showCount() {
      count.textContent = total + ' entries' + (paused ? ' · paused' + (waiting.length ? ', ' + waiting.length + ' new' : '') : '');
    }

    function append(entries, replace) {
      const atBottom = list.scrollHeight - list.scrollTop - list.clientHeight < 24;
      if (replace) list.replaceChildren();
      const fragment = document.createDocumentFragment();
      for (const entry of entries) fragment.append(row(entry));
      list.append(fragment);
      while (list.childElementCount > MAX_ROWS) list.firstElementChild.remove();
      if (atBottom || replace) {
        list.scrollTop = list.scrollHeight;
        requestAnimationFrame(() => { list.scrollTop = list.scrollHeight; });
      }
      hooks.shown(entries);
    }

    kind.addEventListener('change', () => { for (const node of list.children) node.hidden = !matches(node); });
    process.addEventListener('change', () => { for (const node of list.children) node.hidden = !matches(node); });
    pause.addEventListener('click', () => {
      paused = !paused;
      pause.setAttribute('aria-pressed', String(paused));
      pause.textContent = paused ? 'Resume' : 'Pause';
      if (!paused && waiting.length) {
        append(waiting, false);
        waiting = [];
      }
      showCount();
    });
    clear.addEventListener('click', () => {
      list.replaceChildren();
      waiting = [];
      showCount();
    });

    return {
      // Entries as the server sends them; `replace` for a snapshot.
      add(entries, replace) {
        if (replace) {
          total = 0;
          waiting = [];
        }
        total += entries.length;
        for (const entry of entries) learn(entry);
        if (paused && !replace) waiting.push(...entries);
        else append(entries, replace);
        showCount();
      },
    };
  }

  // Taken from each snapshot of the buttons.
  function useActions(list) {
    if (Array.isArray(list)) actions = list;
  }

  return {create, describe, useActions};
})();
