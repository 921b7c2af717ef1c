#!/usr/bin/env python3
"""The built program against real files and real processes.

Usage: end_to_end_test.py path/to/sizestamp [unittest arguments]
"""
import os
import re
import resource
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv.pop(1))
NOTHING_WRITTEN = b""
# A coverage build complains on standard error when it cannot save its counts:
# under a small file-size limit, or as a user who may not write them.
COVERAGE_NOISE = re.compile(rb"^(?:libgcov )?profiling(?: error)?:.*\n", re.MULTILINE)


def field(size):
    return b"\0\0" + size.to_bytes(4, "little")


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="sizestamp-")
        os.chmod(self.dir, 0o755)  # the unprivileged run must reach it
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def make(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content)
        return content

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def run_tool(self, *args, prepare=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE):
        done = subprocess.run([PROGRAM, *args], cwd=self.dir, stdout=stdout, stderr=stderr,
                              preexec_fn=prepare, timeout=20)
        return done.returncode, done.stdout, done.stderr and COVERAGE_NOISE.sub(b"", done.stderr)

    def assert_file_failure(self, name, reason, *args, prepare=None):
        status, out, err = self.run_tool("/s", "5", "/f", name, *args, prepare=prepare)
        self.assertEqual((status, out), (6, NOTHING_WRITTEN), err)
        self.assertRegex(err, rb'^sizestamp: file failure: cannot \w+ "' + name.encode() + b'": ' + reason + b"\n$")


class Outcomes(Case):
    def test_each_exit_status_with_its_exact_output(self):
        os.mkdir(self.path("dir"))
        cases = [
            (["/s", "305419896", "/f", "t.bin"], 0, b"t.bin\nEdited successfully.\n", b""),
            ([], 1, b"", b"Error - Parameters not set\n"),
            (["/s", "5", "/f", '""'], 1, b"", b"Error - Parameters not set\n"),
            (["/s", "4294967296", "/f", "new.bin"], 2, b"", b"Error - File can't exceed 4GB\n"),
            (["/size", "5", "/f", "new.bin"], 3, b"", b'sizestamp: conversion failure: the size "ize 5" is not a number\n'),
            (["/s", "-5", "/f", "new.bin"], 4, b"", b"sizestamp: invalid argument failure: the size -5 has no hexadecimal digit at position -4\n"),
            (["/s", "1.5", "/f", "new.bin"], 4, b"", b"sizestamp: invalid argument failure: the size 1.5 is not a whole number\n"),
            (["/s", "5\x1b\x7f", "/f", "new.bin"], 3, b"", b'sizestamp: conversion failure: the size "5\\x1B\\x7F" is not a number\n'),
            (["/s", "1e999", "/f", "new.bin"], 5, b"", b'sizestamp: overflow failure: the size "1e999" is beyond the range of numbers\n'),
            (["/s", "5", "/f", "dir"], 6, b"", b'sizestamp: file failure: cannot open "dir": Is a directory\n'),
        ]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_tool(*args), (status, out, err))
        self.assertFalse(os.path.exists(self.path("new.bin")), "a refused size created the file")

    def test_message_lost_on_a_closed_pipe_or_full_device_does_not_change_the_outcome(self):
        reader, writer = os.pipe()
        os.close(reader)
        full = os.open("/dev/full", os.O_WRONLY)
        os.mkdir(self.path("dir"))
        for size, name, stdout, stderr, status in (("7", "t.bin", writer, None, 0), ("8", "t.bin", full, None, 0),
                                                   ("4294967296", "t.bin", None, full, 2), ("9", "dir", None, writer, 6)):
            self.assertEqual(self.run_tool("/s", size, "/f", name, stdout=stdout, stderr=stderr)[0], status)
        self.assertEqual(self.read("t.bin"), bytes(16) + field(8))
        os.close(writer)
        os.close(full)

    def test_command_tail_keeps_argument_bytes(self):
        name = b"\xff\xfe caf\xc3\xa9.bin"
        status, out, _ = self.run_tool(b"/s", b"258", b"/f", name)
        self.assertEqual((status, out), (0, name + b"\nEdited successfully.\n"))
        with open(os.path.join(self.dir.encode(), name), "rb") as f:
            self.assertEqual(f.read(), bytes(16) + field(258))
        self.assertEqual(self.run_tool(b"/s", b"5", b"/f", b"c\r\nd.bin")[1], b"c\r\nd.bin\nEdited successfully.\n")
        self.assertEqual(self.run_tool('/f "my file".bin /s 9')[0], 0)
        self.assertEqual(self.read("my file.bin"), bytes(16) + field(9))


class FieldBytes(Case):
    def test_only_the_field_changes(self):
        long_content = bytes(range(256)) * 4
        cases = [  # name, content before, size, content after
            ("short", b"0123456789", 1, b"0123456789" + bytes(6) + field(1)),
            ("exact16", b"A" * 16, 0x12345678, b"A" * 16 + field(0x12345678)),
            ("exact22", b"B" * 22, 256, b"B" * 16 + field(256)),
            ("long", long_content, 0xFFFFFFFF, long_content[:16] + field(0xFFFFFFFF) + long_content[22:]),
            ("empty", b"", 255, bytes(16) + field(255)),
        ]
        for name, before, size, after in cases:
            with self.subTest(name=name):
                self.make(name, before)
                self.assertEqual(self.run_tool("/s", str(size), "/f", name)[0], 0)
                self.assertEqual(self.read(name), after)

    def test_second_run_overwrites_only_the_field(self):
        content = self.make("t.bin", os.urandom(100))
        for size in (4096, 4097):
            self.assertEqual(self.run_tool("/s", str(size), "/f", "t.bin")[0], 0)
        self.assertEqual(self.read("t.bin"), content[:16] + field(4097) + content[22:])

    def test_missing_file_is_created_with_mode_from_umask(self):
        for umask, mode in ((0o022, 0o644), (0o077, 0o600)):
            with self.subTest(umask=oct(umask)):
                name = f"new{umask:o}.bin"
                self.assertEqual(self.run_tool("/s", "65535", "/f", name, prepare=lambda: os.umask(umask))[0], 0)
                self.assertEqual(self.read(name), bytes(16) + field(65535))
                self.assertEqual(stat.S_IMODE(os.stat(self.path(name)).st_mode), mode)

    def test_symbolic_link_target_is_edited_in_place(self):
        self.make("real.bin", b"x" * 30)
        os.chmod(self.path("real.bin"), 0o640)
        before = os.stat(self.path("real.bin"))
        os.symlink("real.bin", self.path("link"))
        self.assertEqual(self.run_tool("/s", "3", "/f", "link")[0], 0)
        after = os.stat(self.path("real.bin"))
        self.assertEqual((after.st_ino, after.st_mode), (before.st_ino, before.st_mode))
        self.assertTrue(os.path.islink(self.path("link")))
        self.assertEqual(self.read("real.bin"), b"x" * 16 + field(3) + b"x" * 8)

    def test_sparse_five_gib_target_is_neither_read_nor_grown(self):
        length = 5 << 30
        with open(self.path("big"), "wb") as f:
            f.truncate(length)
        self.assertEqual(self.run_tool("/s", "305419896", "/f", "big")[0], 0)
        info = os.stat(self.path("big"))
        self.assertEqual(info.st_size, length)
        self.assertLess(info.st_blocks * 512, 1 << 20, "the file was filled in")
        with open(self.path("big"), "rb") as f:
            self.assertEqual(f.read(32), bytes(16) + field(305419896) + bytes(10))


class FileFailures(Case):
    """Each ends in a file failure with a report, and nothing is written."""

    def test_targets_that_are_not_regular_files(self):
        os.mkdir(self.path("dir"))
        os.mkfifo(self.path("fifo"))  # no reader: opening it for writing would block
        os.symlink("/dev/null", self.path("null"))
        os.symlink("/dev/zero", self.path("zero"))
        os.symlink("dir", self.path("dirlink"))
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(self.path("sock"))
        self.addCleanup(listener.close)
        for name, reason in (("dir", b"Is a directory"), ("dirlink", b"Is a directory"),
                             ("fifo", b"not a regular file"), ("null", b"not a regular file"),
                             ("zero", b"not a regular file"), ("sock", b"not a regular file")):
            with self.subTest(name=name):
                self.assert_file_failure(name, reason)

    def test_missing_folder_and_overlong_name(self):
        os.symlink("missing/t.bin", self.path("dangling"))
        self.assert_file_failure("dangling", b"No such file or directory")
        self.assert_file_failure("n" * 300, b"File name too long")

    def test_file_size_limit(self):
        content = self.make("small.bin", b"12345")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (18, 18))
        self.assert_file_failure("small.bin", b"File too large", prepare=limit)
        self.assert_file_failure("new.bin", b"File too large", prepare=limit)
        self.assertEqual(self.read("small.bin"), content)
        self.assertFalse(os.path.exists(self.path("new.bin")))
        # The field ends at byte 22: a limit of 22 is enough.
        self.assert_file_failure("small.bin", b"File too large", prepare=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (21, 21)))
        status = self.run_tool("/s", "5", "/f", "small.bin", prepare=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (22, 22)))[0]
        self.assertEqual((status, self.read("small.bin")), (0, content + bytes(11) + field(5)))

    @unittest.skipUnless(os.geteuid() == 0, "needs root to switch to an unprivileged user")
    def test_permission_denied(self):
        content = self.make("root.bin", b"r" * 40)
        os.chmod(self.path("root.bin"), 0o644)

        def unprivileged():
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)

        self.assert_file_failure("root.bin", b"Permission denied", prepare=unprivileged)
        self.assert_file_failure("new.bin", b"Permission denied", prepare=unprivileged)
        self.assertEqual(self.read("root.bin"), content)

    def mount_tmpfs(self, options):
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "sizestamp-test", self.dir],
                               capture_output=True)
        if mount.returncode != 0:
            self.skipTest(f"cannot mount a tmpfs here: {mount.stderr.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", self.dir])

    def test_read_only_file_system(self):
        self.mount_tmpfs("size=64k")
        content = self.make("t.bin", b"q" * 30)
        subprocess.run(["mount", "-o", "remount,ro", self.dir], check=True)
        self.assert_file_failure("t.bin", b"Read-only file system")
        self.assert_file_failure("new.bin", b"Read-only file system")
        self.assertEqual(self.read("t.bin"), content)

    def test_full_file_system(self):
        self.mount_tmpfs("size=64k")
        filler = os.open(self.path("filler"), os.O_WRONLY | os.O_CREAT)
        self.addCleanup(os.close, filler)
        with self.assertRaises(OSError):
            while True:
                os.write(filler, b"\1" * 4096)
        self.make("empty.bin", b"")
        self.assert_file_failure("empty.bin", b"No space left on device")
        self.assertEqual(self.read("empty.bin"), b"")


if __name__ == "__main__":
    unittest.main(verbosity=2)
