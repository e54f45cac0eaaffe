// The page's script: reads the data the page writer embedded, fills in the
// summary, the overview and the folder tree, and keeps the table to the rows
// in view, so that a million changes cost a screenful of DOM rows. Every
// name reaches the page through text nodes, never as markup.
'use strict';
// The page paints its frame (headings, empty boxes) before the script reads
// the data, so that something shows at once.
const start = () => {
  const $ = (id) => document.getElementById(id);

  // ---- The data: the meta object, and the columns of varints.

  const meta = JSON.parse($('dirlog-data').textContent);
  const summary = meta.summary || {};
  const SEP = meta.separator || '/';
  const KINDS = meta.kinds;
  const VERDICTS = meta.verdicts;
  const TYPES = meta.types;
  const KIND_WORDS = { created: 'created', deleted: 'deleted', modified: 'modified', moved: 'moved', type: 'type changed' };
  const KIND_SYMBOLS = { created: '+', deleted: '\u2212', modified: '~', moved: '\u2192', type: '\u21c4' };
  const kindWord = (k) => KIND_WORDS[KINDS[k]] || KINDS[k] || 'unknown';
  const kindSymbol = (k) => KIND_SYMBOLS[KINDS[k]] || '?';
  const kindClass = (k) => (KIND_SYMBOLS[KINDS[k]] ? 'k-' + KINDS[k] : 'k-unknown');

  function base64Bytes(text) {
    if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // Unsigned LEB128 numbers, read in turn; exact up to 2^53. The loops are
  // written out, each for one kind of array: a million rows make some ten
  // million numbers.
  function varintReader(bytes) {
    const reader = { at: 0 };
    const fill = (values) => {
      let at = reader.at;
      for (let i = 0; i < values.length; i++) {
        let byte = bytes[at++];
        if (byte < 128) {
          values[i] = byte;
          continue;
        }
        let value = byte & 127;
        let scale = 128;
        do {
          byte = bytes[at++];
          value += (byte & 127) * scale;
          scale *= 128;
        } while (byte >= 128);
        values[i] = value;
      }
      reader.at = at;
      return values;
    };
    reader.numbers = (count) => fill(new Float64Array(count));
    reader.indexes = (count) => fill(new Uint32Array(count));
    reader.next = () => {
      let byte = bytes[reader.at++];
      if (byte < 128) return byte;
      let value = byte & 127;
      let scale = 128;
      do {
        byte = bytes[reader.at++];
        value += (byte & 127) * scale;
        scale *= 128;
      } while (byte >= 128);
      return value;
    };
    return reader;
  }

  // Where each of `lengths` starts in the text they were cut from.
  function starts(lengths) {
    const at = new Float64Array(lengths.length + 1);
    for (let i = 0; i < lengths.length; i++) at[i + 1] = at[i] + lengths[i];
    return at;
  }

  // A write time: 0 not given, 1 none, 2 a text shown as it is, 3 a time
  // (seconds on its zone's clock and 100 ns ticks, which follow its code).
  const ABSENT = 0, NONE = 1, TEXT = 2, TIME = 3;
  function readWritten(read, count) {
    const side = {
      state: new Uint8Array(count), index: new Uint32Array(count),
      seconds: new Float64Array(count), fraction: new Uint32Array(count),
    };
    const zones = Math.max(1, meta.zones.length);
    for (let i = 0; i < count; i++) {
      const code = read.next();
      if (code < 2) {
        side.state[i] = code;
      } else if (code % 2 === 0) {
        side.state[i] = TEXT;
        side.index[i] = (code - 2) / 2;
      } else {
        const value = (code - 3) / 2;
        side.state[i] = TIME;
        side.index[i] = value % zones;
        side.seconds[i] = meta.time_base + Math.floor(value / zones);
        side.fraction[i] = read.next();
      }
    }
    return side;
  }

  function readData() {
    const read = varintReader(base64Bytes($('dirlog-columns').textContent));
    const n = meta.rows, f = meta.folders, kinds = KINDS.length, verdicts = VERDICTS.length;
    const rows = {
      count: n,
      kind: new Uint8Array(n), verdict: new Uint8Array(n), type: new Uint8Array(n),
      diff: new Float64Array(n),
    };
    // Kind, verdict and type come as one number.
    const codes = read.indexes(n);
    for (let i = 0; i < n; i++) {
      const code = codes[i] | 0;
      const kind = code % kinds;
      const rest = ((code - kind) / kinds) | 0;
      const verdict = rest % verdicts;
      rows.kind[i] = kind;
      rows.verdict[i] = verdict;
      rows.type[i] = (rest - verdict) / verdicts;
    }
    rows.folder = read.indexes(n);
    rows.nameAt = starts(read.indexes(n));
    rows.sizeOld = read.numbers(n);
    rows.sizeNew = read.numbers(n);
    for (let i = 0; i < n; i++) {
      // Sizes come one up, so that 0 stands for none.
      const before = rows.sizeOld[i] - 1, after = rows.sizeNew[i] - 1;
      rows.sizeOld[i] = before < 0 ? NaN : before;
      rows.sizeNew[i] = after < 0 ? NaN : after;
      rows.diff[i] = (after < 0 ? 0 : after) - (before < 0 ? 0 : before);
    }
    rows.writtenOld = readWritten(read, n);
    rows.writtenNew = readWritten(read, n);
    rows.other = read.indexes(n);
    rows.byPath = read.indexes(n);
    rows.oldPath = new Map(meta.old_paths);
    const folders = {
      count: f,
      parent: read.indexes(f),
      nameAt: starts(read.indexes(f)),
      counts: new Float64Array(f * kinds),
      added: new Float64Array(f), removed: new Float64Array(f),
      end: new Uint32Array(f), paths: new Array(f),
    };
    const figures = read.numbers(f * (kinds + 2));
    for (let i = 0, at = 0; i < f; i++) {
      for (let k = 0; k < kinds; k++) folders.counts[i * kinds + k] = figures[at++];
      folders.added[i] = figures[at++];
      folders.removed[i] = figures[at++];
    }
    // Folders come in the order of a walk of the tree: what lies below one
    // is the range from it to its end.
    for (let i = f - 1; i >= 0; i--) {
      folders.end[i] = Math.max(folders.end[i], i + 1);
      if (i > 0) folders.end[folders.parent[i]] = Math.max(folders.end[folders.parent[i]], folders.end[i]);
    }
    return { rows, folders };
  }

  const { rows, folders } = readData();
  const N = rows.count;
  const K = KINDS.length;
  const leftOut = meta.changes - meta.rows;

  const rowName = (i) => meta.names.slice(rows.nameAt[i], rows.nameAt[i + 1]);
  const folderName = (f) => meta.folder_names.slice(folders.nameAt[f], folders.nameAt[f + 1]);
  function folderPath(f) {
    if (f === 0) return '';
    let path = folders.paths[f];
    if (path === undefined) {
      const parent = folders.parent[f];
      path = folders.paths[f] = parent === 0 ? folderName(f) : folderPath(parent) + SEP + folderName(f);
    }
    return path;
  }
  function rowPath(i) {
    const f = rows.folder[i];
    return f === 0 ? rowName(i) : folderPath(f) + SEP + rowName(i);
  }
  const folderCount = (f, k) => folders.counts[f * K + k];
  function folderTotal(f) {
    let total = 0;
    for (let k = 0; k < K; k++) total += folderCount(f, k);
    return total;
  }
  const folderBytes = (f) => folders.added[f] + folders.removed[f];

  // The folders right below `f`, largest change first, as the roll-ups come.
  function childrenOf(f) {
    const children = [];
    for (let g = f + 1; g < folders.end[f]; g = folders.end[g]) children.push(g);
    return children.sort((a, b) => folderBytes(b) - folderBytes(a) || folderTotal(b) - folderTotal(a) ||
      (folderName(a) < folderName(b) ? -1 : folderName(a) > folderName(b) ? 1 : 0));
  }

  // The rows listed per folder and kind, when the page left some out.
  let listed = null;
  function listedCount(f, k) {
    if (!leftOut) return folderCount(f, k);
    if (!listed) {
      listed = new Float64Array(folders.count * K);
      for (let i = 0; i < N; i++) listed[rows.folder[i] * K + rows.kind[i]]++;
      for (let g = folders.count - 1; g > 0; g--) {
        const p = folders.parent[g];
        for (let k = 0; k < K; k++) listed[p * K + k] += listed[g * K + k];
      }
    }
    return listed[f * K + k];
  }

  // ---- Words and numbers.

  // 1234567 as "1,234,567" (toLocaleString costs a tenth of a second the
  // first time).
  const count = (n) => String(Math.trunc(Number(n) || 0)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  const plural = (n, one, many) => `${count(n)} ${n === 1 ? one : many}`;

  // A byte count as the text view rounds it: binary units with one decimal,
  // the tenth rounded to nearest and a tie to even.
  const UNITS = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];
  function bytes(n) {
    if (n < 1024) return n + '\u00a0B';
    let unit = 0;
    while (unit < 6 && n >= 2 ** (10 * (unit + 1))) unit++;
    const scale = 2 ** (10 * unit);
    let whole = Math.floor(n / scale);
    const scaled = (n - whole * scale) * 10;
    let tenths = Math.floor(scaled / scale);
    const left = scaled - tenths * scale;
    if (left > scale / 2 || (left === scale / 2 && tenths % 2 === 1)) tenths++;
    if (tenths === 10) {
      whole++;
      tenths = 0;
    }
    return `${whole}.${tenths}\u00a0${UNITS[unit]}`;
  }
  const signedBytes = (n) => (n === 0 ? '0\u00a0B' : (n > 0 ? '+' : '\u2212') + bytes(Math.abs(n)));

  function countsInWords(counter) {
    const parts = [];
    for (let k = 0; k < K; k++) {
      const n = counter(k);
      if (n) parts.push(`${count(n)} ${kindWord(k)}`);
    }
    return parts.join(', ') || 'no change';
  }

  // Characters that would hide or disguise a name: C0 controls show as their
  // pictures; C1 controls, bidirectional overrides and isolates, and bytes
  // that are not UTF-8 (carried as lone surrogates U+DC80-U+DCFF) as boxed
  // escapes.
  const HIDDEN = /[\u0000-\u001f\u007f-\u009f\u202a-\u202e\u2066-\u2069]|(?<![\ud800-\udbff])[\udc80-\udcff]/g;
  const hex = (n, digits) => n.toString(16).toUpperCase().padStart(digits, '0');
  function escapeOf(c) {
    const code = c.charCodeAt(0);
    if (code < 0x20) return { picture: String.fromCharCode(0x2400 + code) };
    if (code === 0x7f) return { picture: '\u2421' };
    if (code >= 0xdc80 && code <= 0xdcff) return { box: '\\x' + hex(code - 0xdc00, 2) };
    return { box: '\\u' + hex(code, 4) };
  }
  const visible = (text) => String(text).replace(HIDDEN, (c) => {
    const escape = escapeOf(c);
    return escape.picture || escape.box;
  });
  // The same as nodes, the boxed escapes in elements of their own.
  const ANY_HIDDEN = new RegExp(HIDDEN.source);
  function appendVisible(parent, text) {
    text = String(text);
    if (!ANY_HIDDEN.test(text)) {
      parent.append(text);
      return parent;
    }
    let from = 0;
    for (const match of text.matchAll(HIDDEN)) {
      const escape = escapeOf(match[0]);
      let plain = text.slice(from, match.index);
      if (escape.picture) {
        plain += escape.picture;
        from = match.index + 1;
        parent.append(plain);
        continue;
      }
      if (plain) parent.append(plain);
      const box = el('span', 'esc', escape.box);
      box.title = escape.box.startsWith('\\x') ? 'a byte that is not UTF-8' : 'an invisible control character';
      parent.append(box);
      from = match.index + 1;
    }
    if (from < text.length) parent.append(text.slice(from));
    return parent;
  }

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }
  const visibleEl = (tag, className, text) => appendVisible(el(tag, className), text);

  // ---- Times, as the data carries them.

  const ZONES = meta.zones.map((zone) => (zone === 'Z' ? 0
    : (zone[0] === '-' ? -1 : 1) * (Number(zone.slice(1, 3)) * 3600 + Number(zone.slice(4, 6)) * 60)));
  const oneZone = meta.zones.length <= 1;
  const pad = (n, width) => String(n).padStart(width, '0');

  function civilDate(days) {
    days += 719468;
    const era = Math.floor(days / 146097);
    const dayOfEra = days - era * 146097;
    const yearOfEra = Math.floor((dayOfEra - Math.floor(dayOfEra / 1460) + Math.floor(dayOfEra / 36524) -
      Math.floor(dayOfEra / 146096)) / 365);
    const dayOfYear = dayOfEra - (365 * yearOfEra + Math.floor(yearOfEra / 4) - Math.floor(yearOfEra / 100));
    const monthIndex = Math.floor((5 * dayOfYear + 2) / 153);
    const day = dayOfYear - Math.floor((153 * monthIndex + 2) / 5) + 1;
    const month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    return [yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day];
  }

  // "2026-12-07 15:14:02", with the fraction when asked, and the zone when
  // the page holds more than one.
  function timeText(side, i, fine) {
    const state = side.state[i];
    if (state === NONE) return 'none';
    if (state === TEXT) return meta.time_texts[side.index[i]];
    const seconds = side.seconds[i];
    const days = Math.floor(seconds / 86400);
    const inDay = seconds - days * 86400;
    const [year, month, day] = civilDate(days);
    let text = `${pad(year, year > 9999 ? 5 : 4)}-${pad(month, 2)}-${pad(day, 2)} ` +
      `${pad(Math.floor(inDay / 3600), 2)}:${pad(Math.floor(inDay / 60) % 60, 2)}:${pad(inDay % 60, 2)}`;
    if (fine && side.fraction[i]) text += '.' + pad(side.fraction[i], 7);
    if (!oneZone || fine) text += meta.zones[side.index[i]] === 'Z' ? (fine ? ' UTC' : 'Z') : meta.zones[side.index[i]];
    return text;
  }
  const sameTime = (a, b, i) => a.state[i] === b.state[i] && a.index[i] === b.index[i] &&
    a.seconds[i] === b.seconds[i] && a.fraction[i] === b.fraction[i];
  const utcSeconds = (side, i) => (side.state[i] === TIME ? side.seconds[i] - ZONES[side.index[i]] : -Infinity);

  // ---- What the table shows: filters, folder, sort.

  const state = {
    folder: 0, text: '', sort: '', descending: false,
    kinds: new Uint8Array(K).fill(1), verdicts: new Uint8Array(VERDICTS.length).fill(1),
  };
  let view = new Uint32Array(0);
  const orders = new Map();

  function identity() {
    const order = new Uint32Array(N);
    for (let i = 0; i < N; i++) order[i] = i;
    return order;
  }
  // `order` sorted by `keys` (numbers, -Infinity allowed), ties kept in the
  // order given: a radix sort of the numbers' bits, 16 at a time, as a
  // comparison sort of a million rows takes seconds.
  function sortedBy(keys, order) {
    const n = order.length;
    const one = new Float64Array(1);
    const words = new Uint32Array(one.buffer);
    let low = new Uint32Array(n), high = new Uint32Array(n);
    for (let i = 0; i < n; i++) {
      one[0] = keys[order[i]] + 0;
      // As unsigned integers the bits then sort as the numbers do.
      const negative = words[1] & 0x80000000;
      low[i] = negative ? ~words[0] : words[0];
      high[i] = negative ? ~words[1] : words[1] ^ 0x80000000;
    }
    let from = order.slice(), to = new Uint32Array(n);
    let lowTo = new Uint32Array(n), highTo = new Uint32Array(n);
    const counts = new Uint32Array(65537);
    for (let pass = 0; pass < 4; pass++) {
      const word = pass < 2 ? low : high, shift = (pass & 1) * 16;
      counts.fill(0);
      for (let i = 0; i < n; i++) counts[((word[i] >>> shift) & 0xffff) + 1]++;
      if (counts.includes(n)) continue;
      for (let d = 0; d < 65536; d++) counts[d + 1] += counts[d];
      for (let i = 0; i < n; i++) {
        const place = counts[(word[i] >>> shift) & 0xffff]++;
        to[place] = from[i];
        lowTo[place] = low[i];
        highTo[place] = high[i];
      }
      [from, to, low, lowTo, high, highTo] = [to, from, lowTo, low, highTo, high];
    }
    return from;
  }

  // Each order is made once; ties keep the order of the logs.
  const ORDERS = {
    '': identity,
    path: () => rows.byPath,
    kind: () => {
      const order = new Uint32Array(N);
      const next = new Uint32Array(K + 1);
      for (let i = 0; i < N; i++) next[rows.kind[i] + 1]++;
      for (let k = 0; k < K; k++) next[k + 1] += next[k];
      for (let i = 0; i < N; i++) order[next[rows.kind[i]]++] = i;
      return order;
    },
    size: () => sortedBy(rows.diff, identity()),
    time: () => {
      const seconds = new Float64Array(N);
      const fraction = new Float64Array(N);
      for (let i = 0; i < N; i++) {
        const side = rows.writtenNew.state[i] === TIME ? rows.writtenNew : rows.writtenOld;
        seconds[i] = utcSeconds(side, i);
        fraction[i] = side.fraction[i];
      }
      return sortedBy(seconds, sortedBy(fraction, identity()));
    },
  };
  function order() {
    let sorted = orders.get(state.sort);
    if (!sorted) orders.set(state.sort, (sorted = ORDERS[state.sort]()));
    return sorted;
  }

  // ---- The filter box: which paths hold a text, letter case aside.
  //
  // No text of every path is made: a text without a separator lies within
  // one name (a row's own, or a folder's above it), and a text with one is
  // matched name by name down the tree.

  let lowered = null;
  function lowerNames() {
    if (!lowered) {
      const names = meta.names.toLowerCase();
      const folderNames = meta.folder_names.toLowerCase();
      // A few letters change length in lower case: then names are lowered
      // one by one.
      lowered = {
        names: names.length === meta.names.length ? names : null,
        folderNames: folderNames.length === meta.folder_names.length ? folderNames : null,
        folders: new Array(folders.count),
        oldRows: Uint32Array.from(rows.oldPath.keys()),
      };
      const oldPaths = [...rows.oldPath.values()].map((old) => old.toLowerCase());
      lowered.oldText = oldPaths.join('\0');
      lowered.oldAt = starts(oldPaths.map((old) => old.length + 1));
      lowered.oldHits = new Uint8Array(oldPaths.length);
    }
    return lowered;
  }
  const lowerRowName = (i) => (lowered.names ? lowered.names.slice(rows.nameAt[i], rows.nameAt[i + 1])
    : rowName(i).toLowerCase());
  function lowerFolderName(f) {
    let name = lowered.folders[f];
    if (name === undefined) {
      name = lowered.folders[f] = lowered.folderNames
        ? lowered.folderNames.slice(folders.nameAt[f], folders.nameAt[f + 1]) : folderName(f).toLowerCase();
    }
    return name;
  }

  // Marks `hits[i]` for each name that holds `query` (or, with `atEnd`,
  // ends with it), the names standing one after the other in `text` from
  // `at[i]`.
  function namesHolding(query, text, at, count, nameOf, hits, atEnd) {
    if (text === null) {
      for (let i = 0; i < count; i++) {
        if (atEnd ? nameOf(i).endsWith(query) : nameOf(i).includes(query)) hits[i] = 1;
      }
      return;
    }
    let i = 0;
    for (let found = text.indexOf(query); found >= 0;) {
      while (at[i + 1] <= found) i++;
      const end = found + query.length;
      if (atEnd ? end === at[i + 1] : end <= at[i + 1]) {
        hits[i] = 1;
        found = text.indexOf(query, at[i + 1]);
      } else {
        found = text.indexOf(query, found + 1);
      }
    }
  }

  // For a text with separators, parts p0 SEP p1 ... SEP pn: a folder's state
  // has bit j when the names down to it end with p0 ... pj (p0 as the end
  // of a name, the others whole), and `whole` when the text lies in its
  // path. Only what lies below a folder ending with p0 is walked.
  let partStates = null;
  let partWhole = null;
  function foldersHoldingParts(parts) {
    const last = parts.length - 1;
    const count = folders.count;
    const states = partStates ? partStates.fill(0) : (partStates = new Uint32Array(count));
    const whole = partWhole ? partWhole.fill(0) : (partWhole = new Uint8Array(count));
    if (parts[0]) {
      namesHolding(parts[0], lowered.folderNames, folders.nameAt, count, lowerFolderName, states, true);
    } else {
      states.fill(1, 1);
    }
    let state = 0;
    let held = 0;
    const step = (name) => {
      let next = name.endsWith(parts[0]) ? 1 : 0;
      for (let j = 0; state >> j; j++) {
        if (!((state >> j) & 1)) continue;
        if (j + 1 === last) held |= name.startsWith(parts[last]) ? 1 : 0;
        else if (name === parts[j + 1]) next |= 1 << (j + 1);
      }
      state = next;
    };
    // A name at the top may hold separators ("/srv" outside the start
    // folder): each piece is a name of its own.
    for (let g = 1; g < count; g = folders.end[g]) {
      const name = lowerFolderName(g);
      if (!name.includes(SEP)) continue;
      state = 0;
      held = 0;
      name.split(SEP).forEach(step);
      states[g] = state;
      whole[g] = held;
    }
    for (let top = 1; top < count; top++) {
      if (states[top] === 0 && whole[top] === 0) continue;
      const end = folders.end[top];
      for (let f = top + 1; f < end; f++) {
        const parent = folders.parent[f];
        held = whole[parent];
        state = states[parent];
        if (state) step(lowerFolderName(f));
        else state = states[f];
        states[f] = state;
        whole[f] = held;
      }
      top = end - 1;
    }
    return { states, whole, last };
  }

  // The rows whose path holds `query`, marked in one array: the names' and
  // folders' marks first, then one pass over the rows.
  let hitRows = null;
  let hitFolders = null;
  function pathsHolding(query) {
    lowerNames();
    const hits = hitRows ? hitRows.fill(0) : (hitRows = new Uint8Array(N));
    const parts = query.split(SEP);
    if (parts.length > 31) {
      for (let i = 0; i < N; i++) if (rowPath(i).toLowerCase().includes(query)) hits[i] = 1;
    } else if (parts.length === 1) {
      const inFolder = hitFolders ? hitFolders.fill(0) : (hitFolders = new Uint8Array(folders.count));
      namesHolding(query, lowered.names, rows.nameAt, N, lowerRowName, hits);
      namesHolding(query, lowered.folderNames, folders.nameAt, folders.count, lowerFolderName, inFolder);
      if (inFolder.includes(1)) {
        for (let f = 1; f < folders.count; f++) inFolder[f] |= inFolder[folders.parent[f]];
        for (let i = 0; i < N; i++) hits[i] |= inFolder[rows.folder[i]];
      }
    } else {
      const { states, whole, last } = foldersHoldingParts(parts);
      const ending = 1 << (last - 1);
      for (let i = 0; i < N; i++) {
        const f = rows.folder[i];
        if (f === 0 ? lowerRowName(i).includes(query)
          : whole[f] === 1 || ((states[f] & ending) !== 0 && lowerRowName(i).startsWith(parts[last]))) hits[i] = 1;
      }
    }
    // A move's old path, too.
    const { oldText, oldAt, oldHits, oldRows } = lowered;
    namesHolding(query, oldText, oldAt, oldRows.length, null, oldHits.fill(0));
    for (let j = 0; j < oldRows.length; j++) if (oldHits[j]) hits[oldRows[j]] = 1;
    return hits;
  }

  let keptRows = null;
  const reversed = (order) => order.slice().reverse();

  function recompute() {
    const started = performance.now();
    const base = order();
    const query = state.text.toLowerCase().replace(/[\0\n]/g, '');
    const hits = query ? pathsHolding(query) : null;
    const below = state.folder !== 0;
    const low = state.folder, high = folders.end[state.folder];
    const all = !below && !hits && state.kinds.every(Boolean) && state.verdicts.every(Boolean);
    const kept = all ? null : keptRows || (keptRows = new Uint32Array(N));
    let m = all ? N : 0;
    const { kinds, verdicts, descending } = state;
    const { kind, verdict, folder } = rows;
    for (let j = 0; j < N && !all; j++) {
      const i = descending ? base[N - 1 - j] : base[j];
      if (kinds[kind[i]] === 0 || verdicts[verdict[i]] === 0) continue;
      // A move counts in its new folder, as in the roll-ups.
      if (below && (folder[i] < low || folder[i] >= high)) continue;
      if (hits !== null && hits[i] === 0) continue;
      kept[m++] = i;
    }
    view = all ? (state.descending ? reversed(base) : base) : kept.subarray(0, m);
    $('count').textContent = `${count(m)} of ${count(N)} changes listed`;
    scroll.y = 0;
    scroll.last = 0;
    scroller.scrollTop = 0;
    render();
    saveState();
    performance.measure('dirlog-update', { start: started });
  }

  // ---- The table, drawn a screenful at a time.

  const scroller = $('scroller');
  const body = $('rows');
  const head = document.querySelector('#changes thead');
  // Rows drawn above and below the visible ones, so that a scroll of a few
  // rows shows no gap before the next frame.
  const OVERSCAN = 6;
  // The tallest the table is made, in CSS pixels. Browsers cap an element's
  // height (Chromium at 2^25 device pixels, others lower), and a pixel ratio
  // or a zoom shrinks the cap in CSS pixels; a million stays far below it at
  // a ratio of 2 and a zoom of 500%.
  const MOST_HEIGHT = 1000000;
  let rowHeight = 44;
  const scroll = { y: 0, last: 0 };

  // Past the tallest height the rows' height `total` is folded into the
  // scroll range: the range is cut in pages, within which a scroll moves the
  // rows as far as the scroll bar, while from one page to the next the rows
  // are shifted by `jump`. A step of the wheel or the keys moves row for
  // row; a jump of the scroll bar lands where its place in the whole says.
  function geometry() {
    const viewport = Math.max(1, scroller.clientHeight - head.offsetHeight);
    const total = view.length * rowHeight;
    const height = Math.min(total, MOST_HEIGHT);
    const span = Math.max(0, total - viewport);
    const room = Math.max(0, height - viewport);
    const g = { viewport, height, span, room, pages: 1, pageHeight: Infinity, jump: 0 };
    if (span > room && room > 0) {
      g.pages = Math.max(2, Math.ceil((span * 100) / room));
      g.pageHeight = span / g.pages;
      g.jump = (span - room) / (g.pages - 1);
    }
    return g;
  }
  let geom = geometry();
  const offsetAt = (g, y) => (g.pages === 1 ? 0 : Math.min(g.pages - 1, Math.floor(y / g.pageHeight)) * g.jump);
  const clamp = (value, low, high) => Math.min(high, Math.max(low, value));

  // The rows' position for a scroll bar put at `top` by a jump: the page
  // nearest its place in the whole among the pages that hold `top`.
  function positionFor(g, top) {
    if (g.pages === 1) return top;
    const step = g.pageHeight - g.jump;
    const lowest = Math.max(0, Math.floor((top - g.pageHeight) / step) + 1);
    const highest = Math.min(g.pages - 1, Math.floor(top / step));
    const page = clamp(Math.floor((top / g.room) * g.pages), lowest, highest);
    return clamp(top + page * g.jump, 0, g.span);
  }

  function onScroll() {
    const g = geom;
    const top = scroller.scrollTop;
    const moved = top - scroll.last;
    if (moved === 0) return;
    if (g.pages === 1) {
      scroll.y = top;
    } else if (top <= 0) {
      scroll.y = 0;
    } else if (top >= g.room - 1) {
      scroll.y = g.span;
    } else if (Math.abs(moved) < g.viewport) {
      scroll.y = clamp(scroll.y + moved, 0, g.span);
      const wanted = scroll.y - offsetAt(g, scroll.y);
      if (Math.abs(wanted - top) >= 1) scroller.scrollTop = wanted;
    } else {
      scroll.y = positionFor(g, top);
    }
    scroll.last = scroller.scrollTop;
    renderSoon();
  }

  const line = (text, className) => visibleEl('span', className ? 'line ' + className : 'line', text);

  // The path: its folder (below the chosen one) muted and cut from its start
  // when the column is narrow, its name emphasised; a move's old path below.
  function pathLine(folderText, name, className, lead) {
    const path = el('span', className ? 'path ' + className : 'path');
    if (lead) path.append(el('span', 'lead', lead));
    if (folderText) {
      const dir = el('span', 'dir');
      dir.append(visibleEl('span', '', folderText + SEP));
      path.append(dir);
    }
    path.append(visibleEl('span', 'base', name));
    return path;
  }

  function pathCell(i) {
    const cell = el('td', 'c-path');
    const f = rows.folder[i];
    const shown = state.folder === 0 ? folderPath(f) : f === state.folder ? ''
      : folderPath(f).slice(folderPath(state.folder).length + SEP.length);
    cell.append(pathLine(shown, rowName(i)));
    cell.title = visible(rowPath(i));
    const old = rows.oldPath.get(i);
    if (old !== undefined) {
      const cut = old.lastIndexOf(SEP);
      cell.append(pathLine(cut > 0 ? old.slice(0, cut) : '', cut > 0 ? old.slice(cut + 1) : old, 'from', '\u2190\u00a0'));
      cell.title += '\nmoved from ' + visible(old);
    }
    return cell;
  }

  function kindCell(i) {
    const cell = el('td', 'c-kind');
    const kind = line('', 'kind');
    kind.append(el('span', 'symbol', kindSymbol(rows.kind[i])), kindWord(rows.kind[i]));
    const type = TYPES[rows.type[i]] || '';
    const verdict = VERDICTS[rows.verdict[i]] || '';
    cell.append(kind, line([type, verdict].filter(Boolean).join(' \u00b7 '), 'quiet'));
    return cell;
  }

  // Size old -> new on the first line, the difference on the second.
  function sizeCell(i) {
    const before = rows.sizeOld[i], after = rows.sizeNew[i], diff = rows.diff[i];
    const cell = el('td', 'c-size');
    const sizes = Number.isNaN(before) ? bytes(after) : Number.isNaN(after) || before === after ? bytes(before)
      : bytes(before) + ' \u2192 ' + bytes(after);
    cell.append(line(Number.isNaN(before) && Number.isNaN(after) ? '' : sizes));
    if (diff) cell.append(line('(' + signedBytes(diff) + ')', diff > 0 ? 'up' : 'down'));
    const side = (n) => (Number.isNaN(n) ? 'none' : String(n));
    cell.title = `${side(before)} \u2192 ${side(after)} bytes (${diff > 0 ? '+' : ''}${diff})`;
    return cell;
  }

  // The write time old on the first line, -> new on the second; "unchanged"
  // when the change did not touch it, "none" when the file system gave none.
  function timeCell(i) {
    const before = rows.writtenOld, after = rows.writtenNew;
    const cell = el('td', 'c-time');
    const hasBefore = before.state[i] !== ABSENT, hasAfter = after.state[i] !== ABSENT;
    if (!hasBefore && !hasAfter) {
      cell.append(line('unchanged', 'quiet'));
      return cell;
    }
    cell.title = [hasBefore && timeText(before, i, true), hasAfter && timeText(after, i, true)]
      .filter(Boolean).join(' \u2192 ');
    if (!hasBefore || !hasAfter || sameTime(before, after, i)) {
      cell.append(line(timeText(hasAfter ? after : before, i, false)));
      return cell;
    }
    // Times that differ only below the second show the second they share,
    // then their fractions.
    const coarseBefore = timeText(before, i, false), coarseAfter = timeText(after, i, false);
    if (coarseBefore !== coarseAfter || before.state[i] !== TIME || after.state[i] !== TIME) {
      cell.append(line(coarseBefore), line('\u2192 ' + coarseAfter));
    } else {
      const fraction = (side) => '.' + pad(side.fraction[i], 7);
      cell.append(line(coarseBefore), line(fraction(before) + ' \u2192 ' + fraction(after)));
    }
    return cell;
  }

  function rowElement(i) {
    const tr = el('tr', kindClass(rows.kind[i]));
    const other = el('td', 'c-other');
    const text = meta.others[rows.other[i]];
    other.append(visibleEl('span', 'clamp', text));
    if (text) other.title = visible(text);
    tr.append(pathCell(i), kindCell(i), sizeCell(i), timeCell(i), other);
    return tr;
  }

  function spacer(height) {
    const tr = el('tr', 'spacer');
    tr.setAttribute('aria-hidden', 'true');
    const td = el('td');
    td.colSpan = 5;
    td.style.height = height + 'px';
    tr.append(td);
    tr.hidden = height <= 0;
    return tr;
  }

  // What an empty table says: nothing matches, and how many changes of the
  // chosen kinds and folder the page left out, when it left some.
  function emptyRow() {
    const tr = el('tr');
    let text = N ? 'No change matches.' : 'No change listed.';
    if (leftOut) {
      let missing = 0;
      for (let k = 0; k < K; k++) {
        if (state.kinds[k]) missing += folderCount(state.folder, k) - listedCount(state.folder, k);
      }
      if (missing) {
        text = `No change listed on this page matches. Of the kinds and folder chosen, the page left out ` +
          `${plural(missing, 'change', 'changes')}, which may match; dirlog-view --json lists them all.`;
      }
    }
    const td = el('td', 'empty', text);
    td.colSpan = 5;
    tr.append(td);
    return tr;
  }

  function draw() {
    const g = (geom = geometry());
    if (!view.length) {
      body.replaceChildren(emptyRow());
      return;
    }
    const offset = offsetAt(g, scroll.y);
    // Rows above the top of the scroll range are never in view.
    const first = Math.max(Math.floor(scroll.y / rowHeight) - OVERSCAN, Math.ceil(offset / rowHeight), 0);
    const last = Math.min(view.length, Math.ceil((scroll.y + g.viewport) / rowHeight) + OVERSCAN);
    const above = first * rowHeight - offset;
    const fragment = document.createDocumentFragment();
    fragment.append(spacer(above));
    for (let j = first; j < last; j++) fragment.append(rowElement(view[j]));
    fragment.append(spacer(g.height - above - (last - first) * rowHeight));
    body.replaceChildren(fragment);
  }

  // Rows are as tall as the style makes them: measured, and drawn again
  // when that is not what the spacers assumed.
  function render() {
    if (printing) return;
    draw();
    const sample = body.rows[1];
    if (!sample || sample.className === 'spacer') return;
    const measured = sample.getBoundingClientRect().height;
    if (measured > 0 && Math.abs(measured - rowHeight) > 0.01) {
      scroll.y = (scroll.y * measured) / rowHeight;
      rowHeight = measured;
      draw();
      scroll.last = scroller.scrollTop = scroll.y - offsetAt(geom, scroll.y);
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

  // On paper, every row the filters show, whole.
  let printing = false;
  function printAll(on) {
    if (on === printing) return;
    printing = on;
    if (!on) {
      render();
      return;
    }
    const fragment = document.createDocumentFragment();
    for (let j = 0; j < view.length; j++) fragment.append(rowElement(view[j]));
    body.replaceChildren(view.length ? fragment : emptyRow());
  }

  // ---- The folder tree, an ARIA tree made as it opens.

  const tree = $('tree');
  const treeItems = new Map();
  // Children of one folder drawn at a time.
  const TREE_CHUNK = 200;
  const startFolder = summary.after && summary.after.start;
  const rootName = () => (startFolder ? visible(startFolder) : 'start folder');

  function figures(f) {
    const parts = [];
    for (let k = 0; k < K; k++) {
      if (folderCount(f, k)) parts.push(kindSymbol(k) + count(folderCount(f, k)));
    }
    parts.push('+' + bytes(folders.added[f]), '\u2212' + bytes(folders.removed[f]));
    return parts.join(' ');
  }

  function notListed(f) {
    let missing = 0;
    if (leftOut) for (let k = 0; k < K; k++) missing += folderCount(f, k) - listedCount(f, k);
    return missing;
  }

  function folderWords(f) {
    const missing = notListed(f);
    return countsInWords((k) => folderCount(f, k)) +
      `; ${bytes(folders.added[f])} added, ${bytes(folders.removed[f])} removed` +
      (missing ? `; ${count(missing)} not listed on this page` : '');
  }

  const hasChildren = (f) => folders.end[f] > f + 1;

  function treeItem(f, level) {
    const item = el('li');
    item.setAttribute('role', 'treeitem');
    item.setAttribute('aria-level', String(level));
    item.setAttribute('aria-selected', 'false');
    item.tabIndex = -1;
    item.dataset.folder = String(f);
    const name = f === 0 ? rootName() + ' (all)' : visible(folderName(f));
    item.setAttribute('aria-label', `${name}: ${folderWords(f)}`);
    const node = el('div', 'node');
    node.setAttribute('aria-hidden', 'true');
    const toggle = el('span', 'toggle', hasChildren(f) ? '\u25b8' : '');
    const label = el('span', 'label');
    label.append(f === 0 ? el('span', 'name', name) : visibleEl('span', 'name', folderName(f)),
      el('span', 'figures', figures(f)));
    if (notListed(f)) label.append(el('span', 'figures', `${count(notListed(f))} not listed`));
    node.append(toggle, label);
    item.append(node);
    if (hasChildren(f)) item.setAttribute('aria-expanded', 'false');
    treeItems.set(f, item);
    return item;
  }

  function appendChildren(group, f, from, level) {
    const children = childrenOf(f);
    const end = Math.min(children.length, from + TREE_CHUNK);
    for (let i = from; i < end; i++) group.append(treeItem(children[i], level));
    if (end < children.length) {
      const more = el('li', 'more', `${count(children.length - end)} more folders`);
      more.setAttribute('role', 'treeitem');
      more.setAttribute('aria-level', String(level));
      more.tabIndex = -1;
      more.dataset.more = String(f);
      more.dataset.from = String(end);
      group.append(more);
    }
  }

  function showMore(more) {
    const group = more.parentElement;
    const level = Number(more.getAttribute('aria-level'));
    more.remove();
    appendChildren(group, Number(more.dataset.more), Number(more.dataset.from), level);
  }

  // Opens a folder; a chain of folders each holding one folder opens whole.
  function expand(item, open) {
    if (!item.hasAttribute('aria-expanded')) return;
    const f = Number(item.dataset.folder);
    let group = item.querySelector(':scope > ul');
    if (open && !group) {
      group = el('ul');
      group.setAttribute('role', 'group');
      appendChildren(group, f, 0, Number(item.getAttribute('aria-level')) + 1);
      item.append(group);
    }
    if (group) group.hidden = !open;
    item.setAttribute('aria-expanded', String(open));
    item.querySelector(':scope > .node > .toggle').textContent = open ? '\u25be' : '\u25b8';
    if (open) {
      const children = childrenOf(f);
      if (children.length === 1) expand(treeItems.get(children[0]), true);
    }
  }

  function focusItem(item) {
    for (const other of tree.querySelectorAll('[tabindex="0"]')) other.tabIndex = -1;
    item.tabIndex = 0;
    item.focus();
  }

  // Opens the folders above `f`, and draws the chunks of its siblings, so
  // that its item stands in the tree.
  function reveal(f) {
    const chain = [];
    for (let g = f; g !== 0; g = folders.parent[g]) chain.unshift(g);
    let item = treeItems.get(0);
    for (const g of chain) {
      expand(item, true);
      let more;
      while (!treeItems.has(g) && (more = item.querySelector(':scope > ul > li.more'))) showMore(more);
      item = treeItems.get(g);
      if (!item) return null;
    }
    return item;
  }

  const visibleItems = () => [...tree.querySelectorAll('[role="treeitem"]')].filter((item) => item.offsetParent !== null);

  function onTreeKey(event) {
    const item = event.target.closest('[role="treeitem"]');
    if (!item) return;
    const items = visibleItems();
    const at = items.indexOf(item);
    const open = item.getAttribute('aria-expanded');
    let next = null;
    switch (event.key) {
      case 'ArrowDown': next = items[at + 1]; break;
      case 'ArrowUp': next = items[at - 1]; break;
      case 'Home': next = items[0]; break;
      case 'End': next = items[items.length - 1]; break;
      case 'ArrowRight':
        if (open === 'false') expand(item, true);
        else if (open === 'true') next = item.querySelector(':scope > ul > li');
        break;
      case 'ArrowLeft':
        if (open === 'true') expand(item, false);
        else next = item.parentElement.closest('[role="treeitem"]');
        break;
      case 'Enter':
      case ' ':
        activate(item);
        break;
      default:
        return;
    }
    event.preventDefault();
    if (next) focusItem(next);
  }

  function activate(item) {
    if (item.dataset.more) {
      const previous = item.previousElementSibling;
      showMore(item);
      focusItem(previous.nextElementSibling);
      return;
    }
    choose(Number(item.dataset.folder));
    focusItem(item);
  }

  function onTreeClick(event) {
    const item = event.target.closest('[role="treeitem"]');
    if (!item) return;
    if (event.target.closest('.toggle') && item.hasAttribute('aria-expanded')) {
      expand(item, item.getAttribute('aria-expanded') !== 'true');
      focusItem(item);
      return;
    }
    activate(item);
  }

  function showTree() {
    const root = treeItem(0, 1);
    tree.append(root);
    expand(root, true);
    root.setAttribute('aria-selected', 'true');
    root.tabIndex = 0;
    tree.addEventListener('keydown', onTreeKey);
    tree.addEventListener('click', onTreeClick);
  }

  // ---- The chosen folder: tree, breadcrumb, overview and table together.

  function choose(f, quiet) {
    const previous = treeItems.get(state.folder);
    if (previous) previous.setAttribute('aria-selected', 'false');
    state.folder = f;
    const item = reveal(f);
    if (item) {
      item.setAttribute('aria-selected', 'true');
      if (!tree.contains(document.activeElement)) {
        for (const other of tree.querySelectorAll('[tabindex="0"]')) other.tabIndex = -1;
        item.tabIndex = 0;
      }
    }
    $('all-folders').setAttribute('aria-disabled', String(f === 0));
    showCrumbs();
    showOverview();
    showBoxCounts();
    if (!quiet) recompute();
  }

  function showCrumbs() {
    const list = $('crumbs');
    const chain = [];
    for (let g = state.folder; ; g = folders.parent[g]) {
      chain.unshift(g);
      if (g === 0) break;
    }
    const items = chain.map((g, at) => {
      const item = el('li');
      const name = g === 0 ? rootName() : folderName(g);
      if (at === chain.length - 1) {
        const here = g === 0 ? el('span', '', name) : visibleEl('span', '', name);
        here.tabIndex = -1;
        item.setAttribute('aria-current', 'location');
        item.append(here);
      } else {
        const button = g === 0 ? el('button', '', name) : visibleEl('button', '', name);
        button.type = 'button';
        button.addEventListener('click', () => {
          choose(g);
          list.querySelector('[aria-current] > span').focus();
        });
        item.append(button);
      }
      return item;
    });
    list.replaceChildren(...items);
  }

  // ---- The overview: where the bytes and the changes went below the chosen
  // folder, one tile per folder, its area by the bytes changed (by the count
  // of changes where no bytes changed), coloured by its most common kind.

  const TILES = 40;

  function mainKind(counter) {
    let best = 0;
    for (let k = 1; k < K; k++) if (counter(k) > counter(best)) best = k;
    return best;
  }

  // Squarified: tiles laid in rows along the shorter side, each row as long
  // as keeps its tiles nearest to square.
  function squarify(items, x, y, width, height) {
    const laid = [];
    let rest = items.slice();
    while (rest.length) {
      const total = rest.reduce((sum, item) => sum + item.value, 0);
      const side = Math.min(width, height);
      const scale = (width * height) / total;
      let row = [];
      let worst = Infinity;
      for (const item of rest) {
        const trial = row.concat(item);
        const area = trial.reduce((sum, t) => sum + t.value * scale, 0);
        const thickness = area / side;
        const ratio = Math.max(...trial.map((t) => {
          const length = (t.value * scale) / thickness;
          return Math.max(length / thickness, thickness / length);
        }));
        if (ratio > worst) break;
        worst = ratio;
        row = trial;
      }
      const area = row.reduce((sum, t) => sum + t.value * scale, 0);
      const thickness = area / side;
      let along = 0;
      for (const item of row) {
        const length = (item.value * scale) / thickness;
        laid.push(width >= height
          ? { item, x, y: y + along, width: thickness, height: length }
          : { item, x: x + along, y, width: length, height: thickness });
        along += length;
      }
      if (width >= height) {
        x += thickness;
        width -= thickness;
      } else {
        y += thickness;
        height -= thickness;
      }
      rest = rest.slice(row.length);
    }
    return laid;
  }

  function overviewItems(f) {
    const byBytes = folderBytes(f) > 0;
    const measure = (g) => (byBytes ? folderBytes(g) : folderTotal(g));
    // Folders too small to see or to click go with the folders left over.
    const least = measure(f) / 200;
    const children = childrenOf(f).filter((g) => measure(g) > 0);
    const shown = children.slice(0, TILES).filter((g) => measure(g) >= least);
    const items = shown.map((g) => ({ folder: g, value: measure(g) }));
    const others = children.slice(shown.length);
    if (others.length) {
      items.push({ rest: `${count(others.length)} more folders`, value: others.reduce((s, g) => s + measure(g), 0) });
    }
    const inside = children.reduce((sum, g) => sum + measure(g), 0);
    if (measure(f) - inside >= least) items.push({ here: true, value: measure(f) - inside });
    // The folders left over come last, whatever their size, so that the
    // largest folders take the first places.
    items.sort((a, b) => Boolean(a.rest) - Boolean(b.rest) || b.value - a.value);
    return { items, byBytes };
  }

  function tileFor(entry, f, byBytes) {
    const { item } = entry;
    const amount = (value) => (byBytes ? bytes(value) + ' changed' : plural(value, 'change', 'changes'));
    let tile;
    if (item.folder !== undefined) {
      const g = item.folder;
      tile = el('button', 'tile ' + kindClass(mainKind((k) => folderCount(g, k))));
      tile.type = 'button';
      tile.append(visibleEl('span', 'name', folderName(g)), el('span', 'figure', amount(item.value)));
      tile.setAttribute('aria-label', `${visible(folderName(g))}: ${amount(item.value)}; ` +
        countsInWords((k) => folderCount(g, k)));
      tile.addEventListener('click', () => choose(g));
    } else {
      tile = el('div', 'tile rest');
      const name = item.here ? `in ${f === 0 ? 'the start folder' : visible(folderName(f))} itself` : item.rest;
      tile.append(el('span', 'name', name), el('span', 'figure', amount(item.value)));
      tile.setAttribute('role', 'img');
      tile.setAttribute('aria-label', `${name}: ${amount(item.value)}`);
    }
    tile.title = tile.getAttribute('aria-label');
    Object.assign(tile.style, {
      left: entry.x + 'px', top: entry.y + 'px', width: entry.width + 'px', height: entry.height + 'px',
    });
    return tile;
  }

  function showOverview() {
    const box = $('treemap');
    const f = state.folder;
    const { items, byBytes } = overviewItems(f);
    const where = f === 0 ? rootName() : visible(folderPath(f));
    $('overview-title').textContent = items.length
      ? `${byBytes ? 'Bytes changed' : 'Changes'} below ${where}, by folder (choose one to list only its changes)`
      : `Nothing changed below ${where} in a folder of its own`;
    const width = box.clientWidth, height = box.clientHeight;
    if (!items.length || !width || !height) {
      box.replaceChildren();
      return;
    }
    box.replaceChildren(...squarify(items, 0, 0, width, height).map((entry) => tileFor(entry, f, byBytes)));
  }

  // ---- The logs, the summary cards, the boxes.

  function showLogs() {
    const list = $('logs');
    for (const [label, log] of [['Before', summary.before], ['After', summary.after]]) {
      if (!log) continue;
      const detail = el('dd');
      detail.append(log.live ? el('span', 'mono', 'live walk') : visibleEl('span', 'mono', log.log || '?'),
        el('span', '', ` \u2014 start folder ${visible(log.start || '?')}` +
          ` \u2014 taken ${log.taken ? log.taken.replace('T', ' ').replace(/\.\d+/, '') : 'at an unknown time'}` +
          ` \u2014 ${plural(log.records, 'record', 'records')}`));
      list.append(el('dt', '', label), detail);
    }
    list.append(el('dt', '', 'Made by'), el('dd', '', `dirlog-view ${summary.version || '?'}`));
    if (startFolder) document.title = `What changed in ${visible(startFolder)} \u2014 dirlog-view`;
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
      card(kindClass(k), count(counts[kind]), kindSymbol(k) + ' ' + kindWord(k))));
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
        $('unread-list').append(visibleEl('li', 'mono', `${line.log} log, line ${line.line}: ${line.text}`));
      }
    }
    if (leftOut > 0) {
      const notice = $('notice');
      notice.hidden = false;
      notice.textContent = `This page lists ${count(N)} of the ${count(meta.changes)} changes, evenly ` +
        `spaced so that every kind and folder keeps its share (a page holds at most ${count(meta.row_limit)} ` +
        `rows); ${count(leftOut)} were left out. The cards, the boxes and the folder tree count every change ` +
        'and say how many they left out; dirlog-view --json lists them all.';
    }
  }

  function boxes(fieldset, names, words, symbols, kept, className) {
    names.forEach((name, k) => {
      const label = el('label', className ? className(k) : '');
      const box = el('input');
      box.type = 'checkbox';
      box.checked = true;
      box.name = name;
      box.addEventListener('change', () => {
        kept[k] = box.checked ? 1 : 0;
        recompute();
      });
      const figure = el('span', 'box-count');
      label.append(box, ' ');
      if (symbols) label.append(el('span', 'symbol', symbols(k)));
      label.append(words(k) + ' ', figure);
      fieldset.append(label);
    });
  }

  // The count beside each kind box: changes of that kind below the chosen
  // folder, and how many of them the page lists when it left some out.
  function showBoxCounts() {
    const kindBoxes = $('kinds').querySelectorAll('.box-count');
    kindBoxes.forEach((figure, k) => {
      const all = folderCount(state.folder, k);
      const shown = listedCount(state.folder, k);
      figure.textContent = shown === all ? `(${count(all)})` : `(${count(all)}; ${count(shown)} listed)`;
    });
  }

  function showVerdictCounts() {
    const perVerdict = new Float64Array(VERDICTS.length);
    for (let i = 0; i < N; i++) perVerdict[rows.verdict[i]]++;
    $('verdicts').querySelectorAll('.box-count').forEach((figure, v) => {
      figure.textContent = `(${count(perVerdict[v])}${leftOut ? ' listed' : ''})`;
    });
  }

  function setSort(key, descending) {
    state.sort = key in ORDERS ? key : '';
    state.descending = Boolean(state.sort) && descending;
    for (const th of document.querySelectorAll('th[aria-sort]')) {
      const own = th.querySelector('button').dataset.sort === state.sort;
      th.setAttribute('aria-sort', own ? (state.descending ? 'descending' : 'ascending') : 'none');
    }
  }

  function showControls() {
    boxes($('kinds'), KINDS, kindWord, kindSymbol, state.kinds, kindClass);
    boxes($('verdicts'), VERDICTS, (v) => VERDICTS[v], null, state.verdicts);
    showVerdictCounts();
    if (!oneZone || meta.zones[0] !== 'Z') {
      $('time-heading').textContent = 'Written';
    } else {
      $('time-heading').textContent = 'Written (UTC)';
    }
    $('controls').addEventListener('submit', (event) => event.preventDefault());
    $('filter').addEventListener('input', (event) => {
      state.text = event.target.value;
      recompute();
    });
    $('all-folders').addEventListener('click', () => {
      if (state.folder !== 0) choose(0);
    });
    for (const button of document.querySelectorAll('th button[data-sort]')) {
      button.addEventListener('click', () => {
        const key = button.dataset.sort;
        setSort(key, state.sort === key ? !state.descending : false);
        recompute();
      });
    }
    scroller.addEventListener('scroll', onScroll, { passive: true });
    let width = 0;
    window.addEventListener('resize', () => {
      renderSoon();
      const now = $('treemap').clientWidth;
      if (now !== width) {
        width = now;
        showOverview();
      }
    });
    const print = window.matchMedia('print');
    print.addEventListener('change', () => printAll(print.matches));
    window.addEventListener('beforeprint', () => printAll(true));
    window.addEventListener('afterprint', () => printAll(false));
  }

  // ---- The view's state in the address's fragment, so that a reload or a
  // shared address opens the same view: folder, filter text, kinds and
  // verdicts left out, sort.

  // A folder's path in the fragment: its UTF-8 bytes percent-encoded, a byte
  // that is not UTF-8 as itself.
  function encodePath(text) {
    let out = '';
    let plain = '';
    for (let i = 0; i < text.length; i++) {
      const code = text.charCodeAt(i);
      const lone = code >= 0xdc80 && code <= 0xdcff && !(i > 0 && /[\ud800-\udbff]/.test(text[i - 1]));
      if (lone) {
        out += encodeURIComponent(plain) + '%' + hex(code - 0xdc00, 2);
        plain = '';
      } else {
        plain += text[i];
      }
    }
    return out + encodeURIComponent(plain);
  }

  function decodePath(text) {
    const bytes = [];
    for (let i = 0; i < text.length; i++) {
      if (text[i] === '%' && /^[0-9a-fA-F]{2}$/.test(text.slice(i + 1, i + 3))) {
        bytes.push(parseInt(text.slice(i + 1, i + 3), 16));
        i += 2;
      } else {
        bytes.push(...new TextEncoder().encode(text[i]));
      }
    }
    // UTF-8 where it is valid, each other byte as U+DC00 + byte.
    let out = '';
    for (let i = 0; i < bytes.length;) {
      const length = bytes[i] < 0x80 ? 1 : bytes[i] >= 0xc2 && bytes[i] < 0xe0 ? 2 : bytes[i] >= 0xe0 && bytes[i] < 0xf0 ? 3
        : bytes[i] >= 0xf0 && bytes[i] < 0xf5 ? 4 : 0;
      const piece = length ? new Uint8Array(bytes.slice(i, i + length)) : null;
      let decoded = null;
      if (piece && piece.length === length) {
        try {
          decoded = new TextDecoder('utf-8', { fatal: true }).decode(piece);
        } catch {
          decoded = null;
        }
      }
      if (decoded === null) {
        out += String.fromCharCode(0xdc00 + bytes[i]);
        i++;
      } else {
        out += decoded;
        i += length;
      }
    }
    return out;
  }

  // The folder at `path`, walking down from the start folder.
  function folderAt(path) {
    let f = 0;
    while (path !== folderPath(f)) {
      let next = 0;
      for (let g = f + 1; g < folders.end[f]; g = folders.end[g]) {
        const p = folderPath(g);
        if (path === p || path.startsWith(p + SEP)) {
          next = g;
          break;
        }
      }
      if (!next) return 0;
      f = next;
    }
    return f;
  }

  function fragmentOfState() {
    const parts = [];
    if (state.folder) parts.push('folder=' + encodePath(folderPath(state.folder)));
    if (state.text) parts.push('filter=' + encodeURIComponent(state.text));
    const off = (names, kept) => names.filter((_, k) => !kept[k]);
    if (off(KINDS, state.kinds).length) parts.push('hide=' + off(KINDS, state.kinds).map(encodeURIComponent).join(','));
    if (off(VERDICTS, state.verdicts).length) {
      parts.push('hide-verdict=' + off(VERDICTS, state.verdicts).map(encodeURIComponent).join(','));
    }
    if (state.sort) parts.push('sort=' + (state.descending ? '-' : '') + state.sort);
    return parts.join('&');
  }

  // The address follows the view a moment after it changed, not at each
  // key pressed.
  let restoring = false;
  let saving = 0;
  function saveState() {
    if (restoring) return;
    clearTimeout(saving);
    saving = setTimeout(writeState, 250);
  }
  function writeState() {
    const fragment = fragmentOfState();
    if (fragment === location.hash.slice(1)) return;
    const address = location.href.split('#')[0] + (fragment ? '#' + fragment : '');
    try {
      history.replaceState(null, '', address);
    } catch {
      location.replace(fragment ? '#' + fragment : '#');
    }
  }

  function restoreState() {
    const values = new Map();
    for (const part of location.hash.slice(1).split('&')) {
      const at = part.indexOf('=');
      if (at > 0) values.set(part.slice(0, at), part.slice(at + 1));
    }
    const decoded = (key) => {
      try {
        return decodeURIComponent(values.get(key) || '');
      } catch {
        return '';
      }
    };
    state.text = decoded('filter');
    $('filter').value = state.text;
    const hidden = (key) => (values.get(key) || '').split(',').filter(Boolean).map((name) => {
      try {
        return decodeURIComponent(name);
      } catch {
        return name;
      }
    });
    KINDS.forEach((kind, k) => (state.kinds[k] = hidden('hide').includes(kind) ? 0 : 1));
    VERDICTS.forEach((verdict, v) => (state.verdicts[v] = hidden('hide-verdict').includes(verdict) ? 0 : 1));
    $('kinds').querySelectorAll('input').forEach((box, k) => (box.checked = Boolean(state.kinds[k])));
    $('verdicts').querySelectorAll('input').forEach((box, v) => (box.checked = Boolean(state.verdicts[v])));
    const sort = values.get('sort') || '';
    setSort(sort.replace(/^-/, ''), sort.startsWith('-'));
    restoring = true;
    choose(values.has('folder') ? folderAt(decodePath(values.get('folder'))) : 0, true);
    restoring = false;
  }

  showLogs();
  showSummary();
  showTree();
  showControls();
  restoreState();
  window.addEventListener('hashchange', () => {
    if (location.hash.slice(1) === fragmentOfState()) return;
    restoreState();
    recompute();
  });
  recompute();
  performance.mark('dirlog-ready');
  // The names in lower case, for the filter box, once the page is idle.
  if (window.requestIdleCallback) requestIdleCallback(() => lowerNames());
  else setTimeout(() => lowerNames(), 200);
};
if (document.hidden) start();
else requestAnimationFrame(() => setTimeout(start, 0));
