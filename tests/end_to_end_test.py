#!/usr/bin/env python3
"""The built program against real files and real processes.

Usage: end_to_end_test.py path/to/sizestamp [unittest arguments]
"""
import collections
import fcntl
import os
import pathlib
import pty
import re
import resource
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from harness import (COVERAGE_NOISE, MEMORY_HUNGRY_ARGUMENTS, SANITIZER_OUT_OF_MEMORY, FolderCase,  # noqa: E402
                     address_space_limits, field, require, unavailable)

PROGRAM = os.path.abspath(sys.argv.pop(1))
NOTHING_WRITTEN = b""
# Names the emulator a cross build's program runs under, for the cases it
# cannot run faithfully.
EMULATOR = os.environ.get("SIZESTAMP_EMULATOR")
# strace as the tests run it; a sanitizer build's leak check cannot run under ptrace.
STRACE = ("env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-qq")


def reachable_by_others(path):
    """Whether a user with no rights of its own may start path: every folder
    above it open to others (root's home is not), and path runnable by them."""
    path = pathlib.Path(os.path.realpath(path))
    return all(os.stat(entry).st_mode & stat.S_IXOTH for entry in (path, *path.parents))


class Case(FolderCase):
    program = PROGRAM

    def run_tool(self, *args, prepare=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE, wrapper=()):
        done = subprocess.run([*wrapper, self.program, *args], cwd=self.dir, stdout=stdout, stderr=stderr,
                              preexec_fn=prepare, timeout=20)
        return done.returncode, done.stdout, done.stderr and COVERAGE_NOISE.sub(b"", done.stderr)

    def lay_out_dead_ends(self):
        os.symlink("missing/t.bin", self.path("dangling"))
        os.symlink(self.path("missing/t.bin"), self.path("absolute"))
        # 40 links, the most Linux follows, the last into a missing folder.
        for n in range(40):
            os.symlink(f"link{n + 1}" if n < 39 else "missing/t.bin", self.path(f"link{n}"))
        os.symlink("loop", self.path("loop"))

    def assert_file_failure(self, name, reason, *args, prepare=None, action=rb"\w+"):
        status, out, err = self.run_tool("/s", "5", "/f", name, *args, prepare=prepare)
        self.assertEqual((status, out), (6, NOTHING_WRITTEN), err)
        self.assertRegex(err, rb'^sizestamp: file failure: cannot ' + action + b' "' + name.encode() + b'": ' + reason + b"\n$")


# Names that lead nowhere (Case.lay_out_dead_ends makes them), and why.
DEAD_ENDS = [("dangling", "No such file or directory"), ("absolute", "No such file or directory"),
             ("link0", "No such file or directory"), ("loop", "Too many levels of symbolic links"),
             ("n" * 300, "File name too long")]


class Outcomes(Case):
    def test_each_exit_status_with_its_exact_output(self):
        os.mkdir(self.path("dir"))
        cases = [
            (["/s", "305419896", "/f", "t.bin"], 0, b"t.bin\nEdited successfully.\n", b""),
            ([], 1, b"", b"Error - Parameters not set\n"),
            (["/s", "5", "/f", '""'], 1, b"", b"Error - Parameters not set\n"),
            (["/s", "4294967296", "/f", "new.bin"], 2, b"", b"Error - File can't exceed 4GB\n"),
            (["/size", "5", "/f", "new.bin"], 3, b"", b'sizestamp: conversion failure: the size "ize 5" is not a number\n'),
            (["/s", "-5", "/f", "new.bin"], 4, b"", b"sizestamp: invalid argument failure: the size -5 is negative\n"),
            (["/s", "-1", "/f", "new.bin"], 4, b"", b"sizestamp: invalid argument failure: the size -1 is negative\n"),
            (["/s", "-2147483650", "/f", "new.bin"], 5, b"", b"sizestamp: overflow failure: the size -2147483650 is negative and too far below zero\n"),
            (["/s", "1.5", "/f", "new.bin"], 4, b"", b"sizestamp: invalid argument failure: the size 1.5 is not a whole number\n"),
            (["/s", "5\x1b\x7f", "/f", "new.bin"], 3, b"", b'sizestamp: conversion failure: the size "5\\x1B\\x7F" is not a number\n'),
            (["/s", "1e999", "/f", "new.bin"], 5, b"", b'sizestamp: overflow failure: the size "1e999" is beyond the range of numbers\n'),
            (["/s", "5", "/f", "dir"], 6, b"", b'sizestamp: file failure: cannot open "dir": it is a directory\n'),
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


    @unittest.skipIf(EMULATOR, "the address-space limit binds the emulator too, whose code buffer alone outgrows it")
    def test_exhausted_memory_is_a_failure_of_its_own_not_an_abort(self):
        # The long argument makes the program's copies of the command line
        # outgrow the address space left. Under the smallest limits the C
        # library's start-up (or the loader) dies before the program runs;
        # above them the program runs out of memory, and above those it
        # succeeds. So from the first memory failure up to the first success
        # every run must be that failure: a crash or an abort there is the
        # program's own.
        failed = []
        for kib, limit in address_space_limits():
            status, out, err = self.run_tool(*MEMORY_HUNGRY_ARGUMENTS, prepare=limit)
            if SANITIZER_OUT_OF_MEMORY in err:
                self.skipTest("the sanitizer runs out of memory itself before the program can")
            if status == 0:
                break
            failed.append((kib, status, out, err, os.path.exists(self.path("a.bin"))))
        else:
            self.fail(f"no limit below 64 MiB let the program succeed; the last run ended {failed[-1][1:]}")
        # An abort is never the start-up's.
        first = next((n for n, run in enumerate(failed) if run[1] in (7, -signal.SIGABRT)), len(failed))
        self.assertLess(first, len(failed), f"no memory failure before the first success; the runs ended {[run[1] for run in failed]}")
        for kib, *outcome in failed[first:]:
            with self.subTest(limit_kib=kib):
                # The file is not created either.
                self.assertEqual(outcome, [7, b"", b"sizestamp: memory failure: out of memory\n", False])

    def test_control_characters_in_the_path_reach_a_terminal_escaped_and_a_pipe_exact(self):
        name = "\x1b[2J\x07.bin"
        main, terminal = pty.openpty()
        self.addCleanup(os.close, main)
        try:
            status = self.run_tool("/s", "5", "/f", name, stdout=terminal)[0]
        finally:
            os.close(terminal)
        self.assertEqual((status, os.read(main, 1000)), (0, b"\\x1B[2J\\x07.bin\r\nEdited successfully.\r\n"))
        self.assertEqual(self.run_tool("/s", "5", "/f", name)[:2], (0, name.encode() + b"\nEdited successfully.\n"))

    def test_what_could_drive_a_terminal_is_escaped_on_one_and_in_every_failure_line(self):
        # name's bytes, then how a terminal and a failure line show them.
        for name, shown in ((b"\xc2\x9b2J.bin", b"\\xC2\\x9B2J.bin"),  # CSI, U+009B
                            (b"\x9b2J.bin", b"\\x9B2J.bin"),  # CSI as a raw byte, no UTF-8
                            (b"\xc4\x9b.bin", b"\xc4\x9b.bin"),  # e with caron ends in 9B: kept
                            (b"\xed\xa0\x80\xff.bin", b"\\xED\\xA0\\x80\\xFF.bin")):
            with self.subTest(name=name):
                main, terminal = pty.openpty()
                self.addCleanup(os.close, main)
                try:
                    status = self.run_tool(b"/s", b"5", b"/f", name, stdout=terminal)[0]
                finally:
                    os.close(terminal)
                self.assertEqual((status, os.read(main, 1000)), (0, shown + b"\r\nEdited successfully.\r\n"))
                self.assertEqual(self.run_tool(b"/s", b"5", b"/f", name)[:2], (0, name + b"\nEdited successfully.\n"))
                os.mkdir(self.path(name.decode(errors="surrogateescape") + "d"))
                self.assertEqual(self.run_tool(b"/s", b"5", b"/f", name + b"d")[::2],
                                 (6, b'sizestamp: file failure: cannot open "' + shown + b'd": it is a directory\n'))

    def test_a_long_failure_line_is_cut_to_go_out_in_one_write(self):
        require("strace")
        trace = self.path("trace")
        status, out, err = self.run_tool("/s", "x" * 6000, "/f", "t.bin",
                                         wrapper=(*STRACE, "-o", trace, "-e", "trace=write"))
        self.assertEqual((status, out, len(err)), (3, b"", 4096))
        self.assertRegex(err, rb'^sizestamp: conversion failure: the size "x{2000,}\[\.\.\.\]x{2000,}" is not a number\n$')
        with open(trace) as f:
            # Writes to other descriptors are a coverage build's own.
            self.assertEqual([line[:8] for line in f if line.startswith(("write(1,", "write(2,"))], ["write(2,"])


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
        os.symlink("created.bin", self.path("dangling"))  # a link to nothing: its target is created
        self.assertEqual((self.run_tool("/s", "3", "/f", "dangling")[0], self.read("created.bin")), (0, bytes(16) + field(3)))

    def set_system_setting(self, name, value):
        """Sets /proc/sys/fs/name to value until the test ends."""
        setting = pathlib.Path("/proc/sys/fs", name)
        try:
            before = setting.read_text()
            setting.write_text(value)
        except OSError as error:
            unavailable(f"cannot set {setting}: {error}")
        self.addCleanup(setting.write_text, before)

    def hold_lease(self, name, gives_up):
        """A read lease on name, as an NFS delegation or a Samba oplock holds;
        on the signal the program's open makes the kernel send, the holder
        gives it up, or keeps it until the kernel breaks it."""
        holder = os.open(self.path(name), os.O_RDONLY)
        self.addCleanup(os.close, holder)
        signals = []

        def on_break(number, _):
            signals.append(number)
            if gives_up:
                fcntl.fcntl(holder, fcntl.F_SETLEASE, fcntl.F_UNLCK)
        self.addCleanup(signal.signal, signal.SIGIO, signal.signal(signal.SIGIO, on_break))
        try:
            fcntl.fcntl(holder, fcntl.F_SETLEASE, fcntl.F_RDLCK)
        except OSError as error:
            unavailable(f"cannot take a lease here: {error}")
        return holder, signals

    def test_files_that_system_settings_guard_are_edited(self):
        # With lease-break-time 0 the kernel never breaks a lease itself.
        for setting, value, held in (("lease-break-time", "0", "given up"), ("lease-break-time", "1", "kept"),
                                     ("protected_regular", "2", "by another user in a sticky folder")):
            with self.subTest(setting=setting, value=value):
                name = f"{setting}{value}.bin"
                content = self.make(name, bytes(range(40)))
                self.set_system_setting(setting, value)
                if setting == "protected_regular":
                    os.chmod(self.dir, 0o1777)
                    os.chown(self.path(name), 65534, 65534)
                    os.chmod(self.path(name), 0o666)
                else:
                    holder, signals = self.hold_lease(name, gives_up=held == "given up")
                self.assertEqual(self.run_tool("/s", "258", "/f", name), (0, name.encode() + b"\nEdited successfully.\n", b""))
                self.assertEqual(self.read(name), content[:16] + field(258) + content[22:])
                if setting != "protected_regular":
                    self.assertEqual((signals, fcntl.fcntl(holder, fcntl.F_GETLEASE)), ([signal.SIGIO], fcntl.F_UNLCK))

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


def file_size_limit(length):
    """Sets a file-size limit of length bytes in the program's process; None
    leaves the limit as it is."""
    return None if length is None else lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (length, length))


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
        for name, reason in (("dir", b"it is a directory"), ("dirlink", b"it is a directory"),
                             ("fifo", b"it is a device or pipe, not a file"), ("null", b"it is a device or pipe, not a file"),
                             ("zero", b"it is a device or pipe, not a file"), ("sock", b"it is a device or pipe, not a file")):
            # A limit that refuses every write changes nothing: what cannot be
            # opened is reported as what it is.
            for limit in (None, 0):
                with self.subTest(name=name, limit=limit):
                    self.assert_file_failure(name, reason, prepare=file_size_limit(limit), action=b"open")

    def test_missing_folder_and_names_that_lead_nowhere(self):
        self.lay_out_dead_ends()
        names = os.listdir(self.dir)
        for name, reason in DEAD_ENDS:
            for limit in (None, 0):
                with self.subTest(name=name[:10], limit=limit):
                    self.assert_file_failure(name, reason.encode(), prepare=file_size_limit(limit), action=b"open")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(names), "a file was created")

    def test_file_size_limit(self):
        content = self.make("small.bin", b"12345")
        limit = file_size_limit(18)
        self.assert_file_failure("small.bin", b"File too large", prepare=limit)
        self.assert_file_failure("new.bin", b"File too large", prepare=limit)
        # A missing file that a link leads to in a folder that is there.
        os.symlink("linked.bin", self.path("link"))
        self.assert_file_failure("link", b"File too large", prepare=limit)
        self.assertEqual(self.read("small.bin"), content)
        self.assertEqual(sorted(os.listdir(self.dir)), ["link", "small.bin"], "a file was created")
        # The field ends at byte 22: a limit of 22 is enough.
        self.assert_file_failure("small.bin", b"File too large", prepare=file_size_limit(21))
        status = self.run_tool("/s", "5", "/f", "small.bin", prepare=file_size_limit(22))[0]
        self.assertEqual((status, self.read("small.bin")), (0, content + bytes(11) + field(5)))

    @unittest.skipUnless(os.geteuid() == 0, "needs root to switch to an unprivileged user")
    def test_permission_denied(self):
        if not reachable_by_others(PROGRAM):
            if EMULATOR:
                unavailable(f"the unprivileged user cannot reach {PROGRAM}: a folder above it is closed to others")
            self.program = shutil.copy2(PROGRAM, self.new_folder(self.addCleanup))
        content = self.make("root.bin", b"r" * 40)
        os.chmod(self.path("root.bin"), 0o644)

        # A file-size limit that refuses the write does not hide the missing permission.
        for limit in (None, 0):
            def unprivileged():
                if limit is not None:
                    file_size_limit(limit)()
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)

            with self.subTest(limit=limit):
                self.assert_file_failure("root.bin", b"Permission denied", prepare=unprivileged, action=b"open")
                self.assert_file_failure("new.bin", b"Permission denied", prepare=unprivileged, action=b"open")
        self.assertEqual(self.read("root.bin"), content)
        self.assertFalse(os.path.exists(self.path("new.bin")), "a file was created")

    def mount_tmpfs(self, options):
        require("mount", "umount")
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "sizestamp-test", self.dir],
                               capture_output=True)
        if mount.returncode != 0:
            unavailable(f"cannot mount a tmpfs here: {mount.stderr.decode().strip()}")
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


def failure_line(action, reason, name="t.bin"):
    return f'sizestamp: file failure: cannot {action} "{name}": {reason}\n'.encode()


EDIT = ("/s", "305419896", "/f", "t.bin")
REFUSE = ("/s", "5", "/f", "dir")
BEFORE = b"x" * 30
EDITED = BEFORE[:16] + field(305419896) + BEFORE[22:]
EDITED_OUT = b"t.bin\nEdited successfully.\n"
REFUSED_ERR = failure_line("open", "it is a directory", "dir")
LONG_DIR = "d" * 250
# A failure line longer than the buffer the report is written through.
REFUSE_LONG = ("/s", "5", "/f", LONG_DIR)


def limit(length):
    """strace's poke_exit data that makes the call that asks for the
    file-size limit answer length (rlim_cur, rlim_max), while the real limit
    stays as it is. @limit stands for the argument the answer goes to."""
    return "poke_exit=@limit=" + length.to_bytes(8, "little").hex() * 2


# prlimit64(pid, resource, new, old) or getrlimit(resource, old)
LIMIT_ARGUMENT = {"prlimit64": "@arg4", "getrlimit": "@arg2", "ugetrlimit": "@arg2"}


# What the program asks the system for, the system calls that may carry each
# request (C libraries and architectures choose differently), and what follows
# the call's name on its line in a trace ({file}: the descriptor the target
# was last opened as).
REQUESTS = {
    "name status": (("newfstatat", "fstatat64", "statx", "stat", "stat64"), r'(?:AT_FDCWD, )?"t\.bin"'),
    "name look": (("newfstatat", "fstatat64", "statx", "stat", "stat64", "openat", "open"), r'(?:AT_FDCWD, )?"t\.bin"'),
    "open": (("openat", "open"), r'(?:AT_FDCWD, )?"t\.bin"'),
    "reopen": (("openat", "open"), r'(?:AT_FDCWD, )?"/proc/self/fd/\d+"'),
    "create": (("openat", "open"), r'(?:AT_FDCWD, )?"new\.bin", [^,]*O_EXCL'),
    "open file status": (("fstat", "fstat64", "newfstatat", "fstatat64", "statx"), r'{file}(?:, "")?,'),
    "file-size limit": (("prlimit64", "getrlimit", "ugetrlimit"), r"(?:0, RLIMIT_FSIZE, NULL|RLIMIT_FSIZE), \{"),
    "field write": (("pwrite64", "pwrite"), r"{file},"),
    "flush": (("fsync", "fdatasync"), r"{file}\)"),
    "close": (("close",), r"{file}\)"),
    "stdout": (("write",), r"1,"),
    "stderr": (("write",), r"2,"),
}

# request, what strace makes of its call, command, then exit status, standard
# error, standard output and the file's bytes afterwards. A row that makes
# several calls fail has a tuple of requests and one of faults. A fault
# reaches its request's first call, or as many calls of that name from there
# as its calls= says (all: every one; 3/2: three, every second one).
FAULTS = [
    *[("open", f"error={errno}", EDIT, 6, failure_line("open", reason), b"", BEFORE)
      for errno, reason in (("EIO", "Input/output error"), ("ENOSPC", "No space left on device"),
                            ("EDQUOT", "Disk quota exceeded"), ("EROFS", "Read-only file system"))],
    ("open", "error=EINTR", EDIT, 0, b"", EDITED_OUT, EDITED),
    # A name that appeared since it was found missing is looked at again;
    # one that keeps changing is given up.
    ("open", "error=ENOENT", EDIT, 0, b"", EDITED_OUT, EDITED),
    ("create", "error=EEXIST:calls=3/2", ("/s", "5", "/f", "new.bin"), 6, failure_line("open", "its name kept changing while it was being opened", "new.bin"), b"", BEFORE),
    ("reopen", "error=EROFS", EDIT, 6, failure_line("open", "Read-only file system"), b"", BEFORE),
    # Without /proc the name is opened as it was checked, and a failed look
    # there leaves the verdict to the open itself.
    ("reopen", "error=ENOENT", EDIT, 0, b"", EDITED_OUT, EDITED),
    (("reopen", "name status"), ("error=ENOENT", "error=EIO"), EDIT, 0, b"", EDITED_OUT, EDITED),
    ("open file status", "error=EIO", EDIT, 6, failure_line("open", "Input/output error"), b"", BEFORE),
    # Without the limit the write itself would say EFBIG; a faked small limit is refused up front.
    ("file-size limit", "error=EINVAL", EDIT, 0, b"", EDITED_OUT, EDITED),
    ("file-size limit", limit(21), EDIT, 6, failure_line("write", "File too large"), b"", BEFORE),
    ("file-size limit", limit(22), EDIT, 0, b"", EDITED_OUT, EDITED),
    # Under a limit that refuses the write, what cannot be created is reported as such.
    *[("file-size limit", limit(0), ("/s", "5", "/f", name), 6, failure_line("open", reason, name), b"", BEFORE)
      for name, reason in DEAD_ENDS if reason == "No such file or directory"],
    ("file-size limit", limit(0), ("/s", "5", "/f", "new.bin"), 6, failure_line("write", "File too large", "new.bin"), b"", BEFORE),
    *[("field write", f"error={errno}", EDIT, 6, failure_line("write", reason), b"", BEFORE)
      for errno, reason in (("EIO", "Input/output error"), ("ENOSPC", "No space left on device"),
                            ("EDQUOT", "Disk quota exceeded"), ("EFBIG", "File too large"),
                            ("EAGAIN", "Resource temporarily unavailable"))],
    ("field write", "error=EINTR", EDIT, 0, b"", EDITED_OUT, EDITED),
    # A short write: the faked call wrote nothing, the retry writes the rest where it belongs.
    ("field write", "retval=3", EDIT, 0, b"", EDITED_OUT, BEFORE[:19] + field(305419896)[3:] + BEFORE[22:]),
    ("field write", "retval=0", EDIT, 6, failure_line("write", "Input/output error"), b"", BEFORE),
    # After the write the field may be in the file already; success is never reported.
    *[("flush", f"error={errno}", EDIT, 6, failure_line("flush", reason), b"", EDITED)
      for errno, reason in (("EIO", "Input/output error"), ("ENOSPC", "No space left on device"),
                            ("EDQUOT", "Disk quota exceeded"), ("EROFS", "Read-only file system"))],
    ("flush", "error=EINTR", EDIT, 0, b"", EDITED_OUT, EDITED),
    # A failed close is not retried: on Linux the descriptor is gone whatever it returns.
    *[("close", f"error={errno}", EDIT, 6, failure_line("close", reason), b"", EDITED)
      for errno, reason in (("EIO", "Input/output error"), ("ENOSPC", "No space left on device"),
                            ("EDQUOT", "Disk quota exceeded"), ("EINTR", "Interrupted system call"))],
    # A message that cannot be delivered never changes the outcome.
    *[("stdout", f"error={errno}", EDIT, 0, b"", b"", EDITED) for errno in ("EIO", "ENOSPC", "EAGAIN")],
    ("stdout", "error=EINTR", EDIT, 0, b"", EDITED_OUT, EDITED),
    ("stdout", "retval=5", EDIT, 0, b"", EDITED_OUT[5:], EDITED),
    ("stdout", "retval=0", EDIT, 0, b"", b"", EDITED),
    *[("stderr", f"error={errno}", REFUSE, 6, b"", b"", BEFORE) for errno in ("EIO", "ENOSPC", "EAGAIN")],
    ("stderr", "error=EINTR", REFUSE, 6, REFUSED_ERR, b"", BEFORE),
    ("stderr", "retval=10", REFUSE, 6, REFUSED_ERR[10:], b"", BEFORE),
    ("stderr", "retval=0", REFUSE, 6, b"", b"", BEFORE),
    # Once a piece of the line is lost, the rest is not sent.
    ("stderr", "error=EIO", REFUSE_LONG, 6, b"", b"", BEFORE),
    ("stderr", "error=EINTR", REFUSE_LONG, 6, failure_line("open", "it is a directory", LONG_DIR), b"", BEFORE),
]


class FaultInjection(Case):
    """Each request the file service and the messages make of the system,
    made to fail in the real program by strace."""

    def setUp(self):
        super().setUp()
        require("strace")
        self.strace = STRACE
        os.mkdir(self.path("dir"))
        os.mkdir(self.path(LONG_DIR))
        self.lay_out_dead_ends()

    def first_call(self, command, request, injected):
        """The system call that carries the request in a run of command with
        the strace options injected, and which call of that name it is."""
        self.make("t.bin", BEFORE)
        trace = self.path("trace")
        names = set(os.listdir(self.dir)) | {"trace"}
        subprocess.run([*self.strace, "-o", trace, *injected, PROGRAM, *command],
                       cwd=self.dir, capture_output=True, timeout=20, check=False)
        with open(trace) as f:
            lines = f.read().splitlines()
        # What this run created must not be there for the case's own run.
        for name in set(os.listdir(self.dir)) - names:
            os.remove(self.path(name))

        def line_pattern(request, **descriptors):
            calls, arguments = REQUESTS[request]
            for name, number in descriptors.items():
                arguments = arguments.replace("{" + name + "}", number)
            return rf"({'|'.join(calls)})\(" + arguments

        # The descriptor a request's call is made on is the one the target was
        # last opened as: the loader's calls on the same number come before.
        file, counts = None, collections.Counter()
        for line in lines:
            call = line.split("(", 1)[0]
            counts[call] += 1
            if ("{file}" not in REQUESTS[request][1] or file) and re.match(line_pattern(request, file=file or ""), line):
                return call, counts[call]
            opened = re.match(rf"(?:{line_pattern('open')}|{line_pattern('reopen')}).* = (?P<fd>\d+)$", line)
            file = opened["fd"] if opened else file
        self.fail(f"no call for {request} in the trace:\n" + "\n".join(lines))

    def test_each_failure_ends_as_the_call_can_end(self):
        for requests, faults, command, status, err, out, content in FAULTS:
            with self.subTest(requests=requests, faults=faults):
                if isinstance(requests, str):
                    requests, faults = (requests,), (faults,)
                # Each fault is placed at its request's first call in a run
                # with the faults before it, each at its first call only.
                at_first, injected, meant = [], [], collections.Counter()
                for request, fault in zip(requests, faults):
                    call, when = self.first_call(command, request, at_first)
                    fault = fault.replace("@limit", LIMIT_ARGUMENT.get(call, "@limit"))
                    fault, _, calls = fault.partition(":calls=")
                    calls, _, step = calls.partition("/")
                    at_first += ["-e", f"inject={call}:{fault}:when={when}"]
                    # How many calls the trace must show tampered with ("all": more than one).
                    meant[call] += int(calls) if calls.isdigit() else 1 + (calls == "all")
                    if calls:  # strace's when= for a range of calls, or for every one from the first
                        calls = "+" if calls == "all" else f"..{when + (int(calls) - 1) * int(step or 1)}"
                        calls += f"+{step}" if step else ""
                    injected += ["-e", f"inject={call}:{fault}:when={when}{calls}"]
                self.make("t.bin", BEFORE)
                trace = self.path("injected")
                names = set(os.listdir(self.dir)) | {"injected"}
                wrapper = (*self.strace, "-o", trace, *injected)
                self.assertEqual(self.run_tool(*command, wrapper=wrapper), (status, out, err))
                self.assertEqual(self.read("t.bin"), content)
                self.assertLessEqual(set(os.listdir(self.dir)), names, "a file was created")
                with open(trace) as f:
                    marked = collections.Counter(line.split("(", 1)[0] for line in f if re.search(r"\(INJECTED[^)]*\)$", line))
                self.assertGreaterEqual(marked, meant, "strace did not reach the calls meant")

    def test_a_name_swapped_after_its_check_for_a_link_to_a_fifo_is_not_opened(self):
        # The program's first look at the name is held up (the type check of
        # a program that checks the name, the O_PATH open of one that checks
        # what that holds); meanwhile the name becomes a link to a FIFO that a
        # reader waits on. Poll reports a hang-up once a writer has come and gone.
        os.mkfifo(self.path("fifo"))
        call, when = self.first_call(EDIT, "name look", [])
        for existing, outcome in ((True, (0, EDITED_OUT, b"")), (False, (6, b"", failure_line("open", "it is a device or pipe, not a file")))):
            with self.subTest(existing=existing):
                os.remove(self.path("t.bin"))
                if existing:
                    self.make("kept.bin", BEFORE)
                    os.link(self.path("kept.bin"), self.path("t.bin"))
                reader = os.open(self.path("fifo"), os.O_RDONLY | os.O_NONBLOCK)
                self.addCleanup(os.close, reader)
                held = f"held-{existing}"
                program = subprocess.Popen([*self.strace, "-o", self.path(held), "-e", f"inject={call}:delay_exit=3s:when={when}", PROGRAM, *EDIT],
                                           cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                while program.poll() is None and not (os.path.exists(self.path(held)) and b"(DELAYED)" in self.read(held)):
                    time.sleep(0.01)
                os.symlink("fifo", self.path("swap"))
                os.rename(self.path("swap"), self.path("t.bin"))
                self.assertTrue(self.read(held).rstrip(b"\n").endswith(b"(DELAYED)"), "the program went on before the swap")
                out, err = program.communicate(timeout=20)
                released = select.poll()
                released.register(reader, select.POLLIN)
                self.assertEqual(released.poll(0), [], "the reader was released")
                self.assertEqual((program.returncode, out, COVERAGE_NOISE.sub(b"", err)), outcome)
                if existing:
                    self.assertEqual(self.read("kept.bin"), EDITED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
