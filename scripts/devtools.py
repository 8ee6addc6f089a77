#!/usr/bin/python3
"""tovacrex.html in headless Chromium, opened from disk and driven through the
DevTools protocol: the tests (tests/web/browser.py) and the benchmark
(bench/web_large.py) use Browser. Run alone (scripts/screenshots.sh does), it
makes the README's screenshots of the page in both languages, with SAMPLES
dropped on it and its XviD group, if any, converted (on copies):

    devtools.py PAGE SAMPLES_DIR OUT_DIR
"""
import base64, json, os, shutil, subprocess, sys, tempfile, time, urllib.request  # noqa: E401
import websocket


class Browser:
    def __init__(self, page, profile, download_mode=False, patience=600):
        # Writing from pages opened from disk allowed, as a user's answer to the prompt would.
        os.makedirs(profile + '/Default')
        allowed = {'file_system_write_guard': {'file:///*,*': {'setting': 1}}}
        preferences = {'profile': {'content_settings': {'exceptions': allowed}}}
        json.dump(preferences, open(profile + '/Default/Preferences', 'w'))
        flags = ['--headless=new', '--no-sandbox', '--remote-debugging-port=0', '--no-first-run']
        self.process = subprocess.Popen(['chromium', *flags, '--user-data-dir=' + profile, 'about:blank'],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.patience, active = patience, profile + '/DevToolsActivePort'
        self.wait(lambda: os.path.exists(active) and '\n' in open(active).read())
        port = open(active).read().split('\n')[0]
        targets = json.load(urllib.request.urlopen(f'http://127.0.0.1:{port}/json/list'))
        target = next(t for t in targets if t['type'] == 'page')
        self.ws = websocket.create_connection(target['webSocketDebuggerUrl'], timeout=300)
        self.id, self.url, self.requests, self.chooser = 0, 'file://' + os.path.abspath(page), [], None
        self.call('Network.enable')
        if download_mode:  # as a browser without the File System Access API
            self.call('Page.addScriptToEvaluateOnNewDocument', source='delete window.showOpenFilePicker;')
        self.call('Page.navigate', url=self.url)
        self.wait(lambda: self.eval('document.readyState === "complete" && !!window.Tovacrex'))
        self.eval('Tovacrex.ready.then(() => 1)')

    def call(self, method, **params):  # events on the way: requests, file choosers
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

    def wait(self, condition, seconds=None):
        for _ in range((seconds or self.patience) * 10):
            if condition():
                return True
            time.sleep(0.1)
        return False

    def drop(self, paths):
        zone = 'document.getElementById("drop").getBoundingClientRect()'
        x, y = self.eval(f'(r => [r.x + 20, r.y + 20])({zone})')
        data = {'items': [], 'files': paths, 'dragOperationsMask': 1}
        for kind in ('dragEnter', 'dragOver', 'drop'):
            self.call('Input.dispatchDragEvent', type=kind, x=x, y=y, data=data)

    def rows(self):
        return self.eval('[...document.querySelectorAll("#files tr")]'
                         '.map(r => [...r.cells].map(c => c.textContent))')

    def convert(self, where, name, target):  # where: "#files tr" (a file) or "#groups p" (a group)
        self.eval(f'(e => {{ e.querySelector("select").value = "{target}"; '
                  f'e.querySelector("button").click(); }})'
                  f'([...document.querySelectorAll("{where}")]'
                  f'.find(e => e.textContent.includes({json.dumps(name)})))')

    def settled(self, done):  # until every row shows the codec it should, and nothing is being written
        idle = 'document.getElementById("progress").hidden'
        return self.wait(lambda: all(done(r) for r in self.rows()) and self.eval(idle))

    def close(self):
        self.ws.close()
        self.process.kill()
        self.process.wait()


if __name__ == '__main__':
    page, samples, out = sys.argv[1:]
    work = tempfile.mkdtemp()
    shutil.copytree(samples, work + '/files')
    b = Browser(page, work + '/profile')
    b.drop([work + '/files/' + f for f in sorted(os.listdir(samples)) if f.endswith('.avi')])
    b.wait(lambda: len(b.rows()) > 0)
    if 'XviD' in b.eval('document.getElementById("groups").textContent'):
        b.convert('#groups p', 'XviD', 12)
        b.settled(lambda r: r[1] not in ('XviD', 'DivX 4', '3ivx'))
    b.call('Emulation.setDeviceMetricsOverride', width=1100, height=720, deviceScaleFactor=1, mobile=False)
    for lang in ('en', 'ru'):
        if b.eval('document.documentElement.lang') != lang:
            b.eval('document.getElementById("language").click()')
            b.wait(lambda: b.eval('document.documentElement.lang') == lang, 10)
        shot = b.call('Page.captureScreenshot', format='png')['data']
        open(f'{out}/web-{lang}.png', 'wb').write(base64.b64decode(shot))
    b.close()
    shutil.rmtree(work, ignore_errors=True)
    print(f'devtools.py: wrote {out}/web-en.png and {out}/web-ru.png')
