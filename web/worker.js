// The page's worker: the compiled core (createKitweaver, just before this
// text). Builds a kit from the user's files, read where they are, and reads
// packs back as the inspector does.
'use strict';

let printed = [];
let core = null;
const ready = createKitweaver({
  print: (line) => printed.push(line),
  printErr: (line) => printed.push(line),
  readAt,
}).then((module) => { core = module; return module; });

// The core's C library numbers errors as WASI does.
const kErrno = { ENOENT: 44, EIO: 29, EBADF: 8 };
// No pack is near this size (40 s of 16-bit mono is 3.5 MB); a bigger file
// is not read into the core's memory.
const kLargestPack = 32 << 20;

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
// Returns the count read (0 at the end) or -errno. Each file is read
// through one stream, the browser's fastest way and the one that holds
// least: a read that follows on from the last (or skips a little) continues
// it, any other starts a new stream where it asks. Two buffers take turns:
// while the core works on one, the browser already fills the other, once
// the reads are the sound's rather than the header's. A header is read
// through small buffers, so that the files' headers cost little; the sound,
// through large ones. A read the browser
// refuses (the file was removed or changed on disk, or may not be read)
// fails as a read of a file system would.
const readers = new Map();  // WORKERFS node -> {reader, position, held, spare, next, chunk}
const kSkipBytes = 1 << 20;
const kHeaderChunk = 64 << 10;
const kSoundChunk = 1 << 20;
const kSoundRead = 64 << 10;  // reads this large are the sound's: read ahead

function startReader(file, offset) {
  return { reader: file.slice(offset).stream().getReader({ mode: 'byob' }), position: offset,
           held: new Uint8Array(0), spare: new ArrayBuffer(0), next: null, chunk: kHeaderChunk };
}

// A free buffer of the reader's chunk size.
function spareBuffer(state) {
  if (state.spare.byteLength < state.chunk) state.spare = new ArrayBuffer(state.chunk);
  return new Uint8Array(state.spare);
}

// The next chunk: the one already asked for, or a new request.
function nextChunk(state) {
  const next = state.next || state.reader.read(spareBuffer(state));
  state.next = null;
  return next;
}

async function readAt(fd, pointer, size, offset) {
  const node = core.FS.getStream(fd)?.node;
  const file = node?.contents;
  if (!(file instanceof Blob)) return -kErrno.EBADF;
  if (offset >= file.size) return 0;
  let state = readers.get(node);
  try {
    if (!state || offset < state.position || offset - state.position > kSkipBytes) {
      if (state) state.reader.cancel().catch(() => {});
      state = startReader(file, offset);
      readers.set(node, state);
    }
    if (size >= kSoundRead) state.chunk = kSoundChunk;
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
    if (size >= kSoundRead && !state.next && state.position < file.size) {
      state.next = state.reader.read(spareBuffer(state));
      state.next.catch(() => {});  // a failure is met by the read that takes it
    }
    return done;
  } catch {
    readers.delete(node);
    return -(await readFailure(file, offset));
  }
}

// Why a file can't be read: a stream only says "network error", a read of
// one byte says whether the file is gone.
async function readFailure(file, offset) {
  try {
    await file.slice(offset, offset + 1).arrayBuffer();
  } catch (error) {
    if (error && error.name === 'NotFoundError') return kErrno.ENOENT;
  }
  return kErrno.EIO;
}

function closeReaders() {
  for (const { reader } of readers.values()) reader.cancel().catch(() => {});
  readers.clear();
}

// What the inspector shows of the pack at `path`.
function inspect(path) {
  const FS = core.FS;
  removeTree(FS, '/inspect');
  FS.mkdir('/inspect');
  const error = core.ccall('kitweaver_inspect', 'string', ['string', 'string'], [path, '/inspect']);
  if (error) return { error };
  const raw = FS.readFile('/inspect/samples.raw');
  return {
    table: FS.readFile('/inspect/table.txt', { encoding: 'utf8' }),
    keys: JSON.parse(FS.readFile('/inspect/keys.json', { encoding: 'utf8' })).keys,
    svg: FS.readFile('/inspect/pack.svg', { encoding: 'utf8' }),
    format: JSON.parse(core.ccall('kitweaver_pack_format', 'string', [], [])),
    samples: new Int16Array(raw.buffer, raw.byteOffset, raw.byteLength >> 1).slice(),
  };
}

// The pack the page shows (the latest built or opened, with the keys changed
// since), and that pack as it was built or opened.
const kCurrentPack = '/current.aif';
const kOriginalPack = '/original.aif';

function keepAsOriginal() {
  core.FS.writeFile(kOriginalPack, core.FS.readFile(kCurrentPack));
}

// Mounts the files as /work/FOLDER in their order and runs `kitweaver
// FOLDER` (with `hq`, `kitweaver --hq FOLDER`) from /work, as the command
// line would be run; the pack is written to kCurrentPack. Replies with the
// run, then (when there is a pack) with what the inspector shows of it.
async function build({ folder, files, hq, id }) {
  const FS = core.FS;
  const kit = `/work/${folder}`;
  if (FS.analyzePath(kCurrentPack).exists) FS.unlink(kCurrentPack);
  if (!FS.analyzePath('/work').exists) FS.mkdir('/work');
  FS.mkdir(kit);
  mountKit(FS, kit, files);
  FS.chdir('/work');
  printed = [];
  let status;
  try {
    status = await core.ccall('kitweaver_build', 'number', ['string', 'number', 'string'],
                              [folder, hq ? 1 : 0, kCurrentPack], { async: true });
  } finally {
    closeReaders();
    FS.chdir('/');
    FS.unmount(kit);
    FS.rmdir(kit);
  }
  const made = status === 0 && FS.analyzePath(kCurrentPack).exists;
  if (made) keepAsOriginal();
  self.postMessage({ kind: 'built', id, status, log: printed.map((line) => `${line}\n`).join(''),
                     memory: core.HEAP8.length, pack: made ? packBlob() : null });
  if (made) reply({ kind: 'view', id, view: inspect(kCurrentPack) });
}

function packBlob() {
  return new Blob([core.FS.readFile(kCurrentPack)], { type: 'audio/aiff' });
}

// Posts a reply, its samples moved rather than copied.
function reply(message) {
  self.postMessage(message, message.view && message.view.samples ? [message.view.samples.buffer] : []);
}

// One request at a time: a build waits for reads, and nothing else may
// enter the core meanwhile.
async function handle(request) {
  await ready;
  try {
    if (request.kind === 'build') {
      await build(request);
    } else if (request.kind === 'edit' || request.kind === 'reset') {
      // A key changed through the core, as kitweaver-inspect --set does.
      const error = request.kind === 'edit'
        ? core.ccall('kitweaver_edit', 'string', ['string', 'string'], [kCurrentPack, request.set])
        : core.ccall('kitweaver_reset_key', 'string', ['string', 'string', 'number'],
                     [kCurrentPack, kOriginalPack, request.key]);
      if (error) {
        reply({ kind: 'edited', error });
      } else {
        reply({ kind: 'edited', pack: packBlob(), view: inspect(kCurrentPack) });
      }
    } else if (request.file.size > kLargestPack) {
      reply({ kind: 'opened', name: request.name, view: { error: 'the file is too large to be a pack' } });
    } else {
      core.FS.writeFile('/opened.aif', new Uint8Array(await request.file.arrayBuffer()));
      const view = inspect('/opened.aif');
      if (view.error) {
        core.FS.unlink('/opened.aif');
        reply({ kind: 'opened', name: request.name, view });
      } else {
        core.FS.rename('/opened.aif', kCurrentPack);
        keepAsOriginal();
        reply({ kind: 'opened', name: request.name, view, pack: packBlob() });
      }
    }
  } catch (error) {
    self.postMessage({ kind: 'error', message: `${error}${error.errno ? ` (errno ${error.errno})` : ''}` });
  }
}

let queue = Promise.resolve();
self.onmessage = (event) => { queue = queue.then(() => handle(event.data)); };
