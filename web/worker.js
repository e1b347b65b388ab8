// The page's worker: the compiled core (createKitweaver, just before this
// text) over an in-memory file system. Builds a kit from the files it is
// sent, and reads packs back as the inspector does.
'use strict';

let printed = [];
const ready = createKitweaver({
  print: (line) => printed.push(line),
  printErr: (line) => printed.push(line),
});

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

// What the inspector shows of the pack at `path`.
function inspect(core, path) {
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
    samples: new Int16Array(raw.buffer, raw.byteOffset, raw.byteLength >> 1).slice(),
  };
}

// Writes the files into /work/FOLDER in their order and runs
// `kitweaver FOLDER` (with `hq`, `kitweaver --hq FOLDER`) from /work, as the
// command line would be run.
async function build(core, { folder, files, hq }) {
  const FS = core.FS;
  removeTree(FS, '/work');
  FS.mkdir('/work');
  FS.mkdir(`/work/${folder}`);
  for (const { name, file } of files) {
    FS.writeFile(`/work/${folder}/${name}`, new Uint8Array(await file.arrayBuffer()));
  }
  FS.chdir('/work');
  printed = [];
  const status = core.ccall('kitweaver_build', 'number', ['string', 'number'], [folder, hq ? 1 : 0]);
  const result = { kind: 'built', status, log: printed.map((line) => `${line}\n`).join('') };
  const packPath = `/work/${folder}/samplepack.aif`;
  if (status === 0 && FS.analyzePath(packPath).exists) {
    result.pack = FS.readFile(packPath);
    result.view = inspect(core, packPath);
  }
  FS.chdir('/');
  removeTree(FS, '/work');
  return result;
}

self.onmessage = async (event) => {
  const core = await ready;
  const request = event.data;
  try {
    if (request.kind === 'build') {
      self.postMessage(await build(core, request));
    } else {
      core.FS.writeFile('/opened.aif', new Uint8Array(await request.file.arrayBuffer()));
      self.postMessage({ kind: 'opened', name: request.name, view: inspect(core, '/opened.aif') });
      core.FS.unlink('/opened.aif');
    }
  } catch (error) {
    self.postMessage({ kind: 'error', message: `${error}${error.errno ? ` (errno ${error.errno})` : ''}` });
  }
};
