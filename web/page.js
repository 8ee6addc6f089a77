// The page: files dropped or opened, analysed by the module, converted in
// place where the browser lets a page write a file, else offered as a
// download. window.Tovacrex is its scripting face (see the README).
'use strict';

// The page's own texts; the rest are the Windows program's (kProgramTexts,
// put in from its resources when the page is made).
const kPageTexts = {
  en: {
    drop: 'Drop AVI files or a folder here, or', openFolder: 'Open a folder', handler: 'Handler',
    compression: 'Compression', result: 'Result', all: 'Convert all', undoAll: 'Undo all',
    record: 'Download the record', language: 'Русский', converted: 'converted', undone: 'undone',
    inPlace: 'Writing mode: files are changed in place. This browser writes a whole copy of each file (NAME.crswap) ' +
      'and puts it over the original when done: seconds per GiB, free space as large as the file, and hard links keep ' +
      'the old bytes. For true in-place edits use tovacrex-cli or tovacrex.exe.',
    download: 'Download mode: this browser cannot write a file, so each converted file is offered as a download.',
    nothingSent: 'Nothing leaves this computer: only the start of each file, where its headers are, is read, here.',
    writing: 'writing...', copying: 'the browser is copying the whole file',
  },
  ru: {
    drop: 'Перетащите сюда файлы AVI или папку, или', openFolder: 'Открыть папку', handler: 'Handler',
    compression: 'Compression', result: 'Результат', all: 'Конвертировать все', undoAll: 'Отменить все',
    record: 'Скачать запись', language: 'English', converted: 'конвертирован', undone: 'отменено',
    inPlace: 'Режим записи: файлы меняются на месте. Этот браузер пишет полную копию каждого файла (ИМЯ.crswap) ' +
      'и ставит её на место оригинала: секунды на ГиБ, свободное место размером с файл, жёсткие ссылки сохраняют ' +
      'старые байты. Для настоящей правки на месте используйте tovacrex-cli или tovacrex.exe.',
    download: 'Режим скачивания: этот браузер не может записать файл, поэтому каждый конвертированный файл ' +
      'предлагается для скачивания.',
    nothingSent: 'Ничего не покидает этот компьютер: читается только начало каждого файла, где его заголовки, здесь.',
    writing: 'запись...', copying: 'браузер копирует весь файл',
  },
};
const canWrite = typeof window.showOpenFilePicker === 'function';
let lang = (navigator.language || 'en').toLowerCase().startsWith('ru') ? 'ru' : 'en';
const rows = [];     // {name, source, size, info, original: [h, c], originalCodec, result, tr}
const record = [];   // the convert objects of every write, as `convert --json` prints them
let core = null;
let codecs = [];     // the catalogue's names, from the module: codec n is codecs[n - 1]
const ready = TovacrexModule().then((m) => { core = m; codecs = JSON.parse(m.ccall('tvx_codecs', 'string', [], [])); });
const $ = (id) => document.getElementById(id);
const t = (key) => kPageTexts[lang][key] ?? kProgramTexts[lang][key];
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
  if (Number.isInteger(n) && n >= 1 && n <= codecs.length) return n;
  const i = codecs.findIndex((c) => c.toLowerCase() === String(target).toLowerCase());
  if (i < 0) throw new Error(`unknown codec '${target}'`);
  return i + 1;
}

// Reads and writes of a file the page holds as a handle (in place) or as a
// File (the writes land in a copy of its head, offered as a download).
function fileIo(source) {
  const handle = source.getFile ? source : null;
  const patches = new Map();  // offset -> 4 bytes, download mode
  let writer = null;
  const file = async () => (handle ? handle.getFile() : source);
  return {
    patches,
    readAt: async (offset, length) => {
      const bytes = new Uint8Array(await (await file()).slice(offset, offset + length).arrayBuffer());
      for (const [at, b] of patches) for (let i = 0; i < 4; ++i) if (at + i >= offset && at + i < offset + bytes.length) bytes[at + i - offset] = b[i];
      return bytes;
    },
    writeAt: async (offset, bytes) => {
      if (!handle) return void patches.set(offset, bytes);
      writer ??= await handle.createWritable({ keepExistingData: true });
      await writer.write({ type: 'write', position: offset, data: bytes });
    },
    flush: async () => { if (writer) await writer.close(); writer = null; },
  };
}

// One file at a time: the module holds the windows of the file in hand.
let queue = ready;
const inTurn = (job) => (queue = queue.then(job, job));

function analyse(source, { anyCase = false } = {}) {
  return inTurn(async () => {
    const file = source.getFile ? await source.getFile() : source;
    return analyseFile(core, source.name, file.size, fileIo(source), { anyCase });
  });
}

async function convert(source, target, { dryRun = false, anyCase = false, original = null } = {}) {
  await ready;
  const file = source.getFile ? await source.getFile() : source;
  const io = fileIo(source);
  const result = await convertFile(core, source.name, file.size, io, codecId(target), { dryRun, anyCase, original, turn: inTurn });
  if (result.written) record.push(result);
  if (io.patches.size && result.written) {
    // The patched head and the untouched rest: the file is never read whole.
    const end = Math.max(...[...io.patches.keys()].map((o) => o + 4));
    const head = await io.readAt(0, end);
    offerDownload(new Blob([head, file.slice(end)], { type: 'video/x-msvideo' }), source.name);
  }
  return result;
}

function offerDownload(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

// A code as the analysis shows it (its \xNN text) back to the 32-bit number
// it is in the file: the pair a file held when it came, without reading it again.
const codeValue = (text) => [...text.replace(/\\x(..)/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)))]
  .reduce((v, c, i) => v + c.charCodeAt(0) * 2 ** (8 * i), 0);

async function addSources(sources) {
  for (const source of sources) {
    if (!/\.avi$/i.test(source.name)) continue;
    const info = await analyse(source);
    const original = info.handler_offset ? [codeValue(info.handler), info.compression_offset ? codeValue(info.compression) : 0] : null;
    const size = (source.getFile ? await source.getFile() : source).size;
    rows.push({ name: source.webkitRelativePath || source.name, source, size, info, original, originalCodec: info.codec_id, result: {} });
  }
  render();
}

// What is being written, for the progress line: a large file in writing
// mode takes seconds (the browser copies it whole), a group takes one turn a file.
let busy = null;  // {row, done, total, since}
function showProgress() {
  const line = $('progress');
  line.hidden = !busy;
  if (!busy) return;
  const bar = line.querySelector('progress');
  if (busy.total > 1) bar.value = busy.done / busy.total; else bar.removeAttribute('value');
  const { name, size } = busy.row;
  line.querySelector('span').textContent = `${busy.total > 1 ? `${busy.done} / ${busy.total}: ` : ''}${name}, ` +
    `${(size / 2 ** 20).toFixed(1)} MiB, ${Math.round((Date.now() - busy.since) / 1000)} s` +
    (canWrite && size >= 64 << 20 ? `: ${t('copying')}` : '');
}
setInterval(showProgress, 500);

// Several files at once: each waits for the browser to write it, not for
// the module. Rows of one name (a file dropped twice) one after the other.
const kInFlight = 8;
async function convertRows(list, targetOf, done = 'converted') {
  const byName = new Map();
  for (const row of list) byName.set(row.name, [...(byName.get(row.name) || []), row]);
  const queue = [...byName.values()];
  busy = { row: list[0], done: 0, total: list.length, since: Date.now() };
  const one = async (row) => {
    busy.row = row;
    row.result = { key: 'writing' };
    renderRow(row);
    const target = targetOf(row);
    // A file that cannot be read any more says so on its row; the others go on.
    const result = await convert(row.source, target, { original: row.original }).catch((e) => ({ error: String(e.message || e) }));
    row.info = await analyse(row.source).catch(() => row.info);
    if (row.source.getFile === undefined && result.written) row.info = { ...row.info, codec_id: target, codec: codecs[target - 1] };
    row.result = result.error ? { text: said(result.error) } : result.action === 'converted' ? { key: done, codec: codecs[target - 1] } : { text: result.action };
    renderRow(row);
    ++busy.done;
  };
  const worker = async () => { for (let same; (same = queue.shift());) for (const row of same) await one(row); };
  await Promise.all(Array.from({ length: kInFlight }, worker));
  busy = null;
  showProgress();
  render();
}

function targetOptions(row) {
  const select = document.createElement('select');
  select.setAttribute('aria-label', `${t('newCodec')} ${row.name}`);
  for (const name of row.info.targets) {
    const id = codecId(name);
    select.append(new Option(id === row.originalCodec ? `${name} ${t(10)}` : name, id));
  }
  return select;
}

// One row of the table, alone: a group's conversion shows each file as it goes.
function renderRow(row) {
  const tr = row.tr;
  tr.replaceChildren();
  const i = row.info;
  const code = (v, at) => (v === null ? '' : `"${v}"` + (at ? ` @ 0x${at.toString(16)}` : ''));
  for (const text of [row.name, i.codec || (i.ok ? t(6) : said(i.message)), code(i.handler, i.handler_offset), code(i.compression, i.compression_offset)])
    tr.insertCell().textContent = text;
  const cell = tr.insertCell();
  if (i.targets.length && i.handler_offset) {
    const select = targetOptions(row);
    const button = document.createElement('button');
    button.textContent = t('save');
    button.onclick = () => convertRows([row], () => Number(select.value));
    cell.append(select, button);
  }
  const r = row.result;  // in the language shown now
  tr.insertCell().textContent = r.key ? t(r.key) + (r.codec ? `: ${r.codec}` : '') : r.text || '';
}

function render() {
  document.documentElement.lang = lang;
  document.title = `Tovacrex: ${t('title')}`;
  for (const el of document.querySelectorAll('[data-text]')) el.textContent = t(el.dataset.text).replace(/:$/, '');
  $('mode').textContent = canWrite ? t('inPlace') : t('download');
  const body = $('files');
  body.replaceChildren();
  for (const row of rows) {
    row.tr = body.insertRow();
    renderRow(row);
  }
  // One line a group: every file of it to one codec.
  const groups = $('groups');
  groups.replaceChildren();
  for (const group of [...new Set(rows.filter((r) => r.info.targets.length).map((r) => r.info.group))]) {
    const members = rows.filter((r) => r.info.group === group);
    const names = [...new Set([members[0].info.codec, ...members[0].info.targets])];
    const select = document.createElement('select');
    select.setAttribute('aria-label', `${t('newCodec')} ${group}`);
    for (const name of names.sort((a, b) => codecId(a) - codecId(b))) select.append(new Option(name, codecId(name)));
    const button = document.createElement('button');
    button.textContent = `${t('all')}: ${group}`;
    button.onclick = () => convertRows(members.filter((r) => r.info.codec_id !== Number(select.value)), () => Number(select.value));
    const p = document.createElement('p');
    p.append(select, button);
    groups.append(p);
  }
  $('undo').disabled = $('record').disabled = record.length === 0;
}

const undoAll = () => convertRows(rows.filter((r) => r.info.codec_id !== r.originalCodec && r.original).reverse(),
  (r) => r.originalCodec, 'undone');

async function fromDrop(items) {
  const sources = [];
  const walk = async (handle, prefix) => {
    if (handle.kind === 'file') sources.push(Object.assign(handle, { webkitRelativePath: prefix + handle.name }));
    else {
      const children = [];
      for await (const child of handle.values()) children.push(child);
      children.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name));  // as the command line's walk
      for (const child of children) await walk(child, `${prefix}${handle.name}/`);
    }
  };
  // Each handle is asked for at once, while the drop event lasts.
  const pending = [...items].filter((i) => i.kind === 'file').map((i) => (canWrite && i.getAsFileSystemHandle ? i.getAsFileSystemHandle() : i.getAsFile()));
  for (const got of await Promise.all(pending)) if (got) got.kind ? await walk(got, '') : sources.push(got);
  await addSources(sources);
}

window.Tovacrex = { analyse, convert, ready, record: () => record.slice() };

document.addEventListener('DOMContentLoaded', () => {
  $('open').onclick = () => $('pick').click();
  $('openFolder').onclick = () => $('pickFolder').click();
  $('pick').onchange = (e) => addSources([...e.target.files]);
  $('pickFolder').onchange = (e) => addSources([...e.target.files]);
  $('language').onclick = () => { lang = lang === 'en' ? 'ru' : 'en'; render(); };
  $('undo').onclick = undoAll;
  $('record').onclick = () => offerDownload(new Blob([JSON.stringify(record, null, 2) + '\n'], { type: 'application/json' }), 'tovacrex-record.json');
  const zone = $('drop');
  zone.ondragover = (e) => { e.preventDefault(); zone.classList.add('over'); };
  zone.ondragleave = () => zone.classList.remove('over');
  // The zone takes Enter and Space as the open button does.
  zone.onkeydown = (e) => { if (e.target === zone && (e.key === 'Enter' || e.key === ' ')) { e.preventDefault(); $('pick').click(); } };
  zone.ondrop = (e) => { e.preventDefault(); zone.classList.remove('over'); fromDrop(e.dataTransfer.items); };
  render();
});
