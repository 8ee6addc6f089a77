#!/usr/bin/env python3
"""One self-contained page: the template with its style and its scripts (the
module, its file access, the page) put inside, and a Content-Security-Policy
that allows exactly those: no request of any kind. The Windows program's
texts (its dialogs and string tables, English and Russian) go in as
kProgramTexts, so that the page speaks as the program does.

    make_page.py TEMPLATE CSS RESOURCES_RC OUT SCRIPT...
"""
import base64
import hashlib
import json
import re
import sys

template, css, rc, out, *scripts = sys.argv[1:]


def program_texts(path):
    """{en: {...}, ru: {...}}: the string table by number (1 to 16) and the
    main dialog's texts by name, in the order the dialog template lists them."""
    names = ['title', 'about', 'headerOnly', 'file', 'codec', 'newCodec', 'open', 'save', 'quit']
    texts, dialog = {'en': {}, 'ru': {}}, None
    for line in open(path, encoding='utf-8'):
        if m := re.match(r'MAIN([01]) DIALOGEX', line):
            dialog, controls = ('en', 'ru')[int(m[1])], []
        elif m := re.match(r'\s*CONTROL "((?:[^"]|"")+)", -?\d+, "(?:Button|Static)"', line):
            controls.append(re.sub('&(&?)', r'\1', m[1].replace('""', '"')).strip())
        elif line.startswith('END') and dialog:
            if len(controls) != len(names):
                sys.exit(f'make_page.py: dialog {dialog} has {len(controls)} texts, not {len(names)}')
            texts[dialog].update(zip(names, controls))
            dialog = None
        elif m := re.match(r'\s*1([01])0(\d\d), "((?:[^"]|"")*)"', line):
            texts[('en', 'ru')[int(m[1])]][int(m[2])] = m[3].replace('""', '"')
    if any(len(t) != len(names) + 16 for t in texts.values()):
        sys.exit(f'make_page.py: {path} does not hold the texts the page needs')
    return texts


style = open(css, encoding='utf-8').read()
script = ('const kProgramTexts = ' + json.dumps(program_texts(rc), ensure_ascii=False) + ';\n' +
          '\n'.join(open(s, encoding='utf-8').read() for s in scripts))
if '</script' in script.lower():
    sys.exit('make_page.py: a script holds "</script", which would end it early')


def digest(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode('utf-8')).digest()).decode() + "'"


csp = ("default-src 'none'; script-src " + digest(script) + " 'wasm-unsafe-eval'; style-src " + digest(style) +
       "; img-src data:; base-uri 'none'; form-action 'none'")
page = open(template, encoding='utf-8').read()
page = page.replace('@CSP@', csp).replace('@STYLE@', style).replace('@SCRIPT@', script)
open(out, 'w', encoding='utf-8').write(page)
