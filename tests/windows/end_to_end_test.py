"""sizestamp.exe or its console twin sizestampc.exe under Wine with exact
command lines: exit statuses, the messages on the standard streams (no
display, so no box: the two programs write the same texts), and the bytes of
the target files.

usage: end_to_end_test.py LAUNCHER.exe PROGRAM.exe [WINE...]
       (WINE...: the build's emulator, scripts/wine and its Wine prefix;
       none on a Windows host)
"""
import ctypes
import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from wine_case import WineCase, main, windows_path  # noqa: E402
from harness import PATTERN, field  # noqa: E402


def edited(path):
    return ("out", path + "\r\nEdited successfully.\r\n")


PARAMETERS = ("err", "Error - Parameters not set\r\n")


class CommandLines(WineCase):
    """Each case: the command line as the program receives it ({B}: the
    program's path, bare; {D}: the test's folder), the exit status, the one stream written and its
    text (a failure's text only begins so), then the files that must be there
    afterwards (None: absent)."""

    def setUp(self):
        super().setUp()
        os.mkdir(self.path("data"))
        self.make("data/target.bin", PATTERN)
        self.make("short.bin", PATTERN[:10])

    def check(self, cases):
        lines = [line.replace("{B}", windows_path(self.program)).replace("{D}", windows_path(self.dir))
                 for line, *_ in cases]
        reports = self.launch("run", lines)
        for (line, status, (stream, text), files), report in zip(cases, reports):
            with self.subTest(line=line):
                self.assertEqual(report.get("status"), status, report)
                self.assert_text(report[stream], text.replace("{D}", windows_path(self.dir)), exact=status in (0, 1, 2))
                self.assertEqual(report["err" if stream == "out" else "out"], "")
                for name, content in files.items():  # in hexadecimal, to show where they differ
                    held = self.read(name).hex(" ") if os.path.isfile(self.path(name)) else None
                    self.assertEqual(held, None if content is None else content.hex(" "), name)

    def test_edits(self):
        self.check([
            ('"C:\\Program Files\\sizestamp\\sizestamp.exe" /s 305419896 /f "my file".bin', 0,
             edited("my file.bin"), {"my file.bin": bytes(16) + field(0x12345678)}),
            ("{B}\t \t/s 1/f data\\target.bin", 0, edited("data\\target.bin"),
             {"data/target.bin": PATTERN[:16] + field(1) + PATTERN[22:]}),
            ("{B} /f short.bin /s 4294967295   ", 0, edited("short.bin"),
             {"short.bin": PATTERN[:10] + bytes(6) + field(0xFFFFFFFF)}),
            ("{B} /s 65536 /f größe 文件 😀.bin", 0, edited("größe 文件 😀.bin"),
             {"größe 文件 😀.bin": bytes(16) + field(65536)}),
            # The system's own namespace reaches a file on a drive too.
            ("{B} /s 7 /f \\??\\{D}\\nt.bin", 0, edited("\\??\\{D}\\nt.bin"), {"nt.bin": bytes(16) + field(7)}),
        ])

    def test_program_name_never_reaches_the_tail(self):
        # " s1 " would make a size, and an unterminated quote swallows the whole line.
        self.check([
            ('"C:\\my s1 dir\\sizestamp.exe" /f q.bin', 1, PARAMETERS, {"q.bin": None}),
            ('C:\\"my s1 dir"\\sizestamp.exe /f q.bin', 1, PARAMETERS, {"q.bin": None}),
            ('"{B} /s 5 /f q.bin', 1, PARAMETERS, {"q.bin": None}),
        ])

    def test_no_parameters(self):
        self.check([
            ("", 1, PARAMETERS, {}),
            ("{B}", 1, PARAMETERS, {}),
            ("{B} \t ", 1, PARAMETERS, {}),
        ])

    def test_refused_sizes(self):
        self.check([
            ("{B} /s 4294967296 /f big.bin", 2, ("err", "Error - File can't exceed 4GB\r\n"), {"big.bin": None}),
            ("{B} /s 5 x /f c.bin", 3, ("err", 'sizestamp: conversion failure: the size "5 x"'), {"c.bin": None}),
            ("{B} /s -5 /f c.bin", 4, ("err", "sizestamp: invalid argument failure: "), {"c.bin": None}),
            ("{B} /s 1e999 /f c.bin", 5, ("err", "sizestamp: overflow failure: "), {"c.bin": None}),
        ])

    def test_file_failures(self):
        def cannot_open(name, reason=""):
            return ("err", 'sizestamp: file failure: cannot open "%s": %s' % (name, reason))

        device = "it is a device or pipe, not a file"
        self.check([
            ("{B} /s 5 /f NUL", 6, cannot_open("NUL"), {}),
            ("{B} /s 5 /f CON", 6, cannot_open("CON"), {}),
            # Prefixes that reach devices, volumes and pipes are refused before any open.
            ("{B} /s 5 /f \\\\?\\NUL", 6, cannot_open("\\\\?\\NUL", device), {}),
            ("{B} /s 5 /f \\\\?\\CONOUT$", 6, cannot_open("\\\\?\\CONOUT$", device), {}),
            ("{B} /s 5 /f \\\\?\\C:", 6, cannot_open("\\\\?\\C:", device), {}),
            ("{B} /s 5 /f \\\\localhost\\pipe\\x", 6, cannot_open("\\\\localhost\\pipe\\x", device), {}),
            ("{B} /s 5 /f \\??\\GLOBALROOT\\Device\\Null", 6, cannot_open("\\??\\GLOBALROOT\\Device\\Null", device), {}),
            ("{B} /s 5 /f \\??\\C:", 6, cannot_open("\\??\\C:", device), {}),
            ("{B} /s 5 /f \\\\localhost\\mailslot\\x", 6, cannot_open("\\\\localhost\\mailslot\\x", device), {}),
            # A long s, whose upper case is S.
            ("{B} /s 5 /f \\\\localhost\\MAILſLOT\\x", 6, cannot_open("\\\\localhost\\MAILſLOT\\x", device), {}),
            # No drive and no volume by its GUID: the object namespace's own names.
            ("{B} /s 5 /f \\\\?\\1:\\x", 6, cannot_open("\\\\?\\1:\\x", device), {}),
            ("{B} /s 5 /f \\\\?\\Volume{0123456z-89ab-cdef-0123-456789abcdef}\\x", 6,
             cannot_open("\\\\?\\Volume{0123456z-89ab-cdef-0123-456789abcdef}\\x", device), {}),
            # A server without a share names no pipe: the open itself fails.
            ("{B} /s 5 /f \\\\localhost", 6, cannot_open("\\\\localhost"), {}),
            ("{B} /s 5 /f data", 6, cannot_open("data"), {}),
            # The tail keeps its trailing tab, which is no blank to trim: no such name.
            ("{B} /s 5 /f tab.bin\t", 6, cannot_open("tab.bin\\x09"), {"tab.bin": None}),
            ("{B} /s 5 /f missing\\x.bin", 6, cannot_open("missing\\x.bin"), {"missing": None}),
        ])

    def test_paths_on_a_volume(self):
        # Wine serves no volume by its GUID: such a path reaches the open,
        # where the system does not find it (injection_test.py counts the open).
        volume = "\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}"
        no_file = "it is a device or pipe, not a file"
        drive = windows_path(self.dir)[:2]

        def refused(path, reason=no_file):
            return ("err", 'sizestamp: file failure: cannot open "%s": %s' % (path, reason))

        self.check([
            ("{B} /s 9 /f \\\\.\\{D}\\data\\target.bin", 0, edited("\\\\.\\{D}\\data\\target.bin"),
             {"data/target.bin": PATTERN[:16] + field(9) + PATTERN[22:]}),
            ("{B} /s 9 /f \\\\?\\{D}\\q.bin", 0, edited("\\\\?\\{D}\\q.bin"), {"q.bin": bytes(16) + field(9)}),
            ("{B} /s 9 /f %s\\dir\\f.bin" % volume, 6, refused(volume + "\\dir\\f.bin", ""), {}),
            # The volume itself, raw or its root, is refused before any open.
            *[("{B} /s 9 /f " + path, 6, refused(path), {})
              for path in ("\\\\.\\" + drive, "\\\\.\\%s\\" % drive, volume, volume + "\\")],
        ])

    def test_paths_longer_than_max_path(self):
        # Through \\?\ a path may be as long as the file system takes. Without
        # it Windows takes one longer than MAX_PATH only where long paths are
        # enabled (LongPathsEnabled) and the program's manifest declares
        # itself long-path aware, as both programs' do.
        folder = "/".join(["long"] + ["d" * 100] * 3)
        # The test itself reaches them on Windows through \\?\ too.
        local = folder if self.emulator else "\\\\?\\" + os.path.abspath(self.path(folder))
        os.makedirs(self.path(local))
        full = "{D}\\" + folder.replace("/", "\\") + "\\"
        self.assertGreater(len(full.replace("{D}", windows_path(self.dir))), 260)
        if self.long_paths_enabled():
            plain = (0, edited(full + "plain.bin"), bytes(16) + field(7))
        else:
            plain = (6, ("err", 'sizestamp: file failure: cannot open "%splain.bin": ' % full), None)
        self.check([
            ("{B} /s 9 /f \\\\?\\%sprefixed.bin" % full, 0, edited("\\\\?\\%sprefixed.bin" % full),
             {os.path.join(local, "prefixed.bin"): bytes(16) + field(9)}),
            ("{B} /s 7 /f %splain.bin" % full, plain[0], plain[1], {os.path.join(local, "plain.bin"): plain[2]}),
        ])

    def long_paths_enabled(self):
        """Whether the programs may open a path longer than MAX_PATH without
        \\?\\: Wine takes such paths whatever its registry says, Windows only
        with LongPathsEnabled set."""
        if self.emulator:
            return True
        import winreg  # Windows only
        try:
            with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, r"SYSTEM\CurrentControlSet\Control\FileSystem") as key:
                return winreg.QueryValueEx(key, "LongPathsEnabled")[0] == 1
        except OSError:
            return False

    def test_a_console_shows_every_character_and_escapes_what_could_drive_it(self):
        # Wine's console is the terminal the launcher runs on; it writes a
        # pair of surrogates as two characters, so the names keep to the BMP.
        if not self.emulator:
            self.skipTest("a terminal for Wine's console; the hosted workflow runs the real shells")
        # A message longer than the 1,024 units the program converts at a
        # time, cut first inside a character of two bytes.
        folder = "\\".join(["x" + "ö" * 120] + ["ö" * 120] * 8)
        os.makedirs(self.path(folder.replace("\\", "/")))
        long_name = folder + "\\long.bin"
        self.assertGreater(len(long_name), 1024)
        self.assertEqual(long_name.encode()[1024] & 0xC0, 0x80, "not cut inside a character")
        cases = [("größe 文件.bin", re.escape("größe 文件.bin\r\nEdited successfully.\r\n")),
                 ("c\u009b.bin", re.escape("c\\x9B.bin\r\nEdited successfully.\r\n")),
                 # No file name holds a tab: the system's words for that follow.
                 ("tab\x09.bin", re.escape('sizestamp: file failure: cannot open "tab\\x09.bin": ') + r"[^\r\n]+\r\n"),
                 (long_name, re.escape(long_name + "\r\nEdited successfully.\r\n"))]
        reports = self.launch("terminal", ["sizestamp.exe /s 5 /f " + name for name, _ in cases])
        for (name, shown), report in zip(cases, reports):
            with self.subTest(name=name[:40]):
                self.assertRegex(report["terminal"], "^%s$" % shown, report)
        self.assertEqual(self.read("größe 文件.bin"), bytes(16) + field(5))
        self.assertEqual(self.read(long_name.replace("\\", "/")), bytes(16) + field(5))

    def test_cmd_ends_with_the_programs_status(self):
        # cmd waits for either program; only on Windows does an interactive
        # cmd leave a GUI program running (README.txt).
        self.make("target.bin", PATTERN)
        for tail, status in (("/s 5 /f target.bin", 0), ("/s 4294967296 /f target.bin", 2), ("/s x /f target.bin", 3)):
            with self.subTest(tail=tail):
                done = self.wine("cmd", "/c", "%s %s" % (windows_path(self.program), tail))
                self.assertEqual(done.returncode, status, done)
        self.assertEqual(self.read("target.bin"), PATTERN[:16] + field(5) + PATTERN[22:])

    def test_decimal_separator_is_the_users(self):
        self.addCleanup(self.set_decimal_separator, self.set_decimal_separator(","))
        self.check([
            ("{B} /s 2,5e1 /f comma.bin", 0, edited("comma.bin"), {"comma.bin": bytes(16) + field(25)}),
            ("{B} /s 2.5 /f point.bin", 3, ("err", "sizestamp: conversion failure: "), {"point.bin": None}),
        ])

    def test_a_longer_separator_falls_back_to_the_point(self):
        self.addCleanup(self.set_decimal_separator, self.set_decimal_separator(",,"))
        self.check([
            ("{B} /s 2.5e1 /f point.bin", 0, edited("point.bin"), {"point.bin": bytes(16) + field(25)}),
            ("{B} /s 2,,5e1 /f commas.bin", 3, ("err", "sizestamp: conversion failure: "), {"commas.bin": None}),
        ])

    def set_decimal_separator(self, separator):
        """Makes separator the user's decimal separator; returns the one
        before. Wine's prefix is the build's own. On a Windows host it is the
        user's setting, changed the way the Region settings change it."""
        if not self.emulator:
            locale_user_default, locale_sdecimal = 0x400, 0xE
            kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
            before = ctypes.create_unicode_buffer(8)
            self.assertGreater(kernel32.GetLocaleInfoW(locale_user_default, locale_sdecimal, before, 8), 0,
                               ctypes.get_last_error())
            self.assertTrue(kernel32.SetLocaleInfoW(locale_user_default, locale_sdecimal, separator),
                            ctypes.get_last_error())
            return before.value
        done = self.wine("reg", "add", r"HKCU\Control Panel\International", "/v", "sDecimal", "/d", separator, "/f")
        self.assertEqual(done.returncode, 0, done)
        return "."


class PipeNames(WineCase):
    """Every spelling of a named pipe is refused before any open: a server
    waiting on the pipe never sees a client."""

    SPELLINGS = ["\\??\\pipe\\{}", "\\??\\PIPE\\{}", "\\??\\GLOBALROOT\\Device\\NamedPipe\\{}",
                 "\\\\?\\GLOBALROOT\\device\\namedpipe\\{}", "\\\\?\\pipe\\{}", "\\\\.\\pipe\\{}",
                 "\\\\localhost\\PiPe\\{}", "\\??\\UNC\\localhost\\pipe\\{}",
                 "\\\\?\\unc\\localhost\\pipe\\{}",
                 # Windows compares names by their upper case, and a dotless i's is I.
                 "\\\\localhost\\pıpe\\{}", "\\\\?\\unc\\localhost\\PıPE\\{}"]

    def serve(self, names):
        """Starts the pipe server on names; returns a function that stops it
        and gives its verdict for each name."""
        server = os.path.join(os.path.dirname(self.launcher), "windows_pipe_server.exe")
        report, stop = self.path("pipes.txt"), self.path("stop")
        process = subprocess.Popen([*self.emulator, server, windows_path(report), windows_path(stop), *names],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not os.path.exists(report) and time.monotonic() < deadline and process.poll() is None:
            time.sleep(0.1)
        self.assertTrue(os.path.exists(report), "the pipe server did not start")

        def verdicts():
            self.make("stop", b"")
            process.wait(timeout=60)
            with open(report) as file:
                return dict(line.split() for line in file)
        return verdicts

    def test_a_waiting_server_sees_no_client(self):
        names = ["sizestamp-%d-%d" % (os.getpid(), n) for n in range(len(self.SPELLINGS))]
        paths = [spelling.format(name) for spelling, name in zip(self.SPELLINGS, names)]
        verdicts = self.serve(names)
        reports = self.launch("run", ["%s /s 5 /f %s" % (windows_path(self.program), path) for path in paths])
        clients = verdicts()
        for path, name, report in zip(paths, names, reports):
            with self.subTest(path=path):
                self.assertEqual(report["status"], 6, report)
                self.assert_text(report["err"], 'sizestamp: file failure: cannot open "%s": it is a device or pipe, not a file' % path,
                                 exact=False)
                self.assertEqual(clients[name], "none")


if __name__ == "__main__":
    main()
