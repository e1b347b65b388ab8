// Float WAV, AIFF and AIFC recordings in the page, in Debian's chromium,
// headless: a copy of a kit in another format (written by sox) gives, in the
// page, the command line's lines and pack for that copy, which are the
// original's, byte for byte, with high-quality resampling and without.
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

// Copies of the demo kit that sox writes, each keeping the original's names
// (extensions and all), so that the folders list their files in the same
// order: as they are, as float WAV, AIFF and AIFC, and as 24-bit WAV with
// every bit in use (a gain) and its float copy.
function folder(kind, from, soxOptions, effects = []) {
  const dir = path.join(scratch, kind, 'kit PO-33.3');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  for (const name of fs.readdirSync(from).filter((f) => f.endsWith('.wav'))) {
    const run = spawnSync('sox', ['-D', path.join(from, name), ...soxOptions, path.join(dir, name), ...effects]);
    assert.equal(run.status, 0, `sox: ${run.stderr}`);
  }
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
  const demo = path.join(examples, 'demo kit');
  const originals = { 16: folder('pcm16', demo, ['-t', 'wav']), 24: folder('pcm24', demo, ['-b', '24', '-t', 'wav'], ['gain', '-0.1']) };
  for (const [what, kit, options] of [
    ['float copy of a 16-bit kit', 16, ['-e', 'floating-point', '-b', '32', '-t', 'wav']],
    ['AIFF copy of a 16-bit kit', 16, ['-t', 'aiff']],
    ['AIFC copy of a 16-bit kit', 16, ['-t', 'aifc']],
    ['float copy of a 24-bit kit', 24, ['-e', 'floating-point', '-b', '32', '-t', 'wav']],
  ]) {
    const original = originals[kit];
    const copy = folder('copy', original, options);
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
