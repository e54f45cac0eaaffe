// The --html page in a real browser: pages that dirlog-view made from real
// before/after trees, opened from file:// in headless chromium, checked for
// what a person sees once the page's script ran.
//
// Environment: DIRLOG and DIRLOG_VIEW (the programs), DIRLOG_HTML_PAGE (the
// JSON Lines to page tool), DIRLOG_HTML_GEN (bench/html_gen.py), and
// DIRLOG_BROWSER_OUT, where a screenshot of the page is left.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { startChromium } from './chromium.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dirlog-browser-'));
let browser;

before(async () => {
  browser = await startChromium();
});
after(async () => {
  await browser?.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// Writes `files` (relative path -> contents; a trailing "/" makes a folder)
// below `root`. Names may be Buffers, for bytes that are not UTF-8.
function makeTree(root, files) {
  for (const [name, contents] of files) {
    const target = Buffer.concat([Buffer.from(root + '/'), Buffer.from(name)]);
    const isFolder = target[target.length - 1] === 0x2f;
    fs.mkdirSync(isFolder ? target : target.subarray(0, target.lastIndexOf(0x2f)), { recursive: true });
    if (!isFolder) fs.writeFileSync(target, contents);
  }
}

// Scans `tree` with dirlog into the next log of `logs`.
function scan(logs, tree) {
  execFileSync(process.env.DIRLOG, ['/L' + tree], { env: { ...process.env, DIRLOG_ROOT: logs } });
}

// Makes the trees, scans before and after `change` runs, and returns the
// page dirlog-view wrote and its --json summary.
function viewOfChange(name, files, change) {
  const tree = path.join(work, name, 'app');
  const logs = path.join(work, name, 'logs');
  fs.mkdirSync(logs, { recursive: true });
  makeTree(tree, files);
  scan(logs, tree);
  change(tree);
  scan(logs, tree);
  const page = path.join(work, name, 'page.html');
  const logsArgs = [path.join(logs, 'dirlog1.txt'), path.join(logs, 'dirlog2.txt')];
  const made = spawnSync(process.env.DIRLOG_VIEW, [...logsArgs, '--html', page]);
  assert.equal(made.status, 1, `dirlog-view --html: ${made.stderr}`);
  const json = spawnSync(process.env.DIRLOG_VIEW, [...logsArgs, '--json', '--depth', '255']);
  const lines = json.stdout.toString().trim().split('\n').map((line) => JSON.parse(line));
  return { page, changes: lines.slice(0, -1), summary: lines.at(-1).summary };
}

async function open(page, viewport = { width: 1280, height: 860 }, options = {}, on = browser) {
  const context = await on.newContext({ viewport, ...options });
  const tab = await context.newPage();
  const errors = [];
  tab.on('pageerror', (error) => errors.push(String(error)));
  tab.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  await tab.goto('file://' + page);
  await ready(tab);
  tab.errors = errors;
  return tab;
}
const ready = (tab) => tab.waitForFunction(() => performance.getEntriesByName('dirlog-ready').length > 0);

// What the table shows now: each drawn row's kind, full path (as its title
// gives it), the path as shown, size title and write time, and the "N of M
// changes listed" line.
async function table(tab) {
  return tab.evaluate(() => ({
    rows: [...document.querySelectorAll('#rows tr:not(.spacer)')].filter((tr) => tr.cells.length > 1)
      .map((tr) => ({
        kind: tr.className.replace('k-', ''),
        path: tr.querySelector('.c-path').title.split('\n')[0],
        shown: tr.querySelector('.c-path .path').textContent,
        size: tr.querySelector('.c-size').title,
        written: tr.querySelector('.c-time').textContent,
      })),
    count: document.getElementById('count').textContent,
    empty: document.querySelector('#rows td.empty')?.textContent,
  }));
}

const sizeDiff = (title) => Number(/\(([-+]?\d+)\)$/.exec(title)[1]);
const close = (tab) => tab.context().close();

// Every element holding text, its colour against the first opaque
// background behind it: the contrast ratios below 4.5:1, as WCAG computes
// them.
async function lowContrast(tab) {
  return tab.evaluate(() => {
    const rgb = (text) => text.match(/[\d.]+/g).map(Number);
    const luminance = ([r, g, b]) => [r, g, b].map((c) => c / 255)
      .map((c) => (c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4))
      .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);
    const low = [];
    for (const node of document.querySelectorAll('body *')) {
      const own = [...node.childNodes].some((child) => child.nodeType === 3 && child.data.trim());
      if (!own || !node.getClientRects().length || node.closest('.visually-hidden')) continue;
      let back = node;
      while (back && rgb(getComputedStyle(back).backgroundColor)[3] === 0) back = back.parentElement;
      const pair = [getComputedStyle(node).color, getComputedStyle(back || document.documentElement).backgroundColor]
        .map((colour) => luminance(rgb(colour))).sort((a, b) => b - a);
      const ratio = (pair[0] + 0.05) / (pair[1] + 0.05);
      if (ratio < 4.5) low.push(`${node.className || node.tagName} ${ratio.toFixed(2)}`);
    }
    return low;
  });
}

describe('a page of a real change', () => {
  const deep = 'usr/lib/python3.11/site-packages/vendored/antigravity_old.py';
  let view;
  let tab;
  before(async () => {
    const files = [
      ['bin/tool', 'v1\n'],
      ['obsolete.cfg', 'old\n'],
      ['docs/a.md', 'a'],
      ['docs/guide/b.md', 'b'],
      ['thing', 'file!'],
      ['data/cache/blob.bin', 'x'.repeat(5000)],
      ['conf/app.conf', 'setting'],
      ['notes/draft.txt', 'a draft of some length'],
      [deep, 'import this'],
    ];
    view = viewOfChange('real', files, (tree) => {
      fs.writeFileSync(path.join(tree, 'bin/tool'), 'version 2, longer\n');
      fs.rmSync(path.join(tree, 'obsolete.cfg'));
      fs.mkdirSync(path.join(tree, 'lib/plugins'), { recursive: true });
      fs.writeFileSync(path.join(tree, 'lib/libx.so'), 'y'.repeat(20000));
      fs.writeFileSync(path.join(tree, 'lib/plugins/p1.so'), 'z'.repeat(300));
      fs.writeFileSync(path.join(tree, 'docs/guide/c.md'), 'c');
      fs.rmSync(path.join(tree, 'thing'));
      fs.mkdirSync(path.join(tree, 'thing'));
      fs.rmSync(path.join(tree, 'data/cache/blob.bin'));
      fs.chmodSync(path.join(tree, 'conf/app.conf'), 0o600);
      fs.renameSync(path.join(tree, 'notes/draft.txt'), path.join(tree, 'notes/final.txt'));
      fs.writeFileSync(path.join(tree, deep), 'import this, and that');
    });
    tab = await open(view.page);
    // The page as it opens, in either palette, for the README.
    if (process.env.DIRLOG_BROWSER_OUT) {
      fs.mkdirSync(process.env.DIRLOG_BROWSER_OUT, { recursive: true });
      for (const [colorScheme, name] of [['dark', 'dirlog-view-html-dark.png'], ['light', 'dirlog-view-html.png']]) {
        await tab.emulateMedia({ colorScheme });
        await tab.screenshot({ path: path.join(process.env.DIRLOG_BROWSER_OUT, name) });
      }
    }
  });
  after(() => close(tab));

  it('shows the counts and bytes of the summary, every row, and the start folder in its title', async () => {
    const cards = await tab.$$eval('#cards li', (items) =>
      items.map((li) => [li.querySelector('.label').textContent, li.querySelector('.value').textContent,
        li.querySelector('.exact')?.textContent]));
    const { counts, bytes } = view.summary;
    assert.deepEqual(cards.slice(0, 5).map(([, value]) => Number(value.replace(/,/g, ''))),
      [counts.created, counts.deleted, counts.modified, counts.moved, counts.type]);
    assert.equal(counts.deleted, 2);
    assert.equal(counts.type, 1);
    assert.equal(counts.moved, 1);
    assert.equal(cards[5][2], `${bytes.added.toLocaleString('en-US')} bytes`);
    assert.equal(cards[6][2], `${bytes.removed.toLocaleString('en-US')} bytes`);
    assert.equal(await tab.textContent('#logs dd:last-child'), `dirlog-view ${view.summary.version}`);
    const shown = await table(tab);
    assert.equal(shown.count, `${view.changes.length} of ${view.changes.length} changes listed`);
    assert.deepEqual(shown.rows.map((row) => row.path), view.changes.map((change) => change.path));
    assert.equal(await tab.title(), `What changed in ${view.summary.after.start} \u2014 dirlog-view`);
    assert.deepEqual(tab.errors, []);
  });

  it('says a write time the change left alone is unchanged, never none', async () => {
    const written = new Map((await table(tab)).rows.map((row) => [row.path, row.written]));
    assert.equal(written.get('conf/app.conf'), 'unchanged');
    assert.equal(written.get('notes/final.txt'), 'unchanged');
    assert.match(written.get('lib/libx.so'), /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/);
  });

  it('gives the path the widest column and keeps its name whole, cut from the start', async () => {
    const cell = await tab.evaluate((name) => {
      const row = [...document.querySelectorAll('#rows tr')].find((tr) => tr.cells[0]?.title === name);
      const [dir, base] = ['.dir', '.base'].map((s) => row.querySelector(s));
      const widths = [...document.querySelectorAll('#changes th')].map((th) => th.offsetWidth);
      return { widths, base: base.scrollWidth - base.clientWidth, dirCut: dir.scrollWidth > dir.clientWidth,
        dirEnd: dir.getBoundingClientRect().right, baseStart: base.getBoundingClientRect().left };
    }, deep);
    assert.equal(cell.widths[0], Math.max(...cell.widths));
    assert.equal(cell.base, 0, 'the name is whole');
    assert.ok(Math.abs(cell.dirEnd - cell.baseStart) < 1, 'the folder ends where the name starts');
    // Narrow: each change a block of lines, nothing wider than the window.
    await tab.setViewportSize({ width: 400, height: 800 });
    await tab.waitForTimeout(100);
    const narrow = await tab.evaluate(() => ({
      width: document.documentElement.scrollWidth,
      display: getComputedStyle(document.querySelector('#rows tr:not(.spacer)')).display,
    }));
    assert.deepEqual(narrow, { width: 400, display: 'grid' });
    await tab.setViewportSize({ width: 1280, height: 860 });
  });

  it('narrows the rows to paths holding the filter text, and to the verdicts ticked', async () => {
    const holding = async (text) => {
      await tab.fill('#filter', text);
      return (await table(tab)).rows.map((row) => row.path).sort();
    };
    const paths = view.changes.map((change) => change.path);
    for (const text of ['LIB/', 'lib/p', 'ib/plug', '/', 'b/', '/lib/', 'usr/lib/python3.11/s', 'ges/vendored/', 'draft', '.md', 'nothing']) {
      const expected = view.changes.filter((c) => (c.path + '\n' + (c.old_path || '')).toLowerCase()
        .includes(text.toLowerCase())).map((c) => c.path).sort();
      assert.deepEqual(await holding(text), expected, text);
    }
    assert.deepEqual(await holding('^'), []);
    await tab.fill('#filter', '');
    await tab.getByRole('checkbox', { name: /content/ }).uncheck();
    const metadata = view.changes.filter((change) => change.verdict !== 'content').map((change) => change.path);
    assert.deepEqual((await table(tab)).rows.map((row) => row.path), metadata);
    assert.ok(metadata.includes('conf/app.conf') && metadata.length < paths.length);
    await tab.getByRole('checkbox', { name: /content/ }).check();
  });

  it('hides a kind while its box is unticked', async () => {
    await tab.getByRole('checkbox', { name: /created/ }).uncheck();
    const shown = await table(tab);
    assert.equal(shown.rows.length, view.changes.length - view.summary.counts.created);
    assert.ok(shown.rows.every((row) => row.kind !== 'created'));
    await tab.getByRole('checkbox', { name: /created/ }).check();
    assert.equal((await table(tab)).rows.length, view.changes.length);
  });

  it('sorts by size difference both ways, from the keyboard too', async () => {
    const button = tab.locator('th button[data-sort="size"]');
    await button.focus();
    await tab.keyboard.press('Enter');
    const up = (await table(tab)).rows.map((row) => sizeDiff(row.size));
    assert.deepEqual(up, [...up].sort((a, b) => a - b));
    assert.equal(up[0], -5000);
    assert.equal(await button.evaluate((b) => b.parentElement.getAttribute('aria-sort')), 'ascending');
    await button.click();
    const down = (await table(tab)).rows.map((row) => sizeDiff(row.size));
    assert.deepEqual(down, [...up].sort((a, b) => b - a));
    assert.equal(down[0], 20000);
  });

  it('lists only what changed below a folder chosen in the tree, by mouse and by keyboard', async () => {
    const lib = view.summary.rollups.find((r) => r.folder === 'lib');
    await tab.getByRole('treeitem', { name: /^lib:/ }).locator('.label').click();
    let shown = await table(tab);
    assert.ok(shown.rows.every((row) => row.path.startsWith('lib/')));
    assert.equal(shown.rows.length, lib.created + lib.deleted + lib.modified + lib.moved + lib.type);
    assert.ok(shown.rows.some((row) => row.shown === 'plugins/p1.so'), 'paths below the folder chosen');
    // The keyboard: down to "docs", open it (its one folder opens with it),
    // into "guide", choose it.
    const focused = () => tab.evaluate(() => document.activeElement.getAttribute('aria-label'));
    while (!/^docs:/.test(await focused())) await tab.keyboard.press('ArrowDown');
    assert.match(await focused(), /^docs: 1 created, 1 modified; 1\u00a0B added/);
    await tab.keyboard.press('ArrowRight');
    assert.equal(await tab.getByRole('treeitem', { name: /^docs:/ }).getAttribute('aria-expanded'), 'true');
    await tab.keyboard.press('ArrowRight');
    await tab.keyboard.press('Enter');
    assert.match(await focused(), /^guide:/);
    shown = await table(tab);
    assert.deepEqual(shown.rows.map((row) => [row.path, row.shown]), [['docs/guide/c.md', 'c.md']]);
    assert.equal(await tab.locator('#crumbs').textContent(), `${view.summary.after.start}docsguide`);
    await tab.keyboard.press('ArrowLeft');
    assert.match(await focused(), /^docs:/);
    await tab.getByRole('button', { name: 'All folders' }).click();
    assert.equal(await tab.evaluate(() => document.activeElement.id), 'all-folders');
    assert.equal((await table(tab)).rows.length, view.changes.length);
  });

  it('narrows the table to a folder chosen in the overview', async () => {
    const tile = tab.locator('#treemap button', { hasText: 'lib' });
    assert.match(await tile.getAttribute('aria-label'), /^lib: 19\.8\u00a0KiB changed; 3 created$/);
    await tile.click();
    assert.ok((await table(tab)).rows.every((row) => row.path.startsWith('lib/')));
    assert.match(await tab.locator('#overview-title').textContent(), /below lib,/);
    assert.equal(await tab.getByRole('treeitem', { name: /^lib:/ }).getAttribute('aria-selected'), 'true');
    await tab.getByRole('button', { name: 'All folders' }).click();
  });

  it('keeps its folder, filter and sort in the address over a reload', async () => {
    await tab.getByRole('treeitem', { name: /^lib:/ }).locator('.label').click();
    await tab.fill('#filter', 'p');
    await tab.locator('th button[data-sort="path"]').click();
    await tab.locator('th button[data-sort="path"]').click();
    const before = await table(tab);
    await tab.waitForFunction(() => location.hash.includes('sort=-path'));
    await tab.reload();
    await ready(tab);
    assert.deepEqual(await table(tab), before);
    assert.equal(await tab.inputValue('#filter'), 'p');
    assert.deepEqual(before.rows.map((row) => row.path), ['lib/plugins/p1.so', 'lib/plugins']);
  });

  it('prints every row the filters show, whole', async () => {
    await tab.setViewportSize({ width: 700, height: 400 });
    await tab.emulateMedia({ media: 'print' });
    const paper = await tab.evaluate(() => ({
      rows: document.querySelectorAll('#rows tr:not(.spacer)').length,
      overflow: getComputedStyle(document.getElementById('scroller')).overflowY,
      cut: [...document.querySelectorAll('#rows .path > span')].filter((s) => s.scrollWidth > s.clientWidth + 1).length,
    }));
    assert.deepEqual(paper, { rows: 2, overflow: 'visible', cut: 0 });
    await tab.emulateMedia({ media: 'screen' });
    await tab.setViewportSize({ width: 1280, height: 860 });
  });

  it('draws every text at a contrast of 4.5:1 or more, light and dark', async () => {
    for (const colorScheme of ['light', 'dark']) {
      await tab.emulateMedia({ colorScheme });
      assert.deepEqual(await lowContrast(tab), [], colorScheme);
    }
    await tab.emulateMedia({ colorScheme: 'light' });
  });
});

describe('a page of hostile names', () => {
  const names = [
    '<img src=x onerror=window.__pwned=1>',
    'a&amp;b "double" \'single\'',
    'ctl\u0001\u001bend',
    'x<', // with the next entry's name, the path x</script>...
    'x</script><script>window.__pwned=2<',
    '<!-- comment',
    'invoice\u202efdp.exe',
    'csi\u009b31m',
    'iso\u2067late',
  ];
  let view;
  let tab;
  before(async () => {
    view = viewOfChange('hostile', [['keep', 'k']], (tree) => {
      makeTree(tree, [
        ...names.slice(0, 3).map((name) => [name, 'x']),
        [Buffer.from([0x62, 0xff, 0xfe, 0x2e, 0x74]), 'u'],
        ['x</script><script>window.__pwned=2</script>/', ''],
        ['<!-- comment/-->', 'h'],
        ...names.slice(6).map((name) => [name, 'x']),
        [Buffer.from('dir\xff/one', 'latin1'), '1'],
        [Buffer.from('dir\xfe/two', 'latin1'), '2'],
      ]);
    });
    tab = await open(view.page);
  });
  after(() => close(tab));

  it('shows every name as text, its hidden characters escaped, and runs none of them', async () => {
    const shown = (await table(tab)).rows.map((row) => row.path);
    // A control character shows as its picture; a C1 control, a
    // bidirectional override or isolate and a byte that is not UTF-8 as an
    // escape.
    const visible = (text) => text.replace(/[\u0000-\u001f]/g, (c) => String.fromCharCode(0x2400 + c.charCodeAt(0)))
      .replace(/[\u0080-\u009f\u202a-\u202e\u2066-\u2069]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).toUpperCase().padStart(4, '0'))
      .replace(/\ufffd/g, '?');
    const bytes = (text) => text.replace(/\\x[0-9A-F]{2}/g, '?');
    assert.deepEqual(shown.map(bytes), view.changes.map((c) => visible(c.path)));
    assert.ok(shown.includes(names[0]));
    assert.ok(shown.includes('b\\xFF\\xFE.t'));
    assert.ok(shown.includes('invoice\\u202Efdp.exe'));
    assert.ok(shown.includes('csi\\u009B31m'));
    assert.ok(shown.includes('iso\\u2067late'));
    assert.ok(shown.includes('x</script><script>window.__pwned=2</script>'));
    const boxed = await tab.$$eval('#rows .esc', (boxes) => boxes.map((box) => box.textContent));
    // The file b\xFF\xFE.t, the folders dir\xFF and dir\xFE and a file in each.
    assert.deepEqual(boxed.sort(), ['\\u009B', '\\u202E', '\\u2067', ...Array(3).fill('\\xFE'), ...Array(3).fill('\\xFF')]);
    assert.equal(await tab.evaluate(() => window.__pwned), undefined);
    assert.equal(await tab.locator('img').count(), 0);
    assert.equal(await tab.locator('script').count(), 3);
    assert.deepEqual(tab.errors, []);
  });

  it('keeps folders apart whose names differ only in bytes that are not UTF-8', async () => {
    const folders = await tab.$$eval('#tree [role="treeitem"][aria-level="2"] .name', (n) => n.map((e) => e.textContent));
    assert.deepEqual(folders.filter((name) => name.startsWith('dir')).sort(), ['dir\\xFE', 'dir\\xFF']);
    await tab.getByRole('treeitem', { name: /^dir\\xFF:/ }).locator('.label').click();
    assert.deepEqual((await table(tab)).rows.map((row) => row.path), ['dir\\xFF/one']);
    await tab.waitForFunction(() => location.hash.includes('folder='));
    assert.match(await tab.evaluate(() => location.hash), /folder=dir%FF(&|$)/);
    await tab.reload();
    await ready(tab);
    assert.deepEqual((await table(tab)).rows.map((row) => row.path), ['dir\\xFF/one']);
  });
});

describe('a page past its row limit', () => {
  let tab;
  let jsonl;
  before(async () => {
    // The changes as the view gives them, created last.
    const lines = execFileSync('python3', [process.env.DIRLOG_HTML_GEN, '3000', '7'], { maxBuffer: 1 << 28 })
      .toString().trim().split('\n');
    const summary = lines.pop();
    lines.sort((a, b) => a.includes('"kind":"created"') - b.includes('"kind":"created"'));
    jsonl = [...lines, summary].join('\n');
    const page = path.join(work, 'limited.html');
    fs.writeFileSync(page, execFileSync(process.env.DIRLOG_HTML_PAGE, ['1000'], { input: jsonl, maxBuffer: 1 << 28 }));
    tab = await open(page, { width: 420, height: 700 });
  });
  after(() => close(tab));

  it('lists an even share of every kind and says what it left out, in every box and tree node', async () => {
    assert.equal(await tab.evaluate(() => document.documentElement.scrollWidth), 420);
    const notice = await tab.locator('#notice').textContent();
    assert.match(notice, /lists 1,000 of the 3,000 changes, evenly spaced/);
    assert.match(notice, /--json lists them all/);
    const total = (await tab.$$eval('#cards li .value', (v) => v.slice(0, 5).map((x) => x.textContent)))
      .reduce((sum, n) => sum + Number(n.replace(/,/g, '')), 0);
    assert.equal(total, 3000);
    const created = await tab.getByRole('checkbox', { name: /created/ }).evaluate((box) => box.parentElement.textContent);
    const [, all, listed] = /\(([\d,]+); ([\d,]+) listed\)/.exec(created).map((n) => Number(n.replace(/,/g, '')));
    assert.ok(Math.abs(listed - all / 3) <= 1, created);
    assert.match(await tab.locator('#tree [role="treeitem"]').first().getAttribute('aria-label'), /; 2,000 not listed/);
    for (const kind of ['deleted', 'modified', 'moved', 'type']) await tab.getByRole('checkbox', { name: kind }).uncheck();
    assert.equal((await table(tab)).rows.every((row) => row.kind === 'created'), true);
    await tab.fill('#filter', 'no such path');
    assert.match((await table(tab)).empty, /left out [\d,]+ changes, which may match; dirlog-view --json/);
    await tab.fill('#filter', '');
  });

  it('draws only the rows in view, down to the last', async () => {
    await tab.evaluate(() => document.querySelectorAll('#kinds input').forEach((box) => box.checked || box.click()));
    const drawn = (await table(tab)).rows.length;
    assert.ok(drawn > 5 && drawn < 100, `${drawn} rows drawn`);
    await tab.locator('#scroller').evaluate((s) => { s.scrollTop = s.scrollHeight; });
    await tab.waitForTimeout(100);
    const listed = jsonl.split('\n').filter((_, n) => (n + 1) % 3 === 0);
    assert.equal((await table(tab)).rows.at(-1).path, JSON.parse(listed.at(-1)).path);
  });
});

describe('a page of 500,000 rows at a device pixel ratio of 2', () => {
  const count = 500000;
  let tab;
  let display;
  before(async () => {
    // A display of ratio 2 for the browser itself: the layout then counts
    // device pixels, and caps an element at 2^25 of them.
    display = await startChromium(['--force-device-scale-factor=2']);
    const lines = [];
    for (let i = 0; i < count; i++) {
      lines.push(`{"kind":"created","path":"f${i % 97}/row${i}","type":"file","size":{"new":${i},"diff":${i}}}`);
    }
    lines.push('{"summary":{"counts":{"created":500000}}}');
    const page = path.join(work, 'tall.html');
    fs.writeFileSync(page, execFileSync(process.env.DIRLOG_HTML_PAGE, [], { input: lines.join('\n'), maxBuffer: 1 << 28 }));
    tab = await open(page, { width: 1280, height: 800 }, { deviceScaleFactor: 2 }, display);
  });
  after(() => display.close());

  // The row numbers drawn in the table's view, first and last.
  const inView = () => tab.evaluate(() => {
    const box = document.getElementById('scroller').getBoundingClientRect();
    const seen = [...document.querySelectorAll('#rows tr:not(.spacer)')].filter((tr) => {
      const r = tr.getBoundingClientRect();
      return r.bottom > box.top + 40 && r.top < box.bottom;
    }).map((tr) => Number(/row(\d+)$/.exec(tr.querySelector('.c-path').title)[1]));
    return [seen[0], seen.at(-1)];
  });
  // Until a smooth scroll has ended and the rows are drawn: the scroll
  // position unchanged for 300 ms (a loaded machine may start the smooth
  // scroll a few frames late, so one still frame proves nothing).
  const settle = () => tab.evaluate(() => new Promise((done) => {
    const scroller = document.getElementById('scroller');
    let last = NaN;
    let stillSince = 0;
    const frame = (now) => {
      if (scroller.scrollTop !== last) {
        last = scroller.scrollTop;
        stillSince = now;
      } else if (now - stillSince >= 300) {
        return setTimeout(done, 50);
      }
      return requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
  }));

  it('reaches every row: its scroll range stays far below the browsers\' caps', async () => {
    const height = await tab.locator('#scroller').evaluate((s) => s.scrollHeight);
    assert.ok(height * 2 < 2 ** 23, `${height} CSS pixels`);
    await tab.locator('#scroller').focus();
    await tab.keyboard.press('End');
    await settle();
    assert.equal((await inView())[1], count - 1);
    // The scroll bar dragged: rows where its place in the whole says.
    for (const at of [0.25, 0.5, 0.75]) {
      await tab.locator('#scroller').evaluate((s, f) => { s.scrollTop = f * (s.scrollHeight - s.clientHeight); }, at);
      await settle();
      const [first] = await inView();
      assert.ok(Math.abs(first / count - at) < 0.01, `${first} at ${at}`);
    }
    // The wheel and the keys: row for row.
    const [first] = await inView();
    await tab.mouse.move(640, 600);
    for (let step = 0; step < 30; step++) await tab.mouse.wheel(0, 100);
    await settle();
    const rowHeight = await tab.evaluate(() => document.querySelector('#rows tr:not(.spacer)').offsetHeight);
    const moved = (await inView())[0] - first;
    assert.ok(Math.abs(moved - 3000 / rowHeight) <= 1, `${moved} rows for 3,000 pixels`);
    await tab.keyboard.press('Home');
    await settle();
    assert.equal((await inView())[0], 0);
  });
});
