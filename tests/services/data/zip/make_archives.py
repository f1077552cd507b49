#!/usr/bin/env python3
"""Writes the zip archives that the zip tests and the fuzzer's seed corpus use.

Usage: make_archives.py OUTPUT_DIR

Some archives come from Python's own zipfile (a second, independent writer); the hostile ones
are good archives with chosen bytes changed afterwards. Every archive is deterministic.
"""
import io
import os
import struct
import sys
import warnings
import zipfile

STAMP = (2021, 6, 15, 10, 20, 30)
TEXT = b"Line of ordinary text that compresses well.\n" * 40


def info(name, mode=0o100644, compress=zipfile.ZIP_DEFLATED):
    zi = zipfile.ZipInfo(name, STAMP)
    zi.external_attr = mode << 16
    zi.create_system = 3
    zi.compress_type = compress
    return zi


def archive(entries, comment=b""):
    """entries: (ZipInfo, data) or (ZipInfo, data, compresslevel); returns the archive bytes."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as zf:
        for zi, data, *level in entries:
            zf.writestr(zi, data, compresslevel=level[0] if level else None)
        zf.comment = comment
    return out.getvalue()


class Unseekable(io.RawIOBase):
    """A sink zipfile cannot seek in, so it writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def with_descriptors():
    sink = Unseekable()
    with zipfile.ZipFile(sink, "w") as zf:
        zf.writestr(info("dd/deflated.txt"), TEXT)
        zf.writestr(info("dd/stored.txt", compress=zipfile.ZIP_STORED), b"stored bytes")
    return bytes(sink.data)


def central_offset(data):
    end = data.rfind(b"PK\x05\x06")
    return struct.unpack_from("<I", data, end + 16)[0]


def patch(data, offset, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


def one_entry(compress=zipfile.ZIP_DEFLATED, data=TEXT, name="file.txt"):
    return archive([(info(name, compress=compress), data)])


def hostile():
    plain = one_entry()
    stored = one_entry(zipfile.ZIP_STORED, b"0123456789abcdef")
    cd = central_offset(plain)
    cd_stored = central_offset(stored)
    local_data_stored = 30 + len("file.txt")
    return {
        # Central uncompressed size smaller / larger than the real content.
        "lying_size_small.zip": patch(plain, cd + 24, "<I", 100),
        "lying_size_huge.zip": patch(plain, cd + 24, "<I", 0x70000000),
        "lying_size_4g.zip": patch(plain, cd + 24, "<I", 0xF0000000),
        "flipped_byte.zip": patch(stored, local_data_stored + 3, "<B", ord("X")),
        "truncated_central.zip": plain[: cd + 20] + plain[-22:],
        "size_past_end.zip": patch(plain, cd + 20, "<I", 0x7FFFFF00),
        "offset_past_end.zip": patch(plain, cd + 42, "<I", 0x7FFFFF00),
        "encrypted_flag.zip": patch(stored, cd_stored + 8, "<H", 1),
        "zip64_marker.zip": patch(plain, cd + 20, "<I", 0xFFFFFFFF),
        "unknown_method.zip": patch(patch(stored, cd_stored + 10, "<H", 99), 8, "<H", 99),
        "corrupt_deflate.zip": patch(plain, 30 + len("file.txt"), "<B", 0xFF),
        "not_zip_start.zip": b"XXXX" + plain[4:],
        "dotdot.zip": archive([(info("good.txt"), b"good"), (info("../evil.txt"), b"evil")]),
        "dotdot_inner.zip": archive([(info("a/b/../../../evil.txt"), b"evil")]),
        "absolute.zip": archive([(info("good.txt"), b"good"), (info("/tmp/evil.txt"), b"evil")]),
        "drive.zip": archive([(info("C:/evil.txt"), b"evil")]),
        "backslash_dotdot.zip": archive([(info("good.txt"), b"good"), (info("..\\evil.txt"), b"evil")]),
        "symlink_escape.zip": archive([
            (info("link", mode=0o120777, compress=zipfile.ZIP_STORED), b"../outside"),
            (info("link/evil.txt"), b"evil"),
        ]),
        "symlink_inside.zip": archive([
            (info("dir/", mode=0o40755), b""),
            (info("dir/target.txt"), b"target"),
            (info("link", mode=0o120777, compress=zipfile.ZIP_STORED), b"dir/target.txt"),
        ]),
    }


def friendly():
    return {
        "py_deflated.zip": archive([
            (info("top/", mode=0o40755), b""),
            (info("top/text.txt", mode=0o100640), TEXT),
            (info("top/empty.txt"), b""),
            (info("top/bin.dat", mode=0o100755), bytes(range(256)) * 8),
        ]),
        "py_stored.zip": archive([
            (info("stored.txt", compress=zipfile.ZIP_STORED), b"stored content"),
            (info("deep/er/file.txt", compress=zipfile.ZIP_STORED), b"deep"),
        ]),
        "py_comment.zip": archive([(info("c.txt"), b"commented")], comment=b"An archive comment"),
        "py_long_comment.zip": archive([(info("c.txt"), b"commented")], comment=b"#" * 65535),
        "py_descriptors.zip": with_descriptors(),
        "py_nomode.zip": archive([(info("nomode.txt", mode=0), b"no mode"),
                                  (info("nomodedir/", mode=0), b"")]),
        "py_macosx.zip": archive([
            (info("__MACOSX/._a.txt"), b"resource"),
            (info("a.txt"), b"a"),
            (info("sub/.DS_Store"), b"finder"),
            (info("sub/b.txt"), b"b"),
        ]),
        "py_duplicate.zip": archive([(info("twice.txt"), b"first"), (info("twice.txt"), b"second")]),
        # Its directory may not be written to once it has its mode.
        "py_readonly_dir.zip": archive([(info("ro/", mode=0o40555), b""), (info("ro/f.txt"), b"in")]),
        # Stored, deflated at level 0 (deflating anew would shrink it), a resource fork, two
        # entries of one name and an empty one.
        "py_existing.zip": archive([
            (info("stored.txt", compress=zipfile.ZIP_STORED), b"stored " * 50),
            (info("deep/er/deflated.txt", mode=0o100755), b"deflated " * 500, 0),
            (info("__MACOSX/._stored.txt"), b"fork"),
            (info("twice.txt"), b"first"),
            (info("twice.txt"), b"second"),
            (info("empty.txt"), b""),
        ]),
    }


def main():
    warnings.simplefilter("ignore")  # the duplicate-name archive is meant to have duplicates
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in {**friendly(), **hostile()}.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
