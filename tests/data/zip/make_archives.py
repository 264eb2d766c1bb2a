#!/usr/bin/env python3
"""Makes the archives under tests/data/zip/ and their manifest.

Run inside the build root, which has the tools:  scripts/root.sh run python3 tests/data/zip/make_archives.py
Only cases/:  python3 tests/data/zip/make_archives.py cases

tools/    archives written by Info-ZIP zip, bsdtar (libarchive), 7-Zip and Python's zipfile
hostile/  overlapping-entry zip bombs built by hand (after David Fifield's constructions)
cases/    archives described field by field in cases.json (its "description" says how)
manifest.json  for each archive what a note-backup reader must make of it: the file entries
               (name, size, SHA-256) in archive order, or the error key it must fail with.
"""
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import tempfile
import uuid
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FIXED_TIME = "202401020304.05"


def note(scene_id, name, html):
    doc = {"format": "OBS-Quillmar", "html": html, "sceneId": scene_id, "sceneName": name, "version": 1}
    return json.dumps(doc, ensure_ascii=False, separators=(",", ":"), sort_keys=True).encode()


def words(seed, count):
    vocab = ["intro", "camera", "guest", "sponsor", "break", "question", "chat", "scene", "cue", "music",
             "light", "outro", "welcome", "thanks", "poll", "raid", "clip", "replay", "score", "timer"]
    out, x = [], seed
    for _ in range(count):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(vocab[x % len(vocab)])
    return " ".join(out)


NOTES = {
    "a.json": note("{3f2b8a1e-6c1d-4e59-9a61-0d3c2f8b7e11}", "Intro",
                   "<p>Hello</p>"),
    "sub/b.json": note("{9c0e7d52-1b4a-4f83-8e2d-5a6b7c8d9e10}", "Main Camera",
                       "".join("<p>%s</p>" % words(i, 40) for i in range(20))),
    "Ünïcode 名前.json": note("{0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9}", "Ünïcode 名前",
                              "<p>%s ◆[cue] Grüße</p>" % words(99, 60)),
}


def entries_of(data):
    """File entries of an archive as Python's zipfile reads them (an independent reader)."""
    out = []
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for info in z.infolist():
            if info.filename.endswith("/"):
                continue
            body = z.read(info)
            name = info.filename
            if not info.flag_bits & 0x800:
                # zipfile reads names without the UTF-8 flag as code page 437; Info-ZIP stores the
                # raw UTF-8 bytes there (plus a Unicode path extra field), and raw UTF-8 is what a
                # note-backup reader takes them for.
                name = name.encode("cp437").decode("utf-8", "replace")
            out.append({"name": name, "size": len(body), "sha256": hashlib.sha256(body).hexdigest()})
    return out


def run(args, cwd, stdout=None):
    subprocess.run(args, cwd=cwd, check=True, stdout=stdout or subprocess.DEVNULL)


def tool_archives(work):
    src = os.path.join(work, "src")
    os.makedirs(os.path.join(src, "sub"))
    for name, body in NOTES.items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(body)
    big = note("{5d4c3b2a-1908-4776-8554-433221100fed}", "Big", "<p>%s</p>" % os.urandom(75000).hex())
    with open(os.path.join(src, "big.json"), "wb") as f:
        f.write(big)
    for root, dirs, files in os.walk(src):
        for n in dirs + files:
            run(["touch", "-t", FIXED_TIME, os.path.join(root, n)], src)
    run(["touch", "-t", FIXED_TIME, src], src)

    names = sorted(NOTES)
    out = {}

    def make(label, args, ok=True, stdout_file=None):
        path = os.path.join(work, label)
        if stdout_file:
            with open(path, "wb") as f:
                subprocess.run(args, cwd=src, check=True, stdout=f)
        else:
            run([a.replace("@OUT", path) for a in args], src)
        with open(path, "rb") as f:
            out[label] = (f.read(), ok)

    # Info-ZIP: levels 1, 6, 9 set different level hints in the flags; -r adds directory entries.
    make("infozip-1.zip", ["zip", "-q", "-1", "-r", "@OUT", "a.json", "sub", names[2]])
    make("infozip-6.zip", ["zip", "-q", "-X", "@OUT"] + names)
    make("infozip-9.zip", ["zip", "-q", "-9", "@OUT"] + names)
    make("infozip-stored.zip", ["zip", "-q", "-0", "@OUT"] + names)
    # Written to a pipe, zip cannot seek back and uses data descriptors.
    p = subprocess.run("zip -q -fz- - %s | cat" % " ".join("'%s'" % n for n in names),
                       shell=True, cwd=src, check=True, stdout=subprocess.PIPE)
    out["infozip-pipe.zip"] = (p.stdout, True)
    make("infozip-comment.zip", ["zip", "-q", "@OUT"] + names)
    subprocess.run(["zip", "-q", "-z", os.path.join(work, "infozip-comment.zip")], input=b"Show backup\nweek 3\n.\n",
                   check=True)
    with open(os.path.join(work, "infozip-comment.zip"), "rb") as f:
        out["infozip-comment.zip"] = (f.read(), True)
    make("bsdtar-deflate.zip", ["bsdtar", "--format", "zip", "-cf", "@OUT"] + names)
    make("bsdtar-stored.zip", ["bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf", "@OUT"] + names)
    make("7z-deflate.zip", ["7z", "a", "-tzip", "-bd", "@OUT", "a.json", "sub", names[2]])
    make("7z-stored.zip", ["7z", "a", "-tzip", "-mx0", "-bd", "@OUT"] + names)

    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for n in names:
            z.writestr(n, NOTES[n])
    out["python-deflate.zip"] = (buf.getvalue(), True)
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        for n in names:
            z.writestr(n, NOTES[n])
        z.comment = b"x" * 300
    out["python-stored-comment.zip"] = (buf.getvalue(), True)

    class Pipe(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.data += b
            return len(b)

    pipe = Pipe()
    with zipfile.ZipFile(pipe, "w", zipfile.ZIP_DEFLATED) as z:
        for n in names:
            with z.open(n, "w") as f:
                f.write(NOTES[n])
    out["python-pipe.zip"] = (bytes(pipe.data), True)
    # A ZIP64 extra in the local header only; the directory holds the plain sizes.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("a.json", "w", force_zip64=True) as f:
            f.write(NOTES["a.json"])
    out["python-zip64-local.zip"] = (buf.getvalue(), True)

    # Refused: ZIP64 records, encryption, other methods, split archives.
    make("infozip-zip64.zip", ["zip", "-q", "-fz", "@OUT"] + names, ok=False)
    make("infozip-encrypted.zip", ["zip", "-q", "-P", "secret", "@OUT"] + names, ok=False)
    make("7z-aes.zip", ["7z", "a", "-tzip", "-psecret", "-mem=AES256", "-bd", "@OUT"] + names, ok=False)
    make("7z-bzip2.zip", ["7z", "a", "-tzip", "-mm=BZip2", "-bd", "@OUT"] + names, ok=False)
    make("7z-lzma.zip", ["7z", "a", "-tzip", "-mm=LZMA", "-bd", "@OUT"] + names, ok=False)
    run(["zip", "-q", "-s", "64k", os.path.join(work, "split.zip"), "big.json"], src)
    with open(os.path.join(work, "split.zip"), "rb") as f:
        out["infozip-split-last-part.zip"] = (f.read(), False)
    # A name that does not end in .json; it is a valid archive otherwise.
    make("infozip-not-json.zip", ["zip", "-q", "@OUT", "a.json", "big.json"], ok=True)
    with open(os.path.join(src, "readme.txt"), "wb") as f:
        f.write(b"not a note\n")
    make("infozip-txt.zip", ["zip", "-q", "@OUT", "a.json", "readme.txt"], ok=False)
    del out["infozip-not-json.zip"]
    return out


# --- hand-built archives -------------------------------------------------------------------

def local_header(name, method, crc, csize, usize, extra=b"", flags=0x0800):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x21, crc, csize, usize,
                       len(name), len(extra)) + name + extra


def central_header(name, method, crc, csize, usize, offset, flags=0x0800):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0, 0x21, crc, csize, usize,
                       len(name), 0, 0, 0, 0, 0, offset) + name


def end_record(count, cd_size, cd_offset):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, cd_size, cd_offset, 0)


def raw_deflate(data, level=9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def inflate(data):
    d = zlib.decompressobj(-15)
    out = d.decompress(data)
    assert d.eof and not d.unused_data
    return out


KERNEL = raw_deflate(b"\0" * (4 << 20))   # 4 MiB of zeros in about 4 KiB


def bomb_full_overlap(count=64):
    """Every central header points at the same local header and data."""
    name = b"0.json"
    body = inflate(KERNEL)
    crc = zlib.crc32(body)
    data = local_header(name, 8, crc, len(KERNEL), len(body)) + KERNEL
    cd = b"".join(central_header(name, 8, crc, len(KERNEL), len(body), 0) for _ in range(count))
    return data + cd + end_record(count, len(cd), len(data))


def quote(block):
    """A non-final stored deflate block that emits `block` verbatim."""
    return struct.pack("<BHH", 0, len(block), len(block) ^ 0xFFFF) + block


def bomb_quoted_overlap(count=32):
    """Each entry's data quotes the next entry's local header and then runs into its data."""
    names = [b"%d.json" % i for i in range(count)]
    datas = [None] * count
    headers = [None] * count
    datas[-1] = KERNEL
    for i in range(count - 1, -1, -1):
        if i < count - 1:
            datas[i] = quote(headers[i + 1]) + datas[i + 1]
        body = inflate(datas[i])
        headers[i] = local_header(names[i], 8, zlib.crc32(body), len(datas[i]), len(body))
    out = headers[0] + datas[0]
    offsets, pos = [], 0
    for i in range(count):
        offsets.append(pos)
        pos += len(headers[i]) + 5   # header, then the next quote's 5-byte block header
    cd = b""
    for i in range(count):
        body = inflate(datas[i])
        cd += central_header(names[i], 8, zlib.crc32(body), len(datas[i]), len(body), offsets[i])
    return out + cd + end_record(count, len(cd), len(out))


def bomb_extra_quoted(count=16):
    """Local headers quote the ones after them in their extra fields and share one data."""
    names = [b"%d.json" % i for i in range(count)]
    body = inflate(KERNEL)
    crc = zlib.crc32(body)
    fixed = [local_header(names[i], 8, crc, len(KERNEL), len(body)) for i in range(count)]
    # Header i's extra field is made of the fixed parts of all headers after it, which follow it
    # directly, so every header's extra field ends where the shared data begins.
    out = b""
    for i in range(count):
        rest = sum(len(h) for h in fixed[i + 1:])
        out += local_header(names[i], 8, crc, len(KERNEL), len(body), b"\0" * rest)[:30 + len(names[i])]
    out += KERNEL
    offsets, pos = [], 0
    for i in range(count):
        offsets.append(pos)
        pos += len(fixed[i])
    cd = b"".join(central_header(names[i], 8, crc, len(KERNEL), len(body), offsets[i]) for i in range(count))
    return out + cd + end_record(count, len(cd), len(out))


# --- archives described by cases.json -------------------------------------------------------

NOTE_BODY = b'{"format":"OBS-Quillmar","html":"<p>Hi</p>"}'


def expand(value):
    """The "$repeat" shorthand of tests/data/blocks/README.md; a list of strings is joined."""
    if isinstance(value, dict) and "$repeat" in value:
        return value["$repeat"] * value["times"]
    if isinstance(value, list):
        return "".join(expand(v) for v in value)
    return value or ""


def changed(value, change):
    """A number sets the field; "+n", "-n" and "^n" change its true value."""
    if isinstance(change, int):
        return change
    n = int(change[1:], 0)
    return {"+": value + n, "-": value - n, "^": value ^ n}[change[0]]


def case_archive(c, base=0):
    """The bytes of one case, its offsets recorded as if base bytes preceded it, and the file
    entries (name, body) in archive order."""
    out, directory, files = b"", b"", []
    count = c.get("copies", 1)
    for i, e in enumerate(c["entries"] * count):
        name = e["name"].replace("#", str(i)).encode()
        body = expand(e["body"]).encode("latin-1") if "body" in e else NOTE_BODY
        data = body if e.get("stored") else raw_deflate(body, 6)
        f = {"flags": 0x0800, "method": 0 if e.get("stored") else 8, "crc": zlib.crc32(body),
             "compressedSize": len(data), "size": len(body)}
        for key in f:
            if key in e and e[key] != "ratio":
                f[key] = changed(f[key], e[key])
        if e.get("corrupt"):
            data = b"\xff" + data[1:]
        if e.get("size") == "ratio":
            f["size"] = len(data) * 1032 + 1
        local_name = expand(e["localName"]).encode() if "localName" in e else name
        offset = base + len(out) if "offset" not in e else e["offset"]
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, e.get("localFlags", f["flags"]),
                           e.get("localMethod", f["method"]), 0, 0x21, f["crc"], f["compressedSize"],
                           f["size"], len(local_name), 0) + local_name + data + expand(e.get("append")).encode()
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, f["flags"], f["method"], 0, 0x21,
                                 f["crc"], f["compressedSize"], f["size"], len(name), 0, 0, 0, 0, 0, offset) + name
        if not name.endswith(b"/"):
            files.append((name.decode(), body))
    directory += expand(c.get("directoryPadding")).encode("latin-1")
    n = len(c["entries"]) * count
    comment = expand(c.get("comment")).encode("latin-1")
    if c.get("headerInDirectory"):
        # The last entry's local header offset points into the directory itself.
        directory = directory[:-len(name) - 4] + struct.pack("<I", base + len(out)) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, c.get("disk", 0), 0, c.get("onDisk", n), c.get("total", n),
                      len(directory), base + len(out), c.get("commentLength", len(comment)))
    return (out + directory + expand(c.get("betweenDirectoryAndEnd")).encode() + end + comment +
            expand(c.get("trailing")).encode()), files


def case_archives():
    """Writes cases/ and returns its manifest rows: the entries passed on before the error (or, with
    no error, in all) and, where the case ends at a given size, the bytes to put before it."""
    shutil.rmtree(os.path.join(HERE, "cases"), ignore_errors=True)
    os.makedirs(os.path.join(HERE, "cases"))
    with open(os.path.join(HERE, "cases.json")) as f:
        cases = json.load(f)["cases"]
    rows = []
    for c in cases:
        data, files = case_archive(c)
        row = {"file": "cases/%s.zip" % c["name"].replace(" ", "-")}
        if "end" in c:
            row["prefix"] = c["end"] - len(data)
            data, files = case_archive(c, row["prefix"])
        with open(os.path.join(HERE, row["file"]), "wb") as f:
            f.write(data)
        if "error" in c:
            row["error"] = c["error"]
        row["entries"] = [{"name": name, "size": len(body), "sha256": hashlib.sha256(body).hexdigest()}
                          for name, body in files[:c["consumed"]]]
        rows.append(row)
    return rows


def main(only_cases):
    """With "cases", rewrites only cases/ and its manifest rows (the tool archives hold random data)."""
    manifest = []
    if only_cases:
        with open(os.path.join(HERE, "manifest.json")) as f:
            manifest = [a for a in json.load(f)["archives"] if not a["file"].startswith("cases/")]
    else:
        for sub in ("tools", "hostile"):
            shutil.rmtree(os.path.join(HERE, sub), ignore_errors=True)
            os.makedirs(os.path.join(HERE, sub))
        with tempfile.TemporaryDirectory() as work:
            for label, (data, ok) in sorted(tool_archives(work).items()):
                path = "tools/" + label
                with open(os.path.join(HERE, path), "wb") as f:
                    f.write(data)
                item = {"file": path}
                if ok:
                    item["entries"] = entries_of(data)
                else:
                    item["error"] = "BackupInvalid"
                manifest.append(item)
        for label, data in (("bomb-full-overlap.zip", bomb_full_overlap()),
                            ("bomb-quoted-overlap.zip", bomb_quoted_overlap()),
                            ("bomb-extra-quoted.zip", bomb_extra_quoted())):
            path = "hostile/" + label
            with open(os.path.join(HERE, path), "wb") as f:
                f.write(data)
            manifest.append({"file": path, "error": "BackupInvalid"})
    manifest += case_archives()
    with open(os.path.join(HERE, "manifest.json"), "w") as f:
        json.dump({"archives": manifest}, f, indent=1, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    import sys
    main(sys.argv[1:] == ["cases"])
