// The page in Debian's chromium, headless, against the command line: the
// same files in the same order must give the same lines and the same pack.
//
//   KITWEAVER_BINARY     the command line's kitweaver
//   KITWEAVER_PAGE       build-web/index.html
//   KITWEAVER_INSPECT    (optional) kitweaver-inspect, whose table the page must show
//   KITWEAVER_SCREENSHOT (optional) where to save a picture of the page after a build
//   KITWEAVER_PHONE_SCREENSHOT (optional) and one of the page on a phone
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import puppeteer from 'puppeteer-core';

const binary = process.env.KITWEAVER_BINARY;
const pageUrl = pathToFileURL(process.env.KITWEAVER_PAGE ?? '').href;
const examples = new URL('../../examples/', import.meta.url).pathname;

let browser;
let page;
const pageErrors = [];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kitweaver-web-'));

before(async () => {
  assert.ok(binary && process.env.KITWEAVER_PAGE, 'set KITWEAVER_BINARY and KITWEAVER_PAGE');
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
           `--user-data-dir=${path.join(scratch, 'profile')}`],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => pageErrors.push(error.message));
});

after(async () => {
  await browser?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(pageErrors, [], 'the page threw');
});

// A folder `name` under the scratch folder holding `files` ({name: bytes}),
// or a copy of an example folder.
function folder(name, files) {
  const dir = path.join(scratch, name);
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir);
  for (const [file, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, file), bytes);
  return dir;
}
// Only the recordings are copied: `make demo` leaves a pack in the example.
function copyOf(example, name) {
  const dir = folder(name, {});
  for (const file of fs.readdirSync(path.join(examples, example)).filter((f) => f.endsWith('.wav'))) {
    fs.copyFileSync(path.join(examples, example, file), path.join(dir, file));
  }
  return dir;
}

// The entries of a folder in the order the system lists them, as
// `kitweaver` reads them.
function listingOrder(dir) {
  const names = [];
  const listing = fs.opendirSync(dir);
  for (let entry; (entry = listing.readSync()) !== null;) names.push(entry.name);
  listing.closeSync();
  return names;
}

// `kitweaver NAME` (or `kitweaver --hq NAME`) run from the folder above, as
// the page runs it.
function commandLine(dir, { hq = false } = {}) {
  fs.rmSync(path.join(dir, 'samplepack.aif'), { force: true });
  const args = hq ? ['--hq', path.basename(dir)] : [path.basename(dir)];
  const run = spawnSync(binary, args, { cwd: path.dirname(dir), encoding: 'utf8' });
  const packPath = path.join(dir, 'samplepack.aif');
  const pack = fs.existsSync(packPath) ? fs.readFileSync(packPath) : null;
  fs.rmSync(packPath, { force: true });
  return { status: run.status, log: run.stdout, pack };
}

async function openPage() {
  await page.goto(pageUrl, { waitUntil: 'load' });
  assert.equal(await page.$eval('body', (b) => b.dataset.state), 'idle');
  assert.equal(await page.$eval('#hq', (box) => box.checked), true, 'high quality is ticked when the page opens');
}

async function addFiles(paths) {
  const input = await page.$('#files');
  await input.uploadFile(...paths);
}

// Builds in the page (as the command line's default run unless `hq`);
// returns the state, the lines and the pack.
async function build({ device = 'op1', seconds, hq = false } = {}) {
  await page.select('#device', device);
  await page.$eval('#hq', (box, on) => { box.checked = on; }, hq);
  if (seconds !== undefined) {
    await page.$eval('#seconds', (input, value) => { input.value = value; }, String(seconds));
  }
  await page.click('#build');
  await page.waitForFunction(() => ['built', 'failed'].includes(document.body.dataset.state));
  return page.evaluate(async () => {
    const link = document.querySelector('#download');
    let pack = null;
    if (link.href) {
      const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
      pack = Array.from(bytes, (b) => String.fromCharCode(b)).join('');
    }
    return { state: document.body.dataset.state, log: document.querySelector('#log').textContent,
             pack: pack === null ? null : btoa(pack) };
  }).then((r) => ({ ...r, pack: r.pack === null ? null : Buffer.from(r.pack, 'base64') }));
}

// Waits until the key table and the picture are shown too: they follow the
// build, the picture once it is scrolled into view.
async function viewShown() {
  await page.waitForFunction(() => document.querySelector('#table').textContent !== '');
  await page.$eval('#picture', (picture) => picture.scrollIntoView());
  await page.waitForFunction(() => document.querySelector('#picture svg') !== null);
  await page.evaluate(() => { window.scrollTo(0, 0); });
}

// A pack's slices: [start, end] frames of each key, and the sound.
function slices(pack) {
  const chunks = {};
  for (let at = 12; at + 8 <= pack.length;) {
    const size = pack.readUInt32BE(at + 4);
    chunks[pack.toString('latin1', at, at + 4)] = pack.subarray(at + 8, at + 8 + size);
    at += 8 + size + (size & 1);
  }
  const metadata = JSON.parse(chunks.APPL.toString('latin1', 4).trim());
  const sound = chunks.SSND.subarray(8);
  return metadata.start.map((start, key) => {
    const first = Math.floor(start / 4056);
    const last = Math.floor(metadata.end[key] / 4056);
    return { first, last, reverse: metadata.reverse[key], bytes: sound.subarray(2 * first, 2 * last + 2) };
  });
}

// The header of a WAV file of `dataBytes` bytes of 16-bit mono (or, with
// `format` 3, 32-bit float) at 44.1 kHz.
function wavHeader(format, bits, dataBytes) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(format, 20);
  header.writeUInt16LE(1, 22);
  header.writeUInt32LE(44100, 24);
  header.writeUInt32LE((44100 * bits) / 8, 28);
  header.writeUInt16LE(bits / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

// A WAV file: `format` 1 for PCM, 3 for float, and `frames` of a ramp.
function wav(format, bits, frames) {
  const data = Buffer.alloc((frames * bits) / 8);
  for (let i = 0; i < frames; ++i) {
    if (bits === 16) data.writeInt16LE((i % 200) * 100 - 10000, 2 * i);
    else data.writeFloatLE(((i % 200) - 100) / 100, 4 * i);
  }
  return Buffer.concat([wavHeader(format, bits, data.length), data]);
}

// The paths of the list's names, and the names in the run's lines.
const runNames = (log) => log.split('\n').filter((line) => line.startsWith('[')).map((line) => line.slice(5, -1));

test('the demo kits in listing order give the command line\'s lines and packs', async () => {
  for (const [example, name, options] of [
    ['demo kit', 'kit', { hq: true }],
    ['pocket kit PO-33.8', 'kit PO-33.8', { device: 'po33', seconds: 8 }],
  ]) {
    const dir = copyOf(example, name);
    const expected = commandLine(dir, options);
    await openPage();
    await addFiles(listingOrder(dir).map((file) => path.join(dir, file)));
    const built = await build(options);
    assert.equal(built.state, 'built', example);
    assert.equal(built.log, expected.log, example);
    assert.ok(expected.pack && built.pack.equals(expected.pack), `${example}: the packs differ`);
    if (process.env.KITWEAVER_SCREENSHOT && name === 'kit') {
      await page.setViewport({ width: 1280, height: 900 });
      await viewShown();
      await page.click('#keys button[data-key="2"]');  // selected, to show its form
      await page.waitForFunction(() => !document.querySelector('#keys button[data-key="2"]').dataset.playing);
      await page.screenshot({ path: process.env.KITWEAVER_SCREENSHOT, fullPage: true });
    }
  }
});

test('ticked, high-quality resampling gives the command line\'s --hq lines and pack', async () => {
  // Ten files into a 4 s PO-33 pack: every slice is shortened, chords too.
  const dir = folder('kit PO-33.4', {});
  for (const example of ['demo kit', 'chords']) {
    for (const file of fs.readdirSync(path.join(examples, example)).filter((f) => f.endsWith('.wav'))) {
      fs.copyFileSync(path.join(examples, example, file), path.join(dir, file));
    }
  }
  const expected = commandLine(dir, { hq: true });
  assert.match(expected.log, /High-quality resampling\n[^]*resampling to 9822Hz/);
  await openPage();
  await addFiles(listingOrder(dir).map((file) => path.join(dir, file)));
  const built = await build({ device: 'po33', seconds: 4, hq: true });
  assert.equal(built.log, expected.log);
  assert.ok(expected.pack && built.pack.equals(expected.pack), 'the --hq packs differ');
});

test('moving a file down swaps its keys with the next file\'s', async () => {
  const dir = copyOf('demo kit', 'kit');
  const paths = listingOrder(dir).map((file) => path.join(dir, file));
  await openPage();
  await addFiles(paths);
  const first = await build();
  await page.click('#list li:first-child button[title="Move down"]');
  const second = await build();
  // A slice's last frame is where the next one starts, so it is left out.
  const [a, b] = [first, second].map((built) => slices(built.pack).map((s) => s.bytes.subarray(0, -2)));
  assert.ok(a[0].equals(b[1]) && a[1].equals(b[0]), 'keys 0 and 1 swapped');
  assert.ok(a[2].equals(b[2]) && !a[0].equals(a[1]), 'key 2 unchanged');
  const names = (log) => log.split('\n').filter((line) => line.startsWith('['));
  assert.deepEqual(names(second.log).slice(0, 2), names(first.log).slice(0, 2).reverse());
});

test('a text file, a float WAV, a refused one and an empty list get the command line\'s lines', async () => {
  const dir = folder('kit', { 'notes.txt': 'not a sound\n', 'float.wav': wav(3, 32, 441), 'good.wav': wav(1, 16, 4410),
                              'float16.wav': Buffer.concat([wavHeader(3, 16, 882), Buffer.alloc(882)]) });
  const expected = commandLine(dir);
  assert.match(expected.log, /Processing \[kit\/float16\.wav\] failed\.\n/);
  assert.match(expected.log, /\[kit\/float\.wav\]\n\tlength 0\.01s/);
  await openPage();
  await addFiles(listingOrder(dir).map((file) => path.join(dir, file)));
  const built = await build();
  assert.equal(built.log, expected.log);
  assert.equal(built.state, 'built');

  const empty = commandLine(folder('kit', {}));
  await openPage();
  const nothing = await build();
  assert.equal(nothing.state, 'failed');
  assert.equal(nothing.log, empty.log);
  assert.match(nothing.log, /No WAV files found\n/);
});

test('an opened pack shows its table, and a key plays its slice', async () => {
  const dir = copyOf('demo kit', 'kit');
  fs.rmSync(path.join(dir, 'samplepack.aif'), { force: true });
  spawnSync(binary, [dir]);
  const packPath = path.join(dir, 'samplepack.aif');
  const keys = slices(fs.readFileSync(packPath));
  await openPage();
  const input = await page.$('#open-pack');
  await input.uploadFile(packPath);
  await page.waitForFunction(() => document.querySelector('#table').textContent.startsWith('AIFF'));
  if (process.env.KITWEAVER_INSPECT) {
    const table = spawnSync(process.env.KITWEAVER_INSPECT, [packPath], { encoding: 'utf8' }).stdout;
    assert.equal(await page.$eval('#table', (e) => e.textContent), table);
  }
  for (const key of [0, 9, 23]) {
    await page.click(`#keys button[data-key="${key}"]`);
    const playing = await page.$eval(`#keys button[data-key="${key}"]`, (b) => b.dataset.playing);
    const { first, last, reverse } = keys[key];
    assert.match(playing, new RegExp(`^${first}-${last}${reverse === 24576 ? ' reversed' : ''} at `), `key ${key}`);
  }
});

test('files are read where they are: any size, in the list\'s order, and one that is gone is reported', async () => {
  // 24 sparse files, each declaring 1 GB of sound: nothing fits, as on the
  // command line, and nothing is read but the headers.
  const huge = folder('kit', {});
  for (let i = 0; i < 24; ++i) {
    const file = path.join(huge, `huge ${String(i).padStart(2, '0')}.wav`);
    fs.writeFileSync(file, wavHeader(1, 16, 1e9));
    fs.truncateSync(file, 44 + 1e9);
  }
  const expected = commandLine(huge);
  assert.match(expected.log, /could not resample/);
  await openPage();
  await addFiles(listingOrder(huge).map((file) => path.join(huge, file)));
  const built = await build();
  assert.equal(built.log, expected.log);
  assert.ok(Number(await page.$eval('body', (b) => b.dataset.coreMemory)) <= 64 << 20, 'the core stays within 64 MB');

  // Names a JavaScript object would put in another order.
  const named = folder('kit', { 10: wav(1, 16, 4410), 2: wav(1, 16, 8820), '01': wav(1, 16, 13230) });
  await openPage();
  await addFiles(['10', '2', '01'].map((name) => path.join(named, name)));
  assert.deepEqual(runNames((await build()).log), ['10', '2', '01']);

  // A file removed from disk after it was added: the run says so and makes
  // no pack; without it, the next build works.
  const gone = folder('kit', { 'a.wav': wav(1, 16, 4410), 'b.wav': wav(1, 16, 4410) });
  await openPage();
  await addFiles([path.join(gone, 'a.wav'), path.join(gone, 'b.wav')]);
  fs.rmSync(path.join(gone, 'b.wav'));
  const failed = await build();
  assert.equal(failed.state, 'failed');
  assert.match(failed.log, /^Could not read \[kit\/b\.wav\]: No such file or directory$/m);
  assert.equal(failed.pack, null);
  await page.click('#list li:nth-child(2) button[title="Remove"]');
  const again = await build();
  assert.equal(again.state, 'built');
  assert.deepEqual(runNames(again.log), ['a.wav']);
});

test('on a phone, the page is no wider than the screen', async () => {
  await page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true });
  try {
    const fits = () => page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth);
    await openPage();
    assert.ok(await fits(), 'before a build');
    const dir = copyOf('demo kit', 'kit');
    await addFiles(listingOrder(dir).map((file) => path.join(dir, file)));
    assert.equal((await build()).state, 'built');
    await viewShown();
    assert.ok(await fits(), 'after a build');
    if (process.env.KITWEAVER_PHONE_SCREENSHOT) {
      await page.screenshot({ path: process.env.KITWEAVER_PHONE_SCREENSHOT, fullPage: true });
    }
    await page.tap('#keys button[data-key="2"]');
    assert.ok(await page.$eval('#keys button[data-key="2"]', (b) => b.dataset.playing), 'a tap plays the key');
  } finally {
    await page.setViewport({ width: 800, height: 600 });
  }
});

test('a key of an opened pack changes as kitweaver-inspect --set changes it', async () => {
  assert.ok(process.env.KITWEAVER_INSPECT, 'set KITWEAVER_INSPECT');
  const dir = copyOf('demo kit', 'kit');
  spawnSync(binary, [dir]);
  const packPath = path.join(dir, 'samplepack.aif');
  await openPage();
  await (await page.$('#open-pack')).uploadFile(packPath);
  await page.waitForFunction(() => document.querySelector('#table').textContent.startsWith('AIFF'));
  const pack = async () => Buffer.from(await page.evaluate(async () => {
    const bytes = new Uint8Array(await (await fetch(document.querySelector('#download').href)).arrayBuffer());
    return btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join(''));
  }), 'base64');
  assert.ok((await pack()).equals(fs.readFileSync(packPath)), 'the opened pack is offered as it is');

  await page.click('#keys button[data-key="5"]');
  assert.equal(await page.$eval('#keys button[data-key="5"]', (b) => b.hasAttribute('data-selected')), true);
  const set = async (name, value) => {
    await page.$eval(`#key-edit [name="${name}"]`, (field, v) => {
      field.value = v;
      field.dispatchEvent(new Event('change', { bubbles: true }));
    }, value);
    await page.waitForFunction(() => !document.querySelector('#key-edit').hasAttribute('data-busy'));
  };
  await set('pitch', '2');
  await set('direction', 'reversed');
  const expected = path.join(scratch, 'edited.aif');
  const run = spawnSync(process.env.KITWEAVER_INSPECT, ['--set', '5:pitch=2', '--set', '5:direction=reversed',
                                                        '-o', expected, packPath], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  await page.waitForFunction(() => document.querySelector('#table').textContent.includes('+2.0  reversed'));
  assert.ok((await pack()).equals(fs.readFileSync(expected)), 'the page\'s pack is --set\'s');
  await page.click('#keys button[data-key="5"]');
  const { first, last } = slices(fs.readFileSync(expected))[5];
  assert.equal(await page.$eval('#keys button[data-key="5"]', (b) => b.dataset.playing),
               `${first}-${last} reversed at ${(2 ** (2 / 12)).toFixed(4)}`);

  // A start after the end is refused, and the key set back is the pack as opened.
  await set('start', String(last + 10));
  assert.match(await page.$eval('#key-edit output', (o) => o.value), /^key 5: start \d+ is after end \d+$/);
  await page.click('#key-edit [name="reset"]');
  await page.waitForFunction(() => !document.querySelector('#key-edit').hasAttribute('data-busy'));
  await page.waitForFunction(() => !document.querySelector('#table').textContent.includes('+2.0  reversed'));
  assert.ok((await pack()).equals(fs.readFileSync(packPath)), 'reset gives the opened pack back');
});
