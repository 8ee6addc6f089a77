// The module against the command line: every AVI and Matroska file in FOLDER gives the object `info --json` prints,
// byte for byte, also when handed 256 bytes first. Files that are no damaged variants, and every 50th variant, are
// converted to each codec by both (same objects, same bytes) and back to the original pair.
//   node same_as_cli.js MODULE_JS FILES_JS TOVACREX_CLI FOLDER
'use strict';
const fs = require('fs'), path = require('path');
const { spawnSync } = require('child_process');
const [moduleJs, filesJs, cli, folder] = process.argv.slice(2).map((p) => path.resolve(p));
delete globalThis.fetch;  // the glue would fetch the module it holds inside
const { Engine } = require(filesJs);
const tovacrex = (args, input) => JSON.parse(spawnSync(cli, args, { maxBuffer: 1 << 30, input }).stdout);

function fileIo(name, flushDelay = 0) {
  const fd = fs.openSync(name, 'r+');
  return {
    size: fs.fstatSync(fd).size,
    readAt: async (offset, length, b = Buffer.alloc(length)) => b.subarray(0, fs.readSync(fd, b, 0, length, offset)),
    writeAt: async (offset, bytes) => { fs.writeSync(fd, bytes, 0, bytes.length, offset); },
    flush: () => new Promise((done) => setTimeout(done, flushDelay)),
    close: () => fs.closeSync(fd),
  };
}
(async () => {
  const engine = new Engine(await require(moduleJs)());
  const expected = tovacrex(['info', '--json', '-r', folder]);
  let differ = 0, conversions = 0;
  const same = (what, got, want) => JSON.stringify(got) === JSON.stringify(want) || (++differ <= 5 &&
    console.log(`differs: ${what}\n  module: ${JSON.stringify(got)}\n  cli:    ${JSON.stringify(want)}`));
  const dir = fs.mkdtempSync(path.join(require('os').tmpdir(), 'tvx-'));
  let copy = path.join(dir, 'f.avi');
  const convert = async (io, ...rest) => (await engine.convert(copy, io.size, io, ...rest)).result;
  const hex = () => fs.readFileSync(copy).toString('hex');
  for (const [i, want] of expected.entries()) {
    const io = fileIo(want.file);
    for (const firstWindow of [undefined, 256]) same(`${want.file}, first window ${firstWindow}`,
      await engine.analyse(want.file, io.size, io, { firstWindow }), want);
    io.close();
    if (path.basename(want.file).startsWith('variant') && i % 50 !== 0) continue;
    const original = fs.readFileSync(want.file);
    copy = path.join(dir, 'f' + path.extname(want.file));
    for (let target = 1; target <= 13; ++target, ++conversions) {
      fs.writeFileSync(copy, original);
      const byCli = [tovacrex(['convert', '--json', '--no-record', '--to', String(target), copy])[0], hex()];
      fs.writeFileSync(copy, original);
      const c = fileIo(copy);
      const got = await convert(c, target, { firstWindow: 256 });
      // Back by the pair first found, where the write left the fields where they were.
      if (same(`${want.file} to ${target}`, [got, hex()], byCli) && got.written && want.codec_id <= 13 &&
          (await engine.analyse(copy, c.size, c)).compression_offset === want.compression_offset) {
        const pair = [want.handler_offset === null ? 0 : original.readUInt32LE(want.handler_offset),
          want.compression_offset ? original.readUInt32LE(want.compression_offset) : 0];
        await convert(c, want.codec_id, { original: pair });
        same(`${want.file} to ${target} and back`, hex(), original.toString('hex'));
      }
      c.close();
    }
  }
  // Faults from outside: a field another program changed between the analysis and the write, one that cannot be
  // read, a write that fails (what was written is put back, the rest dropped), and one whose putting back fails too:
  // the file may hold the new codes, and the entry kept for it lets `tovacrex-cli undo` put back the old ones.
  const sample = expected.find((f) => f.codec_id === 6 && f.container === 'avi'), before = fs.readFileSync(sample.file);
  const writing = (c, ok, n = 0) => ({  // the writes numbered in ok succeed, the others fail
    ...c, writeAt: (o, b) => (ok.includes(n++) ? c.writeAt(o, b) : Promise.reject(Error('full'))) });
  const fourBytes = (c, read) => ({ ...c, readAt: (o, n) => (n === 4 ? read() : c.readAt(o, n)) });
  for (const [what, io, aborted, kept] of [
    ['a field changed', (c) => fourBytes(c, async () => Buffer.from('XXXX')), false, false],
    ['a field unreadable', (c) => fourBytes(c, () => Promise.reject(new Error('gone'))), true, false],
    ['a write failing', (c) => writing(c, [0, 2]), true, false],
    ['a write failing, and putting back', (c) => writing(c, [0]), true, true],
  ]) {
    fs.copyFileSync(sample.file, copy);
    const c = fileIo(copy);
    let abort = false;
    const { result, entry } = await engine.convert(copy, c.size, { ...io(c), abort: async () => (abort = true) }, 7);
    c.close();
    if (entry) tovacrex(['undo', '--json', '-'], JSON.stringify([entry]));
    same(what, [result.error, result.written, abort, !!entry, hex() === before.toString('hex')],
      ["Can't write to file", false, aborted, kept, true]);
  }
  // Two conversions in flight, the later written first: each result is its own file's.
  const two = [[sample.file, 7, 100], [expected.find((f) => f.codec_id === 10).file, 12, 0]]
    .map(([from, target, delay], i) => (fs.copyFileSync(from, copy + i), [copy + i, target, fileIo(copy + i, delay)]));
  const got = await Promise.all(two.map(([to, target, io]) => engine.convert(to, io.size, io, target)));
  same('two conversions in flight', got.map(({ result: r }) => [r.file, r.to, r.error]),
    [[two[0][0], 'DivX V3 Fast', null], [two[1][0], 'DivX 5', null]]);
  console.log(`${expected.length} files analysed, ${conversions} conversions, ${differ} differ`);
  process.exit(expected.length > 0 && differ === 0 ? 0 : 1);
})();
