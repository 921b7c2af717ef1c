"""What the Windows test drivers share: sizestamp.exe or its console twin
sizestampc.exe started with exact command lines by the launcher, each test
in a folder of its own.

A driver is started as  DRIVER LAUNCHER.exe SIZESTAMP.exe [WINE...]
where WINE... is the build's emulator, scripts/wine and the build's prefix,
in a cross build; on a Windows host there is none, and the programs run
directly.
"""
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import COVERAGE_NOISE, FolderCase  # noqa: E402


def windows_path(path):
    """The path as the Windows programs see it: on a Windows host as it is,
    under Wine the Unix path as Wine's drive Z: shows it."""
    if os.name == "nt":
        return os.path.abspath(path)
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineCase(FolderCase):
    launcher = program = None
    emulator = []

    def wine(self, *arguments, display=False, timeout=120, terminal=False):
        """Runs `wine ARGUMENTS` in the test's folder, or ARGUMENTS alone on a
        Windows host; the output goes through files, as Wine's background
        processes may keep a pipe open long after the command has ended. On a
        terminal, the output is what it shows."""
        command = [*self.emulator, *(["--display"] if display and self.emulator else []), *arguments]
        if terminal:
            return self.on_terminal(command, timeout)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(command, cwd=self.dir, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

    def on_terminal(self, command, timeout):
        """Runs command with a terminal for its standard streams; Wine's
        console then is that terminal. Returns the command's result, with
        what the terminal received as its stdout."""
        import fcntl, pty, struct, termios  # POSIX only: Wine's console on a terminal
        main, terminal = pty.openpty()
        # Wide enough that Wine's console breaks no message into screen lines.
        fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 4000, 0, 0))
        process = subprocess.Popen(command, cwd=self.dir, stdin=terminal, stdout=terminal, stderr=terminal)
        os.close(terminal)
        received = b""
        deadline = time.monotonic() + timeout
        try:
            while time.monotonic() < deadline:
                ready, _, _ = select.select([main], [], [], 1)
                if ready:
                    try:
                        piece = os.read(main, 65536)
                    except OSError:  # the terminal's last writer is gone
                        break
                    if not piece:
                        break
                    received += piece
        finally:
            os.close(main)
        return subprocess.CompletedProcess(command, process.wait(timeout=60), received, b"")

    def launch(self, mode, lines, display=False, injections=None):
        """Starts the program once for each command line of lines, through
        the launcher; returns its reports, one per line. In the modes "run",
        "hidden" and "dialogs" a report holds the program's standard output
        and error too ("out", "err"); in the mode "terminal" (Wine only)
        what the terminal showed of each ("terminal"). With injections, one
        plan for each line (launcher.cpp, inject.cpp), each report holds the
        log of the program's calls too ("calls": one list of words per call)."""
        # Files of their own for each launch: Wine may still hold an earlier one's.
        self.launches = getattr(self, "launches", 0) + 1
        cases = self.path("%s-%d.txt" % (mode, self.launches))
        with open(cases, "w", encoding="utf-8", newline="\n") as file:
            file.writelines(line + "\n" for line in lines)
        command = [self.launcher, mode, windows_path(self.program), windows_path(cases)]
        if injections is not None:
            with open(cases + ".inject", "w", encoding="utf-8", newline="\n") as file:
                file.writelines(plan + "\n" for plan in injections)
            command.append(windows_path(cases + ".inject"))
        if display and self.emulator:
            # A desktop of its own, made now on this display: Wine's default
            # one may have been made without a display by an earlier test.
            command[:0] = ["explorer", "/desktop=sizestamp-test,800x600"]
        # The launcher ends a program that runs for more than 20 s.
        result = self.wine(*command, display=display, timeout=60 + 25 * len(lines), terminal=mode == "terminal")
        reports = []
        if os.path.exists(cases + ".json"):
            with open(cases + ".json", encoding="utf-8") as file:
                reports = [json.loads(line) for line in file]
        self.assertEqual(len(reports), len(lines), result)
        if mode == "terminal":
            # Wine's console draws on the terminal with a few escape sequences
            # of its own and ends a line with CR CR LF.
            shown = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", result.stdout.decode("utf-8")).replace("\r\r\n", "\r\n")
            parts = re.split(r"\[case \d+\]\r\n", shown)
            self.assertEqual(len(parts), len(lines) + 1, shown)
            for report, part in zip(reports, parts[1:]):
                report["terminal"] = part
        for n, report in enumerate(reports):
            for stream in ("out", "err"):
                with open("%s.%d.%s" % (cases, n, stream), "rb") as file:
                    report[stream] = COVERAGE_NOISE.sub(b"", file.read()).decode("utf-8", "backslashreplace")
            if injections is not None:
                calls = "%s.%d.calls" % (cases, n)
                self.assertTrue(os.path.exists(calls), "no log of the calls: %r" % report)
                with open(calls, encoding="utf-8") as file:
                    report["calls"] = [line.split() for line in file]
        return reports

    def assert_text(self, text, expected, exact):
        """text is expected, or, when not exact, begins with it (the rest is
        the system's description of an error)."""
        if exact:
            self.assertEqual(text, expected)
        else:
            self.assertTrue(text.startswith(expected), "%r does not begin with %r" % (text, expected))


def main():
    """Runs the driver's tests on the programs its command line names."""
    if len(sys.argv) < 3:
        sys.exit(sys.modules["__main__"].__doc__)
    WineCase.launcher, WineCase.program, *WineCase.emulator = sys.argv[1:]
    # The tests' folders lie in one whose name is not ASCII, as a user's
    # temporary folder may: so is every path the launcher and the programs take.
    WineCase.folder_parent = tempfile.mkdtemp(prefix="sizestamp-größe-文件-")
    try:
        passed = unittest.main(argv=sys.argv[:1], verbosity=2, exit=False).result.wasSuccessful()
    finally:
        shutil.rmtree(WineCase.folder_parent, ignore_errors=True)
    sys.exit(0 if passed else 1)
