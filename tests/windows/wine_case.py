"""What the Windows test drivers share: sizestamp.exe started with exact
command lines by the launcher, each test in a folder of its own.

A driver is started as  DRIVER LAUNCHER.exe SIZESTAMP.exe [WINE...]
where WINE... is the build's emulator, scripts/wine and the build's prefix,
in a cross build; on a Windows host there is none, and the programs run
directly.
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import FolderCase  # noqa: E402


def windows_path(path):
    """The path as the Windows programs see it: on a Windows host as it is,
    under Wine the Unix path as Wine's drive Z: shows it."""
    if os.name == "nt":
        return os.path.abspath(path)
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineCase(FolderCase):
    launcher = program = None
    emulator = []

    def wine(self, *arguments, display=False):
        """Runs `wine ARGUMENTS` in the test's folder, or ARGUMENTS alone on a
        Windows host; the output goes through files, as Wine's background
        processes may keep a pipe open long after the command has ended."""
        command = [*self.emulator, *(["--display"] if display and self.emulator else []), *arguments]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(command, cwd=self.dir, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=120)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

    def launch(self, mode, lines, display=False):
        """Starts sizestamp.exe once for each command line of lines, through
        the launcher; returns its reports, one per line. In the modes "run"
        and "hidden" a report holds the program's standard output and error
        too."""
        cases = self.path(mode + ".txt")
        with open(cases, "w", encoding="utf-8", newline="\n") as file:
            file.writelines(line + "\n" for line in lines)
        command = [self.launcher, mode, windows_path(self.program), windows_path(cases)]
        if display and self.emulator:
            # A desktop of its own, made now on this display: Wine's default
            # one may have been made without a display by an earlier test.
            command[:0] = ["explorer", "/desktop=sizestamp-test,800x600"]
        result = self.wine(*command, display=display)
        reports = []
        if os.path.exists(cases + ".json"):
            with open(cases + ".json", encoding="utf-8") as file:
                reports = [json.loads(line) for line in file]
        self.assertEqual(len(reports), len(lines), result)
        if mode in ("run", "hidden"):
            for n, report in enumerate(reports):
                for stream in ("out", "err"):
                    with open("%s.%d.%s" % (cases, n, stream), "rb") as file:
                        report[stream] = file.read().decode("utf-8")
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
    unittest.main(argv=sys.argv[:1], verbosity=2)
