#!/usr/bin/python3
# The real tovacrex-cli over Matroska files that mkvmerge and ffmpeg make here: every conversion and back (the first
# by undo), judged by ffprobe, mkvinfo, ffmpeg's decoder and an EBML walk of our own (the code, every CRC-32 by zlib);
# Tracks found through the SeekHead; runs killed at random moments (TOVACREX_SEED, 1 by default); damage.
#   matroska.py TOVACREX_CLI
import json, os, random, re, shutil, subprocess, sys, tempfile, time, zlib
from collections import Counter
from pathlib import Path

CLI = os.path.abspath(sys.argv[1])
ENCODERS = {"mpeg4": "XVID DIVX DX50 3IV2", "msmpeg4": "MP43 DIV3 AP41", "msmpeg4v2": "MP42 DIV2 AP42 MPG4 DIV1"}
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
run = lambda *args, env=None: subprocess.run(args, capture_output=True, env=env)
state = lambda name: dict(os.environ, XDG_STATE_HOME=os.path.abspath(name))

def expect(ok, what):
    if not ok:
        sys.exit(f"FAIL: {what}")

def tool(*args, env=None):
    p = run(*args, env=env)
    expect(p.returncode == 0, f"{' '.join(args)} exits 0 ({p.returncode}): {p.stderr.decode()[-300:]}")
    return p.stdout.decode()

def one(*args, rc=0, **want):  # the one JSON object, its members named holding these values, of these JSON types
    p = run(CLI, *args)
    out = json.loads(p.stdout)
    expect(isinstance(out, list) and len(out) == 1 and p.returncode == rc, f"{args}: one JSON object, exit {rc}")
    expect([(out[0][k], type(out[0][k])) for k in want] == [(v, type(v)) for v in want.values()], f"{args}: {out}")
    return out[0]

def code(text):  # the four bytes a JSON code stands for (\xNN for the bytes that are not printable)
    return bytes(int(h, 16) if h else ord(c) for h, c in re.findall(r"\\x([0-9A-F]{2})|(.)", text, re.S))

# EBML, written here again so that the product's reader is not its own judge.
def vint(b, pos, marker):
    length = 9 - b[pos].bit_length()
    expect(1 <= length <= 8 and pos + length <= len(b), f"EBML number at {pos}")
    value = int.from_bytes(b[pos:pos + length], "big")
    return (value if marker else value & ((1 << 7 * length) - 1)), length

def elements(b, start=0, end=None, depth=0):  # (id, start, data, end, depth), each master followed by its children
    pos, end = start, len(b) if end is None else end
    while pos < end:
        eid, n = vint(b, pos, True)
        size, m = vint(b, pos + n, False)
        data = pos + n + m
        stop = end if size == (1 << 7 * m) - 1 else data + size
        expect(stop <= end, f"element {eid:X} at {pos} fits in its parent")
        yield eid, pos, data, stop, depth
        yield from elements(b, data, stop, depth + 1) if eid in MASTERS else ()
        pos = stop

def crcs_hold(b, what):  # (offset of the value, master's data, master's end) of every CRC-32, each checked
    found = [(d + 2, d, e) for i, _, d, e, _ in elements(b) if i in MASTERS and b[d:min(e, d + 2)] == b"\xbf\x84"]
    for off, _, end in found:
        stored, computed = b[off:off + 4], zlib.crc32(b[off + 4:end]).to_bytes(4, "little")
        expect(stored == computed, f"{what}: the CRC-32 at {off} holds ({stored.hex()}, {computed.hex()})")
    counts["CRC-32s verified by our own walk"] += len(found)
    return found

def resized(b, eid, out, delta):  # out, with the size of b's element eid written in 8 bytes, grown by delta
    _, start, data, end, _ = top(b, eid)
    at = start + len(f"{eid:x}") // 2
    return bytes(out[:at] + ((1 << 56) | (end - data + delta)).to_bytes(8, "big") + out[data:]), 8 - (data - at)

def move_tracks(b):  # Tracks after the clusters: a Void where it was, the SeekHead pointing at its new place
    _, seg, seg_data, seg_end, _ = top(b, SEGMENT)
    _, start, data, end, _ = top(b, TRACKS)
    void = b"\xec" + ((1 << 56) | (end - start - 9)).to_bytes(8, "big") + bytes(end - start - 9)
    out = bytearray(b[:start] + void + b[end:seg_end] + b[start:end] + b[seg_end:])
    fields = [(d, e) for i, _, d, e, _ in elements(out) if i in (SEEKID, SEEKPOS)]
    for (d, e), (pd, pe) in zip(fields[::2], fields[1::2]):
        if out[d:e] == TRACKS.to_bytes(4, "big"):
            out[pd:pe] = (seg_end - seg_data).to_bytes(pe - pd, "big")  # as wide as it was
            counts["SeekPositions moved"] += 1
    return resized(b, SEGMENT, out, end - start)[0]

def readers_see(path, want):
    tag = tool("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
               "stream=codec_tag_string", "-of", "csv=p=0", path).strip()
    seen = re.findall(r'FourCC: 0x[0-9a-fA-F]{8} "(.{4})"', tool("mkvinfo", "--all", path))  # --all: a moved Tracks
    expect(tag == want.decode() and seen == [want.decode()], f"ffprobe, mkvinfo read {want} in {path} ({tag}, {seen})")

def exercise(path, have):  # info, then every target offered and back: the first recorded and undone
    original, name = read(path), NAME[have]
    offered = [t for t in CODECS[name]["targets"] if t != "DivX V3 Fast"]
    info = one("info", "--json", path, ok=True, status=0, error=None, container="matroska", track=1, handler=None,
               handler_offset=None, codec=name, targets=offered)
    at = info["compression_offset"]
    expect(code(info["compression"]) == have and original[at:at + 4] == have, f"{path}: {have} at {at}")
    for target in offered:
        new_code, what, record = code(CODECS[target]["compression"]), f"{path} to {target}", f"{path}-{target}.rec"
        o = one("convert", "--json", *(["--record", record] if target == offered[0] else ["--no-record"]), "--to",
                target, path, ok=True, error=None, written=True, action="converted", target=target, **{"from": name})
        now = read(path)
        # The code, then each CRC-32 of a master around it, innermost first: ffmpeg's files have one in Tracks.
        around = sorted((e - d, off) for off, d, e in crcs_hold(now, what) if d <= at < e)
        want = [(at, have, new_code)] + [(off, original[off:off + 4], now[off:off + 4]) for _, off in around]
        got = [(w["offset"], code(w["old"]), code(w["new"])) for w in o["writes"]]
        diff = {i for i in range(len(now)) if now[i] != original[i]}
        expect(got == want and bool(around) == path.startswith("ff-") and now[at:at + 4] == new_code
               and diff <= {off + k for off, _, _ in want for k in range(4)}, f"{what}: writes {got}, want {want}")
        readers_see(path, new_code)
        p = run("ffmpeg", "-v", "error", *["-c:v", "msmpeg4v2"] * (new_code in FORCED), "-i", path, "-f", "null", "-")
        expect(p.returncode == 0 and p.stderr == b"", f"{what}: ffmpeg decodes it ({p.stderr[-300:]})")
        if target == offered[0]:
            tool(CLI, "undo", record)
        else:
            one("convert", "--no-record", "--json", "--to", name, path, written=True)
        expect(read(path) == original, f"{what} and back: every byte")
        counts["conversions and back, each decoded"] += 1
    if CODECS[name]["group"] == "V3 group":
        o = one("convert", "--no-record", "--json", "--to", "DivX V3 Fast", path, rc=1, written=False)
        expect(isinstance(o["error"], str) and read(path) == original, f"{path}: DivX V3 Fast refused ({o})")

expect(all(map(shutil.which, ("ffmpeg", "ffprobe", "mkvmerge", "mkvinfo"))), "ffmpeg, mkvtoolnix installed")
CODECS = {c["name"]: c for c in json.loads(tool(CLI, "codecs", "--json"))}
# Each code's codec; DIV3 names DivX V3 Low, listed before DivX V3 Fast (which writes it too).
NAME = {code(c["compression"]): c["name"] for c in reversed(CODECS.values())}
work = tempfile.TemporaryDirectory()
os.chdir(work.name)
started = time.monotonic()

# 1. The corpus: an AVI per code, mkvmerge's Matroska of each, and ffmpeg's of the V1 and V2 ones.
made = []
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
            made += [(f"ff-{tag}.mkv", tag.encode())] * vfw
corpus = {name: read(name) for name, _ in made}
expect(sum(name.startswith("ff-") for name, _ in made) >= 4, f"ffmpeg's VfW tracks: {made}")

# 2. Every conversion of every file, and back; then of one whose Tracks, after the clusters, only the SeekHead finds.
for name, have in made:
    exercise(name, have)
write("moved.mkv", moved := move_tracks(corpus["mm-XVID.mkv"]))
order = [i for i, _, _, _, depth in elements(moved) if depth == 1]
expect(order.index(CLUSTER) < order.index(TRACKS) and counts["SeekPositions moved"] == 1, f"moved: {order}")
exercise("moved.mkv", b"XVID")

# 3. Runs over a mixed folder (.avi and .mkv), killed once the first file is written (up to 2 ms later), then undone.
os.mkdir("mixed")
for name in [name for name in os.listdir(".") if name.endswith(".avi")] + list(corpus):
    shutil.copy(name, os.path.join("mixed", name))
before = {name: read(os.path.join("mixed", name)) for name in os.listdir("mixed")}
rng = random.Random(int(os.environ.get("TOVACREX_SEED", "1")))
for round in range(10):
    proc = subprocess.Popen([CLI, "convert", "-r", "--any-case", "--json", "--to", TARGETS[round % 5], "mixed"],
                            env=state(f"state{round}"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while proc.poll() is None and not changed():
        time.sleep(0.0001)
    time.sleep(rng.uniform(0, 0.002))
    proc.kill(), proc.wait()
    counts["killed runs undone" + (", mid-run" if proc.returncode == -9 else ", finished")] += 1
    run(CLI, "undo", "--last", env=state(f"state{round}"))  # a run killed before its first entry keeps none
    expect(changed() == 0, f"round {round}, to {TARGETS[round % 5]}: every byte back")

# 4. Damaged files are not written, mkvmerge's and ffmpeg's.
for name, target in [("mm-XVID.mkv", "DivX 5"), ("ff-MP42.mkv", "DivX V2")]:
    b, at = read(name), one("info", "--json", name)["compression_offset"]
    longer, grown = resized(b, TRACKS, b, 1)
    variants = {"cut in the header": b[:at + 8], "Tracks 1 byte too long": resized(b, SEGMENT, longer, grown)[0]}
    if name.startswith("ff-"):  # a bit of the bitmap's width, under the CRC-32 of Tracks; a Segment's CRC-32 that holds
        variants["a byte changed under a CRC-32"] = b[:at - 12] + bytes([b[at - 12] ^ 1]) + b[at - 11:]
        d, e = top(b, SEGMENT)[2:4]
        crc = b"\xbf\x84" + zlib.crc32(b[d:e]).to_bytes(4, "little")
        variants["a CRC-32 over the Segment"] = resized(b, SEGMENT, b[:d] + crc + b[d:], 6)[0]
    for what, data in variants.items():
        write("damaged.mkv", data)
        p = run(CLI, "convert", "--no-record", "--json", "--to", target, "damaged.mkv")
        o = json.loads(p.stdout)[0]
        expect(o["written"] is False and (p.returncode == 1 or o["compression"] is None)
               and read("damaged.mkv") == data, f"{name}, {what}: not converted, unchanged ({p.returncode}, {o})")
        counts["damaged files left alone"] += 1

print(f"matroska.py: passed in {time.monotonic() - started:.1f} s")
for what, n in counts.items():
    print(f"  {n:4} {what}")
