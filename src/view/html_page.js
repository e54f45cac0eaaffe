// The page's script: reads the data the page writer embedded, fills in the
// summary and the folder tree, and keeps the table to the rows in view, so
// that 200,000 changes cost a screenful of DOM rows. Every name reaches the
// page through textContent.
'use strict';
(() => {
  const KINDS = ['created', 'deleted', 'modified', 'moved', 'type'];
  const KIND_NAMES = ['created', 'deleted', 'modified', 'moved', 'type changed'];
  const SYMBOLS = ['+', '\u2212', '~', '\u2192', '\u21c4'];
  const VERDICTS = ['content', 'metadata', 'times'];
  const TYPES = ['file', 'directory', 'link', 'other'];
  // A row's fields, as the page writer lays them out.
  const KIND = 0, PATH = 1, VERDICT = 2, SIZE_OLD = 3, SIZE_NEW = 4, SIZE_DIFF = 5;
  const WRITTEN_OLD = 6, WRITTEN_NEW = 7, OTHER = 8, OLD_PATH = 9, TYPE = 10;
  // Rows drawn above and below the visible ones, so that a scroll of a few
  // rows shows no gap before the next frame.
  const OVERSCAN = 12;
  // Children of one folder drawn at a time in the tree.
  const TREE_CHUNK = 200;

  const $ = (id) => document.getElementById(id);
  const rows = JSON.parse($('dirlog-rows').textContent);
  const data = JSON.parse($('dirlog-summary').textContent);
  const summary = data.summary || {};
  const separator = summary.separator || '/';

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // A control character in a name shows as its visible picture.
  function visible(text) {
    return String(text).replace(/[\u0000-\u001f\u007f]/g, (c) =>
      c === '\u007f' ? '\u2421' : String.fromCharCode(0x2400 + c.charCodeAt(0)));
  }
  const count = (n) => Number(n || 0).toLocaleString('en-US');
  function bytes(n) {
    const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB'];
    let value = Math.abs(n);
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
      value /= 1024;
      unit++;
    }
    const text = unit === 0 ? String(value) : value.toFixed(value < 10 ? 1 : 0);
    return (n < 0 ? '\u2212' : '') + text + '\u00a0' + units[unit];
  }
  const signedBytes = (n) => (n > 0 ? '+' : '') + bytes(n);
  const when = (iso) => (iso ? iso.replace('T', ' ').replace(/\.\d+/, '') : 'none');

  // ---- The two logs and the summary cards.

  function showLogs() {
    const list = $('logs');
    for (const [label, log] of [['Before', summary.before], ['After', summary.after]]) {
      if (!log) continue;
      const detail = el('dd');
      detail.append(el('span', 'mono', visible(log.log || '?')),
        el('span', '', ` \u2014 start folder ${visible(log.start || '?')}` +
          ` \u2014 taken ${log.taken ? when(log.taken) : 'at an unknown time'}` +
          ` \u2014 ${count(log.records)} records`));
      list.append(el('dt', '', label), detail);
    }
    list.append(el('dt', '', 'Made by'), el('dd', '', `dirlog-view ${summary.version || '?'}`));
  }

  function card(className, value, label, exact) {
    const item = el('li', className);
    item.append(el('span', 'value', value), el('span', 'label', label));
    if (exact !== undefined) item.append(el('span', 'exact', exact));
    return item;
  }

  function showSummary() {
    const cards = $('cards');
    const counts = summary.counts || {};
    KINDS.forEach((kind, k) => cards.append(
      card('k-' + kind, count(counts[kind]), SYMBOLS[k] + ' ' + KIND_NAMES[k])));
    const b = summary.bytes || {};
    cards.append(card('', bytes(b.added || 0), 'bytes added', count(b.added) + ' bytes'),
      card('', bytes(b.removed || 0), 'bytes removed', count(b.removed) + ' bytes'),
      card('', signedBytes(b.net || 0), 'net', count(b.net) + ' bytes'),
      card('', count(summary.access_only_hidden), 'access-time-only changes hidden'),
      card('', count(summary.unread_lines), 'lines not read'));
    const unread = summary.unread || [];
    if (unread.length) {
      $('unread').hidden = false;
      for (const line of unread) {
        $('unread-list').append(el('li', 'mono',
          `${line.log} log, line ${line.line}: ${visible(line.text)}`));
      }
    }
    if (data.rows_left_out > 0) {
      const notice = $('notice');
      notice.hidden = false;
      notice.textContent = `This page lists the first ${count(rows.length)} changes; ` +
        `${count(data.rows_left_out)} more were left out (a page holds at most ` +
        `${count(data.row_limit)} rows). The summary and the folder tree count every ` +
        'change; dirlog-view --json lists them all.';
    }
  }

  // ---- What the table shows: filters, folder, sort.

  const state = { text: '', kinds: KINDS.map(() => true), folder: '', sort: '', descending: false };
  let view = new Uint32Array(0);
  let lowerPaths = null;
  const orders = new Map();

  // Ties keep the order of the logs; each key is read once into an array.
  const COMPARE = {
    path: () => (a, b) => (rows[a][PATH] < rows[b][PATH] ? -1 : rows[a][PATH] > rows[b][PATH] ? 1 : a - b),
    kind: () => (a, b) => rows[a][KIND] - rows[b][KIND] || a - b,
    size: () => {
      const diff = Float64Array.from(rows, (r) => r[SIZE_DIFF]);
      return (a, b) => diff[a] - diff[b] || a - b;
    },
    time: () => {
      const times = rows.map((r) => r[WRITTEN_NEW] || r[WRITTEN_OLD] || '');
      return (a, b) => (times[a] < times[b] ? -1 : times[a] > times[b] ? 1 : a - b);
    },
  };

  // Row numbers in the order asked for, sorted once per key.
  function order() {
    let sorted = orders.get(state.sort);
    if (!sorted) {
      sorted = new Uint32Array(rows.length);
      for (let i = 0; i < rows.length; i++) sorted[i] = i;
      if (state.sort) sorted = Uint32Array.from(Array.from(sorted).sort(COMPARE[state.sort]()));
      orders.set(state.sort, sorted);
    }
    return sorted;
  }

  function recompute() {
    const started = performance.now();
    const base = order();
    const n = base.length;
    const text = state.text.toLowerCase();
    if (text && !lowerPaths) lowerPaths = rows.map((r) => (r[PATH] + '\n' + r[OLD_PATH]).toLowerCase());
    const folder = state.folder;
    const prefix = folder ? folder + separator : '';
    const kept = new Uint32Array(n);
    let m = 0;
    for (let j = 0; j < n; j++) {
      const i = state.descending ? base[n - 1 - j] : base[j];
      const r = rows[i];
      if (!state.kinds[r[KIND]]) continue;
      // A move counts in its new folder, as in the roll-ups.
      if (folder && !r[PATH].startsWith(prefix)) continue;
      if (text && !lowerPaths[i].includes(text)) continue;
      kept[m++] = i;
    }
    view = kept.subarray(0, m);
    $('count').textContent = `${count(m)} of ${count(rows.length)} changes listed`;
    scroller.scrollTop = 0;
    render();
    performance.measure('dirlog-update', { start: started });
  }

  // ---- The table, drawn a screenful at a time.

  const scroller = $('scroller');
  const body = $('rows');
  let rowHeight = 30;

  const line = (text, className) => el('span', className ? 'line ' + className : 'line', text);

  // Size old -> new on the first line, the difference on the second.
  function sizeCell(r) {
    const before = r[SIZE_OLD], after = r[SIZE_NEW], diff = r[SIZE_DIFF];
    const cell = el('td', 'c-size');
    const sizes = before === null ? bytes(after) : after === null || before === after ? bytes(before)
      : bytes(before) + ' \u2192 ' + bytes(after);
    cell.append(line(sizes));
    if (diff) cell.append(line('(' + signedBytes(diff) + ')', diff > 0 ? 'up' : 'down'));
    cell.title = `${before ?? 'none'} \u2192 ${after ?? 'none'} bytes (${diff > 0 ? '+' : ''}${diff})`;
    return cell;
  }

  // The write time old on the first line, -> new on the second.
  function timeCell(r) {
    const before = r[WRITTEN_OLD], after = r[WRITTEN_NEW];
    const cell = el('td', 'c-time');
    if (before && after && before !== after) {
      // Times that differ only below the second show their fractions, the
      // new one without the date they share.
      const coarse = when(before) !== when(after);
      const fine = (iso) => iso.replace('T', ' ');
      cell.append(line(coarse ? when(before) : fine(before)),
        line('\u2192 ' + (coarse ? when(after) : fine(after).slice(before.indexOf('T') + 1))));
    } else {
      cell.append(line(when(after || before)));
    }
    cell.title = `${before || 'none'} \u2192 ${after || 'none'}`;
    return cell;
  }

  function rowElement(r) {
    const tr = document.createElement('tr');
    const kind = r[KIND];
    tr.className = 'k-' + (KINDS[kind] || 'unknown');
    const kindCell = el('td', 'c-kind');
    const name = line('', 'kind');
    name.append(el('span', 'symbol', SYMBOLS[kind] || '?'), KIND_NAMES[kind] || '?');
    kindCell.append(name, line(TYPES[r[TYPE]] || '', 'quiet'));

    const pathCell = el('td', 'c-path');
    pathCell.title = visible(r[PATH]);
    if (r[OLD_PATH]) {
      pathCell.append(line(visible(r[PATH])), line('\u2190 ' + visible(r[OLD_PATH]), 'from'));
      pathCell.title += '\nmoved from ' + visible(r[OLD_PATH]);
    } else {
      pathCell.append(el('span', 'clamp', visible(r[PATH])));
    }
    const verdictCell = el('td', 'c-verdict');
    verdictCell.append(line(VERDICTS[r[VERDICT]] || ''));
    const otherCell = el('td', 'c-other');
    otherCell.append(el('span', 'clamp', visible(r[OTHER])));
    otherCell.title = visible(r[OTHER]);
    tr.append(kindCell, pathCell, verdictCell, sizeCell(r), timeCell(r), otherCell);
    return tr;
  }

  function spacer(height) {
    const tr = el('tr', 'spacer');
    tr.setAttribute('aria-hidden', 'true');
    const td = el('td');
    td.colSpan = 6;
    td.style.height = height + 'px';
    tr.append(td);
    tr.hidden = height === 0;
    return tr;
  }

  function draw() {
    const total = view.length;
    if (!total) {
      const tr = el('tr');
      const td = el('td', 'empty', 'No change matches.');
      td.colSpan = 6;
      tr.append(td);
      body.replaceChildren(tr);
      return;
    }
    const top = Math.max(0, scroller.scrollTop - body.offsetTop);
    const first = Math.max(0, Math.floor(top / rowHeight) - OVERSCAN);
    const last = Math.min(total, Math.ceil((top + scroller.clientHeight) / rowHeight) + OVERSCAN);
    const fragment = document.createDocumentFragment();
    fragment.append(spacer(first * rowHeight));
    for (let j = first; j < last; j++) fragment.append(rowElement(rows[view[j]]));
    fragment.append(spacer((total - last) * rowHeight));
    body.replaceChildren(fragment);
  }

  // Rows are as tall as the style makes them: measured, and drawn again
  // when that is not what the spacers assumed.
  function render() {
    draw();
    const sample = body.rows[1];
    if (!sample || sample.className === 'spacer') return;
    const measured = sample.getBoundingClientRect().height;
    if (measured > 0 && Math.abs(measured - rowHeight) > 0.01) {
      rowHeight = measured;
      draw();
    }
  }

  let pending = false;
  function renderSoon() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      render();
    });
  }

  // ---- The folder tree.

  // A roll-up row's fields, as the page writer lays them out.
  const R_FOLDER = 0, R_COUNTS = 1, R_ADDED = 6, R_REMOVED = 7;
  const changes = (r) => (r ? r[1] + r[2] + r[3] + r[4] + r[5] : 0);

  // The tree is made as it opens, from the roll-up rows grouped once by
  // their parent folder, in the order the summary gives them (largest
  // first).
  const rollups = data.rollup_rows || [];
  let byParent = null;
  function node(folder, rollup) {
    return { folder, name: folder.slice(folder.lastIndexOf(separator) + 1), rollup, children: null };
  }
  function childrenOf(parent) {
    if (!byParent) {
      byParent = new Map();
      for (const rollup of rollups) {
        const folder = String(rollup[R_FOLDER]);
        if (!folder) continue;
        const cut = folder.lastIndexOf(separator);
        const above = cut < 0 ? '' : folder.slice(0, cut);
        let list = byParent.get(above);
        if (!list) byParent.set(above, (list = []));
        list.push(rollup);
      }
    }
    if (!parent.children) {
      parent.children = (byParent.get(parent.folder) || []).map((r) => node(String(r[R_FOLDER]), r));
    }
    return parent.children;
  }

  function rootNode() {
    let rollup = rollups.find((r) => r[R_FOLDER] === '');
    if (!rollup) {
      const counts = summary.counts || {};
      const b = summary.bytes || {};
      rollup = ['', ...KINDS.map((kind) => counts[kind] || 0), b.added || 0, b.removed || 0];
    }
    return node('', rollup);
  }

  function figures(r) {
    if (!r) return '';
    const parts = [];
    KINDS.forEach((kind, k) => r[R_COUNTS + k] && parts.push(SYMBOLS[k] + count(r[R_COUNTS + k])));
    parts.push('+' + bytes(r[R_ADDED]), '\u2212' + bytes(r[R_REMOVED]));
    return parts.join(' ');
  }

  let chosen = null;
  function choose(node, button) {
    if (chosen) chosen.setAttribute('aria-pressed', 'false');
    chosen = button;
    button.setAttribute('aria-pressed', 'true');
    state.folder = node.folder;
    $('scope').textContent = node.folder ? 'Below ' + visible(node.folder) + ':' : 'All folders:';
    $('all-folders').hidden = !node.folder;
    recompute();
  }

  function appendChildren(list, node, from) {
    const children = childrenOf(node);
    const end = Math.min(children.length, from + TREE_CHUNK);
    for (let i = from; i < end; i++) list.append(treeItem(children[i]));
    if (end < children.length) {
      const more = el('button', 'more', `${count(children.length - end)} more folders`);
      more.type = 'button';
      const item = el('li');
      item.append(more);
      more.addEventListener('click', () => {
        item.remove();
        appendChildren(list, node, end);
      });
      list.append(item);
    }
  }

  function toggle(node, item, button) {
    const open = button.getAttribute('aria-expanded') === 'true';
    let list = item.querySelector(':scope > ul');
    if (!open && !list) {
      list = el('ul');
      appendChildren(list, node, 0);
      item.append(list);
    }
    list.hidden = open;
    button.setAttribute('aria-expanded', String(!open));
    button.textContent = open ? '\u25b8' : '\u25be';
  }

  let rootButton = null;
  function treeItem(node, title) {
    const item = el('li');
    const line = el('div', 'node');
    const name = title || visible(node.name);
    const hasChildren = byParent.has(node.folder);
    const opener = el('button', 'toggle', hasChildren ? '\u25b8' : '');
    opener.type = 'button';
    if (hasChildren) {
      opener.setAttribute('aria-expanded', 'false');
      opener.setAttribute('aria-label', 'Subfolders of ' + name);
      opener.addEventListener('click', () => toggle(node, item, opener));
    } else {
      opener.disabled = true;
      opener.setAttribute('aria-hidden', 'true');
    }
    const pick = el('button', 'pick');
    pick.type = 'button';
    pick.setAttribute('aria-pressed', 'false');
    pick.append(el('span', 'name', name), el('span', 'figures', figures(node.rollup)));
    pick.addEventListener('click', () => choose(node, pick));
    if (!node.folder) rootButton = pick;
    line.append(opener, pick);
    item.append(line);
    return item;
  }

  function showTree() {
    const root = rootNode();
    childrenOf(root);
    const start = summary.after && summary.after.start;
    const item = treeItem(root, (start ? visible(start) : 'start folder') + ' (all)');
    $('tree').append(item);
    if (childrenOf(root).length) toggle(root, item, item.querySelector('.toggle'));
    rootButton.setAttribute('aria-pressed', 'true');
    chosen = rootButton;
  }

  // ---- Controls.

  function showControls() {
    const kinds = $('kinds');
    const counts = summary.counts || {};
    KINDS.forEach((kind, k) => {
      const label = el('label', 'k-' + kind);
      const box = el('input');
      box.type = 'checkbox';
      box.checked = true;
      box.name = kind;
      box.addEventListener('change', () => {
        state.kinds[k] = box.checked;
        recompute();
      });
      label.append(box, ' ', el('span', 'symbol', SYMBOLS[k]), `${KIND_NAMES[k]} (${count(counts[kind])})`);
      kinds.append(label);
    });
    $('controls').addEventListener('submit', (event) => event.preventDefault());
    $('filter').addEventListener('input', (event) => {
      state.text = event.target.value;
      recompute();
    });
    $('all-folders').addEventListener('click', () => choose(buildTreeRoot, rootButton));
    for (const button of document.querySelectorAll('th button[data-sort]')) {
      button.addEventListener('click', () => {
        const key = button.dataset.sort;
        state.descending = state.sort === key ? !state.descending : false;
        state.sort = key;
        for (const th of document.querySelectorAll('th[aria-sort]')) th.setAttribute('aria-sort', 'none');
        button.parentElement.setAttribute('aria-sort', state.descending ? 'descending' : 'ascending');
        recompute();
      });
    }
    scroller.addEventListener('scroll', renderSoon, { passive: true });
    window.addEventListener('resize', renderSoon);
  }

  const buildTreeRoot = { folder: '' };
  showLogs();
  showSummary();
  showTree();
  showControls();
  recompute();
  performance.mark('dirlog-ready');
})();
