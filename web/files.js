// The page's side of the module, shared by the page and by Node: the module
// sees a file only through windows the page reads for it, and asks for more
// (offset and length) until it can answer; a conversion comes back as writes
// that the page makes. io.readAt(offset, length) resolves to the bytes read
// there; io.writeAt(offset, bytes) writes them.
'use strict';

const kFirstWindow = 1 << 20;

function putWindow(module, offset, bytes) {
  const at = module.ccall('tvx_window', 'number', ['number', 'number'], [offset, bytes.length]);
  module.HEAPU8.set(bytes, at);  // after the call: memory may have grown
}

// Feeds a fresh look at the file to ask() until it answers without "need".
async function untilAnswered(module, name, size, io, firstWindow, ask) {
  module.ccall('tvx_open', null, ['number'], [size]);
  putWindow(module, 0, await io.readAt(0, Math.min(size, firstWindow)));
  for (const asked = new Set(); ;) {
    const answer = JSON.parse(ask());
    if (!answer.need) return answer;
    const [offset, length] = answer.need;
    // The same bytes asked for twice: the read gave fewer than it should.
    if (asked.has(offset)) throw new Error(`${name}: could not read ${length} bytes at ${offset}`);
    asked.add(offset);
    putWindow(module, offset, await io.readAt(offset, length));
  }
}

// The object `tovacrex-cli info --json` prints for the file, with `file` the name given.
async function analyseFile(module, name, size, io, { anyCase = false, firstWindow = kFirstWindow } = {}) {
  return untilAnswered(module, name, size, io, firstWindow,
    () => module.ccall('tvx_analyse', 'string', ['string', 'number'], [name, anyCase ? 1 : 0]));
}

const le32 = (b) => (b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24)) >>> 0;
const bytes32 = (v) => new Uint8Array([v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24]);

// The object `tovacrex-cli convert --json --to TARGET` prints for the file.
// original: [handler, compression], the codes the file held before this
// page's conversions, as 32-bit numbers; going back to its codec writes them.
// turn(job) runs job alone on the module: the writes are made outside it, so
// that other files can be analysed while the browser writes this one.
async function convertFile(module, name, size, io, target,
                           { dryRun = false, anyCase = false, original = null, firstWindow = kFirstWindow, turn = (job) => job() } = {}) {
  const planned = await turn(() => untilAnswered(module, name, size, io, firstWindow, () => module.ccall('tvx_convert', 'string',
    ['string', 'number', 'number', 'number', 'number', 'number', 'number'],
    [name, target, anyCase ? 1 : 0, dryRun ? 1 : 0, original ? 1 : 0, original ? original[0] : 0, original ? original[1] : 0])));
  if (!planned.writes) return planned.result;
  // Each field must still hold what the analysis found; a read or write that
  // fails puts back what was written.
  let ok = true;
  const done = [];
  try {
    for (const [offset, old] of planned.writes) ok = ok && le32(await io.readAt(offset, 4)) === old;
    for (const [offset, , now] of ok ? planned.writes : []) {
      await io.writeAt(offset, bytes32(now));
      done.push(offset);
    }
    if (ok && io.flush) await io.flush();
  } catch (e) {
    ok = false;
    for (const [offset, old] of planned.writes.filter(([o]) => done.includes(o))) await io.writeAt(offset, bytes32(old)).catch(() => {});
  }
  const written = () => module.ccall('tvx_written', 'string', ['number', 'number'], [planned.id, ok ? 1 : 0]);
  return turn(async () => (ok ? await untilAnswered(module, name, size, io, firstWindow, written) : JSON.parse(written())).result);
}

if (typeof module !== 'undefined') module.exports = { analyseFile, convertFile };
