#!/usr/bin/python3
# The real tovacrex-cli over Matroska files that mkvmerge and ffmpeg make here: every conversion and back,
# judged by ffprobe, mkvinfo, ffmpeg's decoder and an EBML walk of our own (the code, every CRC-32); Tracks
# found through the SeekHead; undo; runs killed at random moments (TOVACREX_SEED, 1 by default); damage.
#   matroska.py TOVACREX_CLI
import json, os, random, re, shutil, subprocess, sys, tempfile, time, zlib
from collections import Counter
from pathlib import Path

CLI = os.path.abspath(sys.argv[1])
ENCODERS = {"mpeg4": "XVID DIVX DX50 3IV2", "msmpeg4": "MP43 DIV3 AP41",
            "msmpeg4v2": "MP42 DIV2 AP42 MPG4 DIV1"}
V1 = {b"MPG4", b"DIV1"}  # ffmpeg has no V1 encoder: these files hold V2 data
FORCED = V1 | {b"AP42"}  # decoded with the V2 decoder named, as ffmpeg knows no decoder for AP42
SEGMENT, SEEKID, SEEKPOS, TRACKS, CLUSTER = 0x18538067, 0x53AB, 0x53AC, 0x1654AE6B, 0x1F43B675
MASTERS = {0x1A45DFA3, SEGMENT, 0x114D9B74, 0x4DBB, 0x1549A966, TRACKS, 0xAE, 0xE0, 0xE1, CLUSTER, 0xA0,
           0x1C53BB6B, 0xBB, 0xB7, 0x1254C367, 0x7373, 0x63C0, 0x67C8, 0x1043A770, 0x45B9, 0x1941A469}
TARGETS = ["DivX 5", "DivX V2", "DivX V3 Low", "Microsoft MPEG4 V1", "3ivx"]  # for the mixed folder
counts = Counter()
read = lambda path: Path(path).read_bytes()
write = lambda path, data: Path(path).write_bytes(data)
top = lambda b, eid: next(e for e in elements(b) if e[0] == eid and e[4] == (eid != SEGMENT))
changed = lambda: sum(read(os.path.join("mixed", name)) != data for name, data in before.items())

def expect(ok, what, counted=True):
    if not ok:
        sys.exit(f"FAIL: {what}")
    counts["checks"] += counted

def run(*args, env=None):
    return subprocess.run(args, capture_output=True, env=env)

def tool(*args, env=None):
    p = run(*args, env=env)
    expect(p.returncode == 0, f"{' '.join(args)} exits 0 ({p.returncode}): {p.stderr.decode()[-300:]}")
    return p.stdout.decode()

def one(*args):
    p = run(CLI, *args)
    out = json.loads(p.stdout)
    expect(isinstance(out, list) and len(out) == 1, f"{args}: one JSON object")
    return p.returncode, out[0]

def code(text):
    """The four bytes a JSON code stands for (\\xNN for the bytes that are not printable)."""
    return bytes(int(h, 16) if h else ord(c) for h, c in re.findall(r"\\x([0-9A-F]{2})|(.)", text, re.S))

# EBML, written here again so that the product's reader is not its own judge.
def vint(b, pos, marker):
    length = 9 - b[pos].bit_length()
    expect(1 <= length <= 8 and pos + length <= len(b), f"EBML number at {pos}", False)
    value = int.from_bytes(b[pos:pos + length], "big")
    return (value if marker else value & ((1 << 7 * length) - 1)), length

def size_field(value, length):
    expect(value < (1 << 7 * length) - 1, f"{value} fits in a {length}-byte size", False)
    return ((1 << 7 * length) | value).to_bytes(length, "big")

def elements(b, start=0, end=None, depth=0):
    """(id, start, data, end, depth) of each element, each master followed by its children."""
    pos, end = start, len(b) if end is None else end
    while pos < end:
        eid, n = vint(b, pos, True)
        size, m = vint(b, pos + n, False)
        data = pos + n + m
        stop = end if size == (1 << 7 * m) - 1 else data + size
        expect(stop <= end, f"element {eid:X} at {pos} fits in its parent", False)
        yield eid, pos, data, stop, depth
        if eid in MASTERS:
            yield from elements(b, data, stop, depth + 1)
        pos = stop

def crcs_hold(b, what):
    """(offset of the value, master's data, master's end) of every CRC-32, each checked."""
    found = [(d + 2, d, e) for i, _, d, e, _ in elements(b)
             if i in MASTERS and d + 6 <= e and b[d:d + 2] == b"\xbf\x84"]
    for off, _, end in found:
        stored, computed = b[off:off + 4], zlib.crc32(b[off + 4:end]).to_bytes(4, "little")
        expect(stored == computed, f"{what}: the CRC-32 at {off} holds ({stored.hex()}, {computed.hex()})")
    counts["CRC-32s verified by our own walk"] += len(found)
    return found

def grow_segment(b, out, delta):
    _, seg, data, end, _ = top(b, SEGMENT)
    n = vint(b, seg + 4, False)[1]
    out[seg + 4:seg + 4 + n] = size_field(end - data + delta, n)
    return bytes(out)

def move_tracks(b):
    """Tracks after the clusters: a Void where it was, the SeekHead pointing at its new place."""
    _, seg, seg_data, seg_end, _ = top(b, SEGMENT)
    _, start, data, end, _ = top(b, TRACKS)
    # The Void's ID is 3 bytes shorter than Tracks': its size field may need one more byte.
    m = next(m for m in range(1, 9) if end - start - 1 - m < (1 << 7 * m) - 1)
    void = b"\xec" + size_field(end - start - 1 - m, m) + bytes(end - start - 1 - m)
    out = bytearray(b[:start] + void + b[end:seg_end] + b[start:end] + b[seg_end:])
    fields = [(d, e) for i, _, d, e, _ in elements(out) if i in (SEEKID, SEEKPOS)]
    for (d, e), (pd, pe) in zip(fields[::2], fields[1::2]):
        if out[d:e] == TRACKS.to_bytes(4, "big"):
            out[pd:pe] = (seg_end - seg_data).to_bytes(pe - pd, "big")  # as wide as it was
            counts["SeekPositions moved"] += 1
    return grow_segment(b, out, end - start), seg_end - start

def longer_tracks(b):
    """Tracks 1 byte longer than its children (its size field 1 byte wider where the size needs it)."""
    _, start, data, end, _ = top(b, TRACKS)
    m = data - start - 4
    wider = m + (end - data + 1 >= (1 << 7 * m) - 1)
    return grow_segment(b, bytearray(b[:start + 4] + size_field(end - data + 1, wider) + b[data:]), wider - m)

def readers_see(path, want):
    tag = tool("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
               "stream=codec_tag_string", "-of", "csv=p=0", path).strip()
    expect(tag == want.decode(), f"ffprobe reads {want} in {path} ({tag})")
    # --all: on past the first cluster, where a moved Tracks is
    seen = re.findall(r'FourCC: 0x[0-9a-fA-F]{8} "(.{4})"', tool("mkvinfo", "--all", path))
    expect(seen == [want.decode()], f"mkvinfo reads {want} in {path} ({seen})")

def exercise(path, have):
    """info, then every target offered and back, each checked by ffprobe, mkvinfo, ffmpeg and our walk."""
    original, name = read(path), NAME[have]
    counts["files, each to every target offered and back"] += 1
    rc, info = one("info", "--json", path)
    expect(rc == 0 and info["ok"] is True and info["status"] == 0 and info["error"] is None, f"info {path}")
    expect(info["container"] == "matroska" and info["track"] == 1 and info["handler"] is None
           and info["handler_offset"] is None, f"{path}: matroska, track 1, no handler ({info})")
    expect(info["codec"] == name and code(info["compression"]) == have, f"{path}: {name} ({info['codec']})")
    at = info["compression_offset"]
    expect(type(at) is int and original[at:at + 4] == have, f"{path}: {have} at {at}")
    offered = [t for t in CODECS[name]["targets"] if t != "DivX V3 Fast"]
    expect(info["targets"] == offered, f"{path}: targets {info['targets']}, want {offered}")
    for target in info["targets"]:
        new_code, what = code(CODECS[target]["compression"]), f"{path} to {target}"
        rc, o = one("convert", "--no-record", "--json", "--to", target, path)
        now = read(path)
        expect(rc == 0 and o["ok"] is True and o["error"] is None and o["written"] is True, f"{what}: {o}")
        expect(o["action"] == "converted" and o["target"] == target and o["from"] == name, f"{what}: {o}")
        # The code, then each CRC-32 of a master around it, innermost first.
        around = sorted((e - d, off) for off, d, e in crcs_hold(now, what) if d <= at < e)
        want = [(at, have, new_code)] + [(off, original[off:off + 4], now[off:off + 4]) for _, off in around]
        got = [(w["offset"], code(w["old"]), code(w["new"])) for w in o["writes"]]
        expect(got == want, f"{what}: writes {got}, want {want}")
        diff = {i for i in range(len(now)) if now[i] != original[i]}
        expect(now[at:at + 4] == new_code and len(now) == len(original)
               and diff <= {off + k for off, _, _ in want for k in range(4)}, f"{what}: the bytes changed")
        counts["CRC-32 writes"] += len(around)
        readers_see(path, new_code)
        forced = ["-c:v", "msmpeg4v2"] if new_code in FORCED else []
        p = run("ffmpeg", "-v", "error", *forced, "-i", path, "-f", "null", "-")
        expect(p.returncode == 0 and p.stderr == b"", f"{what}: ffmpeg decodes it ({p.stderr[-300:]})")
        counts["decodes, msmpeg4v2 named (AP42: ffmpeg has no decoder; MPG4, DIV1: V2 data)" if forced
               else "decodes by the code's own decoder"] += 1
        rc, o = one("convert", "--no-record", "--json", "--to", name, path)
        expect(rc == 0 and o["written"] is True and read(path) == original, f"{what} and back: every byte")
        counts["conversions and back"] += 1
    if CODECS[name]["group"] == "V3 group":
        rc, o = one("convert", "--no-record", "--json", "--to", "DivX V3 Fast", path)
        expect(rc == 1 and isinstance(o["error"], str) and o["written"] is False and read(path) == original,
               f"{path}: DivX V3 Fast refused, nothing written ({rc}, {o})")
        counts["DivX V3 Fast refused"] += 1

def mixed_run(target, state):
    return subprocess.Popen([CLI, "convert", "-r", "--any-case", "--json", "--to", target, "mixed"],
                            env=dict(os.environ, XDG_STATE_HOME=os.path.abspath(state)),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

def undo_last(state, what):
    history = os.path.join(state, "tovacrex", "history")
    if os.path.isdir(history) and os.listdir(history):  # a run killed before its first entry keeps none
        tool(CLI, "undo", "--last", env=dict(os.environ, XDG_STATE_HOME=os.path.abspath(state)))
    expect(changed() == 0, f"{what}: every byte back")

expect(all(map(shutil.which, ("ffmpeg", "ffprobe", "mkvmerge", "mkvinfo"))), "ffmpeg, mkvtoolnix installed")
CODECS = {c["name"]: c for c in json.loads(tool(CLI, "codecs", "--json"))}
# Each code's codec; DIV3 names DivX V3 Low, listed before DivX V3 Fast (which writes it too).
NAME = {code(c["compression"]): c["name"] for c in reversed(CODECS.values())}
work = tempfile.TemporaryDirectory()
os.chdir(work.name)
started = time.monotonic()

# 1. The corpus: an AVI per code, mkvmerge's Matroska of each, and ffmpeg's of the V1 and V2 ones.
made, plain = [], []
for encoder, codes in ENCODERS.items():
    for tag in codes.split():
        # ffmpeg writes no V1 tag on V2 data: those files get theirs (handler, compression) afterwards.
        made_as = "MP42" if tag.encode() in V1 else tag
        tool("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-t", "0.6",
             "-c:v", encoder, "-vtag", made_as, "-strict", "unofficial", f"{tag}.avi")
        avi = read(f"{tag}.avi")
        header = avi[:avi.index(b"movi")]
        expect(header.count(made_as.encode()) == 2, f"{tag}.avi: the code in its handler and compression")
        write(f"{tag}.avi", header.replace(made_as.encode(), tag.encode()) + avi[len(header):])
        tool("mkvmerge", "-q", "-o", f"mm-{tag}.mkv", f"{tag}.avi")
        made.append((f"mm-{tag}.mkv", tag.encode()))
        if encoder == "msmpeg4v2":
            tool("ffmpeg", "-v", "error", "-i", f"{tag}.avi", "-c", "copy", f"ff-{tag}.mkv")
            # ffmpeg takes DIV1 for MPEG-4 ASP, and writes such a track as V_MPEG4/ISO/ASP: no code.
            vfw = re.findall(r"Codec ID: (\S+)", tool("mkvinfo", f"ff-{tag}.mkv")) == ["V_MS/VFW/FOURCC"]
            (made if vfw else plain).append((f"ff-{tag}.mkv", tag.encode()))
corpus = {name: read(name) for name, _ in made + plain}
expect(sum(name.startswith("ff-") for name, _ in made) >= 4, f"ffmpeg's VfW tracks: {made}")
for name, _ in plain:
    rc, o = one("convert", "--no-record", "--json", "--to", "DivX 5", name)
    expect(rc == 1 and o["compression"] is None and o["compression_offset"] is None and o["codec_id"] == 14
           and o["targets"] == [] and o["written"] is False and read(name) == corpus[name],
           f"{name}, not a VfW track: no code, nothing written ({o})")
    counts["tracks without a code left alone"] += 1
for name, have in made:
    tracks = top(corpus[name], TRACKS)
    expect(any(d == tracks[2] for _, d, _ in crcs_hold(corpus[name], name)) == name.startswith("ff-"),
           f"{name}: a CRC-32 in Tracks exactly when ffmpeg made it")
    readers_see(name, have)

# 2. Every conversion of every file, and back.
for name, have in made:
    exercise(name, have)

# 3. Tracks after the clusters, reached only through the SeekHead.
moved, shift = move_tracks(corpus["mm-XVID.mkv"])
write("moved.mkv", moved)
order = [i for i, _, _, _, depth in elements(moved) if depth == 1]
expect(order.index(CLUSTER) < order.index(TRACKS) and counts["SeekPositions moved"] == 1, f"moved: {order}")
readers_see("moved.mkv", b"XVID")
expect(one("info", "--json", "moved.mkv")[1]["compression_offset"] ==
       one("info", "--json", "mm-XVID.mkv")[1]["compression_offset"] + shift, "moved: the code found there")
exercise("moved.mkv", b"XVID")

# 4. A recorded conversion of a file with CRC-32s, undone.
for name, have in made:
    if name.startswith("ff-"):
        target = CODECS[NAME[have]]["targets"][0]
        rc, o = one("convert", "--json", "--record", f"{name}.rec", "--to", target, name)
        expect(rc == 0 and o["written"] is True and len(o["writes"]) == 2, f"{name} to {target}: {o}")
        crcs_hold(read(name), name)
        tool(CLI, "undo", f"{name}.rec")
        expect(read(name) == corpus[name], f"{name}: undo puts back every byte")
        counts["undone with CRC-32s"] += 1

# 5. Runs over a mixed folder, whole and then killed at random moments, each undone with undo --last.
os.mkdir("mixed")
for name in sorted(os.listdir(".")):
    for copy in ([name, "copy-" + name] if name.endswith(".avi") else [name] if name in corpus else []):
        shutil.copy(name, os.path.join("mixed", copy))
before = {name: read(os.path.join("mixed", name)) for name in os.listdir("mixed")}
expect(len(before) == 41, f"41 files in the mixed folder ({len(before)})")
whole = {}  # how long each target's run lasts, and how many files it writes (the other groups' refused)
for target in TARGETS:
    start, p = time.monotonic(), mixed_run(target, f"whole-{target}")
    written = sum(o["written"] for o in json.loads(p.communicate()[0]))
    whole[target] = time.monotonic() - start, written
    expect(p.returncode == 1 and written >= 3, f"whole run to {target}: exit 1, files written ({written})")
    undo_last(f"whole-{target}", f"whole run to {target}")
    counts["files written by whole mixed runs, undone"] += written
rng = random.Random(int(os.environ.get("TOVACREX_SEED", "1")))
for round in range(10):
    for name, data in before.items():
        write(os.path.join("mixed", name), data)
    target = TARGETS[round % len(TARGETS)]
    proc, start = mixed_run(target, f"state{round}"), time.monotonic()
    # The writes come in a burst of a few ms: every other round waits for the first file written.
    while round % 2 and proc.poll() is None and not changed():
        time.sleep(0.0001)
    time.sleep(rng.uniform(0, 0.0005) if round % 2 else rng.uniform(0.4, 1) * whole[target][0])
    moment = time.monotonic() - start
    proc.kill(), proc.communicate()
    n = changed()
    undo_last(f"state{round}", f"round {round}: {target}, killed at {moment * 1000:.0f} ms, {n} changed")
    counts["killed runs undone"] += 1
    counts["  finished before the kill" if proc.returncode != -9 else "  killed before writing" if not n
           else "  killed mid-run" if n < whole[target][1] else "  killed after its last write"] += 1

# 6. Damaged files are not written: ffmpeg's without CRC-32s, mkvmerge's and ffmpeg's.
tool("ffmpeg", "-v", "error", "-i", "MP42.avi", "-c", "copy", "-write_crc32", "0", "nocrc-MP42.mkv")
for name, target in [("nocrc-MP42.mkv", "DivX V2"), ("mm-XVID.mkv", "DivX 5"), ("ff-MP42.mkv", "DivX V2")]:
    b, at = read(name), one("info", "--json", name)[1]["compression_offset"]
    variants = {"cut in the header": b[:at + 8], "Tracks 1 byte too long": longer_tracks(b)}
    if name.startswith("ff-"):  # a bit of the bitmap's width, under the CRC-32 of Tracks
        variants["a byte changed under a CRC-32"] = b[:at - 12] + bytes([b[at - 12] ^ 1]) + b[at - 11:]
    for what, data in variants.items():
        write("damaged.mkv", data)
        rc, o = one("convert", "--no-record", "--json", "--to", target, "damaged.mkv")
        expect(o["written"] is False and (rc == 1 or o["compression"] is None)
               and read("damaged.mkv") == data, f"{name}, {what}: not converted, unchanged ({rc}, {o})")
        counts["damaged files left alone"] += 1

print(f"matroska.py: all {counts.pop('checks')} checks passed in {time.monotonic() - started:.1f} s")
for what, n in counts.items():
    print(f"  {n:4} {what}")
