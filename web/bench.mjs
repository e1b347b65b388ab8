// The page's benchmark: kits built in the page in each engine and way of
// reading (chromium, chromium without BYOB readers, firefox-esr, WebKitGTK
// served and from disk), beside the command line's time for the same
// folder, measured in the same run.
//
//   KITWEAVER_BINARY         the command line's kitweaver
//   KITWEAVER_PAGE           build-web/index.html
//   KITWEAVER_ENGINES        (optional) some of chromium,firefox,webkit
//   KITWEAVER_BASELINE_PAGE  (optional) another build of the page, timed on
//                            the big kit beside this one in chromium
//
// For each kit and mode it prints the medians of several runs, each way
// taking its turn in every round, then the command line: the page's build
// time (from the click on Build to the finished run, as the page sees it),
// the command line's, the growth of all the browser's processes' resident
// memory during the build and the core's WebAssembly memory after it; and
// over all runs, the longest task on the page's main thread (the Long
// Tasks API, chromium's alone, reports those of 50 ms or more; "-" when
// there was none) and the longest the main thread went without running a
// 5 ms timer. The page is 1024 pixels wide or more, and each build starts a
// second after its files were added, as a person would click.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { enginesWanted, launch, serve, startDisplay, startSound, stopAll, withoutByob } from './browsers.mjs';

const binary = process.env.KITWEAVER_BINARY;
const pageFile = process.env.KITWEAVER_PAGE;
const baselineFile = process.env.KITWEAVER_BASELINE_PAGE;
if (!binary || !pageFile) {
  console.error('set KITWEAVER_BINARY and KITWEAVER_PAGE');
  process.exit(2);
}
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kitweaver-web-bench-'));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// The header of a PCM WAV file declaring `dataBytes` bytes of sound.
function wavHeader(channels, rate, bits, dataBytes) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE((rate * channels * bits) / 8, 28);
  header.writeUInt16LE((channels * bits) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

// A WAV file of `seconds` of 24-bit stereo 96 kHz: a decaying tone with noise.
function bigWav(file, seconds, index) {
  const frames = Math.round(seconds * 96000);
  const out = fs.openSync(file, 'w');
  fs.writeSync(out, wavHeader(2, 96000, 24, frames * 6));
  const block = Buffer.alloc(96000 * 6);
  let noise = index + 1;
  for (let at = 0; at < frames; at += 96000) {
    const count = Math.min(96000, frames - at);
    for (let i = 0; i < count; ++i) {
      const t = (at + i) / 96000;
      noise = (noise * 1664525 + 1013904223) >>> 0;
      const v = 0.6 * Math.sin(2 * Math.PI * (110 + 20 * index) * t) * Math.exp(-t / 2) + 0.1 * (noise / 2 ** 31 - 1);
      const sample = Math.round(v * 8388607);
      block.writeIntLE(sample, 6 * i, 3);
      block.writeIntLE(sample, 6 * i + 3, 3);
    }
    fs.writeSync(out, block, 0, count * 6);
  }
  fs.closeSync(out);
}

// A sparse file whose header declares `bytes` of 16-bit mono sound.
function sparseWav(file, bytes) {
  fs.writeFileSync(file, wavHeader(1, 44100, 16, bytes));
  fs.truncateSync(file, 44 + bytes);
}

function makeKit(name, count, make) {
  const dir = path.join(scratch, name);
  fs.mkdirSync(dir);
  for (let i = 0; i < count; ++i) make(path.join(dir, `sound ${String(i).padStart(2, '0')}.wav`), i);
  return dir;
}

// Resident memory of a process and all its descendants, in bytes.
function treeMemory(root) {
  const children = new Map();
  const rss = new Map();
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const parent = Number(fields[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(pid));
      rss.set(Number(pid), Number(fields[21]) * 4096);
    } catch {
      // gone in between
    }
  }
  let total = 0;
  for (const stack = [root]; stack.length > 0;) {
    const pid = stack.pop();
    total += rss.get(pid) ?? 0;
    stack.push(...(children.get(pid) ?? []));
  }
  return total;
}

function commandLineMs(dir, hq) {
  const args = hq ? ['--hq', path.basename(dir)] : [path.basename(dir)];
  const start = process.hrtime.bigint();
  spawnSync(binary, args, { cwd: path.dirname(dir), stdio: 'ignore' });
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  fs.rmSync(path.join(dir, 'samplepack.aif'), { force: true });
  return ms;
}

// One build in a freshly loaded page: its time, memory growth, core memory,
// longest task and the longest gap between two runs of a 5 ms timer on the
// main thread.
async function pageBuild(tab, url, dir, { device, seconds, hq }) {
  await tab.goto(url);
  // The worker is ready (a page of an earlier release doesn't say so).
  await tab.waitFor(() => document.body.dataset.reading !== undefined || performance.now() > 5000);
  await tab.upload('#files', fs.readdirSync(dir).filter((f) => f.endsWith('.wav')).map((f) => path.join(dir, f)));
  await tab.evaluate((value, length, on) => {
    document.querySelector('#device').value = value;
    document.querySelector('#device').dispatchEvent(new Event('change', { bubbles: true }));
    if (length) document.querySelector('#seconds').value = length;
    const box = document.querySelector('#hq');
    if (box) box.checked = on;
  }, device, seconds ? String(seconds) : null, hq);
  await new Promise((resolve) => { setTimeout(resolve, 1000); });
  await tab.evaluate(() => {
    window.benchTask = null;  // not measured in an engine without the Long Tasks API
    if ((PerformanceObserver.supportedEntryTypes || []).includes('longtask')) {
      window.benchTask = 0;
      new PerformanceObserver((list) => {
        for (const task of list.getEntries()) window.benchTask = Math.max(window.benchTask, task.duration);
      }).observe({ type: 'longtask' });
    }
    window.benchGap = 0;
    let last = performance.now();
    window.benchTimer = setInterval(() => {
      const now = performance.now();
      window.benchGap = Math.max(window.benchGap, now - last);
      last = now;
    }, 5);
    document.querySelector('#build').addEventListener('click', () => { window.benchStart = performance.now(); }, { capture: true });
    new MutationObserver(() => {
      if (['built', 'failed'].includes(document.body.dataset.state) && window.benchEnd === undefined) {
        window.benchEnd = performance.now();
      }
    }).observe(document.body, { attributes: true });
  });
  const before = treeMemory(tab.pid);
  let peak = before;
  const sampler = setInterval(() => { peak = Math.max(peak, treeMemory(tab.pid)); }, 20);
  await tab.click('#build');
  await tab.waitFor(() => window.benchEnd !== undefined);
  clearInterval(sampler);
  peak = Math.max(peak, treeMemory(tab.pid));
  const result = await tab.evaluate(() => {
    clearInterval(window.benchTimer);
    return { ms: window.benchEnd - window.benchStart, gap: window.benchGap, task: window.benchTask,
             state: document.body.dataset.state, reading: document.body.dataset.reading,
             core: Number(document.body.dataset.coreMemory || 0) };
  });
  if (result.state !== 'built') throw new Error(`the page failed to build ${dir}`);
  return { ...result, growth: peak - before };
}

const kits = [
  { name: 'big', folder: 'kit', device: 'op1', count: 24, make: (f, i) => bigWav(f, 8, i), rounds: 5 },
  { name: 'long', folder: 'kit PO-33.40', device: 'po33', seconds: 40, count: 7, make: (f, i) => bigWav(f, 87, i), rounds: 3 },
  { name: 'huge', folder: 'kit', device: 'op1', count: 24, make: (f) => sparseWav(f, 1e9), rounds: 3 },
];

// The ways the page is measured: each engine, chromium once more without
// BYOB readers, WebKit served and from disk (it reads differently).
const engines = enginesWanted();
const ways = [
  { label: 'chromium', engine: 'chromium' },
  { label: 'chromium, no BYOB', engine: 'chromium', change: withoutByob },
  { label: 'firefox', engine: 'firefox' },
  { label: 'webkit, served', engine: 'webkit', served: true },
  { label: 'webkit, from disk', engine: 'webkit' },
].filter((way) => engines.includes(way.engine));

const mb = (bytes) => (bytes / 2 ** 20).toFixed(1);
const column = (text, width) => String(text).padStart(width);
try {
  const env = { ...await startSound(scratch), ...(engines.includes('webkit') ? await startDisplay() : {}) };
  const origin = await serve({ '/index.html': pageFile });
  for (const way of ways) {
    way.tab = await launch(way.engine, { env, scratch, screen: { width: 1280, height: 800 } });
    if (way.change) await way.tab.alter(way.change);
    way.url = way.served ? `${origin}/index.html` : pathToFileURL(pageFile).href;
  }
  console.log(`\nThe page in each engine (${os.cpus().length} cores); medians; times in ms, memory in MiB`);
  console.log(`${'kit'.padEnd(10)} ${'way'.padEnd(26)} ${column('input', 7)} ${column('page', 6)} ${column('command line', 12)}`
              + ` ${column('ratio', 5)} ${column('growth', 6)} ${column('core', 5)} ${column('task', 5)} ${column('gap', 5)}`);
  for (const kit of kits) {
    const dir = makeKit(kit.folder, kit.count, kit.make);
    const input = fs.readdirSync(dir).reduce((sum, f) => sum + fs.statSync(path.join(dir, f)).size, 0);
    spawnSync('cat', fs.readdirSync(dir).map((f) => path.join(dir, f)), { stdio: 'ignore' });  // warm the page cache
    for (const hq of kit.name === 'huge' ? [false] : [false, true]) {
      const runs = new Map(ways.map((way) => [way, []]));
      const line = [];
      for (let i = 0; i < kit.rounds; ++i) {
        for (const way of ways) runs.get(way).push(await pageBuild(way.tab, way.url, dir, { ...kit, hq }));
        line.push(commandLineMs(dir, hq));
      }
      const cli = median(line);
      for (const way of ways) {
        const all = runs.get(way);
        const page = median(all.map((r) => r.ms));
        const task = all.some((r) => r.task === null) ? '?' : Math.max(...all.map((r) => r.task)) || '-';
        console.log(`${`${kit.name}${hq ? ' --hq' : ''}`.padEnd(10)} ${`${way.label} (${all[0].reading})`.padEnd(26)}`
                    + ` ${column((input / 1e6).toFixed(1), 7)} ${column(page.toFixed(0), 6)} ${column(cli.toFixed(1), 12)}`
                    + ` ${column((page / cli).toFixed(1), 5)} ${column(mb(median(all.map((r) => r.growth))), 6)}`
                    + ` ${column(mb(Math.max(...all.map((r) => r.core))), 5)} ${column(String(task).replace(/\.\d+/, ''), 5)}`
                    + ` ${column(Math.max(...all.map((r) => r.gap)).toFixed(0), 5)}`);
      }
    }
    const chromium = ways.find((way) => way.label === 'chromium');
    if (kit.name === 'big' && baselineFile && chromium) {
      const baseline = [];
      for (let i = 0; i < kit.rounds; ++i) {
        baseline.push(await pageBuild(chromium.tab, pathToFileURL(baselineFile).href, dir, { ...kit, hq: false }));
      }
      console.log(`${'big'.padEnd(10)} ${'chromium, baseline page'.padEnd(26)} ${column((input / 1e6).toFixed(1), 7)}`
                  + ` ${column(median(baseline.map((r) => r.ms)).toFixed(0), 6)} ${''.padStart(12)} ${''.padStart(5)}`
                  + ` ${column(mb(median(baseline.map((r) => r.growth))), 6)}`);
    }
    fs.rmSync(dir, { recursive: true, force: true });
  }
} finally {
  for (const way of ways) await way.tab?.close();
  await stopAll();
  fs.rmSync(scratch, { recursive: true, force: true });
}
