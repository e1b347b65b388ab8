// The page's worker: the compiled core (createKitweaver) and the zip
// library (fflate), just before this text. Builds a kit from the user's
// files, read where they are, reads packs and OP-XY presets back as the
// inspector does, and lists a device's disk.
'use strict';

let printed = [];
let core = null;
// The core and the way this browser lets the worker read files; the page
// hears which, or why the core can't start here.
const ready = Promise.all([
  createKitweaver({
    print: (line) => printed.push(line),
    printErr: (line) => printed.push(line),
    readAt,
  }),
  detectReading(),
]).then(([module, way]) => {
  core = module;
  reading = way;
  self.postMessage({ kind: 'ready', reading, facts: JSON.parse(core.ccall('kitweaver_pack_format', 'string', [], [])) });
}, (error) => {
  self.postMessage({ kind: 'unsupported', message: `This browser could not start the page's WebAssembly core (${error}).` });
  throw error;
});

// The core's C library numbers errors as WASI does.
const kErrno = { ENOENT: 44, EIO: 29, EBADF: 8 };

function removeTree(FS, path) {
  if (!FS.analyzePath(path).exists) return;
  for (const name of FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const child = `${path}/${name}`;
    if (FS.isDir(FS.stat(child).mode)) removeTree(FS, child);
    else FS.unlink(child);
  }
  FS.rmdir(path);
}

// The kit folder: the user's files as WORKERFS mounts them, nothing copied,
// listed in the list's order, which a JavaScript object would not keep for
// names such as "10" and "2". The core reads them through readAt below.
function mountKit(FS, path, files) {
  const names = files.map((f) => f.name);
  FS.mount(FS.filesystems.WORKERFS, { blobs: files.map((f) => ({ name: f.name, data: f.file })) }, path);
  const root = FS.lookupPath(path).node;
  root.node_ops = { ...root.node_ops, readdir: () => ['.', '..', ...names] };
}

// Every read of the core's, header and sound alike: `size` bytes at
// `offset` of the file open as `fd`, into the core's memory at `pointer`.
// Returns the count read (0 at the end) or -errno. How the bytes are read
// is what this browser offers, found by trying it (detectReading), never by
// its name:
//   'byob'   a stream of the file read through a BYOB reader into buffers
//            of our own: the fastest and the one that holds least;
//   'chunks' a window of the file at a time, read through a default reader
//            of its stream (an engine without BYOB readers of Blob streams:
//            Safari before 26.4);
//   'page'   a window at a time that the page reads and moves here: where
//            this worker can't read the user's files at all (WebKit opened
//            from disk), which the first read that fails here and works
//            there shows.
// A read the browser refuses (the file was removed or changed on disk)
// fails as a read of a file system would; one that fails for a reason of
// the browser's stops the run with a sentence that says so (trouble).
let reading = null;
let trouble = null;
let buildFiles = new Map();  // each File of the build -> its index in the page's list

// A header is read through small buffers, so that the files' headers cost
// little; the sound (the core says which reads are the sound's), through
// large ones, and the next is asked for while the core works on one.
const kHeaderChunk = 64 << 10;
const kSoundChunk = 1 << 20;

// With BYOB readers, each file is read through one stream: a read that
// follows on from the last (or skips a little) continues it, any other
// starts a new stream where it asks. Two buffers take turns.
const readers = new Map();  // WORKERFS node -> {reader, position, held, spare, next, chunk}
const kSkipBytes = 1 << 20;

function startReader(file, offset) {
  return { reader: file.slice(offset).stream().getReader({ mode: 'byob' }), position: offset,
           held: new Uint8Array(0), spare: new ArrayBuffer(0), next: null, chunk: kHeaderChunk };
}

// A request for the next chunk, into a free buffer of the reader's chunk size.
function requestChunk(state) {
  if (state.spare.byteLength < state.chunk) state.spare = new ArrayBuffer(state.chunk);
  return state.reader.read(new Uint8Array(state.spare));
}

// The next chunk: the one already asked for, or a new request.
function nextChunk(state) {
  const next = state.next || requestChunk(state);
  state.next = null;
  return next;
}

async function readStream(node, file, pointer, size, offset, sound) {
  let state = readers.get(node);
  if (!state || offset < state.position || offset - state.position > kSkipBytes) {
    if (state) state.reader.cancel().catch(() => {});
    state = startReader(file, offset);
    readers.set(node, state);
  }
  if (sound) state.chunk = kSoundChunk;
  let done = 0;
  while (done < size) {
    if (state.held.length === 0) {
      const used = state.held.buffer;
      const { value, done: ended } = await nextChunk(state);
      state.spare = used;
      if (ended || !value || value.length === 0) {
        if (value) state.spare = value.buffer;
        break;
      }
      state.held = value;
    }
    // Bytes before the offset are passed over; the rest is the read's.
    const skip = Math.min(Math.max(0, offset + done - state.position), state.held.length);
    const count = Math.min(size - done, state.held.length - skip);
    core.HEAPU8.set(state.held.subarray(skip, skip + count), pointer + done);
    state.held = state.held.subarray(skip + count);
    state.position += skip + count;
    done += count;
  }
  if (sound && !state.next && state.position < file.size) {
    state.next = requestChunk(state);
    state.next.catch(() => {});  // a failure is met by the read that takes it
  }
  return done;
}

// Elsewhere a file is read a window at a time, never a whole file's stream:
// WebKit reads a stream ahead to its end, as fast as it can, whatever is
// taken from it. Each window is `fetch(file, start, length)`, a promise of
// its bytes; the window after a sound read is asked for at once.
const windows = new Map();  // WORKERFS node -> {current: {start, bytes}, next: {start, length, bytes (a promise)}}
const kSoundWindow = 2 << 20;

// Gives back the memory of a window, now rather than when the engine next
// collects its garbage: WebKit lets hundreds of MB of read bytes pile up.
// (A browser's own chunks are left to its collector: Chromium loses count
// of them once they are given back this way.)
function release(bytes) {
  if (bytes.buffer.transfer && bytes.byteLength > 0) bytes.buffer.transfer(0);
}

async function readWindows(node, file, pointer, size, offset, sound, fetch) {
  let state = windows.get(node);
  if (!state) windows.set(node, state = { current: { start: 0, bytes: new Uint8Array(0) }, next: null });
  const length = sound ? kSoundWindow : kHeaderChunk;
  let done = 0;
  while (done < size) {
    const at = offset + done;
    const { current, next } = state;
    if (at < current.start || at >= current.start + current.bytes.length) {
      const ahead = next && at >= next.start && at < next.start + next.length;
      release(current.bytes);
      if (next && !ahead) next.bytes.then(release, () => {});
      state.current = { start: ahead ? next.start : at, bytes: await (ahead ? next.bytes : fetch(file, at, length)) };
      state.next = null;
      if (at >= state.current.start + state.current.bytes.length) break;  // the file ends sooner than it did
      continue;
    }
    const count = Math.min(size - done, current.start + current.bytes.length - at);
    core.HEAPU8.set(current.bytes.subarray(at - current.start, at - current.start + count), pointer + done);
    done += count;
  }
  const end = state.current.start + state.current.bytes.length;
  if (sound && !state.next && end < file.size) {
    state.next = { start: end, length: kSoundWindow, bytes: fetch(file, end, kSoundWindow) };
    state.next.bytes.catch(() => {});  // a failure is met by the read that takes it
  }
  return done;
}

// A window read here, through a default reader of its stream.
async function ownWindow(file, start, length) {
  const reader = file.slice(start, start + length).stream().getReader();
  const bytes = new Uint8Array(Math.max(0, Math.min(length, file.size - start)));
  let filled = 0;
  for (let chunk; !(chunk = await reader.read()).done;) {
    bytes.set(chunk.value.subarray(0, bytes.length - filled), filled);
    filled = Math.min(bytes.length, filled + chunk.value.length);
  }
  return bytes.subarray(0, filled);
}

// Bytes the page reads: `size` at `offset` of file `index` of its list
// `list` ('build' or 'disk'). The request waits for them, or throws the
// error the page met ({name, message, browsers}).
const pageReads = new Map();  // request number -> its resolve
let pageRequests = 0;

async function pageRead(list, index, offset, size) {
  const answer = await new Promise((resolve) => {
    pageReads.set(++pageRequests, resolve);
    self.postMessage({ kind: 'read', id: pageRequests, list, index, offset, size });
  });
  if (answer.error) throw answer.error;
  return new Uint8Array(answer.bytes);
}

const pageWindow = (file, offset, size) => pageRead('build', buildFiles.get(file), offset, size);

async function readAt(fd, pointer, size, offset, sound) {
  const node = core.FS.getStream(fd)?.node;
  const file = node?.contents;
  if (!(file instanceof Blob)) return -kErrno.EBADF;
  if (offset >= file.size) return 0;
  const wanted = Math.min(size, file.size - offset);
  if (reading !== 'page') {
    try {
      return reading === 'byob' ? await readStream(node, file, pointer, wanted, offset, sound)
                                : await readWindows(node, file, pointer, wanted, offset, sound, ownWindow);
    } catch {
      // The page says whether the file can be read at all.
      closeReaders();
    }
  }
  try {
    const count = await readWindows(node, file, pointer, wanted, offset, sound, pageWindow);
    reading = 'page';
    return count;
  } catch (error) {
    windows.delete(node);
    if (error.browsers === false) return error.name === 'NotFoundError' ? -kErrno.ENOENT : -kErrno.EIO;
    trouble = trouble || `The browser would not read ${node.name} (${error.message || error}): this is a fault of the browser, not of the file.`;
    return -kErrno.EIO;
  }
}

function closeReaders() {
  for (const { reader } of readers.values()) reader.cancel().catch(() => {});
  readers.clear();
  windows.clear();
}

// The way this browser lets the worker read a file, tried on a small Blob
// of our own; 'page' where the worker has none.
async function detectReading() {
  const probe = new Blob([new Uint8Array([7])]);
  for (const [way, reader, read] of [
    ['byob', () => probe.stream().getReader({ mode: 'byob' }), (r) => r.read(new Uint8Array(1))],
    ['chunks', () => probe.stream().getReader(), (r) => r.read()],
  ]) {
    try {
      const { value } = await read(reader());
      if (value && value[0] === 7) return way;
    } catch {
      // not this way
    }
  }
  return 'page';
}

// What the inspector shows of the pack at `path`. The keys come as frames
// (the core alone turns positions into frames); the samples hold the pack's
// channels interleaved.
function inspect(path) {
  const FS = core.FS;
  removeTree(FS, '/inspect');
  FS.mkdir('/inspect');
  const error = core.ccall('kitweaver_inspect', 'string', ['string', 'string'], [path, '/inspect']);
  if (error) return { error };
  const raw = FS.readFile('/inspect/samples.raw');
  const report = JSON.parse(FS.readFile('/inspect/keys.json', { encoding: 'utf8' }));
  const facts = JSON.parse(FS.readFile('/inspect/facts.json', { encoding: 'utf8' }));
  return {
    table: FS.readFile('/inspect/table.txt', { encoding: 'utf8' }),
    keys: report.keys,
    channels: report.channels,
    olderScale: facts.older_scale,
    scaleWarning: facts.scale_warning,
    po33: report.po33,
    svg: FS.readFile('/inspect/pack.svg', { encoding: 'utf8' }),
    samples: new Int16Array(raw.buffer, raw.byteOffset, raw.byteLength >> 1).slice(),
  };
}

// ---- OP-XY presets ----
//
// A preset is a folder NAME.preset of patch.json and the sample files side
// by side; the page offers it as NAME.preset.zip, holding that folder.

// The files of the folder at `path`, by name, into a zip of the folder
// `name`: the folder's entry, then its files in the order of their names,
// stored (its WAV files gain little from deflating).
function zipFolder(path, name) {
  const FS = core.FS;
  const files = Object.create(null);
  for (const file of FS.readdir(path).filter((entry) => entry !== '.' && entry !== '..').sort()) {
    files[file] = FS.readFile(`${path}/${file}`);
  }
  return new Blob([fflate.zipSync({ [name]: files }, { level: 0 })], { type: 'application/zip' });
}

// What the inspector shows of the preset folder `name` in `parent`, read
// from `parent` as `kitweaver-inspect NAME` would be run there: the table
// (problems last), the regions, and what each pad plays (null for a pad
// that plays nothing), at 44.1 kHz.
function inspectPreset(parent, name) {
  const FS = core.FS;
  removeTree(FS, '/inspect');
  FS.mkdir('/inspect');
  FS.chdir(parent);
  let error;
  try {
    error = core.ccall('kitweaver_inspect_preset', 'string', ['string', 'string'], [name, '/inspect']);
  } finally {
    FS.chdir('/');
  }
  if (error) return { error, preset: true };
  const sounds = JSON.parse(FS.readFile('/inspect/sounds.json', { encoding: 'utf8' }));
  return {
    preset: true,
    table: FS.readFile('/inspect/table.txt', { encoding: 'utf8' }),
    regions: JSON.parse(FS.readFile('/inspect/regions.json', { encoding: 'utf8' })).regions,
    pads: sounds.map((sound, pad) => {
      if (!sound) return null;
      const raw = FS.readFile(`/inspect/pad-${pad}.raw`);
      return { channels: sound.channels, samples: new Int16Array(raw.buffer, raw.byteOffset, raw.byteLength >> 1).slice() };
    }),
  };
}

// An opened preset: `files` ({name: bytes}) written as the folder `name`
// and read as the inspector reads it. Replies with what it shows, and the
// preset to download: `zip` as it was opened, or else a zip of the folder.
function openPreset(name, files, zip) {
  const FS = core.FS;
  keepSource(null);
  FS.mkdir(`${kSource}/${name}`);
  for (const [file, bytes] of Object.entries(files)) FS.writeFile(`${kSource}/${name}/${file}`, bytes);
  const view = inspectPreset(kSource, name);
  const download = `${name.endsWith('.preset') ? name : `${name}.preset`}.zip`;
  if (view.error) {
    reply({ kind: 'opened', name, view });
    keepSource(null);
  } else {
    const pack = zip ? new Blob([zip], { type: 'application/zip' }) : zipFolder(`${kSource}/${name}`, name);
    sourceName = name;
    reply({ kind: 'opened', name: download, view, pack });
  }
}

// A zip opened: the preset is the folder of its shallowest patch.json (the
// zip's own name without ".zip" where that lies at the top), and the files
// beside it; nothing nested in the folder is the preset's.
function openPresetZip(zipName, bytes) {
  let name;
  const files = Object.create(null);
  try {
    const names = [];
    fflate.unzipSync(bytes, { filter: (file) => { names.push(file.name); return false; } });
    const patch = names.filter((entry) => entry === 'patch.json' || entry.endsWith('/patch.json'))
      .sort((a, b) => a.split('/').length - b.split('/').length)[0];
    const folder = patch ? patch.slice(0, -'patch.json'.length) : '';
    name = folder.split('/').filter(Boolean).pop() || zipName.replace(/\.zip$/i, '');
    if (name === '' || name === '.' || name === '..') name = 'preset';
    const inFolder = (entry) => entry.startsWith(folder) && !entry.slice(folder.length).includes('/')
                                && !['', '.', '..'].includes(entry.slice(folder.length));
    for (const [entry, data] of Object.entries(fflate.unzipSync(bytes, { filter: (file) => inFolder(file.name) }))) {
      files[entry.slice(folder.length)] = data;
    }
  } catch (error) {
    reply({ kind: 'opened', name: zipName, view: { error: `${zipName}: not a zip the page can read (${error.message})`, preset: true } });
    return;
  }
  openPreset(name, files, bytes);
}

// The pack or preset opened, kept for "Make this kit for": kSource/sourceName,
// a file or a preset's folder by the name it was opened by, alone in
// kSource, so that a kit written beside it is named as the command line
// names it.
const kSource = '/source';
let sourceName = null;

// Empties kSource and keeps `bytes` there as the pack `name` (no pack when
// `bytes` is null).
function keepSource(name, bytes) {
  removeTree(core.FS, kSource);
  core.FS.mkdir(kSource);
  sourceName = null;
  if (bytes === null || bytes === undefined) return;
  sourceName = ['', '.', '..'].includes(name) || name.includes('/') ? 'pack.aif' : name;
  core.FS.writeFile(`${kSource}/${sourceName}`, bytes);
}

// The kept source made into `device`'s kit, as `kitweaver [--hq] --device
// DEVICE SOURCE` run from the source's folder makes it beside the source.
// Replies as a build does: the run, then what the inspector shows of the
// kit. The kit is then removed, so that the source is again alone.
function convert({ device, hq, id }) {
  const FS = core.FS;
  printed = [];
  trouble = null;
  let status = 2;
  let made = [];
  if (sourceName === null) {
    printed.push('No pack or preset is open');
  } else {
    FS.chdir(kSource);
    try {
      status = core.ccall('kitweaver_convert', 'number', ['string', 'number', 'string'], [sourceName, hq ? 1 : 0, device]);
    } finally {
      FS.chdir('/');
    }
    made = FS.readdir(kSource).filter((entry) => !['.', '..', sourceName].includes(entry));
  }
  let name = null;
  let pack = null;
  let view = null;
  if (status === 0 && made.length === 1) {
    [name] = made;
    const kit = `${kSource}/${name}`;
    if (FS.isDir(FS.stat(kit).mode)) {
      pack = zipFolder(kit, name);
      view = inspectPreset(kSource, name);
      name = `${name}.zip`;
    } else {
      FS.writeFile(kCurrentPack, FS.readFile(kit));
      keepAsOriginal();
      pack = packBlob();
      view = inspect(kCurrentPack);
    }
  }
  for (const entry of made) {
    const kit = `${kSource}/${entry}`;
    if (FS.isDir(FS.stat(kit).mode)) removeTree(FS, kit);
    else FS.unlink(kit);
  }
  self.postMessage({ kind: 'built', id, status, log: printed.map((line) => `${line}\n`).join(''), trouble, reading,
                     memory: core.HEAP8.length, name, pack });
  if (view) reply({ kind: 'view', id, view });
}

// The pack the page shows (the latest built or opened, with the keys changed
// since), and that pack as it was built or opened.
const kCurrentPack = '/current.aif';
const kOriginalPack = '/original.aif';

function keepAsOriginal() {
  core.FS.writeFile(kOriginalPack, core.FS.readFile(kCurrentPack));
}

// Where a build puts an OP-XY preset: kBuiltPresets/FOLDER.preset, the
// folder's name needing no change for the device.
const kBuiltPresets = '/built';

// Mounts the files as /work/FOLDER in their order and runs `kitweaver
// FOLDER` (with --hq when `hq`, `--device DEVICE` unless `device` is empty)
// from /work, as the command line would be run; the pack is written to
// kCurrentPack, a preset into kBuiltPresets. Replies with the run, then
// (when there is a pack) with what the inspector shows of it.
async function build({ folder, files, hq, trim, slice, device, id }) {
  const FS = core.FS;
  const kit = `/work/${folder}`;
  const preset = device === 'op-xy' ? `${folder}.preset` : null;
  if (FS.analyzePath(kCurrentPack).exists) FS.unlink(kCurrentPack);
  removeTree(FS, kBuiltPresets);
  FS.mkdir(kBuiltPresets);
  const target = preset ? `${kBuiltPresets}/${preset}` : kCurrentPack;
  if (!FS.analyzePath('/work').exists) FS.mkdir('/work');
  FS.mkdir(kit);
  mountKit(FS, kit, files);
  FS.chdir('/work');
  printed = [];
  trouble = null;
  buildFiles = new Map(files.map((entry, index) => [entry.file, index]));
  let status;
  try {
    status = await core.ccall('kitweaver_build', 'number', ['string', 'number', 'number', 'number', 'string', 'string'],
                              [folder, hq ? 1 : 0, trim ? 1 : 0, slice ? 1 : 0, device, target], { async: true });
  } finally {
    closeReaders();
    FS.chdir('/');
    FS.unmount(kit);
    FS.rmdir(kit);
  }
  const made = status === 0 && FS.analyzePath(target).exists;
  if (made && !preset) keepAsOriginal();
  self.postMessage({ kind: 'built', id, status, log: printed.map((line) => `${line}\n`).join(''), trouble, reading,
                     memory: core.HEAP8.length, name: preset ? `${preset}.zip` : null,
                     pack: made ? (preset ? zipFolder(target, preset) : packBlob()) : null });
  if (made) reply({ kind: 'view', id, view: preset ? inspectPreset(kBuiltPresets, preset) : inspect(kCurrentPack) });
}

// ---- A device's disk ----
//
// The chosen folder's files ({path, file}, each path beginning with the
// folder's name) are mounted under /disk in their folders, nothing copied;
// the core lists them as `kitweaver-inspect FOLDER` run from /disk, so its
// table names the folder as the user knows it. The core reads only through
// the file system here (each file's chunks, to tell its kind, and each drum
// pack whole), so a file is read by WORKERFS, a slice at a time. Folders are made from the paths here, not
// by WORKERFS, whose table of them is a plain object (a folder named
// "constructor" would be found in it).
function mountDisk(FS, path, files) {
  const { WORKERFS } = FS.filesystems;
  FS.mount(WORKERFS, {}, path);
  const folders = new Map([['', FS.lookupPath(path).node]]);
  const folderOf = (relative) => {
    if (!folders.has(relative)) {
      const slash = relative.lastIndexOf('/');
      folders.set(relative, WORKERFS.createNode(folderOf(relative.slice(0, Math.max(0, slash))),
                                                relative.slice(slash + 1), WORKERFS.DIR_MODE, 0));
    }
    return folders.get(relative);
  };
  for (const { path: relative, file } of files) {
    const slash = relative.lastIndexOf('/');
    WORKERFS.createNode(folderOf(relative.slice(0, slash)), relative.slice(slash + 1), WORKERFS.FILE_MODE, 0, file);
  }
}

// The files the core may read whole, by the core's own rule: a pack of no
// more than its largest, and the import.log it reads. Each path starts with
// the disk's folder, which the core's rule does not count.
const readWhole = ({ path, file }) =>
  core.ccall('kitweaver_reads_whole', 'number', ['string', 'number'], [path.slice(path.indexOf('/') + 1), file.size]) === 1;

// Where this worker can't read the user's files (WebKit opened from disk),
// the page reads those the core may read whole, and they are mounted as
// Blobs of the worker's own; the rest the core only lists.
async function readableDisk(files) {
  const probe = files.find(readWhole);
  try {
    if (!probe) return files;
    new FileReaderSync().readAsArrayBuffer(probe.file.slice(0, 1));
    return files;
  } catch {
    // the page reads them
  }
  const readable = [];
  for (const [index, entry] of files.entries()) {
    let { file } = entry;
    if (readWhole(entry)) {
      // A file the page can't read either stays as it is, and the listing
      // ends with the browser's error when the core reads it.
      file = await pageRead('disk', index, 0, file.size).then((bytes) => new Blob([bytes]), () => file);
    }
    readable.push({ path: entry.path, file });
  }
  return readable;
}

// Lists the disk whose files are `files`; replies with its table, or the
// line saying why there is none.
async function library({ files, id }) {
  const FS = core.FS;
  const root = files[0].path.split('/')[0];
  const mounted = await readableDisk(files);
  removeTree(FS, '/library');
  FS.mkdir('/library');
  FS.mkdir('/disk');
  let error;
  try {
    mountDisk(FS, '/disk', mounted);
    FS.chdir('/disk');
    error = core.ccall('kitweaver_library', 'string', ['string', 'string'], [root, '/library']);
  } finally {
    FS.chdir('/');
    if (FS.lookupPath('/disk', { follow_mount: false }).node.mounted) FS.unmount('/disk');
    FS.rmdir('/disk');
  }
  self.postMessage({ kind: 'library', id, error, table: error ? '' : FS.readFile('/library/library.txt', { encoding: 'utf8' }) });
}

// Whether the bytes are a zip's: its first local header's signature.
function isZip(bytes) {
  const head = new Uint8Array(bytes, 0, Math.min(4, bytes.byteLength));
  return head.length === 4 && head[0] === 0x50 && head[1] === 0x4b && head[2] === 0x03 && head[3] === 0x04;
}

function packBlob() {
  return new Blob([core.FS.readFile(kCurrentPack)], { type: 'audio/aiff' });
}

// Posts a reply, its samples (a pack's, or a preset's pads') moved rather
// than copied.
function reply(message) {
  const { view } = message;
  const moved = !view ? [] : view.samples ? [view.samples.buffer]
    : (view.pads || []).filter(Boolean).map((pad) => pad.samples.buffer);
  self.postMessage(message, moved);
}

// One request at a time: a build waits for reads, and nothing else may
// enter the core meanwhile.
async function handle(request) {
  await ready;
  try {
    if (request.kind === 'build') {
      await build(request);
    } else if (request.kind === 'convert') {
      convert(request);
    } else if (request.kind === 'name-order') {
      const order = JSON.parse(core.ccall('kitweaver_name_order', 'string', ['string'], [JSON.stringify(request.names)]));
      self.postMessage({ kind: 'name-order', names: request.names, order });
    } else if (request.kind === 'library') {
      await library(request);
    } else if (request.kind === 'edit' || request.kind === 'reset' || request.kind === 'rescale') {
      // A key changed through the core, as kitweaver-inspect --set does, or
      // the positions rewritten in the devices' scale, as --rescale does.
      let error;
      if (request.kind === 'edit') {
        error = core.ccall('kitweaver_edit', 'string', ['string', 'string'], [kCurrentPack, request.set]);
      } else if (request.kind === 'reset') {
        error = core.ccall('kitweaver_reset_key', 'string', ['string', 'string', 'number'],
                           [kCurrentPack, kOriginalPack, request.key]);
      } else {
        error = core.ccall('kitweaver_rescale', 'string', ['string'], [kCurrentPack]);
        // The pack as opened is rescaled too, so that a key set back takes
        // its positions in the same scale (a pack already on it is left).
        if (!error) core.ccall('kitweaver_rescale', 'string', ['string'], [kOriginalPack]);
      }
      if (error) {
        reply({ kind: 'edited', of: request.kind, error });
      } else {
        reply({ kind: 'edited', of: request.kind, pack: packBlob(), view: inspect(kCurrentPack) });
      }
    } else if (request.kind === 'open-preset') {
      // A preset's folder, its files read by the page.
      const files = Object.create(null);
      for (const { name, bytes } of request.files) files[name] = new Uint8Array(bytes);
      openPreset(request.name, files, null);
    } else if (isZip(request.bytes)) {
      openPresetZip(request.name, new Uint8Array(request.bytes));
    } else {
      // The page reads an opened pack: a worker can't read a File everywhere.
      core.FS.writeFile('/opened.aif', new Uint8Array(request.bytes));
      const view = inspect('/opened.aif');
      if (view.error) {
        core.FS.unlink('/opened.aif');
        keepSource(null);
        reply({ kind: 'opened', name: request.name, view });
      } else {
        core.FS.rename('/opened.aif', kCurrentPack);
        keepAsOriginal();
        keepSource(request.name, core.FS.readFile(kOriginalPack));
        reply({ kind: 'opened', name: request.name, view, pack: packBlob() });
      }
    }
  } catch (error) {
    self.postMessage({ kind: 'error', of: request.kind, message: `${error}${error.errno ? ` (errno ${error.errno})` : ''}` });
  }
}

let queue = Promise.resolve();
self.onmessage = (event) => {
  const request = event.data;
  if (request.kind !== 'read') {
    queue = queue.then(() => handle(request));
    return;
  }
  // The page's answer to a read, which a build is waiting for.
  pageReads.get(request.id)(request);
  pageReads.delete(request.id);
};
