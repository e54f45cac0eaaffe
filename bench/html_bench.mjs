#!/usr/bin/env node
// The --html page of a large change in headless chromium, made by this build
// and by another one (--before) from the same changes, opened in turns: its
// size, the time to first paint and to a usable table (the page's script
// done, rows drawn), the time a filter keystroke takes to draw the rows
// again, and the first sort.
//
//   node bench/html_bench.mjs --dirlog-view build/dirlog-view \
//     [--before OTHER/build/dirlog-view] [--entries 2200000 | --changes 1000000] [--runs 5]
//
// --entries makes two logs with bench/compare_gen.py (about 9% of the
// entries change, so 2,200,000 entries give some 200,000 changes) and pages
// with each dirlog-view. --changes writes that many changes as JSON Lines
// with bench/html_gen.py and makes the pages with the dirlog_html_page
// beside each dirlog-view, every row kept. Each run opens each page in a
// fresh browser context (1280x900); figures are medians, with the load
// average before and after. Needs the client of tests/browser
// (npm ci --prefix tests/browser).
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { startChromium } from '../tests/browser/chromium.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1] : fallback;
};
const builds = { after: option('--dirlog-view', path.join(here, '../build/dirlog-view')), before: option('--before') };
const changes = option('--changes');
const entries = option('--entries', '2200000');
const runs = Number(option('--runs', '5'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dirlog-html-bench-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const load = () => os.loadavg()[0].toFixed(1);
const commands = [];

function run(command, argv, options = {}) {
  commands.push([command, ...argv].join(' '));
  const started = performance.now();
  const done = spawnSync(command, argv, { maxBuffer: 1 << 30, ...options });
  // dirlog-view exits with 1 when it showed changes.
  if (done.status !== 0 && done.status !== 1) throw new Error(`${command}: ${done.stderr}`);
  return { out: done.stdout, ms: performance.now() - started };
}

// The pages, by build, and how many changes they hold.
const pages = {};
let count;
if (changes) {
  const jsonl = path.join(work, 'changes.jsonl');
  fs.writeFileSync(jsonl, run('python3', [path.join(here, 'html_gen.py'), changes]).out);
  count = Number(changes);
  for (const [build, view] of Object.entries(builds)) {
    if (!view) continue;
    pages[build] = path.join(work, `${build}.html`);
    const tool = path.join(path.dirname(view), 'dirlog_html_page');
    const made = run(tool, [String(count)], { input: fs.readFileSync(jsonl) });
    fs.writeFileSync(pages[build], made.out);
  }
} else {
  const before = path.join(work, 'dirlog1.txt');
  const after = path.join(work, 'dirlog2.txt');
  run('python3', [path.join(here, 'compare_gen.py'), entries, before, after]);
  for (const [build, view] of Object.entries(builds)) {
    if (!view) continue;
    pages[build] = path.join(work, `${build}.html`);
    run(view, [before, after, '--html', pages[build]]);
  }
  count = run(builds.after, [before, after, '--json']).out.toString().trim().split('\n').length - 1;
}

const browser = await startChromium();
async function measure(file) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const tab = await context.newPage();
  const started = performance.now();
  await tab.goto('file://' + file, { timeout: 300000 });
  await tab.waitForFunction(() => performance.getEntriesByName('dirlog-ready').length > 0, null, { timeout: 300000 });
  const loaded = performance.now() - started;
  const timings = await tab.evaluate(() => ({
    paint: performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN,
    ready: performance.getEntriesByName('dirlog-ready')[0].startTime,
  }));
  // A person's first key comes a moment after the table shows; then each
  // key of "src/lib", the time from the input to the rows drawn again as
  // the page measures it, and a sort by size difference.
  await tab.waitForTimeout(1000);
  const updates = () => tab.evaluate(() => performance.getEntriesByName('dirlog-update').map((e) => e.duration));
  const before = (await updates()).length;
  const text = 'src/lib';
  for (let i = 1; i <= text.length; i++) await tab.fill('#filter', text.slice(0, i));
  await tab.fill('#filter', '');
  await tab.click('th button[data-sort="size"]');
  const measured = (await updates()).slice(before);
  await context.close();
  return { ...timings, loaded, first: measured[0], key: median(measured.slice(0, text.length + 1)),
    slowest: Math.max(...measured.slice(0, text.length + 1)), sort: measured.at(-1) };
}

const results = Object.fromEntries(Object.keys(pages).map((build) => [build, []]));
const loadBefore = load();
for (let i = 0; i < runs; i++) {
  for (const build of Object.keys(pages)) results[build].push(await measure(pages[build]));
}
const loadAfter = load();
await browser.close();

const names = Object.keys(pages);
const m = (build, key) => median(results[build].map((r) => r[key]));
const cells = (key, format) => names.map((build) => format(m(build, key)));
const ratio = (key) => (pages.before ? ` ${(m('after', key) / m('before', key)).toFixed(2)} |` : '');
const row = (label, key) => console.log(`| ${label} | ${cells(key, (v) => `${v.toFixed(0)} ms`).join(' | ')} |${ratio(key)}`);
const size = (build) => fs.statSync(pages[build]).size;
console.log(`${count.toLocaleString('en-US')} changes${changes ? ' from bench/html_gen.py' : ` from ${Number(entries).toLocaleString('en-US')}-entry logs`}; ` +
  `medians of ${runs} runs, the builds in turns, each page in a fresh browser context (1280x900); ` +
  `load average ${loadBefore} before, ${loadAfter} after (${os.cpus().length} cores)\n`);
console.log(`| ${count.toLocaleString('en-US')}-change page | ${names.join(' | ')} |${pages.before ? ' after / before |' : ''}`);
console.log(`|---|${names.map(() => '---|').join('')}${pages.before ? '---|' : ''}`);
console.log(`| size | ${names.map((b) => (size(b) / 1048576).toFixed(1) + ' MiB').join(' | ')} |` +
  (pages.before ? ` ${(size('after') / size('before')).toFixed(2)} |` : ''));
console.log(`| bytes per change | ${names.map((b) => (size(b) / count).toFixed(0)).join(' | ')} |` +
  (pages.before ? ` ${(size('after') / size('before')).toFixed(2)} |` : ''));
row('first contentful paint', 'paint');
row('table usable (script done, rows drawn)', 'ready');
row('load, as the driver saw it', 'loaded');
row('first filter keystroke', 'first');
row('filter keystroke, median of "src/lib" typed and cleared', 'key');
row('filter keystroke, slowest of them', 'slowest');
row('first sort by size difference', 'sort');
console.log('\nCommands:');
for (const command of commands) console.log('  ' + command);
console.log(`  node bench/html_bench.mjs ${args.join(' ')}`);
