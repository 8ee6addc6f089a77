#!/usr/bin/python3
# The real tovacrex-cli over Matroska files that mkvmerge and ffmpeg make here, every conversion and back judged by
# ffprobe, mkvinfo, ffmpeg's decoder and zlib; then built files: layouts, limits, damage.   matroska.py TOVACREX_CLI
import json, os, re, subprocess, sys, tempfile, zlib
from pathlib import Path

CLI = os.path.abspath(sys.argv[1])
ENCODERS = {"mpeg4": "XVID DIVX DX50 3IV2", "msmpeg4": "MP43 DIV3 AP41", "msmpeg4v2": "MP42 DIV2 AP42 MPG4 DIV1"}
# Decoded with the V2 decoder named: V2 data under a V1 code (ffmpeg has no V1 encoder), and AP42, which it cannot.
FORCED = {b"MPG4", b"DIV1", b"AP42"}
read = lambda path: Path(path).read_bytes()
run = lambda *args: subprocess.run(args, capture_output=True, stdin=subprocess.DEVNULL)  # ffmpeg reads commands there

def expect(ok, what):
    if not ok:
        sys.exit(f"FAIL: {what}")

def tool(*args):
    p = run(*args)
    expect(p.returncode == 0, f"{' '.join(args)} exits 0 ({p.returncode}): {p.stderr.decode()[-300:]}")
    return p.stdout.decode()

def one(*args, rc=0, **want):  # the one JSON object, its members named holding these values, of these JSON types
    p = run(CLI, *args)
    out = json.loads(p.stdout)
    expect(isinstance(out, list) and len(out) == 1 and p.returncode == rc, f"{args}: one object, exit {p.returncode}")
    expect([(out[0][k], type(out[0][k])) for k in want] == [(v, type(v)) for v in want.values()], f"{args}: {out}")
    return out[0]

def code(text):  # the four bytes a JSON code stands for (\xNN for the bytes that are not printable)
    return bytes(int(h, 16) if h else ord(c) for h, c in re.findall(r"\\x([0-9A-F]{2})|(.)", text, re.S))

def crcs_hold(path, what):  # (offset of the value, master's data, master's end) of every CRC-32, each checked by zlib
    b, listing = read(path), tool("mkvinfo", "--all", "-P", "-z", path)  # the masters as mkvinfo finds them
    # A value's name ends in ':', an open master's too.
    masters = re.findall(r"\+ [A-Za-z ]+?(?:: size \d+)? at (\d+) size (\d+) data size (\d+)$", listing, re.M)
    spans = [(int(at) + int(n) - int(data), int(at) + int(n)) for at, n, data in masters]
    found = [(d + 2, d, e) for d, e in spans if b[d:d + 2] == b"\xbf\x84"]
    for off, _, end in found:
        stored, computed = b[off:off + 4], zlib.crc32(b[off + 4:end]).to_bytes(4, "little")
        expect(stored == computed, f"{what}: the CRC-32 at {off} holds ({stored.hex()}, {computed.hex()})")
    return found

def exercise(path, have):  # info, then every target offered and back: the first by undo of its record
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
        around = sorted((e - d, off) for off, d, e in crcs_hold(path, what) if d <= at < e)
        want = [(at, have, new_code)] + [(off, original[off:off + 4], now[off:off + 4]) for _, off in around]
        got = [(w["offset"], code(w["old"]), code(w["new"])) for w in o["writes"]]
        diff = {i for i in range(len(now)) if now[i] != original[i]}
        expect(got == want and bool(around) == path.startswith("ff-") and now[at:at + 4] == new_code
               and diff <= {off + k for off, _, _ in want for k in range(4)}, f"{what}: writes {got}, want {want}")
        tag = tool("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=codec_tag_string",
                   "-of", "csv=p=0", path).strip()
        seen = re.findall(r'FourCC: 0x[0-9a-fA-F]{8} "(.{4})"', tool("mkvinfo", path))
        p = run("ffmpeg", "-v", "error", *["-c:v", "msmpeg4v2"] * (new_code in FORCED), "-i", path, "-f", "null", "-")
        expect(tag == new_code.decode() and seen == [tag] and p.returncode == 0 and p.stderr == b"",
               f"{what}: ffprobe and mkvinfo read {new_code} ({tag}, {seen}), ffmpeg decodes it ({p.stderr[-300:]})")
        if target == offered[0]:
            tool(CLI, "undo", record)
        else:
            one("convert", "--no-record", "--json", "--to", name, path, written=True)
        expect(read(path) == original, f"{what} and back: every byte")

CODECS = {c["name"]: c for c in json.loads(tool(CLI, "codecs", "--json"))}
NAME = {code(c["compression"]): c["name"] for c in reversed(CODECS.values())}  # DIV3: DivX V3 Low, the first
work = tempfile.TemporaryDirectory()
os.chdir(work.name)

# 1. The corpus: mkvmerge's Matroska file of an AVI per encoder, given each of its codes, and ffmpeg's of the V1 and V2
# ones, with CRC-32s (ffmpeg takes DIV1 for MPEG-4 ASP and writes such a track as V_MPEG4/ISO/ASP: no code).
made = []
for encoder, codes in ENCODERS.items():
    tool("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-t", "0.6", "-c:v", encoder,
         f"{encoder}.avi")
    for tag in codes.split():
        tool("mkvmerge", "-q", "--fourcc", f"0:{tag}", "-o", f"mm-{tag}.mkv", f"{encoder}.avi")
        made.append((f"mm-{tag}.mkv", tag.encode()))
        if encoder == "msmpeg4v2" and tag != "DIV1":
            tool("ffmpeg", "-v", "error", "-i", f"mm-{tag}.mkv", "-c", "copy", f"ff-{tag}.mkv")
            made.append((f"ff-{tag}.mkv", tag.encode()))

# 2. Every conversion of every file, and back.
for name, have in made:
    exercise(name, have)

# 3. Built files, for layouts those tools do not write, and damage: each converted to DivX 5 where it may be (every
# CRC-32 then holds, and XviD gives back every byte), else left alone: refused (3), no code (0), webm not Matroska (4).
def el(eid, *parts, crc=False, size=None):  # an element of hex ID eid, its size in 8 bytes: the data's, -1 (open), size
    data = b"".join(parts)
    data = (b"\xbf\x84" + zlib.crc32(data).to_bytes(4, "little") if crc else b"") + data
    n = (1 << 56) - 1 if size == -1 else len(data) if size is None else size
    return bytes.fromhex(eid) + (1 << 56 | n).to_bytes(8, "big") + data

def mkv(*segment, doc=b"matroska", **options):  # the EBML header, and a Segment of these children
    return el("1A45DFA3", el("4282", doc)) + el("18538067", *segment, **options)

def video(*more, codec=b"V_MS/VFW/FOURCC", bih=40, crc=False):  # track 2, a bitmap header of bih bytes holding XVID
    header = (bytes(16) + b"XVID" + bytes(bih))[:bih]
    return el("AE", uint("D7", 2), uint("83", 1), el("86", codec), el("63A2", header), *more, crc=crc)

def late():  # Tracks after a cluster of open size, found through a second SeekHead that the first names
    kids = [seek(0, 0), el("1549A966"), el("1F43B675", size=-1), tracks, seek(0, 0)]
    at = lambda i: len(b"".join(kids[:i]))
    kids[4], kids[0] = seek(0x1654AE6B, at(3)), seek(0x114D9B74, at(4))
    return mkv(*kids)

uint = lambda eid, v: el(eid, v.to_bytes(8, "big"))
seek = lambda eid, at: el("114D9B74", el("4DBB", uint("53AB", eid), uint("53AC", at)))
plain = lambda *entries, **options: mkv(el("1654AE6B", *entries, **options))
tracks, audio = el("1654AE6B", video()), el("AE", uint("D7", 1), uint("83", 2), el("86", b"A_AC3"), crc=True)
rows = {"Tracks after the clusters": (late(), 0, True),
        "live: open sizes": (mkv(tracks, el("1F43B675", size=-1), size=-1), 0, True),
        "webm": (mkv(tracks, doc=b"webm"), 4, False),
        "Tracks of open size": (plain(video(), size=-1), 3, False),
        "Tracks 1 byte past the Segment": (plain(video(), size=len(video()) + 1), 3, False),
        "the last byte missing": (mkv(tracks, el("EC"))[:-1], 3, False),
        "a bitmap header of 39 bytes": (plain(video(bih=39)), 0, False),
        "CodecPrivate compressed": (plain(video(el("6D80", el("6240", uint("5032", 2))))), 0, False),
        "CodecPrivate twice": (plain(video(el("63A2", bytes(40)))), 3, False),
        "the first of two video tracks": (plain(video(codec=b"V_MPEG4/ISO/ASP"), video()), 0, False),
        "an ID of 5 bytes": (plain(bytes([8, 1, 1, 1, 1, 0x80]), video()), 0, False),
        "an ID of value 0": (plain(b"\x80\x80", video()), 0, False),
        "a size of 9 bytes": (plain(b"\x81" + bytes(9), video()), 0, False),
        "more elements than the limit": (mkv(*[el("EC")] * 100000, tracks), 0, False),
        "more reads than the limit": (mkv(*[el("EC", bytes(4096))] * 256, tracks), 0, False),
        "a CRC-32 of 3 bytes": (plain(el("BF", bytes(3)), video()), 3, False),
        "CRC-32s nested, not the audio track's": (plain(audio, el("BF", bytes(4)), video(crc=True), crc=True), 0, True),
        "a CRC-32 over more than one read": (plain(video(), el("EC", bytes(100000)), crc=True), 0, True),
        "a CRC-32 over more than 64 MiB": (plain(video(), el("EC", bytes(64 << 20)), crc=True), 3, False),
        "a CRC-32 that does not hold": (plain(video(), el("EC", b"\0"), crc=True)[:-1] + b"\1", 3, False),
        "a CRC-32 over the Segment": (mkv(tracks, crc=True), 3, False)}
for what, (data, status, writable) in rows.items():
    f = f"{what}.mkv"
    Path(f).write_bytes(data)
    one("convert", "--no-record", "--json", "--to", "DivX 5", f, rc=int(not writable), status=status,
        written=writable)
    if writable:
        if b"\xbf\x84" in data:  # mkvinfo cannot walk past a cluster of open size
            crcs_hold(f, what)
        one("convert", "--no-record", "--json", "--to", "XviD", f, written=True)
    expect(read(f) == data, f"{what}: left alone, or given back byte for byte")

print("matroska.py: passed")
