#!/usr/bin/env python3
"""Writes a package again so that the same files always give the same bytes.

Usage: normalize_package.py PACKAGE SOURCE_DATE_EPOCH

A .zip from CPack records the packager's user and group, each file's time and
the files' order on disk. The copy keeps each entry's name and content; it
gives every entry the source date, a mode that depends only on what the
entry is (a folder, a program, another file), no owner, and puts the entries
in name order.

A .deb from CPack carries its three members with the permissions the
packager's umask gave them; they become those of a package built by dpkg.
"""
import os
import sys
import time
import zipfile

EARLIEST_ZIP_TIME = 315532800  # 1980-01-01, the first time a zip entry can hold


def zip_mode(name):
    if name.endswith("/"):
        return 0o040755
    return 0o100755 if name.lower().endswith(".exe") else 0o100644


def normalize_zip(path, epoch):
    stamp = time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6]
    with zipfile.ZipFile(path) as source:
        entries = [(info.filename, source.read(info)) for info in source.infolist()]
    temporary = path + ".normalizing"
    with zipfile.ZipFile(temporary, "w") as target:
        for name, data in sorted(entries):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3  # Unix, so that unzip applies the mode
            info.external_attr = zip_mode(name) << 16 | (0x10 if name.endswith("/") else 0)
            info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)
    os.replace(temporary, path)


def normalize_deb(path, epoch):
    """Sets each ar member header's time, owner and mode as dpkg-deb does."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:8] != b"!<arch>\n":
        raise SystemExit(f"{path} is not an ar archive")
    at = 8
    while at < len(data):
        header = data[at:at + 60]
        if len(header) != 60 or header[58:60] != b"`\n":
            raise SystemExit(f"{path}: a damaged member header at byte {at}")
        size = int(header[48:58])
        data[at + 16:at + 48] = b"%-12d%-6d%-6d%-8s" % (epoch, 0, 0, b"100644")
        at += 60 + size + size % 2
    with open(path, "r+b") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit(__doc__)
    package, date = sys.argv[1], int(sys.argv[2])
    {".zip": normalize_zip, ".deb": normalize_deb}[os.path.splitext(package)[1]](package, date)
