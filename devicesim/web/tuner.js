// The tuner panel: pick a button, press it as asked, and compare the timing
// in force with the one the presses propose. The server records and
// proposes (its "tuner" view); the panel shows that view and sends what the
// person chose.
'use strict';

const QkTuner = (() => {
  function el(tag, props, ...children) {
    const node = Object.assign(document.createElement(tag), props || {});
    node.append(...children);
    return node;
  }

  // nodes: {select, start, body}; context: {post(path, body), buttons()}.
  function create(nodes, context) {
    let view = null;
    let everyButton = false;

    const send = (body) => context.post('/api/tuner', body);

    function fillButtons() {
      const buttons = context.buttons();
      const chosen = nodes.select.value;
      const sig = JSON.stringify(buttons.map((b) => [b.entry, b.name]));
      if (nodes.select.dataset.sig !== sig) {
        nodes.select.dataset.sig = sig;
        nodes.select.replaceChildren(...buttons.map((b) => el('option', {value: b.entry, textContent: b.name + ' (' + b.entry + ')'})));
        if (buttons.some((b) => b.entry === chosen)) nodes.select.value = chosen;
      }
      nodes.start.disabled = buttons.length === 0;
    }

    function table(rows) {
      const head = el('tr', null, el('th', {textContent: ''}), el('th', {textContent: 'Now'}), el('th', {textContent: 'Proposed'}));
      const body = rows.map((row, i) => {
        const tr = el('tr', null, el('th', {textContent: row.label}), el('td', {textContent: row.now}),
                      el('td', {textContent: row.proposed}));
        tr.dataset.row = String(i);
        return tr;
      });
      return el('table', {className: 'tuner-table'}, el('thead', null, head), el('tbody', null, ...body));
    }

    function draw() {
      fillButtons();
      if (!view || !view.recording) {
        const parts = [];
        if (view && view.stored) {
          const s = view.stored;
          parts.push(el('p', {className: 'tuner-stored', id: 'tuner-stored',
                              textContent: 'Stored ' + (s.forEveryButton ? 'for every button' : 'for ' + s.name) +
                                           ': hold after ' + s.hold + ' ms, second press within ' + s.double + ' ms.'}));
        }
        parts.push(el('p', {className: 'muted', textContent: 'Pick a button and press Record: the page asks for each kind of ' +
                            'press five times, and proposes the timing that reads them as you meant. While it records, ' +
                            'this page\'s presses of the button act nowhere.'}));
        nodes.body.replaceChildren(...parts);
        nodes.start.textContent = 'Record';
        return;
      }
      nodes.start.textContent = 'Record again';
      if (nodes.select.value !== view.entry) nodes.select.value = view.entry;
      const every = el('input', {type: 'checkbox', id: 'tuner-every', checked: everyButton});
      every.addEventListener('change', () => { everyButton = every.checked; });
      const accept = el('button', {type: 'button', id: 'tuner-accept', textContent: 'Accept', disabled: !view.canAccept});
      accept.addEventListener('click', () => send({action: 'accept', forEveryButton: everyButton}));
      const over = el('button', {type: 'button', id: 'tuner-over', textContent: 'Start over'});
      over.addEventListener('click', () => send({action: 'over'}));
      const stop = el('button', {type: 'button', id: 'tuner-stop', textContent: 'Cancel'});
      stop.addEventListener('click', () => send({action: 'stop'}));
      nodes.body.replaceChildren(
        el('p', {className: 'tuner-button', textContent: view.name + ' · ' + view.entry}),
        el('p', {className: 'tuner-prompt', id: 'tuner-prompt', textContent: view.prompt}),
        el('p', {className: 'tuner-notice' + (/inconsistently/.test(view.notice) ? ' warning' : ''), id: 'tuner-notice',
                 textContent: view.notice}),
        table(view.rows || []),
        el('div', {className: 'tuner-tools'}, el('label', null, every, ' Use for every button'), accept, over, stop));
    }

    nodes.start.addEventListener('click', () => {
      if (nodes.select.value) send({action: 'start', button: nodes.select.value});
    });

    return {
      show(next) {
        view = next;
        draw();
      },
      buttonsChanged() { fillButtons(); },
    };
  }

  return {create};
})();
