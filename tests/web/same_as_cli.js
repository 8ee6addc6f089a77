// The module's analysis against the command line's: every AVI file in FOLDER
// must give the object `tovacrex-cli info --json` prints, byte for byte.
//   node same_as_cli.js MODULE_JS ANALYSE_JS TOVACREX_CLI FOLDER
'use strict';
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

const [moduleJs, analyseJs, cli, folder] = process.argv.slice(2).map((p) => path.resolve(p));
delete globalThis.fetch;  // the glue would fetch the module it holds inside
const { analyseFile } = require(analyseJs);

(async () => {
  const module = await require(moduleJs)();
  // Exit status 1: some files are not AVI files, as intended.
  const run = spawnSync(cli, ['info', '--json', '-r', folder], { maxBuffer: 1 << 30 });
  if (run.status > 1) throw new Error(`tovacrex-cli exited with ${run.status}: ${run.stderr}`);
  const expected = JSON.parse(run.stdout.toString());
  let differ = 0;
  for (const want of expected) {
    const fd = fs.openSync(want.file, 'r');
    const readAt = async (offset, length) => {
      const bytes = Buffer.alloc(length);
      return bytes.subarray(0, fs.readSync(fd, bytes, 0, length, offset));
    };
    // The whole header area at once, and 256 bytes first, so that the rest comes as asked for.
    for (const first of [undefined, 256]) {
      const got = await analyseFile(module, want.file, fs.fstatSync(fd).size, readAt, false, first);
      if (JSON.stringify(got) !== JSON.stringify(want) && ++differ <= 5)
        console.log(`differs (first window ${first}): ${want.file}\n  module: ${JSON.stringify(got)}\n  cli:    ${JSON.stringify(want)}`);
    }
    fs.closeSync(fd);
  }
  console.log(`${expected.length} files, ${differ} differ`);
  process.exit(expected.length > 0 && differ === 0 ? 0 : 1);
})();
