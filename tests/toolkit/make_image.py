#!/usr/bin/env python3
"""Builds test disk images with real file-system tools and writes their ground truth.

    make_image.py KIND --out DIR [--ntfs-edit PATH] [--seed N]

KIND is one of fat12, fat16, fat32, ntfs, mbr, fat16-reformatted, ntfs-reformatted (the
fat16 or ntfs volume, quick-formatted again over its files), exfat, exfat-reformatted and
exfat-large (a 5 GiB sparse card holding a deleted 3 GiB file), exfat-4k (exfat with 4096-byte sectors).
The image is written to DIR/KIND.img and
its truth to DIR/KIND.truth; the truth path is printed on success. FAT volumes are made
with mkfs.fat and edited with mtools, NTFS volumes with mkntfs and ntfs_edit (our small
libntfs-3g program); nothing is mounted, except exFAT volumes: mkfs.exfat makes them and
exfat-fuse writes them through a loop device, which needs root. File contents come from a fixed seed, so the
same KIND and seed always give the same files.

Exit status: 0 success, 77 a needed tool is missing (the message names it), 1 any other
failure.

Truth format (UTF-8 text, one record a line, fields separated by one tab):
    #sorvane-image-truth 1
    volume  INDEX  FS  START_SECTOR  SECTOR_COUNT  CLUSTER_BYTES  [reformatted]
    file    VOLUME  STATE  PATH  SIZE  SHA256  FLAGS
    dir     VOLUME  STATE  PATH  0     -       FLAGS
FS is fat12, fat16, fat32, ntfs or exfat; sectors are 512 bytes, START_SECTOR counts from the
start of the image. STATE is "live" or "deleted" (on a reformatted volume: before the
format). PATH starts at the volume's root, uses
'/' and the long name, without a leading '/'. FLAGS is "-" or a comma-separated list of
NAME or NAME=VALUE:
    short=NAME.EXT        FAT 8.3 name of the entry (stored in code page 437)
    first_cluster=N       first cluster (NTFS: first LCN of the data); clusters=N cluster count
    fragmented            the clusters were not one ascending run
    overwritten           some of its clusters were given to a later file: its content is gone
    in_deleted_folder     deleted together with a deleted folder
    mft=N                 NTFS file record number
    record_reused         NTFS: a later entry took its file record
    resident / nonresident  where NTFS kept the data
    padding               a live file that only fills space
    intact                (reformatted volumes) the file's clusters still hold its bytes
    record_intact         (reformatted NTFS) its file record still holds its name
    format=jpeg|png|zip|mp4  the content is a well-formed file of that kind (a carver can find
                          its end); other files are random bytes, some after a magic number
    nofatchain            exFAT: the entry set marks the data contiguous (no FAT chain)
    mtime=N               exFAT: modification time set on the file, seconds since 1970 (UTC)
    sparse_pattern        the content is zeros with a marker at the start and at the end
                          (exfat-large); SHA256 is still that of the whole content
"""

import argparse
import hashlib
import io
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

SECTOR = 512
MIB = 1024 * 1024


class MissingTool(Exception):
    pass


class BuildError(Exception):
    pass


def need(tool):
    if shutil.which(tool) is None:
        raise MissingTool(f"missing tool: {tool} (install the package that provides it)")


def run(args, env=None, stdin=None):
    result = subprocess.run(args, env=env, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise BuildError(f"{' '.join(args)} failed ({result.returncode}): "
                         f"{result.stderr.decode('utf-8', 'replace').strip()}")
    return result.stdout.decode("utf-8", "replace")


def jpeg_bytes(rng, size):
    """A baseline greyscale JFIF picture of exactly `size` bytes that decodes: real markers,
    and entropy-coded blocks of random ±1 coefficients (a DC table of one code, an AC table
    of end-of-block and "one coefficient of size 1", all-ones codes left free as decoders
    require), every 0xFF stuffed as FF 00, so the
    only FF D9 is the one at the end. A comment segment takes up the room the blocks leave."""
    across = 8 * max(1, size // 500000)  # blocks per row; the picture grows by rows
    app0 = b"\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    dqt = b"\xff\xdb\x00\x43\x00" + bytes(range(1, 65))
    dht = (b"\xff\xc4\x00\x14\x00\x01" + bytes(15) + b"\x00"
           + b"\xff\xc4\x00\x15\x10\x01\x01" + bytes(14) + b"\x00\x01")
    sos = b"\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00"

    def head(rows, room):
        sof0 = b"\xff\xc0\x00\x0b\x08" + struct.pack(">HH", 8 * rows, 8 * across) + b"\x01\x01\x11\x00"
        comments = b""
        while room > 0:  # comment segments of 4 to 65537 bytes fill the room
            n = min(room, 65537) if room - min(room, 65537) == 0 or room - 65537 >= 4 else room - 4
            comments += b"\xff\xfe" + struct.pack(">H", n - 2) + bytes(n - 4)
            room -= n
        return b"\xff\xd8" + app0 + comments + dqt + sof0 + dht + sos

    def scan(rows):
        bits = "".join(rows)
        padded = bits + "1" * (-len(bits) % 8)
        data = int(padded, 2).to_bytes(len(padded) // 8, "big") if padded else b""
        return data.replace(b"\xff", b"\xff\x00")

    # Rows of blocks: DC of category 0; then up to 62 coefficients of ±1, then end of block.
    fixed = len(head(1, 0)) + 2
    rows, bits = [], 0
    while len(rows) < 8191:
        row = "".join("0" + "".join("10" + rng.choice("01") for _ in range(rng.randrange(63))) + "0"
                      for _ in range(across))
        if (bits + len(row)) // 8 > size - fixed:
            break
        rows.append(row)
        bits += len(row)
    while rows:
        data = scan(rows)
        room = size - fixed - len(data)
        if room == 0 or room >= 4:
            return head(len(rows), room) + data + b"\xff\xd9"
        rows.pop()
    return None


def mp4_bytes(rng, size):
    """A film of exactly `size` bytes whose boxes chain to its end: ftyp, a movie box with
    no tracks, and media data of random bytes."""
    ftyp = struct.pack(">I", 24) + b"ftypmp42" + bytes(4) + b"mp42isom"
    moov = struct.pack(">I", 8) + b"moov"
    room = size - len(ftyp) - len(moov) - 8
    if room < 0:
        return None
    return ftyp + moov + struct.pack(">I", room + 8) + b"mdat" + rng.randbytes(room)


def zip_bytes(rng, size, members):
    """A stored (uncompressed) zip of exactly `size` bytes: the given small members, then
    one member of random bytes sized to make up the rest."""
    def build(filler):
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
            for name, data in members + [(members[-1][0] + ".bin", filler)]:
                info = zipfile.ZipInfo(name, date_time=(2023, 6, 1, 12, 0, 0))
                z.writestr(info, data)
        return out.getvalue()
    base = len(build(b""))
    if size < base:
        return None
    for _ in range(8):
        data = build(rng.randbytes(size - base))
        # The archive's end record must be the only one, or a carver would stop early.
        if len(data) == size and data.count(b"PK\x05\x06") == 1:
            return data
    return None


def png_bytes(rng, size):
    """A real 16x16 RGB picture of exactly `size` bytes; a text chunk takes up the room."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\x00" + rng.randbytes(16 * 3) for _ in range(16))
    head = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0))
    body = chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    room = size - len(head) - len(body) - 12 - len(b"Comment\x00")
    if room < 0:
        return None
    text = bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz ") for _ in range(room))
    return head + chunk(b"tEXt", b"Comment\x00" + text) + body


OFFICE_TYPES = (b'<?xml version="1.0" encoding="UTF-8"?>'
                b'<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                b'<Default Extension="xml" ContentType="application/xml"/></Types>')


def content(seed, path, size):
    """Deterministic bytes of a file, and the format they follow ("" for none).
    Pictures and office documents large enough are well-formed files of their kind, so a
    carver can find where they end; other known kinds only start with their magic."""
    rng = random.Random(f"{seed}:{path}")
    ext = os.path.splitext(path)[1].lower()
    formed = None
    if ext == ".jpg":
        formed, kind = jpeg_bytes(rng, size), "jpeg"
    elif ext == ".png":
        formed, kind = png_bytes(rng, size), "png"
    elif ext == ".mp4":
        formed, kind = mp4_bytes(rng, size), "mp4"
    elif ext in (".docx", ".xlsx"):
        part = "word/document.xml" if ext == ".docx" else "xl/workbook.xml"
        formed, kind = zip_bytes(rng, size, [("[Content_Types].xml", OFFICE_TYPES), (part, b"<x/>")]), "zip"
    if formed is not None:
        assert len(formed) == size
        return formed, kind
    data = bytearray(rng.randbytes(size))
    magic = {
        ".mp3": b"ID3\x03\x00",
        ".mp4": b"\x00\x00\x00\x18ftypmp42",
    }.get(ext)
    if magic and size >= len(magic):
        data[:len(magic)] = magic
    return bytes(data), ""


class Entry:
    def __init__(self, kind, path, order, size=0, sha="-"):
        self.kind = kind  # "file" or "dir"
        self.path = path  # "/A/b.txt"
        self.size = size
        self.sha = sha
        self.created = order
        self.deleted = None  # order of the deletion
        self.flags = {}
        self.clusters = []
        self.hasher = None


def plan(cluster, big_live, big_deleted, fragments):
    """The files and folders every volume gets, as (op, path[, size]) in the order they happen.
    Sizes are chosen around the cluster size so edge cases land on real boundaries.
    `fragments` is (set-up ops, final deletions) of the volume's fragmentation case."""
    c = cluster
    ops = [
        ("mkdir", "/Docs"),
        ("put", "/Docs/REPORT.TXT", c),
        ("put", "/Docs/Quarterly financial report for the board.docx", 7 * c + 123),
        ("mkdir", "/Docs/Notes"),
        ("put", "/Docs/Notes/todo.txt", 1),
        ("put", "/Docs/Notes/meeting notes from tuesday.txt", 300),
        ("mkdir", "/Photos"),
        ("put", "/Photos/IMG_0001.JPG", c + 1),
        ("put", "/Photos/Été à la plage — Côte d'Azur.jpg", 5 * c + 77),
        ("put", "/Photos/DSC00042.JPG", 3 * c),
        ("put", "/Photos/Vacation pictures from the summer of 2023 number 7.jpg", 2 * c + 500),
        ("put", "/Photos/tiny note.txt", 200),
        ("put", "/Photos/Screenshot 2023-05-01 at 10.15.42.png", 3 * c + 321),
        ("mkdir", "/Music"),
        ("put", "/Music/Grüße aus München.mp3", big_live),
        ("mkdir", "/Videos"),
        ("put", "/Videos/holiday video clip recorded on the beach.mp4", big_deleted),
        ("put", "/empty.txt", 0),
        ("put", "/one.bin", 1),
        ("put", "/zero deleted.txt", 0),
        ("put", "/x.bin", 1),
        ("put", "/CLUSTER.BIN", c),
        ("mkdir", "/Old Projects"),
        ("put", "/Old Projects/plan.txt", 600),
        ("put", "/Old Projects/Σχέδιο έργου.txt", 4 * c + 10),
        ("mkdir", "/Old Projects/Archive 2019"),
        ("put", "/Old Projects/Archive 2019/budget spreadsheet final version.xlsx", 9 * c + 1),
        ("put", "/Old Projects/Archive 2019/a.txt", 10),
        *fragments[0],
        # Deletions come last so no later file takes their clusters.
        ("del", "/Photos/Été à la plage — Côte d'Azur.jpg"),
        ("del", "/Photos/DSC00042.JPG"),
        ("del", "/Photos/Vacation pictures from the summer of 2023 number 7.jpg"),
        ("del", "/Photos/tiny note.txt"),
        ("del", "/Photos/Screenshot 2023-05-01 at 10.15.42.png"),
        ("del", "/Videos/holiday video clip recorded on the beach.mp4"),
        ("del", "/zero deleted.txt"),
        ("del", "/x.bin"),
        ("del", "/CLUSTER.BIN"),
        ("deltree", "/Old Projects"),
        *fragments[1],
    ]
    return ops


def fat_fragments(cluster):
    """A hole of one cluster, then a file larger than the hole: where the allocator fills
    the first free cluster (FAT12, FAT16) the file is split around the live keeper."""
    c = cluster
    return [
        ("mkdir", "/Frag"),
        ("put", "/Frag/gap filler.bin", c),
        ("put", "/Frag/keeper.bin", c),
        ("del", "/Frag/gap filler.bin"),
        ("put", "/Frag/split across two places.bin", 3 * c + 5),
    ], [
        ("del", "/Frag/split across two places.bin"),
    ]


def ntfs_fragments(cluster):
    """Files that grow after a neighbour was written end up in two runs; one stays live,
    one is deleted, and one starts resident and moves out when it grows."""
    c = cluster
    return [
        ("mkdir", "/Frag"),
        ("put", "/Frag/grown in two steps.bin", c),
        ("put", "/Frag/keeper.bin", c),
        ("put", "/Frag/live and grown.bin", c + 100),
        ("put", "/Frag/tiny then big.txt", 300),
        ("append", "/Frag/grown in two steps.bin", 3 * c + 5),
        ("append", "/Frag/live and grown.bin", 2 * c),
        ("append", "/Frag/tiny then big.txt", 2 * c + 1),
    ], [
        ("del", "/Frag/grown in two steps.bin"),
        ("del", "/Frag/tiny then big.txt"),
    ]


class Volume:
    """Common bookkeeping of one volume being built."""

    def __init__(self, image, seed, staging):
        self.image = image
        self.seed = seed
        self.staging = staging
        self.entries = {}
        self.order = 0

    def tick(self):
        self.order += 1
        return self.order

    def stage(self, data):
        """Writes bytes to a fresh staging file and returns its path."""
        host = os.path.join(self.staging, f"f{self.order}")
        with open(host, "wb") as f:
            f.write(data)
        return host

    def new_file(self, path, size, padding):
        """Records a new file and stages its bytes; returns the staging file."""
        order = self.tick()
        data, kind = content(self.seed, path, size)
        e = Entry("file", path, order, size)
        e.hasher = hashlib.sha256(data)
        e.sha = e.hasher.hexdigest()
        if kind:
            e.flags["format"] = kind
        if padding:
            e.flags["padding"] = None
        self.entries[path] = e
        return self.stage(data)

    def subtree(self, path):
        """Live entries at or below `path`, deepest first."""
        found = [e for e in self.entries.values()
                 if e.deleted is None and (e.path == path or e.path.startswith(path + "/"))]
        return sorted(found, key=lambda e: (-e.path.count("/"), e.kind == "dir"))

    def apply(self, ops):
        for op in ops:
            getattr(self, "op_" + op[0])(*op[1:])
        self.finish()
        self.mark_overwritten()

    @staticmethod
    def set_clusters(e, clusters):
        e.clusters = clusters
        for flag in ("first_cluster", "clusters", "fragmented"):
            e.flags.pop(flag, None)
        if clusters:
            e.flags["first_cluster"] = clusters[0]
            e.flags["clusters"] = len(clusters)
            if any(b != a + 1 for a, b in zip(clusters, clusters[1:])):
                e.flags["fragmented"] = None

    def mark_overwritten(self):
        """A deleted entry whose clusters went to an entry made after the deletion, or to
        one still live at the end, no longer holds its content."""
        for e in self.entries.values():
            if e.deleted is None or not e.clusters:
                continue
            mine = set(e.clusters)
            for other in self.entries.values():
                later = other.created > e.deleted or other.deleted is None
                if other is not e and later and mine.intersection(other.clusters):
                    e.flags["overwritten"] = None
                    break

    def truth_lines(self, index):
        lines = []
        for e in sorted(self.entries.values(), key=lambda e: e.created):
            flags = ",".join(k if v is None else f"{k}={v}" for k, v in e.flags.items()) or "-"
            state = "live" if e.deleted is None else "deleted"
            fields = [e.kind, str(index), state, e.path.lstrip("/"), str(e.size), e.sha, flags]
            lines.append("\t".join(fields))
        return lines


class FatVolume(Volume):
    def __init__(self, image, seed, staging):
        super().__init__(image, seed, staging)
        # Short names in code page 437, the OEM code page of US Windows (mtools' own
        # default is 850); long names in UTF-16 from UTF-8 arguments.
        config = os.path.join(staging, "mtoolsrc")
        with open(config, "w") as f:
            f.write("default_codepage=437\n")
        self.env = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8", MTOOLSRC=config)

    def mtools(self, tool, *args):
        return run([tool, "-i", self.image, *args], env=self.env)

    def chains(self, entries):
        """Reads the cluster chains of existing entries with mshowfat."""
        files = [e for e in entries if not (e.kind == "file" and e.size == 0)]
        if not files:
            return
        out = self.mtools("mshowfat", *["::" + e.path for e in files])
        by_path = {"::" + e.path: e for e in files}
        for line in out.splitlines():
            m = re.match(r"^(::.*?) ((?:<[^>]*>\s*)+)$", line)
            if not m or m.group(1) not in by_path:
                continue
            clusters = []
            for lo, hi in re.findall(r"<(\d+)(?:-(\d+))?>", m.group(2)):
                clusters.extend(range(int(lo), int(hi or lo) + 1))
            self.set_clusters(by_path[m.group(1)], clusters)

    def short_names(self, folder="/", recursive=True):
        """Reads the 8.3 names of the existing entries in a folder (and below) with mdir."""
        out = self.mtools("mdir", *(["-/"] if recursive else []), "-a", "::" + folder)
        folder = None
        by_path = {e.path.lower(): e for e in self.entries.values() if e.deleted is None}
        entry_re = re.compile(r"^(.{8}) (.{3}) +(?:<DIR>|[\d ]+?) +\d{4}-\d\d-\d\d +\d+:\d\d(?:  (.*))?$")
        for line in out.splitlines():
            if line.startswith("Directory for ::"):
                folder = line[len("Directory for ::"):].rstrip("/")
                continue
            m = entry_re.match(line)
            if folder is None or not m:
                continue
            base, ext = m.group(1).rstrip(), m.group(2).rstrip()
            if base in (".", ".."):
                continue
            # mdir shows names kept in upper case on disk in lower case when their
            # lower-case flags are set; only ASCII letters have such flags.
            short = "".join(ch.upper() if ch.isascii() else ch for ch in base + ("." + ext if ext else ""))
            name = m.group(3) if m.group(3) else (base + ("." + ext if ext else ""))
            e = by_path.get((folder + "/" + name).lower())
            if e is not None:
                e.flags["short"] = short

    def op_mkdir(self, path):
        self.mtools("mmd", "::" + path)
        self.entries[path] = Entry("dir", path, self.tick())

    def op_put(self, path, size, padding=False):
        host = self.new_file(path, size, padding)
        self.mtools("mcopy", host, "::" + path)
        os.unlink(host)

    def op_del(self, path):
        e = self.entries[path]
        self.chains([e])
        self.short_names(os.path.dirname(path), recursive=False)
        self.mtools("mdel", "::" + path)
        e.deleted = self.tick()

    def op_deltree(self, path):
        tree = self.subtree(path)
        self.chains(tree)
        self.short_names(os.path.dirname(path), recursive=False)
        self.short_names(path)
        self.mtools("mdeltree", "::" + path)
        order = self.tick()
        for e in tree:
            e.deleted = order
            if e.path != path:
                e.flags["in_deleted_folder"] = None

    def finish(self):
        live = [e for e in self.entries.values() if e.deleted is None]
        self.chains(live)
        self.short_names()


class NtfsVolume(Volume):
    def __init__(self, image, seed, staging, tool):
        super().__init__(image, seed, staging)
        self.tool = tool
        self.script = []

    def op_mkdir(self, path):
        self.script.append(f"mkdir\t{path}")
        self.entries[path] = Entry("dir", path, self.tick())

    def op_put(self, path, size, padding=False):
        host = self.new_file(path, size, padding)
        self.script.append(f"put\t{host}\t{path}")

    def op_append(self, path, extra):
        """Adds `extra` bytes at the end of a file; the file loses any format it had."""
        self.tick()
        e = self.entries[path]
        data, _ = content(self.seed, f"{path}#{e.size}", extra)
        self.script.append(f"append\t{self.stage(data)}\t{path}")
        e.size += extra
        e.hasher.update(data)
        e.sha = e.hasher.hexdigest()
        e.flags.pop("format", None)

    def op_del(self, path):
        self.script.append(f"rm\t{path}")
        self.entries[path].deleted = self.tick()

    def op_deltree(self, path):
        # NTFS deletes a folder only when it is empty: children first, deepest first.
        order = self.tick()
        for e in self.subtree(path):
            self.script.append(f"{'rm' if e.kind == 'file' else 'rmdir'}\t{e.path}")
            e.deleted = order
            if e.path != path:
                e.flags["in_deleted_folder"] = None

    def finish(self):
        script = os.path.join(self.staging, "ops.txt")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(self.script) + "\n")
        out = run([self.tool, self.image, script])
        for line in out.splitlines():
            # created|appended PATH RECORD dir|resident|nonresident LCN+COUNT/...
            fields = line.split("\t")
            if len(fields) != 5 or fields[0] not in ("created", "appended") or fields[1] not in self.entries:
                continue
            e = self.entries[fields[1]]
            e.flags["mft"] = int(fields[2])
            if e.kind != "file":
                continue
            e.flags.pop("resident", None)
            e.flags.pop("nonresident", None)
            e.flags[fields[3]] = None
            clusters = []
            if fields[4] != "-":
                for extent in fields[4].split("/"):
                    lcn, count = extent.split("+")
                    clusters.extend(range(int(lcn), int(lcn) + int(count)))
            self.set_clusters(e, clusters)
        # A record given to a later entry no longer describes the deleted one.
        for e in self.entries.values():
            if e.deleted is None or "mft" not in e.flags:
                continue
            if any(o is not e and o.created > e.deleted and o.flags.get("mft") == e.flags["mft"]
                   for o in self.entries.values()):
                e.flags["record_reused"] = None
                e.flags["overwritten"] = None


def exfat_fragments(cluster):
    """A hole of one cluster refilled by a larger file: exfat-fuse fills the first free
    cluster, so the file is split around the live keeper and gets a FAT chain."""
    return fat_fragments(cluster)


def exfat_layout(image):
    """The layout of an exFAT volume, from its boot sector."""
    with open(image, "rb") as f:
        boot = f.read(SECTOR)
    if boot[3:11] != b"EXFAT   ":
        raise BuildError(f"{image} holds no exFAT boot sector")
    fat_offset, fat_length, heap, count, root = struct.unpack_from("<IIIII", boot, 80)
    sector = 1 << boot[108]
    return {"sector": sector, "cluster": sector << boot[109], "fat": fat_offset * sector,
            "heap": heap * sector, "count": count, "root": root}


def exfat_tree(image):
    """Every live file and folder of an exFAT volume: path -> (clusters, nofatchain).
    Reads the volume itself, like the FAT side reads mshowfat: the clusters of a file
    are what the entry set and the FAT say."""
    lay = exfat_layout(image)
    cb = lay["cluster"]
    found = {}
    with open(image, "rb") as f:
        def fat(n):
            f.seek(lay["fat"] + 4 * n)
            return struct.unpack("<I", f.read(4))[0]

        def clusters_of(first, length, contiguous):
            n = (length + cb - 1) // cb
            if first < 2 or n == 0:
                return []
            if contiguous:
                return list(range(first, first + n))
            chain, c = [], first
            while 2 <= c < lay["count"] + 2 and len(chain) < n:
                chain.append(c)
                c = fat(c)
            return chain

        def read(clusters):
            data = bytearray()
            for c in clusters:
                f.seek(lay["heap"] + (c - 2) * cb)
                data += f.read(cb)
            return bytes(data)

        def walk(clusters, folder):
            data = read(clusters)
            i = 0
            while i + 32 <= len(data):
                if data[i] != 0x85:
                    i += 32
                    continue
                count = data[i + 1] + 1
                entries = data[i:i + 32 * count]
                attributes = struct.unpack_from("<H", entries, 4)[0]
                flags, name_length = entries[33], entries[35]
                first, length = struct.unpack_from("<IQ", entries, 52)
                units = b"".join(entries[32 * k + 2:32 * k + 32] for k in range(2, count))
                name = units[:2 * name_length].decode("utf-16-le")
                path = folder + "/" + name
                own = clusters_of(first, length, flags & 2)
                found[path] = (own, bool(flags & 2))
                if attributes & 0x10:
                    walk(own, path)
                i += 32 * count

        walk(clusters_of(lay["root"], 256 * MIB, False), "")
    return found


class ExfatVolume(Volume):
    """An exFAT volume written by exfat-fuse through a loop device. The volume is
    mounted while files are written and deleted; before a deletion it is unmounted and
    read, so the clusters of what is deleted are known."""

    def __init__(self, image, seed, staging):
        super().__init__(image, seed, staging)
        self.mount_point = os.path.abspath(os.path.join(staging, "mnt"))
        os.makedirs(self.mount_point)
        self.loop = None
        self.stale = True  # files were written since the clusters were last read
        self.env = dict(os.environ, TZ="UTC")

    def mount(self):
        if self.loop:
            return
        if os.geteuid() != 0:
            raise MissingTool("exFAT test images need root (a loop device and a FUSE mount)")
        result = subprocess.run(["losetup", "-f", "--show", os.path.abspath(self.image)], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        if result.returncode != 0:
            raise MissingTool("this machine gives no loop device: " + result.stderr.decode().strip())
        self.loop = result.stdout.decode().strip()
        result = subprocess.run(["mount.exfat-fuse", self.loop, self.mount_point], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 0:
            self.detach()
            raise MissingTool("this machine refuses the FUSE mount: " + result.stderr.decode().strip())

    def detach(self):
        if self.loop:
            subprocess.run(["losetup", "-d", self.loop], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.loop = None

    def unmount(self):
        if not self.loop:
            return
        run(["umount", self.mount_point])
        self.detach()

    def host(self, path):
        return self.mount_point + path

    def read_clusters(self):
        """Unmounts and reads the clusters of every live entry."""
        if not self.stale:
            return
        self.unmount()
        tree = exfat_tree(self.image)
        for e in self.entries.values():
            if e.deleted is None and e.path in tree:
                clusters, contiguous = tree[e.path]
                self.set_clusters(e, clusters)
                e.flags.pop("nofatchain", None)
                if contiguous and e.kind == "file" and clusters:
                    e.flags["nofatchain"] = None
        self.stale = False

    def op_mkdir(self, path):
        self.mount()
        os.mkdir(self.host(path))
        self.entries[path] = Entry("dir", path, self.tick())
        self.stale = True

    def op_put(self, path, size, padding=False):
        self.mount()
        staged = self.new_file(path, size, padding)
        shutil.copyfile(staged, self.host(path))
        os.unlink(staged)
        # Even seconds: the on-disk time keeps two-second steps (plus 10-ms units).
        e = self.entries[path]
        mtime = 1686000000 + 2 * e.created
        os.utime(self.host(path), (mtime, mtime))
        e.flags["mtime"] = mtime
        self.stale = True

    def op_sparse(self, path, size, marker):
        """A large file of zeros with `marker` at its start and end, grown by truncation."""
        self.mount()
        e = Entry("file", path, self.tick(), size)
        hasher = hashlib.sha256(marker)
        zeros = bytes(MIB)
        left = size - 2 * len(marker)
        while left:
            piece = min(left, len(zeros))
            hasher.update(zeros[:piece])
            left -= piece
        hasher.update(marker)
        e.sha = hasher.hexdigest()
        e.flags["sparse_pattern"] = None
        with open(self.host(path), "wb") as f:
            f.write(marker)
            f.truncate(size)
            f.seek(size - len(marker))
            f.write(marker)
        mtime = 1686000000 + 2 * e.created
        os.utime(self.host(path), (mtime, mtime))
        e.flags["mtime"] = mtime
        self.entries[path] = e
        self.stale = True

    def op_del(self, path):
        self.read_clusters()
        self.mount()
        os.unlink(self.host(path))
        self.entries[path].deleted = self.tick()

    def op_deltree(self, path):
        self.read_clusters()
        tree = self.subtree(path)
        self.mount()
        shutil.rmtree(self.host(path))
        order = self.tick()
        for e in tree:
            e.deleted = order
            if e.path != path:
                e.flags["in_deleted_folder"] = None

    def finish(self):
        self.stale = True
        self.read_clusters()
        self.unmount()


def make_exfat(image, size_mib, cluster_bytes, seed, staging, ops=None, sector=SECTOR):
    need("mkfs.exfat")
    need("mount.exfat-fuse")
    need("losetup")
    with open(image, "wb") as f:
        f.truncate(size_mib * MIB)
    mkfs = ["mkfs.exfat", "-c", str(cluster_bytes), "-L", "SORVANE", image]
    if sector == SECTOR:
        run(mkfs)
    else:
        # mkfs.exfat has no sector-size option: it takes the device's logical block size.
        if os.geteuid() != 0:
            raise MissingTool("exFAT test images need root (a loop device and a FUSE mount)")
        result = subprocess.run(["losetup", "-b", str(sector), "-f", "--show", os.path.abspath(image)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 0:
            raise MissingTool("this machine gives no loop device: " + result.stderr.decode().strip())
        loop = result.stdout.decode().strip()
        try:
            run(mkfs[:-1] + [loop])
        finally:
            subprocess.run(["losetup", "-d", loop], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if exfat_layout(image)["sector"] != sector:
            raise BuildError(f"mkfs.exfat made sectors of {exfat_layout(image)['sector']} bytes, not {sector}")
    vol = ExfatVolume(image, seed, staging)
    vol.cluster_bytes = cluster_bytes
    vol.reformat_command = ["mkfs.exfat", "-c", str(cluster_bytes), "-L", "NEW CARD", image]
    try:
        if ops is None:
            c = cluster_bytes
            long_name = "/Docs/" + ("Long name of a holiday photo " * 7)[:196] + ".txt"
            ops = plan(c, 3 * MIB + 333, 5 * MIB // 2 + 7, exfat_fragments(c))
            extra = [("put", long_name, 2 * c + 17), ("put", "/Photos/Фото с дачи №5.jpg", 3 * c + 9)]
            # The 200-character and Cyrillic names join the files deleted at the end.
            first_deletion = ops.index(("del", "/Photos/Été à la plage — Côte d'Azur.jpg"))
            ops = (ops[:first_deletion] + extra + ops[first_deletion:] +
                   [("del", long_name), ("del", "/Photos/Фото с дачи №5.jpg")])
        vol.apply(ops)
    finally:
        if vol.loop:
            subprocess.run(["umount", vol.mount_point], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            vol.detach()
    return vol, cluster_bytes


def boot_cluster_bytes(image, offset=0):
    with open(image, "rb") as f:
        f.seek(offset)
        boot = f.read(SECTOR)
    bytes_per_sector, sectors_per_cluster = struct.unpack_from("<HB", boot, 11)
    return bytes_per_sector * spc_count(sectors_per_cluster)


def spc_count(field):
    """NTFS keeps clusters above 128 sectors as a negative power of two (0xF4 = 2^12)."""
    return field if field <= 0x80 else 1 << (256 - field)


def make_fat(image, bits, size_mib, sectors_per_cluster, seed, staging, hidden=0, sizes=None, padding_mib=0,
             sector=SECTOR):
    need("mkfs.fat")
    for tool in ("mcopy", "mmd", "mdel", "mdeltree", "mshowfat", "mdir"):
        need(tool)
    with open(image, "wb") as f:
        f.truncate(size_mib * MIB)
    mkfs = ["mkfs.fat", "-F", str(bits), "-s", str(sectors_per_cluster), "-S", str(sector), "-h", str(hidden),
            "-n", f"SORVANE{bits}", "-i", "5A0E0000", image]
    run(mkfs)
    cluster = sectors_per_cluster * sector
    vol = FatVolume(image, seed, staging)
    # Formatting again with the same layout and a new label and serial number.
    vol.reformat_command = mkfs[:-5] + ["-n", "NEW CARD", "-i", "5A0E0001", image]
    if padding_mib:
        # Live files that push everything after them past cluster 65536.
        vol.op_mkdir("/Padding")
        vol.entries["/Padding"].flags["padding"] = None
        for i in range(0, padding_mib, 8):
            vol.op_put(f"/Padding/fill-{i // 8:02d}.bin", min(8, padding_mib - i) * MIB, padding=True)
    vol.apply(plan(cluster, *(sizes or (3 * MIB + 333, 5 * MIB // 2 + 7)), fat_fragments(cluster)))
    return vol, cluster


def make_ntfs(image, size_mib, seed, staging, tool, hidden=0, sizes=None, cluster=4096, sector=SECTOR):
    need("mkntfs")
    if not tool or not os.access(tool, os.X_OK):
        raise MissingTool("missing tool: ntfs_edit (build it; it needs the libntfs-3g development files)")
    with open(image, "wb") as f:
        f.truncate(size_mib * MIB)
    # -p sets the hidden-sectors field to the partition start; -H/-S only quiet the warnings.
    mkfs = ["mkntfs", "-F", "-Q", "-q", "-c", str(cluster), "-s", str(sector), "-p", str(hidden),
            "-H", "64", "-S", "32", "-L"]
    run(mkfs + ["SORVANE", image])
    cluster = boot_cluster_bytes(image)
    vol = NtfsVolume(image, seed, staging, tool)
    vol.reformat_command = mkfs + ["NEW DISK", image]
    vol.apply(plan(cluster, *(sizes or (3 * MIB + 333, 5 * MIB // 2 + 7)), ntfs_fragments(cluster)))
    return vol, cluster


def cluster_locator(image, fs):
    """Maps a cluster number (FAT) or LCN (NTFS) to its byte offset in the volume."""
    if fs == "exfat":
        lay = exfat_layout(image)
        return lambda n: lay["heap"] + (n - 2) * lay["cluster"]
    with open(image, "rb") as f:
        boot = f.read(SECTOR)
    bytes_per_sector, per_cluster, reserved, fats, root_entries = struct.unpack_from("<HBHBH", boot, 11)
    cluster = bytes_per_sector * (spc_count(per_cluster) if fs == "ntfs" else per_cluster)
    if fs == "ntfs":
        return lambda n: n * cluster
    fat_sectors = struct.unpack_from("<H", boot, 22)[0] or struct.unpack_from("<I", boot, 36)[0]
    root_sectors = (root_entries * 32 + bytes_per_sector - 1) // bytes_per_sector
    data_start = (reserved + fats * fat_sectors + root_sectors) * bytes_per_sector
    return lambda n: data_start + (n - 2) * cluster


def ntfs_record_reader(image):
    """Returns a function giving the bytes of MFT record N, assuming the MFT starts in one run."""
    with open(image, "rb") as f:
        boot = f.read(SECTOR)
    bytes_per_sector, per_cluster = struct.unpack_from("<HB", boot, 11)
    per_cluster = spc_count(per_cluster)
    mft_lcn = struct.unpack_from("<Q", boot, 0x30)[0]
    per_record = struct.unpack_from("<b", boot, 0x40)[0]
    record = 1 << -per_record if per_record < 0 else per_record * bytes_per_sector * per_cluster

    def read(n):
        with open(image, "rb") as f:
            f.seek(mft_lcn * bytes_per_sector * per_cluster + n * record)
            return f.read(record)
    return read


def reformat(vol, fs):
    """Formats the volume again over its files (a quick format: only the file system's own
    structures are rewritten) and flags what survived: "intact" when the bytes at the
    file's clusters still hash to its SHA-256, "record_intact" when its NTFS file record
    still holds its name."""
    locate = cluster_locator(vol.image, fs)
    read_record = ntfs_record_reader(vol.image) if fs == "ntfs" else None
    run(vol.reformat_command)
    with open(vol.image, "rb") as f:
        for e in vol.entries.values():
            if e.kind == "file" and e.clusters and e.size > 0:
                data = bytearray()
                for n in e.clusters:
                    f.seek(locate(n))
                    data += f.read(vol.cluster_bytes)
                if hashlib.sha256(bytes(data[:e.size])).hexdigest() == e.sha:
                    e.flags["intact"] = None
            if read_record and "mft" in e.flags:
                record = read_record(int(e.flags["mft"]))
                if record[:4] == b"FILE" and os.path.basename(e.path).encode("utf-16-le") in record:
                    e.flags["record_intact"] = None


def build(kind, out, seed, ntfs_tool):
    image = os.path.join(out, f"{kind}.img")
    staging = tempfile.mkdtemp(prefix="sorvane-stage-", dir=out)
    volumes = []  # (fs, start sector, sector count, cluster bytes, Volume)
    try:
        if kind == "fat12":
            vol, c = make_fat(image, 12, 8, 8, seed, staging)
            volumes.append(("fat12", 0, 8 * MIB // SECTOR, c, vol))
        elif kind == "fat16":
            vol, c = make_fat(image, 16, 24, 4, seed, staging)
            volumes.append(("fat16", 0, 24 * MIB // SECTOR, c, vol))
        elif kind == "fat32":
            # 512-byte clusters: 34 MiB of live padding puts later files past cluster 65536.
            vol, c = make_fat(image, 32, 48, 1, seed, staging, padding_mib=34)
            volumes.append(("fat32", 0, 48 * MIB // SECTOR, c, vol))
        elif kind == "ntfs":
            vol, c = make_ntfs(image, 24, seed, staging, ntfs_tool)
            volumes.append(("ntfs", 0, 24 * MIB // SECTOR, c, vol))
        elif kind in ("ntfs-64k", "ntfs-1m"):
            # The large clusters mkntfs offers, as volumes for big external disks get them.
            cluster, mib = (65536, 64) if kind == "ntfs-64k" else (1 << 20, 192)
            vol, c = make_ntfs(image, mib, seed, staging, ntfs_tool, cluster=cluster)
            volumes.append(("ntfs", 0, mib * MIB // SECTOR, c, vol))
        elif kind == "fat32-4k":
            # Sectors of 4096 bytes, as USB disk enclosures present them; large enough
            # for mtools to take it for FAT32 (more than 65524 clusters).
            vol, c = make_fat(image, 32, 512, 1, seed, staging, sector=4096)
            volumes.append(("fat32", 0, 512 * MIB // SECTOR, c, vol))
        elif kind == "ntfs-4k":
            vol, c = make_ntfs(image, 64, seed, staging, ntfs_tool, sector=4096)
            volumes.append(("ntfs", 0, 64 * MIB // SECTOR, c, vol))
        elif kind == "fat16-reformatted":
            vol, c = make_fat(image, 16, 24, 4, seed, staging)
            vol.cluster_bytes = c
            reformat(vol, "fat16")
            volumes.append(("fat16", 0, 24 * MIB // SECTOR, c, vol, "reformatted"))
        elif kind == "ntfs-reformatted":
            vol, c = make_ntfs(image, 24, seed, staging, ntfs_tool)
            vol.cluster_bytes = c
            reformat(vol, "ntfs")
            volumes.append(("ntfs", 0, 24 * MIB // SECTOR, c, vol, "reformatted"))
        elif kind == "exfat":
            vol, c = make_exfat(image, 32, 4096, seed, staging)
            volumes.append(("exfat", 0, 32 * MIB // SECTOR, c, vol))
        elif kind == "exfat-reformatted":
            vol, c = make_exfat(image, 32, 4096, seed, staging)
            reformat(vol, "exfat")
            volumes.append(("exfat", 0, 32 * MIB // SECTOR, c, vol, "reformatted"))
        elif kind == "exfat-4k":
            vol, c = make_exfat(image, 32, 4096, seed, staging, sector=4096)
            volumes.append(("exfat", 0, 32 * MIB // SECTOR, c, vol))
        elif kind == "exfat-large":
            ops = [("mkdir", "/Video"), ("put", "/Video/small.txt", 700),
                   ("sparse", "/Video/camera recording.mts", 3 * 1024 * MIB, b"SORVANE-SPARSE-MARK"),
                   ("del", "/Video/small.txt"), ("del", "/Video/camera recording.mts")]
            vol, c = make_exfat(image, 5 * 1024, 128 * 1024, seed, staging, ops)
            # Writing the zeros made the image file dense; give the space back.
            if shutil.which("fallocate"):
                run(["fallocate", "--dig-holes", image])
            volumes.append(("exfat", 0, 5 * 1024 * MIB // SECTOR, c, vol))
        elif kind == "mbr":
            need("sfdisk")
            need("dd")
            fat_start, fat_mib = 2048, 34
            ntfs_start, ntfs_mib = fat_start + fat_mib * MIB // SECTOR, 16
            total_mib = 1 + fat_mib + ntfs_mib + 1
            with open(image, "wb") as f:
                f.truncate(total_mib * MIB)
            layout = (f"label: dos\nunit: sectors\n"
                      f"start={fat_start}, size={fat_mib * MIB // SECTOR}, type=c\n"
                      f"start={ntfs_start}, size={ntfs_mib * MIB // SECTOR}, type=7\n")
            run(["sfdisk", "--no-reread", "--no-tell-kernel", "-q", image], stdin=layout.encode())
            fat_image = os.path.join(staging, "part1.img")
            ntfs_image = os.path.join(staging, "part2.img")
            # The partitions get the same tree without the files of several MiB.
            fat, fc = make_fat(fat_image, 32, fat_mib, 1, seed, staging, hidden=fat_start,
                               sizes=(20 * 512 + 3, 12 * 512 + 9))
            ntfs, nc = make_ntfs(ntfs_image, ntfs_mib, seed, staging, ntfs_tool, hidden=ntfs_start,
                                 sizes=(20 * 4096 + 3, 12 * 4096 + 9))
            for part, start in ((fat_image, fat_start), (ntfs_image, ntfs_start)):
                run(["dd", f"if={part}", f"of={image}", "bs=512", f"seek={start}", "conv=notrunc,sparse",
                     "status=none"])
            volumes.append(("fat32", fat_start, fat_mib * MIB // SECTOR, fc, fat))
            volumes.append(("ntfs", ntfs_start, ntfs_mib * MIB // SECTOR, nc, ntfs))
        else:
            raise BuildError(f"unknown image kind {kind}")
    finally:
        shutil.rmtree(staging, ignore_errors=True)

    truth = os.path.join(out, f"{kind}.truth")
    lines = ["#sorvane-image-truth 1"]
    for i, (fs, start, count, cluster, _, *flags) in enumerate(volumes):
        lines.append("\t".join(["volume", str(i), fs, str(start), str(count), str(cluster), *flags]))
    for i, volume in enumerate(volumes):
        lines.extend(volume[4].truth_lines(i))
    with open(truth, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return truth


def main():
    # mkfs.fat, mkntfs and sfdisk live in sbin, which is not on every user's PATH.
    os.environ["PATH"] = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    parser = argparse.ArgumentParser(description="Builds a test disk image and its ground truth.")
    parser.add_argument("kind", choices=["fat12", "fat16", "fat32", "fat32-4k", "ntfs", "ntfs-4k", "ntfs-64k",
                                         "ntfs-1m", "mbr",
                                         "fat16-reformatted",
                                         "ntfs-reformatted", "exfat", "exfat-reformatted", "exfat-large",
                                         "exfat-4k"])
    parser.add_argument("--out", required=True, help="folder that receives KIND.img and KIND.truth")
    parser.add_argument("--seed", type=int, default=20240607)
    parser.add_argument("--ntfs-edit", default=os.environ.get("SORVANE_NTFS_EDIT", ""),
                        help="path of the ntfs_edit program (needed for ntfs and mbr)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    try:
        print(build(args.kind, args.out, args.seed, args.ntfs_edit))
    except MissingTool as e:
        print(e, file=sys.stderr)
        return 77
    except BuildError as e:
        print(e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
