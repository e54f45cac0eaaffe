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
    fs.mkdirSync(isFolder ? target : path.dirname(target.toString('latin1')), { recursive: true });
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

async function open(page, viewport = { width: 1280, height: 860 }) {
  const tab = await browser.newPage({ viewport });
  const errors = [];
  tab.on('pageerror', (error) => errors.push(String(error)));
  tab.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  await tab.goto('file://' + page);
  await tab.waitForFunction(() => performance.getEntriesByName('dirlog-ready').length > 0);
  tab.errors = errors;
  return tab;
}

// What the table shows now: each drawn row's kind, path and size title,
// and the "N of M changes listed" line.
async function table(tab) {
  return tab.evaluate(() => ({
    rows: [...document.querySelectorAll('#rows tr:not(.spacer)')].map((tr) => ({
      kind: tr.className.replace('k-', ''),
      path: tr.querySelector('.c-path .line, .c-path .clamp')?.textContent,
      size: tr.querySelector('.c-size')?.title,
    })),
    count: document.getElementById('count').textContent,
  }));
}

const sizeDiff = (title) => Number(/\(([-+]?\d+)\)$/.exec(title)[1]);

describe('a page of a real change', () => {
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
    });
    tab = await open(view.page);
  });
  after(async () => {
    if (process.env.DIRLOG_BROWSER_OUT) {
      fs.mkdirSync(process.env.DIRLOG_BROWSER_OUT, { recursive: true });
      await tab.screenshot({ path: path.join(process.env.DIRLOG_BROWSER_OUT, 'dirlog-view-html.png') });
    }
    await tab.close();
  });

  it('shows the counts and bytes of the summary, and every row', async () => {
    const cards = await tab.$$eval('#cards li', (items) =>
      items.map((li) => [li.querySelector('.label').textContent, li.querySelector('.value').textContent,
        li.querySelector('.exact')?.textContent]));
    const { counts, bytes } = view.summary;
    assert.deepEqual(cards.slice(0, 5).map(([, value]) => Number(value.replace(/,/g, ''))),
      [counts.created, counts.deleted, counts.modified, counts.moved, counts.type]);
    assert.equal(counts.deleted, 2);
    assert.equal(counts.type, 1);
    assert.equal(cards[5][2], `${bytes.added.toLocaleString('en-US')} bytes`);
    assert.equal(cards[6][2], `${bytes.removed.toLocaleString('en-US')} bytes`);
    assert.equal(await tab.textContent('#logs dd:last-child'), `dirlog-view ${view.summary.version}`);
    const shown = await table(tab);
    assert.equal(shown.count, `${view.changes.length} of ${view.changes.length} changes listed`);
    assert.deepEqual(shown.rows.map((row) => row.path), view.changes.map((change) => change.path));
    assert.deepEqual(tab.errors, []);
  });

  it('narrows the rows to paths holding the filter text', async () => {
    await tab.fill('#filter', 'LIB/');
    const shown = await table(tab);
    assert.deepEqual(shown.rows.map((row) => row.path).sort(), ['lib/libx.so', 'lib/plugins', 'lib/plugins/p1.so']);
    assert.match(shown.count, /^3 of /);
    await tab.fill('#filter', '');
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

  it('lists only what changed below a folder chosen in the tree', async () => {
    const lib = view.summary.rollups.find((r) => r.folder === 'lib');
    await tab.getByRole('button', { name: /^lib\b/ }).click();
    let shown = await table(tab);
    assert.ok(shown.rows.every((row) => row.path.startsWith('lib/')));
    assert.equal(shown.rows.length, lib.created + lib.deleted + lib.modified + lib.moved + lib.type);
    // A deeper folder, once its parent is opened.
    await tab.getByRole('button', { name: 'Subfolders of docs' }).click();
    await tab.getByRole('button', { name: /^guide\b/ }).click();
    shown = await table(tab);
    assert.deepEqual(shown.rows.map((row) => row.path), ['docs/guide/c.md']);
    await tab.getByRole('button', { name: 'All folders' }).click();
    assert.equal((await table(tab)).rows.length, view.changes.length);
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
  ];
  let view;
  let tab;
  before(async () => {
    view = viewOfChange('hostile', [['keep', 'k']], (tree) => {
      makeTree(tree, [
        [names[0], 'i'],
        [names[1], 'q'],
        [names[2], 'c'],
        [Buffer.from([0x62, 0xff, 0xfe, 0x2e, 0x74]), 'u'],
        ['x</script><script>window.__pwned=2</script>/', ''],
        ['<!-- comment/-->', 'h'],
      ].map(([name, contents]) => [name, contents]));
    });
    tab = await open(view.page);
  });
  after(() => tab.close());

  it('shows every name as text and runs none of them', async () => {
    const shown = (await table(tab)).rows.map((row) => row.path);
    // The page shows a control character as its picture, as the log keeps it.
    const expected = view.changes.map((c) => c.path.replace(/[\u0000-\u001f]/g,
      (ch) => String.fromCharCode(0x2400 + ch.charCodeAt(0))));
    assert.deepEqual(shown, expected);
    assert.ok(shown.includes(names[0]));
    assert.ok(shown.includes('b\ufffd\ufffd.t'));
    assert.ok(shown.includes('x</script><script>window.__pwned=2</script>'));
    assert.equal(await tab.evaluate(() => window.__pwned), undefined);
    assert.equal(await tab.locator('img').count(), 0);
    assert.equal(await tab.locator('script').count(), 3);
    assert.deepEqual(tab.errors, []);
  });
});

describe('a page past its row limit', () => {
  it('keeps the summary and tree whole, says how many rows it left out, draws only rows in view', async () => {
    const jsonl = execFileSync('python3', [process.env.DIRLOG_HTML_GEN, '3000', '7'], { maxBuffer: 1 << 28 });
    const page = path.join(work, 'limited.html');
    fs.writeFileSync(page, execFileSync(process.env.DIRLOG_HTML_PAGE, ['1000'], { input: jsonl, maxBuffer: 1 << 28 }));
    // A narrow window: the page itself never scrolls sideways, only the table.
    const tab = await open(page, { width: 420, height: 700 });
    assert.equal(await tab.evaluate(() => document.documentElement.scrollWidth), 420);
    const notice = await tab.locator('#notice').textContent();
    assert.match(notice, /first 1,000 changes; 2,000 more were left out/);
    assert.match(notice, /--json lists them all/);
    assert.equal(await tab.locator('#count').textContent(), '1,000 of 1,000 changes listed');
    const root = await tab.locator('.tree .pick').first().textContent();
    const total = (await tab.$$eval('#cards li .value', (v) => v.slice(0, 5).map((x) => x.textContent)))
      .reduce((sum, n) => sum + Number(n.replace(/,/g, '')), 0);
    assert.equal(total, 3000);
    assert.match(root, /\+\d/);
    const drawn = (await table(tab)).rows.length;
    assert.ok(drawn > 5 && drawn < 100, `${drawn} rows drawn`);
    await tab.locator('#scroller').evaluate((s) => { s.scrollTop = s.scrollHeight; });
    await tab.waitForTimeout(100);
    const last = JSON.parse(execFileSync('sed', ['-n', '1000p'], { input: jsonl }).toString()).path;
    assert.equal((await table(tab)).rows.at(-1).path, last);
    await tab.close();
  });
});
