// The page's side of the module, shared by the page and by Node: the module
// sees a file only through windows the page reads for it, and asks for more
// (offset and length) until it can answer; a conversion comes back as writes
// that the page makes. io.readAt(offset, length) resolves to the bytes read
// there; io.writeAt(offset, bytes) writes them; io.flush() and io.abort(),
// where given, end the writes by keeping or by dropping them.
'use strict';

// The header area of a common file and the walker's read-ahead beyond it;
// the module asks for more where it needs more.
const kFirstWindow = 128 << 10;

const le32 = (b) => (b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24)) >>> 0;
const bytes32 = (v) => new Uint8Array([v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24]);

// The module's one owner. The module holds the windows of one file at a
// time, so every call on it (analysis, plan, read-back) waits for its turn
// here; reads of a file's first window and the writes happen outside it,
// so that many files are read and written while one is analysed.
class Engine {
  constructor(module) {
    this.module = module;
    this.queue = Promise.resolve();
    this.codecs = JSON.parse(module.ccall('tvx_codecs', 'string', [], []));  // codec n is codecs[n - 1]
  }

  turn(job) {
    const run = this.queue.then(job);
    this.queue = run.catch(() => {});
    return run;
  }

  // Feeds a fresh look at the file to ask() until it answers without "need".
  async answer(name, size, io, firstWindow, ask) {
    const first = await io.readAt(0, Math.min(size, firstWindow));
    return this.turn(async () => {
      const m = this.module;
      const put = (offset, bytes) => {
        const at = m.ccall('tvx_window', 'number', ['number', 'number'], [offset, bytes.length]);
        m.HEAPU8.set(bytes, at);  // after the call: memory may have grown
      };
      m.ccall('tvx_open', null, ['number'], [size]);
      put(0, first);
      for (const asked = new Set(); ;) {
        const answer = JSON.parse(ask());
        if (!answer.need) return answer;
        const [offset, length] = answer.need;
        // The same bytes asked for twice: the read gave fewer than it should.
        if (asked.has(offset)) throw new Error(`${name}: could not read ${length} bytes at ${offset}`);
        asked.add(offset);
        put(offset, await io.readAt(offset, length));
      }
    });
  }

  // The object `tovacrex-cli info --json` prints for the file, with `file` the name given.
  analyse(name, size, io, { anyCase = false, firstWindow = kFirstWindow } = {}) {
    return this.answer(name, size, io, firstWindow,
      () => this.module.ccall('tvx_analyse', 'string', ['string', 'number'], [name, anyCase ? 1 : 0]));
  }

  // {result: the object `convert --json --to TARGET` prints, entry: what a
  // record keeps of it (null when nothing may have been written)}.
  // original: [handler, compression], the codes the file held before this
  // page's conversions, as 32-bit numbers; going back to its codec writes them.
  async convert(name, size, io, target,
    { dryRun = false, anyCase = false, original = null, firstWindow = kFirstWindow } = {}) {
    const flags = [anyCase ? 1 : 0, dryRun ? 1 : 0, original ? 1 : 0, original?.[0] ?? 0, original?.[1] ?? 0];
    const plan = () => this.module.ccall('tvx_convert', 'string',
      ['string', 'number', 'number', 'number', 'number', 'number', 'number'], [name, target, ...flags]);
    const planned = await this.answer(name, size, io, firstWindow, plan);
    if (!planned.writes) return { result: planned.result, entry: null };
    // Each field must still hold what the analysis found. A write that fails
    // puts back what was written and drops the rest; where even that fails,
    // the file may hold the new codes, and the record keeps its entry.
    let ok = true, restored = true;
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
      for (const [offset, old] of planned.writes.filter(([o]) => done.includes(o)))
        await io.writeAt(offset, bytes32(old)).catch(() => { restored = false; });
      if (io.abort) await io.abort().catch(() => {});
    }
    const written = () => this.module.ccall('tvx_written', 'string', ['number', 'number'], [planned.id, +ok]);
    const { result } = ok ? await this.answer(name, size, io, firstWindow, written)
      : await this.turn(() => JSON.parse(written()));
    const entry = result.written ? result
      : restored ? null : { ...result, written: true, writes: planned.result.writes };
    return { result, entry };
  }
}

if (typeof module !== 'undefined') module.exports = { Engine };
