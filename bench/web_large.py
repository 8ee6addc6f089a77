#!/usr/bin/python3
"""The page in headless Chromium on large jobs, timed: a file of SIZE MiB
dropped, analysed and converted in place; a folder of COUNT small files
dropped, analysed, and converted in place by group. Checks the bytes on disk.

    web_large.py PAGE TOVACREX_CLI SIZE_MIB COUNT
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from devtools import Browser  # noqa: E402

page, cli, size_mib, count = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
work = tempfile.mkdtemp(dir='/var/tmp')
clip = work + '/clip.avi'
subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc=size=64x48:rate=10', '-t', '1', '-c:v', 'mpeg4',
                '-vtag', 'XVID', clip], check=True)
big, folder = work + '/big/big.avi', work + '/folder'
os.makedirs(work + '/big')
os.makedirs(folder)
shutil.copy(clip, big)
with open(big, 'r+b') as f:  # the header area of a real file, then data up to the size
    f.truncate(size_mib << 20)
    f.seek(os.path.getsize(clip))
    block = os.urandom(1 << 20)
    for _ in range((size_mib << 20) // len(block) - 1):
        f.write(block)
for i in range(count):
    shutil.copy(clip, f'{folder}/clip{i:04d}.avi')
head = open(big, 'rb').read(1 << 16)
b = Browser(page, work + '/profile', patience=3600)  # a thousand files take longer than a test waits
t0 = time.time()
b.drop([big])
b.wait(lambda: len(b.rows()) == 1)
t1 = time.time()
b.convert('#files tr', 'big.avi', 12)
b.settled(lambda r: r[1] == 'DivX 5')
t2 = time.time()
changed = sum(a != c for a, c in zip(head, open(big, 'rb').read(1 << 16)))
print(f'{size_mib} MiB file: analysed in {t1 - t0:.2f} s, converted in place in {t2 - t1:.1f} s; '
      f'{changed} bytes changed, size {"kept" if os.path.getsize(big) == size_mib << 20 else "CHANGED"}')
t0 = time.time()
b.drop([folder])
b.wait(lambda: len(b.rows()) == 1 + count)
t1 = time.time()
b.convert('#groups p', 'XviD', 12)
b.settled(lambda r: r[1] == 'DivX 5')
t2 = time.time()
ok = all(subprocess.run([cli, 'info', f'{folder}/{f}'], capture_output=True).stdout.decode().find('DivX 5') > 0
         for f in os.listdir(folder))
print(f'{count} small files: analysed in {t1 - t0:.1f} s, converted in place by group in {t2 - t1:.1f} s; '
      f'all DivX 5 on disk: {"yes" if ok else "NO"}')
b.close()
shutil.rmtree(work, ignore_errors=True)
