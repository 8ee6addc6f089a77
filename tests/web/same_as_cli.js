// The module against the command line: every AVI file in FOLDER gives the
// object `info --json` prints, byte for byte, also when handed 256 bytes first.
// Files that are no damaged variants, and every 50th variant, are converted to
// each codec by both (same objects, same bytes) and back to the original pair.
//   node same_as_cli.js MODULE_JS FILES_JS TOVACREX_CLI FOLDER
'use strict';
const fs = require('fs'), path = require('path');
const { spawnSync } = require('child_process');
const [moduleJs, filesJs, cli, folder] = process.argv.slice(2).map((p) => path.resolve(p));
delete globalThis.fetch;  // the glue would fetch the module it holds inside
const { analyseFile, convertFile } = require(filesJs);
const tovacrex = (...args) => JSON.parse(spawnSync(cli, args, { maxBuffer: 1 << 30 }).stdout.toString());

function fileIo(name, flushDelay = 0) {
  const fd = fs.openSync(name, 'r+');
  return {
    size: fs.fstatSync(fd).size,
    readAt: async (offset, length) => { const b = Buffer.alloc(length); return b.subarray(0, fs.readSync(fd, b, 0, length, offset)); },
    writeAt: async (offset, bytes) => { fs.writeSync(fd, bytes, 0, bytes.length, offset); },
    flush: () => new Promise((done) => setTimeout(done, flushDelay)),
    close: () => fs.closeSync(fd),
  };
}
(async () => {
  const module = await require(moduleJs)();
  const expected = tovacrex('info', '--json', '-r', folder);
  let differ = 0, conversions = 0;
  const same = (what, got, want) => JSON.stringify(got) === JSON.stringify(want) ||
    (++differ <= 5 && console.log(`differs: ${what}\n  module: ${JSON.stringify(got)}\n  cli:    ${JSON.stringify(want)}`));
  const copy = path.join(fs.mkdtempSync(path.join(require('os').tmpdir(), 'tvx-')), 'f.avi');
  for (const [i, want] of expected.entries()) {
    const io = fileIo(want.file);
    for (const firstWindow of [undefined, 256]) same(`${want.file}, first window ${firstWindow}`, await analyseFile(module, want.file, io.size, io, { firstWindow }), want);
    io.close();
    if (path.basename(want.file).startsWith('variant') && i % 50 !== 0) continue;
    const original = fs.readFileSync(want.file);
    for (let target = 1; target <= 13; ++target, ++conversions) {
      fs.writeFileSync(copy, original);
      const byCli = [tovacrex('convert', '--json', '--no-record', '--to', String(target), copy)[0], fs.readFileSync(copy).toString('hex')];
      fs.writeFileSync(copy, original);
      const c = fileIo(copy);
      const got = await convertFile(module, copy, c.size, c, target, { firstWindow: 256 });
      // Back by the pair first found, where the write left the fields where they were.
      if (same(`${want.file} to ${target}`, [got, fs.readFileSync(copy).toString('hex')], byCli) && got.written && want.codec_id <= 13 &&
          (await analyseFile(module, copy, c.size, c)).compression_offset === want.compression_offset) {
        const pair = [original.readUInt32LE(want.handler_offset), want.compression_offset ? original.readUInt32LE(want.compression_offset) : 0];
        await convertFile(module, copy, c.size, c, want.codec_id, { original: pair });
        same(`${want.file} to ${target} and back`, fs.readFileSync(copy).toString('hex'), original.toString('hex'));
      }
      c.close();
    }
  }
  // A field another program changed between the analysis and the write, or one that cannot be read.
  const sample = expected.find((f) => f.codec_id === 6);
  for (const check of [async () => Buffer.from('XXXX'), async () => { throw new Error('gone'); }]) {
    fs.copyFileSync(sample.file, copy);
    const c = fileIo(copy);
    const refused = await convertFile(module, copy, c.size, { ...c, readAt: (o, n) => (n === 4 ? check() : c.readAt(o, n)) }, 7);
    same(`a field ${check}`, [refused.error, refused.written, fs.readFileSync(copy).equals(fs.readFileSync(sample.file))], ['Can\'t write to file', false, true]);
  }
  // Two conversions in flight, the later written first: each result is its own file's.
  const two = [[sample.file, 7, 100], [expected.find((f) => f.codec_id === 10).file, 12, 0]].map(([from, target, delay], i) => {
    fs.copyFileSync(from, copy + i);
    return [copy + i, target, fileIo(copy + i, delay)];
  });
  let chain = Promise.resolve();
  const got = await Promise.all(two.map(([to, target, io]) => convertFile(module, to, io.size, io, target, { turn: (job) => (chain = chain.then(job, job)) })));
  same('two conversions in flight', got.map((r) => [r.file, r.to, r.error]), [[two[0][0], 'DivX V3 Fast', null], [two[1][0], 'DivX 5', null]]);
  console.log(`${expected.length} files analysed, ${conversions} conversions, ${differ} differ`);
  process.exit(expected.length > 0 && differ === 0 ? 0 : 1);
})();
