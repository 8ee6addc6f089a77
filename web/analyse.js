// The page's side of an analysis, shared by the page and by Node: hand the
// module the start of the file, then whatever else it asks for, until it
// answers. readAt(offset, length) resolves to the bytes read there.
'use strict';

const kFirstWindow = 1 << 20;

function putWindow(module, offset, bytes) {
  const at = module.ccall('tvx_window', 'number', ['number', 'number'], [offset, bytes.length]);
  module.HEAPU8.set(bytes, at);  // after the call: memory may have grown
}

// The object `tovacrex-cli info --json` prints for the file, with `file` the
// name given. firstWindow: bytes read before the module asks for more.
async function analyseFile(module, name, size, readAt, anyCase, firstWindow = kFirstWindow) {
  module.ccall('tvx_open', null, ['number'], [size]);
  putWindow(module, 0, await readAt(0, Math.min(size, firstWindow)));
  for (let asked = new Set(); ;) {
    const answer = JSON.parse(module.ccall('tvx_analyse', 'string', ['string', 'number'], [name, anyCase ? 1 : 0]));
    if (!answer.need) return answer;
    const [offset, length] = answer.need;
    // The same bytes asked for twice: the read gave fewer than it should.
    if (asked.has(offset)) throw new Error(`${name}: could not read ${length} bytes at ${offset}`);
    asked.add(offset);
    putWindow(module, offset, await readAt(offset, length));
  }
}

if (typeof module !== 'undefined') module.exports = { analyseFile };
