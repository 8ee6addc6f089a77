#!/usr/bin/env python3
"""Damaged variants of the files in a folder, written beside them as
variantNNNNN with the extension of the file copied: each a copy of one of them
with one to four faults (a byte changed, a size field overwritten, the file cut
short, bytes put in, a chunk header laid over). The same seed gives the same
files.

    damaged-variants.py FOLDER COUNT [SEED]
"""
import os
import random
import struct
import sys

folder, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 22)
seeds = [(open(os.path.join(folder, n), 'rb').read(), os.path.splitext(n)[1]) for n in sorted(os.listdir(folder))]
for i in range(count):
    seed, ext = rng.choice(seeds)
    b = bytearray(seed)
    for _ in range(rng.randint(1, 4)):
        if not b:
            break
        at = rng.randrange(len(b))
        kind = rng.randrange(5)
        if kind == 0:
            b[at] = rng.randrange(256)
        elif kind == 1:
            b[at:at + 4] = struct.pack('<I', rng.choice([0, 1, 3, 0x7FFFFFFF, 0xFFFFFFFF, rng.randrange(1 << 32)]))
        elif kind == 2:
            del b[at:]
        elif kind == 3:
            b[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
        else:
            b[at:at + 8] = rng.choice([b'LIST\0\0\0\0', b'JUNK\x08\0\0\0', b'00dc\0\0\0\0', b'strl\0\0\0\0'])
    with open(os.path.join(folder, 'variant%05d%s' % (i, ext)), 'wb') as out:
        out.write(b)
