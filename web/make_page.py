#!/usr/bin/env python3
"""One self-contained page: the template with its style and its scripts (the
module, its file access, the page) put inside, and a Content-Security-Policy
that allows exactly those: no request of any kind.

    make_page.py TEMPLATE CSS OUT SCRIPT...
"""
import base64
import hashlib
import sys

template, css, out, *scripts = sys.argv[1:]
style = open(css, encoding='utf-8').read()
script = '\n'.join(open(s, encoding='utf-8').read() for s in scripts)
if '</script' in script.lower():
    sys.exit('make_page.py: a script holds "</script", which would end it early')


def digest(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode('utf-8')).digest()).decode() + "'"


csp = ("default-src 'none'; script-src " + digest(script) + " 'wasm-unsafe-eval'; style-src " + digest(style) +
       "; img-src data:; base-uri 'none'; form-action 'none'")
page = open(template, encoding='utf-8').read()
page = page.replace('@CSP@', csp).replace('@STYLE@', style).replace('@SCRIPT@', script)
open(out, 'w', encoding='utf-8').write(page)
