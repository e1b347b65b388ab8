// The page: the list of recordings, the build, the pack's keys. The core
// runs in a worker made from the page itself, so that a big kit never
// freezes the page and the page works from a file as from a server.
'use strict';
(() => {
  const $ = (selector) => document.querySelector(selector);
  const kSlots = 24;
  // Computer keys for keys 0 to 23: the lower and upper rows as a keyboard.
  const kComputerKeys = 'zsxdcvgbhnjmq2w3er5t6y7u';
  const kBlack = new Set([1, 3, 6, 8, 10]);

  const entries = [];  // {name, file, size}: the list, in slot order
  let packUrl = null;
  let builds = 0;     // the latest build's number: a view of an earlier one is stale
  let view = null;     // what the inspector shows of the current pack
  let selected = null; // the key the form changes
  // The files of the build under way and of the disk being listed, which the
  // worker may ask the page to read.
  const pageFiles = { build: [], disk: [] };

  // What the page needs of the browser: a missing part is named in one
  // sentence, and nothing is built.
  function unsupported(sentence) {
    const notice = $('#notice');
    notice.textContent = sentence;
    notice.hidden = false;
    $('#build').disabled = true;
    $('#sort').disabled = true;
    $('#convert').disabled = true;
    $('#open-pack').disabled = true;
    $('#open-preset').disabled = true;
    $('#open-disk').disabled = true;
  }

  let worker = null;
  if (typeof WebAssembly !== 'object') {
    unsupported('This browser does not run WebAssembly, which the page needs to build a kit.');
  } else if (typeof Worker !== 'function') {
    unsupported('This browser has no web workers, which the page needs to build a kit.');
  } else {
    try {
      const source = Uint8Array.from(atob($('#worker-source').textContent.trim()), (c) => c.charCodeAt(0));
      worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
    } catch (error) {
      unsupported(`This browser would not start the page's worker (${error}), which the page needs to build a kit.`);
    }
  }

  // The bytes of a Blob (through a FileReader where Blob.arrayBuffer is
  // missing, as in Safari before 14).
  const pageCanRead = typeof Blob.prototype.arrayBuffer === 'function' || typeof FileReader === 'function';
  function bytesOf(blob) {
    if (typeof blob.arrayBuffer === 'function') return blob.arrayBuffer();
    return new Promise((resolve, reject) => {
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result);
      reader.onerror = () => reject(reader.error);
      reader.readAsArrayBuffer(blob);
    });
  }

  // A read the worker can't make itself (WebKit's worker can't read the
  // user's files when the page is opened from disk): the page reads the
  // bytes and moves them to the worker. A failure is the file's (removed
  // or changed on disk: each engine names it its own way) unless it is no
  // DOMException or the page can't even read a Blob of its own.
  async function answerRead({ id, list, index, offset, size }) {
    try {
      const bytes = await bytesOf(pageFiles[list][index].slice(offset, offset + size));
      worker.postMessage({ kind: 'read', id, bytes }, [bytes]);
    } catch (error) {
      const readsOwn = await bytesOf(new Blob(['k'])).then(() => true, () => false);
      worker.postMessage({ kind: 'read', id, error: { name: error.name, message: String(error),
                                                      browsers: !readsOwn || !(error instanceof DOMException) } });
    }
  }

  // ---- The list of recordings ----

  function uniqueName(name) {
    const taken = new Set(entries.map((e) => e.name));
    if (!taken.has(name)) return name;
    const dot = name.lastIndexOf('.');
    const stem = dot > 0 ? name.slice(0, dot) : name;
    const extension = dot > 0 ? name.slice(dot) : '';
    for (let n = 2; ; ++n) {
      const candidate = `${stem} (${n})${extension}`;
      if (!taken.has(candidate)) return candidate;
    }
  }

  // The size is read as a file is added: the browser then holds the file to
  // it, and a file removed from disk later fails to read instead of reading
  // as empty.
  function addFiles(files) {
    for (const file of files) entries.push({ name: uniqueName(file.name), file, size: file.size });
    renderList();
  }

  function sizeText(bytes) {
    if (bytes >= 1e6) return `${(bytes / 1e6).toFixed(1)} MB`;
    return `${Math.max(1, Math.round(bytes / 1e3))} kB`;
  }

  function move(from, to) {
    if (to < 0 || to >= entries.length || from === to) return;
    const [entry] = entries.splice(from, 1);
    entries.splice(to, 0, entry);
    renderList();
  }

  function renderList() {
    const list = $('#list');
    list.replaceChildren();
    entries.forEach((entry, index) => {
      const item = document.createElement('li');
      item.draggable = true;
      item.dataset.index = String(index);
      if (index >= kSlots) {
        item.classList.add('unused');
        item.title = 'Only the first 24 files are used';
      }
      const name = document.createElement('span');
      name.textContent = entry.name;
      const size = document.createElement('small');
      size.textContent = sizeText(entry.size);
      item.append(name, size);
      for (const [label, title, action] of [
        ['\u2191', 'Move up', () => move(index, index - 1)],
        ['\u2193', 'Move down', () => move(index, index + 1)],
        ['\u00d7', 'Remove', () => { entries.splice(index, 1); renderList(); }],
      ]) {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = label;
        button.title = title;
        button.addEventListener('click', action);
        item.append(button);
      }
      item.addEventListener('dragstart', (event) => {
        event.dataTransfer.setData('text/x-kitweaver-slot', String(index));
        item.classList.add('dragging');
      });
      item.addEventListener('dragend', () => item.classList.remove('dragging'));
      item.addEventListener('dragover', (event) => {
        if (event.dataTransfer.types.includes('text/x-kitweaver-slot')) event.preventDefault();
      });
      item.addEventListener('drop', (event) => {
        const from = event.dataTransfer.getData('text/x-kitweaver-slot');
        if (from === '') return;
        event.preventDefault();
        event.stopPropagation();
        move(Number(from), index);
      });
      list.append(item);
    });
  }

  // Files of a dropped folder, in the order the browser lists them: every
  // file beneath it, or with `deep` false only those directly in it.
  async function filesOf(entry, deep = true) {
    if (entry.isFile) return [await new Promise((resolve, reject) => entry.file(resolve, reject))];
    const reader = entry.createReader();
    const files = [];
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) return files;
      for (const child of batch) if (deep || child.isFile) files.push(...await filesOf(child, deep));
    }
  }

  // Makes `element` take dropped files: marked while they are over it, the
  // drop's data handed to `take` (which reads its items before it awaits).
  function dropZone(element, take) {
    element.addEventListener('dragover', (event) => {
      if (!event.dataTransfer.types.includes('Files')) return;
      event.preventDefault();
      element.classList.add('over');
    });
    element.addEventListener('dragleave', () => element.classList.remove('over'));
    element.addEventListener('drop', (event) => {
      event.preventDefault();
      element.classList.remove('over');
      take(event.dataTransfer);
    });
  }

  // "Sort by name": the core gives the order --sort takes the names in, so
  // that the page and the command line share one rule. Files added while it
  // answers stay at the end, and any file can still be moved after.
  $('#sort').addEventListener('click', () => {
    if (entries.length > 1) worker.postMessage({ kind: 'name-order', names: entries.map((e) => e.name) });
  });
  function sortList({ names, order }) {
    const byName = new Map(entries.map((e) => [e.name, e]));
    const sorted = order.map((index) => byName.get(names[index])).filter(Boolean);
    const rest = entries.filter((e) => !sorted.includes(e));
    entries.splice(0, entries.length, ...sorted, ...rest);
    renderList();
  }

  $('#files').addEventListener('change', (event) => {
    addFiles(event.target.files);
    event.target.value = '';
  });
  dropZone($('#drop'), async (data) => {
    const items = [...data.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
    if (items.every(Boolean)) {
      const files = [];
      for (const item of items) files.push(...await filesOf(item));
      addFiles(files);
    } else {
      addFiles(data.files);
    }
  });

  // ---- Building ----

  // The core's facts, which the worker sends once it is ready; until then
  // what the page's HTML says.
  const facts = { largest_pack_bytes: Infinity, po33_max_seconds: Number($('#seconds').max) };
  function useFacts(from) {
    Object.assign(facts, from);
    $('#seconds').max = String(facts.po33_max_seconds);
    const pitch = $('#key-edit').elements.pitch;
    pitch.min = String(-facts.most_pitch_semitones);
    pitch.max = String(facts.most_pitch_semitones);
  }

  const device = $('#device');
  const seconds = $('#seconds');
  function showSeconds() { $('#seconds-label').hidden = device.value !== 'po33'; }
  device.addEventListener('change', showSeconds);
  showSeconds();

  // The folder the core is run on, as `kitweaver FOLDER` from its parent.
  function folderName() {
    if (device.value !== 'po33') return 'kit';
    const most = facts.po33_max_seconds;
    const n = Math.min(most, Math.max(1, Math.round(Number(seconds.value) || most)));
    seconds.value = String(n);
    return `kit PO-33.${n}`;
  }

  $('#build').addEventListener('click', () => {
    if (document.body.dataset.state === 'building') return;
    document.body.dataset.state = 'building';
    $('#log').textContent = 'Building\u2026';
    // The worker reads the files itself where it can: nothing big is done here.
    const files = entries.map((e) => ({ name: e.name, file: e.file }));
    pageFiles.build = files.map((e) => e.file);
    // The core's --device word: the OP-1's is the default, and a PO-33's
    // the folder's name chooses.
    worker.postMessage({ kind: 'build', id: ++builds, folder: folderName(), files, hq: $('#hq').checked,
                         trim: $('#trim').checked, slice: $('#slice').checked,
                         device: ['field', 'op-xy'].includes(device.value) ? device.value : '' });
    // "Make this kit for" is for an opened pack or preset, not a built one.
    $('#convert-section').hidden = true;
  });

  // "Make this kit for": the opened pack or preset, which the worker keeps,
  // made into the chosen device's kit as `kitweaver [--hq] --device D
  // SOURCE` makes it beside the source; the run and the download are a
  // build's.
  $('#convert').addEventListener('click', () => {
    if (document.body.dataset.state === 'building') return;
    document.body.dataset.state = 'building';
    $('#log').textContent = 'Building\u2026';
    worker.postMessage({ kind: 'convert', id: ++builds, device: $('#convert-device').value, hq: $('#hq').checked });
  });

  const packName = $('#pack-name');
  const download = $('#download');
  const kPackName = 'samplepack.aif';
  packName.addEventListener('input', () => { download.download = packName.value.trim() || kPackName; });

  // The name offered for a download: `name` where the page has one (an
  // OP-XY preset's zip, an opened file), else the one typed unless it was
  // a preset's.
  function nameDownload(name) {
    if (name) packName.value = name;
    else if (/\.preset\.zip$/i.test(packName.value.trim())) packName.value = kPackName;
    download.download = packName.value.trim() || kPackName;
  }

  // `pack` is a Blob the worker made, so its bytes are never copied here.
  function showPack(pack) {
    if (packUrl) URL.revokeObjectURL(packUrl);
    packUrl = pack ? URL.createObjectURL(pack) : null;
    if (packUrl) {
      download.href = packUrl;
      download.classList.remove('disabled');
    } else {
      download.removeAttribute('href');
      download.classList.add('disabled');
    }
  }

  // An opened pack or preset, or the line saying why it can't be shown (a
  // preset's names its file itself, as kitweaver-inspect's does).
  function showOpened({ name, view: opened, pack }) {
    if (!opened.error) {
      nameDownload(name);
      showPack(pack);
    }
    $('#convert-section').hidden = Boolean(opened.error);
    inStages(...viewSteps(opened.error ? null : opened), () => {
      if (opened.error) $('#table').textContent = opened.preset ? opened.error : `${name}: ${opened.error}`;
    });
  }

  const onReply = (event) => {
    const reply = event.data;
    if (reply.kind === 'read') {
      answerRead(reply);
    } else if (reply.kind === 'ready') {
      document.body.dataset.reading = reply.reading;
      useFacts(reply.facts);
      if (reply.reading === 'page' && !pageCanRead) unsupported('This browser gives the page no way to read your files.');
    } else if (reply.kind === 'unsupported') {
      unsupported(reply.message);
    } else if (reply.kind === 'built') {
      // The run is done once its lines and the download are there; what the
      // inspector shows of the pack follows as the view. A read the browser
      // failed is said as such, never as a fault of the file.
      document.body.dataset.coreMemory = String(reply.memory);
      document.body.dataset.reading = reply.reading;
      $('#log').textContent = reply.trouble || reply.log;
      if (reply.status === 0) nameDownload(reply.name);
      showPack(reply.status === 0 ? reply.pack : null);
      for (const clear of viewSteps(null)) clear();
      document.body.dataset.state = reply.status === 0 ? 'built' : 'failed';
    } else if (reply.kind === 'view') {
      if (reply.id === builds) inStages(...viewSteps(reply.view));
    } else if (reply.kind === 'opened') {
      showOpened(reply);
    } else if (reply.kind === 'name-order') {
      sortList(reply);
    } else if (reply.kind === 'library') {
      if (reply.id === disks) showLibrary(reply.error || reply.table);
    } else if (reply.kind === 'error' && reply.of === 'library') {
      showLibrary(`The page failed: ${reply.message}`);
    } else if (reply.kind === 'edited') {
      delete keyEdit.dataset.busy;
      if (reply.error && reply.of === 'rescale') {
        rescale.disabled = false;
        $('#rescale-message').value = reply.error;
      } else if (reply.error) {
        fillForm();
        keyEdit.elements.message.value = reply.error;
      } else {
        showPack(reply.pack);
        inStages(...viewSteps(reply.view));
      }
    } else {
      $('#log').textContent = `The page failed: ${reply.message}`;
      document.body.dataset.state = 'failed';
    }
  };
  if (worker) {
    worker.onmessage = onReply;
    worker.onerror = (event) => unsupported(`This browser could not run the page's worker (${event.message}).`);
  }

  // No pack is near the core's largest (40 s of 16-bit mono is 3.5 MB): a
  // bigger file is not read. The page reads the pack, or an OP-XY preset's
  // zip, and moves its bytes to the worker.
  async function openFile(file) {
    let bytes = null;
    let error = /\.zip$/i.test(file.name) ? 'the file is too large for the page to read' : 'the file is too large to be a pack';
    if (file.size <= facts.largest_pack_bytes) {
      try {
        bytes = await bytesOf(file);
      } catch (failure) {
        error = `the file can't be read (${failure.name})`;
      }
    }
    if (bytes) worker.postMessage({ kind: 'open', name: file.name, bytes }, [bytes]);
    else showOpened({ name: file.name, view: { error } });
  }
  $('#open-pack').addEventListener('change', (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (file) openFile(file);
  });

  // An OP-XY preset's folder, `name`, of the files in it (those in folders
  // of its own are none of the preset's): the page reads them and moves
  // their bytes to the worker, which shows the preset as the inspector does.
  async function openPresetFolder(name, files) {
    const read = [];
    try {
      for (const file of files) read.push({ name: file.name, bytes: await bytesOf(file) });
    } catch (failure) {
      showOpened({ name, view: { error: `${name}: a file can't be read (${failure.name})`, preset: true } });
      return;
    }
    worker.postMessage({ kind: 'open-preset', name, files: read }, read.map(({ bytes }) => bytes));
  }
  $('#open-preset').addEventListener('change', (event) => {
    const chosen = [...event.target.files];
    event.target.value = '';
    const name = chosen.length > 0 ? chosen[0].webkitRelativePath.split('/')[0] : '';
    if (name === '') {
      showOpened({ name: 'preset', view: { error: 'This browser gave files without their folder: choose the preset\'s zip instead.', preset: true } });
      return;
    }
    openPresetFolder(name, chosen.filter((file) => file.webkitRelativePath === `${name}/${file.name}`));
  });

  // A pack, a preset's zip or a preset's folder dropped on the pack's part.
  dropZone($('#pack-section'), async (data) => {
    const item = data.items[0];
    const entry = item && item.webkitGetAsEntry && item.webkitGetAsEntry();
    if (entry && entry.isDirectory) {
      openPresetFolder(entry.name, await filesOf(entry, false));
    } else if (data.files.length > 0) {
      openFile(data.files[0]);
    }
  });

  // ---- A device's disk ----
  //
  // The folder a device shows as its disk, listed as kitweaver-inspect DISK
  // lists it. The browser gives the folder's files, each with its path from
  // the folder on (its name first), but not its empty folders; the worker
  // mounts them and the core reads them, nothing written.
  let disks = 0;  // the latest disk's number: a library of an earlier one is stale
  const library = $('#library');
  function showLibrary(text) {
    library.textContent = text;
    library.removeAttribute('data-busy');
  }
  $('#open-disk').addEventListener('change', (event) => {
    const files = [...event.target.files].map((file) => ({ path: file.webkitRelativePath, file }));
    event.target.value = '';
    ++disks;
    if (files.length === 0) {
      showLibrary('The folder holds no files: not a device\'s disk.');
    } else if (!files.every(({ path }) => path.includes('/'))) {
      showLibrary('This browser gave files without their folders: a device\'s disk can\'t be read here.');
    } else {
      library.textContent = `Reading ${files[0].path.split('/')[0]}\u2026`;
      library.dataset.busy = '';
      pageFiles.disk = files.map(({ file }) => file);
      worker.postMessage({ kind: 'library', id: disks, files });
    }
  });

  // ---- Seeing and hearing the pack ----

  function buildKeyboard() {
    const keys = $('#keys');
    const whiteWidth = 100 / 14;
    let white = 0;
    for (let k = 0; k < kSlots; ++k) {
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.key = String(k);
      button.disabled = true;
      const black = kBlack.has(k % 12);
      button.className = black ? 'black' : 'white';
      if (black) {
        button.style.left = `calc(${white * whiteWidth}% - ${whiteWidth * 0.3}%)`;
        button.style.width = `${whiteWidth * 0.6}%`;
      } else {
        button.style.left = `${white * whiteWidth}%`;
        button.style.width = `${whiteWidth}%`;
        ++white;
      }
      const label = document.createElement('span');
      label.textContent = String(k);
      const letter = document.createElement('small');
      letter.textContent = kComputerKeys[k].toUpperCase();
      button.append(label, letter);
      button.addEventListener('click', () => {
        play(k);
        select(k);
      });
      keys.append(button);
    }
  }

  // Runs the steps one after another, each once the page has shown what
  // the one before changed, so that no stretch of the main thread's work
  // holds up the page for long.
  function inStages(...steps) {
    const [step, ...rest] = steps;
    step();
    if (rest.length > 0) requestAnimationFrame(() => setTimeout(() => inStages(...rest), 0));
  }

  // What a key's button says of it: a pack's slice, or the region of a
  // preset's pad (its first, where it has several).
  function keyTitle(key) {
    if (view.preset) {
      const region = view.regions.find((r) => r.pad === key);
      return region ? `${region.sample}, ${region.play_mode}${region.reverse ? ', reversed' : ''}, ${region.transpose} semitones` : '';
    }
    const row = view.keys[key];
    if (!row) return '';
    return `slice ${row.slice}, ${row.length_ms.toFixed(1)} ms, ${row.pitch_semitones} semitones, ${row.direction}`;
  }

  // The steps that show a pack or a preset (or none): the keys, the table,
  // the picture (a pack's).
  function viewSteps(next) {
    return [() => {
      if (packVoice) packVoice.stop();
      view = next;
      playPack.disabled = !view || heldFrames() === 0;
      $('#po33-note').hidden = !(view && view.po33);
      for (const button of document.querySelectorAll('#keys button')) {
        const key = Number(button.dataset.key);
        button.disabled = !view || (view.preset ? !view.pads[key] : !view.keys[key] || view.keys[key].length_frames === 0);
        button.removeAttribute('data-playing');
        button.title = view ? keyTitle(key) : '';
      }
      fillForm();
    }, () => {
      $('#table').textContent = view ? view.table : '';
      showScaleWarning();
    }, () => showPicture(view && view.svg ? view.svg : '')];
  }

  // The frames the current pack's sound holds, in each of its channels (a
  // preset is no one sound).
  function heldFrames() {
    return view && !view.preset ? view.samples.length / view.channels : 0;
  }

  // A pack whose positions are written at 4056 per frame plays a little
  // early on a device: its warning (the reader's last, after the keys' own)
  // stands above the table, and the rescale beside it rewrites the pack
  // through the core, as kitweaver-inspect --rescale does.
  const rescale = $('#rescale');
  function showScaleWarning() {
    const older = view !== null && Boolean(view.olderScale);
    $('#scale-warning').hidden = !older;
    $('#scale-warning-text').textContent = older ? view.scaleWarning : '';
    $('#rescale-message').value = '';
    rescale.disabled = false;
  }
  rescale.addEventListener('click', () => {
    if (!view || rescale.disabled) return;
    rescale.disabled = true;
    worker.postMessage({ kind: 'rescale' });
  });

  // The picture is the inspector's, drawn once its box comes into view. Its
  // text labels are set as HTML over it, in the same places: Chromium lays
  // out SVG text slowly enough (up to a tenth of a second here) to hold up
  // the page.
  let pictureInView = false;
  let pictureWanted = '';
  let pictureShown = '';
  function drawPicture() {
    if (!pictureInView || pictureShown === pictureWanted) return;
    pictureShown = pictureWanted;
    const svg = new DOMParser().parseFromString(pictureWanted, 'image/svg+xml').documentElement;
    const [, , width, height] = svg.getAttribute('viewBox').split(' ').map(Number);
    const labels = [...svg.querySelectorAll('text')].map((text) => {
      const label = document.createElement('span');
      label.className = `label ${text.getAttribute('text-anchor') || 'start'}`;
      label.textContent = text.textContent;
      label.style.left = `${(Number(text.getAttribute('x')) / width) * 100}%`;
      label.style.top = `${(Number(text.getAttribute('y')) / height) * 100}%`;
      text.remove();
      return label;
    });
    const drawing = document.createElement('div');
    drawing.className = 'drawing';
    drawing.append(document.importNode(svg, true), ...labels);
    $('#picture').replaceChildren(drawing);
  }
  function showPicture(svg) {
    pictureWanted = svg;
    if (!svg) {
      $('#picture').replaceChildren();
      pictureShown = '';
    }
    drawPicture();
  }
  new IntersectionObserver((entries) => {
    pictureInView = entries[entries.length - 1].isIntersecting;
    drawPicture();
  }, { rootMargin: '100px' }).observe($('#picture'));

  // ---- Sound ----
  //
  // The AudioContext is made or resumed inside the handler of the click,
  // tap or key that asks for sound: every engine wants a user's gesture for
  // it, iOS most strictly. Where sound has not started a moment later (no
  // output device: Firefox then keeps the context suspended, and its
  // resume() never settles), everything waiting to sound is stopped, so
  // that nothing stays marked as playing, and the page says so, once.
  // Firefox takes over a second to start its first sound.
  const kSoundWait = 3000;  // ms
  const soundNote = $('#sound-note');
  let audio = null;
  let soundStarted = false;
  const voices = new Set();  // what sounds or waits to

  function sound() {
    if (!audio) {
      const Context = window.AudioContext || window.webkitAudioContext;
      if (!Context) {
        soundNote.textContent = 'This browser has no Web Audio, so the page can\'t play sound.';
        soundNote.hidden = false;
        return null;
      }
      // Sound as a player's, which an iPhone's silent switch does not mute.
      try {
        if (navigator.audioSession) navigator.audioSession.type = 'playback';
      } catch { /* the session keeps its type */ }
      audio = new Context();
      audio.addEventListener('statechange', () => { if (audio.state === 'running') soundNote.hidden = true; });
    }
    if (audio.state !== 'running' && audio.resume) Promise.resolve(audio.resume()).catch(() => {});
    if (!soundStarted) {
      const then = audio.currentTime;
      setTimeout(() => {
        soundStarted = audio.state === 'running' && audio.currentTime > then;
        soundNote.hidden = soundStarted;
        if (soundStarted) return;
        for (const voice of [...voices]) voice.stop();
        soundNote.textContent = 'No sound: the browser has no sound output to play to (is an output device connected?).';
      }, kSoundWait);
    }
    return audio;
  }

  // Frames `first` to `last` of `samples` (a pack's sound, or what a
  // preset's pad plays) as a sound of the pack rate, in each of its
  // `channels` (the samples hold them interleaved), reversed when asked.
  function soundBuffer(first, last, reversed, { samples, channels } = view) {
    const length = last - first + 1;
    const buffer = audio.createBuffer(channels, length, facts.pack_rate);
    for (let c = 0; c < channels; ++c) {
      const channel = buffer.getChannelData(c);
      for (let i = 0, at = first * channels + c; i < length; ++i, at += channels) {
        channel[reversed ? length - 1 - i : i] = samples[at] / 32768;
      }
    }
    return buffer;
  }

  // How a sound's channels are named in data-playing: nothing for one.
  const channelsText = (buffer) => (buffer.numberOfChannels > 1 ? ` in ${buffer.numberOfChannels} channels` : '');

  // Starts `buffer` at `rate`, `delay` seconds from now. The voice's
  // `ended` runs once, when it has sounded or is stopped.
  function startVoice(buffer, rate, delay, ended) {
    const source = audio.createBufferSource();
    source.buffer = buffer;
    source.playbackRate.value = rate;
    source.connect(audio.destination);
    const voice = {
      source,
      startAt: audio.currentTime + delay,
      stop() {
        try { source.stop(); } catch { /* not started */ }
        source.onended();
      },
    };
    source.onended = () => { if (voices.delete(voice)) ended(); };
    voices.add(voice);
    source.start(voice.startAt);
    return voice;
  }

  // Plays a key as the device does: its slice (the frames the core places
  // it at; an empty key plays nothing), reversed where the key is reversed,
  // at its pitch (p semitones play 2^(p/12) times as fast).
  function play(key) {
    if (view && view.preset) {
      playPad(key);
      return;
    }
    const row = view && view.keys[key];
    if (!row || row.length_frames === 0 || !sound()) return;
    const start = row.start_frame;
    const end = row.end_frame;
    const reversed = row.direction === 'reversed';
    const button = document.querySelector(`#keys button[data-key="${key}"]`);
    let playing = '';
    const buffer = soundBuffer(start, end, reversed);
    const voice = startVoice(buffer, 2 ** (row.pitch_semitones / 12), 0,
                             () => { if (button.dataset.playing === playing) button.removeAttribute('data-playing'); });
    playing = `${start}-${end}${reversed ? ' reversed' : ''} at ${voice.source.playbackRate.value.toFixed(4)}${channelsText(buffer)}`;
    button.dataset.playing = playing;
  }

  // Plays a preset's pad as kitweaver-inspect --audition plays it (the core
  // gives its sound, trimmed, turned and transposed).
  function playPad(key) {
    const pad = view.pads[key];
    if (!pad || !sound()) return;
    const frames = pad.samples.length / pad.channels;
    const button = document.querySelector(`#keys button[data-key="${key}"]`);
    const buffer = soundBuffer(0, frames - 1, false, pad);
    const playing = `pad ${key}: ${frames} frames${channelsText(buffer)}`;
    startVoice(buffer, 1, 0, () => { if (button.dataset.playing === playing) button.removeAttribute('data-playing'); });
    button.dataset.playing = playing;
  }

  // ---- Playing the whole pack ----
  //
  // A PO-33 takes sounds only through its line in or its microphone: its
  // owner plays the pack into it while the device records. The pack sounds
  // as written, at full level, from its first frame to its last, after a
  // silent count-in that gives time to start recording. The button shows
  // the time left and stops the sound when pressed again.
  const kCountIn = 3;  // seconds
  const playPack = $('#play-pack');
  let packVoice = null;
  let packTimer = 0;

  function showPackPlaying() {
    const now = audio ? audio.currentTime : 0;
    const counting = packVoice !== null && now < packVoice.startAt;
    const sounding = packVoice !== null && !counting;
    playPack.toggleAttribute('data-count-in', counting);
    if (sounding) playPack.dataset.playing = `0-${heldFrames() - 1}${channelsText(packVoice.source.buffer)}`;
    else playPack.removeAttribute('data-playing');
    const left = packVoice && Math.max(0, Math.ceil(counting ? packVoice.startAt - now : packVoice.endAt - now));
    playPack.textContent = counting ? `Stop (starts in ${left} s)` : sounding ? `Stop (${left} s left)` : 'Play the whole pack';
  }

  playPack.addEventListener('click', () => {
    if (packVoice) {
      packVoice.stop();
      return;
    }
    if (!view || heldFrames() === 0 || !sound()) return;
    const buffer = soundBuffer(0, heldFrames() - 1, false);
    packVoice = startVoice(buffer, 1, kCountIn, () => {
      packVoice = null;
      clearInterval(packTimer);
      showPackPlaying();
    });
    packVoice.endAt = packVoice.startAt + buffer.duration;
    packTimer = setInterval(showPackPlaying, 100);
    showPackPlaying();
  });

  // ---- Changing a key ----

  // Each change goes to the worker, which changes the pack through the core
  // as kitweaver-inspect --set does, and sends the pack and its view back.
  const keyEdit = $('#key-edit');

  function select(key) {
    selected = key;
    for (const button of document.querySelectorAll('#keys button')) {
      button.toggleAttribute('data-selected', Number(button.dataset.key) === key);
    }
    fillForm();
  }

  // The form shows the selected key as the current pack has it.
  function fillForm() {
    const row = view && !view.preset && selected !== null ? view.keys[selected] : null;
    keyEdit.hidden = !row;
    if (!row) return;
    const fields = keyEdit.elements;
    $('#key-edit-key').textContent = String(selected);
    fields.pitch.value = String(row.pitch_semitones);
    fields.direction.value = row.direction;
    fields.mode.value = row.play_mode;
    fields.start.value = String(row.start_frame);
    fields.end.value = String(row.end_frame);
    const slices = new Map();
    for (const key of view.keys) {
      if (!slices.has(key.slice)) slices.set(key.slice, `${key.start_frame},${key.end_frame}`);
    }
    fields.slice.replaceChildren(...[...slices].sort((a, b) => a[0] - b[0]).map(([slice, bounds]) => {
      const option = new Option(`${slice}: frames ${bounds.replace(',', ' to ')}`, bounds);
      option.selected = slice === row.slice;
      return option;
    }));
    fields.message.value = '';
  }

  function change(set) {
    keyEdit.dataset.busy = '';
    worker.postMessage({ kind: 'edit', set: `${selected}:${set}` });
  }

  keyEdit.addEventListener('submit', (event) => event.preventDefault());
  keyEdit.addEventListener('change', (event) => {
    const field = event.target;
    if (selected === null || !field.name || field.value === '') return;
    if (field.name === 'slice') {
      const [start, end] = field.value.split(',');
      change(`start=${start},end=${end}`);
    } else {
      change(`${field.name}=${field.value}`);
    }
  });
  keyEdit.elements.reset.addEventListener('click', () => {
    if (selected === null) return;
    keyEdit.dataset.busy = '';
    worker.postMessage({ kind: 'reset', key: selected });
  });

  document.addEventListener('keydown', (event) => {
    if (event.repeat || event.ctrlKey || event.metaKey || event.altKey) return;
    if (event.target instanceof HTMLInputElement || event.target instanceof HTMLSelectElement) return;
    const key = kComputerKeys.indexOf(event.key.toLowerCase());
    if (key >= 0) play(key);
  });

  buildKeyboard();
  renderList();
})();
