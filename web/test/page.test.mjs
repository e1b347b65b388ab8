// The page in Debian's chromium, in firefox-esr and in WebKitGTK, each
// opened from disk and from a static server on 127.0.0.1 (and chromium once
// more without BYOB readers), against the command line: the same files in
// the same order must give the same lines and the same pack. One flow runs
// in each; the tests of the page's own details run in chromium from disk.
//
//   KITWEAVER_BINARY     the command line's kitweaver
//   KITWEAVER_PAGE       build-web/index.html
//   KITWEAVER_INSPECT    kitweaver-inspect, whose table, --set and --rescale the page must match
//   KITWEAVER_DEVICE_PACKS write_device_packs, which writes packs as the devices and other tools do
//   KITWEAVER_ENGINES    (optional) some of chromium,firefox,webkit
//   KITWEAVER_SCREENSHOT (optional) where to save a picture of the page after a build
//   KITWEAVER_PHONE_SCREENSHOT (optional) and one of the page on a phone
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { unzipSync } from 'fflate';

import { enginesWanted, launch, recordSound, serve, startDisplay, startSound, stopAll, withoutByob } from '../browsers.mjs';

const binary = process.env.KITWEAVER_BINARY;
const inspector = process.env.KITWEAVER_INSPECT;
const devicePacks = process.env.KITWEAVER_DEVICE_PACKS;
const pageFile = process.env.KITWEAVER_PAGE ?? '';
const examples = new URL('../../examples/', import.meta.url).pathname;
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kitweaver-web-'));
const engines = enginesWanted();

// Where the services are: the sound server's and the display's
// environment, and the static server's address.
const services = { env: {}, origin: '' };

before(async () => {
  assert.ok(binary && inspector && devicePacks && process.env.KITWEAVER_PAGE,
            'set KITWEAVER_BINARY, KITWEAVER_INSPECT, KITWEAVER_DEVICE_PACKS and KITWEAVER_PAGE');
  Object.assign(services.env, await startSound(scratch), engines.includes('webkit') ? await startDisplay() : {});
  services.origin = await serve({ '/index.html': pageFile, '/phone.html': path.join(scratch, 'phone.html') });
});

after(async () => {
  await stopAll();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// A folder `name` under the scratch folder holding `files` ({path: bytes},
// paths with "/" between folders).
function folder(name, files) {
  const dir = path.join(scratch, name);
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir);
  for (const [file, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(dir, file)), { recursive: true });
    fs.writeFileSync(path.join(dir, file), bytes);
  }
  return dir;
}
// A copy of the recordings of example folders (`make demo` leaves a pack
// in the demo kit).
function copyOf(name, ...from) {
  const dir = folder(name, {});
  for (const example of from) {
    for (const file of fs.readdirSync(path.join(examples, example)).filter((f) => f.endsWith('.wav'))) {
      fs.copyFileSync(path.join(examples, example, file), path.join(dir, file));
    }
  }
  return dir;
}

// The entries of a folder in the order the system lists them, as
// `kitweaver` reads them.
function listingOrder(dir) {
  const names = [];
  const listing = fs.opendirSync(dir);
  for (let entry; (entry = listing.readSync()) !== null;) names.push(path.join(dir, entry.name));
  listing.closeSync();
  return names;
}

// `kitweaver NAME` (with --hq for `hq`, --field for the OP-1 field's
// `device`) run from the folder above, as the page runs it.
function commandLine(dir, { hq = false, device = 'op1', sort = false, trim = false, slice = false } = {}) {
  fs.rmSync(path.join(dir, 'samplepack.aif'), { force: true });
  const args = [...(hq ? ['--hq'] : []), ...(device === 'field' ? ['--field'] : []), ...(sort ? ['--sort'] : []),
                ...(trim ? ['--trim'] : []), ...(slice ? ['--slice'] : []), path.basename(dir)];
  const run = spawnSync(binary, args, { cwd: path.dirname(dir), encoding: 'utf8' });
  const packPath = path.join(dir, 'samplepack.aif');
  const pack = fs.existsSync(packPath) ? fs.readFileSync(packPath) : null;
  fs.rmSync(packPath, { force: true });
  return { status: run.status, log: run.stdout, pack };
}

// `kitweaver --device op-xy NAME` run from the folder above, and what it
// wrote: its lines, every file of NAME/NAME.preset by its path in the zip the
// page offers (the folder's entry too), kitweaver-inspect's table of the
// preset, and what each pad plays as kitweaver-inspect --extract gives it
// (pad number -> its frames and channels). The preset is removed again, so
// that the folder lists as before.
function presetOf(dir, { hq = false } = {}) {
  const name = `${path.basename(dir)}.preset`;
  const preset = path.join(dir, name);
  fs.rmSync(preset, { recursive: true, force: true });
  const run = spawnSync(binary, [...(hq ? ['--hq'] : []), '--device', 'op-xy', path.basename(dir)],
                        { cwd: path.dirname(dir), encoding: 'utf8' });
  assert.equal(run.status, 0, run.stdout);
  const files = { [`${name}/`]: Buffer.alloc(0) };
  for (const file of fs.readdirSync(preset)) files[`${name}/${file}`] = fs.readFileSync(path.join(preset, file));
  const inspect = (...args) => spawnSync(inspector, [...args, name], { cwd: dir, encoding: 'utf8' });
  const extracted = folder('extracted', {});
  assert.equal(inspect('--extract', extracted).status, 0);
  const pads = new Map(fs.readdirSync(extracted).map((file) => {
    const wave = fs.readFileSync(path.join(extracted, file));
    const channels = wave.readUInt16LE(22);
    return [Number(file.slice(0, 2)), { frames: wave.readUInt32LE(wave.indexOf('data') + 4) / (2 * channels), channels }];
  }));
  const table = inspect().stdout;
  fs.rmSync(preset, { recursive: true, force: true });
  return { log: run.stdout, files, table, pads };
}

// The files of a zip by their paths, the folders' entries too.
const unzipped = (zip) => Object.fromEntries(Object.entries(unzipSync(zip)).map(([name, bytes]) => [name, Buffer.from(bytes)]));

// The table (or the line saying why there is none) that `show` makes the
// page show, the one shown before cleared.
async function tableOnceShown(tab, show) {
  await tab.evaluate(() => { document.querySelector('#table').textContent = ''; });
  await show();
  await tab.waitFor(() => document.querySelector('#table').textContent !== '');
  return tab.evaluate(() => document.querySelector('#table').textContent);
}

// The pads that sound are the ones enabled, and each of `chosen`, clicked,
// plays what kitweaver-inspect --extract gives of it: as many frames, in as
// many channels.
async function padsPlayAsInspected(tab, pads, chosen) {
  const disabled = await tab.evaluate(() => [...document.querySelectorAll('#keys button')]
    .filter((button) => button.disabled).map((button) => Number(button.dataset.key)));
  assert.deepEqual(disabled, [...Array(24).keys()].filter((pad) => !pads.has(pad)), 'the pads that play nothing');
  for (const pad of chosen) {
    await tab.click(`#keys button[data-key="${pad}"]`);
    const { frames, channels } = pads.get(pad);
    assert.equal((await keyState(tab, pad))[0], `pad ${pad}: ${frames} frames${channels > 1 ? ` in ${channels} channels` : ''}`);
  }
}

// A pack made by the command line from an example, outside its folder.
function packOf(example, name) {
  const dir = copyOf(name, example);
  const pack = path.join(scratch, `${name}.aif`);
  fs.writeFileSync(pack, commandLine(dir).pack);
  return pack;
}

// The page opened, its worker ready.
async function openPage(tab, url) {
  await tab.goto(url);
  assert.deepEqual(await tab.evaluate(() => [document.body.dataset.state, document.querySelector('#hq').checked]),
                   ['idle', true], 'the page opens idle, high quality ticked');
  await tab.waitFor(() => document.body.dataset.reading !== undefined);
}

// The pack offered for download.
async function offered(tab) {
  const pack = await tab.evaluate(async () => {
    const link = document.querySelector('#download');
    if (!link.href) return null;
    const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
    let text = '';
    for (let at = 0; at < bytes.length; at += 8192) text += String.fromCharCode(...bytes.subarray(at, at + 8192));
    return btoa(text);
  });
  return pack === null ? null : Buffer.from(pack, 'base64');
}

// Builds in the page (as the command line's default run unless `hq`,
// `trim` or `slice`); returns the state, the lines and the pack.
async function build(tab, { device = 'op1', seconds = null, hq = false, trim = false, slice = false } = {}) {
  await tab.evaluate((value, on, length, trimmed, sliced) => {
    const select = document.querySelector('#device');
    select.value = value;
    select.dispatchEvent(new Event('change', { bubbles: true }));
    document.querySelector('#hq').checked = on;
    document.querySelector('#trim').checked = trimmed;
    document.querySelector('#slice').checked = sliced;
    if (length !== null) document.querySelector('#seconds').value = length;
  }, device, hq, seconds === null ? null : String(seconds), trim, slice);
  await tab.click('#build');
  await tab.waitFor(() => ['built', 'failed'].includes(document.body.dataset.state));
  const [state, log] = await tab.evaluate(() => [document.body.dataset.state, document.querySelector('#log').textContent]);
  return { state, log, pack: await offered(tab) };
}

// Builds `dir`'s files, added in the folder's listing order, and checks
// the lines and the pack against the command line's.
async function buildAsCommandLine(tab, dir, options) {
  const expected = commandLine(dir, options);
  await tab.upload('#files', listingOrder(dir));
  const built = await build(tab, options);
  assert.equal(built.log, expected.log, dir);
  assert.ok(expected.pack && built.pack && built.pack.equals(expected.pack), `${dir}: the packs differ`);
  return built;
}

// Waits until the key table and the picture are shown too: they follow the
// build, the picture once it is scrolled into view.
async function viewShown(tab) {
  await tab.waitFor(() => document.querySelector('#table').textContent !== '');
  await tab.evaluate(() => document.querySelector('#picture').scrollIntoView());
  await tab.waitFor(() => document.querySelector('#picture svg') !== null);
  await tab.evaluate(() => window.scrollTo(0, 0));
}

// Opens a pack in the page and waits for its key table (the one shown
// before is cleared, so that the table waited for is this pack's).
async function openPack(tab, pack) {
  await tab.evaluate(() => { document.querySelector('#table').textContent = ''; });
  await tab.upload('#open-pack', [pack]);
  await tab.waitFor(() => document.querySelector('#table').textContent !== '');
  assert.match(await tab.evaluate(() => document.querySelector('#table').textContent), /^AIF[FC]/, pack);
}

// Rescales the opened pack and waits until its warning is gone. A click
// the button never took (it stays enabled, with no message, for 2 s) is
// made once more and said: WebKit's driver once lost one, with nothing
// in the page to say why. A rescale the core refused, or a page that
// failed, fails with what the page shows.
async function clickRescale(tab, t) {
  const state = () => tab.evaluate(() => ({
    done: document.querySelector('#scale-warning').hidden,
    taken: document.querySelector('#rescale').disabled,
    message: document.querySelector('#rescale-message').value,
    page: document.body.dataset.state === 'failed' ? document.querySelector('#log').textContent : '',
    soundNote: document.querySelector('#sound-note').hidden ? '' : document.querySelector('#sound-note').textContent,
  }));
  const settled = (s) => s.done || s.message !== '' || s.page !== '';
  const until = async (wanted, ms) => {
    let now = await state();
    for (const start = Date.now(); !wanted(now) && Date.now() - start < ms; now = await state()) {
      await new Promise((resolve) => { setTimeout(resolve, 50); });
    }
    return now;
  };
  await tab.click('#rescale');
  let now = await until((s) => s.taken || settled(s), 2000);
  if (!now.taken && !settled(now)) {
    t.diagnostic(`the click on Rescale did not reach it (${JSON.stringify(now)}); clicked again`);
    await tab.click('#rescale');
  }
  now = await until(settled, 120000);
  assert.ok(now.done, `the rescale is done: ${JSON.stringify(now)}`);
}

// What a key button has: [playing, selected].
const keyState = (tab, key) => tab.evaluate((k) => {
  const button = document.querySelector(`#keys button[data-key="${k}"]`);
  return [button.dataset.playing ?? null, button.hasAttribute('data-selected')];
}, key);

// What `kitweaver-inspect --json` says of a pack (a path, or its bytes):
// its keys in frames among the rest.
function inspected(pack) {
  const file = Buffer.isBuffer(pack) ? path.join(scratch, 'inspected.aif') : pack;
  if (file !== pack) fs.writeFileSync(file, pack);
  const run = spawnSync(inspector, ['--json', file], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  return JSON.parse(run.stdout);
}

// The paths of the packs the devices and other tools write
// (write_device_packs), written once.
let devicePackPaths = null;
function devicePackFiles() {
  if (devicePackPaths === null) {
    const written = spawnSync(devicePacks, [folder('device packs', {})], { encoding: 'utf8' });
    assert.equal(written.status, 0, written.stderr);
    devicePackPaths = written.stdout.trim().split('\n');
  }
  return devicePackPaths;
}
const devicePack = (name) => fs.readFileSync(devicePackFiles().find((file) => path.basename(file) === `${name}.aif`));

// The sound of a pack's bytes (an AIFF pack's big-endian frames).
function soundOf(pack) {
  for (let at = 12; at + 8 <= pack.length;) {
    const size = pack.readUInt32BE(at + 4);
    if (pack.toString('latin1', at, at + 4) === 'SSND') return pack.subarray(at + 16, at + 8 + size);
    at += 8 + size + (size & 1);
  }
  return Buffer.alloc(0);
}

// The start of a key's data-playing while it sounds: its frames, as the
// inspector places them, and its direction.
const playingFrom = (key) => `${key.start_frame}-${key.end_frame}${key.direction === 'reversed' ? ' reversed' : ''} at `;

// The header of a WAV file of `dataBytes` bytes of 16-bit sound (or, with
// `format` 3, 32-bit float) in `channels` at 44.1 kHz.
function wavHeader(format, bits, dataBytes, channels = 1) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(format, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(44100, 24);
  header.writeUInt32LE((44100 * bits * channels) / 8, 28);
  header.writeUInt16LE((bits * channels) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

// A WAV file: `format` 1 for PCM, 3 for float, and `frames` of a ramp; a
// second channel holds the ramp upside down at half its level.
function wav(format, bits, frames, channels = 1) {
  const data = Buffer.alloc((frames * channels * bits) / 8);
  for (let i = 0, at = 0; i < frames; ++i) {
    for (let c = 0; c < channels; ++c, at += bits / 8) {
      const value = (i % 200) - 100;
      if (bits === 16) data.writeInt16LE(c === 0 ? value * 100 : value * -50, at);
      else data.writeFloatLE(c === 0 ? value / 100 : value / -200, at);
    }
  }
  return Buffer.concat([wavHeader(format, bits, data.length, channels), data]);
}

// A copy of the recordings of `from` that sox writes with `options` (and
// `effects`), each keeping its name, extension and all, so that the copy
// lists its files as the original does.
function soxCopy(kind, from, options, effects = []) {
  const dir = path.join(scratch, kind, 'kit PO-33.3');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  for (const file of fs.readdirSync(from).filter((f) => f.endsWith('.wav'))) {
    const run = spawnSync('sox', ['-D', path.join(from, file), ...options, path.join(dir, file), ...effects]);
    assert.equal(run.status, 0, `sox: ${run.stderr}`);
  }
  return dir;
}

// What the sound device played (the left channel; the right is the same)
// holds the pack's first second as written, at full level: its blocks of
// 10 ms, each found exactly and in order from the first frame heard on.
// A few may be lost or moved where the engine's output falls behind
// (WebKit's does, here).
function heardAsWritten(heard, pack) {
  const sound = soundOf(pack);
  const kBlock = 441;
  let at = heard.findIndex((frame) => frame !== 0);
  let found = 0;
  for (let block = 0; block < 100; ++block) {
    const first = block * kBlock;
    const matches = (p) => {
      for (let i = 0; i < kBlock; ++i) if (heard[p + i] !== sound.readInt16BE(2 * (first + i))) return false;
      return true;
    };
    for (let p = at; at >= 0 && p < Math.min(heard.length - kBlock, at + 22050); ++p) {
      if (matches(p)) {
        ++found;
        at = p + kBlock;
        break;
      }
    }
  }
  assert.ok(found >= 90, `${found} of the first 100 blocks of 10 ms heard as written`);
}

// The paths of the list's names, and the names in the run's lines.
const runNames = (log) => log.split('\n').filter((line) => line.startsWith('[')).map((line) => line.slice(5, -1));

// The ways each engine is tried: from disk and served, and chromium without
// BYOB readers. `reading` is the way the page must find to read files
// there: BYOB readers where a Blob's stream has them, otherwise a default
// reader's chunks, and the page's own reads where the worker can't read the
// user's files (WebKit from disk).
const runs = engines.flatMap((engine) => [
  { engine, served: false, reading: engine === 'webkit' ? 'page' : 'byob' },
  { engine, served: true, reading: engine === 'webkit' ? 'chunks' : 'byob' },
  ...(engine === 'chromium' ? [{ engine, served: false, withoutByob: true, reading: 'chunks' }] : []),
]);

for (const run of runs) {
  const name = `${run.engine}, ${run.served ? 'served from 127.0.0.1' : 'from disk'}${run.withoutByob ? ', without BYOB readers' : ''}`;
  describe(name, () => {
    let tab;
    let url;
    before(async () => {
      tab = await launch(run.engine, { env: services.env, scratch });
      if (run.withoutByob) await tab.alter(withoutByob);
      url = run.served ? `${services.origin}/index.html` : pathToFileURL(pageFile).href;
    });
    after(async () => { await tab?.close(); });

    test('builds kits as the command line does, high quality ticked and unticked', async () => {
      await openPage(tab, url);
      await buildAsCommandLine(tab, copyOf('kit', 'demo kit'), { hq: true });
      assert.equal(await tab.evaluate(() => document.body.dataset.reading), run.reading, 'the way files are read');
      await openPage(tab, url);
      await buildAsCommandLine(tab, copyOf('kit PO-33.8', 'pocket kit PO-33.8'), { device: 'po33', seconds: 8 });
      await tab.waitFor(() => !document.querySelector('#play-pack').disabled);  // a built pack can be played
      // Ten files into a 4 s PO-33 pack: every slice is shortened, chords too.
      await openPage(tab, url);
      const built = await buildAsCommandLine(tab, copyOf('kit PO-33.4', 'demo kit', 'chords'), { device: 'po33', seconds: 4, hq: true });
      assert.match(built.log, /High-quality resampling\n[^]*resampling to 13890Hz/);
      // OP-1 field kits, with a two-channel file whose sides differ among the
      // demo kit's: each side rendered from its own channel, and every key
      // of the pack plays in both.
      const field = copyOf('kit', 'demo kit');
      fs.writeFileSync(path.join(field, '08 Stereo.wav'), wav(1, 16, 22050, 2));
      for (const hq of [false, true]) {
        await openPage(tab, url);
        await buildAsCommandLine(tab, field, { device: 'field', hq });
        assert.ok(await tab.evaluate(() => document.querySelector('#seconds-label').hidden), 'no seconds for the OP-1 field');
        await tab.waitFor(() => !document.querySelector('#keys button[data-key="7"]').disabled);
        await tab.click('#keys button[data-key="7"]');
        assert.match((await keyState(tab, 7))[0], / in 2 channels$/);
      }
      // An OP-XY preset of the same recordings and a name the device refuses:
      // the command line's lines but its "Wrote", and NAME.preset.zip holding
      // kit.preset/ with the command line's bytes for every file. Its pads
      // show and play as kitweaver-inspect shows and auditions the preset,
      // and so they do when the zip is opened again.
      fs.renameSync(path.join(field, '08 Stereo.wav'), path.join(field, '08 Stereo!.wav'));
      const preset = presetOf(field, { hq: true });
      assert.ok(preset.files['kit.preset/08 Stereo-.wav'], 'the name the device refuses is changed');
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(field));
      const table = await tableOnceShown(tab, async () => {
        const made = await build(tab, { device: 'op-xy', hq: true });
        assert.equal(made.log, preset.log.replace(/^Wrote kit\/kit\.preset\n/m, ''));
        assert.deepEqual(unzipped(made.pack), preset.files);
        assert.equal(await tab.evaluate(() => document.querySelector('#download').download), 'kit.preset.zip');
        fs.writeFileSync(path.join(scratch, 'kit.preset.zip'), made.pack);
      });
      assert.equal(table, preset.table);
      // Pads 14 and 21 play transposed; the stereo file's in both channels.
      const chosen = [0, 14, 21, [...preset.pads].find(([, pad]) => pad.channels === 2)[0]];
      await padsPlayAsInspected(tab, preset.pads, chosen);
      await openPage(tab, url);
      const zipPath = path.join(scratch, 'kit.preset.zip');
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-pack', [zipPath])), preset.table);
      assert.ok((await offered(tab)).equals(fs.readFileSync(zipPath)), 'the opened zip is offered as it is');
      await padsPlayAsInspected(tab, preset.pads, chosen);
    });

    test('"Sort by name", "Leave out silence" and "Cut each recording at its hits" give --sort\'s, --trim\'s and '
         + '--slice\'s lines and pack', async () => {
      // Silence around a ramp, and two bursts of it apart: what --trim
      // leaves out, and what --slice cuts.
      const silence = (frames) => Buffer.alloc(2 * frames);
      const sound = (frames) => wav(1, 16, frames).subarray(44);
      const wave = (...parts) => { const data = Buffer.concat(parts); return Buffer.concat([wavHeader(1, 16, data.length), data]); };
      const dir = folder('kit', { '10 Tom.wav': wave(silence(4410), sound(8820), silence(13230)),
                                  '2 snare.wav': wave(sound(4410), silence(2205)),
                                  '01 Kick.wav': wave(silence(2205), sound(2205), silence(8820), sound(2205), silence(4410)),
                                  'b.wav': wav(1, 16, 4410), 'A.wav': wav(1, 16, 2205) });
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(dir));
      await tab.click('#sort');
      const sorted = ['01 Kick.wav', '2 snare.wav', '10 Tom.wav', 'A.wav', 'b.wav'];
      await tab.waitFor((first) => document.querySelector('#list li span').textContent === first, sorted[0]);
      assert.deepEqual(await tab.evaluate(() => [...document.querySelectorAll('#list li span')].map((name) => name.textContent)), sorted);
      for (const options of [{ sort: true }, { sort: true, trim: true }, { sort: true, slice: true, hq: true }]) {
        const expected = commandLine(dir, options);
        const built = await build(tab, options);  // the list is sorted already: no box for --sort
        assert.equal(built.log, expected.log, JSON.stringify(options));
        assert.ok(expected.pack && built.pack && built.pack.equals(expected.pack), `${JSON.stringify(options)}: the packs differ`);
        if (!options.trim && !options.slice) assert.deepEqual(runNames(built.log), sorted);
        if (options.trim) assert.match(built.log, /\ttrimmed 0\.10s at the start, 0\.30s at the end\n/);
        if (options.slice) assert.match(built.log, /\[kit\/01 Kick\.wav#2\]/);
      }
    });

    test('an opened pack or preset is made into another device\'s kit as kitweaver --device D SOURCE makes it', async () => {
      // The command line run from the source's folder, and what it wrote
      // beside the source (a preset's folder by the paths of its zip).
      const made = (source, device) => {
        const before = new Set(fs.readdirSync(path.dirname(source)));
        const run = spawnSync(binary, ['--device', device, path.basename(source)], { cwd: path.dirname(source), encoding: 'utf8' });
        assert.equal(run.status, 0, run.stdout);
        const [name] = fs.readdirSync(path.dirname(source)).filter((entry) => !before.has(entry));
        const kit = path.join(path.dirname(source), name);
        const files = fs.statSync(kit).isDirectory()
          ? Object.fromEntries([[`${name}/`, Buffer.alloc(0)], ...fs.readdirSync(kit).map((file) => [`${name}/${file}`, fs.readFileSync(path.join(kit, file))])])
          : fs.readFileSync(kit);
        fs.rmSync(kit, { recursive: true });
        return { log: run.stdout, files };
      };
      const convert = async (device) => {
        await tab.evaluate((value) => { document.querySelector('#hq').checked = false; document.querySelector('#convert-device').value = value; }, device);
        await tab.click('#convert');
        await tab.waitFor(() => ['built', 'failed'].includes(document.body.dataset.state));
        return { log: await tab.evaluate(() => document.querySelector('#log').textContent), pack: await offered(tab),
                 name: await tab.evaluate(() => document.querySelector('#download').download) };
      };
      // A pack taken to the OP-XY: kit.preset, offered as kit.preset.zip.
      const packPath = packOf('demo kit', 'kit');
      const toXy = made(packPath, 'op-xy');
      assert.match(toXy.log, /^Wrote kit\.preset$/m);
      await openPage(tab, url);
      await openPack(tab, packPath);
      const xy = await convert('op-xy');
      assert.equal(xy.log, toXy.log);
      assert.equal(xy.name, 'kit.preset.zip');
      assert.deepEqual(unzipped(xy.pack), toXy.files);
      // That preset, opened as its zip, taken to the OP-1: "kit op-1.aif".
      const presetDir = folder('preset source', Object.fromEntries(Object.entries(toXy.files).filter(([name]) => !name.endsWith('/'))));
      const zipPath = path.join(scratch, 'kit.preset.zip');
      fs.writeFileSync(zipPath, xy.pack);
      const toOp1 = made(path.join(presetDir, 'kit.preset'), 'op-1');
      assert.match(toOp1.log, /^Wrote kit op-1\.aif$/m);
      await openPage(tab, url);
      await tableOnceShown(tab, () => tab.upload('#open-pack', [zipPath]));
      const op1 = await convert('op-1');
      assert.equal(op1.log, toOp1.log);
      assert.equal(op1.name, 'kit op-1.aif');
      assert.ok(op1.pack && op1.pack.equals(toOp1.files), 'the page\'s pack is the command line\'s');
    });

    test('float WAV, AIFF and AIFC copies of a kit give its pack, high quality ticked and unticked', async () => {
      // Copies of the demo kit, as 16-bit WAV and as 24-bit WAV with every
      // bit in use (a gain), in other formats: the page's pack of each is
      // the command line's pack of the original.
      const demo = path.join(examples, 'demo kit');
      const originals = { 16: soxCopy('pcm16', demo, ['-t', 'wav']),
                          24: soxCopy('pcm24', demo, ['-b', '24', '-t', 'wav'], ['gain', '-0.1']) };
      for (const [what, kit, options, modes] of [
        ['float copy of a 16-bit kit', 16, ['-e', 'floating-point', '-b', '32', '-t', 'wav'], [false, true]],
        ['AIFF copy of a 16-bit kit', 16, ['-t', 'aiff'], [false]],
        ['AIFC copy of a 16-bit kit', 16, ['-t', 'aifc'], [true]],
        ['float copy of a 24-bit kit', 24, ['-e', 'floating-point', '-b', '32', '-t', 'wav'], [false, true]],
      ]) {
        const copy = soxCopy('copy', originals[kit], options);
        for (const hq of modes) {
          const label = `${what}${hq ? ', high quality' : ''}`;
          const expected = commandLine(originals[kit], { hq });
          await openPage(tab, url);
          await tab.upload('#files', listingOrder(copy));
          const built = await build(tab, { device: 'po33', seconds: 3, hq });
          assert.equal(built.log, expected.log, label);
          assert.ok(expected.pack && built.pack && built.pack.equals(expected.pack), `${label}: the page's pack differs`);
        }
      }
    });

    test('an opened pack shows kitweaver-inspect\'s table, and its keys play and change as --set changes them', async () => {
      const packPath = packOf('demo kit', 'kit');
      const { keys } = inspected(packPath);
      await openPage(tab, url);
      await openPack(tab, packPath);
      const table = spawnSync(inspector, [packPath], { encoding: 'utf8' }).stdout;
      assert.equal(await tab.evaluate(() => document.querySelector('#table').textContent), table);
      assert.ok((await offered(tab)).equals(fs.readFileSync(packPath)), 'the opened pack is offered as it is');
      for (const key of [0, 9, 23]) {
        await tab.click(`#keys button[data-key="${key}"]`);
        assert.ok((await keyState(tab, key))[0].startsWith(playingFrom(keys[key])), `key ${key}`);
      }

      await tab.click('#keys button[data-key="5"]');
      assert.equal((await keyState(tab, 5))[1], true, 'a clicked key is selected');
      const set = async (field, value) => {
        await tab.evaluate((f, v) => {
          const input = document.querySelector(`#key-edit [name="${f}"]`);
          input.value = v;
          input.dispatchEvent(new Event('change', { bubbles: true }));
        }, field, value);
        await tab.waitFor(() => !document.querySelector('#key-edit').hasAttribute('data-busy'));
      };
      await set('pitch', '2');
      await set('direction', 'reversed');
      const expected = path.join(scratch, 'edited.aif');
      const edit = spawnSync(inspector, ['--set', '5:pitch=2', '--set', '5:direction=reversed', '-o', expected, packPath],
                             { encoding: 'utf8' });
      assert.equal(edit.status, 0, edit.stderr);
      await tab.waitFor(() => document.querySelector('#table').textContent.includes('+2.0  reversed'));
      assert.ok((await offered(tab)).equals(fs.readFileSync(expected)), 'the page\'s pack is --set\'s');
      await tab.click('#keys button[data-key="5"]');
      const edited = inspected(expected).keys[5];
      assert.equal((await keyState(tab, 5))[0], `${playingFrom(edited)}${(2 ** (2 / 12)).toFixed(4)}`);

      // A start after the end is refused, and the key set back is the key as
      // opened: the opened pack's table, and --set of its values (the text
      // keeps the padding the change gave it).
      await set('start', String(edited.end_frame + 10));
      assert.match(await tab.evaluate(() => document.querySelector('#key-edit output').value), /^key 5: start \d+ is after end \d+$/);
      await tab.click('#key-edit [name="reset"]');
      await tab.waitFor(() => !document.querySelector('#key-edit').hasAttribute('data-busy')
                              && !document.querySelector('#table').textContent.includes('+2.0  reversed'));
      assert.ok((await offered(tab)).equals(fs.readFileSync(packPath)), 'reset gives the opened pack back');
    });

    test('the whole pack plays as written after a silent count-in, and stops when pressed again', async () => {
      const packPath = packOf('pocket kit PO-33.8', 'kit PO-33.8');
      await openPage(tab, url);
      await openPack(tab, packPath);
      const button = () => tab.evaluate(() => {
        const play = document.querySelector('#play-pack');
        return { countIn: play.hasAttribute('data-count-in'), playing: play.dataset.playing ?? null, text: play.textContent,
                 note: !document.querySelector('#po33-note').hidden, noSound: !document.querySelector('#sound-note').hidden };
      });
      assert.deepEqual(await button(), { countIn: false, playing: null, text: 'Play the whole pack', note: true, noSound: false });
      const recording = recordSound(services.env);
      await tab.click('#play-pack');
      const counting = await button();
      assert.ok(counting.countIn && counting.playing === null, 'the count-in comes first');
      assert.match(counting.text, /^Stop \(starts in [123] s\)$/);
      await tab.waitFor(() => document.querySelector('#play-pack').hasAttribute('data-playing'));
      const playing = await button();
      assert.ok(!playing.countIn && playing.playing === `0-${8 * 44100 - 1}`, 'the pack sounds from its first frame to its last');
      assert.match(playing.text, /^Stop \([1-8] s left\)$/);
      await new Promise((resolve) => { setTimeout(resolve, 1500); });
      heardAsWritten(await recording.stop(), fs.readFileSync(packPath));
      await tab.click('#play-pack');
      assert.deepEqual(await button(), { countIn: false, playing: null, text: 'Play the whole pack', note: true, noSound: false });
    });

    test('packs the devices and other tools write show kitweaver-inspect\'s table and play in their channels, and '
         + 'one at 4056 per frame is rescaled as --rescale does', async (t) => {
      const shown = () => tab.evaluate(() => [
        document.querySelector('#table').textContent,
        [...document.querySelectorAll('#keys button')].filter((button) => button.disabled).map((button) => Number(button.dataset.key)),
        document.querySelector('#rescale').getClientRects().length > 0,
        document.querySelector('#scale-warning').hidden ? null : document.querySelector('#scale-warning-text').textContent]);
      const seen = new Set();
      await openPage(tab, url);
      for (const packPath of devicePackFiles()) {
        const name = path.basename(packPath);
        const { keys, channels, frames, warnings } = inspected(packPath);
        await openPack(tab, packPath);
        // The table (warnings last), the empty keys that can't be played, and
        // for a pack at 4056 per frame only, its warning with the rescale.
        const older = warnings.find((line) => line.startsWith('positions are written at 4056 per frame')) ?? null;
        assert.deepEqual(await shown(), [spawnSync(inspector, [packPath], { encoding: 'utf8' }).stdout,
                                         keys.filter((key) => key.length_frames === 0).map((key) => key.key), older !== null, older], name);
        // The last key that has a slice sounds in every channel of the pack.
        const key = keys.findLast((k) => k.length_frames > 0);
        const inChannels = channels > 1 ? ` in ${channels} channels` : '';
        await tab.click(`#keys button[data-key="${key.key}"]`);
        assert.match((await keyState(tab, key.key))[0], new RegExp(`^${playingFrom(key)}[\\d.]+${inChannels}$`), `${name}: key ${key.key}`);
        if (channels > 1) {
          seen.add('stereo');
          await tab.click('#play-pack');
          await tab.waitFor(() => document.querySelector('#play-pack').hasAttribute('data-playing'));
          assert.equal(await tab.evaluate(() => document.querySelector('#play-pack').dataset.playing), `0-${frames - 1}${inChannels}`, name);
          await tab.click('#play-pack');
        }
        if (older !== null) {
          seen.add('4056');
          const expected = path.join(scratch, 'rescaled.aif');
          const rescaled = spawnSync(inspector, ['--rescale', '-o', expected, packPath], { encoding: 'utf8' });
          assert.equal(rescaled.status, 0, rescaled.stderr);
          await clickRescale(tab, t);
          assert.ok((await offered(tab)).equals(fs.readFileSync(expected)), `${name}: the page's pack is --rescale's`);
          assert.equal((await shown())[0], spawnSync(inspector, [expected], { encoding: 'utf8' }).stdout, `${name} rescaled`);
        }
      }
      assert.deepEqual([...seen].sort(), ['4056', 'stereo'], 'a stereo pack and one at 4056 per frame among them');
    });

    test('a file removed after it was added gets the command line\'s "Could not read" line', async () => {
      const gone = folder('kit', { 'a.wav': wav(1, 16, 4410), 'b.wav': wav(1, 16, 4410) });
      await openPage(tab, url);
      await tab.upload('#files', [path.join(gone, 'a.wav'), path.join(gone, 'b.wav')]);
      fs.rmSync(path.join(gone, 'b.wav'));
      const failed = await build(tab);
      assert.equal(failed.state, 'failed');
      assert.match(failed.log, /^Could not read \[kit\/b\.wav\]: (No such file or directory|I\/O error)$/m);
      assert.equal(failed.pack, null);
      await tab.click('#list li:nth-child(2) button[title="Remove"]');
      const again = await build(tab);
      assert.equal(again.state, 'built');
      assert.deepEqual(runNames(again.log), ['a.wav']);
    });

    // MiniBrowser's phone is a frame of 390 pixels (its window is wider),
    // into which WebKitWebDriver's clicks reach only when it is served.
    if ((run.engine === 'webkit' && run.served) || (run.engine === 'chromium' && !run.served && !run.withoutByob)) {
      test('on a phone, the page is no wider than the screen, and a tap plays a key', async () => {
        const fits = () => tab.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth && window.innerWidth === 390);
        try {
          await tab.phone(url);
          assert.ok(await fits(), 'before a build');
          await tab.upload('#files', listingOrder(copyOf('kit', 'demo kit')));
          assert.equal((await build(tab)).state, 'built');
          await viewShown(tab);
          assert.ok(await fits(), 'after a build');
          if (process.env.KITWEAVER_PHONE_SCREENSHOT && run.engine === 'chromium') {
            await tab.screenshot(process.env.KITWEAVER_PHONE_SCREENSHOT);
          }
          await tab.tap('#keys button[data-key="2"]');
          assert.ok((await keyState(tab, 2))[0], 'a tap plays the key');
        } finally {
          await tab.desktop();
        }
      });
    }

    if (run.engine !== 'chromium' || run.served || run.withoutByob) return;

    test('the demo kit\'s picture (a key selected), for the README', { skip: !process.env.KITWEAVER_SCREENSHOT }, async () => {
      await tab.desktop(1280, 900);
      await openPage(tab, url);
      await buildAsCommandLine(tab, copyOf('kit', 'demo kit'), { hq: true });
      await viewShown(tab);
      await tab.click('#keys button[data-key="2"]');  // selected, to show its form
      await tab.waitFor(() => !document.querySelector('#keys button[data-key="2"]').dataset.playing);
      await tab.screenshot(process.env.KITWEAVER_SCREENSHOT);
      await tab.desktop();
    });

    test('a browser that lacks what the page needs is told which part, and a read the browser fails is its fault', async () => {
      const dir = copyOf('kit', 'demo kit');
      for (const [change, sentence] of [
        [() => { delete self.WebAssembly; }, 'This browser does not run WebAssembly, which the page needs to build a kit.'],
        [() => { delete self.Worker; }, 'This browser has no web workers, which the page needs to build a kit.'],
        [() => { delete Blob.prototype.stream; delete Blob.prototype.arrayBuffer; delete self.FileReader; },
         'This browser gives the page no way to read your files.'],
      ]) {
        const undo = await tab.alter(change);
        await tab.goto(url);
        await tab.waitFor(() => !document.querySelector('#notice').hidden);
        assert.deepEqual(await tab.evaluate(() => [document.querySelector('#notice').textContent, document.querySelector('#build').disabled]),
                         [sentence, true]);
        await undo();
      }
      const undo = await tab.alter(() => { Blob.prototype.slice = () => { throw new TypeError('no slices here'); }; });
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(dir));
      const failed = await build(tab);
      await undo();
      assert.equal(failed.state, 'failed');
      assert.match(failed.log, /^The browser would not read .*\.wav \(TypeError: no slices here\): this is a fault of the browser, not of the file\.$/);
    });

    // Only Chromium's driver gives a folder to a webkitdirectory input:
    // Firefox's input.setFiles refuses one, and WebKitWebDriver gives the
    // folder as a single file, with no path, that can't be read.
    test('a device\'s disk opened shows kitweaver-inspect DISK\'s table, also where the worker can\'t read the user\'s files, '
         + 'and one of files of 40 MB', async () => {
      const log = 'Calculating used sample space...11.0/24.0 MB\nimporting a.aif...invalid synth sample\n';
      const opz = folder('opz', { 'samplepacks/1-kick/01/kit.aif': devicePack('drum utility'),
                                  'samplepacks/2-snare/03/~x.aif': '',
                                  'samplepacks/6-lead/01/drums.aif': devicePack('OP-Z, edited'),
                                  'samplepacks/1-kick/one_sample_pack_per_slot.plz': '',
                                  'import.log': log });
      const op1 = folder('op1', { 'drum/user/old.aif': devicePack('Kitweaver 1.0'), 'drum/field/kit.aif': devicePack('OP-1 field, stereo'),
                                  'synth/pad.aif': devicePack('OP-1, sampled') });
      const kit = copyOf('kit', 'demo kit');
      // Two files of 40 MB, a drum pack and an AIFF file, beside a pack: the
      // core reads each file once, as far as its chunks and a drum pack's
      // sound, so none is held whole and the disk lists as the inspector
      // lists it.
      const big = folder('big', { 'drum/user/kit.aif': devicePack('drum utility'), 'drum/user/huge.aif': devicePack('drum utility'),
                                  'drum/user/long.aif': devicePack('OP-1, sampled').subarray(0, 12) });
      fs.truncateSync(path.join(big, 'drum/user/huge.aif'), 40 << 20);
      fs.truncateSync(path.join(big, 'drum/user/long.aif'), 40 << 20);
      const notHuge = folder('not huge', { 'drum/user/long.aif': devicePack('OP-1, sampled').subarray(0, 12) });
      fs.truncateSync(path.join(notHuge, 'drum/user/long.aif'), 40 << 20);
      const listed = (dir) => {
        const run = spawnSync(inspector, [path.basename(dir)], { cwd: scratch, encoding: 'utf8' });
        return run.status === 0 ? run.stdout : run.stderr.replace(/^kitweaver-inspect: /, '').trimEnd();
      };
      // The worker's reads of a File, or of a slice of one, fail, as in
      // WebKit opened from disk.
      const workerCannotRead = () => {
        if (typeof FileReaderSync !== 'function') return;
        const theirs = new WeakSet();
        const { slice } = Blob.prototype;
        Blob.prototype.slice = function (...args) {
          const part = slice.apply(this, args);
          if (this instanceof File || theirs.has(this)) theirs.add(part);
          return part;
        };
        const read = FileReaderSync.prototype.readAsArrayBuffer;
        FileReaderSync.prototype.readAsArrayBuffer = function (blob) {
          if (blob instanceof File || theirs.has(blob)) throw new DOMException('The I/O read operation failed.', 'NotReadableError');
          return read.call(this, blob);
        };
      };
      for (const [dir, expected, change] of [[opz, listed(opz)], [op1, listed(op1)], [kit, listed(kit)],
                                             [opz, listed(opz), workerCannotRead],
                                             [notHuge, listed(notHuge)],
                                             [big, listed(big)]]) {
        const undo = change && await tab.alter(change);
        await openPage(tab, url);
        await tab.upload('#open-disk', [dir]);
        await tab.waitFor(() => document.querySelector('#library').textContent !== ''
                                && !document.querySelector('#library').hasAttribute('data-busy'));
        if (undo) await undo();
        assert.equal(await tab.evaluate(() => document.querySelector('#library').textContent), expected, dir);
      }
    });

    test('a preset folder opened shows kitweaver-inspect\'s table, and one whose patch.json is not JSON its one line', async () => {
      const kit = copyOf('kit', 'chords');
      const preset = presetOf(kit);
      const dir = path.join(folder('opened', Object.fromEntries(Object.entries(preset.files).filter(([name]) => !name.endsWith('/')))),
                            'kit.preset');
      await openPage(tab, url);
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-preset', [dir])), preset.table);
      await padsPlayAsInspected(tab, preset.pads, [0, 12, 23]);
      assert.deepEqual(unzipped(await offered(tab)), preset.files, 'the folder is offered as its zip');
      // A sample file missing: the inspector's warning ends the table, and the
      // pads that play it play nothing.
      const inspectOpened = (...args) => spawnSync(inspector, [...args, 'kit.preset'], { cwd: path.dirname(dir), encoding: 'utf8' });
      const missing = JSON.parse(inspectOpened('--json').stdout).regions[0].sample;
      fs.rmSync(path.join(dir, missing));
      const warned = inspectOpened().stdout;
      assert.match(warned, /\nwarning: /);
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-preset', [dir])), warned);
      const silent = JSON.parse(inspectOpened('--json').stdout).regions.filter((region) => region.sample === missing)
        .map((region) => region.pad);
      assert.equal(silent.length, 8, 'each of the three files plays 8 of the 24 pads');
      assert.deepEqual(await tab.evaluate(() => [...document.querySelectorAll('#keys button')]
        .filter((button) => button.disabled).map((button) => Number(button.dataset.key))), silent);
      fs.writeFileSync(path.join(dir, 'patch.json'), '{"engine":');
      const refused = inspectOpened();
      assert.equal(refused.status, 1);
      const line = refused.stderr.replace(/^kitweaver-inspect: /, '').trimEnd();
      assert.match(line, /^kit\.preset\/patch\.json: /);
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-preset', [dir])), line);
    });

    test('a pack of 40 MB opens; a file larger than 64 MB is too large to be a pack', async () => {
      const large = path.join(scratch, 'large.aif');
      fs.writeFileSync(large, devicePack('drum utility'));
      fs.truncateSync(large, 40 << 20);
      await openPage(tab, url);
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-pack', [large])),
                   spawnSync(inspector, [large], { encoding: 'utf8' }).stdout);
      fs.truncateSync(large, (64 << 20) + 1);
      assert.equal(await tableOnceShown(tab, () => tab.upload('#open-pack', [large])),
                   'large.aif: the file is too large to be a pack');
    });

    test('moving a file down swaps its keys with the next file\'s', async () => {
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(copyOf('kit', 'demo kit')));
      const first = await build(tab);
      await tab.click('#list li:first-child button[title="Move down"]');
      const second = await build(tab);
      // A slice's last frame is where the next one starts, so it is left out.
      const [a, b] = [first, second].map(({ pack }) => inspected(pack).keys.map(
        (key) => soundOf(pack).subarray(2 * key.start_frame, 2 * key.end_frame)));
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
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(dir));
      const built = await build(tab);
      assert.equal(built.log, expected.log);
      assert.equal(built.state, 'built');

      const empty = commandLine(folder('kit', {}));
      await openPage(tab, url);
      const nothing = await build(tab);
      assert.equal(nothing.state, 'failed');
      assert.equal(nothing.log, empty.log);
      assert.match(nothing.log, /No WAV files found\n/);
    });

    test('files are read where they are: any size, in the list\'s order', async () => {
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
      await openPage(tab, url);
      await tab.upload('#files', listingOrder(huge));
      assert.equal((await build(tab)).log, expected.log);
      assert.ok(Number(await tab.evaluate(() => document.body.dataset.coreMemory)) <= 64 << 20, 'the core stays within 64 MB');

      // Names a JavaScript object would put in another order.
      const named = folder('kit', { 10: wav(1, 16, 4410), 2: wav(1, 16, 8820), '01': wav(1, 16, 13230) });
      await openPage(tab, url);
      await tab.upload('#files', ['10', '2', '01'].map((file) => path.join(named, file)));
      assert.deepEqual(runNames((await build(tab)).log), ['10', '2', '01']);
    });
  });
}

// Firefox with no sound device (no sound server): its AudioContext never
// starts, and the page says so instead of leaving keys marked as playing.
if (engines.includes('firefox')) {
  describe('firefox without a sound device', () => {
    let tab;
    before(async () => {
      tab = await launch('firefox', { env: { PULSE_SERVER: `unix:${path.join(scratch, 'no-sound-server')}` }, scratch });
    });
    after(async () => { await tab?.close(); });

    test('a key and the whole pack give the no-sound sentence, and nothing stays marked as playing', async () => {
      await openPage(tab, pathToFileURL(pageFile).href);
      await openPack(tab, packOf('demo kit', 'kit'));
      await tab.click('#keys button[data-key="3"]');
      await tab.click('#play-pack');
      await tab.waitFor(() => !document.querySelector('#sound-note').hidden);
      assert.match(await tab.evaluate(() => document.querySelector('#sound-note').textContent), /^No sound: the browser has no sound output/);
      assert.deepEqual(await tab.evaluate(() => [document.querySelectorAll('[data-playing], [data-count-in]').length,
                                                 document.querySelector('#play-pack').textContent]),
                       [0, 'Play the whole pack']);
    });
  });
}
