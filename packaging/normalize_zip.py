#!/usr/bin/env python3
"""Writes a zip again so that the same files always give the same bytes.

Usage: normalize_zip.py ZIP SOURCE_DATE_EPOCH

A .zip from CPack records the packager's user and group, each file's time and
the files' order on disk. The copy keeps each entry's name and content; it
gives every entry the source date, a mode that depends only on what the
entry is (a folder, a program, another file), no owner, and puts the entries
in name order.
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


if __name__ == "__main__":
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit(__doc__)
    normalize_zip(sys.argv[1], int(sys.argv[2]))
