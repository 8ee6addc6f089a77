#!/usr/bin/python3
"""The page in headless Chromium on large jobs, timed: a file of SIZE MiB
dropped, analysed and converted in place; a folder of COUNT small files
dropped, analysed, and converted in place by group. Checks the bytes on disk.
With --against REV, the folder's analysis is also timed on the page as made
at commit REV (its scripts, template and texts, with this build's module), in
the same run, and both figures are printed side by side.

    web_large.py [--against REV] PAGE TOVACREX_CLI SIZE_MIB COUNT
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
sys.dont_write_bytecode = True  # no __pycache__ left beside devtools.py
sys.path.insert(0, os.path.join(root, 'scripts'))
from devtools import Browser  # noqa: E402

args = argparse.ArgumentParser()
args.add_argument('--against', metavar='REV')
for name in ('page', 'cli', 'size_mib', 'count'):
    args.add_argument(name)
args = args.parse_args()
page, cli = os.path.abspath(args.page), os.path.abspath(args.cli)
size_mib, count = int(args.size_mib), int(args.count)
work = tempfile.mkdtemp(dir='/var/tmp')
clip = work + '/clip.avi'
subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc=size=64x48:rate=10', '-t', '1',
                '-c:v', 'mpeg4', '-vtag', 'XVID', clip], check=True)
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


def analysed(b, rows):  # seconds from the drop to a complete table
    t0 = time.time()
    b.drop([folder])
    b.wait(lambda: b.eval('document.querySelectorAll("#files tr").length') == rows)
    return time.time() - t0


before = ''
if args.against:
    old = f'{work}/old'
    os.makedirs(old)
    parts = ['web/make_page.py', 'web/page.html', 'web/page.css', 'resources/tovacrex.rc', 'web/files.js',
             'web/page.js']
    for part in parts:
        with open(f'{old}/{os.path.basename(part)}', 'wb') as out:
            subprocess.run(['git', '-C', root, 'show', f'{args.against}:{part}'], stdout=out, check=True)
    made = [f'{old}/{os.path.basename(p)}' for p in parts]
    module = os.path.join(os.path.dirname(page), 'web', 'tovacrex-module.js')
    subprocess.run([sys.executable, *made[:4], f'{old}/tovacrex.html', module, *made[4:]], check=True)
    b = Browser(f'{old}/tovacrex.html', work + '/old-profile', patience=3600)
    before = f' ({args.against}\'s page: {analysed(b, count):.2f} s)'
    b.close()
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
took = analysed(b, 1 + count)
t1 = time.time()
b.convert('#groups p', 'XviD', 12)
b.settled(lambda r: r[1] == 'DivX 5')
t2 = time.time()
ok = all(b'DivX 5' in subprocess.run([cli, 'info', f'{folder}/{f}'], capture_output=True).stdout
         for f in os.listdir(folder))
print(f'{count} small files: analysed in {took:.2f} s{before}, converted in place by group: {t2 - t1:.1f} s; '
      f'all DivX 5 on disk: {"yes" if ok else "NO"}')
b.close()
shutil.rmtree(work, ignore_errors=True)
