// Float WAV, AIFF and AIFC recordings in the page, in Debian's chromium,
// headless: a copy of a kit in another format gives, in the page, the
// command line's lines and pack for that copy, which are the original's,
// byte for byte, with high-quality resampling and without.
//
//   KITWEAVER_BINARY     the command line's kitweaver
//   KITWEAVER_PAGE       build-web/index.html
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
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kitweaver-formats-'));

before(async () => {
  assert.ok(binary && process.env.KITWEAVER_PAGE, 'set KITWEAVER_BINARY and KITWEAVER_PAGE');
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(scratch, 'profile')}`],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => pageErrors.push(error.message));
});

after(async () => {
  await browser?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(pageErrors, [], 'the page threw');
});

// ---- Recordings in every format, written here ----

// The format and integer samples of a PCM WAV file.
function readWav(bytes) {
  const recording = { channels: bytes.readUInt16LE(22), rate: bytes.readUInt32LE(24), bits: bytes.readUInt16LE(34) };
  let at = 12;
  while (bytes.toString('latin1', at, at + 4) !== 'data') at += 8 + bytes.readUInt32LE(at + 4);
  const width = recording.bits / 8;
  const data = bytes.subarray(at + 8, at + 8 + bytes.readUInt32LE(at + 4));
  recording.samples = Array.from({ length: data.length / width },
                                 (_, i) => (width === 1 ? data[i] - 128 : data.readIntLE(i * width, width)));
  return recording;
}

// Integer samples as bytes: 8-bit WAV samples are unsigned.
function integerBytes({ bits, samples }, { bigEndian = false, unsignedBytes = false } = {}) {
  const width = bits / 8;
  const out = Buffer.alloc(samples.length * width);
  samples.forEach((s, i) => {
    if (width === 1) out[i] = unsignedBytes ? s + 128 : s & 0xFF;
    else if (bigEndian) out.writeIntBE(s, i * width, width);
    else out.writeIntLE(s, i * width, width);
  });
  return out;
}

function writeWav(recording, { float = false } = {}) {
  const { channels, rate } = recording;
  const bits = float ? 32 : recording.bits;
  let data;
  if (float) {
    data = Buffer.alloc(recording.samples.length * 4);
    recording.samples.forEach((s, i) => data.writeFloatLE(s / 2 ** (recording.bits - 1), 4 * i));
  } else {
    data = integerBytes(recording, { unsignedBytes: true });
  }
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(float ? 3 : 1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE((rate * channels * bits) / 8, 28);
  header.writeUInt16LE((channels * bits) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(data.length, 40);
  return Buffer.concat([header, data]);
}

function chunk(id, body) {
  const head = Buffer.alloc(8);
  head.write(id, 0, 'latin1');
  head.writeUInt32BE(body.length, 4);
  return Buffer.concat([head, body, Buffer.alloc(body.length % 2)]);
}

// An AIFF file, or AIFC "sowt" (little-endian): COMM (the rate as an 80-bit
// extended number), then SSND.
function writeAiff(recording, { sowt = false } = {}) {
  const { channels, rate, bits, samples } = recording;
  const comm = Buffer.alloc(sowt ? 24 : 18);
  comm.writeUInt16BE(channels, 0);
  comm.writeUInt32BE(samples.length / channels, 2);
  comm.writeUInt16BE(bits, 6);
  let exponent = 16383 + 31;
  let mantissa = rate;
  while (mantissa < 2 ** 31) {
    mantissa *= 2;
    exponent -= 1;
  }
  comm.writeUInt16BE(exponent, 8);
  comm.writeUInt32BE(mantissa, 10);
  if (sowt) comm.write('sowt', 18, 'latin1');  // then an empty name
  const sound = Buffer.concat([Buffer.alloc(8), integerBytes(recording, { bigEndian: !sowt })]);
  const body = Buffer.concat([Buffer.from(sowt ? 'AIFC' : 'AIFF'), chunk('COMM', comm), chunk('SSND', sound)]);
  return chunk('FORM', body);
}

// The demo kit, and the same sounds as 24-bit stereo (every bit used).
const demo = fs.readdirSync(path.join(examples, 'demo kit')).filter((f) => f.endsWith('.wav'))
  .map((name) => ({ name, ...readWav(fs.readFileSync(path.join(examples, 'demo kit', name))) }));
const demo24 = demo.map(({ name, rate, samples }) => ({
  name, rate, channels: 2, bits: 24,
  samples: samples.flatMap((s, i) => [s * 256 + ((i * 37) & 0xFF), -s * 256 - ((i * 11) & 0xFF) - 1]),
}));

// Every copy keeps the original's names, extensions and all, so that the
// folders list their files in the same order.
function folder(kind, recordings, write) {
  const dir = path.join(scratch, kind, 'kit PO-33.3');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  for (const recording of recordings) fs.writeFileSync(path.join(dir, recording.name), write(recording));
  return dir;
}

function listingOrder(dir) {
  const names = [];
  const listing = fs.opendirSync(dir);
  for (let entry; (entry = listing.readSync()) !== null;) names.push(entry.name);
  listing.closeSync();
  return names;
}

// `kitweaver [--hq] "kit PO-33.3"` from the folder above, as the page runs it.
function commandLine(dir, hq) {
  const packPath = path.join(dir, 'samplepack.aif');
  fs.rmSync(packPath, { force: true });
  const run = spawnSync(binary, hq ? ['--hq', path.basename(dir)] : [path.basename(dir)],
                        { cwd: path.dirname(dir), encoding: 'utf8' });
  const pack = fs.existsSync(packPath) ? fs.readFileSync(packPath) : null;
  fs.rmSync(packPath, { force: true });
  return { log: run.stdout, pack };
}

// The page's build of the files, in the folder's listing order.
async function pageBuild(dir, hq) {
  await page.goto(pageUrl, { waitUntil: 'load' });
  await (await page.$('#files')).uploadFile(...listingOrder(dir).map((file) => path.join(dir, file)));
  await page.select('#device', 'po33');
  await page.$eval('#seconds', (input) => { input.value = '3'; });
  await page.$eval('#hq', (box, on) => { box.checked = on; }, hq);
  await page.click('#build');
  await page.waitForFunction(() => ['built', 'failed'].includes(document.body.dataset.state));
  const built = await page.evaluate(async () => {
    const link = document.querySelector('#download');
    const bytes = link.href ? new Uint8Array(await (await fetch(link.href)).arrayBuffer()) : null;
    return { log: document.querySelector('#log').textContent,
             pack: bytes && btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join('')) };
  });
  return { log: built.log, pack: built.pack && Buffer.from(built.pack, 'base64') };
}

test('float WAV, AIFF and AIFC copies of a kit give its pack in the page and on the command line', async () => {
  const originals = { 16: folder('pcm16', demo, writeWav), 24: folder('pcm24', demo24, writeWav) };
  for (const [what, kit, write] of [
    ['float copy of a 16-bit kit', 16, (r) => writeWav(r, { float: true })],
    ['AIFF copy of a 16-bit kit', 16, writeAiff],
    ['AIFC sowt copy of a 16-bit kit', 16, (r) => writeAiff(r, { sowt: true })],
    ['float copy of a 24-bit kit', 24, (r) => writeWav(r, { float: true })],
  ]) {
    const original = originals[kit];
    const copy = folder('copy', kit === 16 ? demo : demo24, write);
    assert.deepEqual(listingOrder(copy), listingOrder(original), `${what}: the folders list alike`);
    for (const hq of [false, true]) {
      const label = `${what}${hq ? ', high quality' : ''}`;
      const expected = commandLine(original, hq);
      const cli = commandLine(copy, hq);
      assert.ok(expected.pack && cli.pack && cli.pack.equals(expected.pack), `${label}: the command line's packs differ`);
      assert.equal(cli.log, expected.log, label);
      const built = await pageBuild(copy, hq);
      assert.equal(built.log, expected.log, label);
      assert.ok(built.pack && built.pack.equals(expected.pack), `${label}: the page's pack differs`);
    }
  }
});
