// The page: files dropped or opened, analysed by the module, converted in
// place where the browser lets a page write a file, else offered as a
// download. window.Tovacrex is its scripting face (see the README).
//
// One state holds everything the page shows; whatever changes it calls
// changed(), and view() alone writes the document from it, once a frame.
'use strict';

// The page's own texts; the rest are the Windows program's (kProgramTexts,
// put in from its resources when the page is made).
const kPageTexts = {
  en: {
    drop: 'Drop AVI or Matroska files or a folder here, or', openFolder: 'Open a folder', handler: 'Handler',
    compression: 'Compression', result: 'Result', all: 'Convert all', undoAll: 'Undo all',
    record: 'Download the record', language: 'Русский', converted: 'converted', undone: 'undone',
    inPlace: 'Writing mode: files are changed in place. This browser writes a whole copy of each file ' +
      '(NAME.crswap) and puts it over the original when done: seconds per GiB, free space as large as the ' +
      'file, and hard links keep the old bytes. For true in-place edits use tovacrex-cli or tovacrex.exe.',
    download: 'Download mode: this browser cannot write a file, so each converted file is offered as a ' +
      'download.',
    nothingSent: 'Nothing leaves this computer: only the start of each file, where its headers are, is ' +
      'read, here.',
    writing: 'writing...', copying: 'the browser is copying the whole file',
    mayHoldNew: 'the file may hold the new codes; the record keeps them for tovacrex-cli undo',
    reading: 'Reading',
  },
  ru: {
    drop: 'Перетащите сюда файлы AVI или Matroska или папку, или', openFolder: 'Открыть папку', handler: 'Handler',
    compression: 'Compression', result: 'Результат', all: 'Конвертировать все', undoAll: 'Отменить все',
    record: 'Скачать запись', language: 'English', converted: 'конвертирован', undone: 'отменено',
    inPlace: 'Режим записи: файлы меняются на месте. Этот браузер пишет полную копию каждого файла ' +
      '(ИМЯ.crswap) и ставит её на место оригинала: секунды на ГиБ, свободное место размером с файл, ' +
      'жёсткие ссылки сохраняют старые байты. Для настоящей правки на месте используйте tovacrex-cli ' +
      'или tovacrex.exe.',
    download: 'Режим скачивания: этот браузер не может записать файл, поэтому каждый конвертированный ' +
      'файл предлагается для скачивания.',
    nothingSent: 'Ничего не покидает этот компьютер: читается только начало каждого файла, где его ' +
      'заголовки, здесь.',
    writing: 'запись...', copying: 'браузер копирует весь файл',
    mayHoldNew: 'файл может содержать новые коды; запись хранит их для tovacrex-cli undo',
    reading: 'Чтение',
  },
};
const canWrite = typeof window.showOpenFilePicker === 'function';

const state = {
  lang: (navigator.language || 'en').toLowerCase().startsWith('ru') ? 'ru' : 'en',
  codecs: [],         // the catalogue's names, from the module: codec n is codecs[n - 1]
  codecIds: new Map(),  // a name in lower case -> its number
  // {name (as shown), recordName (as the record names it), source, size, info,
  //  original: [h, c], originalCodec, result, choice, version}
  rows: [],
  groups: new Map(),  // codec group -> {names, choice, members}
  record: [],         // what was written, as `convert --json` prints it: `tovacrex-cli undo` takes it
  reading: null,      // {done, total}: the files being read
  work: null,         // {row, done, total, since}: the files being written
  over: false,        // something dragged over the drop zone
};
let engine = null;
const ready = TovacrexModule().then((m) => {
  engine = new Engine(m);
  state.codecs = engine.codecs;
  state.codecIds = new Map(state.codecs.map((c, i) => [c.toLowerCase(), i + 1]));
});
const $ = (id) => document.getElementById(id);
const t = (key) => kPageTexts[state.lang][key] ?? kProgramTexts[state.lang][key];
// A message of the core (English, as the command line prints it) in the
// language shown: its opening, where it is one of the program's texts.
function said(message) {
  for (let id = 1; id <= 16; ++id) {
    const english = kProgramTexts.en[id];
    if (message.startsWith(english)) return t(id) + message.slice(english.length);
  }
  return message;
}

// A target given as on the command line: a name in any letter case, or its number.
function codecId(target) {
  const n = Number(target);
  if (Number.isInteger(n) && n >= 1 && n <= state.codecs.length) return n;
  const id = state.codecIds.get(String(target).toLowerCase());
  if (!id) throw new Error(`unknown codec '${target}'`);
  return id;
}

// Reads and writes of a file the page holds as a handle (in place) or as a
// File (the writes land in a copy of its head, offered as a download).
// file, head: the file as already got and its first bytes as already read.
function fileIo(source, file = source.getFile ? null : source, head = null) {
  const handle = source.getFile ? source : null;
  const patches = new Map();  // offset -> 4 bytes, download mode
  let writer = null;
  const io = {
    patches,
    // One snapshot of the file for all reads until it is written.
    file: async () => (file ??= await handle.getFile()),
    readAt: async (offset, length) => {
      const f = await io.file(), whole = offset === 0 && length >= f.size;
      // The head as read, not a copy of it, where no patch goes over it.
      const inHead = head && offset + length <= head.length;
      const bytes = inHead ? head[patches.size ? 'slice' : 'subarray'](offset, offset + length)
        : new Uint8Array(await (whole ? f : f.slice(offset, offset + length)).arrayBuffer());
      for (const [at, b] of patches) {
        const from = Math.max(at, offset), to = Math.min(at + 4, offset + bytes.length);
        for (let i = from; i < to; ++i) bytes[i - offset] = b[i - at];
      }
      return bytes;
    },
    writeAt: async (offset, bytes) => {
      if (!handle) return void patches.set(offset, bytes);
      writer ??= await handle.createWritable({ keepExistingData: true });
      head = null;
      await writer.write({ type: 'write', position: offset, data: bytes });
    },
    // A close that fails leaves the writer as it is: writes after it fail too.
    flush: async () => {
      if (!writer) return;
      await writer.close();
      writer = file = null;
    },
    abort: async () => {
      const w = writer;
      writer = null;
      patches.clear();
      if (w) file = null, await w.abort();
    },
  };
  return io;
}

async function analyseSource(source, name, options) {
  await ready;
  const io = fileIo(source);
  return engine.analyse(name, (await io.file()).size, io, options);
}

// {result, entry}, as Engine.convert; the entry goes into the record.
async function convertSource(source, name, target, { dryRun, anyCase, original } = {}) {
  await ready;
  const io = fileIo(source);
  const file = await io.file();
  const done = await engine.convert(name, file.size, io, codecId(target), { dryRun, anyCase, original });
  if (done.entry) state.record.push(done.entry), changed();
  if (io.patches.size && done.result.written) {
    // The patched head and the untouched rest: the file is never read whole.
    const end = Math.max(...[...io.patches.keys()].map((o) => o + 4));
    const head = await io.readAt(0, end);
    const type = /\.mkv$/i.test(source.name) ? 'video/x-matroska' : 'video/x-msvideo';
    offerDownload(new Blob([head, file.slice(end)], { type }), source.name);
  }
  return done;
}

// A link that is never put in the document: the page stays the view's alone.
function offerDownload(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

// A code as the analysis shows it (its \xNN text) back to the 32-bit number
// it is in the file: the pair a file held when it came, without reading it again.
const codeValue = (text) => [...text.replace(/\\x(..)/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)))]
  .reduce((v, c, i) => v + c.charCodeAt(0) * 2 ** (8 * i), 0);

// Whether the analysis found a code to rewrite: a handler in an AVI file, the code alone in a Matroska track.
const hasCode = (info) => Boolean(info.handler_offset || info.compression_offset);

// A row's new codec: the one chosen while it is still a target, else the first.
const choiceIn = (info, chosen) => (info.targets.map(codecId).includes(chosen) ? chosen
  : info.targets.length ? codecId(info.targets[0]) : 0);

// One line a codec group, every file of it to one codec; a choice made stays.
function regroup() {
  const groups = new Map();
  for (const { info } of state.rows) {
    if (!info.targets.length || groups.has(info.group)) continue;
    const names = [...new Set([info.codec, ...info.targets])].sort((a, b) => codecId(a) - codecId(b));
    const before = state.groups.get(info.group)?.choice;
    const choice = names.map(codecId).includes(before) ? before : codecId(names[0]);
    groups.set(info.group, { names, choice, members: [] });
  }
  for (const row of state.rows) groups.get(row.info.group)?.members.push(row);
  state.groups = groups;
}

// Files as the walk finds them ({source, order, name, recordName}), read
// and analysed while it goes on. Their heads are read many files to one
// read (a read costs the page far more than its bytes), and their rows come
// in together, in the walk's order (by `order`, the path's names), drawn in
// one frame: rows coming in a read at a time cost more than they save.
const kBatch = 64, kReadStep = 50;
async function addFiles(find) {
  await ready;
  const reading = (state.reading ??= { done: 0, total: 0 });
  const gets = [], reads = [];
  let batch = [];
  const readBatch = async (files) => {
    const parts = files.map(({ file }) => (!file ? new Blob()
      : file.size <= kFirstWindow ? file : file.slice(0, kFirstWindow)));
    // One file that cannot be read fails the whole read: then each is read alone, and says so itself.
    const all = await new Blob(parts).arrayBuffer().then((b) => new Uint8Array(b), () => null);
    let at = 0;
    return Promise.all(files.map(async ({ f, file, error }, i) => {
      const head = all?.subarray(at, (at += parts[i].size));
      let info;
      try {
        if (error) throw error;
        info = await engine.analyse(f.recordName, file.size, fileIo(f.source, file, head));
      } catch (e) {  // a file that went away, or may not be read: its row says so
        info = { file: f.recordName, ok: false, message: String(e.message || e), codec: null, targets: [] };
      }
      // The count goes forward by steps: a thousand files read do not ask for a thousand frames.
      if (++reading.done % kReadStep === 0) changed();
      const code = (offset, value) => (offset ? codeValue(value) : 0);
      const original = hasCode(info)
        ? [code(info.handler_offset, info.handler), code(info.compression_offset, info.compression)] : null;
      return { ...f, size: file?.size ?? 0, info, original, originalCodec: info.codec_id, result: {},
        choice: choiceIn(info), version: 0 };
    }));
  };
  const next = () => { reads.push(readBatch(batch)); batch = []; };
  const take = (f) => {
    if (!/\.(avi|mkv)$/i.test(f.name)) return;
    ++reading.total;
    gets.push((f.source.getFile ? f.source.getFile() : Promise.resolve(f.source))
      .then((file) => ({ f, file }), (error) => ({ f, error }))
      .then((got) => { if (batch.push(got) === kBatch) next(); }));
  };
  await find(take);
  await Promise.all(gets);
  if (batch.length) next();
  const made = (await Promise.all(reads)).flat();
  const walkOrder = (a, b) => {
    for (let i = 0; ; ++i) {
      if (i === a.order.length || i === b.order.length) return a.order.length - b.order.length;
      if (a.order[i] !== b.order[i]) return a.order[i] < b.order[i] ? -1 : 1;
    }
  };
  // Not push(...made): a call takes only so many arguments.
  state.rows = state.rows.concat(made.sort(walkOrder));
  if (reading.done === reading.total) state.reading = null;
  regroup();
  changed();
}

// Several files at once: each waits for the browser to write it, not for
// the module. Rows of one name (a file dropped twice) one after the other.
// One job at a time: the view holds the buttons back while one is in flight.
const kInFlight = 8;
async function convertRows(list, targetOf, done = 'converted') {
  if (state.work || !list.length) return;
  const byName = new Map();
  for (const row of list) byName.set(row.name, [...(byName.get(row.name) || []), row]);
  const queue = [...byName.values()];
  state.work = { row: list[0], done: 0, total: list.length, since: Date.now() };
  const one = async (row) => {
    state.work.row = row;
    row.result = { key: 'writing' };
    changed(row);
    const target = targetOf(row);
    // A file that cannot be read any more says so on its row; the others go on.
    const converting = convertSource(row.source, row.recordName, target, { original: row.original });
    const { result, entry } = await converting
      .catch((e) => ({ result: { error: String(e.message || e) }, entry: null }));
    row.info = await analyseSource(row.source, row.recordName).catch(() => row.info);
    const codec = state.codecs[target - 1];
    if (!row.source.getFile && result.written) row.info = { ...row.info, codec_id: target, codec };
    row.choice = choiceIn(row.info, row.choice);
    row.result = result.error ? { text: result.error, mayHoldNew: !!entry }
      : result.action === 'converted' ? { key: done, codec } : { text: result.action };
    ++state.work.done;
    changed(row);
  };
  const worker = async () => {
    for (let same; (same = queue.shift());) for (const row of same) await one(row);
  };
  await Promise.all(Array.from({ length: kInFlight }, worker));
  state.work = null;
  regroup();
  changed();
}

const undoAll = () => convertRows(state.rows.filter((r) => r.info.codec_id !== r.originalCodec && r.original)
  .reverse(), (r) => r.originalCodec, 'undone');

// The files of a drop: a dropped folder's files are named in the record by
// their path below it, so that `tovacrex-cli undo`, run in that folder,
// finds each of them. Folders are listed while files already are read.
function fromDrop(items) {
  // Each handle is asked for at once, while the drop event lasts.
  const pending = [...items].filter((i) => i.kind === 'file')
    .map((i) => (canWrite && i.getAsFileSystemHandle ? i.getAsFileSystemHandle() : i.getAsFile()));
  return addFiles(async (take) => {
    // A file is taken as it is listed; the folders below one are listed side by side.
    const walk = (handle, order, name, recordName) => (handle.kind === 'file'
      ? take({ source: handle, order, name, recordName }) : (async () => {
        const below = [];
        for await (const child of handle.values()) {
          const path = recordName ? `${recordName}/${child.name}` : child.name;
          below.push(walk(child, [...order, child.name], `${name}/${child.name}`, path));
        }
        await Promise.all(below);
      })());
    await Promise.all(pending.map(async (got, i) => {
      got = await got;
      if (got?.kind) await walk(got, [i], got.name, got.kind === 'file' ? got.name : '');
      else if (got) take({ source: got, order: [i], name: got.name, recordName: got.name });
    }));
  });
}

// Every change of state ends here: the view draws it with the next frame.
// A row passed is drawn again; the rest of the view sees for itself.
let frame = 0;
function changed(...rows) {
  for (const row of rows) ++row.version;
  frame ||= requestAnimationFrame(() => { frame = 0; view(); });
}

// What the view last drew: rows only ever come after the others.
const drawn = { lang: '', rows: new WeakMap(), groups: '', timer: 0, lists: new Map() };
function view() {
  const relabel = drawn.lang !== state.lang;
  if (relabel) {
    drawn.lang = document.documentElement.lang = state.lang;
    document.title = `Tovacrex: ${t('title')}`;
    for (const el of document.querySelectorAll('[data-text]')) {
      el.textContent = t(el.dataset.text).replace(/:$/, '');
    }
    $('mode').textContent = canWrite ? t('inPlace') : t('download');
  }
  const body = $('files');
  for (const row of state.rows) {
    let d = drawn.rows.get(row);
    if (!d) drawn.rows.set(row, (d = { tr: body.insertRow(), version: -1 }));
    if (relabel || d.version !== row.version) drawRow(d.tr, row), (d.version = row.version);
  }
  const groups = JSON.stringify([state.lang, [...state.groups].map(([g, x]) => [g, x.names, x.choice])]);
  if (groups !== drawn.groups) drawn.groups = groups, drawGroups();
  $('drop').classList.toggle('over', state.over);
  $('controls').disabled = !!state.work;
  $('undo').disabled = $('record').disabled = state.record.length === 0;
  // What is being read, or written: a large file in writing mode takes
  // seconds (the browser copies it whole), a group one turn a file. The
  // seconds tick on a timer of the view's own, kept only while files are written.
  const line = $('progress'), work = state.work, reading = state.reading;
  line.hidden = !work && !reading;
  const bar = line.querySelector('progress'), { done, total } = work || reading || {};
  if (total > 1) bar.value = done / total; else bar.removeAttribute('value');
  if (work) {
    const { name, size } = work.row;
    line.querySelector('span').textContent = `${total > 1 ? `${done} / ${total}: ` : ''}${name}, ` +
      `${(size / 2 ** 20).toFixed(1)} MiB, ${Math.round((Date.now() - work.since) / 1000)} s` +
      (canWrite && size >= 64 << 20 ? `: ${t('copying')}` : '');
  } else if (reading) {
    line.querySelector('span').textContent = `${t('reading')} ${done} / ${total}`;
  }
  if (work && !drawn.timer) drawn.timer = setInterval(changed, 1000);
  if (!work && drawn.timer) drawn.timer = clearInterval(drawn.timer) ?? 0;
}

// A list of codecs whose choice the state keeps. Lists are made once a kind
// and copied: a thousand rows share a few.
function codecList(label, names, choice, keep) {
  const kind = JSON.stringify(names);
  if (!drawn.lists.has(kind)) {
    const select = document.createElement('select');
    for (const [text, id] of names) select.append(new Option(text, id));
    drawn.lists.set(kind, select);
  }
  const select = drawn.lists.get(kind).cloneNode(true);
  select.setAttribute('aria-label', label);
  if (Number(select.value) !== choice) select.value = choice;  // a choice set costs more than one read
  select.onchange = () => keep(Number(select.value));
  return select;
}

function button(text, onclick) {
  const b = document.createElement('button');
  b.textContent = text;
  b.onclick = onclick;
  return b;
}

function drawRow(tr, row) {
  tr.replaceChildren();
  const i = row.info;
  const code = (v, at) => (v == null ? '' : `"${v}"${at ? ` @ 0x${at.toString(16)}` : ''}`);
  for (const text of [row.name, i.codec || (i.ok ? t(6) : said(i.message)), code(i.handler, i.handler_offset),
    code(i.compression, i.compression_offset)]) tr.insertCell().textContent = text;
  const cell = tr.insertCell();
  if (i.targets.length && hasCode(i)) {
    const names = i.targets.map((n) => [codecId(n) === row.originalCodec ? `${n} ${t(10)}` : n, codecId(n)]);
    const select = codecList(`${t('newCodec')} ${row.name}`, names, row.choice, (id) => { row.choice = id; });
    // The list as the user left it, also when set from a script without a change event.
    const choose = document.createElement('div');
    choose.className = 'choose';
    const save = () => convertRows([row], () => (row.choice = Number(select.value)));
    choose.append(select, button(t('save'), save));
    cell.append(choose);
  }
  const r = row.result;  // in the language shown now
  tr.insertCell().textContent = [r.key ? t(r.key) + (r.codec ? `: ${r.codec}` : '') : said(r.text || ''),
    r.mayHoldNew ? t('mayHoldNew') : ''].filter(Boolean).join(': ');
}

function drawGroups() {
  const ps = [...state.groups].map(([name, g]) => {
    const keep = (id) => { if (state.groups.has(name)) state.groups.get(name).choice = id; };
    const select = codecList(`${t('newCodec')} ${name}`, g.names.map((n) => [n, codecId(n)]), g.choice, keep);
    const all = () => {
      const id = Number(select.value);
      keep(id);
      convertRows(state.groups.get(name).members.filter((r) => r.info.codec_id !== id), () => id);
    };
    const p = document.createElement('p');
    p.append(select, button(`${t('all')}: ${name}`, all));
    return p;
  });
  $('groups').replaceChildren(...ps);
}

window.Tovacrex = {
  analyse: (source, { anyCase = false } = {}) => analyseSource(source, source.name, { anyCase }),
  convert: async (source, target, options) => (await convertSource(source, source.name, target, options))
    .result,
  ready,
  record: () => state.record.slice(),
};

document.addEventListener('DOMContentLoaded', () => {
  // A folder opened: its files named in the record by their path below it, as when dropped.
  const opened = (files, inFolder) => addFiles(async (take) => [...files].forEach((f, i) => take(inFolder
    ? { source: f, order: f.webkitRelativePath.split('/'), name: f.webkitRelativePath,
      recordName: f.webkitRelativePath.replace(/^[^/]*\//, '') }
    : { source: f, order: [i], name: f.name, recordName: f.name })));
  $('open').onclick = () => $('pick').click();
  $('openFolder').onclick = () => $('pickFolder').click();
  $('pick').onchange = (e) => opened(e.target.files, false);
  $('pickFolder').onchange = (e) => opened(e.target.files, true);
  $('language').onclick = () => { state.lang = state.lang === 'en' ? 'ru' : 'en'; changed(); };
  $('undo').onclick = undoAll;
  $('record').onclick = () => offerDownload(new Blob([JSON.stringify(state.record, null, 2) + '\n'],
    { type: 'application/json' }), 'tovacrex-record.json');
  const zone = $('drop');
  const over = (now) => (e) => { e.preventDefault(); state.over = now; changed(); };
  zone.ondragover = over(true);
  zone.ondragleave = over(false);
  // The zone takes Enter and Space as the open button does.
  zone.onkeydown = (e) => {
    if (e.target === zone && (e.key === 'Enter' || e.key === ' ')) e.preventDefault(), $('pick').click();
  };
  zone.ondrop = (e) => { over(false)(e); fromDrop(e.dataTransfer.items); };
  changed();
});
