#!/usr/bin/env python3
# The real tovacrex-cli over a mixed tree of 1,000 files, cut short: killed
# (SIGKILL) at random moments, after which undo from the record (--record, or
# the history with undo --last) restores every byte; stopped by SIGINT; and a
# record that cannot be written.   interrupted.py TOVACREX_CLI SAMPLE_AVI
import errno, hashlib, json, os, random, signal, subprocess, sys, tempfile, time

cli, sample = sys.argv[1], open(sys.argv[2], "rb").read()
PAIRS = [b"xvidXVID", b"XVIDDX50", b"divxDIVX", b"3iv23IV2", b"divxDX50", b"div3div3"]  # the last is not converted
work = tempfile.TemporaryDirectory()
tree, state = os.path.join(work.name, "tree"), os.path.join(work.name, "state")
env = dict(os.environ, XDG_STATE_HOME=state)
files = [os.path.join(tree, f"d{i % 10}", f"f{i}.avi") for i in range(1000)]
failures = []

def snapshot():
    return {name: hashlib.sha1(open(name, "rb").read()).hexdigest() for name in files}

def reset():
    for i, name in enumerate(files):
        os.makedirs(os.path.dirname(name), exist_ok=True)
        pair = PAIRS[i % len(PAIRS)]
        open(name, "wb").write(sample[:0x70] + pair[:4] + sample[0x74:0xBC] + pair[4:] + sample[0xC0:])
    return snapshot()

def check(what, ok):
    print(("ok    " if ok else "FAIL  ") + what)
    failures.extend([] if ok else [what])

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
    p.kill(), p.communicate()
    changed = sum(a != b for a, b in zip(snapshot().values(), original.values()))
    # Killed before its first entry, a run leaves no record, and wrote nothing.
    recorded = os.path.exists(os.path.join(state, "tovacrex", "history") if history else record)
    undo = subprocess.run(([cli, "undo", "--last"] if history else [cli, "undo", record]) if recorded else ["true"],
                          env=env, capture_output=True)
    check(f"run {run} ({'history' if history else '--record'}), killed at {moment:.3f} s with {changed} files changed:"
          f" undo exits 0 ({undo.returncode}) and every byte is back", undo.returncode == 0 and snapshot() == original)

# The history: the killed runs (or finished, where a kill came too late), each undone since.
listed = subprocess.run([cli, "history"], env=env, capture_output=True, text=True).stdout
history = [l.split("  ") for l in listed.splitlines()]
check(f"history lists the {len(history)} runs, each undone", 0 < len(history) <= 3 and
      [(h[2], h[3][:8]) for h in history] == [(f'convert -r --to "DivX 5" {tree}', "(undone ")] * len(history))

# SIGINT: the run stops after the file in hand, with a valid array naming
# exactly the files it changed, or with its lines and the summary.
for form in ["--json", "--no-record"]:
    reset()
    p = convert(form, "--no-record") if form == "--json" else convert(form)
    while p.poll() is None and hashlib.sha1(open(files[0], "rb").read()).hexdigest() == original[files[0]]:
        time.sleep(0.001)  # until the first file is converted, and a little longer
    time.sleep(duration / 5)
    p.send_signal(signal.SIGINT)
    out, err = p.communicate()
    done = json.loads(out) if form == "--json" else [l.split(": ")[0] for l in out.decode().splitlines()]
    written = {o["file"] for o in done if o["written"]} if form == "--json" else set(done) - set(original)
    changed = {name for name, digest in snapshot().items() if digest != original[name]}
    last = (err.decode().splitlines() or [""])[-1]
    summary = last.endswith(", interrupted") and f" files: {len(changed)} converted," in last
    check(f"SIGINT ({form}): exit 130 ({p.returncode}), {len(done)} files reported, exactly those written changed",
          p.returncode == 130 and 0 < len(changed) < 1000 and (written == changed if form == "--json" else summary))

# A record that cannot be written: no file is written, and the run says why.
reset()
full = subprocess.run([cli, "convert", "-r", "--to", "DivX 5", "--record", "/dev/full", tree], env=env,
                      capture_output=True)
reason = f"tovacrex-cli: /dev/full: cannot write the record: {os.strerror(errno.ENOSPC)}; no further file is written"
check(f"--record /dev/full: exit 1 ({full.returncode}), every file unchanged, the reason given",
      full.returncode == 1 and snapshot() == original and reason in full.stderr.decode().splitlines())
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
