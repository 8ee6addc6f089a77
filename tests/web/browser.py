#!/usr/bin/python3
"""tovacrex.html in headless Chromium: files and a folder tree dropped and converted by group (checked on disk), Undo
all, the record downloaded and undone by tovacrex-cli in the folders dropped, Tovacrex.convert on a dropped handle,
files opened from the keyboard in download mode and the download against the command line; any network request fails.
    browser.py PAGE TOVACREX_CLI SAMPLES_DIR FILES"""
import json, os, shutil, subprocess, sys, tempfile  # noqa: E401
sys.dont_write_bytecode = True  # no __pycache__ left beside devtools.py
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
from devtools import Browser  # noqa: E402

page, cli, samples, count = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3], int(sys.argv[4])
failures = []
check = lambda ok, what: print(('ok     ' if ok else 'FAILED ') + what) or ok or failures.append(what)  # noqa
run = lambda *a, cwd=None: json.loads(subprocess.run([cli, *a], capture_output=True, cwd=cwd).stdout)  # noqa
read = lambda p: open(p, 'rb').read()  # noqa: E731
work = tempfile.mkdtemp()
files, folder, down = work + '/files', work + '/files/folder', work + '/down'
shutil.copytree(samples, files)
seeds = sorted(f for f in os.listdir(samples) if f.endswith(('.avi', '.mkv')))
codec = {f: run('info', '--json', f'{samples}/{f}')[0]['codec'] for f in seeds}
v3, xvid = (next(f for f in seeds if codec[f] == c and f.endswith('.avi')) for c in ('DivX V3 Low', 'XviD'))
# A tree with one name twice: the record must tell the two apart.
for name in ['a/same.avi', 'b/same.avi', 'b/c/deep.avi', 'top.avi'] + [f'clip{i:04d}.avi' for i in range(count)]:
    os.makedirs(os.path.dirname(f'{folder}/{name}'), exist_ok=True)
    shutil.copy(f'{samples}/{xvid}', f'{folder}/{name}')
before = {f'{d}/{f}': read(f'{d}/{f}') for d, _, fs in os.walk(files) for f in fs}
xvid_group = lambda r: r[1] not in ('XviD', 'DivX 4', '3ivx')  # noqa: E731
b = Browser(page, work + '/p1')
b.call('Browser.setDownloadBehavior', behavior='allow', downloadPath=down)
b.drop([f'{files}/{f}' for f in seeds] + [folder])
b.wait(lambda: len(b.rows()) == sum(p.endswith(('.avi', '.mkv')) for p in before))
rows, listed = b.rows(), run('info', '--json', '-r', files)
shown = {os.path.relpath(c['file'], files): c['codec'] or 'Unknown codec' for c in listed}
check({r[0]: r[1] for r in rows} == shown and
      [r[0] for r in rows if r[0].startswith('folder/')] ==
      [os.path.relpath(c['file'], files) for c in listed if c['file'].startswith(folder + '/')],
      'the rows show the analyses, the folder walked as the command line walks it')
b.convert('#groups p', 'XviD', 12)
b.settled(xvid_group)
check(all(c['codec'] == 'DivX 5' and sum(x != y for x, y in zip(read(c['file']), before[c['file']])) <= 8
          for c in run('info', '--json', '-r', files) if c['group'] == 'XviD group') and
      b.eval('[...document.querySelectorAll("#files select")].every(s => s.value)'),
      f'the XviD group converted in place, the {count + 4} files of the folder among them, 8 bytes at most')
b.eval('document.getElementById("undo").click()')
untouched = lambda: all(read(p) == data for p, data in before.items())  # noqa: E731
check(b.wait(untouched, 120), 'Undo all gave back every byte')
b.settled(lambda r: True)
b.convert('#groups p', 'XviD', 12)
b.settled(xvid_group)
b.eval('document.getElementById("record").click()')
b.wait(lambda: os.path.exists(f'{down}/tovacrex-record.json'), 60)
for where in (files, folder):  # each dropped file's folder, and the folder dropped
    subprocess.run([cli, 'undo', f'{down}/tovacrex-record.json'], cwd=where, capture_output=True)
check(untouched(), 'the record downloaded, undone by tovacrex-cli in the folders dropped: every byte back')
# The scripting face on a dropped handle: a name in any letter case with a dry run, then a number.
api = work + '/api'
os.makedirs(api + '/cli')
for d in (api, api + '/cli'):
    shutil.copy(f'{samples}/{v3}', d)
b.eval('document.addEventListener("drop", e => {'
       ' window.dropped = e.dataTransfer.items[0].getAsFileSystemHandle(); }, true)')
b.drop([f'{api}/{v3}'])
for args, target in ((['--dry-run', '--to', 'divx V3 FAST'], '"divx V3 FAST"'), (['--to', '3'], '3')):
    got = b.eval(f'dropped.then(h => Tovacrex.convert(h, {target}, {{dryRun: {str(len(args) == 3).lower()}}}))')
    check(got == run('convert', '--json', '--no-record', *args, v3, cwd=api + '/cli')[0] and
          read(f'{api}/{v3}') == read(f'{api}/cli/{v3}'),
          f'Tovacrex.convert(handle, {target}) gives convert {" ".join(args)}\'s object and bytes')
requests = b.requests
b.close()
b = Browser(page, work + '/p2', download_mode=True)
b.call('Browser.setDownloadBehavior', behavior='allow', downloadPath=down)
b.call('Page.enable')
b.call('Page.setInterceptFileChooserDialog', enabled=True)
b.eval('document.getElementById("drop").focus()')  # Enter on the drop zone opens files, as its button does
b.call('Input.dispatchKeyEvent', type='keyDown', key='Enter', code='Enter', windowsVirtualKeyCode=13)
b.wait(lambda: b.eval('0') == 0 and b.chooser, 10)
mkv = next(f for f in seeds if f.endswith('.mkv') and codec[f] == 'XviD')  # converted by the command line in api/
shutil.copy(f'{samples}/{mkv}', api)
run('convert', '--json', '--no-record', '--to', '12', mkv, cwd=api)
b.call('DOM.setFileInputFiles', backendNodeId=b.chooser['backendNodeId'], files=[f'{samples}/{v3}', f'{samples}/{mkv}'])
b.wait(lambda: len(b.rows()) == 2)
check(b.eval('Promise.all([...document.getElementById("pick").files].map((f) => Tovacrex.analyse(f)))') ==
      run('info', '--json', v3, mkv, cwd=samples), 'Tovacrex.analyse gives info --json\'s objects, AVI and Matroska')
for name, target in ((v3, 3), (mkv, 12)):  # one at a time: the page takes no second job while one runs
    b.wait(lambda: b.eval('document.getElementById("progress").hidden'))  # a job's file is saved before it ends
    b.convert('#files tr', name, target)
    b.wait(lambda: os.path.exists(f'{down}/{name}') and '.crdownload' not in ' '.join(os.listdir(down)), 60)
    check(read(f'{down}/{name}') == read(f'{api}/{name}') != read(f'{samples}/{name}'),
          f'download mode: {name} offered as the command line converts it, the file opened untouched')
check(requests and b.requests and all(u == b.url for u in requests + b.requests),
      f'no network request ({len(requests + b.requests)} loads, all of the page itself)')
b.close()
shutil.rmtree(work, ignore_errors=True)
print(f'{len(failures)} failed')
sys.exit(1 if failures else 0)
