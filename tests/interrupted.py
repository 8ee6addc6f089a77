#!/usr/bin/env python3
# The real tovacrex-cli over a tree of 1,000 files, AVI and Matroska (mkvmerge's), cut short: killed (SIGKILL) at
# random moments, after which undo from the record (--record, or the history with undo --last) restores every byte;
# stopped by SIGINT; and a record that cannot be written.   interrupted.py TOVACREX_CLI SAMPLE_AVI
import errno, hashlib, json, os, random, re, signal, subprocess, sys, tempfile, time

cli, sample = sys.argv[1], open(sys.argv[2], "rb").read()
PAIRS = [b"xvidXVID", b"XVIDDX50", b"divxDIVX", b"3iv23IV2", b"divxDX50", b"div3div3"]  # the last is not converted
work = tempfile.TemporaryDirectory()
tree, state = os.path.join(work.name, "tree"), os.path.join(work.name, "state")
env = dict(os.environ, XDG_STATE_HOME=state)
files = [os.path.join(tree, f"d{i % 10}", f"f{i}.{'mkv' if i % 7 == 0 else 'avi'}") for i in range(1000)]
snapshot = lambda: {name: hashlib.sha1(open(name, "rb").read()).hexdigest() for name in files}  # noqa: E731
tagged = lambda pair: sample[:0x70] + pair[:4] + sample[0x74:0xBC] + pair[4:] + sample[0xC0:]  # noqa: E731
mkv = os.path.join(work.name, "xvid.mkv")  # mkvmerge's Matroska file of the sample, as XVID
subprocess.run(["mkvmerge", "-q", "--fourcc", "0:XVID", "-o", mkv, sys.argv[2]], check=True)
matroska = open(mkv, "rb").read()

def check(what, ok):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        sys.exit(1)

def reset():
    for i, name in enumerate(files):
        os.makedirs(os.path.dirname(name), exist_ok=True)
        open(name, "wb").write(matroska if name.endswith(".mkv") else tagged(PAIRS[i % len(PAIRS)]))
    return snapshot()

def convert(*extra):
    return subprocess.Popen([cli, "convert", "-r", "--to", "DivX 5", *extra, tree], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)

original, start = reset(), time.monotonic()
convert("--record", os.path.join(work.name, "calibration.jsonl")).communicate()
duration = time.monotonic() - start
random.seed(int(os.environ.get("TOVACREX_SEED", time.time())))
for run in range(8):
    history, record = run >= 5, os.path.join(work.name, f"record{run}.jsonl")
    reset()
    p = convert(*([] if history else ["--record", record]))
    time.sleep(moment := random.uniform(0, duration))
    p.kill()
    p.communicate()
    changed = sum(a != b for a, b in zip(snapshot().values(), original.values()))
    # Killed before its first entry, a run leaves no record, and wrote nothing.
    kept = os.path.exists(os.path.join(state, "tovacrex", "history") if history else record)
    undo = [cli, "undo", *(["--last"] if history else [record])]
    status = subprocess.run(undo, env=env, capture_output=True).returncode if kept else 0
    check(f"run {run} ({'history' if history else '--record'}), killed at {moment:.3f} s with {changed} files changed:"
          f" undo exits 0 ({status}) and every byte is back", status == 0 and snapshot() == original)
# The history: the killed runs (or finished, where a kill came too late), each undone since.
listed = subprocess.run([cli, "history"], env=env, capture_output=True, text=True).stdout.splitlines()
line = rf'\S+  (\d+ written|cut short, \d+ recorded)  convert -r --to "DivX 5" {re.escape(tree)}  \(undone \S+\)  \S+'
check(f"history lists the {len(listed)} runs, each undone",
      0 < len(listed) <= 3 and all(re.fullmatch(line, l) for l in listed))

# SIGINT: the run stops after the files in hand; the files it reports written (its JSON array, or its lines, whose
# summary counts them) are exactly those changed.
for as_json in (True, False):
    reset()
    p = convert("--no-record", *["--json"] * as_json)
    while p.poll() is None and hashlib.sha1(open(files[0], "rb").read()).hexdigest() == original[files[0]]:
        time.sleep(0.001)  # until the first file is converted, and a little longer
    time.sleep(duration / 5)
    p.send_signal(signal.SIGINT)
    out, err = p.communicate()
    lines = [re.fullmatch(r"(.+): [^:]+ -> DivX 5", l) for l in out.decode().splitlines()]
    written = {o["file"] for o in json.loads(out) if o["written"]} if as_json else {m[1] for m in lines if m}
    changed = {name for name, digest in snapshot().items() if digest != original[name]}
    summary = rf"\d+ files: {len(changed)} converted(, \d+ already DivX 5)?(, \d+ failed)?, interrupted"
    check(f"SIGINT ({'--json' if as_json else 'lines'}): exit 130 ({p.returncode}), exactly the {len(written)} files"
          " reported written changed", p.returncode == 130 and 0 < len(changed) < 1000 and written == changed and
          (as_json or re.fullmatch(summary, (err.decode().splitlines() or [""])[-1]) is not None))

# A record that cannot be written: no file is written, and the run says why.
reset()
full = subprocess.run([cli, "convert", "-r", "--to", "DivX 5", "--record", "/dev/full", tree], env=env,
                      capture_output=True)
reason = f"tovacrex-cli: /dev/full: cannot write the record: {os.strerror(errno.ENOSPC)}; no further file is written"
check(f"--record /dev/full: exit 1 ({full.returncode}), every file unchanged, the reason given",
      full.returncode == 1 and snapshot() == original and reason in full.stderr.decode().splitlines())
