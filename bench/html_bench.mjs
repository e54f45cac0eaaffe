#!/usr/bin/env node
// The --html page of a large change in headless chromium: its size, the time
// to first paint, to a usable table (the page's script done, rows drawn), to
// a filter's result and to a sort, beside a reference measured in the same
// run: the same page whose script only reads its data.
//
//   node bench/html_bench.mjs --dirlog-view build/dirlog-view [--entries 2200000] [--runs 5]
//
// The logs come from bench/compare_gen.py (about 9% of the entries change,
// so 2,200,000 entries give some 200,000 changes). Each run opens the page
// in a fresh browser context; figures are medians. Needs the client of
// tests/browser (npm ci --prefix tests/browser).
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
const view = option('--dirlog-view', path.join(here, '../build/dirlog-view'));
const entries = option('--entries', '2200000');
const runs = Number(option('--runs', '5'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dirlog-html-bench-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const commands = [];

function run(command, argv, options = {}) {
  commands.push([command, ...argv].join(' '));
  const started = performance.now();
  const out = execFileSync(command, argv, { maxBuffer: 1 << 30, ...options });
  return { out, ms: performance.now() - started };
}

const before = path.join(work, 'dirlog1.txt');
const after = path.join(work, 'dirlog2.txt');
const page = path.join(work, 'page.html');
run('python3', [path.join(here, 'compare_gen.py'), entries, before, after]);
// dirlog-view exits with 1 when it showed changes.
function runView(argv) {
  commands.push([view, ...argv].join(' '));
  const started = performance.now();
  const done = spawnSync(view, argv, { maxBuffer: 1 << 30 });
  if (done.status !== 1) throw new Error(`${view} ${argv.join(' ')}: ${done.stderr}`);
  return { out: done.stdout, ms: performance.now() - started };
}
const made = runView([before, after, '--html', page]);
const jsonRun = runView([before, after, '--json']);
const json = jsonRun.out;
const changes = json.toString().trim().split('\n').slice(0, -1).map((line) => JSON.parse(line));

// The reference: the same page with its script cut down to reading the
// data (JSON.parse of the rows), so the ratios show what the summary, the
// tree and the drawn rows add to the floor any page of this data pays.
// (One static <table> of 200,000 rows did not finish loading in 120 s here.)
const reference = path.join(work, 'data-only.html');
const full = fs.readFileSync(page, 'latin1');
const scriptAt = full.lastIndexOf('<script nonce="dirlog-page">');
fs.writeFileSync(reference, full.slice(0, scriptAt) + '<script nonce="dirlog-page">' +
  'JSON.parse(document.getElementById("dirlog-rows").textContent);' +
  'JSON.parse(document.getElementById("dirlog-summary").textContent);' +
  'performance.mark("dirlog-ready")</script></body></html>', 'latin1');

const browser = await startChromium();
async function measure(file, interact) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const tab = await context.newPage();
  const started = performance.now();
  await tab.goto('file://' + file, { timeout: 120000 });
  await tab.waitForFunction(() => performance.getEntriesByName('dirlog-ready').length > 0);
  const loaded = performance.now() - started;
  const timings = await tab.evaluate(() => ({
    paint: performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN,
    ready: performance.getEntriesByName('dirlog-ready')[0].startTime,
  }));
  Object.assign(timings, { loaded }, interact ? await interact(tab) : {});
  await context.close();
  return timings;
}

// Typing into the filter box and sorting by size difference: the time from
// the input to the table drawn again, as the page measures it.
async function interact(tab) {
  const updates = () => tab.evaluate(() => performance.getEntriesByName('dirlog-update').map((e) => e.duration));
  const before = (await updates()).length;
  await tab.fill('#filter', 'src');
  await tab.fill('#filter', 'src/lib');
  await tab.click('th button[data-sort="size"]');
  const [filter, narrower, sort] = (await updates()).slice(before);
  return { filter, narrower, sort };
}

const results = { page: [], reference: [] };
for (let i = 0; i < runs; i++) {
  results.page.push(await measure(page, interact));
  results.reference.push(await measure(reference));
}
await browser.close();

const m = (list, key) => median(list.map((r) => r[key]));
const row = (label, key) => {
  const ours = m(results.page, key);
  const theirs = key in results.reference[0] ? m(results.reference, key) : NaN;
  const ratio = Number.isNaN(theirs) ? '' : (ours / theirs).toFixed(2);
  console.log(`| ${label} | ${ours.toFixed(0)} ms | ${Number.isNaN(theirs) ? '-' : theirs.toFixed(0) + ' ms'} | ${ratio} |`);
};
const mib = (file) => (fs.statSync(file).size / 1048576).toFixed(1) + ' MiB';
console.log(`${changes.length.toLocaleString('en-US')} changes from ${Number(entries).toLocaleString('en-US')}-entry logs; ` +
  `medians of ${runs} runs, each in a fresh browser context (1280x900)`);
console.log(`dirlog-view --html took ${made.ms.toFixed(0)} ms, --json ${jsonRun.ms.toFixed(0)} ms (one run each)\n`);
console.log(`| ${changes.length.toLocaleString('en-US')}-change page | --html page | data read only | ratio |`);
console.log('|---|---|---|---|');
console.log(`| size | ${mib(page)} | ${mib(reference)} | |`);
row('first contentful paint', 'paint');
row('table usable (script done, rows drawn)', 'ready');
row('load, as the driver saw it', 'loaded');
row('filter "src": rows drawn again', 'filter');
row('filter "src/lib": rows drawn again', 'narrower');
row('first sort by size difference', 'sort');
console.log('\nCommands:');
for (const command of commands) console.log('  ' + command);
console.log(`  node bench/html_bench.mjs ${args.join(' ')}`);
