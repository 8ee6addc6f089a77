#!/usr/bin/python3
"""tovacrex.html in headless Chromium, opened from disk, driven through the
DevTools protocol: a folder and files dropped on it and converted in place
(checked on disk), Undo all, its record undone by tovacrex-cli, the download
mode's file against the command line's; any network request fails.

    browser.py PAGE TOVACREX_CLI SAMPLES_DIR FILES [SCREENSHOT_DIR]
"""
import base64, json, os, shutil, subprocess, sys, tempfile, time, urllib.request  # noqa: E401
import websocket


class Browser:
    def __init__(self, page, profile, download_mode=False):
        # Writing from pages opened from disk allowed, as a user's answer to the prompt would.
        os.makedirs(profile + '/Default')
        json.dump({'profile': {'content_settings': {'exceptions': {'file_system_write_guard': {'file:///*,*': {'setting': 1}}}}}},
                  open(profile + '/Default/Preferences', 'w'))
        self.process = subprocess.Popen(['chromium', '--headless=new', '--no-sandbox', '--remote-debugging-port=0',
                                         '--user-data-dir=' + profile, '--no-first-run', 'about:blank'],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait(lambda: os.path.exists(profile + '/DevToolsActivePort') and '\n' in open(profile + '/DevToolsActivePort').read())
        port = open(profile + '/DevToolsActivePort').read().split('\n')[0]
        target = next(t for t in json.load(urllib.request.urlopen(f'http://127.0.0.1:{port}/json/list')) if t['type'] == 'page')
        self.ws, self.id, self.url, self.requests, self.chooser = websocket.create_connection(target['webSocketDebuggerUrl'], timeout=300), 0, 'file://' + page, [], None
        self.call('Network.enable')
        if download_mode:  # as a browser without the File System Access API
            self.call('Page.addScriptToEvaluateOnNewDocument', source='delete window.showOpenFilePicker;')
        self.call('Page.navigate', url=self.url)
        self.wait(lambda: self.eval('document.readyState === "complete" && !!window.Tovacrex'))
        self.eval('Tovacrex.ready.then(() => 1)')

    def call(self, method, **params):
        self.id += 1
        self.ws.send(json.dumps({'id': self.id, 'method': method, 'params': params}))
        while (m := json.loads(self.ws.recv())).get('id') != self.id:
            if m.get('method') == 'Network.requestWillBeSent':
                self.requests.append(m['params']['request']['url'])
            self.chooser = m['params'] if m.get('method') == 'Page.fileChooserOpened' else self.chooser
        if 'error' in m:
            raise RuntimeError(f'{method}: {m["error"]}')
        return m.get('result', {})

    def eval(self, expression):
        r = self.call('Runtime.evaluate', expression=expression, awaitPromise=True, returnByValue=True)
        if 'exceptionDetails' in r:
            raise RuntimeError(f'{expression}: {r["exceptionDetails"]}')
        return r['result'].get('value')

    def wait(self, condition, seconds=600):
        for _ in range(seconds * 10):
            if condition():
                return
            time.sleep(0.1)
        raise RuntimeError('timed out')

    def drop(self, paths):
        x, y = self.eval('(r => [r.x + 20, r.y + 20])(document.getElementById("drop").getBoundingClientRect())')
        for kind in ('dragEnter', 'dragOver', 'drop'):
            self.call('Input.dispatchDragEvent', type=kind, x=x, y=y, data={'items': [], 'files': paths, 'dragOperationsMask': 1})

    def rows(self):
        return self.eval('[...document.querySelectorAll("#files tr")].map(tr => [...tr.cells].map(c => c.textContent))')

    def convert(self, where, name, target):  # where: "#files tr" (a file) or "#groups p" (a group)
        self.eval(f'(e => {{ e.querySelector("select").value = "{target}"; e.querySelector("button").click(); }})'
                  f'([...document.querySelectorAll("{where}")].find(e => e.textContent.includes({json.dumps(name)})))')

    def settled(self, done):  # until every row shows the codec it should, and none is being written
        self.wait(lambda: all(done(r) and 'writing' not in r[5] for r in self.rows()))

    def close(self):
        self.ws.close()
        self.process.kill()
        self.process.wait()


def main(page, cli, samples, count, shots=None):
    failures = []

    def check(ok, what):
        print(('ok     ' if ok else 'FAILED ') + what)
        failures.append(what) if not ok else None

    def codec(path, cwd=None):
        return json.loads(subprocess.run([cli, 'info', '--json', path], capture_output=True, cwd=cwd).stdout)[0]['codec']

    work = tempfile.mkdtemp()
    files, folder = work + '/files', work + '/files/folder'
    os.makedirs(folder)
    seeds = sorted(f for f in os.listdir(samples) if f.endswith('.avi'))
    for f in seeds:
        shutil.copy(f'{samples}/{f}', files)
    v3, xvid = (next(f for f in seeds if codec(f'{samples}/{f}') == c) for c in ('DivX V3 Low', 'XviD'))
    for i in range(count):
        shutil.copy(f'{samples}/{xvid}', f'{folder}/clip{i:04d}.avi')
    before = {p: open(p, 'rb').read() for p in [f'{d}/{f}' for d, _, fs in os.walk(files) for f in fs]}
    changed = lambda p: sum(a != b for a, b in zip(open(p, 'rb').read(), before[p]))  # noqa: E731
    b = Browser(os.path.abspath(page), work + '/p1')
    b.drop([f'{files}/{f}' for f in seeds] + [folder])
    b.wait(lambda: len(b.rows()) == len(seeds) + count)
    check([r[1] for r in b.rows()[:len(seeds)]] == [codec(f'{files}/{f}') or 'Unknown codec' for f in seeds], 'the rows show the analyses')
    b.convert('#files tr', v3, 7)
    b.settled(lambda r: r[0] != v3 or r[1] == 'DivX V3 Fast')
    check(codec(f'{files}/{v3}') == 'DivX V3 Fast' and changed(f'{files}/{v3}') <= 8, f'{v3} converted in place')
    group = ('XviD', 'DivX 4', 'DivX 5', '3ivx')
    t0 = time.time()
    b.convert('#groups p', 'XviD', 12)
    b.settled(lambda r: r[1] not in group or r[1] == 'DivX 5')
    check(all(codec(f'{folder}/{f}') == 'DivX 5' and changed(f'{folder}/{f}') <= 8 for f in os.listdir(folder)),
          f'the XviD group converted in place, its {count} files in the folder among them, in {time.time() - t0:.1f} s')
    b.eval('document.getElementById("undo").click()')
    restored = lambda: all(open(p, 'rb').read() == data for p, data in before.items())  # noqa: E731
    try:
        b.wait(restored, 120)
    except RuntimeError:
        pass  # reported below
    check(restored(), 'Undo all gave back every byte')
    b.convert('#groups p', 'XviD', 12)
    b.settled(lambda r: r[1] not in group or r[1] == 'DivX 5')
    json.dump([r for r in b.eval('Tovacrex.record()') if r['file'].startswith('clip')], open(folder + '/record.json', 'w'))
    subprocess.run([cli, 'undo', 'record.json'], cwd=folder, capture_output=True)
    check(all(open(f'{folder}/clip{i:04d}.avi', 'rb').read() == before[f'{folder}/clip{i:04d}.avi'] for i in range(count)),
          'the page\'s record undone by tovacrex-cli undo')
    # The scripting face on a dropped handle: a name in any letter case with a dry run, then a number.
    api = work + '/api'
    os.makedirs(api + '/cli')
    for d in (api, api + '/cli'):
        shutil.copy(f'{samples}/{v3}', d)
    b.eval('document.addEventListener("drop", e => { window.dropped = e.dataTransfer.items[0].getAsFileSystemHandle(); }, true)')
    b.drop([f'{api}/{v3}'])
    for args in (['--dry-run', '--to', 'divx V3 FAST'], ['--to', '3']):
        want = json.loads(subprocess.run([cli, 'convert', '--json', '--no-record', *args, v3], capture_output=True, cwd=api + '/cli').stdout)[0]
        target = json.dumps(int(args[-1]) if args[-1].isdigit() else args[-1])
        got = b.eval(f'dropped.then(h => Tovacrex.convert(h, {target}, {{dryRun: {json.dumps(len(args) == 3)}}}))')
        check(got == want and open(f'{api}/{v3}', 'rb').read() == open(f'{api}/cli/{v3}', 'rb').read(),
              f'Tovacrex.convert(handle, {target}) gives convert {" ".join(args)}\'s object and bytes')
    if shots:
        b.call('Emulation.setDeviceMetricsOverride', width=1100, height=720, deviceScaleFactor=1, mobile=False)
        for lang in ('en', 'ru'):
            if b.eval('document.documentElement.lang') != lang:
                b.eval('document.getElementById("language").click()')
            open(f'{shots}/web-{lang}.png', 'wb').write(base64.b64decode(b.call('Page.captureScreenshot', format='png')['data']))
    requests = b.requests
    b.close()
    b = Browser(os.path.abspath(page), work + '/p2', download_mode=True)
    b.call('Browser.setDownloadBehavior', behavior='allow', downloadPath=work + '/down', eventsEnabled=True)
    b.call('Page.enable')
    b.call('Page.setInterceptFileChooserDialog', enabled=True)
    b.eval('document.getElementById("drop").focus()')  # Enter on the drop zone opens files, as its button does
    b.call('Input.dispatchKeyEvent', type='keyDown', key='Enter', code='Enter', windowsVirtualKeyCode=13)
    b.wait(lambda: b.call('Runtime.evaluate', expression='0') and b.chooser)
    b.call('DOM.setFileInputFiles', backendNodeId=b.chooser['backendNodeId'], files=[f'{samples}/{v3}'])
    b.wait(lambda: len(b.rows()) == 1)
    want = json.loads(subprocess.run([cli, 'info', '--json', v3], capture_output=True, cwd=samples).stdout)[0]
    check(b.eval('Tovacrex.analyse(document.getElementById("pick").files[0])') == want, 'Tovacrex.analyse gives info --json\'s object')
    b.convert('#files tr', v3, 3)
    b.wait(lambda: os.path.exists(f'{work}/down/{v3}') and not any(f.endswith('.crdownload') for f in os.listdir(work + '/down')))
    shutil.copy(f'{samples}/{v3}', work + '/cli.avi')
    subprocess.run([cli, 'convert', '--no-record', '--to', '3', work + '/cli.avi'], capture_output=True)
    check(open(f'{work}/down/{v3}', 'rb').read() == open(work + '/cli.avi', 'rb').read() != open(f'{samples}/{v3}', 'rb').read(),
          'download mode: the file offered equals the command line\'s conversion, the file opened is untouched')
    check(all(u == b.url for u in requests + b.requests), f'no network request ({len(requests + b.requests)} loads, all of the page itself)')
    b.close()
    shutil.rmtree(work, ignore_errors=True)
    print(f'{len(failures)} failed')
    return not failures


if __name__ == '__main__':
    sys.exit(0 if main(sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3], int(sys.argv[4]), *sys.argv[5:]) else 1)
