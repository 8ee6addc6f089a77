// The module against the command line: every AVI file in FOLDER must give the
// object `tovacrex-cli info --json` prints, byte for byte, also when the
// module is handed 256 bytes first and asks for the rest. The files that are
// no damaged variants, and every 50th variant, are also converted to each
// codec, by both, with the same objects and the same bytes after; and back
// to the original pair, byte for byte.
//   node same_as_cli.js MODULE_JS FILES_JS TOVACREX_CLI FOLDER
'use strict';
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

const [moduleJs, filesJs, cli, folder] = process.argv.slice(2).map((p) => path.resolve(p));
delete globalThis.fetch;  // the glue would fetch the module it holds inside
const { analyseFile, convertFile } = require(filesJs);

function tovacrex(...args) {  // exit status 1: some file failed, as some must
  const run = spawnSync(cli, args, { maxBuffer: 1 << 30 });
  if (run.status > 1) throw new Error(`tovacrex-cli ${args.join(' ')} exited with ${run.status}: ${run.stderr}`);
  return JSON.parse(run.stdout.toString());
}

function fileIo(name) {
  const fd = fs.openSync(name, 'r+');
  return {
    size: fs.fstatSync(fd).size,
    readAt: async (offset, length) => { const b = Buffer.alloc(length); return b.subarray(0, fs.readSync(fd, b, 0, length, offset)); },
    writeAt: async (offset, bytes) => { fs.writeSync(fd, bytes, 0, bytes.length, offset); },
    flush: async () => fs.fsyncSync(fd),
    close: () => fs.closeSync(fd),
  };
}

(async () => {
  const module = await require(moduleJs)();
  const expected = tovacrex('info', '--json', '-r', folder);
  let differ = 0, conversions = 0;
  const report = (what, got, want) => {
    if (++differ <= 5) console.log(`differs: ${what}\n  module: ${JSON.stringify(got)}\n  cli:    ${JSON.stringify(want)}`);
  };
  const copy = path.join(fs.mkdtempSync(path.join(require('os').tmpdir(), 'tvx-')), 'f.avi');
  for (const [i, want] of expected.entries()) {
    const io = fileIo(want.file);
    for (const firstWindow of [undefined, 256]) {
      const got = await analyseFile(module, want.file, io.size, io, { firstWindow });
      if (JSON.stringify(got) !== JSON.stringify(want)) report(`${want.file}, first window ${firstWindow}`, got, want);
    }
    io.close();
    if (path.basename(want.file).startsWith('variant') && i % 50 !== 0) continue;
    const original = fs.readFileSync(want.file);
    for (let target = 1; target <= 13; ++target) {
      fs.writeFileSync(copy, original);
      const byCli = tovacrex('convert', '--json', '--no-record', '--to', String(target), copy)[0];
      const cliBytes = fs.readFileSync(copy);
      fs.writeFileSync(copy, original);
      const c = fileIo(copy);
      const got = await convertFile(module, copy, c.size, c, target, { firstWindow: 256 });
      ++conversions;
      if (JSON.stringify(got) !== JSON.stringify(byCli)) report(`${want.file} to ${target}`, got, byCli);
      else if (!fs.readFileSync(copy).equals(cliBytes)) report(`${want.file} to ${target}: the bytes`, '', '');
      else if (got.written && want.codec_id >= 1 && want.codec_id <= 13 &&
               (await analyseFile(module, copy, c.size, c)).compression_offset === want.compression_offset) {
        // (Where the write changed how a damaged file reads, its fields moved: no way back by them.)
        const pair = [original.readUInt32LE(want.handler_offset), want.compression_offset ? original.readUInt32LE(want.compression_offset) : 0];
        const back = await convertFile(module, copy, c.size, c, want.codec_id, { original: pair });
        if (!back.written || !fs.readFileSync(copy).equals(original)) report(`${want.file} to ${target} and back`, back, want);
      }
      c.close();
    }
  }
  // A field that changed between the analysis and the write (another program
  // wrote it): nothing is written, as the command line's check before writing says.
  const sample = expected.find((f) => f.codec_id === 6);
  fs.writeFileSync(copy, fs.readFileSync(sample.file));
  const c = fileIo(copy);
  const changed = { ...c, readAt: async (o, n) => (n === 4 ? Buffer.from('XXXX') : c.readAt(o, n)) };
  const refused = await convertFile(module, copy, c.size, changed, 7);
  c.close();
  if (refused.error !== 'Can\'t write to file' || refused.written || !fs.readFileSync(copy).equals(fs.readFileSync(sample.file)))
    report('a field changed before the write', refused, 'refused, nothing written');
  console.log(`${expected.length} files analysed, ${conversions} conversions, ${differ} differ`);
  process.exit(expected.length > 0 && differ === 0 ? 0 : 1);
})();
