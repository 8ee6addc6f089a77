#!/usr/bin/python3
"""tovacrex.html in headless Chromium: a folder and files dropped and converted
by group (checked on disk), Undo all, the record undone by tovacrex-cli,
Tovacrex.convert on a dropped handle, files opened from the keyboard in
download mode and the download against the command line; any network request
fails.     browser.py PAGE TOVACREX_CLI SAMPLES_DIR FILES
"""
import json, os, shutil, subprocess, sys, tempfile  # noqa: E401
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
from devtools import Browser  # noqa: E402

page, cli, samples, count, failures = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3], int(sys.argv[4]), []
check = lambda ok, what: print(('ok     ' if ok else 'FAILED ') + what) or (failures.append(what) if not ok else None)  # noqa: E731
run = lambda *args, cwd=None: json.loads(subprocess.run([cli, *args], capture_output=True, cwd=cwd).stdout)  # noqa: E731
read = lambda p: open(p, 'rb').read()  # noqa: E731
work = tempfile.mkdtemp()
files, folder = work + '/files', work + '/files/folder'
shutil.copytree(samples, files)
os.makedirs(folder)
seeds = sorted(f for f in os.listdir(samples) if f.endswith('.avi'))
v3, xvid = (next(f for f in seeds if run('info', '--json', f'{samples}/{f}')[0]['codec'] == c) for c in ('DivX V3 Low', 'XviD'))
for i in range(count):
    shutil.copy(f'{samples}/{xvid}', f'{folder}/clip{i:04d}.avi')
before = {f'{d}/{f}': read(f'{d}/{f}') for d, _, fs in os.walk(files) for f in fs}
b = Browser(page, work + '/p1')
b.drop([f'{files}/{f}' for f in seeds] + [folder])
b.wait(lambda: len(b.rows()) == len(seeds) + count)
check({r[0]: r[1] for r in b.rows()} == {os.path.relpath(c['file'], files): c['codec'] or 'Unknown codec' for c in run('info', '--json', '-r', files)},
      'the rows show the analyses, the folder walked as the command line walks it')
b.convert('#groups p', 'XviD', 12)
b.settled(lambda r: r[1] not in ('XviD', 'DivX 4', '3ivx'))
check(all(c['codec'] == 'DivX 5' and sum(x != y for x, y in zip(read(c['file']), before[c['file']])) <= 8
          for c in run('info', '--json', '-r', files) if c['group'] == 'XviD group'),
      f'the XviD group converted in place, its {count} files in the folder among them, 8 bytes at most each')
b.eval('document.getElementById("undo").click()')
check(b.wait(lambda: all(read(p) == data for p, data in before.items()), 120), 'Undo all gave back every byte')
b.convert('#groups p', 'XviD', 12)
b.settled(lambda r: r[1] not in ('XviD', 'DivX 4', '3ivx'))
json.dump([r for r in b.eval('Tovacrex.record()') if r['file'].startswith('clip')], open(folder + '/record.json', 'w'))
subprocess.run([cli, 'undo', 'record.json'], cwd=folder, capture_output=True)
check(all(read(f'{folder}/clip{i:04d}.avi') == before[f'{folder}/clip{i:04d}.avi'] for i in range(count)),
      'the page\'s record undone by tovacrex-cli undo')
# The scripting face on a dropped handle: a name in any letter case with a dry run, then a number.
api = work + '/api'
os.makedirs(api + '/cli')
for d in (api, api + '/cli'):
    shutil.copy(f'{samples}/{v3}', d)
b.eval('document.addEventListener("drop", e => { window.dropped = e.dataTransfer.items[0].getAsFileSystemHandle(); }, true)')
b.drop([f'{api}/{v3}'])
for args, target in ((['--dry-run', '--to', 'divx V3 FAST'], '"divx V3 FAST"'), (['--to', '3'], '3')):
    got = b.eval(f'dropped.then(h => Tovacrex.convert(h, {target}, {{dryRun: {json.dumps(len(args) == 3)}}}))')
    check(got == run('convert', '--json', '--no-record', *args, v3, cwd=api + '/cli')[0] and read(f'{api}/{v3}') == read(f'{api}/cli/{v3}'),
          f'Tovacrex.convert(handle, {target}) gives convert {" ".join(args)}\'s object and bytes')
requests = b.requests
b.close()
b = Browser(page, work + '/p2', download_mode=True)
b.call('Browser.setDownloadBehavior', behavior='allow', downloadPath=work + '/down')
b.call('Page.enable')
b.call('Page.setInterceptFileChooserDialog', enabled=True)
b.eval('document.getElementById("drop").focus()')  # Enter on the drop zone opens files, as its button does
b.call('Input.dispatchKeyEvent', type='keyDown', key='Enter', code='Enter', windowsVirtualKeyCode=13)
b.wait(lambda: b.eval('0') == 0 and b.chooser, 10)
b.call('DOM.setFileInputFiles', backendNodeId=b.chooser['backendNodeId'], files=[f'{samples}/{v3}'])
b.wait(lambda: len(b.rows()) == 1)
check(b.eval('Tovacrex.analyse(document.getElementById("pick").files[0])') == run('info', '--json', v3, cwd=samples)[0],
      'Tovacrex.analyse gives info --json\'s object')
b.convert('#files tr', v3, 3)
b.wait(lambda: os.path.exists(f'{work}/down/{v3}') and not any(f.endswith('.crdownload') for f in os.listdir(work + '/down')))
check(read(f'{work}/down/{v3}') == read(f'{api}/{v3}') != read(f'{samples}/{v3}'),
      'download mode: the file offered equals the command line\'s conversion, the file opened is untouched')
check(all(u == b.url for u in requests + b.requests), f'no network request ({len(requests + b.requests)} loads, all of the page itself)')
b.close()
shutil.rmtree(work, ignore_errors=True)
print(f'{len(failures)} failed')
sys.exit(1 if failures else 0)
